#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTest>

#include <cstdio>

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

// The body of a test's main() that runs the whole test on a screen of its own: tests that compare
// what is on screen, or move the pointer, cannot share the run's display with other tests' windows.
template <typename Test> int runOnPrivateDisplay(int argc, char **argv)
{
    PrivateXvfb server;
    if (!server.isRunning()) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
