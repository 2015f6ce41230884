#include "Model/RecentAvailabilityCache.h"

#include <QSet>

std::optional<RecentAvailabilityCache::Entry> RecentAvailabilityCache::entry(const QUuid &id) const
{
    const auto found = m_entries.constFind(id);
    if (found == m_entries.constEnd())
        return std::nullopt;
    return *found;
}

void RecentAvailabilityCache::prune(const QList<RecentCaptureRef> &recent)
{
    QSet<QUuid> kept;
    for (const RecentCaptureRef &entry : recent)
        kept.insert(entry.id);
    m_entries.removeIf([&](const auto &item) { return !kept.contains(item.key()); });
}
