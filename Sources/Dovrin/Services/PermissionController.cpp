#include "Services/PermissionController.h"

#include "Documents/DefaultsStore.h"
#include "Platform/DesktopPermissionChecks.h"
#include "Platform/DesktopSettingsOpener.h"
#include "Services/AppRelaunch.h"
#include "Services/WindowActivation.h"

#include <QCoreApplication>
#include <QPointer>

namespace {

// Scroll steps can be posted now: the line any row shows once it is allowed.
PermissionFeedback allowedScrollingFeedback()
{
    return PermissionFeedbackCopy::afterRequest(
        PermissionKind::controlScrolling, PermissionStatus::allowed, true);
}

} // namespace

PermissionController::Effects PermissionController::Effects::live()
{
    Effects effects;
    effects.screenPreflight
        = [] { return DesktopPermissionChecks::canReadScreen(DesktopPermissionChecks::qtConnection()); };
    // X11 asks nobody: a request answers what the session allows.
    effects.screenRequest = []() -> Task<bool> {
        co_return DesktopPermissionChecks::canReadScreen(DesktopPermissionChecks::qtConnection());
    };
    effects.postEventPreflight
        = [] { return DesktopPermissionChecks::canPostEvents(DesktopPermissionChecks::qtConnection()); };
    effects.postEventRequest = []() -> Task<bool> {
        co_return DesktopPermissionChecks::canPostEvents(DesktopPermissionChecks::qtConnection());
    };
    effects.microphoneStatus = [] { return MicrophoneAvailability::shared().current(); };
    effects.microphoneRequest = []() -> Task<bool> {
        co_return MicrophoneAvailability::shared().current() == MicrophoneAuthorizationFact::authorized;
    };
    effects.openSettings = [](QUrl url) { return openPrivacySettings(std::move(url)); };
    effects.bringAppForward = [] {
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { WindowActivation::reveal(nullptr); }, Qt::QueuedConnection);
    };
    effects.relaunchApp = [] { AppRelaunch::relaunch(); };
    // Posting events needs nothing but XTEST, so "trusted" and "usable" never differ here.
    effects.accessibilityTrusted
        = [] { return DesktopPermissionChecks::canPostEvents(DesktopPermissionChecks::qtConnection()); };
    effects.observeMicrophoneChanges = [](QObject *context, std::function<void()> changed) {
        QObject::connect(&MicrophoneAvailability::shared(), &MicrophoneAvailability::changed, context,
            [changed = std::move(changed)] { changed(); });
    };
    return effects;
}

QUrl PermissionController::screenRecordingSettingsURL()
{
    return DesktopSettingsOpener::pageURL(QStringLiteral("screen-recording"));
}

QUrl PermissionController::accessibilitySettingsURL()
{
    return DesktopSettingsOpener::pageURL(QStringLiteral("accessibility"));
}

QUrl PermissionController::systemAudioSettingsURL()
{
    return DesktopSettingsOpener::pageURL(QStringLiteral("system-audio"));
}

QUrl PermissionController::microphoneSettingsURL()
{
    return DesktopSettingsOpener::pageURL(QStringLiteral("microphone"));
}

QUrl PermissionController::microphoneSettingsFallbackURL()
{
    return DesktopSettingsOpener::pageURL(QStringLiteral("sound"));
}

