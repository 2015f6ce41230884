#include "Windows/ToggleSwitch.h"

#include <QPainter>
#include <QPainterPath>

ToggleSwitch::ToggleSwitch(const QString &accessibleName, QWidget *parent)
    : QAbstractButton(parent)
    , m_knob(this, 0)
{
    setCheckable(true);
    setText(accessibleName);
    setAccessibleName(accessibleName);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        const bool slide = isVisible() && !VemiMotion::reduceMotion(this);
        m_knob.animateTo(on ? 1.0 : 0.0, slide ? 140 : 0);
    });
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = track.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(track, radius, radius);
    const QColor off = appearance == VemiAppearance::dark ? QColor(255, 255, 255, 46) : QColor(0, 0, 0, 38);
    painter.fillPath(capsule, VemiPalette::mix(off, VemiPalette::vemiTeal(), m_knob.value()));
    painter.strokePath(capsule, QPen(VemiPalette::vemiLine(appearance), 1));
    const qreal inset = 2;
    const qreal knob = track.height() - 2 * inset;
    const qreal x = track.left() + inset + (track.width() - 2 * inset - knob) * m_knob.value();
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + inset, knob, knob));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(VemiPalette::withAlpha(VemiPalette::vemiTeal(), 0.5), 2));
        painter.drawRoundedRect(track.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }
}
