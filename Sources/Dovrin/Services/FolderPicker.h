#pragma once

#include <QString>

#include <functional>
#include <optional>

// The modal folder chooser behind choosing the capture folder and saving one capture elsewhere.
// A record so the model can be given another one; live() is the Qt directory dialog.
struct FolderPicker
{
    // Starting folder (none: the dialog's default), the accept button's title, the dialog's title.
    // Answers the chosen folder's path, or none when the user cancelled.
    using Present = std::function<std::optional<QString>(
        const std::optional<QString> &startingAt, const QString &prompt, const QString &message)>;

    Present present;

    static FolderPicker live();
    // Where the chooser opens: the folder asked for, else the nearest folder above it that still
    // exists, else (nothing asked, or nothing left of it short of the root) the home folder. Never
    // the working directory.
    static QString startingFolder(const std::optional<QString> &wanted);
};
