#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <optional>

struct _XDisplay;

// What a person sees of a desktop, read from its X server: the windows on screen with their titles,
// owners and places, the tray's icons and the pixels. Also the window controls a panel offers
// (bring a window forward, close it).
class DesktopWindows
{
public:
    struct Window
    {
        unsigned long id = 0; // the application's window
        QString title;
        QString windowClass; // WM_CLASS, instance and class joined by a dot
        qint64 pid = 0;
        QRect geometry; // the application's window in root pixels, without a frame
        bool overrideRedirect = false;
        QStringList types; // _NET_WM_WINDOW_TYPE without its prefix, lower case: "popup_menu"
    };

    explicit DesktopWindows(const QString &display);
    ~DesktopWindows();
    DesktopWindows(const DesktopWindows &) = delete;
    DesktopWindows &operator=(const DesktopWindows &) = delete;

    bool isOpen() const { return m_display != nullptr; }
    QSize screenSize() const;

    // The windows on screen, bottom to top.
    QList<Window> windows() const;
    // The topmost window on screen with that title (and of that process, unless 0).
    std::optional<Window> window(const QString &title, qint64 pid = 0) const;
    // The pop-ups of that process on screen, topmost first (menus, lists that drop down, tool tips,
    // panels): windows without a frame that do not cover the screen.
    QList<Window> popups(qint64 pid) const;
    // The process's icon docked in the tray of `trayHostPid`, in root pixels.
    std::optional<QRect> trayIcon(qint64 trayHostPid, qint64 pid) const;
    std::optional<Window> activeWindow() const;

    // Brings the window forward as a task bar does.
    void activate(const Window &window) const;
    // Asks the window to close, as its title bar's close button does.
    void close(const Window &window) const;

    // The screen's pixels (or those of `area`).
    QImage grab(QRect area = {}) const;

private:
    std::optional<Window> describe(unsigned long id) const;
    unsigned long clientOf(unsigned long frame) const;
    QList<unsigned long> children(unsigned long id) const;
    bool isViewable(unsigned long id) const;
    QRect rootGeometry(unsigned long id) const;
    qint64 pidOf(unsigned long id) const;

    _XDisplay *m_display = nullptr;
};
