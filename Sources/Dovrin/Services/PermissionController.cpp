#include "Services/PermissionController.h"

#include "Documents/DefaultsStore.h"
#include "Platform/DesktopPermissionChecks.h"
#include "Platform/DesktopSettingsOpener.h"
#include "Services/AppRelaunch.h"
#include "Services/WindowActivation.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace {

// Scroll steps can be posted now: the line any row shows once it is allowed.
PermissionFeedback allowedScrollingFeedback()
{
    return PermissionFeedbackCopy::afterRequest(
        PermissionKind::controlScrolling, PermissionStatus::allowed, false);
}

} // namespace

PermissionController::Effects PermissionController::Effects::live()
{
    using DesktopPermissionChecks::canPostEvents;
    using DesktopPermissionChecks::canReadScreen;
    using DesktopPermissionChecks::qtConnection;
    Effects effects;
    effects.screenPreflight = [] { return canReadScreen(qtConnection()); };
    effects.screenRequest = []() -> Task<bool> { co_return canReadScreen(qtConnection()); };
    effects.postEventPreflight = [] { return canPostEvents(qtConnection()); };
    effects.postEventRequest = []() -> Task<bool> { co_return canPostEvents(qtConnection()); };
    effects.microphoneStatus = [] { return DesktopPermissionChecks::checkMicrophone(); };
    effects.microphoneRequest = []() -> Task<bool> {
        co_return co_await DesktopPermissionChecks::checkMicrophone()
            == MicrophoneAuthorizationFact::authorized;
    };
    effects.openSettings = [](QUrl url) { return openPrivacySettings(std::move(url)); };
    effects.settingsPageAvailable = [](QUrl url) {
        return DesktopSettingsOpener::command(url, qEnvironmentVariable("XDG_CURRENT_DESKTOP")).has_value();
    };
    effects.bringAppForward = [] {
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { WindowActivation::reveal(nullptr); }, Qt::QueuedConnection);
    };
    effects.relaunchApp = [] { AppRelaunch::relaunch(); };
    // Posting events needs nothing but XTEST: trusted exactly when the check itself passes, so a
    // process is never "trusted but not yet able" and never relaunched for it.
    effects.accessibilityTrusted = [] { return canPostEvents(qtConnection()); };
    effects.requestsOnlyRecheck = true;
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

QList<QUrl> PermissionController::settingsURLs(PermissionKind kind)
{
    switch (kind) {
    case PermissionKind::screenRecording:
        return { screenRecordingSettingsURL() };
    case PermissionKind::controlScrolling:
        return { accessibilitySettingsURL() };
    case PermissionKind::systemAudio:
        return { systemAudioSettingsURL() };
    case PermissionKind::microphone:
        break;
    }
    return { microphoneSettingsURL(), microphoneSettingsFallbackURL() };
}

