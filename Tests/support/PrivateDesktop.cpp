#include "PrivateDesktop.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QTest>

#include <X11/Xlib.h>

namespace {

// Asks the X server until `ready` says yes or ten seconds passed.
bool waitForServer(const QString &display, const std::function<bool(Display *)> &ready)
{
    Display *connection = XOpenDisplay(display.toLocal8Bit().constData());
    if (!connection)
        return false;
    const bool answered = QTest::qWaitFor([&] { return ready(connection); }, 10000);
    XCloseDisplay(connection);
    return answered;
}

void stop(std::unique_ptr<QProcess> &process)
{
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
    process.reset();
}

} // namespace

PrivateDesktop::PrivateDesktop()
    : m_xvfb(std::make_unique<PrivateXvfb>())
    , m_display(m_xvfb->display())
{
    if (!m_xvfb->isRunning())
        m_problem = QStringLiteral("Xvfb did not start");
    else
        start(true);
}

PrivateDesktop::PrivateDesktop(const QString &display, bool withTrayHost)
    : m_display(display)
{
    start(withTrayHost);
}

void PrivateDesktop::start(bool withTrayHost)
{
    if (!m_home.isValid())
        m_problem = QStringLiteral("no temporary folder");
    else if (!startBus())
        m_problem = QStringLiteral("the session bus (dbus-daemon) did not start");
    else if (!startWindowManager())
        m_problem = QStringLiteral("the window manager (openbox) did not start");
    else if (withTrayHost && !startTrayHost())
        m_problem = QStringLiteral("the tray host (trayer) did not start");
}

PrivateDesktop::~PrivateDesktop()
{
    stop(m_trayHost);
    stop(m_windowManager);
    stop(m_bus);
}

QProcessEnvironment PrivateDesktop::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("DISPLAY"), display());
    if (m_busAddress.isEmpty())
        base.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    else
        base.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    return base;
}

bool PrivateDesktop::startBus()
{
    m_bus = std::make_unique<QProcess>();
    TestSupport::endWithTest(*m_bus);
    m_bus->setProcessEnvironment(environment());
    m_bus->setStandardErrorFile(QProcess::nullDevice());
    m_bus->start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nosyslog"),
            QStringLiteral("--print-address=1") });
    if (!m_bus->waitForStarted(10000))
        return false;
    // Its first line is the address to reach it at.
    if (!QTest::qWaitFor(
            [this] { return m_bus->canReadLine() || m_bus->state() != QProcess::Running; }, 10000))
        return false;
    m_busAddress = QString::fromUtf8(m_bus->readLine().trimmed());
    return !m_busAddress.isEmpty() && m_bus->state() == QProcess::Running;
}

bool PrivateDesktop::startWindowManager()
{
    // Its own configuration as installed: no one's personal settings.
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    m_windowManager = std::make_unique<QProcess>();
    TestSupport::endWithTest(*m_windowManager);
    m_windowManager->setProcessEnvironment(env);
    m_windowManager->setStandardOutputFile(QProcess::nullDevice());
    m_windowManager->setStandardErrorFile(QProcess::nullDevice());
    m_windowManager->start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
    if (!m_windowManager->waitForStarted(10000))
        return false;
    // A window manager that follows the window-manager hints says so on the root window.
    return waitForServer(display(), [](Display *connection) {
        const Atom check = XInternAtom(connection, "_NET_SUPPORTING_WM_CHECK", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char *data = nullptr;
        const bool found = XGetWindowProperty(connection, DefaultRootWindow(connection), check, 0, 1, False,
                               AnyPropertyType, &type, &format, &count, &after, &data)
                == Success
            && count == 1;
        if (data)
            XFree(data);
        return found;
    });
}

bool PrivateDesktop::startTrayHost()
{
    m_trayHost = std::make_unique<QProcess>();
    TestSupport::endWithTest(*m_trayHost);
    m_trayHost->setProcessEnvironment(environment());
    m_trayHost->setStandardOutputFile(QProcess::nullDevice());
    m_trayHost->setStandardErrorFile(QProcess::nullDevice());
    m_trayHost->start(QStringLiteral("trayer"),
        { QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
            QStringLiteral("--widthtype"), QStringLiteral("pixel"), QStringLiteral("--width"),
            QStringLiteral("200"), QStringLiteral("--height"), QStringLiteral("24") });
    if (!m_trayHost->waitForStarted(10000))
        return false;
    // A tray host owns the tray selection of the screen.
    return waitForServer(display(), [](Display *connection) {
        const Atom tray = XInternAtom(connection, "_NET_SYSTEM_TRAY_S0", False);
        return XGetSelectionOwner(connection, tray) != None;
    });
}
