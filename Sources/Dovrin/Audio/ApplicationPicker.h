#pragma once

#include "Async/Task.h"
#include "Audio/AudioCaptureApp.h"

#include <QList>

#include <functional>
#include <optional>
#include <variant>

class QWidget;

// Lets the user choose an application to record: the installed applications by name and icon (as
// their desktop entries give them), or, by browsing, a .desktop file or a program anywhere.
class ApplicationPicker
{
public:
    // Opens a file chooser over `parent` and answers the chosen file once it closes, or nothing when
    // cancelled. Never waits.
    using ChooseFile = std::function<Task<std::optional<QString>>(
        QWidget *parent, const QString &prompt, const QString &message, const QString &startFolder)>;
    // Opens the picker over `parent`, the window that asked, and answers the application chosen once
    // it closes, or nothing when cancelled. Never waits.
    using Choose = std::function<Task<std::optional<AudioCaptureApp>>(
        QWidget *parent, const QString &prompt, const ChooseFile &browse)>;

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

    // A window-modal file dialog for .desktop files and programs.
    static ChooseFile liveFileChooser();
    // The window-modal list of applications, with Browse… through `browse`.
    static Choose liveChooser();
    static Task<std::optional<AudioCaptureApp>> present(QWidget *parent, QString prompt,
        Choose choose = liveChooser(), ChooseFile browse = liveFileChooser());
};
