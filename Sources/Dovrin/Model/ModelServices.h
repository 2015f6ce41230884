#pragma once

#include "Async/TaskClock.h"
#include "Audio/AudioFileTranscriber.h"
#include "Audio/AudioSessionCoordinator.h"
#include "Capture/DisplaySnapshot.h"
#include "Capture/ScrollingCaptureTarget.h"
#include "Capture/SelectionOverlay.h"
#include "Documents/AtomicMarkdownWriter.h"
#include "Documents/DefaultsStore.h"
#include "Documents/FolderBookmark.h"
#include "Documents/RecentBookmarkService.h"
#include "Model/ForeignApplication.h"
#include "Model/ReviewWindowPresenter.h"
#include "Platform/AudioInputDevice.h"
#include "Rules/CaptureShortcut.h"
#include "Rules/FeedbackMail.h"
#include "Rules/OCRLayout.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"
#include "Services/FolderPicker.h"
#include "Services/LaunchAtLoginService.h"
#include "Services/PermissionController.h"
#include "Services/SoftwareUpdateService.h"
#include "Vemi/VemiPrompt.h"

#include <QImage>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// Everything the application model reaches outside itself, as replaceable parts. live() is the
// running program; tests build the real model over their own.
struct ModelServices
{
    // Registers a shortcut as the global hot key, answering how that went.
    using RegisterHotKey = std::function<HotKeyRegistrationState(const CaptureShortcut &)>;

    // The settings suite (the settings record, the shortcut and the model's flags).
    std::shared_ptr<DefaultsStore> defaults;
    // Where the encrypted draft store and its key live; none when there is no such folder.
    std::function<std::optional<QString>()> draftFolder;
    PermissionController::Effects permissionEffects;
    std::function<std::unique_ptr<AudioSessionCoordinator>()> makeAudio;
    // A sound server to record through is configured (answers at once).
    std::function<bool()> recordingSupported;
    // Whether an application or one of its helpers runs; asks the sound server, so the model calls
    // it on a worker.
    std::function<bool(const QString &bundleID)> isFamilyRunning;
    LaunchAtLoginService launchAtLoginService;
    SoftwareUpdateService softwareUpdate;
    // Throws FolderBookmarkError.
    std::function<ResolvedFolder(const FolderAccess &)> resolveFolder;
    std::function<bool(const ResolvedFolder &)> startAccessingFolder;
    RecentBookmarkService recentBookmarks;
    // None: ask whether the speech model is installed.
    std::optional<bool> transcriptionSupported;
    // Empty: the on-device transcriber.
    AudioFileTranscriber::FileTranscriber audioFileTranscriber;
    std::function<Task<OCRResult>(QImage)> recognizeText;
    std::function<bool(const QString &)> pasteboardWriter;
    std::function<bool(const QUrl &)> openURL;
    // Shows a saved file in the file manager; `failed` runs (later, on the main thread) when no file
    // manager showed it.
    std::function<void(const QUrl &file, std::function<void()> failed)> revealFile;
    // Moves the files to the Trash and answers the former URLs of those that went. The model calls it
    // on a worker.
    std::function<QList<QUrl>(const QList<QUrl> &)> moveToTrash;
    // Writes a note under `filename` in `directory` (a clash gets "-2" and so on) and answers where;
    // throws when it cannot. The model calls it on a worker.
    std::function<QUrl(const QString &markdown, const QString &directory, const QString &filename)>
        writeMarkdown = [](const QString &markdown, const QString &directory, const QString &filename) {
            return AtomicMarkdownWriter::write(markdown, directory, filename);
        };
    FolderPicker folderPicker;
    // A warning with one OK button: title, then the explanation. Must not wait for the answer.
    std::function<void(const QString &title, const QString &message)> presentFeedbackFailure;
    // The same kind of warning, for what the user must hear of though no window is open.
    std::function<void(const QString &title, const QString &message)> presentAlert;
    std::function<std::optional<QUrl>(const FeedbackMail::Snapshot &)> makeFeedbackURL;

    // The process arguments ("--audio-spike" turns window requests off).
    QStringList arguments;
    // Makes the global hot key with the action its presses run; `changed` hears of a registration that
    // changed later on its own (a shortcut another program held, registered once it let go).
    std::function<RegisterHotKey(
        QObject *owner, std::function<void()> action, std::function<void(HotKeyRegistrationState)> changed)>
        makeHotKey;
    // Safe on any thread; the model asks it on a worker.
    std::function<ForeignApplication()> frontmostApplication;

    struct InputDevices
    {
        QList<AudioInputDevice> devices;
        std::optional<AudioInputDevice> defaultInput;
    };
    // Asks the sound server, which may take a while: the model calls it on a worker.
    std::function<InputDevices()> readInputDevices;
    // The screen: the overlay of one selection, every display frozen as a still (reading the
    // overlay's screen-change generation, reporting the one the stills were accepted under), and the
    // window of another application under a scrolling outline.
    std::function<std::unique_ptr<SelectionOverlayCoordinator>(CaptureSelectionMode)> makeOverlay;
    std::function<Task<QList<DisplaySnapshot>>(
        std::function<quint64()> generation, std::function<void(quint64)> acceptGeneration)>
        snapshots;
    std::function<Task<std::optional<ScrollingCaptureTarget>>(
        ScrollingRegionGeometry, std::optional<QString> preferredBundleID)>
        scrollingTarget;
    // One scrolling capture of `target` under `geometry` into a new draft of `store`.
    struct ScrollingCaptureRequest
    {
        ScrollingRegionGeometry geometry;
        ScrollingCaptureTarget target;
        QUuid draftID;
        EncryptedDraftStore store;
        ScrollingCaptureCoordinator::RecognizeText recognizeText;
        // The draft flow's one thread for the store's files (ScrollingCaptureEnvironment::storeThread).
        QThreadPool *storeThread = nullptr;
    };
    std::function<std::unique_ptr<ScrollingCaptureCoordinator>(const ScrollingCaptureRequest &)>
        makeScrollingCapture;
    // The prompt panel: one question at a time, answered true for its primary button.
    std::function<TaskFuture<bool>(const ScrollingCapturePrompt &)> presentPrompt;
    std::function<void(bool accepted)> dismissPrompt;

    // The review window; set by the windows layer. Without it reviews open without a window.
    std::function<std::unique_ptr<ReviewWindowPresenter>()> makeReviewWindow;

    // Switching between tray-only and regular application (WindowActivation).
    struct Windows
    {
        std::function<void()> installActivation;
        std::function<void()> reveal;
        std::function<void()> scheduleReconcile;
    };
    Windows windows;

    // A restart of this program that waits for the quit (AppRelaunch).
    struct Relaunch
    {
        std::function<bool()> isPending;
        std::function<void()> commit;
        std::function<void()> cancel;
    };
    Relaunch relaunch;

    // Details for the feedback mail.
    struct Environment
    {
        QString appVersion;
        QString buildNumber;
        QString systemVersion;
        QString bundleID;
        QString architecture;
        std::function<int()> displayCount;

        static Environment current();
    };
    Environment environment;

    // Waits of the model's own tasks.
    TaskClock *clock = nullptr;
    // The wall clock for times the model records.
    std::function<QDateTime()> now;

    static ModelServices live();
};
