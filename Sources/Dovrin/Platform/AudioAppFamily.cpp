#include "Platform/AudioAppFamily.h"

#include "Platform/ApplicationIndex.h"
#include "Platform/ProcessTable.h"
#include "Rules/AudioOthersSelection.h"

#include <QSet>

#include <algorithm>

struct AudioAppFamily::Data
{
    ApplicationIndex index;
    QString primary;
    QSet<qint64> pids;
    QStringList ids;
    QString folder;
};

AudioAppFamily::AudioAppFamily(const ProcessTapRequest &request)
    : d(std::make_unique<Data>())
{
    d->primary = request.primaryBundleID;
    d->pids = QSet<qint64>(request.processIDs.cbegin(), request.processIDs.cend());
    d->ids = request.bundleIDs;
    if (!d->ids.contains(d->primary))
        d->ids << d->primary;
    d->folder = d->index.installFolder(d->primary);
}

AudioAppFamily::~AudioAppFamily() = default;
AudioAppFamily::AudioAppFamily(AudioAppFamily &&) noexcept = default;
AudioAppFamily &AudioAppFamily::operator=(AudioAppFamily &&) noexcept = default;

bool AudioAppFamily::contains(const QMap<QString, QString> &streamProperties) const
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
    const qint64 pid = ApplicationIndex::processIDOfStream(streamProperties);
    if (pid <= 0)
        return false;
    // Processes started after the request was made: children of the family, new instances, or
    // programs from the application's own folder.
    return d->pids.contains(pid) || ProcessTable::descendsFrom(pid, d->pids)
        || claims(d->index.idsForProcess(pid))
        || d->index.isInsideFolder(ProcessTable::executablePath(pid), d->folder);
}
