#include "Audio/AudioCaptureApps.h"

#include "Documents/AppPaths.h"
#include "Platform/DesktopEntries.h"
#include "Platform/ProcessTable.h"
#include "Platform/PulseConnection.h"
#include "Rules/AudioOthersSelection.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMultiHash>

#include <algorithm>

namespace AudioCaptureApps {

namespace {

const QString processIDKey = QStringLiteral(PA_PROP_APPLICATION_PROCESS_ID);

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

bool inFamily(const QStringList &ids, const QString &primary)
{
    return std::any_of(ids.cbegin(), ids.cend(),
        [&](const QString &id) { return AudioOthersSelection::belongsToFamily(id, primary); });
}

// The installed applications, indexed the ways a process or a stream may be recognised.
class AppIndex
{
public:
    AppIndex()
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

    const DesktopEntry *entry(const QString &id) const
    {
        const auto it = m_byID.constFind(id);
        return it == m_byID.cend() ? nullptr : &*it;
    }
    QList<DesktopEntry> entries() const { return m_byID.values(); }
    QString installFolder(const QString &id) const { return m_installFolders.value(id); }

    bool isInsideFolder(const QString &executable, const QString &folder) const
    {
        return !folder.isEmpty() && !executable.isEmpty() && executable.startsWith(folder + QLatin1Char('/'));
    }

    QStringList idsForAppID(const QString &appID) const
    {
        QStringList ids = m_byFlatpak.values(appID);
        if (!ids.contains(appID))
            ids.prepend(appID); // an id names the application even when no .desktop file says so
        return ids;
    }

    // What a process is: from its sandbox, its launcher's note, the program it runs or the script
    // an interpreter runs, else the install folder it lies in.
    QStringList idsForProcess(qint64 pid) const
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

