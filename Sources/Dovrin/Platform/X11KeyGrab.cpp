#include "Platform/X11KeyGrab.h"

#include "Platform/DesktopPermissionChecks.h"
#include "Platform/XcbReply.h"

#include <QCoreApplication>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <tuple>

namespace {

constexpr quint8 badAccess = 10;
constexpr quint16 modifierBits = 0xff; // Shift, Lock, Control, Mod1 to Mod5

xcb_window_t rootWindow(xcb_connection_t *connection)
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

struct KeySymbolsDeleter
{
    void operator()(xcb_key_symbols_t *symbols) const { xcb_key_symbols_free(symbols); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

struct ModifierMap
{
    quint16 numLock = 0;
    quint16 alt = 0;
    quint16 super = 0;
};

// Which of Mod1..Mod5 carry Num Lock, Alt and Super on this server; the usual bits when unmapped.
ModifierMap readModifierMap(xcb_connection_t *connection)
{
    ModifierMap map;
    KeySymbols symbols(xcb_key_symbols_alloc(connection));
    XcbReply<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (symbols && reply) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(reply.get());
        const int perModifier = reply->keycodes_per_modifier;
        for (int modifier = 3; modifier < 8; ++modifier) {
            const auto bit = quint16(1u << modifier);
            for (int k = 0; k < perModifier; ++k) {
                const xcb_keycode_t code = codes[modifier * perModifier + k];
                if (code == 0)
                    continue;
                for (int column = 0; column < 4; ++column) {
                    switch (xcb_key_symbols_get_keysym(symbols.get(), code, column)) {
                    case XK_Num_Lock:
                        map.numLock |= bit;
                        break;
                    case XK_Alt_L:
                    case XK_Alt_R:
                        map.alt |= bit;
                        break;
                    case XK_Super_L:
                    case XK_Super_R:
                        map.super |= bit;
                        break;
                    default:
                        break;
                    }
                }
            }
        }
    }
    if (!map.numLock)
        map.numLock = XCB_MOD_MASK_2;
    if (!map.alt)
        map.alt = XCB_MOD_MASK_1;
    if (!map.super)
        map.super = XCB_MOD_MASK_4;
    return map;
}

xcb_keycode_t keycodeFor(xcb_connection_t *connection, quint32 keysym)
{
    KeySymbols symbols(xcb_key_symbols_alloc(connection));
    if (!symbols)
        return 0;
    XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols.get(), keysym));
    return codes ? codes.get()[0] : 0;
}

// The server's repeat delay (before a held key's first repeat) and interval (between the next
// ones), in milliseconds; the X defaults when it cannot say.
std::pair<quint32, quint32> repeatRate()
{
    unsigned int delay = 660;
    unsigned int interval = 40;
    if (Display *display = DesktopPermissionChecks::qtDisplay()) {
        unsigned int serverDelay = 0;
        unsigned int serverInterval = 0;
        if (XkbGetAutoRepeatRate(display, XkbUseCoreKbd, &serverDelay, &serverInterval)) {
            delay = serverDelay;
            interval = serverInterval;
        }
    }
    return { delay, interval };
}

} // namespace

X11KeyGrab::X11KeyGrab(std::function<void()> onPress, QObject *parent)
    : QObject(parent)
    , m_onPress(std::move(onPress))
{ }

