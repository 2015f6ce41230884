#include "Windows/MiddleElidedLabel.h"

#include "Vemi/VemiDesign.h"

#include <QTextLayout>

#include <cmath>

MiddleElidedLabel::MiddleElidedLabel(int maximumLines, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_maximumLines(std::max(maximumLines, 1))
{
    setReadOnly(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFocusPolicy(Qt::ClickFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    applyColour();
    relayout();
}

void MiddleElidedLabel::setFullText(const QString &text)
{
    if (m_fullText == text && !text.isEmpty())
        return;
    m_fullText = text;
    setToolTip(text);
    relayout();
}

void MiddleElidedLabel::setSecondary(bool secondary)
{
    if (m_secondary == secondary)
        return;
    m_secondary = secondary;
    applyColour();
}

int MiddleElidedLabel::lineCount(const QString &text, const QFont &font, qreal width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max<qreal>(width, 1));
        ++lines;
    }
    layout.endLayout();
    return std::max(lines, 1);
}

QString MiddleElidedLabel::elided(const QString &text, const QFont &font, qreal width, int maximumLines)
{
    if (lineCount(text, font, width) <= maximumLines)
        return text;
    const QString ellipsis = QStringLiteral("…");
    auto shortened = [&](qsizetype kept) {
        const qsizetype tail = kept / 2;
        return text.left(kept - tail) + ellipsis + text.right(tail);
    };
    // The most characters that still fit; fitting only shrinks as more are kept.
    qsizetype low = 0;
    qsizetype high = text.size() - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (lineCount(shortened(middle), font, width) <= maximumLines)
            low = middle;
        else
            high = middle - 1;
    }
    // Never split a surrogate pair.
    QString result = shortened(low);
    if (low > 0 && text.at(low - low / 2 - 1).isHighSurrogate())
        result = shortened(low - 1);
    return result;
}

void MiddleElidedLabel::relayout()
{
    const qreal width = viewport()->width();
    const QString shown = width > 0 ? elided(m_fullText, font(), width, m_maximumLines) : m_fullText;
    if (toPlainText() != shown)
        setPlainText(shown);
    const int lines = std::min(lineCount(shown, font(), width), m_maximumLines);
    const int height = int(std::ceil(lines * QFontMetricsF(font()).lineSpacing())) + 2;
    if (this->height() != height || minimumHeight() != height)
        setFixedHeight(height);
}

void MiddleElidedLabel::applyColour()
{
    if (m_applyingColour)
        return;
    m_applyingColour = true;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(
        QPalette::Text, m_secondary ? VemiPalette::secondaryText(this) : VemiPalette::primaryText(this));
    setPalette(palette);
    m_applyingColour = false;
}

void MiddleElidedLabel::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    relayout();
}

void MiddleElidedLabel::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        relayout();
    else if (event->type() == QEvent::PaletteChange)
        applyColour();
}
