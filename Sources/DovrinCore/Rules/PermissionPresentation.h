#pragma once

#include <QString>

#include <array>
#include <optional>

// The four things Quorvel needs the desktop to allow, one row each in setup and settings.
// Raw values are the case names.
enum class PermissionKind {
    screenRecording,
    controlScrolling,
    systemAudio,
    microphone,
};

namespace PermissionKinds {

inline constexpr std::array<PermissionKind, 4> allCases {
    PermissionKind::screenRecording,
    PermissionKind::controlScrolling,
    PermissionKind::systemAudio,
    PermissionKind::microphone,
};

QString rawValue(PermissionKind kind);
std::optional<PermissionKind> fromRawValue(const QString &raw);
// "Screen Recording", "Control Scrolling", "System Audio", "Microphone".
QString title(PermissionKind kind);

} // namespace PermissionKinds

enum class PermissionStatus {
    allowed,
    notRequested,
    notAllowed,
    restricted,
    allowAgain, // worked before, not now
    unverified,
};

namespace PermissionStatuses {

inline constexpr std::array<PermissionStatus, 6> allCases {
    PermissionStatus::allowed,
    PermissionStatus::notRequested,
    PermissionStatus::notAllowed,
    PermissionStatus::restricted,
    PermissionStatus::allowAgain,
    PermissionStatus::unverified,
};

// The word for a status, as the diagnostics and most rows show it: "Allowed", "Not requested",
// "Not allowed", "Restricted", "Allow again", "Unverified".
QString title(PermissionStatus status);

} // namespace PermissionStatuses

// What the microphone check found.
enum class MicrophoneAuthorizationFact {
    notDetermined,
    authorized,
    denied,
    restricted,
    unknown,
};

// System audio has no check of its own: the row reflects how the last recording's start went.
enum class SystemAudioObservation {
    neverAttempted,
    lastStartSucceeded,
    lastStartFailed,
};

// One permission row as shown.
struct PermissionPresentation
{
    PermissionKind kind = PermissionKind::screenRecording;
    PermissionStatus status = PermissionStatus::notRequested;
    QString statusTitle;
    QString detail;
    bool showsRequestAccess = false;
    bool showsCheckAgain = false;
    // A settings page can change what the check finds (and, once asked, a tool to open it exists).
    bool showsOpenSettings = false;
    bool mayNeedRelaunch = false;

    bool operator==(const PermissionPresentation &) const = default;

    // The request button: its title, what a screen reader says, and its tooltip.
    QString requestActionTitle() const;
    QString requestActionAccessibilityLabel() const;
    QString requestActionHelp() const;
};

enum class PermissionFeedbackTone {
    checking,
    success,
    warning,
    failure,
    info,
};

// The one-line outcome under a row after an action.
struct PermissionFeedback
{
    QString text;
    PermissionFeedbackTone tone = PermissionFeedbackTone::info;

    bool operator==(const PermissionFeedback &) const = default;

    static PermissionFeedback checking(); // "Checking…"
    static PermissionFeedback settingsOpenFailed(); // "System Settings could not be opened"
};

namespace PermissionFeedbackCopy {

PermissionFeedback systemAudioStartFailed();
PermissionFeedback screenPromptVisible();
PermissionFeedback scrollingPromptVisible();
PermissionFeedback screenRecordingNeedsRelaunch();
PermissionFeedback controlScrollingNeedsRelaunch();

// After the settings tool was opened for a kind.
PermissionFeedback settingsOpened(PermissionKind kind);

// After a re-check or a return from the settings tool, from the status before and after.
PermissionFeedback afterCheck(
    PermissionKind kind, PermissionStatus previous, PermissionStatus current, bool returningFromSettings);

// After a request: what the check behind it found. Only a prompt that answered yes
// (requestReturnedGranted) is reported as accepted; a re-check never is.
PermissionFeedback afterRequest(
    PermissionKind kind, PermissionStatus observable, bool requestReturnedGranted);

} // namespace PermissionFeedbackCopy

// Builds each row from what was checked and what is remembered.
namespace PermissionPresentationResolver {

// allowed when the check passes; else allowAgain when it worked before; else notAllowed when it was
// requested before; else notRequested.
PermissionPresentation screen(bool preflightGranted, bool requestedBefore, bool grantedBefore);
PermissionPresentation controlScrolling(bool preflightGranted, bool requestedBefore);
PermissionPresentation systemAudio(SystemAudioObservation observation);
// The detail tells whether the microphone matters now, which depends on recording You.
PermissionPresentation microphone(MicrophoneAuthorizationFact authorization, bool recordYouEnabled);

} // namespace PermissionPresentationResolver
