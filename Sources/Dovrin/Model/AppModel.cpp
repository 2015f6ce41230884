#include "Model/AppModel.h"

#include "Model/AudioReviewSession.h"
#include "Model/AudioSessionFlow.h"
#include "Model/CaptureReviewFlow.h"
#include "Model/DraftFlow.h"
#include "Model/InputDeviceCache.h"
#include "Model/LaunchAtLoginFlow.h"
#include "Model/PermissionActions.h"
#include "Model/ReceiptFlow.h"
#include "Model/RegionCaptureFlow.h"
#include "Model/ReviewSession.h"
#include "Model/SaveWait.h"
#include "Model/ScrollingCaptureFlow.h"
#include "Model/ScrollingRecognitionFlow.h"
#include "Model/SettingsFlow.h"
#include "Model/ShortcutFlow.h"
#include "Model/WriteBehindDefaultsStore.h"
#include "Rules/AudioLevelMeter.h"
#include "Rules/AudioOthersSelection.h"

#include <QGuiApplication>
#include <QPointer>
#include <QtConcurrent>

AppModel::AppModel(Services services, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_isAudioSelfTest(m_services.arguments.contains(QStringLiteral("--audio-spike")))
    , m_settingsStore(m_services.defaults)
{
    m_settings = m_settingsStore.load();
    TaskClock &clock = m_services.clock ? *m_services.clock : TaskClock::system();
    m_permissions = new PermissionController(
        m_services.defaults, m_services.permissionEffects, m_settings.recordYouMicrophone, clock, this);
    m_audio = m_services.makeAudio().release();
    m_audio->setParent(this);
    m_setupPresentation = SetupPresentationState(
        m_settings.setupComplete, m_settings.onboardingStep, m_settings.hasRunTestCapture);

    QPointer<AppModel> self(this);
    ModelServices::RegisterHotKey registerHotKey;
    if (m_services.makeHotKey) {
        registerHotKey = m_services.makeHotKey(
            this,
            [self] {
                if (self)
                    emit self->captureShortcutPressed();
            },
            [self](HotKeyRegistrationState state) {
                if (self && self->m_shortcut)
                    self->m_shortcut->noteRegistration(state);
            });
    }
    m_shortcut = new ShortcutFlow(*m_services.defaults, registerHotKey, this);
    m_launchAtLogin = new LaunchAtLoginFlow(m_services.launchAtLoginService, this);
    m_settingsFlow = new SettingsFlow(*this, *m_launchAtLogin, this);
    m_drafts = new DraftFlow(*this, this);
    m_permissionActions = new PermissionActions(*this, this);
    m_audioSession = new AudioSessionFlow(*this, this);
    m_scrollingRecognition = new ScrollingRecognitionFlow(*this, this);
    m_captureReview = new CaptureReviewFlow(*this, *m_scrollingRecognition, this);
    m_regionCapture = new RegionCaptureFlow(*this, *m_captureReview, this);
    m_scrollingCapture = new ScrollingCaptureFlow(*this, *m_regionCapture, *m_scrollingRecognition, this);
    m_receipts = new ReceiptFlow(*this, *m_regionCapture, *m_captureReview, this);
    // The hot key captures from the application in front now, never one a menu command remembered.
    connect(this, &AppModel::captureShortcutPressed, m_regionCapture, [this] {
        m_visualCapture.forgetRememberedApplication();
        m_regionCapture->handleCaptureInvocation();
    });
    m_inputDevices = new InputDeviceCache(m_services.readInputDevices, this);

    connect(m_shortcut, &ShortcutFlow::currentShortcutChanged, this, &AppModel::currentShortcutChanged);
    connect(m_shortcut, &ShortcutFlow::registrationChanged, this, &AppModel::shortcutRegistrationChanged);
    connect(m_shortcut, &ShortcutFlow::messageChanged, this, &AppModel::shortcutMessageChanged);
    connect(m_launchAtLogin, &LaunchAtLoginFlow::presentationChanged, this, &AppModel::launchAtLoginChanged);
    connect(m_settingsFlow, &SettingsFlow::automaticallyChecksForUpdatesChanged, this,
        &AppModel::automaticallyChecksForUpdatesChanged);
    connect(m_settingsFlow, &SettingsFlow::includeFeedbackDiagnosticsChanged, this,
        &AppModel::includeFeedbackDiagnosticsChanged);
    connect(m_settingsFlow, &SettingsFlow::writeFailureChanged, this, &AppModel::settingsWriteFailureChanged);
    // A suite written behind says how a write went once it is done; any other says so at once.
    if (auto *behind = dynamic_cast<WriteBehindDefaultsStore *>(m_services.defaults.get())) {
        m_writesBehind = true;
        connect(behind, &WriteBehindDefaultsStore::writeFinished, m_settingsFlow,
            &SettingsFlow::noteSettingsWrite);
    } else {
        connect(m_shortcut, &ShortcutFlow::stored, m_settingsFlow, &SettingsFlow::noteSettingsWrite);
    }

    if (!m_isAudioSelfTest) {
        if (!m_setupPresentation.isComplete)
            requestWindow(QStringLiteral("setup"));
        // Said once, here: the file stays as it is until the user changes a setting.
        if (const std::optional<QString> unreadable = m_services.defaults->readFailure();
            unreadable && m_services.presentAlert)
            m_services.presentAlert(QStringLiteral("The settings could not be read"),
                QStringLiteral("%1. Quorvel started with the default settings and left the file as it is. "
                               "Your next change to a setting is saved in a new file, and this one is kept "
                               "beside it with “.unreadable” added to its name.")
                    .arg(*unreadable));
        if (m_services.windows.installActivation)
            m_services.windows.installActivation();
    }
    m_permissions->setRecordYouEnabled(m_settings.recordYouMicrophone);
    m_audio->onSystemAudioStarted = [self] {
        if (self)
            self->m_permissions->recordSystemAudioStartSucceeded();
    };
    m_audio->onSystemAudioStartFailed = [self] {
        if (self)
            self->m_permissions->recordSystemAudioStartFailed();
    };
    if (auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(
            application, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    applicationDidBecomeActive();
                else
                    m_permissions->setWasInactive(true);
            });
    }
    m_launchAtLogin->refresh();
    m_inputDevices->refresh();
    m_drafts->startDraftStoreIfNeeded();
}

