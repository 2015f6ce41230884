#pragma once

#include "Vemi/VemiDesign.h"

#include <QRectF>

class QPainter;

// The one look of every on/off switch: a capsule track with a round knob. Enabled, the track is
// filled (teal when on, grey when off) under a white knob; disabled, it is drawn hollow in the same
// colours, so its state still reads while it plainly cannot be changed.
namespace VemiSwitch {

// `position` runs from 0 (off) to 1 (on) while the knob slides.
void paint(QPainter &painter, const QRectF &track, qreal position, bool enabled, bool pressed, bool focusRing,
    VemiAppearance appearance);

} // namespace VemiSwitch
