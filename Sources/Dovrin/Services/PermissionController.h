#pragma once

#include "Async/Task.h"
#include "Rules/PermissionPresentation.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class DefaultsStore;

// The live state of the four permissions as one row each, the request flows, opening the desktop's
// settings, the Control Scrolling grant watch and the relaunch when the running process cannot use
// a permission yet. Every call into the desktop goes through Effects. Main thread only.
//
// On X11 nothing asks the user and nothing needs a restart: the live Effects make every request one
// more look at the session, so no prompt is waited for, nothing is accepted and nothing relaunches.
class PermissionController : public QObject
{
    Q_OBJECT

public:
    struct RowState
    {
        PermissionPresentation presentation;
        std::optional<PermissionFeedback> feedback;
        bool isBusy = false;

        bool operator==(const RowState &) const = default;
    };

    struct Effects
    {
        std::function<bool()> screenPreflight;
        std::function<Task<bool>()> screenRequest;
        std::function<bool()> postEventPreflight;
        std::function<Task<bool>()> postEventRequest;
        // A fresh look at the microphone, taken off the UI thread.
        std::function<Task<MicrophoneAuthorizationFact>()> microphoneStatus;
        std::function<Task<bool>()> microphoneRequest;
        std::function<Task<bool>(QUrl)> openSettings;
        // Whether a settings tool for the page is installed; asks nothing slow. Unset: assumed.
        std::function<bool(QUrl)> settingsPageAvailable;
        std::function<void()> bringAppForward;
        std::function<void()> relaunchApp;
        std::function<bool()> accessibilityTrusted;
        // The requests ask nobody and only look again: a request is no prompt shown, its yes accepts
        // nothing, and neither the settings nor a relaunch can change what the look finds.
        bool requestsOnlyRecheck = false;

        // X11 and the sound server (see the Platform layer): requests only re-check, "trusted" is
        // the Control Scrolling check itself, a relaunch goes through AppRelaunch.
        static Effects live();
    };

    static QUrl screenRecordingSettingsURL();
    static QUrl accessibilitySettingsURL();
    static QUrl systemAudioSettingsURL();
    static QUrl microphoneSettingsURL();
    static QUrl microphoneSettingsFallbackURL();
    // The pages a kind's Open Settings tries, in order.
    static QList<QUrl> settingsURLs(PermissionKind kind);

    // The bookkeeping flags, kept in the store given at construction.
    static inline const QString screenCaptureRequestedKey = QStringLiteral("screenCaptureRequested");
    static inline const QString screenCaptureGrantedKey = QStringLiteral("screenCaptureGranted");
    static inline const QString postEventRequestedKey = QStringLiteral("postEventRequested");
    static inline const QString postEventRelaunchAttemptedKey = QStringLiteral("postEventRelaunchAttempted");
    static inline const QString systemAudioAttemptedKey = QStringLiteral("systemAudioAttempted");
    static inline const QString systemAudioLastSucceededKey = QStringLiteral("systemAudioLastSucceeded");
    static inline const QString resumeScrollingCaptureAfterRelaunchKey
        = QStringLiteral("resumeScrollingCaptureAfterRelaunch");

    // The grant watch looks every pollInterval until grantWatchLimit has passed on `clock`.
    static constexpr std::chrono::milliseconds pollInterval { 250 };
    static constexpr std::chrono::seconds grantWatchLimit { 120 };

    // Starts one microphone check; the row is busy until it answers.
    PermissionController(std::shared_ptr<DefaultsStore> defaults, Effects effects, bool recordYouEnabled,
        TaskClock &clock = TaskClock::system(), QObject *parent = nullptr);
    ~PermissionController() override;

    const RowState &screen() const { return m_screen; }
    const RowState &scrolling() const { return m_scrolling; }
    const RowState &systemAudio() const { return m_systemAudio; }
    const RowState &microphone() const { return m_microphone; }
    const RowState &row(PermissionKind kind) const;

