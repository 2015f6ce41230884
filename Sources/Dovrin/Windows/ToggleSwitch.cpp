#include "Windows/ToggleSwitch.h"

#include "Vemi/VemiSwitch.h"

#include <QFocusEvent>
#include <QPainter>

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
    VemiFocus::follow();
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        const bool slide = isVisible() && !VemiMotion::reduceMotion(this);
        m_knob.animateTo(on ? 1.0 : 0.0, slide ? 140 : 0);
    });
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Two pixels all round hold the focus ring.
    VemiSwitch::paint(painter, QRectF(rect()).adjusted(2, 2, -2, -2), m_knob.value(), isEnabled(), isDown(),
        hasFocus() && m_keyboardFocus, VemiPalette::appearance(this));
}

void ToggleSwitch::focusInEvent(QFocusEvent *event)
{
    m_keyboardFocus = VemiFocus::showsRing(event);
    QAbstractButton::focusInEvent(event);
}
