#pragma once

#include "Documents/AppSettingsStore.h"
#include "Model/OnboardingStep.h"
#include "Rules/FeedbackMail.h"

#include <QObject>

#include <optional>

class LaunchAtLoginFlow;
class ModelContext;

// What the settings and setup windows change besides the shortcut and launch at login: the setup
// steps and their completion, the update switch, feedback by mail with its optional diagnostics, and
// whether the last settings change reached the disk.
class SettingsFlow : public QObject
{
    Q_OBJECT

public:
    SettingsFlow(ModelContext &context, const LaunchAtLoginFlow &launchAtLogin, QObject *parent = nullptr);

    // Folder step: a default folder is chosen; test-capture step: a test capture ran; any other
    // stored number: yes.
    bool canAdvanceOnboarding() const;
    // 1 -> 2 -> 3 -> 4; 0 and numbers outside 0...4 go to 1; 4 stays (and nothing is saved).
    void advanceOnboarding();
    void retreatOnboarding();
    // Goes back to `step` (or stays on it); never forward.
    void selectOnboardingStep(OnboardingStep step);
    void completeSetup();
    // Whether the setup window should show; clears an explicit request.
    bool consumeSetupPresentation();

    bool automaticallyChecksForUpdates() const { return m_automaticallyChecks; }
    // Publishes what the update service reports back, not the requested value.
    void applyAutomaticallyChecksForUpdates(bool enabled);
    void refreshAutomaticallyChecksForUpdates();
    void checkForUpdates();

    bool includeFeedbackDiagnostics() const { return m_includeDiagnostics; }
    void setIncludeFeedbackDiagnostics(bool include);
    // Opens a mail draft; an alert explains when none can be built or opened.
    void sendFeedback();
    FeedbackMail::Snapshot feedbackSnapshot() const;
    FeedbackMail::Diagnostics feedbackDiagnostics() const;

    // Why the last settings change could not be written; none once a later one was.
    const std::optional<QString> &writeFailure() const { return m_writeFailure; }
    // The model is writing the record holding this recent list.
    void notePersisting(const QList<RecentCaptureRef> &recent) { m_recentPersisting = recent; }
    // After the model wrote the settings suite: a failure is published and said in the status.
    void noteSettingsWrite();
    // A write failed, and the recent list on disk is not the one in use.
    bool recentListUnsaved() const { return m_writeFailure && m_recentPersisting != m_recentSaved; }
    // Drops a published failure when a later write (of any part of the suite) took everything out.
    void refreshWriteFailure();

signals:
    void automaticallyChecksForUpdatesChanged();
    void includeFeedbackDiagnosticsChanged();
    void writeFailureChanged();

private:
    void setOnboardingStep(int step);
    bool transcriptionAvailable() const;

    ModelContext &m_context;
    const LaunchAtLoginFlow &m_launchAtLogin;
    bool m_automaticallyChecks = false;
    bool m_includeDiagnostics = false;
    std::optional<QString> m_writeFailure;
    QList<RecentCaptureRef> m_recentPersisting;
    QList<RecentCaptureRef> m_recentSaved;
};
