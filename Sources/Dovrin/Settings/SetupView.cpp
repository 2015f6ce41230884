#include "Settings/SetupView.h"

#include "Model/AppModel.h"
#include "Settings/SettingsLayout.h"
#include "Settings/SetupStepPanel.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QString railTitle(OnboardingStep step)
{
    switch (step) {
    case OnboardingStep::privacy:
        return QStringLiteral("On this computer");
    case OnboardingStep::folder:
        return QStringLiteral("Capture folder");
    case OnboardingStep::screenRecording:
        return QStringLiteral("Screen Recording");
    case OnboardingStep::shortcut:
        return QStringLiteral("Shortcut");
    case OnboardingStep::testCapture:
        return QStringLiteral("Test capture");
    }
    return QString();
}

// One step of the rail: its badge (number, check when done, teal disc when current) and its title.
class SetupRailRow : public QAbstractButton
{
public:
    SetupRailRow(OnboardingStep step, QWidget *parent)
        : QAbstractButton(parent)
        , m_step(step)
    {
        setObjectName(QStringLiteral("setup.step.%1").arg(int(step)));
        setText(railTitle(step));
        setAccessibleName(QStringLiteral("Step %1, %2").arg(int(step) + 1).arg(railTitle(step)));
        setFocusPolicy(Qt::StrongFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    // `stored` is the stored step when it is a step at all.
    void setState(OnboardingStep current, std::optional<OnboardingStep> stored)
    {
        m_current = m_step == current;
        m_done = stored && int(*stored) > int(m_step);
        m_reachable = int(m_step) <= int(current);
        setEnabled(m_reachable);
        update();
    }

    QSize sizeHint() const override { return QSize(160, 28 + 12); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect());
        const QColor teal = VemiPalette::vemiTeal();
        const QColor primary = VemiPalette::primaryText(this);
        const QColor secondary = VemiPalette::secondaryText(this);
        if (m_current) {
            QPainterPath shape;
            shape.addRoundedRect(frame, 10, 10);
            painter.fillPath(shape, VemiPalette::withAlpha(teal, 0.08));
        }
        const QRectF badge(frame.left() + 5, frame.center().y() - 14, 28, 28);
        const QRectF ring = badge.adjusted(0.75, 0.75, -0.75, -0.75);
        // The brand teal disappears into a dark panel as a thin line; marks there take a lighter teal.
        const QColor mark
            = VemiPalette::appearance(this) == VemiAppearance::dark ? QColor(94, 178, 170) : teal;
        painter.setBrush(m_current ? QBrush(teal) : QBrush(Qt::NoBrush));
        painter.setPen(QPen(m_current ? teal : m_done ? mark : VemiPalette::withAlpha(secondary, 0.5), 1.5));
        painter.drawEllipse(ring);
        if (m_done && !m_current) {
            VemiSymbols::paint(painter, QStringLiteral("checkmark"), badge.adjusted(9, 9, -9, -9), mark);
        } else {
            painter.setPen(m_current ? QColor(Qt::white) : secondary);
            painter.setFont(VemiFonts::font(VemiTextStyle::caption, QFont::Bold));
            painter.drawText(badge, Qt::AlignCenter, QString::number(int(m_step) + 1));
        }
        painter.setFont(VemiFonts::font(VemiTextStyle::body, m_current ? QFont::DemiBold : QFont::Normal));
        // Steps not reached yet are tertiary: fainter than secondary text.
        painter.setPen(m_reachable ? primary : VemiPalette::withAlpha(primary, 0.3));
        painter.drawText(frame.adjusted(5 + 28 + 11, 0, -5, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
        if (hasFocus() && m_keyboardFocus) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(VemiPalette::withAlpha(teal, 0.6), 2));
            painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), 9, 9);
        }
    }

    void focusInEvent(QFocusEvent *event) override
    {
        // Only a focus reached from the keyboard is drawn; the first row takes focus when the window opens.
        m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        QAbstractButton::focusInEvent(event);
    }

private:
    OnboardingStep m_step;
    bool m_keyboardFocus = false;
    bool m_current = false;
    bool m_done = false;
    bool m_reachable = false;
};

class PanelStrip : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), VemiPalette::vemiPanel(VemiPalette::appearance(this)));
    }
};

} // namespace

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
    auto *strip = new PanelStrip(this);
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
    row->addWidget(m_status, 1);
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
    return OnboardingSteps::fromRawValue(m_model.settings().onboardingStep).value_or(OnboardingStep::privacy);
}

void SetupView::selectStep(OnboardingStep step)
{
    m_model.selectOnboardingStep(step);
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
    const std::optional<OnboardingStep> stored = OnboardingSteps::fromRawValue(settings.onboardingStep);
    const OnboardingStep current = currentStep();
    for (QWidget *row : m_railRows)
        static_cast<SetupRailRow *>(row)->setState(current, stored);
    m_panels->setCurrentIndex(int(current));

    VemiState state = VemiState::idle;
    if (current == OnboardingStep::screenRecording)
        state = m_model.permissions().screen().presentation.status == PermissionStatus::allowed
            ? VemiState::saved
            : VemiState::needsAttention;
    else if (current == OnboardingStep::testCapture && settings.hasRunTestCapture)
        state = VemiState::saved;
    m_scene->setState(state);

    m_status->setText(m_model.statusMessage());
    m_back->setVisible(stored && *stored != OnboardingStep::privacy);
    m_continue->setVisible(current != OnboardingStep::testCapture);
    m_continue->setEnabled(m_model.canAdvanceOnboarding());
    m_finish->setVisible(current == OnboardingStep::testCapture);
    m_finish->setEnabled(settings.hasRunTestCapture);
}
