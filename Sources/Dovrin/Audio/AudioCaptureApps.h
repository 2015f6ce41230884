#pragma once

#include "Audio/AudioCaptureApp.h"
#include "Platform/AudioCaptureEngine.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

// Which applications can be recorded as "Others", and which processes and sound streams belong to
// one. Applications are named by their desktop-file ids; an application's family is the application,
// its helpers (AudioOthersSelection::belongsToFamily), its child processes and the programs in its
// own install folder. Every call reads the desktop files, /proc and the sound server afresh; a failed
// read leaves that part out of the answer.
namespace AudioCaptureApps {

// The program's own id: it never offers itself.
QString ownBundleID();

// The settings window's list: handlers of the catalogue's URL schemes, the installed known
// applications and the applications playing sound now, without this program, excluded, hidden and
// menu-less entries; sorted by name without regard to case.
QList<AudioCaptureApp> listedApps();
bool isFamilyRunning(const QString &bundleID);
// The family's running processes, or absent when none runs.
std::optional<ProcessTapRequest> tapRequest(
    const QString &bundleID, const std::optional<QString> &storedDisplayName);
QString displayName(const QString &bundleID, const std::optional<QString> &stored);
// The application an installed desktop-file id names; absent when it is not installed.
std::optional<AudioCaptureApp> app(const QString &bundleID, const std::optional<QString> &fallbackName = {});
// The application a chosen .desktop file describes; absent for this program or an unusable file.
std::optional<AudioCaptureApp> appFromDesktopFile(const QString &path);
// The processes that are the application itself (not its helpers or children): what an exit watch
// follows.
QList<qint64> applicationProcessIDs(const QString &bundleID);

} // namespace AudioCaptureApps
