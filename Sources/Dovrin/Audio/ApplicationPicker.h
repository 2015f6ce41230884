#pragma once

#include "Async/Task.h"
#include "Audio/AudioCaptureApp.h"

#include <functional>
#include <optional>

class QWidget;

// Lets the user choose an application to record by its .desktop file.
class ApplicationPicker
{
public:
    // Opens a chooser over `parent`, the window that asked, and answers the chosen file once it
    // closes, or nothing when cancelled. Never waits.
    using ChooseFile = std::function<Task<std::optional<QString>>(
        QWidget *parent, const QString &prompt, const QString &message, const QString &startFolder)>;

    // "Choose an app to record. Audio from this app only. No video or screen content."
    static QString message();
    // A window-modal file dialog in the applications folder that shows only .desktop files.
    static ChooseFile liveChooser();
    // The chosen application; nothing when cancelled, for this program, or for a file that is no
    // usable application entry.
    static Task<std::optional<AudioCaptureApp>> present(
        QWidget *parent, QString prompt, ChooseFile choose = liveChooser());
};
