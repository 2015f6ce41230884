#include "Settings/ElidedLabel.h"

#include "Vemi/VemiDesign.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>

ElidedLabel::ElidedLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFont(VemiFonts::font(VemiTextStyle::body));
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString &text)
{
    if (text == m_text && !QLabel::text().isEmpty())
        return;
    m_text = text;
    setToolTip(text);
    setAccessibleName(text);
    relayout();
}

void ElidedLabel::setMaximumLines(int lines)
{
    m_lines = std::max(lines, 1);
    relayout();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(0, fontMetrics().lineSpacing());
}

QSize ElidedLabel::sizeHint() const
{
    return QSize(fontMetrics().horizontalAdvance(m_text), fontMetrics().lineSpacing());
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    relayout();
}

void ElidedLabel::relayout()
{
    const QFontMetrics metrics = fontMetrics();
    const int available = width() - contentsMargins().left() - contentsMargins().right();
    QString shown = m_text;
    if (available > 0 && metrics.horizontalAdvance(m_text) > available) {
        // Elided as one long line, then broken where the first line is full.
        const QString elided
            = metrics.elidedText(m_text, Qt::ElideMiddle, available * m_lines - 4 * (m_lines - 1));
        shown.clear();
        QString line;
        for (const QChar c : elided) {
            if (!line.isEmpty() && metrics.horizontalAdvance(line + c) > available) {
                shown += line + QLatin1Char('\n');
                line.clear();
            }
            line += c;
        }
        shown += line;
    }
    if (QLabel::text() != shown)
        QLabel::setText(shown);
    const int lines = int(shown.count(QLatin1Char('\n'))) + 1;
    setFixedHeight(metrics.lineSpacing() * lines + contentsMargins().top() + contentsMargins().bottom());
}

void ElidedLabel::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy) && hasSelectedText() && text() != m_text) {
        QGuiApplication::clipboard()->setText(m_text);
        return;
    }
    QLabel::keyPressEvent(event);
}

void ElidedLabel::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("Copy"), this, [this] { QGuiApplication::clipboard()->setText(m_text); });
    menu.exec(event->globalPos());
}
