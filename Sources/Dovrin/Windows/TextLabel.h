#pragma once

#include "Vemi/VemiDesign.h"

#include <QLabel>

// Plain text in one of the design system's text styles and colours (secondary text, coral...),
// recoloured whenever the palette around it changes.
class TextLabel : public QLabel
{
    Q_OBJECT
public:
    TextLabel(const QString &text, VemiTextStyle style, QFont::Weight weight = QFont::Normal,
        const VemiColor &color = VemiColor::primary, QWidget *parent = nullptr);

    VemiColor color() const { return m_color; }
    void setColor(const VemiColor &color);

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColor();

    VemiColor m_color;
    bool m_applying = false;
};
