#include "ModelHarness.h"

#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"
#include "GenerousWaits.h"
#include "SealedDraftFiles.h"
#include "SyntheticColumn.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>
#include <QThreadPool>

namespace {

class FakeReviewWindow final : public ReviewWindowPresenter
{
public:
    explicit FakeReviewWindow(ModelHarness &harness)
        : m_harness(harness)
    { }
    void present(std::shared_ptr<ReviewSession>, AppModel *, CloseVeto shouldClose) override
    {
        ++m_harness.presents;
        m_harness.closeVeto = std::move(shouldClose);
    }
    void orderOut() override
    {
        ++m_harness.orderOuts;
        m_harness.closeVeto = nullptr;
    }
    void bringToFront() override { ++m_harness.fronts; }

private:
    ModelHarness &m_harness;
};

template <typename T> Task<T> answered(T value)
{
    co_return value;
}

Task<MicrophoneAuthorizationFact> answeredFact(MicrophoneAuthorizationFact fact)
{
    co_return fact;
}

template <typename T> Task<T> answerOf(TaskFuture<T> answer)
{
    co_return co_await answer;
}

Task<QList<DisplaySnapshot>> stills(
    ModelHarness *h, std::function<quint64()> generation, std::function<void(quint64)> accept)
{
    if (h->holdSnapshots) {
        h->snapshotCalls.append(TaskPromise<QList<DisplaySnapshot>>());
        co_await h->snapshotCalls.last().future();
    }
    QImage still(640, 400, QImage::Format_ARGB32_Premultiplied);
    still.fill(QColor(0xf4, 0xf1, 0xe8));
    accept(generation());
    co_return QList<DisplaySnapshot> { { QStringLiteral("virtual-1"), QRect(0, 0, 640, 400), still } };
}

// A column of text that does not move: a capture of it ends after one tile.
Task<QImage> column()
{
    SyntheticColumn::Style style;
    style.width = 320;
    style.lines = 8;
    SyntheticColumn::Viewport view;
    view.height = 180;
    co_return SyntheticColumn::viewport(SyntheticColumn::document(style), view);
}

} // namespace

ModelHarness::DraftThreadHold::DraftThreadHold(DraftFlow &drafts)
{
    m_job = drafts.onDraftThread([this](const EncryptedDraftStore &) {
        m_reached.release();
        m_gate.acquire();
        return true;
    });
}

ModelHarness::DraftThreadHold::~DraftThreadHold()
{
    release();
    m_job.waitForFinished();
}

void ModelHarness::DraftThreadHold::release()
{
    if (m_released)
        return;
    m_released = true;
    m_gate.release();
}

ModelHarness::ModelHarness()
{
    QDir().mkpath(draftFolder());
}

