#include "Documents/DefaultsStore.h"
#include "Services/AppRelaunch.h"
#include "Services/PermissionController.h"

#include <QTest>

using Kind = PermissionKind;
using Fact = MicrophoneAuthorizationFact;
using Status = PermissionStatus;

namespace {

// A desktop whose answers the test sets; screen requests and microphone checks wait for the test.
struct FakeDesktop
{
    bool screenUsable = false;
    bool postEventUsable = false;
    QList<TaskPromise<bool>> screenRequests;
    QList<TaskPromise<Fact>> microphoneChecks;
    QList<QUrl> unopenable;
    QList<QUrl> opened;

    template <typename T> static Task<T> held(QList<TaskPromise<T>> &queue)
    {
        TaskPromise<T> answer;
        queue << answer;
        co_return co_await answer.future();
    }

    PermissionController::Effects effects()
    {
        PermissionController::Effects e;
        e.screenPreflight = [this] { return screenUsable; };
        e.screenRequest = [this] { return held(screenRequests); };
        e.postEventPreflight = [this] { return postEventUsable; };
        e.postEventRequest = [this]() -> Task<bool> { co_return postEventUsable; };
        e.microphoneStatus = [this] { return held(microphoneChecks); };
        e.microphoneRequest = []() -> Task<bool> { co_return false; };
        e.openSettings = [this](QUrl url) -> Task<bool> {
            opened << url;
            co_return !unopenable.contains(url);
        };
        e.bringAppForward = [] {};
        return e;
    }

    template <typename T> static void answer(QList<TaskPromise<T>> &queue, T value)
    {
        QTRY_VERIFY(!queue.isEmpty());
        queue.takeFirst().resolve(value);
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
    std::unique_ptr<PermissionController> m_controller;

    PermissionController &make(Fact microphone = Fact::authorized)
    {
        m_controller = std::make_unique<PermissionController>(m_defaults, m_desktop.effects(), true);
        FakeDesktop::answer(m_desktop.microphoneChecks, microphone);
        QTest::qVerify(QTest::qWaitFor([this] { return !m_controller->microphone().isBusy; }),
            "first microphone check", "", __FILE__, __LINE__);
        return *m_controller;
    }

private slots:
    void init()
    {
        m_defaults = std::make_shared<InMemoryDefaultsStore>();
        m_desktop = FakeDesktop();
    }

    void cleanup() { m_controller.reset(); }

    // A request is one more look at the session: no prompt to wait for, no relaunch, no acceptance
    // the row cannot show. (Without X11 at all: liveSessionWithoutX11NeverRelaunches.)
    void requestSaysWhatTheCheckFound_data()
    {
        QTest::addColumn<bool>("usable");
        QTest::newRow("usable") << true;
        QTest::newRow("not usable") << false;
    }

    void requestSaysWhatTheCheckFound()
    {
        QFETCH(bool, usable);
        PermissionController &controller = make();
        Task<> request = controller.requestScreenAccess();
        QTRY_VERIFY(controller.screen().isBusy);
        QCOMPARE(controller.screen().feedback, PermissionFeedback::checking());
        // Busy: a second request is turned away; the row offers no Check Again while not usable.
        finish(controller.requestScreenAccess());
        finish(controller.checkAgain(Kind::screenRecording));
        QTRY_COMPARE(m_desktop.screenRequests.size(), 1);
        m_desktop.screenUsable = usable;
        FakeDesktop::answer(m_desktop.screenRequests, usable);
        finish(request);
        const PermissionController::RowState &row = controller.screen();
        QCOMPARE(row.presentation.status, usable ? Status::allowed : Status::notAllowed);
        QCOMPARE(row.feedback,
            PermissionFeedbackCopy::afterRequest(Kind::screenRecording, row.presentation.status));
        QVERIFY(!row.presentation.mayNeedRelaunch && !row.isBusy);
        QVERIFY(m_defaults->boolean(PermissionController::screenCaptureRequestedKey));
        QCOMPARE(m_defaults->boolean(PermissionController::screenCaptureGrantedKey), usable);
        QVERIFY(m_desktop.opened.isEmpty());
        QCOMPARE(controller.awaitingReturnFromSettings(), std::nullopt);
    }

    void liveSessionWithoutX11NeverRelaunches()
    {
        // No GUI application: Qt has no X11 connection, as in a Wayland-only session.
        PermissionController::Effects effects = PermissionController::Effects::live();
        effects.bringAppForward = [] {};
        PermissionController controller(m_defaults, effects, true);
        finish(controller.requestScreenAccess());
        controller.setWasInactive(true);
        controller.refreshFromAppActivation();
        finish(controller.requestScrollingAccess());
        for (Kind kind : { Kind::screenRecording, Kind::controlScrolling }) {
            const PermissionController::RowState &row = controller.row(kind);
            QCOMPARE(row.presentation.status, Status::notAllowed);
            QVERIFY(!row.presentation.mayNeedRelaunch);
            QVERIFY2(row.feedback->text.contains("X11"), qPrintable(row.feedback->text));
            QVERIFY(!row.feedback->text.contains("accepted"));
        }
        QVERIFY(!AppRelaunch::isPending() && !AppRelaunch::didSpawnOpen());
    }

    void returnFromSettings_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("allowedThere");
        QTest::addColumn<bool>("wasInactive");
        QTest::newRow("screen allowed there") << Kind::screenRecording << true << true;
        QTest::newRow("screen unchanged") << Kind::screenRecording << false << true;
        QTest::newRow("scrolling unchanged") << Kind::controlScrolling << false << true;
        QTest::newRow("activation without leaving first") << Kind::screenRecording << true << false;
    }

