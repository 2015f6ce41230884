#include "Settings/PermissionCapabilityRow.h"

#include "Settings/PermissionStatusCapsule.h"
#include "Settings/SettingsLayout.h"
#include "Vemi/VemiButton.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

struct ToneLook
{
    QString symbol;
    VemiColor color;
};

ToneLook toneLook(PermissionFeedbackTone tone)
{
    switch (tone) {
    case PermissionFeedbackTone::checking:
        return { QStringLiteral("clock"), VemiColor::secondary };
    case PermissionFeedbackTone::success:
        return { QStringLiteral("checkmark.circle.fill"), VemiColor::teal };
    case PermissionFeedbackTone::failure:
        return { QStringLiteral("exclamationmark.circle.fill"), VemiColor::coral };
    case PermissionFeedbackTone::warning:
    case PermissionFeedbackTone::info:
        break;
    }
    return { QStringLiteral("info.circle.fill"), VemiColor::secondary };
}

} // namespace

QString PermissionCapabilityRow::identifierStem(PermissionKind kind)
{
    switch (kind) {
    case PermissionKind::screenRecording:
        return QStringLiteral("settings.permission.screen");
    case PermissionKind::controlScrolling:
        return QStringLiteral("settings.permission.scrolling");
    case PermissionKind::systemAudio:
        return QStringLiteral("settings.permission.system-audio");
    case PermissionKind::microphone:
        return QStringLiteral("settings.permission.microphone");
    }
    return QString();
}

PermissionCapabilityRow::PermissionCapabilityRow(PermissionKind kind, Actions actions, QWidget *parent)
    : QWidget(parent)
    , m_kind(kind)
    , m_actions(std::move(actions))
{
    const QString stem = identifierStem(kind);
    const QString title = PermissionKinds::title(kind);
    setObjectName(stem);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);

    auto *heading = new QHBoxLayout;
    heading->setSpacing(8);
    heading->addWidget(
        SettingsLayout::text(title, VemiTextStyle::body, VemiColor::primary, this, QFont::DemiBold));
    m_capsule = new PermissionStatusCapsule(stem + QStringLiteral(".status"), this);
    heading->addWidget(m_capsule);
    heading->addStretch(1);
    column->addLayout(heading);
    m_detail = SettingsLayout::text(QString(), VemiTextStyle::caption, VemiColor::secondary, this);
    column->addWidget(m_detail);

    m_feedbackLine = new QWidget(this);
    auto *feedback = new QHBoxLayout(m_feedbackLine);
    feedback->setContentsMargins(0, 0, 0, 0);
    feedback->setSpacing(7);
    m_feedbackIcon = new VemiSymbolView(
        QString(), VemiColor::secondary, VemiFonts::pixelSize(VemiTextStyle::callout) + 1, m_feedbackLine);
    feedback->addWidget(m_feedbackIcon, 0, Qt::AlignTop);
    m_feedback
        = SettingsLayout::text(QString(), VemiTextStyle::callout, VemiColor::secondary, m_feedbackLine);
    m_feedback->setObjectName(stem + QStringLiteral(".feedback"));
    feedback->addWidget(m_feedback, 1);
    column->addWidget(m_feedbackLine);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    column->addLayout(buttons);
    m_request = addButton(QStringLiteral(".request"), true, m_actions.onRequest);
    // Each row's relaunch button is its own: one identifier per row, not one for all.
    m_relaunch = addButton(QStringLiteral(".quit"), false, m_actions.onQuit);
    m_relaunch->setText(QStringLiteral("Relaunch Quorvel"));
    m_relaunch->setAccessibleName(QStringLiteral("Relaunch Quorvel to apply ") + title);
    m_relaunch->setToolTip(QStringLiteral("Quorvel will open this same app again, so ") + title
        + QStringLiteral(" is checked by a new process."));
    m_check = addButton(QStringLiteral(".check"), false, m_actions.onCheck);
    m_check->setText(QStringLiteral("Check Again"));
    m_check->setAccessibleName(QStringLiteral("Check ") + title + QStringLiteral(" again"));
    m_check->setToolTip(QStringLiteral("Recheck ") + title + QStringLiteral(" without asking again"));
    m_open = addButton(QStringLiteral(".open"), false, m_actions.onOpenSettings);
    m_open->setText(QStringLiteral("Open Settings…"));
    m_open->setAccessibleName(QStringLiteral("Open ") + title + QStringLiteral(" settings"));
    m_open->setToolTip(QStringLiteral("Open System Settings"));
    for (VemiButton *button : { m_request, m_relaunch, m_check, m_open })
        buttons->addWidget(button);
    buttons->addStretch(1);

    PermissionController::RowState initial;
    initial.presentation.kind = kind;
    setRow(initial);
}

VemiButton *PermissionCapabilityRow::addButton(
    const QString &suffix, bool prominent, const std::function<void()> &action)
{
    auto *button = new VemiButton(QString(), this);
    button->setObjectName(identifierStem(m_kind) + suffix);
    VemiButtonStyle::vemiActionGroup(button, VemiControlSize::regular);
    if (prominent)
        VemiButtonStyle::vemiPrimaryAction(button, VemiControlSize::regular);
    connect(button, &QAbstractButton::clicked, this, [action] {
        if (action)
            action();
    });
    return button;
}

void PermissionCapabilityRow::setRow(const PermissionController::RowState &row)
{
    const PermissionPresentation &presentation = row.presentation;
    const bool asksOrChecks = m_kind != PermissionKind::systemAudio;
    m_capsule->setStatus(presentation.status, presentation.statusTitle, PermissionKinds::title(m_kind));
    m_detail->setText(presentation.detail);
    m_detail->setVisible(!presentation.detail.isEmpty());

    const bool hasFeedback = row.feedback && !row.feedback->text.isEmpty();
    if (hasFeedback) {
        const ToneLook look = toneLook(row.feedback->tone);
        m_feedbackIcon->setSymbol(look.symbol);
        m_feedbackIcon->setColor(look.color);
        m_feedback->setText(row.feedback->text);
        m_feedback->setAccessibleName(row.feedback->text);
    }
    m_feedbackLine->setVisible(hasFeedback);

    m_request->setText(presentation.requestActionTitle());
    m_request->setAccessibleName(presentation.requestActionAccessibilityLabel());
    m_request->setToolTip(presentation.requestActionHelp());
    const bool relaunch = presentation.mayNeedRelaunch && m_actions.onQuit;
    m_request->setVisible(presentation.showsRequestAccess && asksOrChecks && m_actions.onRequest);
    m_relaunch->setVisible(relaunch);
    m_check->setVisible(!relaunch && !presentation.showsRequestAccess && presentation.showsCheckAgain
        && asksOrChecks && m_actions.onCheck);
    m_open->setVisible(presentation.showsOpenSettings && m_actions.onOpenSettings);
    for (VemiButton *button : { m_request, m_relaunch, m_check, m_open })
        button->setEnabled(!row.isBusy);
}