AppModel::~AppModel()
{
    m_audio->onSystemAudioStarted = nullptr;
    m_audio->onSystemAudioStartFailed = nullptr;
    m_visualCapture.invalidateOCRTask();
    m_visualCapture.abandonCapture();
    // The flows go while the state they reach through ModelContext still exists, the later ones
    // (which use the earlier) first, and the services they use after them.
    for (QObject *child : std::initializer_list<QObject *> { m_receipts, m_scrollingCapture, m_regionCapture,
             m_captureReview, m_scrollingRecognition, m_audioSession, m_permissionActions, m_drafts,
             m_settingsFlow, m_launchAtLogin, m_shortcut, m_inputDevices, m_audio, m_permissions })
        delete child;
    qDeleteAll(findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly));
}

// Published state.

HotKeyRegistrationState AppModel::shortcutRegistration() const
{
    return m_shortcut->registration();
}

CaptureShortcut AppModel::currentShortcut() const
{
    return m_shortcut->currentShortcut();
}

QString AppModel::shortcutMessage() const
{
    return m_shortcut->message();
}

void AppModel::clearRequestedWindow()
{
    if (!m_requestedWindow)
        return;
    m_requestedWindow.reset();
    emit requestedWindowChanged();
}

void AppModel::clearRefusedOthersSource()
{
    if (!m_refusedOthersSource)
        return;
    m_refusedOthersSource.reset();
    emit refusedOthersSourceChanged();
}

void AppModel::setRefusedOthersSource(const QString &bundleID)
{
    m_refusedOthersSource = bundleID;
    emit refusedOthersSourceChanged();
}

