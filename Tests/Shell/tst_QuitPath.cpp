#include "ModelHarness.h"
#include "Services/AppRelaunch.h"
#include "Shell/DovrinApp.h"
#include "Shell/DovrinAppDelegate.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <csignal>

// How the quit is asked for in a row.
enum class Ask { quitEvent, sigterm, sigint, sighup, sigquit, ctrlQ, sessionManager };
// The gate's answer in a row.
enum class Gate { agree, refuse, fail };

class TestQuitPath : public QObject
{
    Q_OBJECT

private slots:
    void theGateRunsOnceAndDecides_data()
    {
        QTest::addColumn<Ask>("ask");
        QTest::addColumn<Gate>("gate");
        QTest::addColumn<bool>("relaunchPending");
        // Whether the gate has something open to finish.
        QTest::addColumn<bool>("openWork");
        QTest::newRow("refusing gate keeps the app") << Ask::quitEvent << Gate::refuse << false << true;
        QTest::newRow("agreeing gate ends it") << Ask::quitEvent << Gate::agree << false << true;
        QTest::newRow("SIGTERM passes the gate") << Ask::sigterm << Gate::agree << false << true;
        QTest::newRow("SIGINT refused: ends all the same") << Ask::sigint << Gate::refuse << false << true;
        QTest::newRow("SIGHUP passes the gate") << Ask::sighup << Gate::agree << false << true;
        QTest::newRow("SIGQUIT refused: ends all the same") << Ask::sigquit << Gate::refuse << false << true;
        QTest::newRow("SIGTERM, failing gate: ends all the same")
            << Ask::sigterm << Gate::fail << false << true;
        QTest::newRow("Ctrl+Q in a window") << Ask::ctrlQ << Gate::agree << false << true;
        QTest::newRow("failing gate refuses") << Ask::quitEvent << Gate::fail << false << true;
        QTest::newRow("relaunch, gate refuses: cancelled") << Ask::quitEvent << Gate::refuse << true << true;
        QTest::newRow("relaunch, gate agrees: committed") << Ask::sigterm << Gate::agree << true << true;
        QTest::newRow("session manager, work open, refused: the session waits")
            << Ask::sessionManager << Gate::refuse << false << true;
        QTest::newRow("session manager, work open, agreed: quits by itself")
            << Ask::sessionManager << Gate::agree << true << true;
        QTest::newRow("session manager, nothing open: the session ends")
            << Ask::sessionManager << Gate::agree << false << false;
    }

    void theGateRunsOnceAndDecides()
    {
        QFETCH(Ask, ask);
        QFETCH(Gate, gate);
        QFETCH(bool, relaunchPending);
        QFETCH(bool, openWork);
        DovrinAppDelegate delegate(QApplication::arguments());
        delegate.install();
        delegate.setOpenWork([openWork] { return openWork; });
        int runs = 0;
        int terminations = 0;
        std::optional<TaskPromise<bool>> answer;
        auto settle = [&] {
            if (gate == Gate::fail)
                answer->reject(std::make_exception_ptr(std::runtime_error("draft not written")));
            else
                answer->resolve(gate == Gate::agree);
        };
        delegate.setPrepareForTermination([&]() -> Task<bool> {
            ++runs;
            answer.emplace();
            // The session manager has its answer already; the gate answers later.
            if (ask == Ask::sessionManager && runs == 1)
                QTimer::singleShot(0, this, settle);
            co_return co_await answer->future();
        });
        delegate.setTerminateEffect([&] { ++terminations; });
        // Spawned already, so neither commit nor cancel starts or stops a real process.
        AppRelaunch::setPendingBundleURL(
            relaunchPending ? std::optional(AppRelaunch::Bundle { "/bin/true", {}, {} }) : std::nullopt);
        AppRelaunch::setDidSpawnOpen(relaunchPending);

        QWidget window;
        auto askToQuit = [ask, &window] {
            QEvent quit(QEvent::Quit);
            switch (ask) {
            case Ask::quitEvent:
            case Ask::sessionManager:
                QCoreApplication::sendEvent(qApp, &quit);
                break;
            case Ask::sigterm:
                ::raise(SIGTERM);
                break;
            case Ask::sigint:
                ::raise(SIGINT);
                break;
            case Ask::sighup:
                ::raise(SIGHUP);
                break;
            case Ask::sigquit:
                ::raise(SIGQUIT);
                break;
            case Ask::ctrlQ:
                QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
                break;
            }
        };
        if (ask == Ask::sessionManager) {
            // Answered at once, never after running the event loop inside the request.
            QCOMPARE(delegate.answerSessionEnd(), !openWork);
            QCOMPARE(runs, 0);
            QVERIFY(delegate.isTerminationPending());
            QTRY_VERIFY(!delegate.isTerminationPending());
        } else {
            askToQuit();
            QTRY_COMPARE(runs, 1);
            askToQuit(); // a second request joins the first
            settle();
            QTRY_VERIFY(!delegate.isTerminationPending());
        }
        // A signal is not a question: the gate keeps what it can, and its answer does not decide.
        const bool signal
            = ask == Ask::sigterm || ask == Ask::sigint || ask == Ask::sighup || ask == Ask::sigquit;
        const bool ends = gate == Gate::agree || signal;
        QCOMPARE(runs, 1);
        QCOMPARE(terminations, ends ? 1 : 0);
        QVERIFY(!AppRelaunch::isPending());
        if (!ends) {
            // A refused quit is over: the next request asks the gate again.
            askToQuit();
            QTRY_COMPARE(runs, 2);
            answer->resolve(true);
            QTRY_COMPARE(terminations, 1);
        }
    }

