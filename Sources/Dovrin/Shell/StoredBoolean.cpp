#include "Shell/StoredBoolean.h"

#include "Documents/DefaultsStore.h"

StoredBoolean::StoredBoolean(
    std::shared_ptr<DefaultsStore> store, QString key, bool fallback, QObject *parent)
    : QObject(parent)
    , m_store(std::move(store))
    , m_key(std::move(key))
    , m_fallback(fallback)
{ }

bool StoredBoolean::value() const
{
    return m_store ? m_store->boolean(m_key, m_fallback) : m_fallback;
}

void StoredBoolean::setValue(bool value)
{
    if (value == this->value())
        return;
    if (m_store) {
        m_store->replaceUnreadable();
        m_store->setBoolean(m_key, value);
    }
    emit changed(value);
}
