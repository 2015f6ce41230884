#pragma once

#include <QList>
#include <QString>

#include <optional>

// Installed applications as their .desktop files describe them ($XDG_DATA_HOME and $XDG_DATA_DIRS).
struct DesktopEntry
{
    // The desktop-file ID: the path below "applications/" with "/" as "-", without ".desktop".
    QString id;
    QString name;
    QString startupWMClass;
};

namespace DesktopEntries {

// Every entry, read afresh; an ID found in an earlier data folder hides later ones.
QList<DesktopEntry> all();

// The entry that describes a window: the ID the window announced, else the entry whose
// StartupWMClass matches its window class, else the entry named after its class or instance.
std::optional<DesktopEntry> forWindow(const QList<DesktopEntry> &entries, const QString &announcedID,
    const QString &wmClassInstance, const QString &wmClassName);

} // namespace DesktopEntries
