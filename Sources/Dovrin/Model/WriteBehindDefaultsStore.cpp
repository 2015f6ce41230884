#include "Model/WriteBehindDefaultsStore.h"

#include "Documents/AppPaths.h"

#include <QCoreApplication>
#include <QtConcurrent>

WriteBehindDefaultsStore::WriteBehindDefaultsStore()
{
    m_writer.setMaxThreadCount(1);
    // One thread for good: the file's object belongs to it.
    m_writer.setExpiryTimeout(-1);
}

WriteBehindDefaultsStore::~WriteBehindDefaultsStore()
{
    const QFuture<void> closing = QtConcurrent::run(&m_writer, [this] { m_backing.reset(); });
    Q_UNUSED(closing);
    m_writer.waitForDone();
}

std::shared_ptr<WriteBehindDefaultsStore> WriteBehindDefaultsStore::open(
    const QString &suiteName, const QString &folder)
{
    std::shared_ptr<WriteBehindDefaultsStore> store(new WriteBehindDefaultsStore);
    QFuture<bool> opening = QtConcurrent::run(&store->m_writer, [raw = store.get(), suiteName, folder] {
        raw->m_backing = SettingsDefaultsStore::open(suiteName, folder);
        if (!raw->m_backing)
            return false;
        for (const QString &key : raw->m_backing->keys())
            raw->m_values.insert(key, raw->m_backing->value(key));
        raw->m_failure = raw->m_backing->writeFailure();
        raw->m_readFailure = raw->m_backing->readFailure();
        return true;
    });
    if (!opening.result())
        return nullptr;
    return store;
}

std::shared_ptr<WriteBehindDefaultsStore> WriteBehindDefaultsStore::openSettingsOrStandard()
{
    const QString folder = AppPaths::configDirectory();
    if (std::shared_ptr<WriteBehindDefaultsStore> suite
        = open(QLatin1String(AppPaths::settingsSuiteName), folder))
        return suite;
    return open(standardSuiteName(), folder);
}

QVariant WriteBehindDefaultsStore::value(const QString &key) const
{
    return m_values.value(key);
}

void WriteBehindDefaultsStore::setValue(const QString &key, const QVariant &value)
{
    m_values.insert(key, value);
    change(key, value);
}

void WriteBehindDefaultsStore::remove(const QString &key)
{
    m_values.remove(key);
    change(key, std::nullopt);
}

std::optional<QString> WriteBehindDefaultsStore::writeFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

std::optional<QString> WriteBehindDefaultsStore::readFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_readFailure;
}

void WriteBehindDefaultsStore::replaceUnreadable()
{
    if (m_replaceAsked || !readFailure())
        return;
    m_replaceAsked = true;
    const QFuture<void> replacing = QtConcurrent::run(&m_writer, [this] {
        m_backing->replaceUnreadable();
        noteWritten();
    });
    Q_UNUSED(replacing);
}

QFuture<void> WriteBehindDefaultsStore::written()
{
    return QtConcurrent::run(&m_writer, [] {});
}

void WriteBehindDefaultsStore::change(const QString &key, std::optional<QVariant> value)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.insert(key, std::move(value));
        // A write queued and not started yet takes this change too.
        if (m_writeQueued)
            return;
        m_writeQueued = true;
    }
    const QFuture<void> writing = QtConcurrent::run(&m_writer, [this] { writePending(); });
    Q_UNUSED(writing);
}

void WriteBehindDefaultsStore::writePending()
{
    QHash<QString, std::optional<QVariant>> changes;
    {
        std::lock_guard lock(m_mutex);
        changes.swap(m_pending);
        m_writeQueued = false;
    }
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (it.value())
            m_backing->setValue(it.key(), *it.value());
        else
            m_backing->remove(it.key());
    }
    noteWritten();
}

void WriteBehindDefaultsStore::noteWritten()
{
    m_backing->dropDeferredWrite();
    {
        std::lock_guard lock(m_mutex);
        m_failure = m_backing->writeFailure();
        m_readFailure = m_backing->readFailure();
    }
    QMetaObject::invokeMethod(this, &WriteBehindDefaultsStore::writeFinished, Qt::QueuedConnection);
}
