#include "Documents/DefaultsStore.h"
#include "Services/PermissionController.h"

#include <QTest>

using namespace std::chrono_literals;
using Kind = PermissionKind;

namespace {

// A desktop whose answers the test sets; it counts what the controller asked of it.
struct FakeDesktop
{
    bool screenUsable = false;
    bool postEventUsable = false;
    bool trusted = false;
    bool screenAnswer = false;
    bool postEventAnswer = false;
    std::function<void()> onPostEventRequest;
    std::optional<TaskPromise<bool>> heldScreenAnswer;
    MicrophoneAuthorizationFact microphone = MicrophoneAuthorizationFact::notDetermined;
    bool microphoneAnswer = false;
    QList<QUrl> openablePages;
    QList<QUrl> opened;
    std::function<void()> microphoneChanged;

    int screenRequests = 0;
    int postEventRequests = 0;
    int postEventChecks = 0;
    int microphoneRequests = 0;
    int forwards = 0;
    int relaunches = 0;

    PermissionController::Effects effects()
    {
        PermissionController::Effects e;
        e.screenPreflight = [this] { return screenUsable; };
        e.screenRequest = [this]() -> Task<bool> {
            ++screenRequests;
            if (heldScreenAnswer)
                co_return co_await heldScreenAnswer->future();
            co_return screenAnswer;
        };
        e.postEventPreflight = [this] {
            ++postEventChecks;
            return postEventUsable;
        };
        e.postEventRequest = [this]() -> Task<bool> {
            ++postEventRequests;
            if (onPostEventRequest)
                onPostEventRequest();
            co_return postEventAnswer;
        };
        e.microphoneStatus = [this] { return microphone; };
        e.microphoneRequest = [this]() -> Task<bool> {
            ++microphoneRequests;
            co_return microphoneAnswer;
        };
        e.openSettings = [this](QUrl url) -> Task<bool> {
            opened << url;
            co_return openablePages.contains(url);
        };
        e.bringAppForward = [this] { ++forwards; };
        e.relaunchApp = [this] { ++relaunches; };
        e.accessibilityTrusted = [this] { return trusted; };
        e.observeMicrophoneChanges
            = [this](QObject *, std::function<void()> changed) { microphoneChanged = std::move(changed); };
        return e;
    }
};

template <typename T> void finish(const Task<T> &task)
{
    QTRY_VERIFY_WITH_TIMEOUT(task.isFinished(), 5000);
    QVERIFY(!task.finishedWithError());
}

} // namespace

class TestPermissionController : public QObject
{
    Q_OBJECT

    std::shared_ptr<InMemoryDefaultsStore> m_defaults;
    FakeDesktop m_desktop;
    ManualTaskClock m_clock;
    std::unique_ptr<PermissionController> m_controller;

    PermissionController &make(bool recordYou = true)
    {
        m_controller
            = std::make_unique<PermissionController>(m_defaults, m_desktop.effects(), recordYou, m_clock);
        return *m_controller;
    }

    // Advances the watch's clock one step at a time, letting each step run.
    void advancePolls(int polls)
    {
        for (int i = 0; i < polls; ++i) {
            QCoreApplication::processEvents();
            m_clock.advance(PermissionController::pollInterval);
            QCoreApplication::processEvents();
        }
    }

    // Starts a scrolling request that the user answers no to: the grant watch runs afterwards.
    void declineScrollingPrompt(PermissionController &controller)
    {
        Task<bool> request = controller.requestScrollingAccess();
        finish(request);
        QCOMPARE(request.result(), false);
        QVERIFY(controller.isWatchingForScrollingGrant());
        QCOMPARE(controller.awaitingReturnFromSettings(), std::optional(Kind::controlScrolling));
    }

private slots:
    void init()
    {
        m_defaults = std::make_shared<InMemoryDefaultsStore>();
        m_desktop = FakeDesktop();
        m_desktop.openablePages = { PermissionController::screenRecordingSettingsURL(),
            PermissionController::accessibilitySettingsURL(), PermissionController::systemAudioSettingsURL(),
            PermissionController::microphoneSettingsURL() };
    }

    void cleanup() { m_controller.reset(); }

