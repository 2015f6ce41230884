#include "Platform/ApplicationIndex.h"

#include "Platform/ProcessTable.h"

#include <QFileInfo>
#include <QSet>

#include <pulse/proplist.h>

#include <algorithm>

namespace {

// Folders that hold programs of many applications: an application's own folder is never one of them.
bool isSharedFolder(const QString &dir)
{
    static const QSet<QString> shared {
        QStringLiteral("/"),
        QStringLiteral("/usr"),
        QStringLiteral("/usr/lib"),
        QStringLiteral("/usr/lib64"),
        QStringLiteral("/usr/libexec"),
        QStringLiteral("/usr/local"),
        QStringLiteral("/usr/local/lib"),
        QStringLiteral("/usr/share"),
        QStringLiteral("/opt"),
        QStringLiteral("/app"),
        QStringLiteral("/snap"),
        QStringLiteral("/tmp"),
    };
    const QString name = QFileInfo(dir).fileName();
    return dir.isEmpty() || shared.contains(dir) || name == QLatin1String("bin")
        || name == QLatin1String("sbin") || name == QLatin1String("games")
        || dir.startsWith(QLatin1String("/usr/lib/") + QLatin1String("x86_64"))
        || dir.startsWith(QLatin1String("/usr/lib/aarch64"))
        || dir.startsWith(QLatin1String("/usr/lib/i386"));
}

bool isInterpreter(const QString &program)
{
    static const QStringList prefixes { QStringLiteral("python"), QStringLiteral("perl"),
        QStringLiteral("ruby"), QStringLiteral("node"), QStringLiteral("bash"), QStringLiteral("dash"),
        QStringLiteral("sh"), QStringLiteral("gjs"), QStringLiteral("java") };
    const QString name = QFileInfo(program).fileName();
    return std::any_of(
        prefixes.cbegin(), prefixes.cend(), [&](const QString &p) { return name.startsWith(p); });
}

QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

} // namespace

ApplicationIndex::ApplicationIndex()
{
    for (const DesktopEntry &entry : DesktopEntries::all()) {
        m_byID.insert(entry.id, entry);
        if (!entry.program.isEmpty()) {
            m_byProgram.insert(entry.program, entry.id);
            m_byBinary.insert(QFileInfo(entry.program).fileName(), entry.id);
            const QString folder = QFileInfo(entry.program).path();
            if (!isSharedFolder(folder))
                m_installFolders.insert(entry.id, folder);
        }
        if (!entry.flatpakID.isEmpty())
            m_byFlatpak.insert(entry.flatpakID, entry.id);
        if (!entry.name.isEmpty())
            m_byName.insert(entry.name.toCaseFolded(), entry.id);
    }
}

const DesktopEntry *ApplicationIndex::entry(const QString &id) const
{
    const auto it = m_byID.constFind(id);
    return it == m_byID.cend() ? nullptr : &*it;
}

QList<DesktopEntry> ApplicationIndex::entries() const
{
    return m_byID.values();
}

bool ApplicationIndex::isInsideFolder(const QString &executable, const QString &folder)
{
    return !folder.isEmpty() && !executable.isEmpty() && executable.startsWith(folder + QLatin1Char('/'));
}

QStringList ApplicationIndex::idsForAppID(const QString &appID) const
{
    QStringList ids = m_byFlatpak.values(appID);
    if (!ids.contains(appID))
        ids.prepend(appID); // an id names the application even when no .desktop file says so
    return ids;
}

QStringList ApplicationIndex::idsForProcess(qint64 pid) const
{
    if (pid <= 0)
        return {};
    if (const QString flatpak = ProcessTable::flatpakAppID(pid); !flatpak.isEmpty())
        return idsForAppID(flatpak);
    const auto launchedPid = ProcessTable::environmentValue(pid, "GIO_LAUNCHED_DESKTOP_FILE_PID");
    if (launchedPid && launchedPid->toLongLong() == pid) {
        if (const auto file = ProcessTable::environmentValue(pid, "GIO_LAUNCHED_DESKTOP_FILE"))
            return { DesktopEntries::idForPath(*file) };
    }
    const QString executable = ProcessTable::executablePath(pid);
    if (executable.isEmpty())
        return {};
    QStringList ids = m_byProgram.values(executable); // the kernel gives it resolved
    if (ids.isEmpty() && isInterpreter(executable)) {
        const QStringList arguments = ProcessTable::commandLine(pid);
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            if (arguments.at(i).isEmpty() || arguments.at(i).startsWith(QLatin1Char('-')))
                continue;
            ids = m_byProgram.values(canonical(arguments.at(i)));
            break;
        }
    }
    if (ids.isEmpty()) {
        for (auto it = m_installFolders.cbegin(); it != m_installFolders.cend(); ++it) {
            if (isInsideFolder(executable, it.value()))
                ids << it.key();
        }
    }
    ids.removeDuplicates();
    return ids;
}

QStringList ApplicationIndex::idsForStream(const QMap<QString, QString> &properties) const
{
    for (const char *key :
        { PA_PROP_APPLICATION_ID, "pipewire.access.portal.app_id", "application.flatpak.id" }) {
        const QString appID = properties.value(QString::fromLatin1(key));
        if (!appID.isEmpty() && (m_byID.contains(appID) || m_byFlatpak.contains(appID)))
            return idsForAppID(appID);
    }
    const QString binary = properties.value(QStringLiteral(PA_PROP_APPLICATION_PROCESS_BINARY));
    if (!binary.isEmpty()) {
        if (QStringList ids = m_byBinary.values(binary); !ids.isEmpty())
            return ids;
    }
    const QString name = properties.value(QStringLiteral(PA_PROP_APPLICATION_NAME));
    if (!name.isEmpty())
        return m_byName.values(name.toCaseFolded());
    return {};
}

qint64 ApplicationIndex::processIDOfStream(const QMap<QString, QString> &properties)
{
    bool ok = false;
    const qint64 pid = properties.value(QStringLiteral(PA_PROP_APPLICATION_PROCESS_ID)).toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}