PermissionController::PermissionController(std::shared_ptr<DefaultsStore> defaults, Effects effects,
    bool recordYouEnabled, TaskClock &clock, QObject *parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
    , m_effects(std::move(effects))
    , m_clock(&clock)
    , m_recordYouEnabled(recordYouEnabled)
{
    m_lastScreenPreflight = m_effects.screenPreflight();
    m_lastPostEventPreflight = m_effects.postEventPreflight();
    m_screen.presentation = PermissionPresentationResolver::screen(
        m_lastScreenPreflight, flag(screenCaptureRequestedKey), flag(screenCaptureGrantedKey));
    m_systemAudio.presentation = PermissionPresentationResolver::systemAudio(systemAudioObservation());
    m_scrolling.presentation = PermissionPresentationResolver::controlScrolling(
        m_lastPostEventPreflight, flag(postEventRequestedKey));
    m_microphone.presentation
        = PermissionPresentationResolver::microphone(m_effects.microphoneStatus(), m_recordYouEnabled);
    if (m_effects.observeMicrophoneChanges)
        m_effects.observeMicrophoneChanges(this, [this] { refreshMicrophone(); });
}

PermissionController::~PermissionController()
{
    m_scrollingGrantWatch.cancel();
}

const PermissionController::RowState &PermissionController::row(PermissionKind kind) const
{
    switch (kind) {
    case PermissionKind::screenRecording:
        return m_screen;
    case PermissionKind::controlScrolling:
        return m_scrolling;
    case PermissionKind::systemAudio:
        return m_systemAudio;
    case PermissionKind::microphone:
        break;
    }
    return m_microphone;
}

PermissionController::RowState &PermissionController::mutableRow(PermissionKind kind)
{
    return const_cast<RowState &>(row(kind));
}

void PermissionController::setPresentation(PermissionKind kind, const PermissionPresentation &presentation)
{
    RowState &state = mutableRow(kind);
    if (state.presentation == presentation)
        return;
    state.presentation = presentation;
    emit rowChanged(kind);
}

void PermissionController::setFeedback(PermissionKind kind, std::optional<PermissionFeedback> feedback)
{
    RowState &state = mutableRow(kind);
    if (state.feedback == feedback)
        return;
    state.feedback = std::move(feedback);
    emit rowChanged(kind);
}

void PermissionController::setBusy(PermissionKind kind, bool busy)
{
    RowState &state = mutableRow(kind);
    if (state.isBusy == busy)
        return;
    state.isBusy = busy;
    emit rowChanged(kind);
}

bool PermissionController::flag(const QString &key) const
{
    return m_defaults->boolean(key);
}

void PermissionController::setFlag(const QString &key, bool value)
{
    m_defaults->setBoolean(key, value);
}

SystemAudioObservation PermissionController::systemAudioObservation() const
{
    if (!flag(systemAudioAttemptedKey))
        return SystemAudioObservation::neverAttempted;
    return flag(systemAudioLastSucceededKey) ? SystemAudioObservation::lastStartSucceeded
                                             : SystemAudioObservation::lastStartFailed;
}

void PermissionController::setRecordYouEnabled(bool enabled)
{
    m_recordYouEnabled = enabled;
    refreshMicrophone();
}

bool PermissionController::isWatchingForScrollingGrant() const
{
    return m_scrollingGrantWatch.isValid() && !m_scrollingGrantWatch.isFinished();
}

void PermissionController::refreshScreen()
{
    const bool granted = m_effects.screenPreflight();
    m_lastScreenPreflight = granted;
    if (granted) {
        m_screenRequestAcceptedPendingRelaunch = false;
        setFlag(screenCaptureGrantedKey, true);
    }
    PermissionPresentation presentation = PermissionPresentationResolver::screen(
        granted, flag(screenCaptureRequestedKey), flag(screenCaptureGrantedKey));
    if (!granted) {
        if (m_screenRequestAcceptedPendingRelaunch) {
            presentation.statusTitle = QStringLiteral("Restart required");
            presentation.detail = QStringLiteral("The desktop accepted Screen Recording. Quorvel will reopen "
                                                 "this same app to finish enabling it.");
            presentation.showsRequestAccess = false;
            presentation.showsCheckAgain = false;
            presentation.mayNeedRelaunch = true;
        } else if (m_didPromptScreenThisLaunch || m_didVisitScreenSettingsThisLaunch) {
            presentation.mayNeedRelaunch = true;
        }
    }
    setPresentation(PermissionKind::screenRecording, presentation);
}

void PermissionController::refreshScrolling()
{
    const bool granted = m_effects.postEventPreflight();
    m_lastPostEventPreflight = granted;
    if (granted) {
        m_postEventAcceptedPendingRelaunch = false;
        if (!m_isRelaunching)
            setFlag(postEventRelaunchAttemptedKey, false);
    }
    PermissionPresentation presentation
        = PermissionPresentationResolver::controlScrolling(granted, flag(postEventRequestedKey));
    if (!granted) {
        if (m_postEventAcceptedPendingRelaunch) {
            presentation.statusTitle = QStringLiteral("Restart required");
            presentation.detail
                = QStringLiteral("The desktop accepted Control Scrolling. Quorvel will reopen "
                                 "this same app to finish enabling it.");
            presentation.showsRequestAccess = false;
            presentation.showsCheckAgain = false;
            presentation.mayNeedRelaunch = true;
        } else if (flag(postEventRelaunchAttemptedKey) && m_effects.accessibilityTrusted()) {
            presentation.statusTitle = QStringLiteral("Restart still required");
            presentation.detail
                = QStringLiteral("This process still cannot Control Scrolling. Confirm Quorvel "
                                 "is on in Accessibility, then relaunch Quorvel manually.");
            presentation.showsRequestAccess = false;
            presentation.showsCheckAgain = false;
            presentation.mayNeedRelaunch = true;
        } else if (m_didPromptScrollingThisLaunch || m_didVisitScrollingSettingsThisLaunch) {
            presentation.mayNeedRelaunch = true;
        }
    } else {
        cancelScrollingGrantWatch();
    }
    setPresentation(PermissionKind::controlScrolling, presentation);
}

void PermissionController::refreshSystemAudio()
{
    setPresentation(
        PermissionKind::systemAudio, PermissionPresentationResolver::systemAudio(systemAudioObservation()));
}

void PermissionController::refreshMicrophone()
{
    setPresentation(PermissionKind::microphone,
        PermissionPresentationResolver::microphone(m_effects.microphoneStatus(), m_recordYouEnabled));
}

void PermissionController::refresh(PermissionKind kind)
{
    switch (kind) {
    case PermissionKind::screenRecording:
        refreshScreen();
        break;
    case PermissionKind::controlScrolling:
        refreshScrolling();
        break;
    case PermissionKind::systemAudio:
        refreshSystemAudio();
        break;
    case PermissionKind::microphone:
        refreshMicrophone();
        break;
    }
}

void PermissionController::refreshFromAppActivation()
{
    const PermissionStatus previousScreen = m_screen.presentation.status;
    const PermissionStatus previousScrolling = m_scrolling.presentation.status;
    const PermissionStatus previousMicrophone = m_microphone.presentation.status;
    refreshScreen();
    refreshScrolling();
    refreshMicrophone();
    refreshSystemAudio();

    const bool returned = m_wasInactive;
    m_wasInactive = false;
    if (returned && m_awaitingReturnFromSettings) {
        const PermissionKind kind = *m_awaitingReturnFromSettings;
        m_awaitingReturnFromSettings.reset();
        switch (kind) {
        case PermissionKind::screenRecording:
            setFeedback(kind,
                PermissionFeedbackCopy::afterCheck(kind, previousScreen, m_screen.presentation.status, true));
            if (!m_lastScreenPreflight && m_didPromptScreenThisLaunch) {
                m_screenRequestAcceptedPendingRelaunch = true;
                refreshScreen();
                setFeedback(kind, PermissionFeedbackCopy::screenRecordingNeedsRelaunch());
                m_effects.relaunchApp();
            }
            break;
        case PermissionKind::controlScrolling:
            setFeedback(kind,
                PermissionFeedbackCopy::afterCheck(
                    kind, previousScrolling, m_scrolling.presentation.status, true));
            if (!m_lastPostEventPreflight && m_effects.accessibilityTrusted()) {
                if (!relaunchForScrollingAccessIfNeeded())
                    setScrollingUnavailableFeedback();
            }
            break;
        case PermissionKind::systemAudio:
            setFeedback(kind,
                PermissionFeedback { m_systemAudio.presentation.status == PermissionStatus::notRequested
                        ? QStringLiteral(
                            "Returned from System Settings. Start a recording to let the desktop "
                            "ask for System Audio.")
                        : QStringLiteral("Returned from System Settings. Start a recording to confirm System "
                                         "Audio."),
                    PermissionFeedbackTone::info });
            break;
        case PermissionKind::microphone:
            setFeedback(kind,
                PermissionFeedbackCopy::afterCheck(
                    kind, previousMicrophone, m_microphone.presentation.status, false));
            break;
        }
        return;
    }
    const std::pair<PermissionKind, PermissionStatus> previous[] = {
        { PermissionKind::screenRecording, previousScreen },
        { PermissionKind::controlScrolling, previousScrolling },
        { PermissionKind::microphone, previousMicrophone },
    };
    for (const auto &[kind, status] : previous) {
        const PermissionStatus current = row(kind).presentation.status;
        if (current != status)
            setFeedback(kind, PermissionFeedbackCopy::afterCheck(kind, status, current, false));
    }
}

Task<> PermissionController::requestScreenAccess()
{
    constexpr PermissionKind kind = PermissionKind::screenRecording;
    if (!m_screen.presentation.showsRequestAccess || m_screen.isBusy)
        co_return;
    setBusy(kind, true);
    setFeedback(kind, PermissionFeedback::checking());
    const bool promptedBefore = m_didPromptScreenThisLaunch;

    const bool granted = co_await m_effects.screenRequest();

    m_didPromptScreenThisLaunch = true;
    m_screenRequestAcceptedPendingRelaunch = granted;
    setFlag(screenCaptureRequestedKey, true);
    if (granted) {
        setFlag(screenCaptureGrantedKey, true);
        refreshScreen();
        setFeedback(kind, PermissionFeedbackCopy::afterRequest(kind, m_screen.presentation.status, true));
        // The desktop said yes, yet this process still cannot read the screen.
        if (m_screen.presentation.mayNeedRelaunch)
            m_effects.relaunchApp();
    } else {
        refreshScreen();
        if (promptedBefore) {
            co_await openSettings(kind);
        } else {
            m_awaitingReturnFromSettings = kind;
            setFeedback(kind, PermissionFeedbackCopy::screenPromptVisible());
        }
    }
    setBusy(kind, false);
}

Task<bool> PermissionController::requestScrollingAccess()
{
    constexpr PermissionKind kind = PermissionKind::controlScrolling;
    refreshScrolling();
    if (m_lastPostEventPreflight)
        co_return true;
    if (m_scrolling.isBusy)
        co_return false;
    setBusy(kind, true);
    setFeedback(kind, PermissionFeedback::checking());

    if (m_effects.accessibilityTrusted()) {
        setFlag(postEventRequestedKey, true);
        if (!relaunchForScrollingAccessIfNeeded())
            setScrollingUnavailableFeedback();
        setBusy(kind, false);
        co_return false;
    }
    if (m_didPromptScrollingThisLaunch) {
        setFeedback(kind, PermissionFeedbackCopy::scrollingPromptVisible());
        if (!isWatchingForScrollingGrant())
            watchForScrollingGrant();
        setBusy(kind, false);
        co_return false;
    }

    cancelScrollingGrantWatch();
    m_effects.bringAppForward();
    const bool answered = co_await m_effects.postEventRequest();
    m_didPromptScrollingThisLaunch = true;
    setFlag(postEventRequestedKey, true);
    refreshScrolling();
    if (m_lastPostEventPreflight) {
        m_postEventAcceptedPendingRelaunch = false;
        setFeedback(kind, allowedScrollingFeedback());
        m_effects.bringAppForward();
    } else if (answered || m_effects.accessibilityTrusted()) {
        relaunchForScrollingAccessIfNeeded();
    } else {
        m_awaitingReturnFromSettings = kind;
        setFeedback(kind, PermissionFeedbackCopy::scrollingPromptVisible());
        watchForScrollingGrant();
    }
    setBusy(kind, false);
    co_return m_lastPostEventPreflight;
}

bool PermissionController::relaunchForScrollingAccessIfNeeded()
{
    if (flag(postEventRelaunchAttemptedKey))
        return false;
    setFlag(postEventRelaunchAttemptedKey, true);
    setFlag(resumeScrollingCaptureAfterRelaunchKey, true);
    m_postEventAcceptedPendingRelaunch = true;
    m_isRelaunching = true;
    cancelScrollingGrantWatch();
    setFeedback(PermissionKind::controlScrolling, PermissionFeedbackCopy::controlScrollingNeedsRelaunch());
    m_effects.relaunchApp();
    return true;
}

void PermissionController::setScrollingUnavailableFeedback()
{
    const PermissionStatus status = m_scrolling.presentation.status;
    setFeedback(PermissionKind::controlScrolling,
        PermissionFeedbackCopy::afterCheck(PermissionKind::controlScrolling, status, status, false));
}

void PermissionController::cancelScrollingGrantWatch()
{
    m_scrollingGrantWatch.cancel();
    m_scrollingGrantWatch = Task<>();
}

void PermissionController::watchForScrollingGrant()
{
    cancelScrollingGrantWatch();
    const quint64 generation = ++m_scrollingGrantWatchGeneration;
    // Bound to this controller: when it goes away, the watch goes with it.
    m_scrollingGrantWatch = Task<>::spawn(this, [this, generation]() -> Task<> {
        // Steady time: changing the wall clock neither cuts the watch short nor stretches it.
        const TaskClock::TimePoint deadline = m_clock->now() + grantWatchLimit;
        while (m_clock->now() < deadline) {
            if (!co_await sleepFor(*m_clock, pollInterval) || CurrentTask::isCancelled())
                break;
            refreshScrolling();
            if (m_lastPostEventPreflight) {
                setFeedback(PermissionKind::controlScrolling, allowedScrollingFeedback());
                m_awaitingReturnFromSettings.reset();
                m_effects.bringAppForward();
                break;
            }
            if (m_effects.accessibilityTrusted()) {
                m_awaitingReturnFromSettings.reset();
                break;
            }
        }
        // A replaced watch leaves its successor's handle alone.
        if (m_scrollingGrantWatchGeneration == generation)
            m_scrollingGrantWatch = Task<>();
    });
}

Task<> PermissionController::requestMicrophoneAccess()
{
    constexpr PermissionKind kind = PermissionKind::microphone;
    if (!m_microphone.presentation.showsRequestAccess || m_microphone.isBusy)
        co_return;
    setBusy(kind, true);
    setFeedback(kind, PermissionFeedback::checking());
    const bool granted = co_await m_effects.microphoneRequest();
    refreshMicrophone();
    setFeedback(kind, PermissionFeedbackCopy::afterRequest(kind, m_microphone.presentation.status, granted));
    setBusy(kind, false);
}

void PermissionController::checkAgain(PermissionKind kind)
{
    const RowState &state = row(kind);
    if (!state.presentation.showsCheckAgain || state.isBusy)
        return;
    setBusy(kind, true);
    setFeedback(kind, PermissionFeedback::checking());
    const PermissionStatus previous = state.presentation.status;
    refresh(kind);
    setFeedback(
        kind, PermissionFeedbackCopy::afterCheck(kind, previous, row(kind).presentation.status, false));
    setBusy(kind, false);
}

Task<> PermissionController::openSettings(PermissionKind kind)
{
    QUrl url;
    switch (kind) {
    case PermissionKind::screenRecording:
        url = screenRecordingSettingsURL();
        break;
    case PermissionKind::controlScrolling:
        url = accessibilitySettingsURL();
        break;
    case PermissionKind::systemAudio:
        url = systemAudioSettingsURL();
        break;
    case PermissionKind::microphone:
        url = microphoneSettingsURL();
        break;
    }
    bool opened = co_await m_effects.openSettings(url);
    if (!opened && kind == PermissionKind::microphone)
        opened = co_await m_effects.openSettings(microphoneSettingsFallbackURL());
    if (!opened) {
        setFeedback(kind, PermissionFeedback::settingsOpenFailed());
        co_return;
    }
    if (kind == PermissionKind::screenRecording)
        m_didVisitScreenSettingsThisLaunch = true;
    else if (kind == PermissionKind::controlScrolling)
        m_didVisitScrollingSettingsThisLaunch = true;
    m_awaitingReturnFromSettings = kind;
    setFeedback(kind, PermissionFeedbackCopy::settingsOpened(kind));
}

Task<bool> PermissionController::openPrivacySettings(QUrl url)
{
    co_return DesktopSettingsOpener::open(url);
}

void PermissionController::cancelScrollingPermissionWait()
{
    cancelScrollingGrantWatch();
    if (m_awaitingReturnFromSettings == PermissionKind::controlScrolling)
        m_awaitingReturnFromSettings.reset();
    setFlag(resumeScrollingCaptureAfterRelaunchKey, false);
    refreshScrolling();
}

void PermissionController::recordSystemAudioStartSucceeded()
{
    setFlag(systemAudioAttemptedKey, true);
    setFlag(systemAudioLastSucceededKey, true);
    refreshSystemAudio();
    setFeedback(PermissionKind::systemAudio,
        PermissionFeedback {
            QStringLiteral("System Audio worked for this recording"), PermissionFeedbackTone::success });
}

void PermissionController::recordSystemAudioStartFailed()
{
    setFlag(systemAudioAttemptedKey, true);
    setFlag(systemAudioLastSucceededKey, false);
    refreshSystemAudio();
    setFeedback(PermissionKind::systemAudio, PermissionFeedbackCopy::systemAudioStartFailed());
}
