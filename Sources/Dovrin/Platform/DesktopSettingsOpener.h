#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Opens a page of the desktop's own settings tool. Pages are named by URLs of our own scheme
// ("desktop-settings:microphone"); each maps to the tools of the common desktops, the current
// desktop's first.
namespace DesktopSettingsOpener {

inline const QString scheme = QStringLiteral("desktop-settings");

QUrl pageURL(const QString &page);

// The first installed tool for the page, as a program and its arguments; none when no desktop
// tool for it is installed. `currentDesktop` is as in $XDG_CURRENT_DESKTOP.
std::optional<QStringList> command(const QUrl &url, const QString &currentDesktop);

// Starts the tool; false when there is none or it could not be started.
bool open(const QUrl &url);

} // namespace DesktopSettingsOpener
