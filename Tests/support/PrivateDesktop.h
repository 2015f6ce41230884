#pragma once

#include "PrivateXvfb.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A desktop of the test's own, as a person's session has one: an X server, a session bus, a window
// manager (openbox) and a tray host (trayer) at the top right. Everything it starts it stops again,
// by pid, when it goes away.
class PrivateDesktop
{
public:
    PrivateDesktop();
    // On an X server that runs already (the test's own, which it stops itself), with or without a
    // tray host.
    PrivateDesktop(const QString &display, bool withTrayHost);
    ~PrivateDesktop();
    PrivateDesktop(const PrivateDesktop &) = delete;
    PrivateDesktop &operator=(const PrivateDesktop &) = delete;

    // Empty once every part answers; otherwise what did not start.
    QString problem() const { return m_problem; }
    QString display() const { return m_display; }
    qint64 trayHostPid() const { return m_trayHost ? m_trayHost->processId() : 0; }
    // `base` with this desktop's display and session bus in place of any others.
    QProcessEnvironment environment(
        QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

private:
    void start(bool withTrayHost);
    bool startBus();
    bool startWindowManager();
    bool startTrayHost();

    std::unique_ptr<PrivateXvfb> m_xvfb;
    QString m_display;
    QTemporaryDir m_home;
    std::unique_ptr<QProcess> m_bus;
    QString m_busAddress;
    std::unique_ptr<QProcess> m_windowManager;
    std::unique_ptr<QProcess> m_trayHost;
    QString m_problem;
};
