#pragma once

#include "Async/Task.h"
#include "Audio/AudioCaptureApp.h"
#include "Platform/AudioInputDevice.h"
#include "Services/FolderPicker.h"

#include <functional>
#include <optional>

class AppModel;
class QWidget;

// What the settings and setup windows reach outside the application model: the choosers, the
// relaunch and bringing a window forward. live() is the running program; tests pass their own.
struct SettingsEnvironment
{
    // Chooses an application to record as Others over the window that asked; none when cancelled.
    std::function<Task<std::optional<AudioCaptureApp>>(QWidget *parent, const QString &prompt)>
        pickApplication;
    // Chooses the default capture folder.
    FolderPicker folderPicker;
    // The system's lists, which the settings window reads on a worker: the recordable applications,
    // the microphones, and whether an application (or one of its helpers) runs. Absent: read live.
    std::function<QList<AudioCaptureApp>()> listApplications;
    std::function<QList<AudioInputDevice>()> listInputDevices;
    std::function<bool(const QString &bundleID)> isFamilyRunning;
    // Starts a region capture through the model's gates (setup's test capture). Absent, the button
    // that needs it stays disabled rather than pretend to work.
    std::function<void()> startCapture;
    // Quits and starts this same program again.
    std::function<void()> relaunch;
    // Makes the app a regular application and brings the window (the key one when none) forward.
    std::function<void(QWidget *)> reveal;
    // The process runs the audio self-test: the setup window closes at once.
    bool audioSelfTest = false;
    QString appVersion;
    QString buildNumber;

    // The running program's, starting captures through `model`.
    static SettingsEnvironment live(AppModel &model);
};
