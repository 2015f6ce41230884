#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

// Top-level windows of the X11 display as the window manager stacks them.
struct X11WindowInfo
{
    quint64 windowID = 0;
    // The client area in root window pixels.
    QRect geometry;
    // _NET_WM_PID; -1 when the client did not set it.
    qint64 pid = -1;
    // WM_CLASS: the instance name and the class name.
    QString wmClassInstance;
    QString wmClassName;
    QString title;
    // The desktop-file ID the client announced itself (_GTK_APPLICATION_ID, _KDE_NET_WM_DESKTOP_FILE).
    QString announcedApplicationID;
    // _NET_WM_WINDOW_TYPE as atom names, for example "_NET_WM_WINDOW_TYPE_NORMAL".
    QStringList windowTypes;
    bool hidden = false;
};

namespace X11Windows {

// Mapped client windows, frontmost first: _NET_CLIENT_LIST_STACKING where a window manager keeps
// it, else the root window's children in stacking order (no window manager). Opens its own
// connection to $DISPLAY, so it may run on any thread. Empty when no X11 display can be opened.
QList<X11WindowInfo> clientWindowsFrontToBack();

// True for windows that are part of the desktop itself or transient (desktop, dock, menus, tooltips,
// notifications, drag icons) rather than an application's working window.
bool isDesktopChrome(const X11WindowInfo &window);

} // namespace X11Windows
