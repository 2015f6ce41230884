#include "Platform/X11Windows.h"

#include "Platform/XcbReply.h"

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace X11Windows {

namespace {

// xcb reports a failed request (a window that vanished meanwhile) in its reply, never through a
// process-wide error handler, so this may run on any thread beside the GUI's own connection.
class Connection
{
public:
    Connection()
    {
        int screenNumber = 0;
        m_connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_connection)) {
            xcb_disconnect(m_connection);
            m_connection = nullptr;
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        m_root = it.rem ? it.data->root : XCB_NONE;
    }
    ~Connection()
    {
        if (m_connection)
            xcb_disconnect(m_connection);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool isValid() const { return m_connection && m_root != XCB_NONE; }
    xcb_connection_t *get() const { return m_connection; }
    xcb_window_t root() const { return m_root; }

    xcb_atom_t atom(const char *name) const
    {
        auto r = xcbReply(xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(qstrlen(name)), name), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_NONE);
    }

    QString atomName(xcb_atom_t value) const
    {
        auto r = xcbReply(
            xcb_get_atom_name_reply(m_connection, xcb_get_atom_name(m_connection, value), nullptr));
        if (!r)
            return {};
        return QString::fromLatin1(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get()));
    }

    std::vector<uint32_t> words(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const
    {
        std::vector<uint32_t> values;
        auto r = xcbReply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, 1 << 16), nullptr));
        if (r && r->format == 32) {
            const auto *items = static_cast<const uint32_t *>(xcb_get_property_value(r.get()));
            values.assign(items, items + xcb_get_property_value_length(r.get()) / 4);
        }
        return values;
    }

    QByteArray bytes(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const
    {
        auto r = xcbReply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, property, type, 0, 1 << 16), nullptr));
        if (!r || r->format != 8)
            return {};
        return QByteArray(static_cast<const char *>(xcb_get_property_value(r.get())),
            xcb_get_property_value_length(r.get()));
    }

    bool isViewable(xcb_window_t window) const
    {
        auto r = xcbReply(xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
        return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    std::vector<xcb_window_t> children(xcb_window_t window) const
    {
        auto r = xcbReply(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
        if (!r)
            return {};
        const xcb_window_t *items = xcb_query_tree_children(r.get());
        return std::vector<xcb_window_t>(items, items + xcb_query_tree_children_length(r.get()));
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = XCB_NONE;
};

QString text(const QByteArray &bytes)
{
    QString value = QString::fromUtf8(bytes);
    const qsizetype nul = value.indexOf(QChar(0));
    return nul >= 0 ? value.left(nul) : value;
}

// The client window inside a frame that a reparenting window manager put around it. Not inlined:
// g++ 12 misreads the inlined recursion as freeing a non-heap pointer.
[[gnu::noinline]] xcb_window_t clientWithin(const Connection &x, xcb_window_t window, int depth = 0)
{
    if (!x.bytes(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).isEmpty())
        return window;
    if (depth > 3)
        return XCB_NONE;
    const std::vector<xcb_window_t> children = x.children(window);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (xcb_window_t found = clientWithin(x, *it, depth + 1))
            return found;
    }
    return XCB_NONE;
}

std::vector<xcb_window_t> stackingBottomToTop(const Connection &x)
{
    const std::vector<uint32_t> managed
        = x.words(x.root(), x.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (!managed.empty())
        return std::vector<xcb_window_t>(managed.begin(), managed.end());
    std::vector<xcb_window_t> windows;
    for (xcb_window_t child : x.children(x.root())) {
        if (!x.isViewable(child))
            continue;
        if (xcb_window_t client = clientWithin(x, child))
            windows.push_back(client);
    }
    return windows;
}

} // namespace

QList<X11WindowInfo> clientWindowsFrontToBack()
{
    QList<X11WindowInfo> result;
    Connection x;
    if (!x.isValid())
        return result;
    const xcb_atom_t utf8String = x.atom("UTF8_STRING");
    const xcb_atom_t hiddenState = x.atom("_NET_WM_STATE_HIDDEN");
    const xcb_atom_t pidAtom = x.atom("_NET_WM_PID");
    const xcb_atom_t nameAtom = x.atom("_NET_WM_NAME");
    const xcb_atom_t typeAtom = x.atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t stateAtom = x.atom("_NET_WM_STATE");
    const xcb_atom_t gtkIDAtom = x.atom("_GTK_APPLICATION_ID");
    const xcb_atom_t kdeIDAtom = x.atom("_KDE_NET_WM_DESKTOP_FILE");

    const std::vector<xcb_window_t> stacking = stackingBottomToTop(x);
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        const xcb_window_t window = *it;
        if (!x.isViewable(window))
            continue;
        auto geometry = xcbReply(xcb_get_geometry_reply(x.get(), xcb_get_geometry(x.get(), window), nullptr));
        auto origin = xcbReply(xcb_translate_coordinates_reply(
            x.get(), xcb_translate_coordinates(x.get(), window, x.root(), 0, 0), nullptr));
        if (!geometry || !origin)
            continue;
        X11WindowInfo info;
        info.windowID = window;
        info.geometry = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);

        const std::vector<uint32_t> pid = x.words(window, pidAtom, XCB_ATOM_CARDINAL);
        if (!pid.empty())
            info.pid = qint64(pid.front());

        // WM_CLASS is two NUL-terminated strings: the instance, then the class.
        const QList<QByteArray> wmClass = x.bytes(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
        if (!wmClass.isEmpty())
            info.wmClassInstance = QString::fromLocal8Bit(wmClass.value(0));
        if (wmClass.size() > 1)
            info.wmClassName = QString::fromLocal8Bit(wmClass.value(1));

        info.title = text(x.bytes(window, nameAtom, utf8String));
        if (info.title.isEmpty())
            info.title = QString::fromLatin1(x.bytes(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING));

        for (xcb_atom_t property : { gtkIDAtom, kdeIDAtom }) {
            info.announcedApplicationID = text(x.bytes(window, property, utf8String));
            if (info.announcedApplicationID.isEmpty())
                info.announcedApplicationID = text(x.bytes(window, property, XCB_ATOM_STRING));
            if (!info.announcedApplicationID.isEmpty())
                break;
        }

        for (uint32_t type : x.words(window, typeAtom, XCB_ATOM_ATOM))
            info.windowTypes.append(x.atomName(type));
        for (uint32_t state : x.words(window, stateAtom, XCB_ATOM_ATOM)) {
            if (state == hiddenState)
                info.hidden = true;
        }
        result.append(info);
    }
    return result;
}

bool isDesktopChrome(const X11WindowInfo &window)
{
    static const QStringList chrome {
        "_NET_WM_WINDOW_TYPE_DESKTOP",
        "_NET_WM_WINDOW_TYPE_DOCK",
        "_NET_WM_WINDOW_TYPE_TOOLBAR",
        "_NET_WM_WINDOW_TYPE_MENU",
        "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
        "_NET_WM_WINDOW_TYPE_POPUP_MENU",
        "_NET_WM_WINDOW_TYPE_TOOLTIP",
        "_NET_WM_WINDOW_TYPE_NOTIFICATION",
        "_NET_WM_WINDOW_TYPE_COMBO",
        "_NET_WM_WINDOW_TYPE_DND",
        "_NET_WM_WINDOW_TYPE_SPLASH",
    };
    for (const QString &type : window.windowTypes) {
        if (chrome.contains(type))
            return true;
    }
    return false;
}

} // namespace X11Windows