void AppModel::setTranscriptionProgress(std::optional<double> share)
{
    if (share == m_transcriptionProgress)
        return;
    m_transcriptionProgress = share;
    emit transcriptionProgressChanged();
}

LaunchAtLoginPresentation AppModel::launchAtLogin() const
{
    return m_launchAtLogin->presentation();
}

bool AppModel::includeFeedbackDiagnostics() const
{
    return m_settingsFlow->includeFeedbackDiagnostics();
}

void AppModel::setIncludeFeedbackDiagnostics(bool include)
{
    m_settingsFlow->setIncludeFeedbackDiagnostics(include);
}

bool AppModel::automaticallyChecksForUpdates() const
{
    return m_settingsFlow->automaticallyChecksForUpdates();
}

const std::optional<QString> &AppModel::settingsWriteFailure() const
{
    return m_settingsFlow->writeFailure();
}

void AppModel::setPresentsDraftDeleteAlert(bool presents)
{
    if (presents == m_presentsDraftDeleteAlert)
        return;
    m_presentsDraftDeleteAlert = presents;
    emit presentsDraftDeleteAlertChanged();
}

// ModelContext.

void AppModel::setPhase(CapturePhase phase)
{
    if (phase == m_phase)
        return;
    m_phase = phase;
    emit phaseChanged();
}

void AppModel::resetPhaseToIdle()
{
    if (m_phase == CapturePhase::idle)
        return;
    if (CapturePhaseTransition::allows(m_phase, CapturePhase::canceled))
        setPhase(CapturePhase::canceled);
    setPhase(CapturePhase::idle);
}

void AppModel::setStatusMessage(const QString &message)
{
    if (message == m_statusMessage)
        return;
    m_statusMessage = message;
    emit statusMessageChanged();
}

void AppModel::setSettings(const AppSettings &settings)
{
    if (settings == m_settings)
        return;
    m_settings = settings;
    emit settingsChanged();
}

void AppModel::adoptRefreshedFolder(const FolderAccess &stale, const FolderAccess &refreshed)
{
    AppSettings settings = m_settings;
    for (std::optional<FolderAccess> *folder : { &settings.defaultFolder, &settings.lastUsedFolder }) {
        if (*folder == stale)
            *folder = refreshed;
    }
    if (settings == m_settings)
        return;
    setSettings(settings);
    persistSettings();
}

void AppModel::requestWindow(const QString &window)
{
    if (m_isAudioSelfTest)
        return;
    m_requestedWindow = window;
    emit requestedWindowChanged();
    if (m_services.windows.reveal)
        m_services.windows.reveal();
}

void AppModel::setReviewSession(std::shared_ptr<ReviewSession> session)
{
    if (session == m_reviewSession)
        return;
    m_reviewSession = std::move(session);
    emit reviewSessionChanged();
}

void AppModel::setPendingDraft(std::optional<CaptureDraft> draft)
{
    if (draft == m_pendingDraft)
        return;
    m_pendingDraft = std::move(draft);
    emit pendingDraftChanged();
}

void AppModel::setAudioReview(std::shared_ptr<AudioReviewSession> session)
{
    if (session == m_audioReview)
        return;
    m_audioReview = std::move(session);
    emit audioReviewChanged();
}

void AppModel::setReceipt(std::optional<SavedReceipt> receipt)
{
    if (receipt == m_receipt)
        return;
    m_receipt = std::move(receipt);
    emit receiptChanged();
}

void AppModel::setMovingReceiptToTrash(bool moving)
{
    if (moving == m_isMovingReceiptToTrash)
        return;
    m_isMovingReceiptToTrash = moving;
    emit isMovingReceiptToTrashChanged();
}

// Derived values.

bool AppModel::canAdvanceOnboarding() const
{
    return m_settingsFlow->canAdvanceOnboarding();
}

bool AppModel::hasRecoverableDraft() const
{
    return m_pendingDraft || m_drafts->currentDraft();
}

bool AppModel::isVisualCaptureActive() const
{
    return m_phase == CapturePhase::selecting || m_phase == CapturePhase::captured
        || (m_visualCapture.scrollingCaptureGeneration && !m_permissions->isRelaunching());
}