AppModel &ModelHarness::make()
{
    ModelServices services;
    services.defaults = defaults;
    services.draftFolder = [this]() -> std::optional<QString> {
        return noDraftStore ? std::nullopt : std::optional(draftFolder());
    };
    PermissionController::Effects &effects = services.permissionEffects;
    effects.screenPreflight = [this] { return screenGranted; };
    effects.screenRequest = [this] { return answered(screenGranted); };
    effects.postEventPreflight = [this] { return scrollingGranted; };
    effects.postEventRequest = [this] { return answered(scrollingGranted); };
    effects.microphoneStatus = [this] { return answeredFact(microphone); };
    effects.requestsOnlyRecheck = requestsOnlyRecheck;
    effects.microphoneRequest = [] { return answered(true); };
    effects.openSettings = [](QUrl) { return answered(false); };
    effects.bringAppForward = [] {};
    effects.relaunchApp = [] {};
    // On X11 being trusted to post events is the Control Scrolling check itself.
    effects.accessibilityTrusted
        = [this] { return requestsOnlyRecheck ? scrollingGranted : scrollingTrusted; };
    services.makeAudio = makeAudio ? makeAudio : [] {
        return std::make_unique<AudioSessionCoordinator>(AudioSessionCoordinator::Environment {});
    };
    services.recordingSupported = [this] { return recordingSupported; };
    services.isFamilyRunning
        = [apps = runningApps](const QString &bundleID) { return apps.contains(bundleID); };
    services.audioFileTranscriber = fileTranscriber;
    services.launchAtLoginService.status = [this] {
        statusCalls.append(TaskPromise<LaunchAtLoginStatus>());
        return answerOf(statusCalls.last().future());
    };
    services.launchAtLoginService.setEnabled = [this](bool enabled) {
        setCalls.append({ enabled, TaskPromise<LaunchAtLoginStatus>() });
        return answerOf(setCalls.last().second.future());
    };
    services.softwareUpdate = SoftwareUpdateService::disabled();
    services.resolveFolder = [this](const FolderAccess &access) {
        return resolveFolder ? resolveFolder(access) : FolderBookmark::resolve(access);
    };
    services.startAccessingFolder = [](const ResolvedFolder &) { return true; };
    services.recentBookmarks = RecentBookmarkService::live();
    services.transcriptionSupported = transcriptionSupported;
    services.makeFeedbackURL = [this](const FeedbackMail::Snapshot &snapshot) {
        return mailLinkBuilds ? FeedbackMail::mailtoURL(snapshot) : std::nullopt;
    };
    services.openURL = [this](const QUrl &url) {
        opened << url;
        return mailOpens;
    };
    services.revealFile = [this](const QUrl &url, std::function<void()> failed) {
        revealed << url;
        if (!fileManagerAnswers && failed)
            QMetaObject::invokeMethod(QCoreApplication::instance(), failed, Qt::QueuedConnection);
    };
    services.moveToTrash = [this](const QList<QUrl> &files) {
        ++trashCalls;
        if (holdTrash && !trashGate.tryAcquire(1, 60000))
            qWarning("A move to the Trash was held for a minute and never released");
        QList<QUrl> moved;
        for (const QUrl &file : files) {
            if (!stuckInTrash.contains(file.fileName()) && QFile::remove(file.toLocalFile()))
                moved << file;
        }
        return moved;
    };
    services.pasteboardWriter = [this](const QString &text) {
        if (pasteboardWorks)
            clipboard << text;
        return pasteboardWorks;
    };
    services.folderPicker.present = [this](QWidget *, const std::optional<QString> &, const QString &,
                                        const QString &) { return answered(pickedFolder); };
    services.makeOverlay = [this](CaptureSelectionMode mode) {
        auto overlay = std::make_unique<SelectionOverlayCoordinator>(
            &displays, std::chrono::seconds(120), mode,
            [](const QList<QWidget *> &windows) {
                for (QWidget *window : windows)
                    window->show();
                return true;
            },
            overlayClock);
        overlays << overlay.get();
        return overlay;
    };
    services.snapshots = [this](std::function<quint64()> generation, std::function<void(quint64)> accept) {
        return stills(this, std::move(generation), std::move(accept));
    };
    services.frontmostApplication = [this] { return frontmost; };
    services.recognizeText = [this](QImage image) {
        recognitions.append(TaskPromise<OCRResult>());
        try {
            if (readText)
                recognitions.last().resolve(readText(image));
        } catch (...) {
            recognitions.last().reject(std::current_exception());
        }
        return answerOf(recognitions.last().future());
    };
    services.presentFeedbackFailure = [this](const QString &title, const QString &) { alerts << title; };
    services.presentAlert = [this](const QString &title, const QString &message) {
        alerts << title;
        alertMessages << message;
    };
    services.arguments = arguments;
    services.makeHotKey
        = [this](QObject *, std::function<void()>,
              std::function<void(HotKeyRegistrationState)> changed) -> ModelServices::RegisterHotKey {
        hotKeyChanged = std::move(changed);
        return [this](const CaptureShortcut &shortcut) {
            registered << shortcut;
            return hotKeyAnswer;
        };
    };
    services.makeReviewWindow = [this] { return std::make_unique<FakeReviewWindow>(*this); };
    services.windows.installActivation = [this] { ++activationInstalls; };
    services.windows.reveal = [this] { ++reveals; };
    services.windows.scheduleReconcile = [] {};
    services.relaunch.isPending = [this] { return relaunchPending; };
    services.relaunch.commit = [this] { ++relaunchCommits; };
    services.relaunch.cancel = [this] { ++relaunchCancels; };
    services.environment = ModelServices::Environment::current();
    services.presentPrompt = [this](const ScrollingCapturePrompt &prompt) {
        prompts << prompt.title;
        openPrompt = TaskPromise<bool>();
        if (promptAnswer)
            openPrompt->resolve(*promptAnswer);
        return openPrompt->future();
    };
    services.dismissPrompt = [this](bool accepted) {
        if (openPrompt)
            openPrompt->resolve(accepted);
    };
    services.scrollingTarget
        = [this](ScrollingRegionGeometry, std::optional<QString>) { return answered(target); };
    services.makeScrollingCapture = [this](const ModelServices::ScrollingCaptureRequest &request) {
        ++scrollingRuns;
        ScrollingCaptureEnvironment environment;
        environment.scrollDown = [](QPoint, int) { return true; };
        environment.showsPanel = environment.observesDisplayChanges = false;
        environment.storeThread = request.storeThread;
        const auto frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
        return std::make_unique<ScrollingCaptureCoordinator>(
            request.geometry, request.target, request.draftID, request.store,
            [](ScrollingRegionGeometry) { return column(); }, request.recognizeText, scrollingLimits,
            environment, frames.prepareFrame, frames.alignFrames, frames.frameDifference);
    };
    services.clock = clock;
    services.now = [this] { return fixedNow.value_or(QDateTime::currentDateTime()); };
    if (adjust)
        adjust(services);
    model = std::make_unique<AppModel>(std::move(services));
    return *model;
}