    void screenPromptAnsweredNoThenSecondRequestOpensSettings()
    {
        PermissionController &controller = make();
        QCOMPARE(controller.screen().presentation.status, PermissionStatus::notRequested);
        finish(controller.requestScreenAccess());
        QCOMPARE(m_desktop.screenRequests, 1);
        QVERIFY(m_defaults->boolean(PermissionController::screenCaptureRequestedKey));
        QCOMPARE(controller.screen().feedback, PermissionFeedbackCopy::screenPromptVisible());
        QCOMPARE(controller.screen().presentation.status, PermissionStatus::notAllowed);
        QVERIFY(!controller.screen().isBusy);
        QVERIFY(m_desktop.opened.isEmpty());

        finish(controller.requestScreenAccess());
        QCOMPARE(m_desktop.opened, QList<QUrl> { PermissionController::screenRecordingSettingsURL() });
        QCOMPARE(controller.screen().feedback, PermissionFeedbackCopy::settingsOpened(Kind::screenRecording));
        QCOMPARE(controller.awaitingReturnFromSettings(), std::optional(Kind::screenRecording));
        QVERIFY(controller.screen().presentation.mayNeedRelaunch);
        QCOMPARE(m_desktop.relaunches, 0);
    }

    void screenPromptAnsweredYes_data()
    {
        QTest::addColumn<bool>("usableAfterwards");
        QTest::addColumn<int>("relaunches");
        QTest::addColumn<QString>("statusTitle");
        QTest::newRow("usable at once") << true << 0 << QString();
        QTest::newRow("preflight still fails") << false << 1 << QString("Restart required");
    }

    void screenPromptAnsweredYes()
    {
        QFETCH(bool, usableAfterwards);
        QFETCH(int, relaunches);
        QFETCH(QString, statusTitle);
        PermissionController &controller = make();
        m_desktop.screenAnswer = true;
        m_desktop.screenUsable = usableAfterwards;
        finish(controller.requestScreenAccess());
        QCOMPARE(m_desktop.relaunches, relaunches);
        QVERIFY(m_defaults->boolean(PermissionController::screenCaptureGrantedKey));
        const PermissionPresentation &row = controller.screen().presentation;
        QCOMPARE(row.status, usableAfterwards ? PermissionStatus::allowed : PermissionStatus::allowAgain);
        QCOMPARE(controller.screen().feedback,
            PermissionFeedbackCopy::afterRequest(Kind::screenRecording, row.status, true));
        if (!statusTitle.isEmpty()) {
            QCOMPARE(row.statusTitle, statusTitle);
            QVERIFY(row.mayNeedRelaunch);
            QVERIFY(!row.showsRequestAccess);
            QVERIFY(!row.showsCheckAgain);
            QVERIFY(row.detail.startsWith("The desktop accepted Screen Recording."));
        }
        QCOMPARE(controller.lastScreenPreflight(), usableAfterwards);
    }

    void returnFromSettings_data()
    {
        QTest::addColumn<bool>("promptFirst");
        QTest::addColumn<bool>("allowedThere");
        QTest::addColumn<bool>("wasInactive");
        QTest::addColumn<int>("relaunches");
        QTest::newRow("allowed there") << false << true << true << 0;
        QTest::newRow("nothing changed") << false << false << true << 0;
        QTest::newRow("prompted in this process, still not usable") << true << false << true << 1;
        QTest::newRow("activation without leaving first") << false << true << false << 0;
    }

    void returnFromSettings()
    {
        QFETCH(bool, promptFirst);
        QFETCH(bool, allowedThere);
        QFETCH(bool, wasInactive);
        QFETCH(int, relaunches);
        PermissionController &controller = make();
        if (promptFirst)
            finish(controller.requestScreenAccess()); // answered no: waits for the return
        else
            finish(controller.openSettings(Kind::screenRecording));
        const PermissionStatus before = controller.screen().presentation.status;
        QCOMPARE(controller.awaitingReturnFromSettings(), std::optional(Kind::screenRecording));

        controller.setWasInactive(wasInactive);
        m_desktop.screenUsable = allowedThere;
        controller.refreshFromAppActivation();

        const PermissionStatus after = controller.screen().presentation.status;
        QCOMPARE(after, allowedThere ? PermissionStatus::allowed : before);
        QCOMPARE(m_desktop.relaunches, relaunches);
        QVERIFY(!controller.wasInactive());
        if (!wasInactive) {
            // Only change feedback; still waiting for the user to come back.
            QCOMPARE(controller.awaitingReturnFromSettings(), std::optional(Kind::screenRecording));
            QCOMPARE(controller.screen().feedback,
                PermissionFeedbackCopy::afterCheck(Kind::screenRecording, before, after, false));
            return;
        }
        QCOMPARE(controller.awaitingReturnFromSettings(), std::nullopt);
        if (relaunches) {
            QCOMPARE(controller.screen().feedback, PermissionFeedbackCopy::screenRecordingNeedsRelaunch());
            QCOMPARE(controller.screen().presentation.statusTitle, QString("Restart required"));
        } else {
            QCOMPARE(controller.screen().feedback,
                PermissionFeedbackCopy::afterCheck(Kind::screenRecording, before, after, true));
        }
    }

