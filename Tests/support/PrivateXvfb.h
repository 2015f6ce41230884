#pragma once

#include <QString>
#include <QStringList>

// An X server of the test's own (Xvfb on a display it picks itself), for tests that move the
// pointer or need a display of another shape (two screens, no XTEST). It runs without the run's display
// and session bus in its environment, and is stopped by its pid when destroyed.
class PrivateXvfb
{
public:
    // Starts `Xvfb -displayfd` with the extra arguments, and a 1920x1080 screen unless they give
    // screens of their own; waits until it answers. isRunning() tells whether it did.
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
