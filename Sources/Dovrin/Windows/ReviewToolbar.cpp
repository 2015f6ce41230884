#include "Windows/ReviewToolbar.h"

#include "Model/AppModel.h"
#include "Vemi/VemiButton.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>

ReviewToolbar::ReviewToolbar(std::shared_ptr<ReviewSession> session, AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_session(std::move(session))
    , m_model(model)
    , m_copy(new VemiCopyButton(
          QStringLiteral("Copy Text"), [this] { return m_model && m_model->copyReviewedText(); }))
    , m_more(new VemiButton)
    , m_moreMenu(new QMenu(this))
    , m_inspector(new VemiButton)
    , m_save(new VemiButton(QStringLiteral("Save Markdown")))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 9);
    row->setSpacing(8);
    row->addStretch(1);

    VemiButtonStyle::toolbarAction(m_copy, false);
    m_copy->setToolTip(QStringLiteral("Copy the reviewed text"));
    row->addWidget(m_copy);

    // Worded, with a chevron: a menu behind it, holding Retry OCR and Delete Draft.
    m_more->setText(QStringLiteral("More"));
    m_more->setAccessibleName(QStringLiteral("More"));
    m_more->setToolTip(QStringLiteral("More review actions"));
    VemiButtonStyle::toolbarAction(m_more, false);
    m_ocr = m_moreMenu->addAction(QString());
    m_moreMenu->addSeparator();
    m_deleteDraft = m_moreMenu->addAction(QStringLiteral("Delete Draft…"));
    m_more->setMenu(m_moreMenu);
    row->addWidget(m_more);
    connect(m_moreMenu, &QMenu::aboutToShow, this, &ReviewToolbar::refresh);
    connect(m_ocr, &QAction::triggered, this, [this] {
        if (!m_model)
            return;
        // Decided at the click: recognition may have ended since the menu opened.
        if (m_session->isOCRRunning())
            m_model->cancelOCR();
        else
            m_model->retryOCR();
    });
    connect(m_deleteDraft, &QAction::triggered, this, [this] {
        if (m_model)
            m_model->setPresentsDraftDeleteAlert(true);
    });

    m_inspector->setSymbol(QStringLiteral("sidebar.trailing"));
    VemiButtonStyle::toolbarAction(m_inspector, false);
    row->addWidget(m_inspector);
    connect(m_inspector, &QPushButton::clicked, this, [this] {
        if (onToggleInspector)
            onToggleInspector();
    });

    VemiButtonStyle::toolbarAction(m_save, true);
    m_save->setToolTip(QStringLiteral("Save the reviewed text as Markdown"));
    row->addSpacing(4);
    row->addWidget(m_save);
    connect(m_save, &QPushButton::clicked, this, [this] {
        if (m_model && m_session->canSave())
            m_model->saveOpenReview();
    });

    connect(m_session.get(), &ReviewSession::changed, this, &ReviewToolbar::refresh);
    setInspectorShown(true);
    refresh();
}

void ReviewToolbar::setInspectorShown(bool shown)
{
    m_inspector->setAccessibleName(
        shown ? QStringLiteral("Hide Inspector") : QStringLiteral("Show Inspector"));
    m_inspector->setToolTip(shown ? QStringLiteral("Hide inspector") : QStringLiteral("Show inspector"));
}

void ReviewToolbar::refresh()
{
    const bool saving = m_session->isSaving();
    m_copy->setEnabled(!m_session->reviewedText().isEmpty());
    m_ocr->setText(m_session->isOCRRunning() ? QStringLiteral("Cancel OCR") : QStringLiteral("Retry OCR"));
    m_ocr->setEnabled(!saving);
    m_deleteDraft->setEnabled(!saving);
    m_save->setEnabled(m_session->canSave());
}

void ReviewToolbar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    painter.fillRect(rect(), VemiPalette::vemiPanel(appearance));
    painter.fillRect(QRect(0, height() - 1, width(), 1), VemiPalette::vemiLine(appearance));
}