X11KeyGrab::~X11KeyGrab()
{
    ungrab();
    if (m_filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11KeyGrab::isAvailable()
{
    return DesktopPermissionChecks::qtConnection() != nullptr;
}

std::optional<quint16> X11KeyGrab::modifierMask(Modifiers modifiers)
{
    xcb_connection_t *connection = DesktopPermissionChecks::qtConnection();
    if (!connection)
        return std::nullopt;
    const ModifierMap map = readModifierMap(connection);
    quint16 mask = 0;
    if (modifiers.shift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers.control)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers.alt)
        mask |= map.alt;
    if (modifiers.super)
        mask |= map.super;
    return mask;
}

X11KeyGrab::Result X11KeyGrab::grab(quint32 keysym, quint16 modifierMask)
{
    ungrab();
    xcb_connection_t *connection = DesktopPermissionChecks::qtConnection();
    if (!connection)
        return Result::unavailable;
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    const xcb_keycode_t keycode = keycodeFor(connection, keysym);
    if (keycode == 0)
        return Result::unavailable;

    const ModifierMap map = readModifierMap(connection);
    const quint16 locks = quint16(XCB_MOD_MASK_LOCK | map.numLock);
    const quint16 mask = quint16(modifierMask & modifierBits & ~locks);
    std::vector<quint16> variants;
    for (quint16 lock :
        { quint16(0), quint16(XCB_MOD_MASK_LOCK), map.numLock, quint16(XCB_MOD_MASK_LOCK | map.numLock) }) {
        if (std::find(variants.begin(), variants.end(), quint16(mask | lock)) == variants.end())
            variants.push_back(quint16(mask | lock));
    }

    const xcb_window_t root = rootWindow(connection);
    std::vector<xcb_void_cookie_t> cookies;
    for (quint16 variant : variants) {
        cookies.push_back(xcb_grab_key_checked(
            connection, 1, root, variant, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    Result result = Result::grabbed;
    std::vector<quint16> held;
    for (size_t i = 0; i < cookies.size(); ++i) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(connection, cookies[i]));
        if (!error)
            held.push_back(variants[i]);
        else if (error->error_code == badAccess)
            result = Result::conflict;
        else if (result == Result::grabbed)
            result = Result::unavailable;
    }
    if (result != Result::grabbed) {
        // All or nothing: a half-grabbed shortcut would work only with some lock keys on.
        for (quint16 variant : held)
            xcb_ungrab_key(connection, keycode, root, variant);
        xcb_flush(connection);
        return result;
    }
    m_keycode = keycode;
    m_mask = mask;
    m_ignoredMask = locks;
    m_grabbedMasks = std::move(held);
    m_down = false;
    std::tie(m_repeatDelay, m_repeatInterval) = repeatRate();
    return Result::grabbed;
}

void X11KeyGrab::ungrab()
{
    if (!m_keycode)
        return;
    if (xcb_connection_t *connection = DesktopPermissionChecks::qtConnection()) {
        const xcb_window_t root = rootWindow(connection);
        for (quint16 variant : m_grabbedMasks)
            xcb_ungrab_key(connection, m_keycode, root, variant);
        xcb_flush(connection);
    }
    m_keycode = 0;
    m_mask = 0;
    m_grabbedMasks.clear();
    m_down = false;
    m_lastReleaseTime.reset();
    m_repeating = false;
}

bool X11KeyGrab::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!m_keycode || eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const quint8 type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
    if (key->detail != m_keycode)
        return false;
    if (type == XCB_KEY_RELEASE) {
        // The modifiers may already be up when the key is released.
        if (!m_down)
            return false;
        m_down = false;
        m_lastReleaseTime = key->time;
        return true;
    }
    if ((key->state & modifierBits & ~m_ignoredMask) != m_mask)
        return false;
    // A held key repeats as presses without releases, or, where the server reports repeats the old
    // way, as a release and a press with the same time: one press, one action. The release can go
    // to another client (when a window of ours takes the keyboard and lets it go while the key is
    // held): then a press that does not come when the server's repeat would is a new one.
    bool repeat = false;
    if (m_down) {
        // Server times, stamped when the server's repeat timer fires: never early, late only
        // when the server is very busy.
        const quint32 since = key->time - m_lastPressTime;
        const quint32 slack = 500;
        repeat = m_repeating ? since <= m_repeatInterval + slack
                             : since + 20 >= m_repeatDelay && since <= m_repeatDelay + slack;
    } else {
        repeat = m_lastReleaseTime && key->time == *m_lastReleaseTime;
    }
    m_repeating = m_down && repeat;
    m_down = true;
    m_lastPressTime = key->time;
    if (repeat)
        return true;
    QMetaObject::invokeMethod(
        this, [this] { m_onPress(); }, Qt::QueuedConnection);
    return true;
}