    // A gate that does not answer: a signal ends the program at the limit all the same, a quit
    // asked for in the program waits for the answer.
    void aSignalEndsWithinTheLimit_data()
    {
        QTest::addColumn<Ask>("ask");
        QTest::newRow("SIGTERM") << Ask::sigterm;
        QTest::newRow("SIGHUP") << Ask::sighup;
        QTest::newRow("Quit") << Ask::quitEvent;
    }

    void aSignalEndsWithinTheLimit()
    {
        QFETCH(Ask, ask);
        ManualTaskClock clock;
        DovrinAppDelegate delegate(QApplication::arguments());
        delegate.setClock(clock);
        delegate.install();
        int runs = 0;
        int terminations = 0;
        TaskPromise<bool> answer;
        delegate.setPrepareForTermination([&]() -> Task<bool> {
            ++runs;
            co_return co_await answer.future();
        });
        delegate.setTerminateEffect([&] { ++terminations; });
        const bool signal = ask != Ask::quitEvent;
        if (signal) {
            ::raise(ask == Ask::sigterm ? SIGTERM : SIGHUP);
        } else {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(qApp, &quit);
        }
        QTRY_COMPARE(runs, 1);
        clock.advance(DovrinAppDelegate::signalEndLimit - std::chrono::milliseconds(100));
        QCOMPARE(terminations, 0);
        clock.advance(std::chrono::milliseconds(100));
        QCOMPARE(terminations, signal ? 1 : 0);
        // The answer that comes after all ends nothing twice.
        answer.resolve(true);
        QTRY_VERIFY(!delegate.isTerminationPending());
        QCOMPARE(terminations, 1);
        QCOMPARE(runs, 1);
    }

    void theModelIsTheGate_data()
    {
        QTest::addColumn<bool>("draftStuck");
        QTest::addColumn<Ask>("ask");
        QTest::newRow("an open review kept in its draft: quit") << false << Ask::sigterm;
        QTest::newRow("its draft cannot be written: stay") << true << Ask::quitEvent;
        QTest::newRow("its draft cannot be written, SIGTERM: ends all the same") << true << Ask::sigterm;
    }

    void theModelIsTheGate()
    {
        QFETCH(bool, draftStuck);
        QFETCH(Ask, ask);
        ModelHarness h;
        AppSettings settings;
        settings.setupComplete = true;
        h.setSettings(settings);
        h.storeDraft();
        h.make();
        QVERIFY(ModelHarness::finish(h.model->startDraftStoreIfNeeded()));
        QVERIFY(ModelHarness::finish(h.model->resumePendingDraft()));
        if (draftStuck)
            h.breakDraftFile();
        DovrinApp app({ QApplication::arguments(), std::move(h.model), std::nullopt, {},
            std::make_shared<InMemoryDefaultsStore>(), [] { return true; } });
        int terminations = 0;
        app.delegate().setTerminateEffect([&] { ++terminations; });
        app.delegate().install();
        if (ask == Ask::sigterm) {
            ::raise(SIGTERM);
        } else {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(qApp, &quit);
        }
        // The model's gate answers, and hands its answer to the relaunch as well.
        QTRY_COMPARE(h.relaunchCommits + h.relaunchCancels, 1);
        QTRY_VERIFY(!app.delegate().isTerminationPending());
        QCOMPARE(terminations, draftStuck && ask != Ask::sigterm ? 0 : 1);
        QCOMPARE(h.relaunchCancels, draftStuck ? 1 : 0);
    }
};

QTEST_MAIN(TestQuitPath)
#include "tst_QuitPath.moc"