    void returnFromSettings()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, allowedThere);
        QFETCH(bool, wasInactive);
        PermissionController &controller = make();
        finish(controller.openSettings(kind));
        QCOMPARE(controller.row(kind).feedback, PermissionFeedbackCopy::settingsOpened(kind));
        const Status before = controller.row(kind).presentation.status;
        controller.setWasInactive(wasInactive);
        m_desktop.screenUsable = m_desktop.postEventUsable = allowedThere;
        controller.refreshFromAppActivation();
        const Status after = controller.row(kind).presentation.status;
        QCOMPARE(after, allowedThere ? Status::allowed : before);
        QCOMPARE(controller.row(kind).feedback,
            PermissionFeedbackCopy::afterCheck(kind, before, after, wasInactive));
        // Without leaving, the trip is not over: only the change is reported.
        QCOMPARE(controller.awaitingReturnFromSettings(), wasInactive ? std::nullopt : std::optional(kind));
        // A permission lost later is told on Check Again.
        m_desktop.screenUsable = m_desktop.postEventUsable = false;
        if (controller.row(kind).presentation.showsCheckAgain) {
            finish(controller.checkAgain(kind));
            QCOMPARE(controller.row(kind).feedback,
                PermissionFeedbackCopy::afterCheck(kind, Status::allowed, Status::allowAgain, false));
        }
    }

    void freshControllerChecksTheMicrophoneOnce()
    {
        m_controller = std::make_unique<PermissionController>(m_defaults, m_desktop.effects(), true);
        const PermissionController::RowState &row = m_controller->microphone();
        QVERIFY(row.isBusy);
        QVERIFY(row.presentation.statusTitle != PermissionStatuses::title(Status::unverified));
        // Busy while the first check runs: Check Again starts no second one. An activation meanwhile
        // has no earlier answer to report a change from.
        finish(m_controller->checkAgain(Kind::microphone));
        m_controller->refreshFromAppActivation();
        QTRY_COMPARE(m_desktop.microphoneChecks.size(), 2);
        for (int check = 0; check < 2; ++check)
            FakeDesktop::answer(m_desktop.microphoneChecks, Fact::authorized);
        QTRY_VERIFY(!row.isBusy && m_desktop.microphoneChecks.isEmpty());
        QCOMPARE(row.presentation.status, Status::allowed);
        QCOMPARE(row.presentation.statusTitle, PermissionStatuses::title(Status::allowed));
        QCOMPARE(row.feedback, std::nullopt);
    }

    // The message is composed from a check that started after the user acted, never from the answer
    // before it (a microphone connected a moment ago was reported "still not allowed").
    void microphoneMessagesFollowAFreshCheck_data()
    {
        QTest::addColumn<bool>("activation");
        QTest::newRow("Check Again") << false;
        QTest::newRow("returning to the app") << true;
    }

    void microphoneMessagesFollowAFreshCheck()
    {
        QFETCH(bool, activation);
        PermissionController &controller = make(Fact::denied);
        QCOMPARE(controller.microphone().presentation.status, Status::notAllowed);
        if (activation)
            controller.refreshFromAppActivation();
        else
            controller.checkAgain(Kind::microphone);
        QCOMPARE(controller.microphone().isBusy, !activation);
        // Still waiting for the fresh answer: nothing is concluded from the old one.
        QTRY_COMPARE(m_desktop.microphoneChecks.size(), 1);
        QCOMPARE(controller.microphone().feedback,
            activation ? std::nullopt : std::optional(PermissionFeedback::checking()));
        FakeDesktop::answer(m_desktop.microphoneChecks, Fact::authorized);
        QTRY_COMPARE(controller.microphone().feedback,
            PermissionFeedbackCopy::afterCheck(Kind::microphone, Status::notAllowed, Status::allowed, false));
        QCOMPARE(controller.microphone().presentation.status, Status::allowed);
        QVERIFY(!controller.microphone().isBusy);
        // The record-You switch reshapes the row at once, without another check.
        const QString detail = controller.microphone().presentation.detail;
        controller.setRecordYouEnabled(false);
        QVERIFY(controller.microphone().presentation.detail != detail);
        QVERIFY(m_desktop.microphoneChecks.isEmpty());
    }

    void systemAudioOutcomes()
    {
        PermissionController &controller = make();
        QCOMPARE(controller.systemAudio().presentation.status, Status::notRequested);
        controller.recordSystemAudioStartFailed();
        QCOMPARE(controller.systemAudio().presentation.status, Status::unverified);
        QCOMPARE(controller.systemAudio().feedback, PermissionFeedbackCopy::systemAudioStartFailed());
        controller.recordSystemAudioStartSucceeded();
        // Remembered for the next process.
        QCOMPARE(make().systemAudio().presentation.status, Status::allowed);
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
        m_desktop.unopenable = { PermissionController::microphoneSettingsURL() };
        if (!fallbackOpens)
            m_desktop.unopenable << PermissionController::microphoneSettingsFallbackURL();
        PermissionController &controller = make();
        finish(controller.openSettings(Kind::microphone));
        QCOMPARE(m_desktop.opened,
            QList<QUrl>({ PermissionController::microphoneSettingsURL(),
                PermissionController::microphoneSettingsFallbackURL() }));
        QCOMPARE(controller.microphone().feedback,
            fallbackOpens ? PermissionFeedbackCopy::settingsOpened(Kind::microphone)
                          : PermissionFeedback::settingsOpenFailed());
        QCOMPARE(controller.awaitingReturnFromSettings(),
            fallbackOpens ? std::optional(Kind::microphone) : std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestPermissionController)
#include "tst_PermissionController.moc"
