#pragma once

#include "Rules/PermissionPresentation.h"

#include <QObject>

#include <chrono>

struct xcb_connection_t;

// What stands behind each permission on an X11 desktop. Nothing here asks the user anything: X11
// has no such prompts, so each check is a fact about the session.
namespace DesktopPermissionChecks {

// Qt's own X connection; none offscreen or on Wayland without XWayland.
xcb_connection_t *qtConnection();
// Screen Recording: a 1x1 image of the root window can be read.
bool canReadScreen(xcb_connection_t *connection);
// Control Scrolling: the XTEST extension is there to post scroll steps with.
bool canPostEvents(xcb_connection_t *connection);

// Microphone: the sound server answers and offers a microphone (AudioInputHardware's devices).
enum class SoundInput { available, missing, unreachable };
// Blocks for at most `timeout`: never call it on the UI thread.
SoundInput probeSoundInput(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
MicrophoneAuthorizationFact microphoneFact(SoundInput input);

} // namespace DesktopPermissionChecks

// The last microphone answer, kept fresh off the UI thread: reading it never waits, and each read
// starts a new probe when none is running. `changed` fires when a probe's answer differs.
class MicrophoneAvailability : public QObject
{
    Q_OBJECT

public:
    static MicrophoneAvailability &shared();

    // unknown until the first probe has answered.
    MicrophoneAuthorizationFact current();
    void refresh();

signals:
    void changed();

private:
    using QObject::QObject;
    MicrophoneAuthorizationFact m_fact = MicrophoneAuthorizationFact::unknown;
    bool m_probing = false;
};
