#include "Platform/X11SystemTray.h"

#include "Platform/DesktopPermissionChecks.h"
#include "Platform/XcbReply.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>

using DesktopPermissionChecks::qtConnection;

namespace {

xcb_atom_t atom(xcb_connection_t *connection, const QByteArray &name)
{
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, quint16(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The screen number of $DISPLAY (":0.1" is screen 1), whose tray Qt docks into.
int defaultScreen()
{
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    const qsizetype dot = display.indexOf('.', colon);
    return colon >= 0 && dot > colon ? display.mid(dot + 1).toInt() : 0;
}

xcb_window_t manager(xcb_connection_t *connection)
{
    const int screen = defaultScreen();
    const xcb_atom_t selection = atom(connection, "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen));
    if (selection == XCB_ATOM_NONE)
        return XCB_WINDOW_NONE;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr));
    return owner ? owner->owner : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

namespace X11SystemTray {

bool hasManager()
{
    xcb_connection_t *connection = qtConnection();
    return connection && manager(connection) != XCB_WINDOW_NONE;
}

std::optional<QColor> foregroundColor()
{
    xcb_connection_t *connection = qtConnection();
    if (!connection)
        return std::nullopt;
    const xcb_window_t window = manager(connection);
    const xcb_atom_t colors = atom(connection, "_NET_SYSTEM_TRAY_COLORS");
    if (window == XCB_WINDOW_NONE || colors == XCB_ATOM_NONE)
        return std::nullopt;
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, colors, XCB_ATOM_CARDINAL, 0, 12), nullptr));
    if (!reply || reply->format != 32
        || xcb_get_property_value_length(reply.get()) < int(3 * sizeof(quint32)))
        return std::nullopt;
    quint32 rgb[3];
    std::memcpy(rgb, xcb_get_property_value(reply.get()), sizeof rgb);
    // Each channel is 16 bits wide.
    return QColor::fromRgba64(quint16(rgb[0]), quint16(rgb[1]), quint16(rgb[2]));
}

std::optional<QColor> backgroundUnder(const QRect &iconGeometry)
{
    if (!qtConnection() || iconGeometry.width() < 8 || iconGeometry.height() < 8)
        return std::nullopt;
    QScreen *screen = QGuiApplication::screenAt(iconGeometry.center());
    if (!screen)
        return std::nullopt;
    const QRect onScreen = iconGeometry.translated(-screen->geometry().topLeft());
    const QImage grabbed
        = screen->grabWindow(0, onScreen.x(), onScreen.y(), onScreen.width(), onScreen.height())
              .toImage()
              .convertToFormat(QImage::Format_RGB32);
    if (grabbed.width() < 4 || grabbed.height() < 4)
        return std::nullopt;
    QList<QColor> corners;
    for (const int x : { 0, 1, grabbed.width() - 2, grabbed.width() - 1 }) {
        for (const int y : { 0, 1, grabbed.height() - 2, grabbed.height() - 1 })
            corners << grabbed.pixelColor(x, y);
    }
    // The median by lightness: a stray pixel of the icon or of a neighbour does not decide.
    std::sort(corners.begin(), corners.end(),
        [](const QColor &a, const QColor &b) { return a.lightnessF() < b.lightnessF(); });
    return corners.at(corners.size() / 2);
}

} // namespace X11SystemTray
