#pragma once

// Installed applications as their .desktop files describe them ($XDG_DATA_HOME and $XDG_DATA_DIRS),
// read afresh on every call. The desktop-file id ("org.mozilla.firefox", "slack") is an application's
// identity throughout the program.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct DesktopEntry
{
    QString id; // desktop-file id, without ".desktop"
    QString path;
    QString name;
    QString iconName; // a theme icon name or an absolute file path
    QString exec;
    QString program; // the canonical path of the program that Exec starts; empty when not found
    QString flatpakID; // X-Flatpak
    QStringList mimeTypes;
    QString startupWMClass; // StartupWMClass: the window class its windows carry
    bool hidden = false; // Hidden=true: deleted for this user
    bool noDisplay = false;
};

namespace DesktopEntries {

// The "applications" folders in order of precedence.
QStringList applicationDirs();
// Every application entry; an id found in several folders counts once, from the first. Entries
// marked Hidden are dropped together with the ones they hide.
QList<DesktopEntry> all();
std::optional<DesktopEntry> find(const QString &id);
// The entry in a .desktop file (an Application), with its id from the folder it lies in.
std::optional<DesktopEntry> fromFile(const QString &path);
// The keys of a .desktop file's main group ("[Desktop Entry]") and their values as written, escapes
// not undone; the first of repeated keys counts. None when the file cannot be read or has no such group.
std::optional<QHash<QString, QString>> mainGroup(const QString &path);
// The desktop-file id of a file: its path below an applications folder with '/' turned into '-',
// else its file name; without ".desktop".
QString idForPath(const QString &path);
// The program an Exec line starts (after "env" and its assignments), found on PATH; canonical.
QString programOf(const QString &exec);
// The arguments of an Exec line, with quoting undone.
QStringList splitExec(const QString &exec);

} // namespace DesktopEntries
