#pragma once

#include "Rules/AudioSessionPhase.h"

#include <QString>

#include <optional>

// Whether the microphone track of a finished session is worth transcribing.
namespace MicrophoneSpeechGate {

enum class Decision {
    transcribe,
    skipDisabled, // the microphone was not recorded
    skipQuiet, // nobody spoke into it
    skipBleed, // it only picked up the speakers
};

// In order: not wanted -> skipDisabled; You peak below 0.04 -> skipQuiet; You peak below a tenth of an
// Others peak of at least 0.15 -> skipBleed; else transcribe. A peak that is not a finite number proves
// nothing, so it never leads to skipping the track as bleed.
Decision decision(float youPeak, float othersPeak, bool includeYou);

} // namespace MicrophoneSpeechGate

// What the record command does.
namespace AudioRecordingGate {

struct Action
{
    enum class Kind {
        requestSource, // the chosen application is not running; `displayName` names it
        begin,
        stop,
        requestSetup,
        requestFolder,
        blockedByReview,
        unsupported,
    };

    Kind kind = Kind::begin;
    QString displayName; // only for requestSource

    static Action requestSource(const QString &displayName)
    {
        return Action { Kind::requestSource, displayName };
    }
    static Action of(Kind kind) { return Action { kind, {} }; }

    bool operator==(const Action &) const = default;
};

// First match: a live session (starting to reviewing) -> stop; no sound server -> unsupported;
// setup not complete -> requestSetup; no folder -> requestFolder; a capture review open ->
// blockedByReview; no application chosen, or it is running -> begin; else requestSource with the
// stored name, or the application's ID when the name is empty.
Action action(AudioSessionPhase phase, bool setupComplete, bool hasFolder, bool supported,
    const std::optional<QString> &othersBundleID, const std::optional<QString> &othersDisplayName,
    bool othersIsRunning, bool regionReviewOpen);

} // namespace AudioRecordingGate
