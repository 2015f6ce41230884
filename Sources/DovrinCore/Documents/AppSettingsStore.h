#pragma once

#include "Documents/FolderBookmark.h"
#include "Documents/MenuBarRecordingPresence.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>

class DefaultsStore;

// One saved file in the recent-captures list.
struct RecentCaptureRef
{
    QUuid id;
    QString filename;
    std::optional<QByteArray> bookmarkData;
    QDateTime savedAt;

    bool operator==(const RecentCaptureRef &) const = default;

    QJsonObject toJson() const;
    // None unless id, filename and savedAt are all usable; the file name must name a file in the
    // capture folder (not empty, ".", ".." or anything with "/" or NUL).
    static std::optional<RecentCaptureRef> fromJson(const QJsonValue &value);
};

// The persisted settings record.
struct AppSettings
{
    static constexpr int maximumRecentCount = 20;

    bool setupComplete = false;
    // The raw setup step; values outside 0...4 are kept as stored.
    int onboardingStep = 0;
    bool hasRunTestCapture = false;
    std::optional<FolderAccess> defaultFolder;
    std::optional<FolderAccess> lastUsedFolder;
    // Newest first, at most maximumRecentCount.
    QList<RecentCaptureRef> recent;
    // None means the system's default input.
    std::optional<QString> microphoneDeviceUID;
    bool recordYouMicrophone = true;
    // None means the whole computer.
    std::optional<QString> othersAudioBundleID;
    std::optional<QString> othersAudioDisplayName;
    MenuBarRecordingPresence menuBarRecordingPresence = MenuBarRecordingPresence::elapsed;

    bool operator==(const AppSettings &) const = default;

    // The setup step as every reader takes it: below 0 reads as the first step; above 4 (a later version
    // with more steps) as the last, which still needs a test capture to count as complete.
    static int readableOnboardingStep(int stored);
    int currentOnboardingStep() const { return readableOnboardingStep(onboardingStep); }

    // Removes every entry with the same id or the same filename, puts this one first, keeps the newest 20.
    void remember(const RecentCaptureRef &entry);
    // Removes the entries with this id; the rest keep their order.
    void removeRecent(const QUuid &id);

    // JSON with the field names as keys; absent optionals are left out.
    QJsonObject toJson() const;
    // Field by field: a missing or wrong-typed field takes its default and nothing else is lost; a
    // bad entry of `recent` (a file name that is not a plain name, or an id or file name an earlier,
    // newer entry has) drops only that entry.
    static AppSettings fromJson(const QJsonObject &object);
};

// Loads and saves the settings record as JSON under "app-settings-v1" in a defaults suite.
class AppSettingsStore
{
public:
    static constexpr char key[] = "app-settings-v1";

    // The settings suite: the app's identifier followed by ".settings".
    static QString suiteName();

    explicit AppSettingsStore(std::shared_ptr<DefaultsStore> defaults);

    // A missing or unreadable record gives the default settings; never fails.
    AppSettings load() const;
    void save(const AppSettings &settings);

    const std::shared_ptr<DefaultsStore> &defaults() const { return m_defaults; }

private:
    std::shared_ptr<DefaultsStore> m_defaults;
};