PermissionPresentation PermissionController::offeringSettings(PermissionPresentation presentation) const
{
    if (presentation.showsOpenSettings && m_effects.settingsPageAvailable) {
        const QList<QUrl> pages = settingsURLs(presentation.kind);
        presentation.showsOpenSettings = std::any_of(pages.cbegin(), pages.cend(),
            [this](const QUrl &page) { return m_effects.settingsPageAvailable(page); });
    }
    return presentation;
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
    m_screen.presentation = offeringSettings(PermissionPresentationResolver::screen(
        m_lastScreenPreflight, flag(screenCaptureRequestedKey), flag(screenCaptureGrantedKey)));
    m_systemAudio.presentation
        = offeringSettings(PermissionPresentationResolver::systemAudio(systemAudioObservation()));
    m_scrolling.presentation = offeringSettings(PermissionPresentationResolver::controlScrolling(
        m_lastPostEventPreflight, flag(postEventRequestedKey)));
    refreshMicrophone();
    m_microphone.isBusy = true;
    firstMicrophoneCheck();
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

void PermissionController::setPresentation(PermissionKind kind, const PermissionPresentation &shown)
{
    const PermissionPresentation presentation = offeringSettings(shown);
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
                = QStringLiteral("This process still cannot send scroll steps. Control Scrolling needs an "
                                 "X11 (Xorg) session whose X server has the XTEST extension; relaunch "
                                 "Quorvel once it has one.");
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
    PermissionPresentation presentation
        = PermissionPresentationResolver::microphone(m_microphoneFact, m_recordYouEnabled);
    // Before the first answer there is nothing to call unverified yet.
    if (m_microphoneCheckAnswered == 0)
        presentation.statusTitle = PermissionFeedback::checking().text;
    setPresentation(PermissionKind::microphone, presentation);
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

Task<> PermissionController::checkMicrophone()
{
    const quint64 started = ++m_microphoneChecksStarted;
    const MicrophoneAuthorizationFact fact = co_await m_effects.microphoneStatus();
    // A check that started later and has already answered knows better.
    if (CurrentTask::isCancelled() || started < m_microphoneCheckAnswered)
        co_return;
    m_microphoneCheckAnswered = started;
    m_microphoneFact = fact;
    refreshMicrophone();
}

Task<> PermissionController::firstMicrophoneCheck()
{
    co_await checkMicrophone();
    setBusy(PermissionKind::microphone, false);
}

Task<> PermissionController::microphoneAfterActivation(
    std::optional<PermissionStatus> previous, bool returned)
{
    co_await checkMicrophone();
    const PermissionStatus current = m_microphone.presentation.status;
    // Before the first answer the row showed no status to have changed from.
    if (returned || (previous && current != *previous))
        setFeedback(PermissionKind::microphone,
            PermissionFeedbackCopy::afterCheck(
                PermissionKind::microphone, previous.value_or(current), current, false));
}

void PermissionController::refreshFromAppActivation()
{
    const PermissionStatus previousScreen = m_screen.presentation.status;
    const PermissionStatus previousScrolling = m_scrolling.presentation.status;
    std::optional<PermissionStatus> previousMicrophone;
    if (m_microphoneCheckAnswered > 0)
        previousMicrophone = m_microphone.presentation.status;
    refreshScreen();
    refreshScrolling();
    refreshMicrophone();
    refreshSystemAudio();

    const bool returned = m_wasInactive;
    m_wasInactive = false;
    std::optional<PermissionKind> finished;
    if (returned)
        finished = std::exchange(m_awaitingReturnFromSettings, std::nullopt);
    if (finished == PermissionKind::systemAudio) {
        setFeedback(PermissionKind::systemAudio,
            // Nothing asks for System Audio: only a recording shows whether it works.
            PermissionFeedback { QStringLiteral("Returned from System Settings. Start a recording to confirm "
                                                "System Audio."),
                PermissionFeedbackTone::info });
    }
    const std::pair<PermissionKind, PermissionStatus> previous[] = {
        { PermissionKind::screenRecording, previousScreen },
        { PermissionKind::controlScrolling, previousScrolling },
    };
    for (const auto &[kind, status] : previous) {
        const PermissionStatus current = row(kind).presentation.status;
        if (finished == kind)
            setFeedback(kind, PermissionFeedbackCopy::afterCheck(kind, status, current, true));
        else if (!finished && current != status)
            setFeedback(kind, PermissionFeedbackCopy::afterCheck(kind, status, current, false));
    }
    // Prompted in this process and still not usable: the grant only reaches a new process.
    if (finished == PermissionKind::screenRecording && !m_lastScreenPreflight
        && m_didPromptScreenThisLaunch) {
        m_screenRequestAcceptedPendingRelaunch = true;
        refreshScreen();
        setFeedback(PermissionKind::screenRecording, PermissionFeedbackCopy::screenRecordingNeedsRelaunch());
        m_effects.relaunchApp();
    }
    if (finished == PermissionKind::controlScrolling && !m_lastPostEventPreflight
        && m_effects.accessibilityTrusted() && !relaunchForScrollingAccessIfNeeded())
        setScrollingUnavailableFeedback();
    // The microphone is looked at afresh; coming back from its settings always gets a message.
    if (!finished || finished == PermissionKind::microphone)
        microphoneAfterActivation(previousMicrophone, finished.has_value());
    else
        checkMicrophone();
}

Task<> PermissionController::requestScreenAccess()
{
    constexpr PermissionKind kind = PermissionKind::screenRecording;
    if (!m_screen.presentation.showsRequestAccess || m_screen.isBusy)
        co_return;
    setBusy(kind, true);
    setFeedback(kind, PermissionFeedback::checking());
    const bool promptedBefore = m_didPromptScreenThisLaunch;
    const bool prompts = !m_effects.requestsOnlyRecheck;

    const bool granted = co_await m_effects.screenRequest();

    // Only a prompt's yes is an acceptance; a re-check's yes is just what it found.
    const bool accepted = granted && prompts;
    m_didPromptScreenThisLaunch = promptedBefore || prompts;
    m_screenRequestAcceptedPendingRelaunch = accepted;
    setFlag(screenCaptureRequestedKey, true);
    if (granted)
        setFlag(screenCaptureGrantedKey, true);
    refreshScreen();
    if (granted || !prompts) {
        setFeedback(kind, PermissionFeedbackCopy::afterRequest(kind, m_screen.presentation.status, accepted));
        // The desktop said yes, yet this process still cannot read the screen.
        if (accepted && m_screen.presentation.mayNeedRelaunch)
            m_effects.relaunchApp();
    } else if (promptedBefore) {
        co_await openSettings(kind);
    } else {
        m_awaitingReturnFromSettings = kind;
        setFeedback(kind, PermissionFeedbackCopy::screenPromptVisible());
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

    const bool prompts = !m_effects.requestsOnlyRecheck;
    cancelScrollingGrantWatch();
    // The prompt shows in front of the app; a re-check shows nothing.
    if (prompts)
        m_effects.bringAppForward();
    const bool answered = co_await m_effects.postEventRequest();
    m_didPromptScrollingThisLaunch = prompts;
    setFlag(postEventRequestedKey, true);
    refreshScrolling();
    if (m_lastPostEventPreflight) {
        m_postEventAcceptedPendingRelaunch = false;
        setFeedback(kind, allowedScrollingFeedback());
        m_effects.bringAppForward();
    } else if ((answered && prompts) || m_effects.accessibilityTrusted()) {
        // Relaunched once already: the row would otherwise keep saying "Checking…".
        if (!relaunchForScrollingAccessIfNeeded())
            setScrollingUnavailableFeedback();
    } else if (prompts) {
        m_awaitingReturnFromSettings = kind;
        setFeedback(kind, PermissionFeedbackCopy::scrollingPromptVisible());
        watchForScrollingGrant();
    } else {
        // Nothing to wait for: only another session changes what the check found.
        setFeedback(kind, PermissionFeedbackCopy::afterRequest(kind, m_scrolling.presentation.status, false));
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
    co_await checkMicrophone();
    setFeedback(kind,
        PermissionFeedbackCopy::afterRequest(
            kind, m_microphone.presentation.status, granted && !m_effects.requestsOnlyRecheck));
    setBusy(kind, false);
}

Task<> PermissionController::finishMicrophoneCheckAgain(PermissionStatus previous)
{
    co_await checkMicrophone();
    setFeedback(PermissionKind::microphone,
        PermissionFeedbackCopy::afterCheck(
            PermissionKind::microphone, previous, m_microphone.presentation.status, false));
    setBusy(PermissionKind::microphone, false);
}

Task<> PermissionController::checkAgain(PermissionKind kind)
{
    const RowState &state = row(kind);
    if (state.presentation.showsCheckAgain && !state.isBusy) {
        setBusy(kind, true);
        setFeedback(kind, PermissionFeedback::checking());
        const PermissionStatus previous = state.presentation.status;
        if (kind == PermissionKind::microphone)
            return finishMicrophoneCheckAgain(previous);
        refresh(kind);
        setFeedback(
            kind, PermissionFeedbackCopy::afterCheck(kind, previous, row(kind).presentation.status, false));
        setBusy(kind, false);
    }
    return Task<>::spawn(this, []() -> Task<> { co_return; });
}

Task<> PermissionController::openSettings(PermissionKind kind)
{
    bool opened = false;
    for (const QUrl &url : settingsURLs(kind)) {
        opened = co_await m_effects.openSettings(url);
        if (opened)
            break;
    }
    if (!opened) {
        setFeedback(kind, PermissionFeedback::settingsOpenFailed());
        co_return;
    }
    // Where access is a fact of the session, nothing set there waits for a relaunch.
    if (!m_effects.requestsOnlyRecheck) {
        if (kind == PermissionKind::screenRecording)
            m_didVisitScreenSettingsThisLaunch = true;
        else if (kind == PermissionKind::controlScrolling)
            m_didVisitScrollingSettingsThisLaunch = true;
    }
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
