#pragma once

#include "Documents/AppSettingsStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QUuid>

#include <optional>

// Remembered answers to "is this recent capture's file still there", so the recent list may ask on
// every paint. Entries of captures that left the list are dropped when the settings are saved.
class RecentAvailabilityCache
{
public:
    struct Entry
    {
        std::optional<QByteArray> bookmarkData;
        bool isMissing = false;
        QDateTime checkedAt;
    };

    std::optional<Entry> entry(const QUuid &id) const;
    void store(const QUuid &id, Entry entry) { m_entries.insert(id, std::move(entry)); }
    void remove(const QUuid &id) { m_entries.remove(id); }
    // Keeps only the entries of `recent`.
    void prune(const QList<RecentCaptureRef> &recent);
    qsizetype size() const { return m_entries.size(); }

private:
    QHash<QUuid, Entry> m_entries;
};
