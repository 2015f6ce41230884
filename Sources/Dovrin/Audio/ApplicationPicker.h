#pragma once

#include "Audio/AudioCaptureApp.h"

#include <QList>

#include <functional>
#include <optional>
#include <variant>

// Lets the user choose an application to record: the installed applications by name and icon (as
// their desktop entries give them), or, by browsing, a .desktop file or a program anywhere.
class ApplicationPicker
{
public:
    // Shows a file chooser and answers the chosen file, or nothing when cancelled.
    using ChooseFile = std::function<std::optional<QString>(
        const QString &prompt, const QString &message, const QString &startFolder)>;
    // Shows the picker and answers the application chosen, or nothing when cancelled.
    using Choose
        = std::function<std::optional<AudioCaptureApp>(const QString &prompt, const ChooseFile &browse)>;

    // "Choose an app to record. Audio from this app only. No video or screen content."
    static QString message();
    // The installed applications a person would find in the desktop's menu, without this program,
    // sorted by name. Reads the desktop entries: call it on a worker.
    static QList<AudioCaptureApp> installedApps();
    // What a browsed-to file stands for: the application a .desktop file describes, or the installed
    // application that starts a program; else a sentence saying why it cannot be recorded.
    static std::variant<AudioCaptureApp, QString> appForFile(const QString &path);
    // Where browsing starts: the system's applications folder.
    static QString browseFolder();

    // A modal file dialog for .desktop files and programs.
    static ChooseFile liveFileChooser();
    // The modal list of applications, with Browse… through `browse`.
    static Choose liveChooser();
    static std::optional<AudioCaptureApp> present(const QString &prompt, const Choose &choose = liveChooser(),
        const ChooseFile &browse = liveFileChooser());
};
