#include "Vemi/VemiSwitch.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

void VemiSwitch::paint(QPainter &painter, const QRectF &track, qreal position, bool enabled, bool pressed,
    bool focusRing, VemiAppearance appearance)
{
    position = std::clamp(position, 0.0, 1.0);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = track.height() / 2;
    const QColor colour = VemiPalette::mix(
        VemiPalette::switchTrack(appearance, false), VemiPalette::switchTrack(appearance, true), position);
    const qreal inset = 2;
    const qreal knob = track.height() - 2 * inset;
    const QRectF knobRect(track.left() + inset + (track.width() - 2 * inset - knob) * position,
        track.top() + inset, knob, knob);
    QPainterPath capsule;
    if (enabled) {
        capsule.addRoundedRect(track, radius, radius);
        painter.fillPath(capsule, colour);
        if (pressed)
            painter.fillPath(capsule, QColor(0, 0, 0, 24));
        painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
        painter.setBrush(VemiPalette::switchKnob());
        painter.drawEllipse(knobRect);
    } else {
        const QRectF edge = track.adjusted(0.75, 0.75, -0.75, -0.75);
        capsule.addRoundedRect(edge, edge.height() / 2, edge.height() / 2);
        painter.strokePath(capsule, QPen(colour, 1.5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(knobRect.adjusted(1.5, 1.5, -1.5, -1.5));
    }
    if (focusRing) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(VemiPalette::focusRing(appearance), 2));
        painter.drawRoundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), radius + 1.5, radius + 1.5);
    }
    painter.restore();
}
