#pragma once

#include <QString>

#include <array>
#include <optional>

// The panes of the settings window, in the order of its rail. Raw values are the case names.
enum class SettingsPane { general, shortcuts, permissions };

namespace SettingsPanes {

inline constexpr std::array<SettingsPane, 3> allCases { SettingsPane::general, SettingsPane::shortcuts,
    SettingsPane::permissions };

QString rawValue(SettingsPane pane);
std::optional<SettingsPane> fromRawValue(const QString &raw);
// The rail's title and symbol.
QString title(SettingsPane pane);
QString symbol(SettingsPane pane);

} // namespace SettingsPanes
