#include "PrivateXvfb.h"

#include "TestSupport.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Whether the child is gone (and reaped) within `milliseconds`: waits on a descriptor for the process,
// so a server that ignores SIGTERM cannot keep the test waiting.
bool reapedWithin(pid_t pid, int milliseconds)
{
    const int process = int(::syscall(SYS_pidfd_open, pid, 0));
    if (process >= 0) {
        pollfd exited { process, POLLIN, 0 };
        int polled;
        while ((polled = ::poll(&exited, 1, milliseconds)) < 0 && errno == EINTR) { }
        ::close(process);
        if (polled == 0)
            return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return true;
}

} // namespace

PrivateXvfb::PrivateXvfb(const QStringList &extraArguments)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    QList<QByteArray> arguments
        = { "Xvfb", "-displayfd", QByteArray::number(pipeFds[1]), "-nolisten", "tcp" };
    if (!extraArguments.contains(QStringLiteral("-screen")))
        arguments += QList<QByteArray> { "-screen", "0", "1920x1080x24" };
    for (const QString &argument : extraArguments)
        arguments.append(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // Made before the fork: the child may only call what is safe between fork and exec.
    QList<QByteArray> variables;
    for (const QString &variable : TestSupport::serverEnvironment().toStringList())
        variables.append(variable.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // The server goes when the test goes, however it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::fcntl(pipeFds[1], F_SETFD, 0); // the server writes its display number here
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            ::dup2(devNull, STDOUT_FILENO);
            ::dup2(devNull, STDERR_FILENO);
        }
        ::execvpe("Xvfb", argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return;
    }
    m_pid = pid;
    // The number arrives as one line once the server listens; end of file means it gave up.
    QByteArray number;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired();) {
        pollfd ready { pipeFds[0], POLLIN, 0 };
        const int polled = ::poll(&ready, 1, int(deadline.remainingTime()));
        if (polled < 0 && errno == EINTR)
            continue;
        char c;
        if (polled <= 0 || ::read(pipeFds[0], &c, 1) != 1 || c == '\n')
            break;
        number.append(c);
    }
    ::close(pipeFds[0]);
    if (!number.isEmpty())
        m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
}

PrivateXvfb::~PrivateXvfb()
{
    if (m_pid <= 0)
        return;
    ::kill(pid_t(m_pid), SIGTERM);
    if (!reapedWithin(pid_t(m_pid), 5000)) {
        ::kill(pid_t(m_pid), SIGKILL);
        reapedWithin(pid_t(m_pid), 5000);
    }
}
