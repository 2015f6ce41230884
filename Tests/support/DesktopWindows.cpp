#include "DesktopWindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <functional>

namespace {

// One property as bytes, whatever its format (32-bit items are longs on the client side).
QByteArray property(Display *display, ::Window window, const char *name, Atom type = AnyPropertyType)
{
    const Atom atom = XInternAtom(display, name, False);
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(
            display, window, atom, 0, 1 << 16, False, type, &actualType, &format, &count, &after, &data)
            != Success
        || !data)
        return {};
    const int itemSize = format == 32 ? int(sizeof(long)) : format / 8;
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(count) * itemSize);
    XFree(data);
    return bytes;
}

QList<long> longs(const QByteArray &bytes)
{
    QList<long> values(bytes.size() / qsizetype(sizeof(long)));
    if (!values.isEmpty())
        std::memcpy(values.data(), bytes.constData(), size_t(values.size()) * sizeof(long));
    return values;
}

// Windows come and go while they are asked about: a window gone meanwhile answers nothing, and
// the default handler would end the test instead.
int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

DesktopWindows::DesktopWindows(const QString &display)
    : m_display(XOpenDisplay(display.toLocal8Bit().constData()))
{
    XSetErrorHandler(&ignoreErrors);
}

DesktopWindows::~DesktopWindows()
{
    if (m_display)
        XCloseDisplay(m_display);
}

QSize DesktopWindows::screenSize() const
{
    if (!m_display)
        return {};
    return { DisplayWidth(m_display, DefaultScreen(m_display)),
        DisplayHeight(m_display, DefaultScreen(m_display)) };
}

QList<unsigned long> DesktopWindows::children(unsigned long id) const
{
    ::Window root = 0;
    ::Window parent = 0;
    ::Window *list = nullptr;
    unsigned int count = 0;
    QList<unsigned long> result;
    if (!XQueryTree(m_display, id, &root, &parent, &list, &count))
        return result;
    for (unsigned int i = 0; i < count; ++i)
        result << list[i];
    if (list)
        XFree(list);
    return result;
}

bool DesktopWindows::isViewable(unsigned long id) const
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(m_display, id, &attributes) && attributes.map_state == IsViewable;
}

QRect DesktopWindows::rootGeometry(unsigned long id) const
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(m_display, id, &attributes))
        return {};
    int x = 0;
    int y = 0;
    ::Window child = 0;
    XTranslateCoordinates(m_display, id, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
    return { x, y, attributes.width, attributes.height };
}

qint64 DesktopWindows::pidOf(unsigned long id) const
{
    const QList<long> pid = longs(property(m_display, id, "_NET_WM_PID", XA_CARDINAL));
    return pid.isEmpty() ? 0 : pid.first();
}

unsigned long DesktopWindows::clientOf(unsigned long frame) const
{
    // A window manager's frame holds the application's window: the one with WM_STATE.
    if (!property(m_display, frame, "WM_STATE").isEmpty())
        return frame;
    for (const unsigned long child : children(frame)) {
        if (const unsigned long client = clientOf(child))
            return client;
    }
    return 0;
}

std::optional<DesktopWindows::Window> DesktopWindows::describe(unsigned long id) const
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(m_display, id, &attributes))
        return std::nullopt;
    Window window;
    window.id = id;
    window.overrideRedirect = attributes.override_redirect;
    window.geometry = rootGeometry(id);
    window.pid = pidOf(id);
    window.title = QString::fromUtf8(property(m_display, id, "_NET_WM_NAME"));
    if (window.title.isEmpty())
        window.title = QString::fromLatin1(property(m_display, id, "WM_NAME"));
    const QList<QByteArray> names = property(m_display, id, "WM_CLASS").split('\0');
    QStringList classes;
    for (const QByteArray &name : names) {
        if (!name.isEmpty())
            classes << QString::fromLatin1(name);
    }
    window.windowClass = classes.join(u'.');
    for (const long type : longs(property(m_display, id, "_NET_WM_WINDOW_TYPE", XA_ATOM))) {
        if (char *name = XGetAtomName(m_display, Atom(type))) {
            window.types
                << QString::fromLatin1(name).remove(QStringLiteral("_NET_WM_WINDOW_TYPE_")).toLower();
            XFree(name);
        }
    }
    return window;
}

