#pragma once

#include "Model/OnboardingStep.h"
#include "Rules/PermissionPresentation.h"

#include <QWidget>

class AppModel;
class ElidedLabel;
class QLabel;
class VemiButton;
class VemiStatusLabel;
struct SettingsEnvironment;

// One step of the first-run setup: an eyebrow, a title, a paragraph and the step's own controls.
// It decides nothing about moving between steps; its buttons call the model, and the setup window's
// footer follows what they leave behind (a folder, a test capture).
class SetupStepPanel : public QWidget
{
    Q_OBJECT
public:
    SetupStepPanel(OnboardingStep step, AppModel &model, const SettingsEnvironment &environment,
        QWidget *parent = nullptr);

    OnboardingStep step() const { return m_step; }
    // The step's eyebrow, title and body.
    static QStringList texts(OnboardingStep step);
    // The symbol of a Screen Recording status.
    static QString permissionSymbol(PermissionStatus status);

private:
    QWidget *privacyContent();
    QWidget *folderContent();
    QWidget *screenContent();
    QWidget *shortcutContent();
    QWidget *testCaptureContent();
    void refresh();

    OnboardingStep m_step;
    AppModel &m_model;
    const SettingsEnvironment &m_environment;
    ElidedLabel *m_folderPath = nullptr;
    VemiStatusLabel *m_screenStatus = nullptr;
    VemiStatusLabel *m_screenFeedback = nullptr;
    VemiButton *m_request = nullptr;
    VemiButton *m_open = nullptr;
    VemiButton *m_check = nullptr;
    VemiButton *m_relaunch = nullptr;
    VemiButton *m_startTest = nullptr;
    VemiStatusLabel *m_testStatus = nullptr;
};
