#include "Rules/AudioGates.h"

#include <cmath>

namespace MicrophoneSpeechGate {

Decision decision(float youPeak, float othersPeak, bool includeYou)
{
    if (!includeYou)
        return Decision::skipDisabled;
    if (youPeak < 0.04f)
        return Decision::skipQuiet;
    if (std::isfinite(youPeak) && std::isfinite(othersPeak) && othersPeak >= 0.15f
        && youPeak < othersPeak / 10.0f)
        return Decision::skipBleed;
    return Decision::transcribe;
}

} // namespace MicrophoneSpeechGate

namespace AudioRecordingGate {

Action action(AudioSessionPhase phase, bool setupComplete, bool hasFolder, bool supported,
    const std::optional<QString> &othersBundleID, const std::optional<QString> &othersDisplayName,
    bool othersIsRunning, bool regionReviewOpen)
{
    switch (phase) {
    case AudioSessionPhase::starting:
    case AudioSessionPhase::recording:
    case AudioSessionPhase::stopping:
    case AudioSessionPhase::transcribing:
    case AudioSessionPhase::reviewing:
        return Action::of(Action::Kind::stop);
    case AudioSessionPhase::idle:
    case AudioSessionPhase::saved:
    case AudioSessionPhase::failed:
        break;
    }
    if (!supported)
        return Action::of(Action::Kind::unsupported);
    if (!setupComplete)
        return Action::of(Action::Kind::requestSetup);
    if (!hasFolder)
        return Action::of(Action::Kind::requestFolder);
    if (regionReviewOpen)
        return Action::of(Action::Kind::blockedByReview);
    if (!othersBundleID || othersBundleID->isEmpty() || othersIsRunning)
        return Action::of(Action::Kind::begin);
    if (othersDisplayName && !othersDisplayName->isEmpty())
        return Action::requestSource(*othersDisplayName);
    return Action::requestSource(*othersBundleID);
}

} // namespace AudioRecordingGate
