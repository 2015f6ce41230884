#include "Rules/CapturePhase.h"

namespace CapturePhases {

QString rawValue(CapturePhase phase)
{
    switch (phase) {
    case CapturePhase::idle:
        return QStringLiteral("idle");
    case CapturePhase::selecting:
        return QStringLiteral("selecting");
    case CapturePhase::captured:
        return QStringLiteral("captured");
    case CapturePhase::ocrProcessing:
        return QStringLiteral("ocrProcessing");
    case CapturePhase::review:
        return QStringLiteral("review");
    case CapturePhase::saving:
        return QStringLiteral("saving");
    case CapturePhase::saved:
        return QStringLiteral("saved");
    case CapturePhase::canceled:
        return QStringLiteral("canceled");
    case CapturePhase::needsPermission:
        return QStringLiteral("needsPermission");
    case CapturePhase::needsOCR:
        return QStringLiteral("needsOCR");
    case CapturePhase::destinationUnavailable:
        return QStringLiteral("destinationUnavailable");
    case CapturePhase::saveFailed:
        return QStringLiteral("saveFailed");
    }
    return QString();
}

std::optional<CapturePhase> fromRawValue(const QString &raw)
{
    for (CapturePhase phase : allCases) {
        if (rawValue(phase) == raw)
            return phase;
    }
    return std::nullopt;
}

} // namespace CapturePhases

bool CapturePhaseTransition::allows(CapturePhase from, CapturePhase to)
{
    if (from == to)
        return true;
    using P = CapturePhase;
    switch (from) {
    case P::idle:
        // review: resuming an unfinished draft
        return to == P::selecting || to == P::needsPermission || to == P::review;
    case P::selecting:
        return to == P::captured || to == P::canceled;
    case P::captured:
        return to == P::ocrProcessing || to == P::canceled;
    case P::ocrProcessing:
        return to == P::review || to == P::needsOCR || to == P::canceled;
    case P::review:
        return to == P::ocrProcessing || to == P::saving || to == P::canceled;
    case P::needsOCR:
        // saving: the user typed the text after recognition found none
        return to == P::ocrProcessing || to == P::saving || to == P::canceled;
    case P::saving:
        return to == P::saved || to == P::destinationUnavailable || to == P::saveFailed;
    case P::saved:
        return to == P::idle || to == P::selecting || to == P::canceled;
    case P::canceled:
        return to == P::idle || to == P::selecting;
    case P::needsPermission:
        return to == P::idle || to == P::selecting;
    case P::destinationUnavailable:
        return to == P::review || to == P::saving || to == P::canceled;
    case P::saveFailed:
        return to == P::saving || to == P::canceled;
    }
    return false;
}

namespace ScreenPermissionStates {

ScreenPermissionState resolve(bool preflightGranted, bool grantedBefore, bool requestedBefore)
{
    if (preflightGranted)
        return ScreenPermissionState::granted;
    if (grantedBefore)
        return ScreenPermissionState::revoked;
    if (requestedBefore)
        return ScreenPermissionState::denied;
    return ScreenPermissionState::requestable;
}

} // namespace ScreenPermissionStates

CaptureInvocation::Action CaptureInvocation::action(CapturePhase phase, bool setupComplete,
    ScreenPermissionState permission, bool audioBusy, bool scrollingCaptureInProgress)
{
    using P = CapturePhase;
    if (scrollingCaptureInProgress)
        return phase == P::selecting ? Action::focusSelection : Action::ignore;

    const auto whenSaved = [&] { return audioBusy ? Action::blockedByAudio : Action::beginNew; };
    const auto whenNeedsPermission = [&] {
        return permission == ScreenPermissionState::granted ? whenSaved() : Action::requestPermission;
    };

    switch (phase) {
    case P::selecting:
        return Action::focusSelection;
    case P::captured:
    case P::ocrProcessing:
    case P::review:
    case P::saving:
    case P::needsOCR:
    case P::destinationUnavailable:
    case P::saveFailed:
        return Action::focusReview;
    case P::saved:
        return whenSaved();
    case P::needsPermission:
        return whenNeedsPermission();
    case P::idle:
    case P::canceled:
        return setupComplete ? whenNeedsPermission() : Action::requestSetup;
    }
    return Action::ignore;
}
