#include "Settings/PermissionStatusCapsule.h"

#include "Vemi/VemiDesign.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

PermissionStatusCapsule::PermissionStatusCapsule(const QString &accessibilityID, QWidget *parent)
    : QLabel(parent)
{
    setObjectName(accessibilityID);
    setTextFormat(Qt::PlainText);
    setFont(VemiFonts::font(VemiTextStyle::subheadline, QFont::Medium));
    setContentsMargins(8, 3, 8, 3);
    setFixedHeight(22);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    applyTextColor();
}

void PermissionStatusCapsule::setStatus(
    PermissionStatus status, const QString &title, const QString &kindTitle)
{
    m_status = status;
    setText(title);
    setAccessibleName(kindTitle + QStringLiteral(" status ") + title);
    applyTextColor();
    update();
}

QColor PermissionStatusCapsule::textColor() const
{
    const QWidget *context = parentWidget() ? parentWidget() : this;
    const VemiAppearance appearance = VemiPalette::appearance(context);
    QColor ink;
    switch (m_status) {
    case PermissionStatus::allowed:
        ink = VemiPalette::tealInk(appearance);
        break;
    case PermissionStatus::unverified:
        ink = VemiPalette::secondaryText(context);
        break;
    default:
        ink = VemiPalette::coralInk(appearance);
        break;
    }
    // Legible on its own tint, over whichever ground the capsule sits on.
    QList<QColor> tinted;
    for (const QColor &ground : VemiPalette::grounds(appearance))
        tinted << VemiPalette::over(fillColor(), ground);
    return VemiPalette::legible(ink, tinted, VemiPalette::textContrast);
}

QColor PermissionStatusCapsule::fillColor() const
{
    const QWidget *context = parentWidget() ? parentWidget() : this;
    switch (m_status) {
    case PermissionStatus::allowed:
        return VemiPalette::withAlpha(VemiPalette::vemiTeal(), 0.12);
    case PermissionStatus::unverified:
        return VemiPalette::withAlpha(VemiPalette::primaryText(context), 0.12 * 0.62);
    default:
        return VemiPalette::withAlpha(VemiPalette::vemiCoral(), 0.12);
    }
}

void PermissionStatusCapsule::applyTextColor()
{
    QPalette palette = this->palette();
    const QColor color = textColor();
    if (palette.color(QPalette::WindowText) == color)
        return;
    palette.setColor(QPalette::WindowText, color);
    setPalette(palette);
}

void PermissionStatusCapsule::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
        applyTextColor();
}

void PermissionStatusCapsule::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath capsule;
        const QRectF frame = QRectF(rect());
        capsule.addRoundedRect(frame, frame.height() / 2, frame.height() / 2);
        painter.fillPath(capsule, fillColor());
    }
    QLabel::paintEvent(event);
}
