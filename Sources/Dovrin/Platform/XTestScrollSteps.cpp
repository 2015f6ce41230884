#include "Platform/XTestScrollSteps.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr unsigned int wheelDownButton = 5;

} // namespace

struct XTestScrollSteps::Connection
{
    Display *display = nullptr;
    bool hasXTest = false;

    Connection()
    {
        display = XOpenDisplay(nullptr);
        if (!display)
            return;
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        hasXTest = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor);
    }
    ~Connection()
    {
        if (display)
            XCloseDisplay(display);
    }
};

XTestScrollSteps::XTestScrollSteps()
    : m_connection(std::make_unique<Connection>())
{ }

XTestScrollSteps::~XTestScrollSteps() = default;

bool XTestScrollSteps::isConnected() const
{
    return m_connection->display != nullptr;
}

bool XTestScrollSteps::isAvailable() const
{
    return m_connection->display && m_connection->hasXTest;
}

QPoint XTestScrollSteps::pointerPosition() const
{
    Display *display = m_connection->display;
    if (!display)
        return QPoint(-1, -1);
    Window root = 0, child = 0;
    int rootX = -1, rootY = -1, windowX = 0, windowY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(
            display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX, &windowY, &mask))
        return QPoint(-1, -1);
    return QPoint(rootX, rootY);
}

bool XTestScrollSteps::scrollDown(QPoint rootPoint, int notches)
{
    Display *display = m_connection->display;
    if (!isAvailable() || notches <= 0)
        return false;
    notches = std::min(notches, maximumNotches);
    const QPoint back = pointerPosition();
    // The wheel goes to the window under the pointer, so the pointer visits the region for the
    // clicks; the server handles the requests in order, so the clicks land there.
    XTestFakeMotionEvent(display, -1, rootPoint.x(), rootPoint.y(), CurrentTime);
    for (int i = 0; i < notches; ++i) {
        XTestFakeButtonEvent(display, wheelDownButton, True, CurrentTime);
        XTestFakeButtonEvent(display, wheelDownButton, False, CurrentTime);
    }
    if (back.x() >= 0)
        XTestFakeMotionEvent(display, -1, back.x(), back.y(), CurrentTime);
    XSync(display, False);
    return true;
}

bool XTestScrollSteps::isWindowViewable(quint64 windowID) const
{
    Display *display = m_connection->display;
    if (!display || windowID == 0 || windowID > 0xffffffffu)
        return false;
    // A checked request on the XCB side answers a vanished window with an error of its own,
    // without Xlib's process-wide error handler.
    xcb_connection_t *connection = XGetXCBConnection(display);
    xcb_generic_error_t *error = nullptr;
    xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, xcb_window_t(windowID)), &error);
    std::free(error);
    if (!reply)
        return false;
    const bool viewable = reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}
