#include "XvfbInstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

XvfbInstance::XvfbInstance(const QStringList &extraArguments)
{
    // Xvfb picks a free display and writes its number to the descriptor given by -displayfd.
    const QByteArray displayFile = m_dir.filePath("display").toLocal8Bit();
    const int fd = ::open(displayFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return;
    QList<QByteArray> arguments { "Xvfb", "-displayfd", QByteArray::number(fd), "-screen", "0", "1280x800x24",
        "-nolisten", "tcp" };
    for (const QString &argument : extraArguments)
        arguments << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fd);
    if (spawned != 0)
        return;
    m_pid = pid;

    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        QFile file(QString::fromLocal8Bit(displayFile));
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray number = file.readAll().trimmed();
            if (!number.isEmpty() && file.size() > 0 && number.back() != '\0') {
                m_display = QStringLiteral(":") + QString::fromLatin1(number);
                return;
            }
        }
        QThread::msleep(20);
    }
}

XvfbInstance::~XvfbInstance()
{
    if (m_pid <= 0)
        return;
    ::kill(pid_t(m_pid), SIGTERM);
    int status = 0;
    ::waitpid(pid_t(m_pid), &status, 0);
}
