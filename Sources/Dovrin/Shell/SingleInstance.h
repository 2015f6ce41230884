#pragma once

#include "Async/Task.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLockFile;

// One running Quorvel per user: two would share one draft, one settings file and one hot key.
//
// The first start holds a lock file and listens on a local socket, both in a private folder under
// $XDG_RUNTIME_DIR. A later start finds the lock held, asks the running one to come forward over
// the socket and exits. A lock whose process is gone (killed, crashed) is taken over.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Claim {
        primary, // this process is the one
        secondary, // another Quorvel holds the lock
        unavailable, // the folder or the lock cannot be used; running anyway is the lesser harm
    };
    enum class HandOver {
        handedOver, // the running one answered
        becamePrimary, // it went away meanwhile and this process took the lock
        noAnswer, // it holds the lock but did not answer in time
    };

    explicit SingleInstance(const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/com.quorvel.dovrin, or Qt's per-user runtime folder when it is unset.
    static QString defaultFolder();

    Claim claim();
    // What went wrong when claim() answered unavailable.
    QString problem() const { return m_problem; }

    // From a later start: asks the running Quorvel to come forward, retrying while it is starting up.
    Task<HandOver> handOver(std::chrono::milliseconds limit = std::chrono::seconds(3));

signals:
    // A later start asked this one to come forward.
    void activationRequested();

private:
    bool listen();
    Task<bool> askOnce();

    QString m_folder;
    QString m_problem;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
