#include "Documents/DefaultsStore.h"

#include "Documents/AppPaths.h"
#include "Documents/AtomicFile.h"

#include <QFileInfo>
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
    writeThrough();
}

void SettingsDefaultsStore::remove(const QString &key)
{
    m_settings->remove(key);
    writeThrough();
}

void SettingsDefaultsStore::writeThrough()
{
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError && !m_writeFailure)
        return;
    // QSettings keeps a failed status for good. A new object over the same file shares the values not
    // written yet, tries the write again as it opens and starts from a clean status.
    auto retry = std::make_unique<QSettings>(m_settings->fileName(), QSettings::IniFormat);
    m_settings = std::move(retry);
    if (m_settings->status() == QSettings::NoError) {
        m_writeFailure.reset();
        return;
    }
    const QFileInfo file(m_settings->fileName());
    if (file.exists() && !file.isWritable())
        m_writeFailure = QStringLiteral("%1 is read-only").arg(file.fileName());
    else if (!QFileInfo(file.absolutePath()).isWritable())
        m_writeFailure = QStringLiteral("the folder %1 is read-only").arg(file.absolutePath());
    else
        m_writeFailure = QStringLiteral("%1 could not be written").arg(file.fileName());
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
