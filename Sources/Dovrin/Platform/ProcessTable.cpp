#include "Platform/ProcessTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <unistd.h>

namespace ProcessTable {

namespace {

QString procPath(qint64 pid, const char *entry)
{
    return QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(entry));
}

// Plain system calls: /proc files are read for every process on every query, and QFile's
// buffering costs more than the read itself here.
QByteArray readSmallFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray content;
    char chunk[4096];
    while (content.size() < (1 << 20)) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        content.append(chunk, qsizetype(got));
    }
    ::close(fd);
    return content;
}

// The fields of /proc/<pid>/stat from the third (the state) on. The command name in field 2 may hold
// spaces and parentheses: the fields after it follow the last ')'.
QList<QByteArray> statFieldsAfterName(qint64 pid)
{
    const QByteArray stat = readSmallFile(procPath(pid, "stat"));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 2).split(' ');
}

std::optional<qint64> statNumber(qint64 pid, int field)
{
    const QList<QByteArray> fields = statFieldsAfterName(pid);
    const qsizetype index = field - 3;
    if (index >= fields.size())
        return std::nullopt;
    bool ok = false;
    const qint64 value = fields.at(index).toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

QList<qint64> allProcessIDs()
{
    QList<qint64> pids;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (ok && pid > 0)
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::optional<qint64> parentOf(qint64 pid)
{
    return statNumber(pid, 4);
}

std::optional<qint64> startTime(qint64 pid)
{
    return statNumber(pid, 22);
}

QHash<qint64, qint64> parents()
{
    QHash<qint64, qint64> result;
    for (qint64 pid : allProcessIDs()) {
        if (const auto parent = parentOf(pid))
            result.insert(pid, *parent);
    }
    return result;
}

QString executablePath(qint64 pid)
{
    QString target = QFile::symLinkTarget(procPath(pid, "exe"));
    if (target.endsWith(QLatin1String(" (deleted)")))
        target.chop(10);
    return target;
}

QStringList commandLine(qint64 pid)
{
    QByteArray raw = readSmallFile(procPath(pid, "cmdline"));
    if (raw.isEmpty())
        return {};
    if (raw.endsWith('\0'))
        raw.chop(1);
    QStringList arguments;
    for (const QByteArray &argument : raw.split('\0'))
        arguments.append(QString::fromLocal8Bit(argument));
    return arguments;
}

std::optional<QString> environmentValue(qint64 pid, const QByteArray &name)
{
    const QByteArray prefix = name + '=';
    const QByteArray raw = readSmallFile(procPath(pid, "environ"));
    for (const QByteArray &entry : raw.split('\0')) {
        if (entry.startsWith(prefix))
            return QString::fromLocal8Bit(entry.mid(prefix.size()));
    }
    return std::nullopt;
}

QString flatpakAppID(qint64 pid)
{
    const QString info = procPath(pid, "root") + QStringLiteral("/.flatpak-info");
    if (!QFileInfo(info).isFile())
        return {};
    QSettings settings(info, QSettings::IniFormat);
    return settings.value(QStringLiteral("Application/name")).toString();
}

QSet<qint64> descendants(const QSet<qint64> &roots, const QHash<qint64, qint64> &parents)
{
    QSet<qint64> result = roots;
    if (roots.isEmpty())
        return result;
    // Memoised walk up the tree: each process is decided once, whatever the depth.
    QHash<qint64, bool> decided;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        QList<qint64> chain;
        qint64 current = it.key();
        bool inside = false;
        while (true) {
            if (result.contains(current)) {
                inside = true;
                break;
            }
            if (const auto known = decided.constFind(current); known != decided.cend()) {
                inside = *known;
                break;
            }
            const auto parent = parents.constFind(current);
            if (parent == parents.cend() || *parent == current || *parent <= 0
                || chain.size() > parents.size())
                break;
            chain.append(current);
            current = *parent;
        }
        for (qint64 pid : chain) {
            decided.insert(pid, inside);
            if (inside)
                result.insert(pid);
        }
    }
    return result;
}

bool descendsFrom(qint64 pid, const QSet<qint64> &ancestors)
{
    qint64 current = pid;
    for (int depth = 0; depth < 4096 && current > 0; ++depth) {
        if (ancestors.contains(current))
            return true;
        const auto parent = parentOf(current);
        if (!parent || *parent == current)
            return false;
        current = *parent;
    }
    return false;
}

} // namespace ProcessTable
