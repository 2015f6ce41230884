#include "Windows/RecoveryView.h"

#include "Model/AppModel.h"
#include "Services/WindowActivation.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"
#include "Windows/Hairline.h"
#include "Windows/TextLabel.h"
#include "Windows/WindowTint.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QShortcut>
#include <QVBoxLayout>

RecoveryView::RecoveryView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_hasRecoverableDraft(model.hasRecoverableDraft())
{
    setFixedSize(560, 278);
    auto *root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    auto *scene = new VemiKomaScene(VemiState::needsAttention, 64, this);
    scene->setFixedWidth(112);
    root->addWidget(scene);

    auto *column = new QVBoxLayout;
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    column->addStretch(1);
    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(new VemiSymbolView(QStringLiteral("doc.badge.clock"), VemiColor::secondary, 30, this),
        0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(new TextLabel(
        QStringLiteral("Resume this draft?"), VemiTextStyle::title2, QFont::Bold, VemiColor::primary, this));
    QLabel *message = new TextLabel(
        QStringLiteral(
            "Quorvel found an encrypted draft that was not saved. Resume it to review, or delete it "
            "from this computer."),
        VemiTextStyle::body, QFont::Normal, VemiColor::secondary, this);
    message->setWordWrap(true);
    texts->addWidget(message);
    header->addLayout(texts, 1);
    column->addLayout(header);

    auto *panel = new VemiPanel(12, nullptr, this);
    m_status = new VemiStatusLabel(QString(), VemiColor::coral, QStringLiteral("lock.fill"), panel);
    panel->contentLayout()->addWidget(m_status);
    column->addWidget(panel);
    column->addWidget(new Hairline(Qt::Horizontal, this));

    auto *buttons = new QWidget(this);
    auto *row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    m_delete = new VemiButton(QStringLiteral("Delete Draft…"), buttons);
    m_delete->setToolTip(QStringLiteral("Delete the encrypted unfinished draft"));
    WindowTint::setDestructive(m_delete);
    row->addWidget(m_delete);
    row->addStretch(1);
    m_notNow = new VemiButton(QStringLiteral("Not Now"), buttons);
    row->addWidget(m_notNow);
    m_resume = new VemiButton(QStringLiteral("Resume Review"), buttons);
    m_resume->setToolTip(QStringLiteral("Open the unfinished capture for review"));
    row->addWidget(m_resume);
    VemiButtonStyle::vemiActionGroup(buttons, VemiControlSize::regular);
    VemiButtonStyle::vemiPrimaryAction(m_resume, VemiControlSize::regular);
    column->addWidget(buttons);
    column->addStretch(1);
    root->addLayout(column, 1);

    connect(m_delete, &QPushButton::clicked, this, &RecoveryView::confirmDelete);
    connect(m_notNow, &QPushButton::clicked, this, &RecoveryView::closeRecoveryWindow);
    connect(m_resume, &QPushButton::clicked, this, &RecoveryView::resumeReview);
    for (const int key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto *defaultAction = new QShortcut(QKeySequence(key), this, m_resume, &QPushButton::click);
        defaultAction->setContext(Qt::WidgetWithChildrenShortcut);
    }

    // The draft can go (or come back) through any of these; the model announces no change of
    // hasRecoverableDraft itself.
    for (const auto signal : { &AppModel::pendingDraftChanged, &AppModel::reviewSessionChanged,
             &AppModel::phaseChanged, &AppModel::statusMessageChanged })
        connect(&m_model, signal, this, &RecoveryView::recoverableDraftMaybeChanged);
    connect(&m_model, &AppModel::statusMessageChanged, this, &RecoveryView::refreshStatus);
    refreshStatus();
    m_delete->setEnabled(m_hasRecoverableDraft);
    m_resume->setEnabled(m_hasRecoverableDraft);
    WindowTint::refresh(this);
}

RecoveryView::~RecoveryView() = default;

void RecoveryView::recoverableDraftMaybeChanged()
{
    const bool recoverable = m_model.hasRecoverableDraft();
    if (recoverable == m_hasRecoverableDraft)
        return;
    m_hasRecoverableDraft = recoverable;
    m_delete->setEnabled(recoverable);
    m_resume->setEnabled(recoverable);
    closeIfResolved();
}

void RecoveryView::closeIfResolved()
{
    if (!m_confirmDelete && !m_model.hasRecoverableDraft())
        closeRecoveryWindow();
}

void RecoveryView::refreshStatus()
{
    const QString message = m_model.statusMessage();
    m_status->setText(message.isEmpty() ? QStringLiteral("Ready to recover") : message);
}

void RecoveryView::confirmDelete()
{
    if (m_deleteAlert)
        return;
    m_deleteAlert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Delete this unfinished capture?"),
        QStringLiteral("Delete this unfinished capture?"), QMessageBox::NoButton, this);
    m_deleteAlert->setInformativeText(QStringLiteral("The encrypted draft is removed from this computer."));
    QPushButton *remove
        = m_deleteAlert->addButton(QStringLiteral("Delete Draft"), QMessageBox::DestructiveRole);
    QPushButton *cancel = m_deleteAlert->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    // Return keeps the draft: the safe choice is the default.
    m_deleteAlert->setDefaultButton(cancel);
    m_deleteAlert->setEscapeButton(cancel);
    connect(remove, &QPushButton::clicked, this, [this] { m_model.deletePendingDraft(); });
    connect(m_deleteAlert, &QMessageBox::finished, this, [this] {
        m_deleteAlert->deleteLater();
        m_confirmDelete = false;
        closeIfResolved();
    });
    m_deleteAlert->setWindowModality(Qt::WindowModal);
    m_confirmDelete = true;
    m_deleteAlert->open();
}

void RecoveryView::resumeReview()
{
    m_model.resumePendingDraft();
    closeRecoveryWindow();
}

void RecoveryView::closeRecoveryWindow()
{
    if (QWidget *frame = window())
        frame->close();
    // A recovery window the first close did not reach (opened twice) goes as well.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *other : windows) {
        if (other->windowTitle() == windowTitle && other->isVisible())
            other->close();
    }
}

void RecoveryView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
}

void RecoveryView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Brings the window forward even when it opened at launch, before any window was.
    if (!event->spontaneous())
        WindowActivation::reveal(window());
}

void RecoveryView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        WindowTint::refresh(this);
}
