#pragma once

#include "Async/Task.h"
#include "Documents/AppSettingsStore.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Model/OnboardingStep.h"
#include "Model/RecentAvailabilityCache.h"
#include "Model/SavedReceipt.h"
#include "Model/VisualCaptureState.h"
#include "Rules/CapturePhase.h"
#include "Rules/CaptureShortcut.h"
#include "Rules/LaunchAtLoginPresentation.h"

#include <QObject>

#include <memory>
#include <optional>

class AudioReviewSession;
class AudioSessionFlow;
class CaptureReviewFlow;
class DraftFlow;
class InputDeviceCache;
class LaunchAtLoginFlow;
class PermissionActions;
class QKeyEvent;
class QWidget;
class ReceiptFlow;
class RegionCaptureFlow;
class ReviewSession;
class ScrollingCaptureFlow;
class ScrollingRecognitionFlow;
class SettingsFlow;
class ShortcutFlow;

// The application model: the one object the windows and the menu see. It owns the state they show
// and every service that touches the system; each flow lives in a class of its own (drafts in
// DraftFlow, the shortcut in ShortcutFlow, launch at login in LaunchAtLoginFlow, setup, updates and
// feedback in SettingsFlow, permission buttons in PermissionActions, audio sessions in
// AudioSessionFlow, the capture command and region captures in RegionCaptureFlow, the review's
// recognition and save in CaptureReviewFlow, scrolling captures in ScrollingCaptureFlow and their
// recognition again from the tiles in ScrollingRecognitionFlow, the receipt, recent captures and
// capture folder in ReceiptFlow) and reaches the shared state through ModelContext; the operations here
// forward to them. Each published value has a getter and a <name>Changed() signal. Main thread only: long
// work runs in tasks, and nothing here waits for the disk, the sound server or a worker.
class AppModel : public QObject, private ModelContext
{
    Q_OBJECT

public:
    using Services = ModelServices;

    explicit AppModel(Services services = Services::live(), QObject *parent = nullptr);
    ~AppModel() override;

    // Published state.
    CapturePhase phase() const override { return m_phase; }
    QString statusMessage() const override { return m_statusMessage; }
    const AppSettings &settings() const override { return m_settings; }
    HotKeyRegistrationState shortcutRegistration() const;
    CaptureShortcut currentShortcut() const;
    QString shortcutMessage() const;
    const std::optional<QString> &requestedWindow() const { return m_requestedWindow; }
    // The shell opened the window it asked for.
    void clearRequestedWindow();
    // The Others application a record command found not running, until the settings window showed it.
    const std::optional<QString> &refusedOthersSource() const { return m_refusedOthersSource; }
    void clearRefusedOthersSource();
    // How far the transcription of the stopped recording got, from 0 to 1; none before it says.
    std::optional<double> transcriptionProgress() const { return m_transcriptionProgress; }
    const std::optional<SavedReceipt> &receipt() const override { return m_receipt; }
    std::shared_ptr<AudioReviewSession> audioReview() const override { return m_audioReview; }
    bool isMovingReceiptToTrash() const { return m_isMovingReceiptToTrash; }
    const std::optional<CaptureDraft> &pendingDraft() const override { return m_pendingDraft; }
    std::shared_ptr<ReviewSession> reviewSession() const override { return m_reviewSession; }
    LaunchAtLoginPresentation launchAtLogin() const;
    bool includeFeedbackDiagnostics() const;
    void setIncludeFeedbackDiagnostics(bool include);
    bool automaticallyChecksForUpdates() const;
    // Why the last settings change could not be written to disk; none once a later one was.
    const std::optional<QString> &settingsWriteFailure() const;
    bool presentsDraftDeleteAlert() const { return m_presentsDraftDeleteAlert; }
    void setPresentsDraftDeleteAlert(bool presents);

    // What windows read but never set.
    PermissionController &permissions() const override { return *m_permissions; }
    AudioSessionCoordinator &audio() const override { return *m_audio; }
    std::optional<int> scrollingCaptureGeneration() const
    {
        return m_visualCapture.scrollingCaptureGeneration;
    }
    const SoftwareUpdateService &softwareUpdate() const { return m_services.softwareUpdate; }
    const LaunchAtLoginService &launchAtLoginService() const { return m_services.launchAtLoginService; }

    // Derived values for the menu and windows.
    bool canAdvanceOnboarding() const;
    bool hasRecoverableDraft() const;
    bool isVisualCaptureActive() const override;
    QString audioMenuTitle() const;
    QString othersSourceTitle() const;
    QString youSourceTitle() const;
    // The menu's status line: the first phrase that applies, audio first.
    QString menuStatusDetail() const;

