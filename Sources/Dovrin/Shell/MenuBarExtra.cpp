#include "Shell/MenuBarExtra.h"

#include "Platform/X11SystemTray.h"
#include "Platform/X11TrayManagerWatch.h"
#include "Services/WindowActivation.h"
#include "Shell/MenuBarFallbackWindow.h"
#include "Shell/MenuBarMenu.h"
#include "Shell/MenuBarRecordingStatus.h"

#include <QApplication>
#include <QCursor>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// The toolkit hears of a tray's end on its own connection, a moment after the watch does; asking it
// sooner could still find the old tray.
constexpr int trayChangeSettleMs = 150;
// An icon docks within moments of being shown; past a few seconds there is no panel to look at.
constexpr int panelLookIntervalMs = 200;
constexpr int panelLooks = 25;

} // namespace

MenuBarExtra::MenuBarExtra(
    AppModel &model, const ModelCommands &commands, Environment environment, QObject *parent)
    : QObject(parent)
    , m_environment(std::move(environment))
    , m_content(model, commands,
          { [this] {
               if (m_menu && m_menu->isVisible())
                   m_menu->hide();
           },
              m_environment.openWindow, m_environment.openSettings, m_environment.reveal,
              m_environment.quit },
          this)
    , m_status(model, { m_environment.openWindow, m_environment.openSettings, m_environment.reveal }, this)
    , m_menu(new MenuBarMenu(m_content))
{
    if (!m_environment.trayAvailable)
        m_environment.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    // Without a windowing system (the self-test without a display) there is no tray to dock in.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        m_tray = new QSystemTrayIcon(this);
        m_tray->setContextMenu(m_menu);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            // A click opens the menu, as the context click already does.
            if (reason == QSystemTrayIcon::Trigger && m_menu && !m_menu->isVisible())
                m_menu->popup(QCursor::pos());
        });
        m_panelLook = new QTimer(this);
        m_panelLook->setInterval(panelLookIntervalMs);
        connect(m_panelLook, &QTimer::timeout, this, [this] {
            if (--m_panelLooksLeft <= 0)
                m_panelLook->stop();
            if (m_tray->geometry().isValid() && !m_tray->geometry().topLeft().isNull()) {
                m_panelLook->stop();
                m_panelColour = X11SystemTray::hasManager()
                    ? X11SystemTray::backgroundUnder(m_tray->geometry())
                    : std::nullopt;
                updateIcon();
            }
        });
        m_trayWatch = new X11TrayManagerWatch(this);
        connect(m_trayWatch, &X11TrayManagerWatch::managerChanged, this, &MenuBarExtra::trayMayHaveChanged);
    }
    connect(
        &m_status, &MenuBarStatus::presentationChanged, this, [this](const MenuBarStatusPresentation &shown) {
            updateIcon();
            if (m_fallback)
                m_fallback->setPresentation(shown);
        });
    // The ink follows the desktop's theme.
    qApp->installEventFilter(this);
    updateIcon();
}

MenuBarExtra::~MenuBarExtra()
{
    delete m_fallback.data();
    delete m_menu.data();
}

bool MenuBarExtra::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        updateIcon();
        lookAtPanel();
    }
    return false;
}

bool MenuBarExtra::hasTray() const
{
    return m_environment.trayAvailable();
}

void MenuBarExtra::updateIcon()
{
    if (!m_tray)
        return;
    const MenuBarStatusPresentation shown = m_status.presentation();
    const QColor ink = MenuBarRecordingStatus::panelInk(X11SystemTray::foregroundColor(),
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"), QApplication::palette(), m_panelColour);
    if (m_iconActive != shown.isActive || ink != m_iconInk) {
        m_iconActive = shown.isActive;
        m_iconInk = ink;
        m_tray->setIcon(MenuBarRecordingStatus::trayIcon(shown.isActive, ink));
    }
    m_tray->setToolTip(MenuBarRecordingStatus::toolTip(shown));
}

void MenuBarExtra::show(bool allowFallbackWindow)
{
    m_shown = true;
    m_allowFallbackWindow = allowFallbackWindow;
    if (m_tray) {
        m_tray->show();
        lookAtPanel();
    }
    if (allowFallbackWindow && !hasTray())
        showFallbackWindow();
    m_status.appear();
}

void MenuBarExtra::trayMayHaveChanged()
{
    QTimer::singleShot(trayChangeSettleMs, this, &MenuBarExtra::trayChanged);
}

void MenuBarExtra::lookAtPanel()
{
    if (!m_panelLook || !m_shown)
        return;
    m_panelLooksLeft = panelLooks;
    m_panelLook->start();
}

void MenuBarExtra::trayChanged()
{
    if (!m_shown)
        return;
    // Another tray may have another panel.
    lookAtPanel();
    if (hasTray()) {
        // The icon docks again by itself; the stand-in is no longer needed.
        if (m_fallback)
            m_fallback->close();
    } else if (m_allowFallbackWindow) {
        showFallbackWindow();
    }
}

void MenuBarExtra::comeForward()
{
    if (!hasTray())
        showFallbackWindow();
}

void MenuBarExtra::showFallbackWindow()
{
    if (!m_fallback) {
        m_fallback = new MenuBarFallbackWindow(m_content);
        m_fallback->setAttribute(Qt::WA_DeleteOnClose);
        m_fallback->setPresentation(m_status.presentation());
    }
    m_fallback->show();
    WindowActivation::reveal(m_fallback);
}
