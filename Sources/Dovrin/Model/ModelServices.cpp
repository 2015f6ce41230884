#include "Model/ModelServices.h"

#include "Audio/AudioCaptureApps.h"
#include "Audio/LiveAudioCapture.h"
#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "Documents/AppPaths.h"
#include "Model/WriteBehindDefaultsStore.h"
#include "Platform/AudioInputHardware.h"
#include "Services/AppRelaunch.h"
#include "Services/FileManager.h"
#include "Services/HotKeyController.h"
#include "Services/WindowActivation.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSysInfo>
#include <QTimer>

ModelServices::Environment ModelServices::Environment::current()
{
    Environment environment;
    environment.appVersion = QStringLiteral(DOVRIN_VERSION);
    environment.buildNumber = QStringLiteral(DOVRIN_BUILD_NUMBER);
    environment.systemVersion = QSysInfo::prettyProductName();
    environment.bundleID = QGuiApplication::desktopFileName().isEmpty()
        ? QString::fromLatin1(AppPaths::bundleIdentifier)
        : QGuiApplication::desktopFileName();
    // The machine's own architecture, not the one this binary was built for.
    environment.architecture = QSysInfo::currentCpuArchitecture();
    environment.displayCount = [] { return int(QGuiApplication::screens().size()); };
    return environment;
}

ModelServices ModelServices::live()
{
    ModelServices services;
    services.defaults = WriteBehindDefaultsStore::openSettingsOrStandard();
    if (!services.defaults)
        services.defaults = std::make_shared<InMemoryDefaultsStore>();
    services.draftFolder = []() -> std::optional<QString> {
        const QString folder = AppPaths::dataDirectory();
        if (folder.isEmpty())
            return std::nullopt;
        return folder;
    };
    services.permissionEffects = PermissionController::Effects::live();
    services.makeAudio = [] { return std::make_unique<AudioSessionCoordinator>(); };
    services.recordingSupported = [] { return liveAudioCaptureEngineFactory().canRecord(); };
    services.isFamilyRunning
        = [](const QString &bundleID) { return AudioCaptureApps::isFamilyRunning(bundleID); };
    services.launchAtLoginService = LaunchAtLoginService::live();
    services.softwareUpdate = SoftwareUpdateService::disabled();
    services.resolveFolder = [](const FolderAccess &access) { return FolderBookmark::resolve(access); };
    services.startAccessingFolder
        = [](const ResolvedFolder &folder) { return FolderBookmark::startAccessing(folder.url); };
    services.recentBookmarks = RecentBookmarkService::live();
    services.recognizeText = [ocr = std::make_shared<OCRService>()](
                                 QImage image) { return ocr->recognizeText(std::move(image)); };
    services.pasteboardWriter = [](const QString &text) {
        QClipboard *clipboard = QGuiApplication::clipboard();
        if (!clipboard)
            return false;
        clipboard->clear();
        clipboard->setText(text);
        return clipboard->text() == text;
    };
    services.openURL = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    services.revealFile = [](const QUrl &file, std::function<void()> failed) {
        FileManager::showItems({ file }, [failed = std::move(failed)](const QUrl &folder) {
            const bool opened = QDesktopServices::openUrl(folder);
            if (!opened && failed)
                failed();
            return opened;
        });
    };
    services.moveToTrash = [](const QList<QUrl> &files) { return FileManager::moveToTrash(files); };
    services.folderPicker = FolderPicker::live();
    auto screens = std::make_shared<ScreenCaptureService>();
    services.makeOverlay = [](CaptureSelectionMode mode) {
        return std::make_unique<SelectionOverlayCoordinator>(
            DisplayChangeCenter::defaultCenter(), std::chrono::seconds(120), mode);
    };
    services.snapshots = [screens](std::function<quint64()> generation, std::function<void(quint64)> accept) {
        return screens->snapshots(std::move(generation), std::move(accept));
    };
    services.scrollingTarget = [screens](ScrollingRegionGeometry geometry, std::optional<QString> preferred) {
        return screens->scrollingTarget(std::move(geometry), std::move(preferred));
    };
    services.makeScrollingCapture = [screens](const ScrollingCaptureRequest &request) {
        const ScrollingCaptureCoordinator::FrameFunctions frames
            = ScrollingCaptureCoordinator::defaultFrameFunctions();
        ScrollingCaptureEnvironment environment = ScrollingCaptureEnvironment::live();
        environment.storeThread = request.storeThread;
        return std::make_unique<ScrollingCaptureCoordinator>(
            request.geometry, request.target, request.draftID, request.store,
            [screens](ScrollingRegionGeometry geometry) { return screens->scrollingViewport(geometry); },
            request.recognizeText, ScrollingCaptureLimits::production, environment, frames.prepareFrame,
            frames.alignFrames, frames.frameDifference);
    };
    services.presentPrompt
        = [](const ScrollingCapturePrompt &prompt) { return VemiPromptPanel::present(prompt); };
    services.dismissPrompt = [](bool accepted) { VemiPromptPanel::dismiss(accepted); };
    services.presentAlert = [](const QString &title, const QString &message) {
        // Opened once the windows asked for meanwhile are up: an alert said at start-up would otherwise
        // open first and end up behind the setup window, unseen.
        QTimer::singleShot(0, qApp, [title, message] {
            WindowActivation::reveal(nullptr);
            auto *box = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok);
            box->setInformativeText(message);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        });
    };
    services.presentFeedbackFailure = services.presentAlert;
    services.makeFeedbackURL
        = [](const FeedbackMail::Snapshot &snapshot) { return FeedbackMail::mailtoURL(snapshot); };
    services.arguments = QCoreApplication::arguments();
    services.makeHotKey = [](QObject *owner, std::function<void()> action,
                              std::function<void(HotKeyRegistrationState)> changed) -> RegisterHotKey {
        QPointer<HotKeyController> controller = new HotKeyController(std::move(action), owner);
        controller->setRegistrationChanged(std::move(changed));
        return [controller](const CaptureShortcut &shortcut) {
            return controller ? controller->registerShortcut(shortcut) : HotKeyRegistrationState::unavailable;
        };
    };
    services.frontmostApplication = [] { return ForeignApplication::frontmost(); };
    services.readInputDevices = [] {
        return InputDevices { AudioInputHardware::devices(), AudioInputHardware::defaultInput() };
    };
    services.windows.installActivation = [] { WindowActivation::installIfNeeded(); };
    services.windows.reveal = [] { WindowActivation::reveal(nullptr); };
    services.windows.scheduleReconcile = [] { WindowActivation::scheduleReconcile(); };
    services.relaunch.isPending = [] { return AppRelaunch::isPending(); };
    services.relaunch.commit = [] { AppRelaunch::commitPendingIfNeeded(); };
    services.relaunch.cancel = [] { AppRelaunch::cancelPending(); };
    services.environment = Environment::current();
    services.clock = &TaskClock::system();
    services.now = [] { return QDateTime::currentDateTime(); };
    return services;
}
