#pragma once

#include "Model/OnboardingStep.h"
#include "Settings/SettingsEnvironment.h"

#include <QWidget>

class AppModel;
class QStackedWidget;
class SetupRailRow;
class SetupStepPanel;
class VemiButton;
class VemiKomaScene;
class VemiStatusLabel;

// The first-run setup window's content: a rail of five steps with the character on the left, the
// current step's panel on the right and Back / Continue / Finish Setup below it. The current step is
// the model's stored step (a value outside 0...4 reads as the first); every move between steps is a
// model operation that saves it, so setup resumes where it was left.
class SetupView : public QWidget
{
    Q_OBJECT
public:
    SetupView(AppModel &model, SettingsEnvironment environment, QWidget *parent = nullptr);

    // The stored step, or the first when the stored value is none.
    OnboardingStep currentStep() const;
    // The step a rail row goes to: back or to the current one, never forward.
    void selectStep(OnboardingStep step);
    // What the footer's status line shows: the model's status, except a message left over from an
    // earlier step and one the step's panel already shows.
    QString footerStatus() const;

signals:
    // The window closed itself (self-test, setup already complete, or finished).
    void dismissed();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *leftColumn();
    QWidget *rightColumn();
    void checkPresentation();
    void finish();
    void dismiss();
    void refresh();

    AppModel &m_model;
    SettingsEnvironment m_environment;
    bool m_checkedAutomaticPresentation = false;
    std::optional<OnboardingStep> m_statusStep;
    QString m_earlierStatus;
    QList<SetupRailRow *> m_railRows;
    VemiKomaScene *m_scene = nullptr;
    QStackedWidget *m_panels = nullptr;
    VemiStatusLabel *m_status = nullptr;
    VemiButton *m_back = nullptr;
    VemiButton *m_continue = nullptr;
    VemiButton *m_finish = nullptr;
};
