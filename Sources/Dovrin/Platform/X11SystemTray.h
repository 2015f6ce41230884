#pragma once

#include <QColor>
#include <QRect>

#include <optional>

// The X11 system tray (the XEmbed tray manager of the default screen), as far as icons care.
namespace X11SystemTray {

// Whether a tray manager owns the screen's tray selection.
bool hasManager();
// The foreground colour the tray manager asks icons to draw in (_NET_SYSTEM_TRAY_COLORS); none
// when there is no manager, it says nothing, or there is no X11 connection.
std::optional<QColor> foregroundColor();
// The panel's colour around an icon docked at `iconGeometry` (screen coordinates), read from the
// screen at the icon's corners, which its drawing leaves empty; none when there is nothing to read.
std::optional<QColor> backgroundUnder(const QRect &iconGeometry);

} // namespace X11SystemTray
