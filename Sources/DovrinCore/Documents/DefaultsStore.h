#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

// One "defaults" suite: a flat map of keys to small values (data, strings, Booleans). The settings
// record, the shortcut and the model's bookkeeping flags live in one; the typed readers answer the
// same way for every backend, so a value reads back as it was written.
class DefaultsStore
{
public:
    virtual ~DefaultsStore();

    // An invalid QVariant when the key is absent.
    virtual QVariant value(const QString &key) const = 0;
    virtual void setValue(const QString &key, const QVariant &value) = 0;
    virtual void remove(const QString &key) = 0;

    bool contains(const QString &key) const { return value(key).isValid(); }

    // Why the last change could not be written to the backing file; none when it was. What was set
    // stays readable here and goes out with the next change that can be written; the file keeps its
    // last good contents.
    virtual std::optional<QString> writeFailure() const { return std::nullopt; }

    // Why the backing file could not be read when the suite opened (a format error, a folder or a FIFO
    // in its place); none when it was read. Such a suite starts empty and leaves the file as it is:
    // changes stay here until replaceUnreadable() says the user changed a setting.
    virtual std::optional<QString> readFailure() const { return std::nullopt; }
    // Called where the user changes a setting: from now on an unreadable file is replaced by what is set
    // here, and every later change is written through.
    virtual void replaceUnreadable() { }

    // Bytes; a stored string counts as its UTF-8 bytes. None when absent or of another type.
    std::optional<QByteArray> data(const QString &key) const;
    // None when absent or not a string.
    std::optional<QString> string(const QString &key) const;
    // fallback when absent or not a Boolean.
    bool boolean(const QString &key, bool fallback = false) const;

    void setData(const QString &key, const QByteArray &data) { setValue(key, data); }
    void setString(const QString &key, const QString &string) { setValue(key, string); }
    void setBoolean(const QString &key, bool flag) { setValue(key, flag); }

    // The name of the standard suite: the app's own identifier.
    static QString standardSuiteName();
};

// A suite kept as one INI file, "<suite>.ini", in the app's config folder. Every change is written
// through at once (Qt replaces the file atomically), so a crash loses nothing that was set. Anything but
// a regular file at that name is never opened (a FIFO would block the caller for good).
class SettingsDefaultsStore final : public DefaultsStore
{
public:
    // None when the folder cannot be made; a file that cannot be read gives a suite with readFailure().
    static std::unique_ptr<SettingsDefaultsStore> open(const QString &suiteName, const QString &folder);
    // The settings suite, else the standard suite, in the app's config folder; none when neither opens.
    static std::shared_ptr<DefaultsStore> openSettingsOrStandard();

    ~SettingsDefaultsStore() override;

    QVariant value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;
    std::optional<QString> writeFailure() const override { return m_writeFailure; }
    std::optional<QString> readFailure() const override { return m_readFailure; }
    void replaceUnreadable() override;

    // Rereads the file; false when it could not be read or the last write failed.
    bool sync();
    QString fileName() const;

private:
    SettingsDefaultsStore(
        QString fileName, std::unique_ptr<QSettings> settings, std::optional<QString> readFailure);
    void writeThrough();
    // Writes the values held here into a new file that takes the unreadable one's place.
    void writeOverUnreadable();

    QString m_fileName;
    // None while the file is unreadable: the values live in m_held.
    std::unique_ptr<QSettings> m_settings;
    QHash<QString, QVariant> m_held;
    bool m_replaceAllowed = false;
    std::optional<QString> m_readFailure;
    std::optional<QString> m_writeFailure;
};

// A suite in memory, for tests and as a last resort.
class InMemoryDefaultsStore final : public DefaultsStore
{
public:
    QVariant value(const QString &key) const override { return m_values.value(key); }
    void setValue(const QString &key, const QVariant &value) override { m_values.insert(key, value); }
    void remove(const QString &key) override { m_values.remove(key); }

private:
    QHash<QString, QVariant> m_values;
};
