#include "ModelHarness.h"

#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"

#include <QDir>
#include <QJsonDocument>
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

Task<LaunchAtLoginStatus> answerOf(TaskFuture<LaunchAtLoginStatus> answer)
{
    co_return co_await answer;
}

} // namespace

void ModelHarness::Defaults::setValue(const QString &key, const QVariant &value)
{
    ++writes;
    if (value.isValid())
        values.insert(key, value);
    else
        values.remove(key);
    failure = refuseWrites;
}

ModelHarness::ModelHarness()
{
    QDir().mkpath(draftFolder());
}

void ModelHarness::setSettings(const AppSettings &settings)
{
    defaults->values.insert(QString::fromLatin1(AppSettingsStore::key),
        QJsonDocument(settings.toJson()).toJson(QJsonDocument::Compact));
}

AppModel &ModelHarness::make()
{
    ModelServices services;
    services.defaults = defaults;
    services.draftFolder = [this]() -> std::optional<QString> { return draftFolder(); };
    PermissionController::Effects &effects = services.permissionEffects;
    effects.screenPreflight = [this] { return screenGranted; };
    effects.screenRequest = [this] { return answered(screenGranted); };
    effects.postEventPreflight = [] { return true; };
    effects.postEventRequest = [] { return answered(true); };
    effects.microphoneStatus = [] { return MicrophoneAuthorizationFact::authorized; };
    effects.microphoneRequest = [] { return answered(true); };
    effects.openSettings = [](QUrl) { return answered(false); };
    effects.bringAppForward = [] {};
    effects.relaunchApp = [] {};
    effects.accessibilityTrusted = [] { return true; };
    services.makeAudio
        = [] { return std::make_unique<AudioSessionCoordinator>(AudioSessionCoordinator::Environment {}); };
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
    services.transcriptionSupported = false;
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
