#pragma once

#include "Vemi/VemiDesign.h"

#include <QLabel>

// The small pieces the settings and setup windows lay their panes out with.
namespace SettingsLayout {

// A section heading: title 3, bold, graphite.
QLabel *sectionTitle(const QString &text, QWidget *parent = nullptr);
// A short explanation under a panel: caption font, secondary colour, wrapping.
QLabel *caption(const QString &text, QWidget *parent = nullptr);
// A wrapping label in `style` and `color` (resolved against its own palette, so it follows it).
QLabel *text(const QString &text, VemiTextStyle style, const VemiColor &color, QWidget *parent = nullptr,
    QFont::Weight weight = QFont::Normal);
// Re-colours a label made by text() or caption().
void setColor(QLabel *label, const VemiColor &color);
// A 1-point hairline across a panel.
QWidget *divider(QWidget *parent = nullptr);
// A column filled with the panel colour (the rail of the settings and setup windows).
QWidget *panelStrip(QWidget *parent = nullptr);
// A vertical hairline between the columns of a window.
QWidget *verticalDivider(QWidget *parent = nullptr);

} // namespace SettingsLayout