QString AppModel::audioMenuTitle() const
{
    switch (m_audio->phase()) {
    case AudioSessionPhase::starting:
        return QStringLiteral("Starting Recording…");
    case AudioSessionPhase::recording:
    case AudioSessionPhase::stopping:
        return QStringLiteral("Stop Recording (%1)").arg(AudioElapsed::label(m_audio->elapsed()));
    case AudioSessionPhase::transcribing:
        return QStringLiteral("Transcribing…");
    case AudioSessionPhase::reviewing:
        return QStringLiteral("Review Audio…");
    case AudioSessionPhase::idle:
    case AudioSessionPhase::saved:
    case AudioSessionPhase::failed:
        break;
    }
    return QStringLiteral("Record Audio");
}

QString AppModel::othersSourceTitle() const
{
    return AudioOthersSelection::displayName(
        m_settings.othersAudioBundleID, m_settings.othersAudioDisplayName);
}

QString AppModel::youSourceTitle() const
{
    if (!m_settings.recordYouMicrophone)
        return QStringLiteral("Off");
    if (m_settings.microphoneDeviceUID) {
        if (const auto device = m_inputDevices->device(*m_settings.microphoneDeviceUID))
            return device->name;
    }
    if (const auto &fallback = m_inputDevices->devices().defaultInput)
        return fallback->name;
    return QStringLiteral("System Default");
}

QString AppModel::menuStatusDetail() const
{
    switch (m_audio->phase()) {
    case AudioSessionPhase::transcribing:
        return m_statusMessage;
    case AudioSessionPhase::failed:
        if (m_phase == CapturePhase::idle || m_phase == CapturePhase::saved
            || m_phase == CapturePhase::canceled)
            return m_statusMessage;
        break;
    case AudioSessionPhase::reviewing:
        return QStringLiteral("Review audio");
    case AudioSessionPhase::recording:
    case AudioSessionPhase::stopping:
        return QStringLiteral("Recording");
    case AudioSessionPhase::starting:
        return QStringLiteral("Starting recording");
    case AudioSessionPhase::idle:
    case AudioSessionPhase::saved:
        break;
    }
    if (!m_permissions->lastScreenPreflight() || m_phase == CapturePhase::needsPermission)
        return QStringLiteral("Screen Recording needed");
    if (m_visualCapture.scrollingCapture)
        return QStringLiteral("Capturing scrolling content");
    if (m_visualCapture.scrollingCaptureGeneration && m_permissions->isWatchingForScrollingGrant()
        && !m_permissions->isRelaunching()
        && m_permissions->scrolling().presentation.status != PermissionStatus::allowed)
        return QStringLiteral("Waiting for Control Scrolling");
    switch (m_phase) {
    case CapturePhase::selecting:
        return QStringLiteral("Selecting region");
    case CapturePhase::captured:
    case CapturePhase::ocrProcessing:
    case CapturePhase::needsOCR:
        return QStringLiteral("Recognizing text");
    case CapturePhase::review:
    case CapturePhase::saving:
    case CapturePhase::destinationUnavailable:
    case CapturePhase::saveFailed:
        return QStringLiteral("Review open");
    default:
        break;
    }
    // Said where it is seen: a change the program made on its own would otherwise be lost unnoticed.
    if (settingsWriteFailure())
        return m_settingsFlow->recentListUnsaved() ? QStringLiteral("The recent list could not be saved")
                                                   : QStringLiteral("Settings could not be saved");
    if (shortcutRegistration() != HotKeyRegistrationState::registered)
        return QStringLiteral("Shortcut unavailable");
    if (hasRecoverableDraft() && !m_reviewSession)
        return QStringLiteral("Unfinished capture");
    return QStringLiteral("Ready");
}

// Start-up, activation and quit.

