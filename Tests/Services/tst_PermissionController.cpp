#include "Documents/DefaultsStore.h"
#include "Services/AppRelaunch.h"
#include "Services/PermissionController.h"

#include <QTest>

using Kind = PermissionKind;
using Fact = MicrophoneAuthorizationFact;

namespace {

// A desktop whose answers the test sets. Microphone checks wait until the test answers them.
struct FakeDesktop
{
    bool screenUsable = false;
    bool postEventUsable = false;
    std::optional<TaskPromise<bool>> heldScreenAnswer;
    QList<TaskPromise<Fact>> microphoneChecks;
    QList<QUrl> openablePages;
    QList<QUrl> opened;
    int screenRequests = 0;

    PermissionController::Effects effects()
    {
        PermissionController::Effects e;
        e.screenPreflight = [this] { return screenUsable; };
        e.screenRequest = [this]() -> Task<bool> {
            ++screenRequests;
            if (heldScreenAnswer)
                co_return co_await heldScreenAnswer->future();
            co_return screenUsable;
        };
        e.postEventPreflight = [this] { return postEventUsable; };
        e.postEventRequest = [this]() -> Task<bool> { co_return postEventUsable; };
        e.microphoneStatus = [this]() -> Task<Fact> {
            TaskPromise<Fact> answer;
            microphoneChecks << answer;
            co_return co_await answer.future();
        };
        e.microphoneRequest = []() -> Task<bool> { co_return false; };
        e.openSettings = [this](QUrl url) -> Task<bool> {
            opened << url;
            co_return openablePages.contains(url);
        };
        e.bringAppForward = [] {};
        return e;
    }

    void answerMicrophone(Fact fact)
    {
        QTRY_VERIFY(!microphoneChecks.isEmpty());
        microphoneChecks.takeFirst().resolve(fact);
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
        m_desktop.answerMicrophone(microphone);
        QTest::qVerify(QTest::qWaitFor([this] { return !m_controller->microphone().isBusy; }),
            "first microphone check", "", __FILE__, __LINE__);
        return *m_controller;
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

    // A request is one more look at the session: no prompt to wait for, no relaunch, no acceptance
    // the row cannot show.
    void requestSaysWhatTheCheckFound_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("usable");
        QTest::newRow("screen usable") << Kind::screenRecording << true;
        QTest::newRow("screen without X11") << Kind::screenRecording << false;
        QTest::newRow("scrolling without XTEST") << Kind::controlScrolling << false;
    }

    void requestSaysWhatTheCheckFound()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, usable);
        PermissionController &controller = make();
        const bool screen = kind == Kind::screenRecording;
        for (int attempt = 0; attempt < 2; ++attempt) {
            // Usable only once the request looks, as after starting an X session.
            (screen ? m_desktop.screenUsable : m_desktop.postEventUsable) = usable;
            if (screen) {
                finish(controller.requestScreenAccess());
            } else {
                Task<bool> request = controller.requestScrollingAccess();
                finish(request);
                QCOMPARE(request.result(), usable);
            }
            const PermissionController::RowState &row = controller.row(kind);
            QCOMPARE(
                row.presentation.status, usable ? PermissionStatus::allowed : PermissionStatus::notAllowed);
            QCOMPARE(row.feedback, PermissionFeedbackCopy::afterRequest(kind, row.presentation.status));
            QVERIFY(!row.feedback->text.contains("accepted"));
            QVERIFY(!row.presentation.mayNeedRelaunch);
            QVERIFY(!row.isBusy);
            if (usable)
                break;
        }
        QCOMPARE(m_defaults->boolean(screen ? PermissionController::screenCaptureRequestedKey
                                            : PermissionController::postEventRequestedKey),
            true);
        QCOMPARE(m_defaults->boolean(PermissionController::screenCaptureGrantedKey), screen && usable);
        QVERIFY(m_desktop.opened.isEmpty());
        QCOMPARE(controller.awaitingReturnFromSettings(), std::nullopt);
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
        const PermissionStatus before = controller.row(kind).presentation.status;

