#include "Documents/DefaultsStore.h"
#include "Services/PermissionController.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Kind = PermissionKind;
using Fact = MicrophoneAuthorizationFact;
using Status = PermissionStatus;
using Controller = PermissionController;

namespace {

enum class WatchEnd { granted, deadline, cancelled, replaced, controllerGone };

const PermissionFeedback allowedScrolling { QStringLiteral("Control Scrolling is allowed"),
    PermissionFeedbackTone::success };

// A desktop set by the test that counts what it is asked; screen requests and microphone checks wait.
struct FakeDesktop
{
    bool recheckOnly = false;
    bool screenUsable = false;
    bool postEventUsable = false;
    bool trusted = false;
    bool postEventAnswer = false;
    bool usableAfterPostEventPrompt = false;
    QList<TaskPromise<bool>> screenRequests;
    QList<TaskPromise<Fact>> microphoneChecks;
    QList<QUrl> unopenable;
    QList<QUrl> opened;
    int postEventRequests = 0;
    int postEventChecks = 0;
    int forwards = 0;
    int relaunches = 0;

    template <typename T> static Task<T> held(QList<TaskPromise<T>> &queue)
    {
        TaskPromise<T> answer;
        queue << answer;
        co_return co_await answer.future();
    }

    Controller::Effects effects()
    {
        Controller::Effects e;
        e.screenPreflight = [this] { return screenUsable; };
        e.screenRequest = [this] { return held(screenRequests); };
        e.postEventPreflight = [this] { return ++postEventChecks, postEventUsable; };
        e.postEventRequest = [this]() -> Task<bool> {
            ++postEventRequests;
            postEventUsable = postEventUsable || usableAfterPostEventPrompt;
            co_return postEventAnswer;
        };
        e.microphoneStatus = [this] { return held(microphoneChecks); };
        e.microphoneRequest = []() -> Task<bool> { co_return false; };
        e.openSettings = [this](QUrl url) -> Task<bool> {
            opened << url;
            co_return !unopenable.contains(url);
        };
        e.bringAppForward = [this] { ++forwards; };
        e.relaunchApp = [this] { ++relaunches; };
        e.accessibilityTrusted = [this] { return trusted; };
        e.requestsOnlyRecheck = recheckOnly;
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
    QTRY_VERIFY(task.isFinished());
    QVERIFY(!task.finishedWithError());
}

} // namespace

class TestPermissionController : public QObject
{
    Q_OBJECT

    std::shared_ptr<InMemoryDefaultsStore> m_defaults;
    FakeDesktop m_desktop;
    ManualTaskClock m_clock;
    std::unique_ptr<Controller> m_controller;

    Controller &make(Fact microphone = Fact::authorized)
    {
        m_controller = std::make_unique<Controller>(m_defaults, m_desktop.effects(), true, m_clock);
        FakeDesktop::answer(m_desktop.microphoneChecks, microphone);
        QTest::qVerify(
            QTest::qWaitFor([this] { return !m_controller->microphone().isBusy; }, TestSupport::patienceMs),
            "first microphone check", "", __FILE__, __LINE__);
        return *m_controller;
    }

    // Lets the watch take `polls` steps of the manual clock, each one run before the next.
    void advancePolls(int polls)
    {
        for (int i = 0; i < polls; ++i) {
            QVERIFY(TestSupport::runPostedHops(1));
            m_clock.advance(Controller::pollInterval);
            QVERIFY(TestSupport::runPostedHops(1));
        }
    }

private slots:
    void init()
    {
        m_defaults = std::make_shared<InMemoryDefaultsStore>();
        m_desktop = FakeDesktop();
    }

    void cleanup() { m_controller.reset(); }

    // A prompt that the process cannot use yet ends in a relaunch, at once after a yes or on the
    // return after a no; a re-check (X11) never does and says what it found, whatever it answered.
    void screenRequest_data()
    {
        QTest::addColumn<bool>("recheck");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<Status>("status");
        QTest::addColumn<int>("relaunches");
        QTest::newRow("re-check finds access") << true << true << Status::allowed << 0;
        QTest::newRow("re-check finds none") << true << false << Status::notAllowed << 0;
        QTest::newRow("re-check passes, the next look fails") << true << true << Status::allowAgain << 0;
        QTest::newRow("prompt: yes, usable") << false << true << Status::allowed << 0;
        QTest::newRow("prompt: yes, not usable before a relaunch")
            << false << true << Status::allowAgain << 1;
        QTest::newRow("prompt: no, then the settings") << false << false << Status::notAllowed << 1;
    }