void AppModel::applicationDidBecomeActive()
{
    m_permissions->refreshFromAppActivation();
    m_launchAtLogin->refresh();
    m_settingsFlow->refreshAutomaticallyChecksForUpdates();
    m_settingsFlow->refreshWriteFailure();
    m_inputDevices->refresh();
    m_drafts->startDraftStoreIfNeeded();
    m_scrollingCapture->resumeScrollingCaptureAfterRelaunchIfNeeded();
}

Task<bool> AppModel::finalizeOpenSessionsForQuit()
{
    // A second termination request while the first is still deciding waits for the same answer.
    if (!m_quitGate.isValid() || m_quitGate.isFinished())
        m_quitGate = runQuitGate();
    return m_quitGate;
}

bool AppModel::hasWorkToFinishOnQuit() const
{
    return isVisualCaptureActive() || m_reviewSession || m_audioReview || m_audio->isBusy()
        || m_audioSession->hasPendingTranscription();
}

Task<bool> AppModel::runQuitGate()
{
    bool answer = true;
    if (isVisualCaptureActive()) {
        m_visualCapture.abandonCapture();
        const bool deleted = co_await m_drafts->clearDraftArtifacts();
        // The capture is over either way: a refused quit must not leave a selection phase behind.
        resetPhaseToIdle();
        if (!deleted) {
            setStatusMessage(
                QStringLiteral("The temporary scrolling capture could not be deleted. Try quitting again."));
            answer = false;
        }
    }
    // A note being written decides first: once it is written the review and its draft are gone, and
    // a draft kept beside its note would be offered again at the next start.
    if (answer && m_reviewSession && m_reviewSession->isSaving()) {
        Task<bool> settling = saveEnds(m_reviewSession, m_drafts->clock(), DraftFlow::saveWaitLimit);
        if (!co_await settling) {
            setStatusMessage(QStringLiteral("The capture is still being saved. Try quitting again."));
            answer = false;
        }
    }
    if (answer)
        answer = co_await m_drafts->persistRegionDraft();
    if (answer) {
        m_visualCapture.invalidateOCRTask();
        m_audioSession->cancelInFlightTranscription();
        if (m_audio->isRecording())
            co_await m_audioSession->finishAudioRecording(false);
        // A stop that was already under way may have left its recording to transcribe, and an earlier
        // recording may still be transcribing while the phase is the next one's.
        if (m_audioSession->hasPendingTranscription()) {
            co_await m_audioSession->savePendingTranscriptionNow(
                QStringLiteral("Quit before transcription finished."));
        }
        // A session that was saved at once (and failed) was never in front of the user.
        if (m_audioReview)
            answer = co_await m_audioSession->saveAudioReview(m_audioReview->wasPresented());
    }
    if (m_services.relaunch.isPending && m_services.relaunch.isPending()) {
        if (answer)
            m_services.relaunch.commit();
        else
            m_services.relaunch.cancel();
    }
    co_return answer;
}

void AppModel::rememberFrontmostApplication()
{
    const QDateTime at = m_services.now();
    m_visualCapture.forgetRememberedApplication();
    m_visualCapture.rememberedApplicationAt = at;
    rememberFrontmost(at, m_visualCapture.rememberGeneration);
}

Task<> AppModel::rememberFrontmost(QDateTime at, int generation)
{
    if (!m_services.frontmostApplication)
        co_return;
    QFuture<ForeignApplication> asking = QtConcurrent::run(m_services.frontmostApplication);
    const ForeignApplication application = co_await asking;
    // A newer command asked again, or a capture already took (or passed over) this one.
    if (generation != m_visualCapture.rememberGeneration)
        co_return;
    m_visualCapture.rememberedApplication = application;
    m_visualCapture.rememberedApplicationAt = at;
}

// Settings, shortcut, launch at login, feedback.

void AppModel::persistSettings()
{
    m_services.defaults->replaceUnreadable();
    m_recentAvailability.prune(m_settings.recent);
    m_settingsFlow->notePersisting(m_settings.recent);
    m_settingsStore.save(m_settings);
    if (!m_writesBehind)
        m_settingsFlow->noteSettingsWrite();
    m_setupPresentation.refreshCompletion(
        m_settings.setupComplete, m_settings.onboardingStep, m_settings.hasRunTestCapture);
}

