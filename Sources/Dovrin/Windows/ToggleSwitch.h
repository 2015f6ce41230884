#pragma once

#include "Vemi/VemiDesign.h"

#include <QAbstractButton>

// An on-off switch: a capsule, teal while on, whose knob slides (jumps under reduced motion). Its
// text is its accessible name only; the row around it shows the visible label.
class ToggleSwitch : public QAbstractButton
{
    Q_OBJECT
public:
    explicit ToggleSwitch(const QString &accessibleName, QWidget *parent = nullptr);

    QSize sizeHint() const override { return QSize(38, 24); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    VemiAnimatedValue m_knob;
    bool m_keyboardFocus = false;
};
