#include "Platform/AutostartEntry.h"

#include "Documents/AtomicFile.h"
#include "Platform/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString quoteArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return quoted;
}

QString escapeString(const QString &value)
{
    QString escaped;
    for (const QChar c : value) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

QString unescapeString(const QString &value)
{
    QString plain;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            plain += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == u's')
            plain += u' ';
        else if (next == u'n')
            plain += u'\n';
        else if (next == u't')
            plain += u'\t';
        else if (next == u'r')
            plain += u'\r';
        else if (next == u'\\')
            plain += u'\\';
        else
            plain += QString(c) + next;
    }
    return plain;
}

bool sameFile(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

bool isFalse(const QString &value)
{
    return value.trimmed().compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
}

bool isTrue(const QString &value)
{
    return value.trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

AutostartEntry::AutostartEntry(const QString &configHome, const QString &desktopId)
    : m_folder(QDir(configHome).filePath(QStringLiteral("autostart")))
    , m_desktopId(desktopId)
{ }

QString AutostartEntry::filePath() const
{
    return QDir(m_folder).filePath(m_desktopId + QStringLiteral(".desktop"));
}

AutostartEntry::State AutostartEntry::state(const QString &executablePath) const
{
    // Only the main group counts; actions and other groups may repeat its keys.
    const auto group = DesktopEntries::mainGroup(filePath());
    if (!group)
        return State::absent;
    const auto exec = group->constFind(QStringLiteral("Exec"));
    const std::optional<QStringList> command = exec != group->cend() ? parseExecValue(*exec) : std::nullopt;
    if (!command || command->isEmpty() || !sameFile(command->first(), executablePath))
        return State::absent;
    const bool hidden = isTrue(group->value(QStringLiteral("Hidden")));
    const bool switchedOff = isFalse(group->value(QStringLiteral("X-GNOME-Autostart-enabled")));
    return hidden || switchedOff ? State::disabled : State::enabled;
}

bool AutostartEntry::write(const QString &executablePath, const QString &name, QString *error) const
{
    // What runs at login must not be changeable by others, whatever the umask: 0755 and 0644 at most.
    if (AtomicFile::makeDirectories(m_folder, 0755) != 0) {
        if (error)
            *error = QStringLiteral("The autostart folder %1 could not be created.").arg(m_folder);
        return false;
    }
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(escapeString(name), execValue({ executablePath }));
    int code = 0;
    const AtomicFile::Descriptor folder = AtomicFile::openDirectory(m_folder, &code);
    if (folder.isValid())
        code = AtomicFile::writeReplacing(
            folder.get(), QFile::encodeName(QFileInfo(filePath()).fileName()), text.toUtf8(), 0644);
    if (code != 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(filePath(), qt_error_string(code));
        return false;
    }
    return true;
}

bool AutostartEntry::remove(QString *error) const
{
    QFile file(filePath());
    if (!file.exists() || file.remove())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

QString AutostartEntry::execValue(const QStringList &command)
{
    QStringList quoted;
    for (const QString &argument : command)
        quoted << quoteArgument(argument).replace(u'%', QStringLiteral("%%"));
    return escapeString(quoted.join(u' '));
}

std::optional<QStringList> AutostartEntry::parseExecValue(const QString &value)
{
    const QString plain = unescapeString(value);
    QStringList command;
    qsizetype i = 0;
    while (i < plain.size()) {
        if (plain.at(i) == u' ' || plain.at(i) == u'\t') {
            ++i;
            continue;
        }
        QString argument;
        if (plain.at(i) == u'"') {
            ++i;
            bool closed = false;
            while (i < plain.size()) {
                const QChar c = plain.at(i++);
                if (c == u'"') {
                    closed = true;
                    break;
                }
                if (c == u'\\' && i < plain.size())
                    argument += plain.at(i++);
                else
                    argument += c;
            }
            if (!closed)
                return std::nullopt;
        } else {
            while (i < plain.size() && plain.at(i) != u' ' && plain.at(i) != u'\t')
                argument += plain.at(i++);
        }
        command << argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return command;
}