void AppModel::updateSettings(const AppSettings &settings)
{
    setSettings(settings);
    persistSettings();
}

void AppModel::applyShortcut(const CaptureShortcut &shortcut)
{
    m_shortcut->applyShortcut(shortcut);
}

std::optional<QString> AppModel::applyShortcut(const QKeyEvent &event)
{
    return m_shortcut->applyShortcut(event);
}

Task<> AppModel::applyLaunchAtLogin(bool enabled)
{
    return m_launchAtLogin->applyLaunchAtLogin(enabled);
}

void AppModel::applyAutomaticallyChecksForUpdates(bool enabled)
{
    m_settingsFlow->applyAutomaticallyChecksForUpdates(enabled);
}

void AppModel::checkForUpdates()
{
    m_settingsFlow->checkForUpdates();
}

void AppModel::completeSetup()
{
    m_settingsFlow->completeSetup();
}

void AppModel::sendFeedback()
{
    m_settingsFlow->sendFeedback();
}

FeedbackMail::Snapshot AppModel::feedbackSnapshot() const
{
    return m_settingsFlow->feedbackSnapshot();
}

void AppModel::advanceOnboarding()
{
    m_settingsFlow->advanceOnboarding();
}

void AppModel::retreatOnboarding()
{
    m_settingsFlow->retreatOnboarding();
}

void AppModel::selectOnboardingStep(OnboardingStep step)
{
    m_settingsFlow->selectOnboardingStep(step);
}

bool AppModel::consumeSetupPresentation()
{
    return m_settingsFlow->consumeSetupPresentation();
}

// Drafts and reviews.

Task<> AppModel::startDraftStoreIfNeeded()
{
    return m_drafts->startDraftStoreIfNeeded();
}

Task<bool> AppModel::persistRegionDraft()
{
    return m_drafts->persistRegionDraft();
}

Task<bool> AppModel::parkOpenReview()
{
    return m_drafts->parkOpenReview();
}

Task<> AppModel::deleteOpenDraft()
{
    return m_drafts->deleteOpenDraft();
}

Task<> AppModel::resumePendingDraft()
{
    const std::optional<CaptureDraft> &draft = m_pendingDraft ? m_pendingDraft : m_drafts->currentDraft();
    if (draft && draft->audioSession)
        return m_audioSession->resumeAudioDraft(*draft);
    return m_drafts->resumePendingDraft();
}

Task<bool> AppModel::deletePendingDraft()
{
    return m_drafts->deletePendingDraft();
}

// Region capture and its review.

Task<> AppModel::handleCaptureInvocation()
{
    return m_regionCapture->handleCaptureInvocation();
}

Task<> AppModel::startCapture()
{
    return m_regionCapture->startCapture();
}

Task<> AppModel::cancelVisualCapture()
{
    return m_regionCapture->cancelVisualCapture();
}

void AppModel::retryOCR()
{
    m_captureReview->retryOCR();
}

void AppModel::cancelOCR()
{
    m_captureReview->cancelOCR();
}

bool AppModel::copyReviewedText()
{
    return m_captureReview->copyReviewedText();
}

bool AppModel::copyToPasteboard(const QString &text, const QString &successMessage)
{
    return m_captureReview->copyToPasteboard(text, successMessage);
}

Task<> AppModel::chooseReviewFolder(QWidget *parent)
{
    return m_captureReview->chooseReviewFolder(parent);
}

void AppModel::applyReviewDestination(const FolderAccess &access)
{
    m_captureReview->applyReviewDestination(access);
}

Task<> AppModel::saveOpenReview()
{
    return m_captureReview->saveOpenReview();
}

// Scrolling capture.

Task<> AppModel::startScrollingCapture()
{
    return m_scrollingCapture->startScrollingCapture();
}

void AppModel::resumeScrollingCaptureAfterRelaunchIfNeeded()
{
    m_scrollingCapture->resumeScrollingCaptureAfterRelaunchIfNeeded();
}

