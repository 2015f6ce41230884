#pragma once

#include "Async/Task.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <list>
#include <memory>

class QLockFile;
class QSocketNotifier;
class QTimer;

// One running Quorvel per user: two would share one draft, one settings file and one hot key.
//
// The first start holds a lock file and listens on a local socket, both in a private folder under
// $XDG_RUNTIME_DIR. A later start finds the lock held, asks the running one to come forward over
// the socket and exits. A lock whose process is gone (killed, crashed), or that a crash left empty or
// unreadable, is taken over. Whatever is in the folder, the socket keeps listening while the program
// runs: a client gets a moment to speak and only a few wait at a time.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Claim {
        primary, // this process is the one
        secondary, // another Quorvel holds the lock
        unavailable, // the folder, the lock or the socket cannot be used: problem() says why
    };
    enum class HandOver {
        handedOver, // the running one answered
        becamePrimary, // it went away meanwhile and this process took the lock
        noAnswer, // it holds the lock but did not answer in time
        unavailable, // it went away, and its place cannot be taken: problem() says why
    };

    // How long a client may take to ask, and how many may wait to be heard at once.
    static constexpr std::chrono::milliseconds clientLimit { 1000 };
    static constexpr int maximumWaitingClients = 8;

    explicit SingleInstance(const QString &folder = defaultFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/com.quorvel.dovrin, or Qt's per-user runtime folder when it is unset.
    static QString defaultFolder();

    Claim claim();
    // What went wrong when claim() answered unavailable; names the path.
    QString problem() const { return m_problem; }

    // From a later start: asks the running Quorvel to come forward, retrying while it is starting up.
    Task<HandOver> handOver(std::chrono::milliseconds limit = std::chrono::seconds(3));

signals:
    // A later start asked this one to come forward.
    void activationRequested();

private:
    struct Client
    {
        int fd = -1;
        QSocketNotifier *notifier = nullptr;
        QByteArray received;
        QDeadlineTimer deadline;
    };

    QString lockPath() const;
    QString socketPath() const;
    // Empty when listening.
    QString listen();
    void acceptClients();
    // Reads what the client sent; true when it is done with (answered, refused or gone).
    bool serve(Client &client);
    void readClient(std::list<Client>::iterator client);
    void dropClient(std::list<Client>::iterator client);
    void scheduleSweep();
    void sweep();
    Task<bool> askOnce();

    QString m_folder;
    QString m_problem;
    std::unique_ptr<QLockFile> m_lock;
    int m_listener = -1;
    QSocketNotifier *m_accepting = nullptr;
    QTimer *m_sweep = nullptr;
    std::list<Client> m_clients; // oldest first
};
