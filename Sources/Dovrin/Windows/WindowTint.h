#pragma once

// Colours that the receipt, recent-captures and recovery windows give plain Qt widgets (panel strips,
// destructive buttons, tertiary text). A widget's colour is remembered on it and worked out
// again from the window's palette on every palette change, so light and dark follow the desktop.

#include "Vemi/VemiDesign.h"

#include <QPalette>

namespace WindowTint {

// The red of a destructive action's title.
QColor destructive(VemiAppearance appearance);

// Paints `role` of `widget` in `color`, now and after every refresh().
void set(QWidget *widget, const VemiColor &color, QPalette::ColorRole role = QPalette::WindowText);
// A destructive button's title colour.
void setDestructive(QWidget *button);
// Text in the tertiary colour (fainter than secondary).
void setTertiary(QWidget *label);
// Works every remembered colour inside `root` out again from the palette of `root`.
void refresh(QWidget *root);

// A widget whose background is filled with `color` (a strip of panel colour).
void fill(QWidget *widget, const VemiColor &color);

} // namespace WindowTint
