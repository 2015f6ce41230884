#include "Settings/SetupView.h"

#include "Model/AppModel.h"
#include "Settings/SettingsLayout.h"
#include "Settings/SetupRailRow.h"
#include "Settings/SetupStepPanel.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

SetupView::SetupView(AppModel &model, SettingsEnvironment environment, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_environment(std::move(environment))
{
    setFixedSize(720, 500);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(leftColumn());
    row->addWidget(SettingsLayout::verticalDivider(this));
    row->addWidget(rightColumn(), 1);

    for (const auto key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            for (VemiButton *button : { m_continue, m_finish }) {
                if (button->isVisible() && button->isEnabled())
                    button->click();
            }
        });
    }
    connect(&m_model, &AppModel::settingsChanged, this, &SetupView::refresh);
    connect(&m_model, &AppModel::statusMessageChanged, this, &SetupView::refresh);
    connect(&m_model.permissions(), &PermissionController::rowChanged, this, &SetupView::refresh);
    refresh();
}

QWidget *SetupView::leftColumn()
{
    QWidget *strip = SettingsLayout::panelStrip(this);
    strip->setFixedWidth(204);
    auto *column = new QVBoxLayout(strip);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *rail = new QVBoxLayout;
    rail->setContentsMargins(16, 20, 16, 0);
    rail->setSpacing(5);
    for (const OnboardingStep step : OnboardingSteps::allCases) {
        auto *row = new SetupRailRow(step, strip);
        connect(row, &QAbstractButton::clicked, this, [this, step] { selectStep(step); });
        rail->addWidget(row);
        m_railRows.append(row);
    }
    column->addLayout(rail);
    column->addStretch(1);
    m_scene = new VemiKomaScene(VemiState::idle, std::nullopt, strip);
    m_scene->setFixedHeight(160);
    column->addWidget(m_scene);
    return strip;
}

QWidget *SetupView::rightColumn()
{
    auto *box = new QWidget(this);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(34, 28, 34, 18);
    column->setSpacing(0);
    m_panels = new QStackedWidget(box);
    for (const OnboardingStep step : OnboardingSteps::allCases)
        m_panels->addWidget(new SetupStepPanel(step, m_model, m_environment, m_panels));
    column->addWidget(m_panels, 1);

    auto *footer = new QVBoxLayout;
    footer->setSpacing(12);
    footer->addWidget(SettingsLayout::divider(box));
    auto *buttons = new QWidget(box);
    auto *row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    m_status = new VemiStatusLabel(QString(), VemiColor::teal, QString(), buttons);
    m_status->setObjectName(QStringLiteral("setup.status"));
    // One line: a long message must not push the footer's buttons around.
    m_status->setSingleLine(true);
    row->addWidget(m_status, 1);
    // Keeps the buttons at the right while there is no status to show.
    row->addStretch(0);
    row->addSpacing(12);
    m_back = new VemiButton(QStringLiteral("Back"), buttons);
    m_back->setObjectName(QStringLiteral("setup.back"));
    m_continue = new VemiButton(QStringLiteral("Continue"), buttons);
    m_continue->setObjectName(QStringLiteral("setup.continue"));
    m_finish = new VemiButton(QStringLiteral("Finish Setup"), buttons);
    m_finish->setObjectName(QStringLiteral("setup.finish"));
    for (VemiButton *button : { m_back, m_continue, m_finish })
        row->addWidget(button);
    VemiButtonStyle::vemiPrimaryAction(m_continue, VemiControlSize::regular);
    VemiButtonStyle::vemiPrimaryAction(m_finish, VemiControlSize::regular);
    VemiButtonStyle::vemiActionGroup(buttons, VemiControlSize::regular);
    footer->addWidget(buttons);
    column->addLayout(footer);

    connect(m_back, &QAbstractButton::clicked, this, [this] { m_model.retreatOnboarding(); });
    connect(m_continue, &QAbstractButton::clicked, this, [this] { m_model.advanceOnboarding(); });
    connect(m_finish, &QAbstractButton::clicked, this, &SetupView::finish);
    return box;
}

OnboardingStep SetupView::currentStep() const
{
    return OnboardingSteps::fromRawValue(m_model.settings().currentOnboardingStep())
        .value_or(OnboardingStep::privacy);
}

void SetupView::selectStep(OnboardingStep step)
{
    m_model.selectOnboardingStep(step);
}

QString SetupView::footerStatus() const
{
    const QString message = m_model.statusMessage();
    if (m_statusStep && message == m_earlierStatus && message != QLatin1String("Ready"))
        return QString();
    if (currentStep() == OnboardingStep::screenRecording) {
        const std::optional<PermissionFeedback> &feedback = m_model.permissions().screen().feedback;
        if (feedback && feedback->text == message)
            return QString();
    }
    return message;
}

void SetupView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // After the window is on screen, so a window that closes itself never half-opens.
    QMetaObject::invokeMethod(this, &SetupView::checkPresentation, Qt::QueuedConnection);
}

void SetupView::checkPresentation()
{
    if (m_environment.audioSelfTest) {
        dismiss();
        return;
    }
    m_model.applicationDidBecomeActive();
    if (m_checkedAutomaticPresentation)
        return;
    m_checkedAutomaticPresentation = true;
    if (!m_model.consumeSetupPresentation()) {
        dismiss();
        return;
    }
    if (m_environment.reveal)
        m_environment.reveal(window());
}

void SetupView::finish()
{
    m_model.completeSetup();
    dismiss();
}

void SetupView::dismiss()
{
    emit dismissed();
    window()->close();
}

void SetupView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
}

void SetupView::refresh()
{
    const AppSettings &settings = m_model.settings();
    const std::optional<OnboardingStep> stored
        = OnboardingSteps::fromRawValue(settings.currentOnboardingStep());
    const OnboardingStep current = currentStep();
    for (SetupRailRow *row : m_railRows)
        row->setState(current, stored);
    m_panels->setCurrentIndex(int(current));

    VemiState state = VemiState::idle;
    if (current == OnboardingStep::screenRecording)
        state = m_model.permissions().screen().presentation.status == PermissionStatus::allowed
            ? VemiState::saved
            : VemiState::needsAttention;
    else if (current == OnboardingStep::testCapture && settings.hasRunTestCapture)
        state = VemiState::saved;
    m_scene->setState(state);

    if (m_statusStep != current) {
        // Whatever the status said was about the step left behind.
        m_statusStep = current;
        m_earlierStatus = m_model.statusMessage();
    }
    const QString status = footerStatus();
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    m_back->setVisible(stored && *stored != OnboardingStep::privacy);
    m_continue->setVisible(current != OnboardingStep::testCapture);
    m_continue->setEnabled(m_model.canAdvanceOnboarding());
    m_finish->setVisible(current == OnboardingStep::testCapture);
    m_finish->setEnabled(settings.hasRunTestCapture);
}
