#include "PrivateXvfb.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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
        ::execvp("Xvfb", argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return;
    }
    m_pid = pid;
    QByteArray number;
    char c;
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        const ssize_t n = ::read(pipeFds[0], &c, 1);
        if (n == 1) {
            if (c == '\n')
                break;
            number.append(c);
        } else if (n == 0) {
            break;
        } else {
            QThread::msleep(10);
        }
    }
    ::close(pipeFds[0]);
    if (!number.isEmpty())
        m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
}

PrivateXvfb::~PrivateXvfb()
{
    if (m_pid > 0) {
        ::kill(pid_t(m_pid), SIGTERM);
        int status = 0;
        ::waitpid(pid_t(m_pid), &status, 0);
    }
}
