#pragma once

#include "Documents/DefaultsStore.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QThreadPool>

#include <memory>
#include <mutex>
#include <optional>

class SettingsDefaultsStore;

// A settings suite in front of its file: reads answer from memory and every change is written on a
// thread of its own, so a slow home folder (each write syncs the file and its folder) never holds up
// the main thread. Changes reach the file in the order they were made; changes made while a write
// runs go out together with the next one. Main thread only, apart from that writer.
class WriteBehindDefaultsStore final : public QObject, public DefaultsStore
{
    Q_OBJECT

public:
    // Opens the suite as SettingsDefaultsStore::open does, on the writer's thread (the file's object
    // lives there), and reads what it holds; none when it cannot be opened. Start-up waits for this
    // one read, as it would without the writer.
    static std::shared_ptr<WriteBehindDefaultsStore> open(const QString &suiteName, const QString &folder);
    // The settings suite, else the standard suite, in the app's config folder; none when neither opens.
    static std::shared_ptr<WriteBehindDefaultsStore> openSettingsOrStandard();
    // Waits for the changes not written yet: they must not be lost at exit.
    ~WriteBehindDefaultsStore() override;

    QVariant value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;
    // As the last finished write left it.
    std::optional<QString> writeFailure() const override;
    // As the file was found, until a write replaced it.
    std::optional<QString> readFailure() const override;
    // Queues the replacement of an unreadable file behind the changes made before.
    void replaceUnreadable() override;

    // Finishes once every change made before it is on disk, or failed.
    QFuture<void> written();

signals:
    // A write finished; writeFailure() tells how it went.
    void writeFinished();

private:
    WriteBehindDefaultsStore();
    void change(const QString &key, std::optional<QVariant> value);
    void writePending();
    // On the writer, after it changed the file: takes over how that went.
    void noteWritten();

    QHash<QString, QVariant> m_values;
    QThreadPool m_writer;
    // Shared with the writer.
    mutable std::mutex m_mutex;
    std::unique_ptr<SettingsDefaultsStore> m_backing;
    // Changes not taken by a write yet, by key; none removes the key.
    QHash<QString, std::optional<QVariant>> m_pending;
    bool m_writeQueued = false;
    std::optional<QString> m_failure;
    std::optional<QString> m_readFailure;
    // Main thread only.
    bool m_replaceAsked = false;
};
