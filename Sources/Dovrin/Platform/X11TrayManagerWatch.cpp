#include "Platform/X11TrayManagerWatch.h"

#include "Platform/XcbReply.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <xcb/xcb.h>

namespace {

xcb_atom_t internAtom(xcb_connection_t *connection, const QByteArray &name)
{
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, quint16(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t selectionOwner(xcb_connection_t *connection, xcb_atom_t selection)
{
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr));
    return owner ? owner->owner : xcb_window_t(XCB_WINDOW_NONE);
}

void selectStructureEvents(xcb_connection_t *connection, xcb_window_t window)
{
    const quint32 mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
}

} // namespace

X11TrayManagerWatch::X11TrayManagerWatch(QObject *parent)
    : QObject(parent)
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return;
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(display.constData(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_selection = internAtom(connection, "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber));
    m_managerAtom = internAtom(connection, "MANAGER");
    if (screens.rem == 0 || m_selection == XCB_ATOM_NONE || m_managerAtom == XCB_ATOM_NONE) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    // A new manager announces itself to the root window; listen there before asking who owns the tray.
    selectStructureEvents(connection, screens.data->root);
    follow(selectionOwner(connection, m_selection));
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11TrayManagerWatch::readEvents);
    // The round trips above may have queued events already.
    readEvents();
}

X11TrayManagerWatch::~X11TrayManagerWatch()
{
    delete m_notifier;
    if (m_connection)
        xcb_disconnect(m_connection);
}

void X11TrayManagerWatch::follow(std::uint32_t manager)
{
    m_manager = manager;
    if (manager == XCB_WINDOW_NONE)
        return;
    selectStructureEvents(m_connection, manager);
    // A manager that went away before it was watched would never report its end: ask once more.
    const xcb_window_t now = selectionOwner(m_connection, m_selection);
    if (now != manager)
        follow(now);
}

void X11TrayManagerWatch::readEvents()
{
    if (!m_connection)
        return;
    const bool had = hasManager();
    while (XcbReply<xcb_generic_event_t> event { xcb_poll_for_event(m_connection) }) {
        const quint8 type = event->response_type & 0x7f;
        if (type == XCB_CLIENT_MESSAGE) {
            const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event.get());
            if (message->type == m_managerAtom && message->format == 32
                && message->data.data32[1] == m_selection)
                follow(message->data.data32[2]);
        } else if (type == XCB_DESTROY_NOTIFY) {
            const auto *destroyed = reinterpret_cast<const xcb_destroy_notify_event_t *>(event.get());
            if (destroyed->window == m_manager)
                follow(selectionOwner(m_connection, m_selection));
        }
        // Errors (a manager window gone before it could be watched) and other events need nothing.
    }
    if (xcb_connection_has_error(m_connection)) {
        // The X server went away: nothing more to watch.
        m_notifier->setEnabled(false);
        m_manager = 0;
    }
    if (had != hasManager())
        emit managerChanged(hasManager());
}