QList<DesktopWindows::Window> DesktopWindows::windows() const
{
    QList<Window> result;
    if (!m_display)
        return result;
    for (const unsigned long top : children(DefaultRootWindow(m_display))) {
        if (!isViewable(top))
            continue;
        unsigned long client = clientOf(top);
        if (!client) {
            XWindowAttributes attributes;
            // Menus and overlays put themselves on screen without a frame.
            if (!XGetWindowAttributes(m_display, top, &attributes) || !attributes.override_redirect)
                continue;
            client = top;
        }
        if (const std::optional<Window> window = describe(client))
            result << *window;
    }
    return result;
}

std::optional<DesktopWindows::Window> DesktopWindows::window(const QString &title, qint64 pid) const
{
    const QList<Window> all = windows();
    for (auto it = all.crbegin(); it != all.crend(); ++it) {
        if (it->title == title && (pid == 0 || it->pid == pid))
            return *it;
    }
    return std::nullopt;
}

QList<DesktopWindows::Window> DesktopWindows::popups(qint64 pid) const
{
    const QList<Window> all = windows();
    const QRect screen(QPoint(0, 0), screenSize());
    QList<Window> result;
    for (auto it = all.crbegin(); it != all.crend(); ++it) {
        if (it->pid == pid && it->overrideRedirect && !it->geometry.contains(screen))
            result << *it;
    }
    return result;
}

std::optional<QRect> DesktopWindows::trayIcon(qint64 trayHostPid, qint64 pid) const
{
    if (!m_display)
        return std::nullopt;
    // The icon is a window of the program inside one of the tray host's.
    std::optional<QRect> found;
    std::function<void(unsigned long, bool)> walk = [&](unsigned long id, bool insideHost) {
        if (found)
            return;
        const qint64 owner = pidOf(id);
        if (insideHost && owner == pid && isViewable(id)) {
            found = rootGeometry(id);
            return;
        }
        const bool host = insideHost || (owner != 0 && owner == trayHostPid);
        for (const unsigned long child : children(id))
            walk(child, host);
    };
    walk(DefaultRootWindow(m_display), false);
    return found;
}

std::optional<DesktopWindows::Window> DesktopWindows::activeWindow() const
{
    if (!m_display)
        return std::nullopt;
    const QList<long> active
        = longs(property(m_display, DefaultRootWindow(m_display), "_NET_ACTIVE_WINDOW", XA_WINDOW));
    if (active.isEmpty() || active.first() == 0)
        return std::nullopt;
    return describe(static_cast<unsigned long>(active.first()));
}

void DesktopWindows::activate(const Window &window) const
{
    if (!m_display)
        return;
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.id;
    event.xclient.message_type = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // from a pager or task bar, as a person's click there
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, DefaultRootWindow(m_display), False,
        SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(m_display, False);
}

void DesktopWindows::close(const Window &window) const
{
    if (!m_display)
        return;
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.id;
    event.xclient.message_type = XInternAtom(m_display, "_NET_CLOSE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2;
    XSendEvent(m_display, DefaultRootWindow(m_display), False,
        SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(m_display, False);
}

QImage DesktopWindows::grab(QRect area) const
{
    if (!m_display)
        return {};
    const QRect screen(QPoint(0, 0), screenSize());
    area = area.isNull() ? screen : area.intersected(screen);
    if (area.isEmpty())
        return {};
    XImage *image = XGetImage(m_display, DefaultRootWindow(m_display), area.x(), area.y(),
        unsigned(area.width()), unsigned(area.height()), AllPlanes, ZPixmap);
    if (!image)
        return {};
    QImage result(area.size(), QImage::Format_RGB32);
    const bool native = image->bits_per_pixel == 32 && image->byte_order == LSBFirst
        && image->red_mask == 0xff0000 && image->green_mask == 0xff00 && image->blue_mask == 0xff;
    for (int y = 0; y < area.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        const auto *row
            = reinterpret_cast<const quint32 *>(image->data + qsizetype(y) * image->bytes_per_line);
        for (int x = 0; x < area.width(); ++x) {
            const unsigned long pixel = native ? row[x] : XGetPixel(image, x, y);
            line[x] = 0xff000000u | QRgb(pixel & 0xffffff);
        }
    }
    XDestroyImage(image);
    return result;
}
