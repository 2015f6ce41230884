#pragma once

#include <QPalette>

// Desktop palettes for rendering windows in light and dark in tests, as a light or dark desktop
// theme would hand them to the application.
namespace AppearancePalettes {

QPalette light();
QPalette dark();

} // namespace AppearancePalettes