    // Start-up and activation.
    // On every activation of the app, when the tray icon first shows and when the setup or settings
    // window appears: permissions, launch at login, updates, devices, the draft store.
    void applicationDidBecomeActive();
    // The quit gate: ends a selection or scrolling capture, keeps an open review in its draft, stops
    // a recording and saves the audio session, then answers whether the program may quit. A pending
    // relaunch is committed when it may and dropped when it may not.
    Task<bool> finalizeOpenSessionsForQuit();
    // The quit gate has something to end or keep: a capture, a review, an audio session.
    bool hasWorkToFinishOnQuit() const;
    // The application in front when a menu capture command was chosen, for the next capture.
    void rememberFrontmostApplication();
    static ForeignApplication frontmostForeignApplication() { return ForeignApplication::frontmost(); }

    // Settings, shortcut, launch at login, feedback.
    void persistSettings() override;
    // Replaces the settings record (the windows' own settings changes) and saves it.
    void updateSettings(const AppSettings &settings);
    void applyShortcut(const CaptureShortcut &shortcut);
    std::optional<QString> applyShortcut(const QKeyEvent &event);
    Task<> applyLaunchAtLogin(bool enabled);
    void applyAutomaticallyChecksForUpdates(bool enabled);
    void checkForUpdates();
    void completeSetup();
    void sendFeedback();
    FeedbackMail::Snapshot feedbackSnapshot() const;
    void advanceOnboarding();
    void retreatOnboarding();
    void selectOnboardingStep(OnboardingStep step);
    bool consumeSetupPresentation();

    // Drafts and reviews.
    Task<> startDraftStoreIfNeeded();
    Task<bool> persistRegionDraft();
    Task<bool> parkOpenReview();
    Task<> deleteOpenDraft();
    Task<> resumePendingDraft();
    Task<bool> deletePendingDraft();

    // Region capture and its review.
    // The hot key and the capture menu command.
    Task<> handleCaptureInvocation();
    Task<> startCapture();
    Task<> cancelVisualCapture();
    void retryOCR();
    void cancelOCR();
    bool copyReviewedText();
    bool copyToPasteboard(const QString &text, const QString &successMessage);
    // The window that asked owns the folder chooser.
    Task<> chooseReviewFolder(QWidget *parent = nullptr);
    void applyReviewDestination(const FolderAccess &access);
    Task<> saveOpenReview();

    // Scrolling capture.
    Task<> startScrollingCapture();
    // Also on every activation: a capture interrupted by a relaunch for Control Scrolling starts again.
    void resumeScrollingCaptureAfterRelaunchIfNeeded();
    static std::optional<QImage> joinForScrollingOCR(
        const std::optional<QImage> &previous, const QImage &current, int overlapRows);

    // Receipt, recent captures and the capture folder.
    void revealReceipt();
    Task<> moveReceiptToTrash();
    Task<> captureAnother();
    void dismissReceipt();
    bool recentIsMissing(const RecentCaptureRef &entry);
    void openRecent(const RecentCaptureRef &entry);
    void revealRecent(const RecentCaptureRef &entry);
    Task<bool> copyRecent(const RecentCaptureRef &entry);
    void removeRecent(const RecentCaptureRef &entry);
    void openCaptureFolder();
    Task<> chooseDefaultFolder(QWidget *parent = nullptr);

    // Permissions.
    Task<> requestPermission();
    void recheckPermission();
    Task<> openScreenRecordingSettings();
    Task<> requestScrollingPermission();
    void recheckScrollingPermission();
    Task<> openScrollingSettings();
    Task<> requestMicrophoneAccess();
    Task<> recheckMicrophonePermission();
    Task<> openSystemAudioSettings();
    Task<> openMicrophoneSettings();

    // Audio sessions.
    // The record command: starts or stops a recording, or says what stands in the way.
    Task<> handleAudioInvocation();
    Task<> startAudioRecording();
    Task<> finishAudioRecording(bool transcribe);
    Task<bool> presentAudioReview(
        AudioSessionResult result, ResolvedFolder folder, AudioTranscripts transcripts, bool saveImmediately);
    Task<bool> saveAudioReview(bool reviewedByUser);
    void discardAudioReview();
    void applyRecordYouMicrophone(bool enabled);
    void applyMicrophoneDeviceUID(const std::optional<QString> &uid);
    void applyOthersAudioSource(
        const std::optional<QString> &bundleID, const std::optional<QString> &displayName);

