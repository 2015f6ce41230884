#include "Audio/AudioCaptureApps.h"

#include "Documents/AppPaths.h"
#include "Platform/ApplicationIndex.h"
#include "Platform/DesktopEntries.h"
#include "Platform/ProcessTable.h"
#include "Platform/SoundServer.h"
#include "Rules/AudioOthersSelection.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMultiHash>

#include <algorithm>

namespace AudioCaptureApps {

namespace {

bool inFamily(const QStringList &ids, const QString &primary)
{
    return std::any_of(ids.cbegin(), ids.cend(),
        [&](const QString &id) { return AudioOthersSelection::belongsToFamily(id, primary); });
}

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

RunningSnapshot takeSnapshot(const ApplicationIndex &index)
{
    RunningSnapshot snapshot;
    for (qint64 pid : ProcessTable::allProcessIDs()) {
        if (const auto parent = ProcessTable::parentOf(pid))
            snapshot.parents.insert(pid, *parent);
        snapshot.processes.append({ pid, index.idsForProcess(pid), ProcessTable::executablePath(pid) });
    }
    for (const SoundServer::Peer &client : SoundServer::clients())
        snapshot.soundClients.append({ client.processID, index.idsForStream(client.properties), {} });
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
    const ApplicationIndex index;
    return familyRuns(takeSnapshot(index), bundleID);
}

std::optional<ProcessTapRequest> tapRequest(
    const QString &bundleID, const std::optional<QString> &storedDisplayName)
{
    if (bundleID.isEmpty())
        return std::nullopt;
    const ApplicationIndex index;
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
    const ApplicationIndex index;
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
    const ApplicationIndex index;
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
    for (const SoundServer::Peer &playback : SoundServer::playbacks()) {
        if (playback.corked)
            continue;
        QStringList candidates = index.idsForStream(playback.properties);
        qint64 pid = playback.processID;
        for (int depth = 0; candidates.isEmpty() && pid > 1 && depth < 8; ++depth) {
            candidates = index.idsForProcess(pid);
            pid = ProcessTable::parentOf(pid).value_or(0);
        }
        for (const QString &candidate : candidates) {
            QString primary
                = AudioOthersCatalog::preferredPrimaryBundleID(candidate, installed).value_or(candidate);
            const DesktopEntry *entry = index.entry(primary);
            if (entry && offered(*entry))
                listed.insert(entry->id, *appFromEntry(*entry, std::nullopt));
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

} // namespace AudioCaptureApps
