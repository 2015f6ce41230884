#include "ModelHarness.h"

#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

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
    void bringToFront() override { }

private:
    ModelHarness &m_harness;
};

Task<bool> answered(bool value)
{
    co_return value;
}

Task<MicrophoneAuthorizationFact> answeredFact(MicrophoneAuthorizationFact fact)
{
    co_return fact;
}

Task<LaunchAtLoginStatus> answerOf(TaskFuture<LaunchAtLoginStatus> answer)
{
    co_return co_await answer;
}

} // namespace

ModelHarness::ModelHarness()
{
    QDir().mkpath(draftFolder());
}

AppModel &ModelHarness::make()
{
    ModelServices services;
    services.defaults = defaults;
    services.draftFolder = [this]() -> std::optional<QString> { return draftFolder(); };
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
    effects.accessibilityTrusted = [this] { return !requestsOnlyRecheck || scrollingGranted; };
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
    services.resolveFolder = [](const FolderAccess &access) { return FolderBookmark::resolve(access); };
    services.startAccessingFolder = [](const ResolvedFolder &) { return true; };
    services.recentBookmarks = RecentBookmarkService::live();
    services.transcriptionSupported = transcriptionSupported;
    services.makeFeedbackURL = [this](const FeedbackMail::Snapshot &snapshot) {
        return mailLinkBuilds ? FeedbackMail::mailtoURL(snapshot) : std::nullopt;
    };
    services.openURL = [this](const QUrl &) { return mailOpens; };
    services.presentFeedbackFailure = [this](const QString &title, const QString &) { alerts << title; };
    services.arguments = arguments;
    services.makeHotKey = [this](QObject *, std::function<void()>) -> ModelServices::RegisterHotKey {
        return [this](const CaptureShortcut &shortcut) {
            registered << shortcut;
            return hotKeyAnswer;
        };
    };
    services.makeReviewWindow = [this] { return std::make_unique<FakeReviewWindow>(*this); };
    services.windows.installActivation = [this] { ++activationInstalls; };
    services.windows.reveal = [] {};
    services.windows.scheduleReconcile = [] {};
    services.relaunch.isPending = [this] { return relaunchPending; };
    services.relaunch.commit = [this] { ++relaunchCommits; };
    services.relaunch.cancel = [this] { ++relaunchCancels; };
    services.environment = ModelServices::Environment::current();
    services.now = [] { return QDateTime::currentDateTime(); };
    model = std::make_unique<AppModel>(std::move(services));
    return *model;
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
