#pragma once

#include <QString>
#include <QStringList>

// An X server of the test's own (Xvfb on a display it picks itself), for tests that move the
// pointer or need a display without some extension. Stopped by its pid when destroyed.
class PrivateXvfb
{
public:
    // Starts `Xvfb -displayfd` with a 1920x1080 screen and the extra arguments; waits until it
    // answers. isRunning() tells whether it did.
    explicit PrivateXvfb(const QStringList &extraArguments = {});
    ~PrivateXvfb();
    PrivateXvfb(const PrivateXvfb &) = delete;
    PrivateXvfb &operator=(const PrivateXvfb &) = delete;

    bool isRunning() const { return m_pid > 0 && !m_display.isEmpty(); }
    // ":<number>"
    QString display() const { return m_display; }
    qint64 pid() const { return m_pid; }

private:
    qint64 m_pid = 0;
    QString m_display;
};