    void screenRequest()
    {
        QFETCH(bool, recheck);
        QFETCH(bool, answer);
        QFETCH(Status, status);
        QFETCH(int, relaunches);
        const bool usable = status == Status::allowed;
        m_desktop.recheckOnly = recheck;
        Controller &controller = make();
        Task<> request = controller.requestScreenAccess();
        QTRY_VERIFY(controller.screen().isBusy);
        QCOMPARE(controller.screen().feedback, PermissionFeedback::checking());
        // Busy: a second request is turned away; the row offers no Check Again while not usable.
        finish(controller.requestScreenAccess());
        finish(controller.checkAgain(Kind::screenRecording));
        QTRY_COMPARE(m_desktop.screenRequests.size(), 1);
        m_desktop.screenUsable = usable;
        FakeDesktop::answer(m_desktop.screenRequests, answer);
        finish(request);

        const Controller::RowState &row = controller.screen();
        QCOMPARE(row.presentation.status, status);
        QCOMPARE(row.presentation.mayNeedRelaunch, !recheck && !usable);
        QVERIFY(!row.isBusy && m_defaults->boolean(Controller::screenCaptureRequestedKey));
        QCOMPARE(m_defaults->boolean(Controller::screenCaptureGrantedKey), answer || usable);
        const bool waitsForPrompt = !recheck && !answer;
        QCOMPARE(row.feedback,
            waitsForPrompt ? PermissionFeedbackCopy::screenPromptVisible()
                           : PermissionFeedbackCopy::afterRequest(
                               Kind::screenRecording, row.presentation.status, answer && !recheck));
        QCOMPARE(controller.awaitingReturnFromSettings(),
            waitsForPrompt ? std::optional(Kind::screenRecording) : std::nullopt);
        if (waitsForPrompt) {
            // Asked once in this process: the next request opens the settings instead.
            Task<> again = controller.requestScreenAccess();
            FakeDesktop::answer(m_desktop.screenRequests, false);
            finish(again);
            QCOMPARE(m_desktop.opened, QList<QUrl>({ Controller::screenRecordingSettingsURL() }));
            QCOMPARE(
                controller.screen().feedback, PermissionFeedbackCopy::settingsOpened(Kind::screenRecording));
        }
        controller.setWasInactive(true);
        controller.refreshFromAppActivation();
        QCOMPARE(m_desktop.relaunches, relaunches);
        QCOMPARE(row.presentation.statusTitle == QStringLiteral("Restart required"), relaunches > 0);
    }

    void returnFromSettings_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("allowedThere");
        QTest::addColumn<bool>("wasInactive");
        QTest::newRow("screen allowed there") << Kind::screenRecording << false << true << true;
        QTest::newRow("activation without leaving first") << Kind::screenRecording << false << true << false;
        QTest::newRow("scrolling unchanged") << Kind::controlScrolling << false << false << true;
        QTest::newRow("scrolling trusted, not usable: relaunch")
            << Kind::controlScrolling << true << false << true;
    }

