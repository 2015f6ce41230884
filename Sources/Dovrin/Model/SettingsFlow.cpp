#include "Model/SettingsFlow.h"

#include "Audio/AudioFileTranscriber.h"
#include "Audio/AudioSessionCoordinator.h"
#include "Documents/DefaultsStore.h"
#include "Model/LaunchAtLoginFlow.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"

SettingsFlow::SettingsFlow(ModelContext &context, const LaunchAtLoginFlow &launchAtLogin, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_launchAtLogin(launchAtLogin)
    , m_automaticallyChecks(context.services().softwareUpdate.automaticallyChecks())
    , m_recentPersisting(context.settings().recent)
    , m_recentSaved(m_recentPersisting)
{ }

bool SettingsFlow::canAdvanceOnboarding() const
{
    const AppSettings &settings = m_context.settings();
    switch (settings.currentOnboardingStep()) {
    case int(OnboardingStep::folder):
        return settings.defaultFolder.has_value();
    case int(OnboardingStep::testCapture):
        return settings.hasRunTestCapture;
    default:
        return true;
    }
}

void SettingsFlow::advanceOnboarding()
{
    if (!canAdvanceOnboarding())
        return;
    const int step = m_context.settings().currentOnboardingStep();
    if (step == int(OnboardingStep::testCapture))
        return;
    const bool known = step >= int(OnboardingStep::folder) && step < int(OnboardingStep::testCapture);
    setOnboardingStep(known ? step + 1 : int(OnboardingStep::folder));
}

void SettingsFlow::retreatOnboarding()
{
    const OnboardingStep stored = OnboardingSteps::fromRawValue(m_context.settings().currentOnboardingStep())
                                      .value_or(OnboardingStep::privacy);
    if (const auto previous = OnboardingSteps::fromRawValue(int(stored) - 1))
        setOnboardingStep(int(*previous));
}

void SettingsFlow::selectOnboardingStep(OnboardingStep step)
{
    const OnboardingStep stored = OnboardingSteps::fromRawValue(m_context.settings().currentOnboardingStep())
                                      .value_or(OnboardingStep::privacy);
    if (int(stored) < int(step))
        return;
    setOnboardingStep(int(step));
}

void SettingsFlow::completeSetup()
{
    AppSettings settings = m_context.settings();
    settings.setupComplete = true;
    settings.onboardingStep = int(OnboardingStep::testCapture);
    m_context.setSettings(settings);
    m_context.setupPresentation().complete();
    m_context.persistSettings();
    m_context.setStatusMessage(QStringLiteral("Setup complete"));
}

bool SettingsFlow::consumeSetupPresentation()
{
    return m_context.setupPresentation().consumePresentation();
}

void SettingsFlow::setOnboardingStep(int step)
{
    AppSettings settings = m_context.settings();
    settings.onboardingStep = step;
    m_context.setSettings(settings);
    m_context.persistSettings();
}

void SettingsFlow::noteSettingsWrite()
{
    const std::optional<QString> failure = m_context.defaults().writeFailure();
    if (failure)
        m_context.setStatusMessage(QStringLiteral("Settings could not be saved: %1").arg(*failure));
    else
        m_recentSaved = m_recentPersisting;
    if (failure == m_writeFailure)
        return;
    m_writeFailure = failure;
    emit writeFailureChanged();
}

void SettingsFlow::refreshWriteFailure()
{
    // The suite writes every value it holds at once, so a later good write saved the change too.
    if (!m_writeFailure || m_context.defaults().writeFailure())
        return;
    m_recentSaved = m_recentPersisting;
    m_writeFailure.reset();
    emit writeFailureChanged();
}

void SettingsFlow::applyAutomaticallyChecksForUpdates(bool enabled)
{
    m_context.services().softwareUpdate.setAutomaticallyChecks(enabled);
    refreshAutomaticallyChecksForUpdates();
}

void SettingsFlow::refreshAutomaticallyChecksForUpdates()
{
    const bool checks = m_context.services().softwareUpdate.automaticallyChecks();
    if (checks == m_automaticallyChecks)
        return;
    m_automaticallyChecks = checks;
    emit automaticallyChecksForUpdatesChanged();
}

void SettingsFlow::checkForUpdates()
{
    const ModelServices &services = m_context.services();
    services.softwareUpdate.checkForUpdates();
    // Without a feed nothing would answer: say so, rather than leave the command without a reply.
    if (!services.softwareUpdate.isAvailable && services.presentAlert) {
        services.presentAlert(
            SoftwareUpdateService::unavailableTitle(), SoftwareUpdateService::unavailableMessage());
        return;
    }
    services.windows.reveal();
}

void SettingsFlow::setIncludeFeedbackDiagnostics(bool include)
{
    if (include == m_includeDiagnostics)
        return;
    m_includeDiagnostics = include;
    emit includeFeedbackDiagnosticsChanged();
}

void SettingsFlow::sendFeedback()
{
    const ModelServices &services = m_context.services();
    const QString address = FeedbackMail::address();
    const std::optional<QUrl> url = services.makeFeedbackURL(feedbackSnapshot());
    if (!url) {
        services.presentFeedbackFailure(QStringLiteral("Could not create an email draft"),
            QStringLiteral(
                "Quorvel could not build an email draft. Copy %1 and send from your email app instead.")
                .arg(address));
    } else if (!services.openURL(*url)) {
        services.presentFeedbackFailure(QStringLiteral("Could not open your email app"),
            QStringLiteral("No email app opened. Copy %1 and send from your email app instead.")
                .arg(address));
    }
}

FeedbackMail::Snapshot SettingsFlow::feedbackSnapshot() const
{
    const ModelServices::Environment &environment = m_context.services().environment;
    const auto orUnknown
        = [](const QString &text) { return text.isEmpty() ? QStringLiteral("unknown") : text; };
    FeedbackMail::Snapshot snapshot;
    snapshot.appVersion = orUnknown(environment.appVersion);
    snapshot.buildNumber = orUnknown(environment.buildNumber);
    snapshot.macosVersion = environment.systemVersion;
    if (m_includeDiagnostics)
        snapshot.diagnostics = feedbackDiagnostics();
    return snapshot;
}

FeedbackMail::Diagnostics SettingsFlow::feedbackDiagnostics() const
{
    const ModelServices::Environment &environment = m_context.services().environment;
    const PermissionController &permissions = m_context.permissions();
    const AppSettings &settings = m_context.settings();
    FeedbackMail::Diagnostics diagnostics;
    diagnostics.bundleID = environment.bundleID.isEmpty() ? QStringLiteral("unknown") : environment.bundleID;
    diagnostics.architecture = environment.architecture;
    diagnostics.displayCount = environment.displayCount ? environment.displayCount() : 0;
    diagnostics.screenRecording = PermissionStatuses::title(permissions.screen().presentation.status);
    diagnostics.controlScrolling = PermissionStatuses::title(permissions.scrolling().presentation.status);
    diagnostics.systemAudio = PermissionStatuses::title(permissions.systemAudio().presentation.status);
    diagnostics.microphone = PermissionStatuses::title(permissions.microphone().presentation.status);
    diagnostics.launchAtLogin = LaunchAtLoginStatuses::rawValue(m_launchAtLogin.presentation().status);
    diagnostics.automaticUpdates = m_automaticallyChecks;
    diagnostics.captureFolderSet = settings.defaultFolder || settings.lastUsedFolder;
    diagnostics.transcriptionAvailable = transcriptionAvailable();
    diagnostics.capturePhase = CapturePhases::rawValue(m_context.phase());
    diagnostics.audioPhase = AudioSessionPhases::rawValue(m_context.audio().phase());
    diagnostics.setupComplete = settings.setupComplete;
    return diagnostics;
}

bool SettingsFlow::transcriptionAvailable() const
{
    const std::optional<bool> &override = m_context.services().transcriptionSupported;
    return override ? *override : AudioFileTranscriber::isSupported();
}