    // The flows' view of the model, for flows that plug in later (and tests that stand in for them).
    ModelContext &flowContext() { return *this; }

signals:
    void phaseChanged();
    void statusMessageChanged();
    void settingsChanged();
    void shortcutRegistrationChanged();
    void currentShortcutChanged();
    void shortcutMessageChanged();
    void requestedWindowChanged();
    void refusedOthersSourceChanged();
    void transcriptionProgressChanged();
    void receiptChanged();
    void audioReviewChanged();
    void isMovingReceiptToTrashChanged();
    void pendingDraftChanged();
    void reviewSessionChanged();
    void launchAtLoginChanged();
    void includeFeedbackDiagnosticsChanged();
    void automaticallyChecksForUpdatesChanged();
    void settingsWriteFailureChanged();
    void presentsDraftDeleteAlertChanged();
    // The global capture shortcut was pressed; the region capture answers it.
    void captureShortcutPressed();

private:
    // ModelContext
    AppModel &model() override { return *this; }
    const ModelServices &services() const override { return m_services; }
    DefaultsStore &defaults() const override { return *m_services.defaults; }
    bool isAudioSelfTest() const override { return m_isAudioSelfTest; }
    void setPhase(CapturePhase phase) override;
    void resetPhaseToIdle() override;
    void setStatusMessage(const QString &message) override;
    void setSettings(const AppSettings &settings) override;
    SetupPresentationState &setupPresentation() override { return m_setupPresentation; }
    void adoptRefreshedFolder(const FolderAccess &stale, const FolderAccess &refreshed) override;
    const InputDeviceCache &inputDevices() const override { return *m_inputDevices; }
    void requestWindow(const QString &window) override;
    void setRefusedOthersSource(const QString &bundleID) override;
    void setTranscriptionProgress(std::optional<double> share) override;
    void setReviewSession(std::shared_ptr<ReviewSession> session) override;
    void setPendingDraft(std::optional<CaptureDraft> draft) override;
    void setAudioReview(std::shared_ptr<AudioReviewSession> session) override;
    void setReceipt(std::optional<SavedReceipt> receipt) override;
    void setMovingReceiptToTrash(bool moving) override;
    DraftFlow &drafts() override { return *m_drafts; }
    VisualCaptureState &visualCapture() override { return m_visualCapture; }
    RecentAvailabilityCache &recentAvailability() override { return m_recentAvailability; }

    Task<bool> runQuitGate();
    Task<> rememberFrontmost(QDateTime at, int generation);

    Services m_services;
    bool m_isAudioSelfTest = false;
    // The settings suite writes on a thread of its own and reports each write when it is done.
    bool m_writesBehind = false;
    AppSettingsStore m_settingsStore;

    CapturePhase m_phase = CapturePhase::idle;
    QString m_statusMessage = QStringLiteral("Ready");
    AppSettings m_settings;
    std::optional<QString> m_requestedWindow;
    std::optional<QString> m_refusedOthersSource;
    std::optional<double> m_transcriptionProgress;
    std::optional<SavedReceipt> m_receipt;
    std::shared_ptr<AudioReviewSession> m_audioReview;
    bool m_isMovingReceiptToTrash = false;
    std::optional<CaptureDraft> m_pendingDraft;
    std::shared_ptr<ReviewSession> m_reviewSession;
    bool m_presentsDraftDeleteAlert = false;
    SetupPresentationState m_setupPresentation { false, 0, false };

    VisualCaptureState m_visualCapture;
    RecentAvailabilityCache m_recentAvailability;
    Task<bool> m_quitGate;

    PermissionController *m_permissions = nullptr;
    AudioSessionCoordinator *m_audio = nullptr;
    InputDeviceCache *m_inputDevices = nullptr;
    ShortcutFlow *m_shortcut = nullptr;
    LaunchAtLoginFlow *m_launchAtLogin = nullptr;
    SettingsFlow *m_settingsFlow = nullptr;
    DraftFlow *m_drafts = nullptr;
    PermissionActions *m_permissionActions = nullptr;
    AudioSessionFlow *m_audioSession = nullptr;
    CaptureReviewFlow *m_captureReview = nullptr;
    RegionCaptureFlow *m_regionCapture = nullptr;
    ReceiptFlow *m_receipts = nullptr;
    ScrollingRecognitionFlow *m_scrollingRecognition = nullptr;
    ScrollingCaptureFlow *m_scrollingCapture = nullptr;
};