    // What a sound stream or client says it is: its application id, else its program, else its name.
    QStringList idsForStream(const PulseProperties &properties) const
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

private:
    QHash<QString, DesktopEntry> m_byID;
    QMultiHash<QString, QString> m_byProgram;
    QMultiHash<QString, QString> m_byBinary;
    QMultiHash<QString, QString> m_byFlatpak;
    QMultiHash<QString, QString> m_byName;
    QHash<QString, QString> m_installFolders;
};

struct RunningProcess
{
    qint64 pid = 0;
    QStringList ids;
    QString executable;
};

struct RunningSnapshot
{
    QList<RunningProcess> processes; // every process; ids empty for those no application claims
    QHash<qint64, qint64> parents;
    QList<RunningProcess> soundClients; // clients of the sound server, by what they say they are
};

RunningSnapshot takeSnapshot(const AppIndex &index)
{
    RunningSnapshot snapshot;
    for (qint64 pid : ProcessTable::allProcessIDs()) {
        if (const auto parent = ProcessTable::parentOf(pid))
            snapshot.parents.insert(pid, *parent);
        snapshot.processes.append({ pid, index.idsForProcess(pid), ProcessTable::executablePath(pid) });
    }
    if (PulseConnection::serverConfigured()) {
        if (auto connection
            = PulseConnection::open(QStringLiteral("Quorvel apps"), std::chrono::milliseconds(500))) {
            for (const PulseClientInfo &client : connection->clients().value_or(QList<PulseClientInfo> {})) {
                const qint64 pid = client.properties.value(processIDKey).toLongLong();
                snapshot.soundClients.append({ pid, index.idsForStream(client.properties), {} });
            }
        }
    }
    return snapshot;
}

bool familyRuns(const RunningSnapshot &snapshot, const QString &bundleID)
{
    if (bundleID.isEmpty())
        return false;
    for (const auto *list : { &snapshot.processes, &snapshot.soundClients }) {
        for (const RunningProcess &process : *list) {
            if (inFamily(process.ids, bundleID))
                return true;
        }
    }
    return false;
}

std::optional<AudioCaptureApp> appFromEntry(
    const DesktopEntry &entry, const std::optional<QString> &fallbackName)
{
    QString name = entry.name;
    if (name.isEmpty())
        name = fallbackName.value_or(QString());
    if (name.isEmpty())
        name = entry.id;
    return AudioCaptureApp { entry.id, name, entry.iconName };
}

bool offered(const DesktopEntry &entry)
{
    return !entry.hidden && !entry.noDisplay && entry.id != ownBundleID()
        && !AudioOthersCatalog::isExcluded(entry.id, entry.name);
}

} // namespace

QString ownBundleID()
{
    return QLatin1String(AppPaths::bundleIdentifier);
}

std::optional<AudioCaptureApp> app(const QString &bundleID, const std::optional<QString> &fallbackName)
{
    const auto entry = DesktopEntries::find(bundleID);
    if (!entry)
        return std::nullopt;
    return appFromEntry(*entry, fallbackName);
}

std::optional<AudioCaptureApp> appFromDesktopFile(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (resolved.isEmpty())
        return std::nullopt;
    auto entry = DesktopEntries::fromFile(resolved);
    if (!entry || entry->hidden)
        return std::nullopt;
    // The id comes from where the user found the file, which may be a link into another folder.
    entry->id = DesktopEntries::idForPath(QFileInfo(path).absoluteFilePath());
    if (entry->id.isEmpty() || entry->id == ownBundleID())
        return std::nullopt;
    if (entry->name.isEmpty())
        entry->name = QFileInfo(path).completeBaseName();
    return appFromEntry(*entry, std::nullopt);
}

QString displayName(const QString &bundleID, const std::optional<QString> &stored)
{
    if (stored && !stored->isEmpty())
        return *stored;
    if (const auto found = app(bundleID))
        return found->name;
    return bundleID;
}

bool isFamilyRunning(const QString &bundleID)
{
    if (bundleID.isEmpty())
        return false;
    const AppIndex index;
    return familyRuns(takeSnapshot(index), bundleID);
}

std::optional<ProcessTapRequest> tapRequest(
    const QString &bundleID, const std::optional<QString> &storedDisplayName)
{
    if (bundleID.isEmpty())
        return std::nullopt;
    const AppIndex index;
    const RunningSnapshot snapshot = takeSnapshot(index);
    if (!familyRuns(snapshot, bundleID))
        return std::nullopt;

    QSet<qint64> exact;
    QSet<qint64> pids;
    QSet<QString> bundleIDs { bundleID };
    const QString folder = index.installFolder(bundleID);
    for (const RunningProcess &process : snapshot.processes) {
        if (process.ids.contains(bundleID))
            exact.insert(process.pid);
        if (inFamily(process.ids, bundleID) || index.isInsideFolder(process.executable, folder))
            pids.insert(process.pid);
        for (const QString &id : process.ids) {
            if (AudioOthersSelection::belongsToFamily(id, bundleID))
                bundleIDs.insert(id);
        }
    }
    for (const RunningProcess &client : snapshot.soundClients) {
        if (!inFamily(client.ids, bundleID))
            continue;
        if (client.pid > 0) {
            pids.insert(client.pid);
            if (client.ids.contains(bundleID))
                exact.insert(client.pid);
        }
        for (const QString &id : client.ids) {
            if (AudioOthersSelection::belongsToFamily(id, bundleID))
                bundleIDs.insert(id);
        }
    }
    pids.unite(ProcessTable::descendants(exact, snapshot.parents));

    ProcessTapRequest request;
    request.primaryBundleID = bundleID;
    request.processIDs = QList<qint64>(pids.cbegin(), pids.cend());
    std::sort(request.processIDs.begin(), request.processIDs.end());
    request.bundleIDs = QStringList(bundleIDs.cbegin(), bundleIDs.cend());
    request.bundleIDs.sort();
    request.displayName = displayName(bundleID, storedDisplayName);
    return request;
}

QList<qint64> applicationProcessIDs(const QString &bundleID)
{
    if (bundleID.isEmpty())
        return {};
    const AppIndex index;
    const RunningSnapshot snapshot = takeSnapshot(index);
    QSet<qint64> candidates;
    for (const RunningProcess &process : snapshot.processes) {
        if (process.ids.contains(bundleID))
            candidates.insert(process.pid);
    }
    for (const RunningProcess &client : snapshot.soundClients) {
        if (client.pid > 0 && client.ids.contains(bundleID))
            candidates.insert(client.pid);
    }
    // A process started by another process of the same application is one of its helpers.
    QList<qint64> roots;
    for (qint64 pid : candidates) {
        if (!candidates.contains(snapshot.parents.value(pid, 0)))
            roots.append(pid);
    }
    std::sort(roots.begin(), roots.end());
    return roots;
}

QList<AudioCaptureApp> listedApps()
{
    const AppIndex index;
    QHash<QString, AudioCaptureApp> listed;
    const QList<DesktopEntry> entries = index.entries();

    for (const QString &scheme : AudioOthersCatalog::discoverySchemes()) {
        const QString mime = QStringLiteral("x-scheme-handler/") + scheme;
        for (const DesktopEntry &entry : entries) {
            if (entry.mimeTypes.contains(mime) && offered(entry))
                listed.insert(entry.id, *appFromEntry(entry, std::nullopt));
        }
    }
    for (const AudioOthersCatalogApp &known : AudioOthersCatalog::knownApps()) {
        const DesktopEntry *entry = index.entry(known.bundleID);
        if (entry && offered(*entry))
            listed.insert(entry->id, *appFromEntry(*entry, known.fallbackName));
    }

    // Applications playing sound now, by what their streams say or by the process behind them.
    const QStringList installed = listed.keys();
    if (PulseConnection::serverConfigured()) {
        if (auto connection
            = PulseConnection::open(QStringLiteral("Quorvel apps"), std::chrono::milliseconds(500))) {
            for (const PulsePlaybackInfo &playback :
                connection->playbacks().value_or(QList<PulsePlaybackInfo> {})) {
                if (playback.corked)
                    continue;
                QStringList candidates = index.idsForStream(playback.properties);
                qint64 pid = playback.properties.value(processIDKey).toLongLong();
                for (int depth = 0; candidates.isEmpty() && pid > 1 && depth < 8; ++depth) {
                    candidates = index.idsForProcess(pid);
                    pid = ProcessTable::parentOf(pid).value_or(0);
                }
                for (const QString &candidate : candidates) {
                    QString primary = AudioOthersCatalog::preferredPrimaryBundleID(candidate, installed)
                                          .value_or(candidate);
                    const DesktopEntry *entry = index.entry(primary);
                    if (entry && offered(*entry))
                        listed.insert(entry->id, *appFromEntry(*entry, std::nullopt));
                }
            }
        }
    }

    QList<AudioCaptureApp> apps = listed.values();
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(apps.begin(), apps.end(),
        [](const AudioCaptureApp &a, const AudioCaptureApp &b) { return a.bundleID < b.bundleID; });
    std::stable_sort(apps.begin(), apps.end(), [&](const AudioCaptureApp &a, const AudioCaptureApp &b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return apps;
}

struct Family::Data
{
    AppIndex index;
    QString primary;
    QSet<qint64> pids;
    QStringList ids;
    QString folder;
};

Family::Family(const ProcessTapRequest &request)
    : d(std::make_unique<Data>())
{
    d->primary = request.primaryBundleID;
    d->pids = QSet<qint64>(request.processIDs.cbegin(), request.processIDs.cend());
    d->ids = request.bundleIDs;
    if (!d->ids.contains(d->primary))
        d->ids << d->primary;
    d->folder = d->index.installFolder(d->primary);
}

Family::~Family() = default;
Family::Family(Family &&) noexcept = default;
Family &Family::operator=(Family &&) noexcept = default;

bool Family::contains(const QMap<QString, QString> &streamProperties) const
{
    if (d->primary.isEmpty())
        return false;
    const auto claims = [&](const QStringList &ids) {
        return std::any_of(ids.cbegin(), ids.cend(), [&](const QString &id) {
            return d->ids.contains(id) || AudioOthersSelection::belongsToFamily(id, d->primary);
        });
    };
    if (claims(d->index.idsForStream(streamProperties)))
        return true;
    bool ok = false;
    const qint64 pid = streamProperties.value(processIDKey).toLongLong(&ok);
    if (!ok || pid <= 0)
        return false;
    // Processes started after the request was made: children of the family, new instances, or
    // programs from the application's own folder.
    return d->pids.contains(pid) || ProcessTable::descendsFrom(pid, d->pids)
        || claims(d->index.idsForProcess(pid))
        || d->index.isInsideFolder(ProcessTable::executablePath(pid), d->folder);
}

} // namespace AudioCaptureApps
