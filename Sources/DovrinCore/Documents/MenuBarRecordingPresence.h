#pragma once

#include <QString>

#include <array>
#include <optional>

// How the tray item shows a live recording; stored in the settings by its raw value.
enum class MenuBarRecordingPresence {
    compact, // icon and dot only
    elapsed, // icon, dot and elapsed time
};

namespace MenuBarRecordingPresences {

inline constexpr std::array<MenuBarRecordingPresence, 2> allCases {
    MenuBarRecordingPresence::compact,
    MenuBarRecordingPresence::elapsed,
};

inline QString rawValue(MenuBarRecordingPresence presence)
{
    return presence == MenuBarRecordingPresence::compact ? QStringLiteral("compact")
                                                         : QStringLiteral("elapsed");
}

inline std::optional<MenuBarRecordingPresence> fromRawValue(const QString &raw)
{
    if (raw == QLatin1String("compact"))
        return MenuBarRecordingPresence::compact;
    if (raw == QLatin1String("elapsed"))
        return MenuBarRecordingPresence::elapsed;
    return std::nullopt;
}

inline QString settingsTitle(MenuBarRecordingPresence presence)
{
    return presence == MenuBarRecordingPresence::compact ? QStringLiteral("Compact icon")
                                                         : QStringLiteral("Icon and timer");
}

} // namespace MenuBarRecordingPresences