std::optional<QImage> AppModel::joinForScrollingOCR(
    const std::optional<QImage> &previous, const QImage &current, int overlapRows)
{
    return ScrollingRecognitionFlow::joinForScrollingOCR(previous, current, overlapRows);
}

// Receipt, recent captures and the capture folder.

void AppModel::revealReceipt()
{
    m_receipts->revealReceipt();
}

Task<> AppModel::moveReceiptToTrash()
{
    return m_receipts->moveReceiptToTrash();
}

Task<> AppModel::captureAnother()
{
    return m_receipts->captureAnother();
}

void AppModel::dismissReceipt()
{
    m_receipts->dismissReceipt();
}

bool AppModel::recentIsMissing(const RecentCaptureRef &entry)
{
    return m_receipts->recentIsMissing(entry);
}

void AppModel::openRecent(const RecentCaptureRef &entry)
{
    m_receipts->openRecent(entry);
}

void AppModel::revealRecent(const RecentCaptureRef &entry)
{
    m_receipts->revealRecent(entry);
}

Task<bool> AppModel::copyRecent(const RecentCaptureRef &entry)
{
    return m_receipts->copyRecent(entry);
}

void AppModel::removeRecent(const RecentCaptureRef &entry)
{
    m_receipts->removeRecent(entry);
}

void AppModel::openCaptureFolder()
{
    m_receipts->openCaptureFolder();
}

Task<> AppModel::chooseDefaultFolder(QWidget *parent)
{
    return m_receipts->chooseDefaultFolder(parent);
}

// Permissions.

Task<> AppModel::requestPermission()
{
    return m_permissionActions->requestPermission();
}

void AppModel::recheckPermission()
{
    m_permissionActions->recheckPermission();
}

Task<> AppModel::openScreenRecordingSettings()
{
    return m_permissionActions->openScreenRecordingSettings();
}

Task<> AppModel::requestScrollingPermission()
{
    return m_permissionActions->requestScrollingPermission();
}

void AppModel::recheckScrollingPermission()
{
    m_permissionActions->recheckScrollingPermission();
}

Task<> AppModel::openScrollingSettings()
{
    return m_permissionActions->openScrollingSettings();
}

Task<> AppModel::requestMicrophoneAccess()
{
    return m_permissionActions->requestMicrophoneAccess();
}

Task<> AppModel::recheckMicrophonePermission()
{
    return m_permissionActions->recheckMicrophonePermission();
}

Task<> AppModel::openSystemAudioSettings()
{
    return m_permissionActions->openSystemAudioSettings();
}

Task<> AppModel::openMicrophoneSettings()
{
    return m_permissionActions->openMicrophoneSettings();
}

// Audio sessions.

Task<> AppModel::handleAudioInvocation()
{
    return m_audioSession->handleAudioInvocation();
}

Task<> AppModel::startAudioRecording()
{
    return m_audioSession->startAudioRecording();
}

Task<> AppModel::finishAudioRecording(bool transcribe)
{
    return m_audioSession->finishAudioRecording(transcribe);
}

Task<bool> AppModel::presentAudioReview(
    AudioSessionResult result, ResolvedFolder folder, AudioTranscripts transcripts, bool saveImmediately)
{
    return m_audioSession->presentAudioReview(
        std::move(result), std::move(folder), std::move(transcripts), saveImmediately);
}

Task<bool> AppModel::saveAudioReview(bool reviewedByUser)
{
    return m_audioSession->saveAudioReview(reviewedByUser);
}

void AppModel::discardAudioReview()
{
    m_audioSession->discardAudioReview();
}

void AppModel::applyRecordYouMicrophone(bool enabled)
{
    m_audioSession->applyRecordYouMicrophone(enabled);
}

void AppModel::applyMicrophoneDeviceUID(const std::optional<QString> &uid)
{
    m_audioSession->applyMicrophoneDeviceUID(uid);
}

void AppModel::applyOthersAudioSource(
    const std::optional<QString> &bundleID, const std::optional<QString> &displayName)
{
    m_audioSession->applyOthersAudioSource(bundleID, displayName);
}
