#include "Windows/FramedTextEditor.h"

#include "Vemi/VemiDesign.h"
#include "Windows/FieldFrame.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <cmath>

FramedTextEditor::FramedTextEditor(qreal radius, int inset, QWidget *parent)
    : QWidget(parent)
    , m_radius(radius)
    , m_editor(new QPlainTextEdit(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->addWidget(m_editor);
    m_editor->setFrameShape(QFrame::NoFrame);
    m_editor->setFont(VemiFonts::font(VemiTextStyle::body));
    m_editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_editor->document()->setDocumentMargin(1);
    m_editor->viewport()->setAutoFillBackground(false);
    FieldFrame::styleEditor(m_editor);
    m_editor->installEventFilter(this);
    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_setting)
            emit textEdited(m_editor->toPlainText());
    });
}

QString FramedTextEditor::text() const
{
    return m_editor->toPlainText();
}

void FramedTextEditor::setText(const QString &text)
{
    if (m_editor->toPlainText() == text)
        return;
    m_setting = true;
    m_editor->setPlainText(text);
    m_setting = false;
}

void FramedTextEditor::setGrowsWithText(int minimumHeight)
{
    m_growMinimum = minimumHeight;
    setMinimumHeight(minimumHeight);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(m_editor->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
        [this] { updateGeometry(); });
    updateGeometry();
}

QSize FramedTextEditor::sizeHint() const
{
    QSize hint = QWidget::sizeHint();
    if (m_growMinimum > 0) {
        // A plain-text layout measures its height in lines.
        const qreal lines = m_editor->document()->documentLayout()->documentSize().height();
        const QMargins margins = layout()->contentsMargins();
        const int content = int(std::ceil(lines * QFontMetricsF(m_editor->font()).lineSpacing()
                                + 2 * m_editor->document()->documentMargin()))
            + margins.top() + margins.bottom() + 4;
        hint.setHeight(std::max(m_growMinimum, content));
    }
    return hint;
}

bool FramedTextEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_editor
        && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut
            || event->type() == QEvent::EnabledChange))
        update();
    return QWidget::eventFilter(watched, event);
}

void FramedTextEditor::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    FieldFrame::paint(painter, QRectF(rect()), m_radius, m_editor->hasFocus(), m_editor->isEnabled(), this);
}
