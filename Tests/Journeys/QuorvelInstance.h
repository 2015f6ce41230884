#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <memory>

// One run of the installed program, as a person starts it, with what it says on standard output
// and error appended to a log file.
class QuorvelInstance
{
public:
    QuorvelInstance(const QString &program, const QProcessEnvironment &environment, const QString &logPath);
    ~QuorvelInstance();
    QuorvelInstance(const QuorvelInstance &) = delete;
    QuorvelInstance &operator=(const QuorvelInstance &) = delete;

    bool start();
    bool isRunning() const;
    qint64 pid() const { return m_pid; }

    // Ends it at once, as a crash or kill -9 does.
    void kill();
    // Asks it to quit, as a session's end does.
    void terminate();
    // Waits (the event loop running) until it ended or `milliseconds` passed.
    bool waitForExit(int milliseconds);
    // A normal exit with status 0.
    bool exitedCleanly() const;
    QString exitDescription() const;

    // The last lines of its log.
    QString logTail(int lines = 25) const;

private:
    QString m_program;
    QString m_logPath;
    std::unique_ptr<QProcess> m_process;
    qint64 m_pid = 0;
};
