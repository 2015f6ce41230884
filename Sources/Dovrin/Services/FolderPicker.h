#pragma once

#include "Async/Task.h"

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// The folder chooser behind choosing the capture folder and saving one capture elsewhere. A record
// so the model can be given another one; live() is the Qt directory dialog.
struct FolderPicker
{
    // Opens the chooser over `parent`, the window that asked (none: no window did), at the starting
    // folder (none: the dialog's default), with the accept button's title and the dialog's title.
    // Never waits: the task answers the chosen folder's path once the chooser closes, or none when
    // the user cancelled.
    using Present = std::function<Task<std::optional<QString>>(QWidget *parent,
        const std::optional<QString> &startingAt, const QString &prompt, const QString &message)>;

    Present present;

    static FolderPicker live();
    // Where the chooser opens: the folder asked for, else the nearest folder above it that still
    // exists, else (nothing asked, or nothing left of it short of the root) the home folder. Never
    // the working directory.
    static QString startingFolder(const std::optional<QString> &wanted);
};
