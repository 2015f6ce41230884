#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

// One global key grab on the X11 root window, through Qt's own X connection.
//
// The grab is made for the key's modifier mask with every Caps Lock / Num Lock variant, so the
// shortcut works whatever the lock keys say. Presses reach `onPress` once each (auto-repeat is
// ignored, and a release that went to another client does not hold back the next press), posted
// to the main loop. Without an X11 connection (offscreen, Wayland without XWayland) every grab
// answers `unavailable`. Main thread only.
class X11KeyGrab : public QObject, public QAbstractNativeEventFilter
{
public:
    enum class Result { grabbed, conflict, unavailable };

    struct Modifiers
    {
        bool shift = false;
        bool control = false;
        bool alt = false;
        bool super = false;
    };

    explicit X11KeyGrab(std::function<void()> onPress, QObject *parent = nullptr);
    ~X11KeyGrab() override;

    // Whether this process talks to an X server through Qt.
    static bool isAvailable();
    // The X modifier bits for these modifiers, from the server's current modifier map.
    static std::optional<quint16> modifierMask(Modifiers modifiers);

    // Releases any grab held, then grabs `keysym` with exactly `modifierMask`. When another client
    // holds one of the combinations the answer is `conflict` and nothing stays grabbed.
    Result grab(quint32 keysym, quint16 modifierMask);
    void ungrab();
    bool isGrabbed() const { return m_keycode != 0; }
    // The filter on Qt's event stream is installed on the first grab and kept until destruction.
    bool isFilterInstalled() const { return m_filterInstalled; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    std::function<void()> m_onPress;
    bool m_filterInstalled = false;
    quint8 m_keycode = 0;
    quint16 m_mask = 0;
    quint16 m_ignoredMask = 0;
    std::vector<quint16> m_grabbedMasks;
    bool m_down = false;
    std::optional<quint32> m_lastReleaseTime;
    quint32 m_lastPressTime = 0; // repeats included; set whenever m_down is
    bool m_repeating = false; // the key held has repeated since it was pressed
    quint32 m_repeatDelay = 0; // ms
    quint32 m_repeatInterval = 0; // ms
};
