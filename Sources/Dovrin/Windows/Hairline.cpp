#include "Windows/Hairline.h"

#include "Vemi/VemiDesign.h"

#include <QPainter>

Hairline::Hairline(Qt::Orientation orientation, QWidget *parent)
    : QWidget(parent)
{
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
    VemiAccessibility::setDecorative(this, true);
}

void Hairline::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiLine(VemiPalette::appearance(this)));
}
