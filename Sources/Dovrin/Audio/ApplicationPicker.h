#pragma once

#include "Audio/AudioCaptureApp.h"

#include <functional>
#include <optional>

// Lets the user choose an application to record by its .desktop file.
class ApplicationPicker
{
public:
    // Shows a chooser and answers the chosen file, or nothing when cancelled.
    using ChooseFile = std::function<std::optional<QString>(
        const QString &prompt, const QString &message, const QString &startFolder)>;

    // "Choose an app to record. Audio from this app only. No video or screen content."
    static QString message();
    // A modal file dialog in the applications folder that shows only .desktop files.
    static ChooseFile liveChooser();
    // The chosen application; nothing when cancelled, for this program, or for a file that is no
    // usable application entry.
    static std::optional<AudioCaptureApp> present(
        const QString &prompt, const ChooseFile &choose = liveChooser());
};
