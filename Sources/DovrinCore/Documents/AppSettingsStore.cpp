#include "Documents/AppSettingsStore.h"

#include "Documents/AppPaths.h"
#include "Documents/DefaultsStore.h"
#include "Documents/JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

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

namespace {

bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

} // namespace

std::optional<RecentCaptureRef> RecentCaptureRef::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto id = JsonFields::uuid(object.value("id"));
    const auto filename = JsonFields::string(object.value("filename"));
    const auto savedAt = JsonFields::date(object.value("savedAt"));
    if (!id || !filename || !savedAt || !isPlainFileName(*filename))
        return std::nullopt;
    // A bookmark that cannot be read only costs the entry its bookmark.
    return RecentCaptureRef { *id, *filename, JsonFields::base64(object.value("bookmarkData")), *savedAt };
}

int AppSettings::readableOnboardingStep(int stored)
{
    return std::clamp(stored, 0, 4);
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
            const auto entry = RecentCaptureRef::fromJson(item);
            // The list is newest first and remember() keeps one entry per id and per file name.
            if (entry
                && std::none_of(settings.recent.cbegin(), settings.recent.cend(), [&](const auto &kept) {
                       return kept.id == entry->id || kept.filename == entry->filename;
                   }))
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