    void returnFromSettings()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, trusted);
        QFETCH(bool, allowedThere);
        QFETCH(bool, wasInactive);
        Controller &controller = make();
        finish(controller.openSettings(kind));
        const Status before = controller.row(kind).presentation.status;
        controller.setWasInactive(wasInactive);
        m_desktop.screenUsable = m_desktop.postEventUsable = allowedThere;
        m_desktop.trusted = trusted;
        controller.refreshFromAppActivation();

        const Controller::RowState &row = controller.row(kind);
        QCOMPARE(row.presentation.status, allowedThere ? Status::allowed : before);
        QCOMPARE(m_desktop.relaunches, int(trusted));
        QCOMPARE(row.feedback,
            trusted ? PermissionFeedbackCopy::controlScrollingNeedsRelaunch()
                    : PermissionFeedbackCopy::afterCheck(kind, before, row.presentation.status, wasInactive));
        // Without leaving, the trip is not over: only the change is reported.
        QCOMPARE(controller.awaitingReturnFromSettings(), wasInactive ? std::nullopt : std::optional(kind));
        // A permission lost later is told on Check Again.
        m_desktop.screenUsable = m_desktop.postEventUsable = false;
        if (row.presentation.showsCheckAgain) {
            finish(controller.checkAgain(kind));
            QCOMPARE(row.feedback,
                PermissionFeedbackCopy::afterCheck(kind, Status::allowed, Status::allowAgain, false));
        }
    }

    // At most one automatic relaunch until Control Scrolling works; the next process says a restart
    // is still required instead of relaunching again.
    void scrollingRequest_data()
    {
        QTest::addColumn<bool>("recheck");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<bool>("relaunchedBefore");
        QTest::addColumn<int>("relaunches");
        QTest::addColumn<QString>("statusTitle");
        const QString notAllowed = PermissionStatuses::title(Status::notAllowed);
        QTest::newRow("allowed at once")
            << false << false << true << true << true << 0 << PermissionStatuses::title(Status::allowed);
        QTest::newRow("accepted, not usable before a relaunch")
            << false << false << true << false << false << 1 << "Restart required";
        QTest::newRow("accepted, relaunched once already")
            << false << false << true << false << true << 0 << notAllowed;
        QTest::newRow("trusted, not usable")
            << false << true << false << false << false << 1 << "Restart required";
        QTest::newRow("trusted, the relaunched process still cannot")
            << false << true << false << false << true << 0 << "Restart still required";
        QTest::newRow("declined: the grant watch runs")
            << false << false << false << false << false << 0 << notAllowed;
        QTest::newRow("re-check finds none") << true << false << true << false << false << 0 << notAllowed;
    }

    void scrollingRequest()
    {
        QFETCH(bool, recheck);
        QFETCH(bool, trusted);
        QFETCH(bool, answer);
        QFETCH(bool, usable);
        QFETCH(bool, relaunchedBefore);
        QFETCH(int, relaunches);
        m_desktop.recheckOnly = recheck;
        m_desktop.trusted = trusted;
        m_desktop.postEventAnswer = answer;
        m_desktop.usableAfterPostEventPrompt = usable;
        m_defaults->setBoolean(Controller::postEventRelaunchAttemptedKey, relaunchedBefore);
        Controller &controller = make();
        Task<bool> request = controller.requestScrollingAccess();
        finish(request);

        const Controller::RowState &row = controller.scrolling();
        const bool declined = !recheck && !trusted && !answer;
        QCOMPARE(request.result(), usable);
        QCOMPARE(m_desktop.postEventRequests, trusted ? 0 : 1);
        QCOMPARE(controller.isRelaunching(), relaunches > 0);
        QCOMPARE(controller.isWatchingForScrollingGrant(), declined);
        QCOMPARE(controller.awaitingReturnFromSettings(),
            declined ? std::optional(Kind::controlScrolling) : std::nullopt);
        QCOMPARE(m_defaults->boolean(Controller::postEventRelaunchAttemptedKey),
            relaunches > 0 || (relaunchedBefore && !usable));
        QCOMPARE(m_defaults->boolean(Controller::resumeScrollingCaptureAfterRelaunchKey), relaunches > 0);
        const Status status = row.presentation.status;
        QCOMPARE(row.feedback,
            usable           ? allowedScrolling
                : relaunches ? PermissionFeedbackCopy::controlScrollingNeedsRelaunch()
                : declined   ? PermissionFeedbackCopy::scrollingPromptVisible()
                : recheck
                ? PermissionFeedbackCopy::afterRequest(Kind::controlScrolling, status, false)
                : PermissionFeedbackCopy::afterCheck(Kind::controlScrolling, status, status, false));
        QCOMPARE(m_desktop.forwards, recheck || trusted ? 0 : usable ? 2 : 1);

        // A second request in the same process prompts no more, and never relaunches twice.
        finish(controller.requestScrollingAccess());
        QCOMPARE(m_desktop.postEventRequests, trusted ? 0 : recheck ? 2 : 1);
        QCOMPARE(m_desktop.relaunches, relaunches);
        QTEST(row.presentation.statusTitle, "statusTitle");
        // Working at last frees the one relaunch for a later loss, except in the process leaving.
        m_desktop.postEventUsable = true;
        controller.refreshScrolling();
        QCOMPARE(m_defaults->boolean(Controller::postEventRelaunchAttemptedKey), relaunches > 0);
        QVERIFY(!controller.isWatchingForScrollingGrant());
    }

    void grantWatch_data()
    {
        QTest::addColumn<WatchEnd>("end");
        QTest::addColumn<int>("polls");
        QTest::addColumn<int>("checks");
        QTest::newRow("granted on the first poll") << WatchEnd::granted << 1 << 1;
        QTest::newRow("granted after 9 polls") << WatchEnd::granted << 9 << 9;
        // 120 s in 0.25 s steps.
        QTest::newRow("gives up at the deadline") << WatchEnd::deadline << 480 << 480;
        // Two polls, then the cancel's own refresh.
        QTest::newRow("cancelled") << WatchEnd::cancelled << 3 << 3;
        // The new request's watch outlives the cancelled one: two polls, two refreshes, two polls.
        QTest::newRow("replaced") << WatchEnd::replaced << 3 << 6;
        QTest::newRow("its controller is gone") << WatchEnd::controllerGone << 3 << 2;
    }

    void grantWatch()
    {
        QFETCH(WatchEnd, end);
        QFETCH(int, polls);
        QFETCH(int, checks);
        m_defaults->setBoolean(Controller::resumeScrollingCaptureAfterRelaunchKey, true);
        Controller &controller = make();
        finish(controller.requestScrollingAccess()); // the prompt answered no
        const int checksBefore = m_desktop.postEventChecks;
        advancePolls(polls - 1);
        QVERIFY(controller.isWatchingForScrollingGrant());
        if (end == WatchEnd::replaced) {
            // Asked again before the cancelled watch has wound down.
            Task<bool> again = controller.requestScrollingAccess();
            controller.cancelScrollingPermissionWait();
            finish(again);
        } else if (end == WatchEnd::cancelled) {
            controller.cancelScrollingPermissionWait();
        } else if (end == WatchEnd::controllerGone) {
            m_controller.reset();
        }
        m_desktop.postEventUsable = end == WatchEnd::granted || end == WatchEnd::controllerGone;
        advancePolls(2);
        QCOMPARE(m_desktop.postEventChecks - checksBefore, checks);
        QCOMPARE(m_clock.pendingTimers(), int(end == WatchEnd::replaced));
        QCOMPARE(m_desktop.forwards, end == WatchEnd::granted ? 2 : 1);
        if (end == WatchEnd::controllerGone)
            return;
        QCOMPARE(controller.isWatchingForScrollingGrant(), end == WatchEnd::replaced);
        QCOMPARE(controller.scrolling().feedback,
            end == WatchEnd::granted ? allowedScrolling : PermissionFeedbackCopy::scrollingPromptVisible());
        // At the deadline the row and the wait are left as they were.
        QCOMPARE(controller.awaitingReturnFromSettings(),
            end == WatchEnd::deadline ? std::optional(Kind::controlScrolling) : std::nullopt);
        QCOMPARE(m_defaults->boolean(Controller::resumeScrollingCaptureAfterRelaunchKey),
            end != WatchEnd::cancelled && end != WatchEnd::replaced);
    }

    // Open Settings is offered only where a settings page can change what the check finds (the sound
    // settings) and a tool for that page is installed; the live answer comes from the programs on PATH.
    void openSettingsOnlyWhereAPageHelps_data()
    {
        QTest::addColumn<QStringList>("tools");
        QTest::addColumn<QList<Kind>>("offered");
        QTest::newRow("no settings tool") << QStringList() << QList<Kind>();
        QTest::newRow("a sound mixer")
            << QStringList { "pavucontrol" } << QList<Kind> { Kind::systemAudio, Kind::microphone };
        QTest::newRow("accessibility settings only")
            << QStringList { "xfce4-accessibility-settings" } << QList<Kind>();
    }

    void openSettingsOnlyWhereAPageHelps()
    {
        QFETCH(QStringList, tools);
        QFETCH(QList<Kind>, offered);
        QTemporaryDir bin;
        for (const QString &tool : tools) {
            QFile program(bin.filePath(tool));
            QVERIFY(program.open(QIODevice::WriteOnly));
            program.write("#!/bin/sh\nexit 0\n");
            program.close();
            QVERIFY(program.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit());
        m_desktop.screenUsable = false;
        Controller::Effects effects = m_desktop.effects();
        effects.settingsPageAvailable = Controller::Effects::live().settingsPageAvailable;
        m_controller = std::make_unique<Controller>(m_defaults, effects, true, m_clock);
        FakeDesktop::answer(m_desktop.microphoneChecks, Fact::denied);
        QTRY_VERIFY(!m_controller->microphone().isBusy);
        // Later presentations (a re-check, a failed start) keep to the same rule.
        m_controller->recordSystemAudioStartFailed();
        const Task<> again = m_controller->checkAgain(Kind::microphone);
        FakeDesktop::answer(m_desktop.microphoneChecks, Fact::denied);
        finish(again);
        qputenv("PATH", path);
        for (const Kind kind : PermissionKinds::allCases)
            QCOMPARE(m_controller->row(kind).presentation.showsOpenSettings, offered.contains(kind));
    }

    void liveSessionWithoutX11NeverRelaunches()
    {
        // No GUI application: Qt has no X11 connection, as in a Wayland-only session.
        Controller::Effects effects = Controller::Effects::live();
        effects.bringAppForward = [] {};
        effects.relaunchApp = [this] { ++m_desktop.relaunches; };
        effects.openSettings = [](QUrl) -> Task<bool> { co_return true; }; // no settings tool here
        Controller controller(m_defaults, effects, true, m_clock);
        // Two requests each (after a prompt the second one would open the settings), then a trip there.
        for (int request = 0; request < 4; ++request) {
            const Kind kind = request < 2 ? Kind::screenRecording : Kind::controlScrolling;
            kind == Kind::screenRecording ? finish(controller.requestScreenAccess())
                                          : finish(controller.requestScrollingAccess());
            QVERIFY(controller.row(kind).feedback->text.contains("X11"));
            QCOMPARE(controller.awaitingReturnFromSettings(), std::nullopt);
            if (request % 2 == 0)
                continue;
            finish(controller.openSettings(kind));
            controller.setWasInactive(true);
            controller.refreshFromAppActivation();
            QVERIFY(!controller.row(kind).presentation.mayNeedRelaunch);
            QVERIFY(!controller.row(kind).feedback->text.contains("accepted"));
        }
        QCOMPARE(m_desktop.relaunches, 0);
        QVERIFY(!controller.isRelaunching() && !controller.isWatchingForScrollingGrant());
    }

    void freshControllerChecksTheMicrophoneOnce()
    {
        m_controller = std::make_unique<Controller>(m_defaults, m_desktop.effects(), true, m_clock);
        const Controller::RowState &row = m_controller->microphone();
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
        Controller &controller = make(Fact::denied);
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
        Controller &controller = make();
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
        m_desktop.unopenable = { Controller::microphoneSettingsURL() };
        if (!fallbackOpens)
            m_desktop.unopenable << Controller::microphoneSettingsFallbackURL();
        Controller &controller = make();
        finish(controller.openSettings(Kind::microphone));
        QCOMPARE(m_desktop.opened.last(), Controller::microphoneSettingsFallbackURL());
        QCOMPARE(controller.microphone().feedback,
            fallbackOpens ? PermissionFeedbackCopy::settingsOpened(Kind::microphone)
                          : PermissionFeedback::settingsOpenFailed());
        QCOMPARE(controller.awaitingReturnFromSettings(),
            fallbackOpens ? std::optional(Kind::microphone) : std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestPermissionController)
#include "tst_PermissionController.moc"
