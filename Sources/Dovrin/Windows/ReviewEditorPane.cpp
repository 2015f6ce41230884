#include "Windows/ReviewEditorPane.h"

#include "Vemi/VemiCharacter.h"
#include "Windows/ActivityIndicator.h"
#include "Windows/FramedTextEditor.h"
#include "Windows/TextLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QVBoxLayout>

ReviewEditorPane::ReviewEditorPane(std::shared_ptr<ReviewSession> session, QWidget *parent)
    : QWidget(parent)
    , m_session(std::move(session))
    , m_progress(new ActivityIndicator(14))
    , m_status(new TextLabel(QString(), VemiTextStyle::caption, QFont::Normal, VemiColor::secondary))
    , m_character(new VemiStateView(VemiState::reviewing, 24, true))
    , m_editor(new FramedTextEditor(8, 10))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QVBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    header->setSpacing(5);
    auto *row = new QHBoxLayout;
    row->addWidget(new TextLabel(QStringLiteral("Captured text"), VemiTextStyle::headline, QFont::Bold));
    // The status is read whole: a sentence saying why a capture stopped must not lose its end, so it
    // wraps onto more lines where the row is too narrow.
    row->addStretch(0);
    m_progress->setAccessibleName(QStringLiteral("Recognizing text"));
    row->addWidget(m_progress);
    m_status->setWordWrap(true);
    m_status->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(m_status, 1);
    m_character->setFixedSize(m_character->sizeHint());
    row->addWidget(m_character);
    header->addLayout(row);
    header->addWidget(new TextLabel(QStringLiteral("Remove anything you do not want in the file."),
        VemiTextStyle::caption, QFont::Normal, VemiColor::secondary));
    column->addLayout(header);

    auto *editorMargin = new QVBoxLayout;
    editorMargin->setContentsMargins(16, 0, 16, 4);
    m_editor->editor()->setAccessibleName(QStringLiteral("Editable captured text"));
    editorMargin->addWidget(m_editor);
    column->addLayout(editorMargin, 1);

    const QString readyText = QStringLiteral("Ready · Everything stays on this computer");
    auto *ready = new VemiStatusLabel(readyText, VemiColor::teal);
    // One line: the dot, its spacing and the text.
    ready->setMinimumWidth(
        8 + 7 + QFontMetrics(VemiFonts::font(VemiTextStyle::callout)).horizontalAdvance(readyText) + 4);
    auto *readyRow = new QHBoxLayout;
    readyRow->setContentsMargins(16, 10, 16, 10);
    readyRow->addStretch(1);
    readyRow->addWidget(ready);
    readyRow->addStretch(1);
    column->addLayout(readyRow);

    connect(m_editor, &FramedTextEditor::textEdited, this,
        [this](const QString &text) { m_session->setReviewedText(text); });
    connect(m_session.get(), &ReviewSession::changed, this, &ReviewEditorPane::refresh);
    refresh();
}

void ReviewEditorPane::refresh()
{
    const bool recognizing = m_session->isOCRRunning();
    m_editor->setText(m_session->reviewedText());
    m_editor->setEnabled(!recognizing);
    m_progress->setActive(recognizing);
    m_character->setState(recognizing ? VemiState::reading : VemiState::reviewing);
    if (m_statusText != m_session->statusText()) {
        m_statusText = m_session->statusText();
        m_status->setToolTip(m_statusText);
        m_status->setAccessibleName(QStringLiteral("Capture status ") + m_statusText);
        m_status->setText(m_statusText);
    }
}

void ReviewEditorPane::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
}
