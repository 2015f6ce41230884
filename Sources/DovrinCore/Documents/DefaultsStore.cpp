#include "Documents/DefaultsStore.h"

#include "Documents/AppPaths.h"
#include "Documents/AtomicFile.h"

#include <QSettings>

DefaultsStore::~DefaultsStore() = default;

std::optional<QByteArray> DefaultsStore::data(const QString &key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() == QMetaType::QByteArray)
        return stored.toByteArray();
    if (stored.typeId() == QMetaType::QString)
        return stored.toString().toUtf8();
    return std::nullopt;
}

std::optional<QString> DefaultsStore::string(const QString &key) const
{
    const QVariant stored = value(key);
    if (stored.typeId() != QMetaType::QString)
        return std::nullopt;
    return stored.toString();
}

bool DefaultsStore::boolean(const QString &key, bool fallback) const
{
    const QVariant stored = value(key);
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    // The INI file keeps Booleans as the words "true" and "false".
    if (stored.typeId() == QMetaType::QString) {
        const QString word = stored.toString();
        if (word == QLatin1String("true"))
            return true;
        if (word == QLatin1String("false"))
            return false;
    }
    return fallback;
}

QString DefaultsStore::standardSuiteName()
{
    return QLatin1String(AppPaths::bundleIdentifier);
}

SettingsDefaultsStore::SettingsDefaultsStore(std::unique_ptr<QSettings> settings)
    : m_settings(std::move(settings))
{ }

SettingsDefaultsStore::~SettingsDefaultsStore() = default;

std::unique_ptr<SettingsDefaultsStore> SettingsDefaultsStore::open(
    const QString &suiteName, const QString &folder)
{
    if (suiteName.isEmpty() || suiteName.contains(QLatin1Char('/')))
        return nullptr;
    if (AtomicFile::makePrivateDirectory(folder) != 0)
        return nullptr;
    auto settings = std::make_unique<QSettings>(
        folder + QLatin1Char('/') + suiteName + QLatin1String(".ini"), QSettings::IniFormat);
    if (settings->status() != QSettings::NoError)
        return nullptr;
    return std::unique_ptr<SettingsDefaultsStore>(new SettingsDefaultsStore(std::move(settings)));
}

std::shared_ptr<DefaultsStore> SettingsDefaultsStore::openSettingsOrStandard()
{
    const QString folder = AppPaths::configDirectory();
    if (auto suite = open(QLatin1String(AppPaths::settingsSuiteName), folder))
        return suite;
    return open(standardSuiteName(), folder);
}

QVariant SettingsDefaultsStore::value(const QString &key) const
{
    return m_settings->value(key);
}

void SettingsDefaultsStore::setValue(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
}

void SettingsDefaultsStore::remove(const QString &key)
{
    m_settings->remove(key);
    m_settings->sync();
}

bool SettingsDefaultsStore::sync()
{
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QString SettingsDefaultsStore::fileName() const
{
    return m_settings->fileName();
}
