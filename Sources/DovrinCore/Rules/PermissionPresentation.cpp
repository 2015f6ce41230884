#include "Rules/PermissionPresentation.h"

namespace PermissionKinds {

QString rawValue(PermissionKind kind)
{
    switch (kind) {
    case PermissionKind::screenRecording:
        return QStringLiteral("screenRecording");
    case PermissionKind::controlScrolling:
        return QStringLiteral("controlScrolling");
    case PermissionKind::systemAudio:
        return QStringLiteral("systemAudio");
    case PermissionKind::microphone:
        return QStringLiteral("microphone");
    }
    return QStringLiteral("screenRecording");
}

std::optional<PermissionKind> fromRawValue(const QString &raw)
{
    for (PermissionKind kind : allCases) {
        if (rawValue(kind) == raw)
            return kind;
    }
    return std::nullopt;
}

QString title(PermissionKind kind)
{
    switch (kind) {
    case PermissionKind::screenRecording:
        return QStringLiteral("Screen Recording");
    case PermissionKind::controlScrolling:
        return QStringLiteral("Control Scrolling");
    case PermissionKind::systemAudio:
        return QStringLiteral("System Audio");
    case PermissionKind::microphone:
        return QStringLiteral("Microphone");
    }
    return QString();
}

} // namespace PermissionKinds

namespace PermissionStatuses {

QString title(PermissionStatus status)
{
    switch (status) {
    case PermissionStatus::allowed:
        return QStringLiteral("Allowed");
    case PermissionStatus::notRequested:
        return QStringLiteral("Not requested");
    case PermissionStatus::notAllowed:
        return QStringLiteral("Not allowed");
    case PermissionStatus::restricted:
        return QStringLiteral("Restricted");
    case PermissionStatus::allowAgain:
        return QStringLiteral("Allow again");
    case PermissionStatus::unverified:
        return QStringLiteral("Unverified");
    }
    return QString();
}

} // namespace PermissionStatuses

QString PermissionPresentation::requestActionTitle() const
{
    return status == PermissionStatus::allowAgain ? QStringLiteral("Allow Again")
                                                  : QStringLiteral("Request Access");
}

QString PermissionPresentation::requestActionAccessibilityLabel() const
{
    const QString name = PermissionKinds::title(kind);
    if (status == PermissionStatus::allowAgain)
        return QStringLiteral("Allow ") + name + QStringLiteral(" again");
    return QStringLiteral("Request ") + name + QStringLiteral(" access");
}

QString PermissionPresentation::requestActionHelp() const
{
    if (status == PermissionStatus::allowAgain)
        return QStringLiteral("Quorvel had ") + PermissionKinds::title(kind)
            + QStringLiteral(" before. Check it again.");
    switch (kind) {
    case PermissionKind::screenRecording:
        return QStringLiteral("Check whether Quorvel can read the screen for the region you select");
    case PermissionKind::controlScrolling:
        return QStringLiteral("Check whether Quorvel can scroll the window you outline");
    case PermissionKind::systemAudio:
        return QStringLiteral("System Audio is confirmed by starting a recording");
    case PermissionKind::microphone:
        return QStringLiteral("Check whether Quorvel can record your microphone as You");
    }
    return QString();
}

PermissionFeedback PermissionFeedback::checking()
{
    return { QStringLiteral("Checking\u2026"), PermissionFeedbackTone::checking };
}

PermissionFeedback PermissionFeedback::settingsOpenFailed()
{
    return { QStringLiteral("System Settings could not be opened"), PermissionFeedbackTone::failure };
}

