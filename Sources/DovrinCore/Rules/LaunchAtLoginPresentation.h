#pragma once

#include <QString>

#include <array>
#include <optional>

// Whether Quorvel opens when the user logs in. Raw values are the case names (shown in diagnostics).
enum class LaunchAtLoginStatus {
    pending, // not read yet
    notRegistered,
    enabled,
    requiresApproval, // registered, but switched off in the desktop's startup settings
    notFound, // this copy cannot be registered
};

namespace LaunchAtLoginStatuses {

inline constexpr std::array<LaunchAtLoginStatus, 5> allCases {
    LaunchAtLoginStatus::pending,
    LaunchAtLoginStatus::notRegistered,
    LaunchAtLoginStatus::enabled,
    LaunchAtLoginStatus::requiresApproval,
    LaunchAtLoginStatus::notFound,
};

QString rawValue(LaunchAtLoginStatus status);
std::optional<LaunchAtLoginStatus> fromRawValue(const QString &raw);

} // namespace LaunchAtLoginStatuses

// The launch-at-login row as shown in the settings.
struct LaunchAtLoginPresentation
{
    LaunchAtLoginStatus status = LaunchAtLoginStatus::pending;
    bool isEnabled = false; // the switch position
    std::optional<QString> detail; // a line under the switch
    bool showsOpenLoginItems = false; // the user has to act in the startup settings
    bool isUnavailable = false; // the switch cannot change anything now
    std::optional<QString> errorMessage;

    bool operator==(const LaunchAtLoginPresentation &) const = default;

    // An empty error text counts as none.
    static LaunchAtLoginPresentation resolve(
        LaunchAtLoginStatus status, const std::optional<QString> &lastError);

    static QString updateFailedMessage(); // "Couldn't update Startup Applications."
    static QString openLoginItemsTitle(); // "Open Startup Applications…"
};

// Which change a switch position asks of the startup registration.
namespace LaunchAtLoginMutation {

bool shouldRegister(LaunchAtLoginStatus status); // notRegistered only
bool shouldUnregister(LaunchAtLoginStatus status); // enabled and requiresApproval

} // namespace LaunchAtLoginMutation
