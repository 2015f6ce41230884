#include "Model/PermissionActions.h"

#include "Model/ModelContext.h"
#include "Services/PermissionController.h"

namespace {

QString updatedText(PermissionKind kind)
{
    return PermissionKinds::title(kind) + QStringLiteral(" updated");
}

} // namespace

PermissionActions::PermissionActions(ModelContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{ }

void PermissionActions::reportRow(PermissionKind kind, const QString &fallback)
{
    const std::optional<PermissionFeedback> &feedback = m_context.permissions().row(kind).feedback;
    m_context.setStatusMessage(feedback ? feedback->text : fallback);
}

Task<> PermissionActions::requestPermission()
{
    co_await m_context.permissions().requestScreenAccess();
    reportRow(PermissionKind::screenRecording, updatedText(PermissionKind::screenRecording));
    clearPermissionHoldIfGranted();
}

void PermissionActions::recheckPermission()
{
    m_context.permissions().checkAgain(PermissionKind::screenRecording);
    reportRow(PermissionKind::screenRecording, updatedText(PermissionKind::screenRecording));
    clearPermissionHoldIfGranted();
}

Task<> PermissionActions::openScreenRecordingSettings()
{
    return openSettings(PermissionKind::screenRecording);
}

Task<> PermissionActions::requestScrollingPermission()
{
    co_await m_context.permissions().requestScrollingAccess();
    reportRow(PermissionKind::controlScrolling, updatedText(PermissionKind::controlScrolling));
}

void PermissionActions::recheckScrollingPermission()
{
    m_context.permissions().checkAgain(PermissionKind::controlScrolling);
    reportRow(PermissionKind::controlScrolling, updatedText(PermissionKind::controlScrolling));
}

Task<> PermissionActions::openScrollingSettings()
{
    return openSettings(PermissionKind::controlScrolling);
}

Task<> PermissionActions::requestMicrophoneAccess()
{
    co_await m_context.permissions().requestMicrophoneAccess();
    reportRow(PermissionKind::microphone, updatedText(PermissionKind::microphone));
}

Task<> PermissionActions::recheckMicrophonePermission()
{
    // The microphone is checked off the UI thread: its row has the answer only once the check ends.
    co_await m_context.permissions().checkAgain(PermissionKind::microphone);
    if (CurrentTask::isCancelled())
        co_return;
    reportRow(PermissionKind::microphone, updatedText(PermissionKind::microphone));
}

Task<> PermissionActions::openSystemAudioSettings()
{
    return openSettings(PermissionKind::systemAudio);
}

Task<> PermissionActions::openMicrophoneSettings()
{
    return openSettings(PermissionKind::microphone);
}

Task<> PermissionActions::openSettings(PermissionKind kind)
{
    co_await m_context.permissions().openSettings(kind);
    reportRow(kind, PermissionFeedback::settingsOpenFailed().text);
}

void PermissionActions::clearPermissionHoldIfGranted()
{
    if (m_context.permissions().lastScreenPreflight() && m_context.phase() == CapturePhase::needsPermission
        && CapturePhaseTransition::allows(CapturePhase::needsPermission, CapturePhase::idle))
        m_context.setPhase(CapturePhase::idle);
}
