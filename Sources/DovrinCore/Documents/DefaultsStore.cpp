#include "Documents/DefaultsStore.h"

#include "Documents/AppPaths.h"
#include "Documents/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// Why QSettings must not be given the file at `path`; none for a regular file or for nothing there yet.
std::optional<QString> notARegularFile(const QString &path)
{
    struct stat info
    {
    };
    const QString name = QDir::toNativeSeparators(path);
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT)
            return std::nullopt;
        return QStringLiteral("%1 cannot be read (%2)")
            .arg(name, QString::fromLocal8Bit(std::strerror(error)));
    }
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is a folder").arg(name);
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(name);
    return std::nullopt;
}

// Keeps what sits at `path` beside it, under the first free "<name>.unreadable", "<name>.unreadable-2"
// and so on: a file, FIFO or link gets a second name (nothing is opened, so a FIFO cannot block), a
// folder is moved. Answers 0 or an errno value.
int keepAside(const QString &path, QString *kept)
{
    const QByteArray from = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::lstat(from.constData(), &info) != 0)
        return errno;
    const QFileInfo file(path);
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const QString name = file.fileName() + QLatin1String(".unreadable")
            + (attempt > 1 ? QStringLiteral("-%1").arg(attempt) : QString());
        const QByteArray to = QFile::encodeName(file.absolutePath() + QLatin1Char('/') + name);
        int result = S_ISDIR(info.st_mode)
            ? ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE)
            : ::link(from.constData(), to.constData());
        int error = result == 0 ? 0 : errno;
        // A file system without second names: the bytes are copied, never over another file.
        if (S_ISREG(info.st_mode)
            && (error == EPERM || error == EXDEV || error == EMLINK || error == ENOTSUP)) {
            QByteArray data;
            int folderError = 0;
            const AtomicFile::Descriptor folder
                = AtomicFile::openDirectory(file.absolutePath(), &folderError);
            error = folderError != 0
                ? folderError
                : AtomicFile::readFile(folder.get(), QFile::encodeName(file.fileName()), 64 << 20, &data);
            if (error == 0)
                error = AtomicFile::NewFile(folder.get(), data, 0600).publish(QFile::encodeName(name));
        }
        if (error == EEXIST)
            continue;
        if (error == 0)
            *kept = name;
        return error;
    }
    return EEXIST;
}

} // namespace

SettingsDefaultsStore::SettingsDefaultsStore(
    QString fileName, std::unique_ptr<QSettings> settings, std::optional<QString> readFailure)
    : m_fileName(std::move(fileName))
    , m_settings(std::move(settings))
    , m_readFailure(std::move(readFailure))
{ }

SettingsDefaultsStore::~SettingsDefaultsStore() = default;

std::unique_ptr<SettingsDefaultsStore> SettingsDefaultsStore::open(
    const QString &suiteName, const QString &folder)
{
    if (suiteName.isEmpty() || suiteName.contains(QLatin1Char('/')))
        return nullptr;
    if (AtomicFile::makePrivateDirectory(folder) != 0)
        return nullptr;
    const QString path = folder + QLatin1Char('/') + suiteName + QLatin1String(".ini");
    const auto unreadable = [&](const QString &reason) {
        return std::unique_ptr<SettingsDefaultsStore>(new SettingsDefaultsStore(path, nullptr, reason));
    };
    if (const std::optional<QString> problem = notARegularFile(path))
        return unreadable(*problem);
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    // Sections are parsed when first read: a bad line shows in the status only after that.
    settings->allKeys();
    switch (settings->status()) {
    case QSettings::NoError:
        break;
    case QSettings::FormatError:
        return unreadable(QStringLiteral("%1 has a format error").arg(QDir::toNativeSeparators(path)));
    case QSettings::AccessError:
        return unreadable(QStringLiteral("%1 cannot be read").arg(QDir::toNativeSeparators(path)));
    }
    return std::unique_ptr<SettingsDefaultsStore>(
        new SettingsDefaultsStore(path, std::move(settings), std::nullopt));
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
    return m_settings ? m_settings->value(key) : m_held.value(key);
}

void SettingsDefaultsStore::setValue(const QString &key, const QVariant &value)
{
    if (!m_settings) {
        m_held.insert(key, value);
        if (m_replaceAllowed)
            writeOverUnreadable();
        return;
    }
    m_settings->setValue(key, value);
    writeThrough();
}

void SettingsDefaultsStore::remove(const QString &key)
{
    if (!m_settings) {
        m_held.remove(key);
        if (m_replaceAllowed)
            writeOverUnreadable();
        return;
    }
    m_settings->remove(key);
    writeThrough();
}

void SettingsDefaultsStore::replaceUnreadable()
{
    if (m_settings || m_replaceAllowed)
        return;
    m_replaceAllowed = true;
    writeOverUnreadable();
}

void SettingsDefaultsStore::writeOverUnreadable()
{
    const QFileInfo target(m_fileName);
    const QString temporary = target.absolutePath()
        + QStringLiteral("/.quorvel-%1.tmp").arg(QRandomGenerator::global()->generate64(), 0, 16);
    bool written = false;
    {
        // QSettings writes nothing for an empty suite; the file must exist all the same.
        QFile empty(temporary);
        if (empty.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            empty.close();
            QSettings fresh(temporary, QSettings::IniFormat);
            for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
                fresh.setValue(it.key(), it.value());
            fresh.sync();
            written = fresh.status() == QSettings::NoError;
        }
    }
    // The unreadable file stays beside the new one, byte for byte: it may hold settings worth having.
    QString kept;
    int error = written ? keepAside(m_fileName, &kept) : 0;
    if (error == ENOENT)
        error = 0;
    if (written && error == 0
        && ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(m_fileName).constData())
            != 0) {
        error = errno;
        // A folder moved aside goes back to its place; a second name of a file is only a name.
        const QString aside = target.absolutePath() + QLatin1Char('/') + kept;
        if (!kept.isEmpty()
            && (QFileInfo(aside).isDir() ? ::rename(
                    QFile::encodeName(aside).constData(), QFile::encodeName(m_fileName).constData())
                                         : ::unlink(QFile::encodeName(aside).constData()))
                != 0)
            qWarning("the settings file kept at %s stays there", qPrintable(aside));
    }
    if (!written || error != 0) {
        QFile::remove(temporary);
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
            m_writeFailure = QStringLiteral("%1 is a folder").arg(target.fileName());
        else if (!QFileInfo(target.absolutePath()).isWritable())
            m_writeFailure = QStringLiteral("the folder %1 is read-only").arg(target.absolutePath());
        else
            m_writeFailure = QStringLiteral("%1 could not be written").arg(target.fileName());
        return;
    }
    m_settings = std::make_unique<QSettings>(m_fileName, QSettings::IniFormat);
    m_held.clear();
    m_readFailure.reset();
    m_writeFailure.reset();
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
    if (!m_settings)
        return false;
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QString SettingsDefaultsStore::fileName() const
{
    return m_fileName;
}

QStringList SettingsDefaultsStore::keys() const
{
    return m_settings ? m_settings->allKeys() : QStringList();
}

void SettingsDefaultsStore::dropDeferredWrite()
{
    if (m_settings)
        QCoreApplication::removePostedEvents(m_settings.get(), QEvent::UpdateRequest);
}
