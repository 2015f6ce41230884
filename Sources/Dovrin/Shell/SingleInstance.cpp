#include "Shell/SingleInstance.h"

#include "Documents/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr char lockName[] = "quorvel.lock";
constexpr char socketName[] = "quorvel.socket";
constexpr QByteArrayView request = "activate\n";
constexpr QByteArrayView answer = "ok\n";
constexpr auto attemptLimit = 500ms;
constexpr auto retryDelay = 100ms;
// Out of descriptors: accepting waits this long before it tries again.
constexpr auto acceptPause = 100ms;
// Accepted per turn of the event loop, so a flood of clients never holds the main thread.
constexpr int acceptsPerTurn = 64;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The lock and the socket must not be reachable by anyone else: a folder of ours, 0700, and never
// a link, which could lead two starts to two different folders.
QString prepareFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat info
    {
    };
    if (::lstat(path.constData(), &info) != 0) {
        const int error = errno;
        if (error != ENOENT)
            return QStringLiteral("%1 cannot be read (%2)")
                .arg(native(folder), QString::fromLocal8Bit(std::strerror(error)));
        if (!QDir().mkpath(folder) || ::lstat(path.constData(), &info) != 0)
            return QStringLiteral("%1 cannot be created").arg(native(folder));
    }
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("%1 is a link, not a folder").arg(native(folder));
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is a file, not a folder").arg(native(folder));
    if (info.st_uid != ::getuid())
        return QStringLiteral("%1 belongs to another user").arg(native(folder));
    if ((info.st_mode & 0777) != 0700 && ::chmod(path.constData(), 0700) != 0)
        return QStringLiteral("%1 cannot be made private").arg(native(folder));
    return {};
}

// QLockFile counts a lock whose first line is no pid as held for good (age never makes ours stale),
// and it would wait forever reading a FIFO. A holder keeps an flock on its lock file while it runs, so
// such a file that nobody has locked is what a crash while writing it left: it goes. A folder in its
// place is the user's to look at.
QString clearUnreadableLock(const QString &lockPath)
{
    const QByteArray path = QFile::encodeName(lockPath);
    struct stat info
    {
    };
    if (::lstat(path.constData(), &info) != 0)
        return {};
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is a folder, not a lock file").arg(native(lockPath));
    if (!S_ISREG(info.st_mode)) {
        ::unlink(path.constData());
        return {};
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    char head[64];
    const ssize_t size = ::read(fd, head, sizeof head);
    const QByteArray firstLine = QByteArray(head, size > 0 ? size : 0).split('\n').value(0);
    bool isNumber = false;
    const qint64 pid = firstLine.toLongLong(&isNumber);
    if (!(isNumber && pid > 0) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlink(path.constData());
    ::close(fd);
    return {};
}

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
{ }

SingleInstance::~SingleInstance()
{
    while (!m_clients.empty())
        dropClient(m_clients.begin());
    if (m_listener >= 0) {
        delete m_accepting;
        // Still under the lock: the socket that goes is ours.
        ::unlink(QFile::encodeName(socketPath()).constData());
        ::close(m_listener);
    }
}

QString SingleInstance::defaultFolder()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime) || !QFileInfo(runtime).isDir())
        runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime + QLatin1Char('/') + QLatin1String(AppPaths::bundleIdentifier);
}

QString SingleInstance::lockPath() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(lockName);
}

QString SingleInstance::socketPath() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(socketName);
}

SingleInstance::Claim SingleInstance::claim()
{
    if (m_lock && m_listener >= 0)
        return Claim::primary;
    m_problem = prepareFolder(m_folder);
    if (m_problem.isEmpty())
        m_problem = clearUnreadableLock(lockPath());
    if (!m_problem.isEmpty())
        return Claim::unavailable;
    auto lock = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: only a lock whose process is gone may be taken over.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError)
            return Claim::secondary;
        m_problem = QStringLiteral("the lock file %1 cannot be written").arg(native(lockPath()));
        return Claim::unavailable;
    }
    m_problem = listen();
    if (!m_problem.isEmpty())
        return Claim::unavailable;
    m_lock = std::move(lock);
    return Claim::primary;
}

