#include "Rules/LaunchAtLoginPresentation.h"

namespace LaunchAtLoginStatuses {

QString rawValue(LaunchAtLoginStatus status)
{
    switch (status) {
    case LaunchAtLoginStatus::pending:
        return QStringLiteral("pending");
    case LaunchAtLoginStatus::notRegistered:
        return QStringLiteral("notRegistered");
    case LaunchAtLoginStatus::enabled:
        return QStringLiteral("enabled");
    case LaunchAtLoginStatus::requiresApproval:
        return QStringLiteral("requiresApproval");
    case LaunchAtLoginStatus::notFound:
        return QStringLiteral("notFound");
    }
    return QStringLiteral("pending");
}

std::optional<LaunchAtLoginStatus> fromRawValue(const QString &raw)
{
    for (LaunchAtLoginStatus status : allCases) {
        if (rawValue(status) == raw)
            return status;
    }
    return std::nullopt;
}

} // namespace LaunchAtLoginStatuses

LaunchAtLoginPresentation LaunchAtLoginPresentation::resolve(
    LaunchAtLoginStatus status, const std::optional<QString> &lastError)
{
    LaunchAtLoginPresentation row;
    row.status = status;
    switch (status) {
    case LaunchAtLoginStatus::pending:
        // Until the first read the switch must not send a change based on a guess.
        row.isUnavailable = true;
        break;
    case LaunchAtLoginStatus::notRegistered:
        break;
    case LaunchAtLoginStatus::enabled:
        row.isEnabled = true;
        break;
    case LaunchAtLoginStatus::requiresApproval:
        row.isEnabled = true;
        row.detail = QStringLiteral(
            "Quorvel is registered but turned off in Startup Applications. Turn it on there to "
            "open Quorvel at login.");
        row.showsOpenLoginItems = true;
        break;
    case LaunchAtLoginStatus::notFound:
        row.isUnavailable = true;
        // A copy installed elsewhere is still "installed" to its user: name the folders that count.
        row.detail = QStringLiteral(
            "Launch at login needs Quorvel installed under /usr, /usr/local, /opt or ~/.local.");
        break;
    }
    if (lastError && !lastError->isEmpty())
        row.errorMessage = lastError;
    return row;
}

QString LaunchAtLoginPresentation::updateFailedMessage()
{
    return QStringLiteral("Couldn't update Startup Applications.");
}

QString LaunchAtLoginPresentation::openLoginItemsTitle()
{
    return QStringLiteral("Open Startup Applications\u2026");
}

namespace LaunchAtLoginMutation {

bool shouldRegister(LaunchAtLoginStatus status)
{
    return status == LaunchAtLoginStatus::notRegistered;
}

bool shouldUnregister(LaunchAtLoginStatus status)
{
    return status == LaunchAtLoginStatus::enabled || status == LaunchAtLoginStatus::requiresApproval;
}

} // namespace LaunchAtLoginMutation