namespace PermissionFeedbackCopy {

PermissionFeedback systemAudioStartFailed()
{
    return { QStringLiteral("System Audio could not start. Check that the sound server is running, then "
                            "start a recording again."),
        PermissionFeedbackTone::warning };
}

PermissionFeedback screenPromptVisible()
{
    return { QStringLiteral(
                 "Answer the desktop's Screen Recording prompt. Quorvel checks again when you return."),
        PermissionFeedbackTone::info };
}

PermissionFeedback scrollingPromptVisible()
{
    return { QStringLiteral("Answer the desktop's Control Scrolling prompt, then return here."),
        PermissionFeedbackTone::info };
}

PermissionFeedback screenRecordingNeedsRelaunch()
{
    return { QStringLiteral(
                 "Screen Recording was accepted. Quorvel is relaunching this same app to apply it."),
        PermissionFeedbackTone::warning };
}

PermissionFeedback controlScrollingNeedsRelaunch()
{
    return { QStringLiteral(
                 "Control Scrolling was accepted. Quorvel is relaunching this same app to apply it."),
        PermissionFeedbackTone::warning };
}

PermissionFeedback settingsOpened(PermissionKind kind)
{
    switch (kind) {
    case PermissionKind::screenRecording:
    case PermissionKind::controlScrolling:
        return { QStringLiteral("System Settings is open. Return here when you are done."),
            PermissionFeedbackTone::info };
    case PermissionKind::systemAudio:
        return { QStringLiteral(
                     "System Settings is open. Start a recording afterwards to confirm System Audio."),
            PermissionFeedbackTone::info };
    case PermissionKind::microphone:
        return { QStringLiteral("System Settings is open. Check the input device there, then return here."),
            PermissionFeedbackTone::info };
    }
    return { QString(), PermissionFeedbackTone::info };
}

namespace {

// The line for a status that was just found.
PermissionFeedback statusLine(PermissionKind kind, PermissionStatus status)
{
    const QString name = PermissionKinds::title(kind);
    switch (status) {
    case PermissionStatus::allowed:
        return { name + QStringLiteral(" is allowed"), PermissionFeedbackTone::success };
    case PermissionStatus::notRequested:
        if (kind == PermissionKind::systemAudio)
            return { QStringLiteral("Start a recording to confirm System Audio"),
                PermissionFeedbackTone::info };
        return { name + QStringLiteral(" has not been requested yet"), PermissionFeedbackTone::info };
    case PermissionStatus::notAllowed:
        return { name + QStringLiteral(" is not allowed"), PermissionFeedbackTone::warning };
    case PermissionStatus::restricted:
        return { name + QStringLiteral(" is restricted on this computer"), PermissionFeedbackTone::failure };
    case PermissionStatus::allowAgain:
        return { name + QStringLiteral(" worked before but is not available now"),
            PermissionFeedbackTone::warning };
    case PermissionStatus::unverified:
        if (kind == PermissionKind::systemAudio)
            return { QStringLiteral("System Audio could not be verified. Start a recording to try again."),
                PermissionFeedbackTone::warning };
        return { name + QStringLiteral(" could not be checked"), PermissionFeedbackTone::warning };
    }
    return { QString(), PermissionFeedbackTone::info };
}

// The line for a status that did not change.
PermissionFeedback unchangedLine(PermissionKind kind, PermissionStatus status)
{
    const QString name = PermissionKinds::title(kind);
    switch (status) {
    case PermissionStatus::allowed:
        return { name + QStringLiteral(" is still allowed"), PermissionFeedbackTone::success };
    case PermissionStatus::notAllowed:
        return { name + QStringLiteral(" is still not allowed"), PermissionFeedbackTone::warning };
    case PermissionStatus::restricted:
        return { name + QStringLiteral(" is still restricted on this computer"),
            PermissionFeedbackTone::failure };
    case PermissionStatus::allowAgain:
        return { name + QStringLiteral(" is still not available"), PermissionFeedbackTone::warning };
    case PermissionStatus::notRequested:
    case PermissionStatus::unverified:
        break;
    }
    return statusLine(kind, status);
}

} // namespace

PermissionFeedback afterCheck(
    PermissionKind kind, PermissionStatus previous, PermissionStatus current, bool returningFromSettings)
{
    if (current == PermissionStatus::allowed)
        return previous == current ? unchangedLine(kind, current) : statusLine(kind, current);
    PermissionFeedback line;
    if (previous == PermissionStatus::allowed)
        line = { PermissionKinds::title(kind) + QStringLiteral(" is no longer allowed"),
            PermissionFeedbackTone::warning };
    else
        line = previous == current ? unchangedLine(kind, current) : statusLine(kind, current);
    if (returningFromSettings) {
        if (!line.text.endsWith(QLatin1Char('.')))
            line.text += QLatin1Char('.');
        line.text.prepend(QStringLiteral("Returned from System Settings. "));
    }
    return line;
}

PermissionFeedback afterRequest(PermissionKind kind, PermissionStatus observable, bool requestReturnedGranted)
{
    if (observable == PermissionStatus::allowed)
        return statusLine(kind, observable);
    if (requestReturnedGranted)
        return { PermissionKinds::title(kind)
                + QStringLiteral(" was accepted. Quorvel may need to reopen before it can use it."),
            PermissionFeedbackTone::warning };
    // Not usable and nothing accepted: on X11 only a different session changes that.
    switch (kind) {
    case PermissionKind::screenRecording:
        return { QStringLiteral("Screen Recording is not available. Quorvel needs an X11 (Xorg) session "
                                "to read the screen."),
            PermissionFeedbackTone::warning };
    case PermissionKind::controlScrolling:
        return { QStringLiteral("Control Scrolling is not available. Quorvel needs an X11 (Xorg) "
                                "session whose X server has the XTEST extension."),
            PermissionFeedbackTone::warning };
    case PermissionKind::systemAudio:
    case PermissionKind::microphone:
        // On Linux "not allowed" means the sound server has no microphone; nothing is refused.
        if (kind == PermissionKind::microphone && observable == PermissionStatus::notAllowed)
            return { QStringLiteral("No microphone is connected. Connect one, or choose it in the desktop's "
                                    "sound settings."),
                PermissionFeedbackTone::warning };
        break;
    }
    return statusLine(kind, observable);
}

} // namespace PermissionFeedbackCopy

