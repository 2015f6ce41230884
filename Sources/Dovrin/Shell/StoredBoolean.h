#pragma once

#include <QObject>
#include <QString>

#include <memory>

class DefaultsStore;

// A Boolean kept under one key of a defaults suite, shared by everything that shows or flips it
// (the review window's inspector and the View menu's command read the same one).
class StoredBoolean : public QObject
{
    Q_OBJECT

public:
    StoredBoolean(
        std::shared_ptr<DefaultsStore> store, QString key, bool fallback, QObject *parent = nullptr);

    bool value() const;
    void setValue(bool value);

signals:
    void changed(bool value);

private:
    std::shared_ptr<DefaultsStore> m_store;
    QString m_key;
    bool m_fallback;
};
