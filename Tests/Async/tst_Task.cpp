#include "Async/Task.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QtConcurrent>

#include <thread>

using namespace std::chrono_literals;

namespace {

// A flow with an explicit generation check after its one wait, as the model's flows do.
class Model : public QObject
{
public:
    int generation = 0;
    QString published;
    std::vector<QString> log;
    TaskClock *clock = &TaskClock::system();

    Task<> start(QString label, std::chrono::milliseconds delay)
    {
        const int mine = ++generation;
        return run(label, delay, mine);
    }

    Task<> run(QString label, std::chrono::milliseconds delay, int mine)
    {
        log.push_back(label + ":begin");
        co_await sleepFor(*clock, delay);
        if (mine != generation) {
            log.push_back(label + ":stale");
            co_return;
        }
        published = label;
        log.push_back(label + ":published");
    }

    Task<int> answerAfter(int value, TaskPromise<int> gate)
    {
        const int extra = co_await gate.future();
        co_return value + extra;
    }
};

struct Tracker
{
    static inline int alive = 0;
    Tracker() { ++alive; }
    Tracker(const Tracker &) { ++alive; }
    ~Tracker() { --alive; }
};

} // namespace

class TestTask : public QObject
{
    Q_OBJECT

private slots:
    void bodyStartsOnNextTurnNotInline()
    {
        QObject owner;
        bool started = false;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            started = true;
            co_return;
        });
        QVERIFY(!started);
        QTRY_VERIFY(task.isFinished());
        QVERIFY(started);
    }

    void resumptionIsPostedNotRunInsideTheCallback()
    {
        QObject owner;
        TaskPromise<int> promise;
        bool resumed = false;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            co_await promise.future();
            resumed = true;
        });
        QTest::qWait(1);
        QVERIFY(promise.resolve(5));
        // Settling the promise only queued the resumption.
        QVERIFY(!resumed);
        QTRY_VERIFY(resumed);
        QVERIFY(!promise.resolve(6));
    }

    void staleResultAfterSecondStartIsDropped()
    {
        Model model;
        ManualTaskClock clock;
        model.clock = &clock;
        Task<> first = model.start("first", 200ms);
        QTest::qWait(1);
        Task<> second = model.start("second", 100ms);
        QTest::qWait(1);
        clock.advance(150ms);
        QTRY_VERIFY(second.isFinished());
        QCOMPARE(model.published, QString("second"));
        clock.advance(100ms);
        QTRY_VERIFY(first.isFinished());
        QCOMPARE(model.published, QString("second"));
        QCOMPARE(model.log.back(), QString("first:stale"));
    }

    void cancelWakesAPendingSleepAtOnce()
    {
        QObject owner;
        ManualTaskClock clock;
        bool sleptFully = true;
        bool threw = false;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            sleptFully = co_await sleepFor(clock, 120s);
            try {
                CurrentTask::checkCancelled();
            } catch (const TaskCancelled &) {
                threw = true;
                throw;
            }
        });
        QTRY_COMPARE(clock.pendingTimers(), 1);
        task.cancel();
        QTRY_VERIFY(task.isFinished());
        QVERIFY(!sleptFully);
        QVERIFY(threw);
        QCOMPARE(clock.pendingTimers(), 0);
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
    }

    void cancelBeforeTheSleepBeginsDoesNotWait()
    {
        QObject owner;
        ManualTaskClock clock;
        std::optional<bool> slept;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> { slept = co_await sleepFor(clock, 1h); });
        task.cancel();
        QTRY_VERIFY(task.isFinished());
        QCOMPARE(slept, std::optional<bool>(false));
    }

    void ownerDestroyedWhileSuspendedDestroysTheFrame()
    {
        auto *owner = new QObject;
        ManualTaskClock clock;
        bool resumed = false;
        Task<> task = Task<>::spawn(owner, [&]() -> Task<> {
            Tracker local;
            co_await sleepFor(clock, 1s);
            resumed = true;
        });
        QTRY_COMPARE(Tracker::alive, 1);
        delete owner;
        QCOMPARE(Tracker::alive, 0);
        clock.advance(2s);
        QTest::qWait(5);
        QVERIFY(!resumed);
        QVERIFY(task.isFinished());
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
    }

    void ownerDestroyedBeforeTheFirstTurn()
    {
        auto *owner = new QObject;
        bool started = false;
        Task<> task = Task<>::spawn(owner, [&]() -> Task<> {
            started = true;
            co_return;
        });
        delete owner;
        QTest::qWait(5);
        QVERIFY(!started);
        QVERIFY(task.isFinished());
    }

    void memberCoroutineIsBoundToItsObject()
    {
        auto *model = new Model;
        TaskPromise<int> gate;
        Task<int> task = model->answerAfter(1, gate);
        QTest::qWait(1);
        delete model;
        gate.resolve(2);
        QTest::qWait(5);
        QVERIFY(task.isFinished());
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
    }

    void ownerDestroyedFromInsideTheBody()
    {
        auto *owner = new QObject;
        TaskPromise<> never;
        bool afterDelete = false;
        Task<> task = Task<>::spawn(owner, [&]() -> Task<> {
            Tracker local;
            delete owner;
            co_await never.future();
            afterDelete = true;
        });
        QTRY_VERIFY(task.isFinished());
        QCOMPARE(Tracker::alive, 0);
        QVERIFY(!afterDelete);
    }

    void exceptionsReachTheAwaiter()
    {
        QObject owner;
        Task<int> failing = Task<int>::spawn(&owner, []() -> Task<int> {
            throw std::runtime_error("disk full");
            co_return 0;
        });
        QString caught;
        Task<> awaiting = Task<>::spawn(&owner, [&]() -> Task<> {
            try {
                co_await failing;
            } catch (const std::runtime_error &error) {
                caught = QString::fromUtf8(error.what());
            }
        });
        QTRY_VERIFY(awaiting.isFinished());
        QCOMPARE(caught, QString("disk full"));
        QVERIFY(failing.finishedWithError());
        QVERIFY(!awaiting.finishedWithError());
    }

    void awaitingAnotherTaskGivesItsValue()
    {
        QObject owner;
        TaskPromise<int> gate;
        Task<int> inner
            = Task<int>::spawn(&owner, [&]() -> Task<int> { co_return 40 + co_await gate.future(); });
        int got = 0;
        Task<> outer = Task<>::spawn(&owner, [&]() -> Task<> { got = co_await inner; });
        QTest::qWait(5);
        QVERIFY(!outer.isFinished());
        gate.resolve(2);
        QTRY_VERIFY(outer.isFinished());
        QCOMPARE(got, 42);
        QCOMPARE(inner.result(), 42);
    }

    void futureFromAWorkerThread_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::newRow("value") << false;
        QTest::newRow("exception") << true;
    }

    void futureFromAWorkerThread()
    {
        QFETCH(bool, fails);
        QObject owner;
        const auto mainThread = std::this_thread::get_id();
        std::thread::id workerThread;
        std::thread::id resumedOn;
        int value = 0;
        QString error;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            try {
                value = co_await QtConcurrent::run([&] {
                    workerThread = std::this_thread::get_id();
                    if (fails)
                        throw std::runtime_error("worker failed");
                    return 7;
                });
            } catch (const std::runtime_error &e) {
                error = QString::fromUtf8(e.what());
            }
            resumedOn = std::this_thread::get_id();
        });
        QTRY_VERIFY(task.isFinished());
        QVERIFY(workerThread != mainThread);
        QVERIFY(resumedOn == mainThread);
        QCOMPARE(value, fails ? 0 : 7);
        QCOMPARE(error, fails ? QString("worker failed") : QString());
    }

    void promiseSettledFromAnotherThread()
    {
        QObject owner;
        TaskPromise<QString> promise;
        QString got;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> { got = co_await promise.future(); });
        QTest::qWait(1);
        std::thread producer([promise] { promise.resolve(QStringLiteral("from thread")); });
        producer.join();
        QTRY_VERIFY(task.isFinished());
        QCOMPARE(got, QString("from thread"));
    }

    void abandonedPromiseBreaksTheWait()
    {
        QObject owner;
        std::optional<TaskPromise<int>> promise(std::in_place);
        TaskFuture<int> future = promise->future();
        bool broken = false;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            try {
                co_await future;
            } catch (const BrokenTaskPromise &) {
                broken = true;
            }
        });
        QTest::qWait(1);
        promise.reset();
        QTRY_VERIFY(task.isFinished());
        QVERIFY(broken);
    }

    void pollLoopAgainstAFakeClock_data()
    {
        QTest::addColumn<int>("grantAfterPolls");
        QTest::addColumn<bool>("expectGranted");
        QTest::addColumn<int>("expectPolls");
        QTest::newRow("granted at once") << 1 << true << 1;
        QTest::newRow("granted after 7") << 7 << true << 7;
        QTest::newRow("deadline") << 100000 << false << 481;
    }

    void pollLoopAgainstAFakeClock()
    {
        QFETCH(int, grantAfterPolls);
        QFETCH(bool, expectGranted);
        QFETCH(int, expectPolls);
        QObject owner;
        ManualTaskClock clock;
        int polls = 0;
        bool granted = false;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            const auto deadline = clock.now() + 120s;
            while (true) {
                if (++polls >= grantAfterPolls) {
                    granted = true;
                    co_return;
                }
                if (clock.now() >= deadline)
                    co_return;
                if (!co_await sleepFor(clock, 250ms))
                    co_return;
            }
        });
        QElapsedTimer wall;
        wall.start();
        while (!task.isFinished()) {
            QCoreApplication::processEvents();
            clock.advance(250ms);
        }
        QCOMPARE(granted, expectGranted);
        QCOMPARE(polls, expectPolls);
        QVERIFY(wall.elapsed() < 10000);
    }

    void whenFinishedRespectsItsContext()
    {
        QObject owner;
        int calls = 0;
        Task<> task = Task<>::spawn(&owner, []() -> Task<> { co_return; });
        auto *context = new QObject;
        task.whenFinished(&owner, [&] { ++calls; });
        task.whenFinished(context, [&] { calls += 100; });
        delete context;
        QTRY_VERIFY(task.isFinished());
        QTRY_COMPARE(calls, 1);
    }

    void systemClockSleeps()
    {
        QObject owner;
        QElapsedTimer timer;
        timer.start();
        Task<> task = Task<>::spawn(&owner, []() -> Task<> { co_await sleepFor(30ms); });
        QTRY_VERIFY(task.isFinished());
        QVERIFY(timer.elapsed() >= 30);
    }
};

QTEST_GUILESS_MAIN(TestTask)
#include "tst_Task.moc"