    void scrollingRelaunchesAtMostOnceAcrossTwoRuns()
    {
        // Allowed in the settings, but this process cannot post events until it restarts.
        m_desktop.trusted = true;
        Task<bool> first = make().requestScrollingAccess();
        finish(first);
        QCOMPARE(first.result(), false);
        QCOMPARE(m_desktop.relaunches, 1);
        QVERIFY(m_controller->isRelaunching());
        QVERIFY(m_defaults->boolean(PermissionController::postEventRelaunchAttemptedKey));
        QVERIFY(m_defaults->boolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey));
        QCOMPARE(m_controller->scrolling().feedback, PermissionFeedbackCopy::controlScrollingNeedsRelaunch());

        // The relaunched process still cannot post events: no second relaunch.
        Task<bool> second = make().requestScrollingAccess();
        finish(second);
        QCOMPARE(second.result(), false);
        QCOMPARE(m_desktop.relaunches, 1);
        QVERIFY(!m_controller->isRelaunching());
        const PermissionController::RowState &row = m_controller->scrolling();
        QCOMPARE(row.presentation.statusTitle, QString("Restart still required"));
        QVERIFY(row.presentation.mayNeedRelaunch);
        QCOMPARE(row.feedback,
            PermissionFeedbackCopy::afterCheck(
                Kind::controlScrolling, row.presentation.status, row.presentation.status, false));

