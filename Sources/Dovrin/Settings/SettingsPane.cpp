#include "Settings/SettingsPane.h"

namespace SettingsPanes {

QString rawValue(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::general:
        return QStringLiteral("general");
    case SettingsPane::shortcuts:
        return QStringLiteral("shortcuts");
    case SettingsPane::permissions:
        return QStringLiteral("permissions");
    }
    return QString();
}

std::optional<SettingsPane> fromRawValue(const QString &raw)
{
    for (SettingsPane pane : allCases) {
        if (rawValue(pane) == raw)
            return pane;
    }
    return std::nullopt;
}

QString title(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::general:
        return QStringLiteral("General");
    case SettingsPane::shortcuts:
        return QStringLiteral("Shortcuts");
    case SettingsPane::permissions:
        return QStringLiteral("Permissions");
    }
    return QString();
}

QString symbol(SettingsPane pane)
{
    switch (pane) {
    case SettingsPane::general:
        return QStringLiteral("gearshape");
    case SettingsPane::shortcuts:
        return QStringLiteral("keyboard");
    case SettingsPane::permissions:
        return QStringLiteral("hand.raised");
    }
    return QString();
}

} // namespace SettingsPanes
