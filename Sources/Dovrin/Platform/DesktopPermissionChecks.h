#pragma once

#include "Async/Task.h"
#include "Rules/PermissionPresentation.h"

#include <chrono>

struct xcb_connection_t;
struct _XDisplay;

// What stands behind each permission on an X11 desktop. Nothing here asks the user anything: X11
// has no such prompts, so each check is a fact about the session.
namespace DesktopPermissionChecks {

// Qt's own X connection; none offscreen or on Wayland without XWayland.
xcb_connection_t *qtConnection();
// The same connection as an Xlib display, for the calls that have no XCB form; none when
// qtConnection() has none.
_XDisplay *qtDisplay();
// Screen Recording: a 1x1 image of the root window can be read.
bool canReadScreen(xcb_connection_t *connection);
// Control Scrolling: the XTEST extension is there to post scroll steps with.
bool canPostEvents(xcb_connection_t *connection);

// Microphone: the sound server answers and offers a microphone (AudioInputHardware's devices).
enum class SoundInput { available, missing, unreachable };
// Blocks for at most `timeout`: never call it on the UI thread.
SoundInput probeSoundInput(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
MicrophoneAuthorizationFact microphoneFact(SoundInput input);
// A fresh probe on a worker thread, awaited.
Task<MicrophoneAuthorizationFact> checkMicrophone();

} // namespace DesktopPermissionChecks