        // Once it works, the one relaunch is available again for a later loss.
        m_desktop.postEventUsable = true;
        Task<bool> third = make().requestScrollingAccess();
        finish(third);
        QCOMPARE(third.result(), true);
        QVERIFY(!m_defaults->boolean(PermissionController::postEventRelaunchAttemptedKey));
        QCOMPARE(m_desktop.postEventRequests, 0);
    }

    void scrollingPromptOutcomes_data()
    {
        QTest::addColumn<bool>("usable");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("relaunches");
        QTest::addColumn<bool>("watching");
        QTest::newRow("allowed at once") << true << true << true << 0 << false;
        QTest::newRow("accepted, needs a restart") << false << true << false << 1 << false;
        QTest::newRow("declined") << false << false << false << 0 << true;
    }

    void scrollingPromptOutcomes()
    {
        QFETCH(bool, usable);
        QFETCH(bool, answer);
        QFETCH(bool, result);
        QFETCH(int, relaunches);
        QFETCH(bool, watching);
        PermissionController &controller = make();
        m_desktop.postEventAnswer = answer;
        m_desktop.onPostEventRequest = [this, usable] { m_desktop.postEventUsable = usable; };
        Task<bool> request = controller.requestScrollingAccess();
        finish(request);
        QCOMPARE(request.result(), result);
        QCOMPARE(m_desktop.postEventRequests, 1);
        QCOMPARE(m_desktop.relaunches, relaunches);
        QCOMPARE(controller.isWatchingForScrollingGrant(), watching);
        QVERIFY(m_defaults->boolean(PermissionController::postEventRequestedKey));
        if (usable) {
            QCOMPARE(controller.scrolling().feedback->text, QString("Control Scrolling is allowed"));
            QCOMPARE(m_desktop.forwards, 2);
        }
        // A second request in the same process prompts no more.
        finish(controller.requestScrollingAccess());
        QCOMPARE(m_desktop.postEventRequests, 1);
    }

    void grantWatch_data()
    {
        QTest::addColumn<int>("grantAfterPolls");
        QTest::newRow("granted on the first poll") << 1;
        QTest::newRow("granted after 9 polls") << 9;
        QTest::newRow("never granted") << 0;
    }

    void grantWatch()
    {
        QFETCH(int, grantAfterPolls);
        PermissionController &controller = make();
        declineScrollingPrompt(controller);
        const int checksBefore = m_desktop.postEventChecks;
        if (grantAfterPolls > 0) {
            advancePolls(grantAfterPolls - 1);
            QVERIFY(controller.isWatchingForScrollingGrant());
            m_desktop.postEventUsable = true;
            advancePolls(1);
            QTRY_VERIFY(!controller.isWatchingForScrollingGrant());
            QCOMPARE(m_desktop.postEventChecks - checksBefore, grantAfterPolls);
            QCOMPARE(controller.scrolling().presentation.status, PermissionStatus::allowed);
            QCOMPARE(controller.scrolling().feedback->text, QString("Control Scrolling is allowed"));
            QCOMPARE(controller.awaitingReturnFromSettings(), std::nullopt);
            QCOMPARE(m_desktop.forwards, 2);
            return;
        }
        const auto feedback = controller.scrolling().feedback;
        advancePolls(479);
        QVERIFY(controller.isWatchingForScrollingGrant());
        advancePolls(2);
        QTRY_VERIFY(!controller.isWatchingForScrollingGrant());
        // 120 s in 0.25 s steps; at the deadline the row and the wait are left as they were.
        QCOMPARE(m_desktop.postEventChecks - checksBefore, 480);
        QCOMPARE(controller.scrolling().feedback, feedback);
        QCOMPARE(controller.awaitingReturnFromSettings(), std::optional(Kind::controlScrolling));
        QCOMPARE(m_clock.pendingTimers(), 0);
    }

    void grantWatchReplacedByANewerOne()
    {
        PermissionController &controller = make();
        declineScrollingPrompt(controller);
        // The new request starts a watch of its own before the cancelled one has wound down.
        Task<bool> again = controller.requestScrollingAccess();
        controller.cancelScrollingPermissionWait();
        QVERIFY(!controller.isWatchingForScrollingGrant());
        finish(again);
        QTest::qWait(20);
        QVERIFY(controller.isWatchingForScrollingGrant());
        QCOMPARE(m_clock.pendingTimers(), 1);
        m_desktop.postEventUsable = true;
        advancePolls(1);
        QTRY_VERIFY(!controller.isWatchingForScrollingGrant());
        QCOMPARE(controller.scrolling().presentation.status, PermissionStatus::allowed);
    }

    void grantWatchEndsWithItsController()
    {
        declineScrollingPrompt(make());
        m_controller.reset();
        QCOMPARE(m_clock.pendingTimers(), 0);
        m_desktop.postEventUsable = true;
        advancePolls(2);
        QCOMPARE(m_desktop.forwards, 1);
    }

    void cancellingTheScrollingWait()
    {
        PermissionController &controller = make();
        m_defaults->setBoolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey, true);
        declineScrollingPrompt(controller);
        controller.cancelScrollingPermissionWait();
        QVERIFY(!controller.isWatchingForScrollingGrant());
        QCOMPARE(controller.awaitingReturnFromSettings(), std::nullopt);
        QVERIFY(!m_defaults->boolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey));
    }

    void busyRowTurnsASecondRequestAway()
    {
        PermissionController &controller = make();
        m_desktop.heldScreenAnswer.emplace();
        Task<> first = controller.requestScreenAccess();
        QTRY_VERIFY(controller.screen().isBusy);
        QCOMPARE(controller.screen().feedback, PermissionFeedback::checking());
        Task<> second = controller.requestScreenAccess();
        finish(second);
        controller.checkAgain(Kind::screenRecording);
        QCOMPARE(m_desktop.screenRequests, 1);
        QVERIFY(!first.isFinished());
        m_desktop.heldScreenAnswer->resolve(false);
        finish(first);
        QVERIFY(!controller.screen().isBusy);
        QCOMPARE(m_desktop.screenRequests, 1);
        QCOMPARE(controller.screen().feedback, PermissionFeedbackCopy::screenPromptVisible());
    }

    void systemAudioOutcomes()
    {
        PermissionController &controller = make();
        QCOMPARE(controller.systemAudio().presentation.status, PermissionStatus::notRequested);
        controller.recordSystemAudioStartFailed();
        QCOMPARE(controller.systemAudio().presentation.status, PermissionStatus::unverified);
        QCOMPARE(controller.systemAudio().feedback, PermissionFeedbackCopy::systemAudioStartFailed());
        controller.recordSystemAudioStartSucceeded();
        QCOMPARE(controller.systemAudio().presentation.status, PermissionStatus::allowed);
        QCOMPARE(controller.systemAudio().feedback->text, QString("System Audio worked for this recording"));
        // Remembered for the next process.
        QCOMPARE(make().systemAudio().presentation.status, PermissionStatus::allowed);

        finish(m_controller->openSettings(Kind::systemAudio));
        m_controller->setWasInactive(true);
        m_controller->refreshFromAppActivation();
        QCOMPARE(m_controller->systemAudio().feedback->text,
            QString("Returned from System Settings. Start a recording to confirm System Audio."));
    }

    void microphone_data()
    {
        QTest::addColumn<int>("fact");
        QTest::addColumn<bool>("asked");
        QTest::newRow("not determined: asks") << int(MicrophoneAuthorizationFact::notDetermined) << true;
        QTest::newRow("denied: no request offered") << int(MicrophoneAuthorizationFact::denied) << false;
    }

    void microphone()
    {
        QFETCH(int, fact);
        QFETCH(bool, asked);
        m_desktop.microphone = MicrophoneAuthorizationFact(fact);
        m_desktop.microphoneAnswer = true;
        PermissionController &controller = make();
        finish(controller.requestMicrophoneAccess());
        QCOMPARE(m_desktop.microphoneRequests, asked ? 1 : 0);
        if (asked) {
            QCOMPARE(controller.microphone().feedback,
                PermissionFeedbackCopy::afterRequest(
                    Kind::microphone, controller.microphone().presentation.status, true));
        }
        // The check off the UI thread answered: the row follows without a refresh.
        m_desktop.microphone = MicrophoneAuthorizationFact::authorized;
        m_desktop.microphoneChanged();
        QCOMPARE(controller.microphone().presentation.status, PermissionStatus::allowed);
        const QString detail = controller.microphone().presentation.detail;
        controller.setRecordYouEnabled(false);
        QVERIFY(controller.microphone().presentation.detail != detail);
    }

    void microphoneSettingsFallBack_data()
    {
        QTest::addColumn<bool>("fallbackOpens");
        QTest::newRow("fallback opens") << true;
        QTest::newRow("nothing opens") << false;
    }

    void microphoneSettingsFallBack()
    {
        QFETCH(bool, fallbackOpens);
        m_desktop.openablePages = fallbackOpens
            ? QList<QUrl> { PermissionController::microphoneSettingsFallbackURL() }
            : QList<QUrl> {};
        PermissionController &controller = make();
        finish(controller.openSettings(Kind::microphone));
        QCOMPARE(m_desktop.opened,
            (QList<QUrl> { PermissionController::microphoneSettingsURL(),
                PermissionController::microphoneSettingsFallbackURL() }));
        QCOMPARE(controller.microphone().feedback,
            fallbackOpens ? PermissionFeedbackCopy::settingsOpened(Kind::microphone)
                          : PermissionFeedback::settingsOpenFailed());
        QCOMPARE(controller.awaitingReturnFromSettings(),
            fallbackOpens ? std::optional(Kind::microphone) : std::nullopt);
    }

    void checkAgainOnlyWhereOffered()
    {
        PermissionController &controller = make();
        int changes = 0;
        connect(&controller, &PermissionController::rowChanged, this, [&](Kind kind) {
            if (kind == Kind::screenRecording)
                ++changes;
        });
        // Not usable: the row offers Request Access, not Check Again.
        controller.checkAgain(Kind::screenRecording);
        QCOMPARE(changes, 0);
        QCOMPARE(controller.screen().feedback, std::nullopt);

        m_desktop.screenUsable = true;
        controller.refreshScreen();
        QVERIFY(controller.screen().presentation.showsCheckAgain);
        m_desktop.screenUsable = false;
        controller.checkAgain(Kind::screenRecording);
        QCOMPARE(controller.screen().presentation.status, PermissionStatus::allowAgain);
        QCOMPARE(controller.screen().feedback,
            PermissionFeedbackCopy::afterCheck(
                Kind::screenRecording, PermissionStatus::allowed, PermissionStatus::allowAgain, false));
        QVERIFY(!controller.screen().isBusy);
        QVERIFY(changes > 0);
    }
};

QTEST_GUILESS_MAIN(TestPermissionController)
#include "tst_PermissionController.moc"
