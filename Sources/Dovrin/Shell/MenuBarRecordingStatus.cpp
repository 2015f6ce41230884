#include "Shell/MenuBarRecordingStatus.h"

#include "Vemi/VemiDesign.h"

#include <QEvent>
#include <QPainter>

namespace {

constexpr int iconSide = 18;
constexpr int dotSide = 6;
constexpr int dotOffset = 3;
constexpr int spacing = 5;
constexpr qreal labelPixelSize = 13;

void paintDot(QPainter &painter, const QRectF &dot, const QColor &ink)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawEllipse(dot);
}

} // namespace

MenuBarRecordingStatus::MenuBarRecordingStatus(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setPresentation(
        MenuBarStatusPresentation::resolve(AudioSessionPhase::idle, 0, MenuBarRecordingPresence::compact));
}

void MenuBarRecordingStatus::setPresentation(const MenuBarStatusPresentation &presentation)
{
    const bool resized = presentation.isActive != m_presentation.isActive
        || presentation.showsElapsed != m_presentation.showsElapsed
        || widthTemplate(presentation.elapsedLabel) != widthTemplate(m_presentation.elapsedLabel);
    m_presentation = presentation;
    setAccessibleName(presentation.accessibilityLabel);
    setAccessibleDescription(presentation.accessibilityValue);
    if (resized)
        updateGeometry();
    update();
}

QString MenuBarRecordingStatus::widthTemplate(const QString &elapsedLabel)
{
    return elapsedLabel.split(QLatin1Char(':'), Qt::SkipEmptyParts).size() > 2 ? QStringLiteral("00:00:00")
                                                                               : QStringLiteral("00:00");
}

QFont MenuBarRecordingStatus::labelFont() const
{
    QFont font = this->font();
    font.setPixelSize(int(labelPixelSize));
    font.setWeight(QFont::Medium);
    return font;
}

int MenuBarRecordingStatus::iconWidth() const
{
    return iconSide + (m_presentation.isActive ? dotOffset : 0);
}

QSize MenuBarRecordingStatus::sizeHint() const
{
    const QFontMetrics metrics(labelFont());
    int width = iconWidth();
    if (m_presentation.showsElapsed)
        width += spacing + metrics.horizontalAdvance(widthTemplate(m_presentation.elapsedLabel));
    return QSize(width, std::max(iconSide, metrics.height()));
}

void MenuBarRecordingStatus::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHints(
        QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    const QColor ink = VemiPalette::primaryText(this);
    const QRectF icon(0, (height() - iconSide) / 2.0, iconSide, iconSide);
    VemiTemplateIcon::paint(painter, icon, ink);
    if (m_presentation.isActive)
        paintDot(painter, QRectF(icon.right() - dotSide + dotOffset, icon.top(), dotSide, dotSide), ink);
    if (!m_presentation.showsElapsed)
        return;
    painter.setFont(labelFont());
    painter.setPen(ink);
    const QRectF label(iconWidth() + spacing, 0, width() - iconWidth() - spacing, height());
    painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, m_presentation.elapsedLabel);
}

void MenuBarRecordingStatus::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

void MenuBarRecordingStatus::paintTrayIcon(
    QPainter &painter, const QRectF &square, bool isActive, const QColor &ink)
{
    // Laid out on a 22-unit grid, the height of a classic panel: the 18-unit icon, and the dot off
    // its top-trailing corner as on the label.
    const qreal unit = std::min(square.width(), square.height()) / 22.0;
    const QPointF origin = square.center() - QPointF(11 * unit, 11 * unit);
    const qreal left = isActive ? 0.5 : 2;
    const QRectF icon(origin + QPointF(left * unit, 2 * unit), QSizeF(iconSide * unit, iconSide * unit));
    VemiTemplateIcon::paint(painter, icon, ink);
    if (isActive) {
        paintDot(painter,
            QRectF(icon.right() + (dotOffset - dotSide) * unit, icon.top(), dotSide * unit, dotSide * unit),
            ink);
    }
}

QIcon MenuBarRecordingStatus::trayIcon(bool isActive, const QColor &ink)
{
    QIcon icon;
    for (const int side : { 16, 22, 24, 32, 48, 64 }) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        paintTrayIcon(painter, QRectF(0, 0, side, side), isActive, ink);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString MenuBarRecordingStatus::toolTip(const MenuBarStatusPresentation &presentation)
{
    if (presentation.accessibilityValue.isEmpty())
        return presentation.accessibilityLabel;
    return presentation.accessibilityLabel + QStringLiteral(" (") + presentation.accessibilityValue
        + QLatin1Char(')');
}

QColor MenuBarRecordingStatus::panelInk(const std::optional<QColor> &trayForeground,
    const QString &currentDesktop, const QPalette &palette, const std::optional<QColor> &panelBackground)
{
    if (trayForeground && trayForeground->isValid())
        return *trayForeground;
    // A theme's colours say nothing about a panel with a colour of its own (a light grey tray under a
    // dark theme): the panel itself decides.
    if (panelBackground && panelBackground->isValid())
        return VemiPalette::luminance(*panelBackground) > 0.18 ? QColor(16, 16, 18) : QColor(Qt::white);
    static const QStringList darkPanels { QStringLiteral("GNOME"), QStringLiteral("Unity"),
        QStringLiteral("Pantheon") };
    for (const QString &desktop : currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (darkPanels.contains(desktop, Qt::CaseInsensitive))
            return QColor(Qt::white);
    }
    return palette.color(QPalette::Active, QPalette::WindowText);
}
