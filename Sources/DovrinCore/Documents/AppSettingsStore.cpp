#include "Documents/AppSettingsStore.h"

#include "Documents/AppPaths.h"
#include "Documents/DefaultsStore.h"
#include "Documents/JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>

QJsonObject RecentCaptureRef::toJson() const
{
    QJsonObject object {
        { "id", JsonFields::uuidText(id) },
        { "filename", filename },
        { "savedAt", JsonFields::dateText(savedAt) },
    };
    if (bookmarkData)
        object.insert("bookmarkData", QString::fromLatin1(bookmarkData->toBase64()));
    return object;
}

std::optional<RecentCaptureRef> RecentCaptureRef::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto id = JsonFields::uuid(object.value("id"));
    const auto filename = JsonFields::string(object.value("filename"));
    const auto savedAt = JsonFields::date(object.value("savedAt"));
    if (!id || !filename || !savedAt)
        return std::nullopt;
    // A bookmark that cannot be read only costs the entry its bookmark.
    return RecentCaptureRef { *id, *filename, JsonFields::base64(object.value("bookmarkData")), *savedAt };
}

void AppSettings::remember(const RecentCaptureRef &entry)
{
    recent.removeIf(
        [&](const RecentCaptureRef &old) { return old.id == entry.id || old.filename == entry.filename; });
    recent.prepend(entry);
    if (recent.size() > maximumRecentCount)
        recent.resize(maximumRecentCount);
}

void AppSettings::removeRecent(const QUuid &id)
{
    recent.removeIf([&](const RecentCaptureRef &old) { return old.id == id; });
}

QJsonObject AppSettings::toJson() const
{
    QJsonArray recentArray;
    for (const RecentCaptureRef &entry : recent)
        recentArray.append(entry.toJson());
    QJsonObject object {
        { "setupComplete", setupComplete },
        { "onboardingStep", onboardingStep },
        { "hasRunTestCapture", hasRunTestCapture },
        { "recent", recentArray },
        { "recordYouMicrophone", recordYouMicrophone },
        { "menuBarRecordingPresence", MenuBarRecordingPresences::rawValue(menuBarRecordingPresence) },
    };
    if (defaultFolder)
        object.insert("defaultFolder", defaultFolder->toJson());
    if (lastUsedFolder)
        object.insert("lastUsedFolder", lastUsedFolder->toJson());
    if (microphoneDeviceUID)
        object.insert("microphoneDeviceUID", *microphoneDeviceUID);
    if (othersAudioBundleID)
        object.insert("othersAudioBundleID", *othersAudioBundleID);
    if (othersAudioDisplayName)
        object.insert("othersAudioDisplayName", *othersAudioDisplayName);
    return object;
}

AppSettings AppSettings::fromJson(const QJsonObject &object)
{
    AppSettings settings;
    settings.setupComplete
        = JsonFields::boolean(object.value("setupComplete")).value_or(settings.setupComplete);
    settings.onboardingStep
        = JsonFields::integer(object.value("onboardingStep")).value_or(settings.onboardingStep);
    settings.hasRunTestCapture
        = JsonFields::boolean(object.value("hasRunTestCapture")).value_or(settings.hasRunTestCapture);
    settings.defaultFolder = FolderAccess::fromJson(object.value("defaultFolder"));
    settings.lastUsedFolder = FolderAccess::fromJson(object.value("lastUsedFolder"));
    const QJsonValue recent = object.value("recent");
    if (recent.isArray()) {
        for (const QJsonValue &item : recent.toArray()) {
            if (settings.recent.size() == maximumRecentCount)
                break;
            if (const auto entry = RecentCaptureRef::fromJson(item))
                settings.recent.append(*entry);
        }
    }
    settings.microphoneDeviceUID = JsonFields::string(object.value("microphoneDeviceUID"));
    settings.recordYouMicrophone
        = JsonFields::boolean(object.value("recordYouMicrophone")).value_or(settings.recordYouMicrophone);
    settings.othersAudioBundleID = JsonFields::string(object.value("othersAudioBundleID"));
    settings.othersAudioDisplayName = JsonFields::string(object.value("othersAudioDisplayName"));
    if (const auto raw = JsonFields::string(object.value("menuBarRecordingPresence"))) {
        if (const auto presence = MenuBarRecordingPresences::fromRawValue(*raw))
            settings.menuBarRecordingPresence = *presence;
    }
    return settings;
}

QString AppSettingsStore::suiteName()
{
    return QLatin1String(AppPaths::settingsSuiteName);
}

AppSettingsStore::AppSettingsStore(std::shared_ptr<DefaultsStore> defaults)
    : m_defaults(std::move(defaults))
{ }

AppSettings AppSettingsStore::load() const
{
    const auto data = m_defaults->data(QLatin1String(key));
    if (!data)
        return AppSettings();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return AppSettings();
    return AppSettings::fromJson(document.object());
}

void AppSettingsStore::save(const AppSettings &settings)
{
    m_defaults->setData(QLatin1String(key), QJsonDocument(settings.toJson()).toJson(QJsonDocument::Compact));
}
