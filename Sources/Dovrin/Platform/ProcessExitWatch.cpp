#include "Platform/ProcessExitWatch.h"

#include <QSocketNotifier>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

int openPidfd(qint64 pid)
{
#ifdef SYS_pidfd_open
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return -1;
    return int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
#else
    Q_UNUSED(pid);
    return -1;
#endif
}

} // namespace

ProcessExitWatch::ProcessExitWatch(
    const QList<qint64> &pids, std::function<void(qint64)> onExit, QObject *parent)
    : QObject(parent)
    , m_onExit(std::move(onExit))
{
    for (qint64 pid : pids) {
        const int fd = openPidfd(pid);
        if (fd < 0)
            continue;
        // A pidfd becomes readable once its process has ended.
        auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] { processEnded(fd); });
        m_watched.push_back({ pid, fd, notifier });
    }
}

ProcessExitWatch::~ProcessExitWatch()
{
    for (Watched &watched : m_watched) {
        delete watched.notifier;
        ::close(watched.fd);
    }
}

QList<qint64> ProcessExitWatch::watchedProcessIDs() const
{
    QList<qint64> pids;
    for (const Watched &watched : m_watched)
        pids.append(watched.pid);
    return pids;
}

void ProcessExitWatch::processEnded(int fd)
{
    const auto it
        = std::find_if(m_watched.begin(), m_watched.end(), [fd](const Watched &w) { return w.fd == fd; });
    if (it == m_watched.end())
        return;
    const qint64 pid = it->pid;
    it->notifier->setEnabled(false);
    it->notifier->deleteLater();
    ::close(it->fd);
    m_watched.erase(it);
    if (m_onExit)
        m_onExit(pid); // last: the receiver may destroy this watch
}
