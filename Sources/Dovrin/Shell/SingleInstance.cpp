#include "Shell/SingleInstance.h"

#include "Documents/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr char lockName[] = "quorvel.lock";
constexpr char socketName[] = "quorvel.socket";
constexpr QByteArrayView request = "activate\n";
constexpr QByteArrayView answer = "ok\n";
constexpr auto attemptLimit = 500ms;
constexpr auto retryDelay = 100ms;

// The lock and the socket must not be reachable by anyone else: a folder of ours, 0700.
QString prepareFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create %1").arg(folder);
    const QByteArray path = QFile::encodeName(folder);
    struct stat info
    {
    };
    if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return QStringLiteral("%1 is not a folder of this user").arg(folder);
    if ((info.st_mode & 0777) != 0700 && ::chmod(path.constData(), 0700) != 0)
        return QStringLiteral("cannot make %1 private").arg(folder);
    return {};
}

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
{ }

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

QString SingleInstance::defaultFolder()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime) || !QFileInfo(runtime).isDir())
        runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime + QLatin1Char('/') + QLatin1String(AppPaths::bundleIdentifier);
}

SingleInstance::Claim SingleInstance::claim()
{
    if (m_lock && m_server)
        return Claim::primary;
    m_problem = prepareFolder(m_folder);
    if (!m_problem.isEmpty())
        return Claim::unavailable;
    auto lock = std::make_unique<QLockFile>(m_folder + QLatin1Char('/') + QLatin1String(lockName));
    // Never stale by age: only a lock whose process is gone may be taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError)
            return Claim::secondary;
        m_problem = QStringLiteral("cannot write the lock file in %1").arg(m_folder);
        return Claim::unavailable;
    }
    m_lock = std::move(lock);
    if (!listen()) {
        m_problem = QStringLiteral("cannot listen in %1").arg(m_folder);
        return Claim::unavailable;
    }
    return Claim::primary;
}

bool SingleInstance::listen()
{
    const QString path = m_folder + QLatin1Char('/') + QLatin1String(socketName);
    // We hold the lock, so a socket file still there belongs to a process that is gone.
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > request.size())
                        socket->abort();
                    return;
                }
                const bool asked = socket->readLine(request.size() + 1) == request;
                if (asked)
                    socket->write(answer.data(), answer.size());
                socket->disconnectFromServer();
                if (asked)
                    emit activationRequested();
            });
        }
    });
    return true;
}

Task<bool> SingleInstance::askOnce()
{
    auto *socket = new QLocalSocket(this);
    TaskPromise<bool> promise;
    QByteArray received;
    connect(socket, &QLocalSocket::connected, socket,
        [socket] { socket->write(request.data(), request.size()); });
    connect(socket, &QLocalSocket::readyRead, socket, [socket, promise, &received] {
        received += socket->readAll();
        if (received.contains('\n'))
            promise.resolve(received == answer);
    });
    connect(socket, &QLocalSocket::errorOccurred, socket, [promise] { promise.resolve(false); });
    connect(socket, &QLocalSocket::disconnected, socket, [promise] { promise.resolve(false); });
    QTimer::singleShot(attemptLimit, socket, [promise] { promise.resolve(false); });
    socket->connectToServer(m_folder + QLatin1Char('/') + QLatin1String(socketName));
    const bool answered = co_await promise.future();
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
    co_return answered;
}

Task<SingleInstance::HandOver> SingleInstance::handOver(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (co_await askOnce())
            co_return HandOver::handedOver;
        CurrentTask::checkCancelled();
        // The running one may be on its way out: then this start takes its place.
        if (claim() == Claim::primary)
            co_return HandOver::becamePrimary;
        if (std::chrono::steady_clock::now() >= deadline)
            co_return HandOver::noAnswer;
        co_await sleepFor(retryDelay);
        CurrentTask::checkCancelled();
    }
}
