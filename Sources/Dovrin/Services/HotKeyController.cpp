#include "Services/HotKeyController.h"

#include "Platform/X11KeyGrab.h"
#include "Rules/KeyTable.h"

HotKeyController::HotKeyController(
    std::function<void()> action, QObject *parent, std::chrono::milliseconds retryInterval)
    : QObject(parent)
    , m_action(std::move(action))
    , m_wanted(CaptureShortcut::defaultShortcut())
{
    m_retry.setInterval(retryInterval);
    QObject::connect(&m_retry, &QTimer::timeout, this, [this] { retry(); });
}

HotKeyController::~HotKeyController() = default;

void HotKeyController::setRegistrationChanged(std::function<void(HotKeyRegistrationState)> changed)
{
    m_changed = std::move(changed);
}

HotKeyRegistrationState HotKeyController::registerShortcut(const CaptureShortcut &shortcut)
{
    m_retry.stop();
    m_wanted = shortcut;
    const HotKeyRegistrationState state = grab(shortcut);
    if (state == HotKeyRegistrationState::conflict)
        m_retry.start();
    return state;
}

void HotKeyController::retry()
{
    const HotKeyRegistrationState state = grab(m_wanted);
    if (state == HotKeyRegistrationState::conflict)
        return;
    m_retry.stop();
    if (m_changed)
        m_changed(state);
}

HotKeyRegistrationState HotKeyController::grab(const CaptureShortcut &shortcut)
{
    if (!m_handler) {
        // No X11 connection (offscreen, or Wayland without XWayland): nothing can be grabbed.
        if (!X11KeyGrab::isAvailable())
            return HotKeyRegistrationState::unavailable;
        m_handler = std::make_unique<X11KeyGrab>([this] {
            if (m_action)
                m_action();
        });
    }
    m_handler->ungrab();

    const std::optional<quint32> keysym = KeyTable::keysym(shortcut.keyCode);
    const quint32 bits = shortcut.carbonModifiers;
    const std::optional<quint16> mask = X11KeyGrab::modifierMask({
        .shift = (bits & KeyTable::shiftBit) != 0,
        .control = (bits & KeyTable::controlBit) != 0,
        .alt = (bits & KeyTable::optionBit) != 0,
        .super = (bits & KeyTable::commandBit) != 0,
    });
    if (!keysym || *keysym == 0 || !mask)
        return HotKeyRegistrationState::unavailable;

    switch (m_handler->grab(*keysym, *mask)) {
    case X11KeyGrab::Result::grabbed:
        return HotKeyRegistrationState::registered;
    case X11KeyGrab::Result::conflict:
        return HotKeyRegistrationState::conflict;
    case X11KeyGrab::Result::unavailable:
        break;
    }
    return HotKeyRegistrationState::unavailable;
}

bool HotKeyController::isRegistered() const
{
    return m_handler && m_handler->isGrabbed();
}
