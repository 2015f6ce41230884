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
// through at once (Qt replaces the file atomically), so a crash loses nothing that was set.
class SettingsDefaultsStore final : public DefaultsStore
{
public:
    // None when the folder cannot be made or the file cannot be read.
    static std::unique_ptr<SettingsDefaultsStore> open(const QString &suiteName, const QString &folder);
    // The settings suite, else the standard suite, in the app's config folder; none when neither opens.
    static std::shared_ptr<DefaultsStore> openSettingsOrStandard();

    ~SettingsDefaultsStore() override;

    QVariant value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;
    std::optional<QString> writeFailure() const override { return m_writeFailure; }

    // Rereads the file; false when it could not be read or the last write failed.
    bool sync();
    QString fileName() const;

private:
    explicit SettingsDefaultsStore(std::unique_ptr<QSettings> settings);
    void writeThrough();

    std::unique_ptr<QSettings> m_settings;
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