namespace PermissionPresentationResolver {

namespace {

PermissionPresentation row(PermissionKind kind, PermissionStatus status, QString detail)
{
    PermissionPresentation presentation;
    presentation.kind = kind;
    presentation.status = status;
    presentation.statusTitle = PermissionStatuses::title(status);
    presentation.detail = std::move(detail);
    // Only the sound settings can change what a check finds (the input device, the sound server);
    // the screen and scrolling checks depend on the session alone, which the detail explains.
    presentation.showsOpenSettings
        = kind == PermissionKind::systemAudio || kind == PermissionKind::microphone;
    return presentation;
}

} // namespace

PermissionPresentation screen(bool preflightGranted, bool requestedBefore, bool grantedBefore)
{
    PermissionPresentation presentation;
    if (preflightGranted) {
        presentation = row(PermissionKind::screenRecording, PermissionStatus::allowed,
            QStringLiteral("Quorvel can read the screen for the regions you select."));
    } else if (grantedBefore) {
        presentation = row(PermissionKind::screenRecording, PermissionStatus::allowAgain,
            QStringLiteral("Screen Recording worked before but is not available now. Region capture "
                           "needs an X11 (Xorg) session."));
    } else if (requestedBefore) {
        presentation = row(PermissionKind::screenRecording, PermissionStatus::notAllowed,
            QStringLiteral("Quorvel cannot read the screen. Region capture needs an X11 (Xorg) "
                           "session."));
    } else {
        presentation = row(PermissionKind::screenRecording, PermissionStatus::notRequested,
            QStringLiteral("Needed to recognize the text in a region you select. Quorvel never "
                           "records screen video."));
    }
    presentation.showsRequestAccess = !preflightGranted;
    presentation.showsCheckAgain = preflightGranted;
    return presentation;
}

PermissionPresentation controlScrolling(bool preflightGranted, bool requestedBefore)
{
    PermissionPresentation presentation;
    if (preflightGranted) {
        presentation = row(PermissionKind::controlScrolling, PermissionStatus::allowed,
            QStringLiteral("Quorvel can send small scroll steps to the window you outline."));
    } else if (requestedBefore) {
        presentation = row(PermissionKind::controlScrolling, PermissionStatus::notAllowed,
            QStringLiteral("Quorvel cannot send scroll steps. Scrolling capture needs an X11 (Xorg) session "
                           "whose X server has the XTEST extension; region capture does not."));
    } else {
        presentation = row(PermissionKind::controlScrolling, PermissionStatus::notRequested,
            QStringLiteral("Needed only for scrolling capture. Quorvel scrolls the outlined "
                           "window while the capture runs."));
    }
    presentation.showsRequestAccess = !preflightGranted;
    presentation.showsCheckAgain = preflightGranted;
    return presentation;
}

PermissionPresentation systemAudio(SystemAudioObservation observation)
{
    // There is nothing to ask for or re-check: only a recording can show whether it works.
    switch (observation) {
    case SystemAudioObservation::lastStartSucceeded: {
        PermissionPresentation presentation = row(PermissionKind::systemAudio, PermissionStatus::allowed,
            QStringLiteral("The last recording captured Others."));
        presentation.statusTitle = QStringLiteral("Worked last time");
        return presentation;
    }
    case SystemAudioObservation::lastStartFailed: {
        PermissionPresentation presentation = row(PermissionKind::systemAudio, PermissionStatus::unverified,
            QStringLiteral("The last recording could not start Others. System Audio needs the sound "
                           "server; start a recording to try again."));
        presentation.statusTitle = QStringLiteral("Could not verify");
        return presentation;
    }
    case SystemAudioObservation::neverAttempted:
        break;
    }
    return row(PermissionKind::systemAudio, PermissionStatus::notRequested,
        QStringLiteral("Confirmed when you start a recording. Needed to record Others."));
}

PermissionPresentation microphone(MicrophoneAuthorizationFact authorization, bool recordYouEnabled)
{
    PermissionStatus status = PermissionStatus::unverified;
    QString detailOn;
    switch (authorization) {
    case MicrophoneAuthorizationFact::authorized:
        status = PermissionStatus::allowed;
        detailOn = QStringLiteral("Quorvel records your microphone as You.");
        break;
    case MicrophoneAuthorizationFact::notDetermined:
        status = PermissionStatus::notRequested;
        detailOn = QStringLiteral("Needed to record your microphone as You.");
        break;
    case MicrophoneAuthorizationFact::denied:
        status = PermissionStatus::notAllowed;
        detailOn = QStringLiteral("No microphone is connected to the sound server. Connect one, or choose "
                                  "it in the desktop's sound settings. Others are still recorded.");
        break;
    case MicrophoneAuthorizationFact::restricted:
        status = PermissionStatus::restricted;
        detailOn
            = QStringLiteral("Microphone use is restricted on this computer. Others are still recorded.");
        break;
    case MicrophoneAuthorizationFact::unknown:
        status = PermissionStatus::unverified;
        // The check fails only when no sound server answers, and then nothing can be recorded.
        detailOn = QStringLiteral("No sound server answered, so nothing can be recorded. Quorvel needs a "
                                  "PulseAudio or PipeWire sound server.");
        break;
    }
    QString detail = detailOn;
    if (!recordYouEnabled) {
        detail = status == PermissionStatus::notRequested
            ? QStringLiteral("Needed only when you record your microphone as You.")
            : QStringLiteral("Recording You is off, so Quorvel does not use the microphone.");
    }
    PermissionPresentation presentation = row(PermissionKind::microphone, status, detail);
    presentation.showsRequestAccess = authorization == MicrophoneAuthorizationFact::notDetermined;
    presentation.showsCheckAgain = !presentation.showsRequestAccess;
    return presentation;
}

} // namespace PermissionPresentationResolver
