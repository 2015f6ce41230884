#pragma once

#include <QString>

#include <array>
#include <optional>

// Where one capture stands, from the command to the saved file. Stored and reported by its raw value
// (the case name).
enum class CapturePhase {
    idle,
    selecting,
    captured,
    ocrProcessing,
    review,
    saving,
    saved,
    canceled,
    needsPermission,
    needsOCR,
    destinationUnavailable,
    saveFailed,
};

namespace CapturePhases {

inline constexpr std::array<CapturePhase, 12> allCases {
    CapturePhase::idle,
    CapturePhase::selecting,
    CapturePhase::captured,
    CapturePhase::ocrProcessing,
    CapturePhase::review,
    CapturePhase::saving,
    CapturePhase::saved,
    CapturePhase::canceled,
    CapturePhase::needsPermission,
    CapturePhase::needsOCR,
    CapturePhase::destinationUnavailable,
    CapturePhase::saveFailed,
};

QString rawValue(CapturePhase phase);
std::optional<CapturePhase> fromRawValue(const QString &raw);

} // namespace CapturePhases

// Every phase change of the capture flows is checked here; a change the table refuses is not made.
class CapturePhaseTransition
{
public:
    // Staying in the same phase is always allowed.
    static bool allows(CapturePhase from, CapturePhase to);
};

// What the model knows about the screen-capture permission when a capture command arrives.
enum class ScreenPermissionState {
    granted,
    revoked, // it was granted once and the check fails now
    denied, // it was asked for and never granted
    requestable, // it was never asked for
};

namespace ScreenPermissionStates {

// The live check wins; otherwise the remembered flags tell a withdrawn grant from a refusal.
ScreenPermissionState resolve(bool preflightGranted, bool grantedBefore, bool requestedBefore);

} // namespace ScreenPermissionStates

// What the capture command (hot key or menu) means in the current state.
class CaptureInvocation
{
public:
    enum class Action {
        beginNew,
        focusSelection,
        focusReview,
        requestPermission,
        requestSetup,
        blockedByAudio,
        ignore,
    };

    static Action action(CapturePhase phase, bool setupComplete, ScreenPermissionState permission,
        bool audioBusy, bool scrollingCaptureInProgress);
};