ModelHarness::~ModelHarness()
{
    if (!holdTrash)
        return;
    // A move still held would keep its worker, and the program's exit, waiting; and the worker reads
    // this harness, so it has to be done before the harness goes.
    trashGate.release(1 << 16);
    QThreadPool::globalInstance()->waitForDone(10000);
}

void ModelHarness::readyToCapture(const QString &folder)
{
    QDir().mkpath(folder);
    AppSettings settings;
    settings.setupComplete = true;
    settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(folder));
    setSettings(settings);
}

bool ModelHarness::select(const QRect &rect)
{
    if (!QTest::qWaitFor(
            [this] {
                return !overlays.isEmpty() && overlays.last() && !overlays.last()->windows().isEmpty();
            },
            TestSupport::patienceMs))
        return false;
    QWidget *window = overlays.last()->windows().front();
    QTest::mousePress(window, Qt::LeftButton, {}, rect.topLeft());
    const QPoint end = rect.bottomRight() + QPoint(1, 1);
    QTest::mouseMove(window, end);
    QTest::mouseRelease(window, Qt::LeftButton, {}, end);
    return true;
}

bool ModelHarness::captureReview(const QRect &rect)
{
    model->startCapture();
    return select(rect)
        && QTest::qWaitFor([this] { return model->reviewSession() != nullptr; }, TestSupport::patienceMs);
}

CaptureDraft ModelHarness::storeDraft()
{
    QImage image(8, 8, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    const QDateTime now = QDateTime::currentDateTime();
    CaptureDraft draft(QUuid::createUuid(), now, now, now, *ImageNormalization::pngData(image),
        QStringLiteral("text"), QStringLiteral("text"), {}, {}, QStringLiteral("Editor"), std::nullopt,
        QStringLiteral("Title"), {}, {}, std::nullopt, std::nullopt);
    EncryptedDraftStore(draftFolder(), DraftKeyStore::loadOrCreate(draftFolder())).save(draft);
    return draft;
}

QByteArray ModelHarness::storeNewerDraft()
{
    const QByteArray key = DraftKeyStore::loadOrCreate(draftFolder());
    const QByteArray sealed = SealedDraftFiles::seal(key, SealedDraftFiles::draftRole(),
        storeDraft().encodeJson().replace("\"formatVersion\":1", "\"formatVersion\":3"));
    const QString path
        = QDir(draftFolder()).filePath(QString::fromLatin1(EncryptedDraftStore::draftFileName));
    return TestSupport::writeFile(path, sealed) ? sealed : QByteArray();
}

void ModelHarness::breakDraftFile()
{
    const QString path
        = QDir(draftFolder()).filePath(QString::fromLatin1(EncryptedDraftStore::draftFileName));
    QFile::remove(path);
    QDir().mkpath(path + QStringLiteral("/occupied"));
}

AudioSessionResult ModelHarness::recording(const QString &folder, qint64 milliseconds, float youPeak)
{
    AudioSessionResult result;
    result.id = QUuid::createUuid();
    result.startedAt = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
    result.endedAt = result.startedAt.addMSecs(milliseconds);
    result.othersURL = QUrl::fromLocalFile(folder + QStringLiteral("/session_others.m4a"));
    result.youURL = QUrl::fromLocalFile(folder + QStringLiteral("/session_you.m4a"));
    result.heardOthers = result.heardYou = true;
    result.othersPeak = 0.9f;
    result.youPeak = youPeak;
    result.folder = ResolvedFolder { QUrl::fromLocalFile(folder), false, std::nullopt };
    return result;
}

QByteArray ModelHarness::savedNote(const QString &folder)
{
    const QStringList saved = QDir(folder).entryList({ QStringLiteral("*.md") });
    return saved.size() == 1 ? TestSupport::readFile(QDir(folder).filePath(saved.first())) : QByteArray();
}