        controller.setWasInactive(wasInactive);
        m_desktop.screenUsable = m_desktop.postEventUsable = allowedThere;
        controller.refreshFromAppActivation();
        const PermissionStatus after = controller.row(kind).presentation.status;
        QCOMPARE(after, allowedThere ? PermissionStatus::allowed : before);
        QCOMPARE(controller.row(kind).feedback,
            PermissionFeedbackCopy::afterCheck(kind, before, after, wasInactive));
        QVERIFY(!controller.row(kind).presentation.mayNeedRelaunch);
        // Without leaving, the trip is not over: only the change is reported.
        QCOMPARE(controller.awaitingReturnFromSettings(), wasInactive ? std::nullopt : std::optional(kind));
        QVERIFY(!controller.wasInactive());
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
            QCOMPARE(row.presentation.status, PermissionStatus::notAllowed);
            QVERIFY(!row.presentation.mayNeedRelaunch);
            QVERIFY2(row.feedback->text.contains("X11"), qPrintable(row.feedback->text));
            QVERIFY(!row.feedback->text.contains("accepted"));
        }
        QVERIFY(!AppRelaunch::isPending());
        QVERIFY(!AppRelaunch::didSpawnOpen());
    }

    void freshControllerChecksTheMicrophoneOnce()
    {
        m_controller = std::make_unique<PermissionController>(m_defaults, m_desktop.effects(), true);
        const PermissionController::RowState &row = m_controller->microphone();
        QVERIFY(row.isBusy);
        QVERIFY(row.presentation.statusTitle != PermissionStatuses::title(PermissionStatus::unverified));
        // Busy while the first check runs: Check Again starts no second one.
        finish(m_controller->checkAgain(Kind::microphone));
        QCOMPARE(m_desktop.microphoneChecks.size(), 1);
        m_desktop.answerMicrophone(Fact::authorized);
        QTRY_VERIFY(!row.isBusy);
        QCOMPARE(row.presentation.status, PermissionStatus::allowed);
        QCOMPARE(row.presentation.statusTitle, PermissionStatuses::title(PermissionStatus::allowed));
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
        QCOMPARE(controller.microphone().presentation.status, PermissionStatus::notAllowed);
        Task<> check;
        if (activation) {
            controller.refreshFromAppActivation();
        } else {
            check = controller.checkAgain(Kind::microphone);
            QVERIFY(controller.microphone().isBusy);
            QCOMPARE(controller.microphone().feedback, PermissionFeedback::checking());
        }
        // Still waiting for the fresh answer: nothing is concluded from the old one.
        QTRY_COMPARE(m_desktop.microphoneChecks.size(), 1);
        QCOMPARE(controller.microphone().presentation.status, PermissionStatus::notAllowed);
        QVERIFY(controller.microphone().feedback
            != PermissionFeedbackCopy::afterCheck(
                Kind::microphone, PermissionStatus::notAllowed, PermissionStatus::notAllowed, false));
        m_desktop.answerMicrophone(Fact::authorized);
        if (check.isValid())
            finish(check);
        QTRY_COMPARE(controller.microphone().feedback,
            PermissionFeedbackCopy::afterCheck(
                Kind::microphone, PermissionStatus::notAllowed, PermissionStatus::allowed, false));
        QCOMPARE(controller.microphone().presentation.status, PermissionStatus::allowed);
        QVERIFY(!controller.microphone().isBusy);
        // The record-You switch reshapes the row at once, without another check.
        const QString detail = controller.microphone().presentation.detail;
        controller.setRecordYouEnabled(false);
        QVERIFY(controller.microphone().presentation.detail != detail);
        QVERIFY(m_desktop.microphoneChecks.isEmpty());
    }

    void busyRowTurnsASecondRequestAway()
    {
        PermissionController &controller = make();
        m_desktop.heldScreenAnswer.emplace();
        Task<> first = controller.requestScreenAccess();
        QTRY_VERIFY(controller.screen().isBusy);
        QCOMPARE(controller.screen().feedback, PermissionFeedback::checking());
        finish(controller.requestScreenAccess());
        finish(controller.checkAgain(Kind::screenRecording));
        QCOMPARE(m_desktop.screenRequests, 1);
        QVERIFY(!first.isFinished());
        m_desktop.heldScreenAnswer->resolve(false);
        finish(first);
        QVERIFY(!controller.screen().isBusy);
        QCOMPARE(m_desktop.screenRequests, 1);
    }

    void checkAgainOnlyWhereOffered()
    {
        PermissionController &controller = make();
        // Not usable: the row offers Request Access, not Check Again.
        finish(controller.checkAgain(Kind::screenRecording));
        QCOMPARE(controller.screen().feedback, std::nullopt);

        m_desktop.screenUsable = true;
        controller.refreshScreen();
        m_desktop.screenUsable = false;
        finish(controller.checkAgain(Kind::screenRecording));
        QCOMPARE(controller.screen().presentation.status, PermissionStatus::allowAgain);
        QCOMPARE(controller.screen().feedback,
            PermissionFeedbackCopy::afterCheck(
                Kind::screenRecording, PermissionStatus::allowed, PermissionStatus::allowAgain, false));
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
        // Remembered for the next process.
        QCOMPARE(make().systemAudio().presentation.status, PermissionStatus::allowed);

        finish(m_controller->openSettings(Kind::systemAudio));
        m_controller->setWasInactive(true);
        m_controller->refreshFromAppActivation();
        QCOMPARE(m_controller->systemAudio().feedback->text,
            QString("Returned from System Settings. Start a recording to confirm System Audio."));
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
};

QTEST_GUILESS_MAIN(TestPermissionController)
#include "tst_PermissionController.moc"
