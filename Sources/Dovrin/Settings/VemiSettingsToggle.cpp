#include "Settings/VemiSettingsToggle.h"

#include "Vemi/VemiDesign.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>

namespace {

constexpr QSizeF trackSize(32, 18);

} // namespace

VemiSettingsToggle::VemiSettingsToggle(const QString &title, const QString &accessibilityID, QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setObjectName(accessibilityID);
    setAccessibleName(title);
    setToolTip(title);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, &VemiSettingsToggle::userToggled);
}

void VemiSettingsToggle::setOn(bool on)
{
    if (isChecked() == on)
        return;
    const QSignalBlocker quiet(this);
    setChecked(on);
    update();
}

QSize VemiSettingsToggle::sizeHint() const
{
    return QSize(int(trackSize.width()) + 2, 22);
}

void VemiSettingsToggle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.45);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    const QRectF track(
        QPointF((width() - trackSize.width()) / 2, (height() - trackSize.height()) / 2), trackSize);
    QPainterPath shape;
    shape.addRoundedRect(track, track.height() / 2, track.height() / 2);
    const QColor off = appearance == VemiAppearance::dark ? QColor(255, 255, 255, 56) : QColor(0, 0, 0, 46);
    painter.fillPath(shape, isChecked() ? VemiPalette::vemiTeal() : off);
    if (isDown())
        painter.fillPath(shape, QColor(0, 0, 0, 24));
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus() && m_keyboardFocus) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(VemiPalette::withAlpha(VemiPalette::vemiTeal(), 0.6), 2));
        painter.drawRoundedRect(
            track.adjusted(-1.5, -1.5, 1.5, 1.5), track.height() / 2 + 1.5, track.height() / 2 + 1.5);
    }
}

void VemiSettingsToggle::focusInEvent(QFocusEvent *event)
{
    // A ring only for focus reached from the keyboard, not for the first control of a new window.
    m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}