    // Whenever the app becomes active; finishes a trip to the settings when the app was inactive.
    // The microphone's change message follows a fresh check.
    void refreshFromAppActivation();
    Task<> requestScreenAccess();
    // Answers whether Control Scrolling is usable now.
    Task<bool> requestScrollingAccess();
    Task<> requestMicrophoneAccess();
    // Re-checks a row that offers Check Again and says what the check found. The task finishes
    // once the row has its message (the microphone's check runs off the UI thread meanwhile).
    Task<> checkAgain(PermissionKind kind);
    Task<> openSettings(PermissionKind kind);
    void cancelScrollingPermissionWait();
    void recordSystemAudioStartSucceeded();
    void recordSystemAudioStartFailed();

    static Task<bool> openPrivacySettings(QUrl url);

    // Row refreshes without feedback; the microphone's from its last check.
    void refreshScreen();
    void refreshScrolling();
    void refreshSystemAudio();
    void refreshMicrophone();

    bool lastScreenPreflight() const { return m_lastScreenPreflight; }
    bool lastPostEventPreflight() const { return m_lastPostEventPreflight; }
    bool isRelaunching() const { return m_isRelaunching; }
    bool isWatchingForScrollingGrant() const;
    std::optional<PermissionKind> awaitingReturnFromSettings() const { return m_awaitingReturnFromSettings; }
    bool recordYouEnabled() const { return m_recordYouEnabled; }
    void setRecordYouEnabled(bool enabled);
    bool wasInactive() const { return m_wasInactive; }
    void setWasInactive(bool inactive) { m_wasInactive = inactive; }

signals:
    void rowChanged(PermissionKind kind);

private:
    RowState &mutableRow(PermissionKind kind);
    // Open Settings stays only where a tool can open one of the kind's pages.
    PermissionPresentation offeringSettings(PermissionPresentation presentation) const;
    void setPresentation(PermissionKind kind, const PermissionPresentation &presentation);
    void setFeedback(PermissionKind kind, std::optional<PermissionFeedback> feedback);
    void setBusy(PermissionKind kind, bool busy);
    void refresh(PermissionKind kind);
    bool flag(const QString &key) const;
    void setFlag(const QString &key, bool value);
    SystemAudioObservation systemAudioObservation() const;
    bool relaunchForScrollingAccessIfNeeded();
    void setScrollingUnavailableFeedback();
    void watchForScrollingGrant();
    void cancelScrollingGrantWatch();
    Task<> checkMicrophone();
    Task<> firstMicrophoneCheck();
    Task<> finishMicrophoneCheckAgain(PermissionStatus previous);
    Task<> microphoneAfterActivation(std::optional<PermissionStatus> previous, bool returned);

    std::shared_ptr<DefaultsStore> m_defaults;
    Effects m_effects;
    TaskClock *m_clock;
    bool m_recordYouEnabled;
    bool m_lastScreenPreflight = false;
    bool m_lastPostEventPreflight = false;
    bool m_screenRequestAcceptedPendingRelaunch = false;
    bool m_postEventAcceptedPendingRelaunch = false;
    bool m_didPromptScreenThisLaunch = false;
    bool m_didPromptScrollingThisLaunch = false;
    bool m_didVisitScreenSettingsThisLaunch = false;
    bool m_didVisitScrollingSettingsThisLaunch = false;
    std::optional<PermissionKind> m_awaitingReturnFromSettings;
    bool m_wasInactive = false;
    Task<> m_scrollingGrantWatch;
    quint64 m_scrollingGrantWatchGeneration = 0;
    bool m_isRelaunching = false;
    MicrophoneAuthorizationFact m_microphoneFact = MicrophoneAuthorizationFact::unknown;
    quint64 m_microphoneChecksStarted = 0;
    quint64 m_microphoneCheckAnswered = 0;

    RowState m_screen;
    RowState m_scrolling;
    RowState m_systemAudio;
    RowState m_microphone;
};
