#include "Windows/RecentCaptureRow.h"

#include "Vemi/VemiDesign.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int savedWidth = RecentCaptureRow::savedColumnWidth;
constexpr int symbolWidth = 18;
constexpr int inset = RecentCaptureRow::contentInset;

} // namespace

RecentCaptureRow::RecentCaptureRow(const RecentCaptureRef &entry, QWidget *parent)
    : QWidget(parent)
    , m_entry(entry)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setFont(VemiFonts::font(VemiTextStyle::body));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    describe();
}

void RecentCaptureRow::setEntry(const RecentCaptureRef &entry)
{
    m_entry = entry;
    describe();
    update();
}

void RecentCaptureRow::setMissing(bool missing)
{
    if (missing == m_missing)
        return;
    m_missing = missing;
    describe();
    update();
}

void RecentCaptureRow::setSavedText(const QString &text)
{
    if (text == m_savedText)
        return;
    m_savedText = text;
    describe();
    update();
}

void RecentCaptureRow::setPosition(int position, int count)
{
    setAccessibleDescription(QStringLiteral("Capture %1 of %2").arg(position).arg(count));
}

void RecentCaptureRow::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

void RecentCaptureRow::setHovered(bool hovered)
{
    if (hovered == m_hovered)
        return;
    m_hovered = hovered;
    update();
}

void RecentCaptureRow::describe()
{
    setToolTip(m_missing ? QStringLiteral("This file is missing")
                         : QStringLiteral("Double-click or press Return to open"));
    setAccessibleName(m_missing ? m_entry.filename + QStringLiteral(", missing file")
                                : m_entry.filename + QStringLiteral(", saved ") + m_savedText);
}

QSize RecentCaptureRow::sizeHint() const
{
    QFont bold = font();
    bold.setWeight(QFont::DemiBold);
    return QSize(480, QFontMetrics(bold).height() + 16);
}

void RecentCaptureRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    const QRectF frame = QRectF(rect());
    if (m_selected || m_hovered) {
        QPainterPath shape;
        shape.addRoundedRect(frame, 7, 7);
        painter.fillPath(shape,
            m_selected ? VemiPalette::vemiTeal() : VemiPalette::withAlpha(VemiPalette::vemiTeal(), 0.08));
    } else {
        painter.fillRect(
            QRectF(27, frame.bottom() - 1, frame.width() - 27, 1), VemiPalette::vemiLine(appearance));
    }

    const QColor rowColour = m_selected
        ? VemiPalette::withAlpha(Qt::white, 0.9)
        : (m_missing ? VemiPalette::coralInk(appearance) : VemiPalette::secondaryText(this));
    const QColor nameColour = m_selected ? QColor(Qt::white) : VemiPalette::primaryText(this);
    const QRectF content = frame.adjusted(inset, 8, -inset, -8);
    const qreal symbolSize = VemiFonts::pixelSize(VemiTextStyle::body);
    VemiSymbols::paint(painter,
        m_missing ? QStringLiteral("exclamationmark.triangle") : QStringLiteral("doc.text"),
        QRectF(content.left() + (symbolWidth - symbolSize) / 2, content.center().y() - symbolSize / 2,
            symbolSize, symbolSize),
        rowColour);

    QFont nameFont = font();
    nameFont.setWeight(m_selected ? QFont::DemiBold : QFont::Medium);
    const QRectF saved(content.right() - savedWidth, content.top(), savedWidth, content.height());
    const qreal nameLeft = content.left() + nameOffset - inset;
    const QRectF name(nameLeft, content.top(), saved.left() - 12 - nameLeft, content.height());
    painter.setFont(nameFont);
    painter.setPen(nameColour);
    painter.drawText(name, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetricsF(nameFont).elidedText(m_entry.filename, Qt::ElideMiddle, name.width()));
    painter.setFont(font());
    painter.setPen(rowColour);
    painter.drawText(saved, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetricsF(font()).elidedText(
            m_missing ? QStringLiteral("Missing file") : m_savedText, Qt::ElideRight, saved.width()));
}

void RecentCaptureRow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit pressed();
    QWidget::mousePressEvent(event);
}

void RecentCaptureRow::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit activated();
}

void RecentCaptureRow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit activated();
        return;
    case Qt::Key_Up:
        emit moveRequested(RecentCaptureNavigation::Direction::up);
        return;
    case Qt::Key_Down:
        emit moveRequested(RecentCaptureNavigation::Direction::down);
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
        // Moves nothing, and keeps the list from scrolling sideways.
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void RecentCaptureRow::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    emit hoverChanged(true);
}

void RecentCaptureRow::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    emit hoverChanged(false);
}

void RecentCaptureRow::contextMenuEvent(QContextMenuEvent *event)
{
    emit menuRequested(event->globalPos());
}
