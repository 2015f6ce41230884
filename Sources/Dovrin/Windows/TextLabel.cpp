#include "Windows/TextLabel.h"

#include <QEvent>

TextLabel::TextLabel(
    const QString &text, VemiTextStyle style, QFont::Weight weight, const VemiColor &color, QWidget *parent)
    : QLabel(text, parent)
    , m_color(color)
{
    setTextFormat(Qt::PlainText);
    setFont(VemiFonts::font(style, weight));
    applyColor();
}

void TextLabel::setColor(const VemiColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    applyColor();
}

void TextLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColor();
}

void TextLabel::applyColor()
{
    if (m_applying)
        return;
    m_applying = true;
    QPalette palette = this->palette();
    // Resolved against the inherited text colour, not a colour this label set itself earlier.
    palette.setColor(QPalette::WindowText, m_color.resolve(parentWidget() ? parentWidget() : this));
    setPalette(palette);
    m_applying = false;
}