QString SingleInstance::listen()
{
    const QString path = socketPath();
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return QStringLiteral("the path %1 is too long for a socket").arg(native(path));
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    // We hold the lock, so what is still at the socket's name was left by a process that is gone.
    struct stat info
    {
    };
    if (::lstat(name.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return QStringLiteral("%1 is a folder, not a socket").arg(native(path));
        ::unlink(name.constData());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return QStringLiteral("no socket can be made (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::chmod(name.constData(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        ::close(fd);
        return QStringLiteral("cannot listen on %1 (%2)")
            .arg(native(path), QString::fromLocal8Bit(std::strerror(error)));
    }
    m_listener = fd;
    m_accepting = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_accepting, &QSocketNotifier::activated, this, &SingleInstance::acceptClients);
    m_sweep = new QTimer(this);
    m_sweep->setSingleShot(true);
    connect(m_sweep, &QTimer::timeout, this, &SingleInstance::sweep);
    return {};
}

void SingleInstance::acceptClients()
{
    for (int accepted = 0; accepted < acceptsPerTurn; ++accepted) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the oldest silent client makes room; with none, wait a moment.
                // The listening socket itself stays, whatever happens.
                if (!m_clients.empty()) {
                    dropClient(m_clients.begin());
                    continue;
                }
                m_accepting->setEnabled(false);
                QTimer::singleShot(acceptPause, this, [this] { m_accepting->setEnabled(true); });
            }
            return;
        }
        Client client { fd, nullptr, {}, QDeadlineTimer(clientLimit) };
        // A start asks as soon as it is connected: often it is already there.
        if (serve(client)) {
            ::close(fd);
            continue;
        }
        if (int(m_clients.size()) >= maximumWaitingClients)
            dropClient(m_clients.begin());
        m_clients.push_back(std::move(client));
        const auto it = std::prev(m_clients.end());
        it->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(it->notifier, &QSocketNotifier::activated, this, [this, it] { readClient(it); });
        scheduleSweep();
    }
}

bool SingleInstance::serve(Client &client)
{
    char buffer[16];
    for (;;) {
        const ssize_t count = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno != EAGAIN && errno != EWOULDBLOCK;
        if (count == 0)
            return true;
        client.received.append(buffer, count);
        if (client.received.contains('\n')) {
            if (client.received != request)
                return true;
            [[maybe_unused]] const ssize_t sent
                = ::send(client.fd, answer.data(), size_t(answer.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
            // Queued: the one asking is answered before this one comes forward.
            QMetaObject::invokeMethod(this, &SingleInstance::activationRequested, Qt::QueuedConnection);
            return true;
        }
        if (client.received.size() > request.size())
            return true;
    }
}

void SingleInstance::readClient(std::list<Client>::iterator client)
{
    if (serve(*client))
        dropClient(client);
}

void SingleInstance::dropClient(std::list<Client>::iterator client)
{
    // Possibly from inside the notifier's own signal.
    if (client->notifier) {
        client->notifier->setEnabled(false);
        client->notifier->disconnect(this);
        client->notifier->deleteLater();
    }
    ::close(client->fd);
    m_clients.erase(client);
}

void SingleInstance::scheduleSweep()
{
    if (m_clients.empty()) {
        m_sweep->stop();
        return;
    }
    const qint64 wait = std::max<qint64>(0, m_clients.front().deadline.remainingTime());
    if (!m_sweep->isActive() || m_sweep->remainingTime() > wait)
        m_sweep->start(std::chrono::milliseconds(wait));
}

void SingleInstance::sweep()
{
    // The list is in order of arrival, so of deadlines too.
    while (!m_clients.empty() && m_clients.front().deadline.hasExpired())
        dropClient(m_clients.begin());
    scheduleSweep();
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
    socket->connectToServer(socketPath());
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
        switch (claim()) {
        case Claim::primary:
            co_return HandOver::becamePrimary;
        case Claim::unavailable:
            co_return HandOver::unavailable;
        case Claim::secondary:
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            co_return HandOver::noAnswer;
        co_await sleepFor(retryDelay);
        CurrentTask::checkCancelled();
    }
}
