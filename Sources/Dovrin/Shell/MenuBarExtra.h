#pragma once

#include "Shell/MenuBarFallbackWindow.h"
#include "Shell/MenuBarMenu.h"
#include "Shell/MenuBarStatus.h"
#include "Shell/MenuContent.h"

#include <QObject>
#include <QPointer>

#include <functional>

class AppModel;
class QSystemTrayIcon;
class QTimer;
class X11TrayManagerWatch;

// The program's permanent presence: the tray icon with its label and menu. Where the desktop has no tray, the
// fallback window takes its place; the icon is still put up, and docks by itself if a tray appears later.
// A tray that goes away while the program runs (a panel restarting) brings the fallback window up; when a
// tray is back, the icon docks again and the fallback window steps back.
class MenuBarExtra : public QObject
{
    Q_OBJECT

public:
    struct Environment
    {
        std::function<void(const QString &id)> openWindow;
        std::function<void()> openSettings;
        std::function<void()> reveal;
        std::function<void()> quit;
        // Whether the desktop has a tray (default: asks Qt).
        std::function<bool()> trayAvailable;
    };

    // `commands` must outlive the tray.
    MenuBarExtra(
        AppModel &model, const ModelCommands &commands, Environment environment, QObject *parent = nullptr);
    ~MenuBarExtra() override;

    // Puts up the icon (and, without a tray and unless told not to, the fallback window), then the label's
    // first appearance: the activation refresh and the window asked for at start.
    void show(bool allowFallbackWindow = true);
    // Another start asked this one to come forward: without a tray, the fallback window.
    void comeForward();

    bool hasTray() const;
    // None where there is no windowing system.
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    MenuBarMenu *menu() const { return m_menu; }
    MenuBarFallbackWindow *fallbackWindow() const { return m_fallback; }
    MenuContent &content() { return m_content; }
    MenuBarStatus &status() { return m_status; }
    // The colour the tray icon is drawn in now, and the panel colour it was chosen for (an XEmbed
    // tray's, read under the docked icon; none where a StatusNotifier host draws the icon itself).
    QColor iconInk() const { return m_iconInk; }
    std::optional<QColor> panelColour() const { return m_panelColour; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateIcon();
    void showFallbackWindow();
    void trayMayHaveChanged();
    // The fallback window follows what the desktop says of its tray now.
    void trayChanged();
    // Reads the panel's colour under the icon once it has docked (a few tries while it docks).
    void lookAtPanel();

    Environment m_environment;
    MenuContent m_content;
    MenuBarStatus m_status;
    QPointer<MenuBarMenu> m_menu;
    QSystemTrayIcon *m_tray = nullptr;
    QPointer<MenuBarFallbackWindow> m_fallback;
    std::optional<bool> m_iconActive;
    QColor m_iconInk;
    std::optional<QColor> m_panelColour;
    QTimer *m_panelLook = nullptr;
    int m_panelLooksLeft = 0;
    X11TrayManagerWatch *m_trayWatch = nullptr;
    bool m_shown = false;
    bool m_allowFallbackWindow = true;
};
