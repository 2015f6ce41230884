#include "Async/Task.h"

#include <QCoreApplication>
#include <QTest>
#include <QtConcurrent>

#include <thread>

using namespace std::chrono_literals;

namespace {

class Owner : public QObject
{
public:
    bool waiting = false;
    Task<int> answerAfter(int value, TaskPromise<int> gate)
    {
        waiting = true;
        co_return value + co_await gate.future();
    }
};

enum class OwnerGone { beforeFirstTurn, whileSuspended, fromInsideTheBody };

} // namespace

class TestTask : public QObject
{
    Q_OBJECT

private slots:
    void bodyAndResumptionsRunOnLaterTurns()
    {
        QObject owner;
        TaskPromise<int> promise;
        bool started = false;
        bool resumed = false;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            started = true;
            co_await promise.future();
            resumed = true;
        });
        int calls = 0;
        auto *gone = new QObject;
        task.whenFinished(&owner, [&] { ++calls; });
        task.whenFinished(gone, [&] { calls += 100; });
        delete gone;
        QVERIFY(!started);
        QTRY_VERIFY(started);
        QVERIFY(promise.resolve(5));
        // Settling the promise only queued the resumption.
        QVERIFY(!resumed);
        QTRY_VERIFY(task.isFinished());
        QVERIFY(resumed);
        QVERIFY(!promise.resolve(6));
        QTRY_COMPARE(calls, 1); // only where its context still exists
    }

    void cancelEndsASleepAtOnce_data()
    {
        QTest::addColumn<bool>("sleeping");
        QTest::newRow("cancelled while it sleeps") << true;
        QTest::newRow("cancelled before the sleep begins") << false;
    }

    void cancelEndsASleepAtOnce()
    {
        QFETCH(bool, sleeping);
        QObject owner;
        ManualTaskClock clock;
        std::optional<bool> sleptFully;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            sleptFully = co_await sleepFor(clock, 1h);
            CurrentTask::checkCancelled();
        });
        if (sleeping)
            QTRY_COMPARE(clock.pendingTimers(), 1);
        task.cancel();
        QTRY_VERIFY(task.isFinished());
        QCOMPARE(sleptFully, std::optional(false));
        QCOMPARE(clock.pendingTimers(), 0);
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
    }

    void ownerGoneDestroysTheFrame_data()
    {
        QTest::addColumn<OwnerGone>("when");
        QTest::newRow("before the first turn") << OwnerGone::beforeFirstTurn;
        QTest::newRow("while suspended") << OwnerGone::whileSuspended;
        QTest::newRow("from inside the body") << OwnerGone::fromInsideTheBody;
    }

    void ownerGoneDestroysTheFrame()
    {
        QFETCH(OwnerGone, when);
        auto *owner = new QObject;
        ManualTaskClock clock;
        bool resumed = false;
        std::weak_ptr<int> local; // lives in the frame
        Task<> task = Task<>::spawn(owner, [&]() -> Task<> {
            const auto mine = std::make_shared<int>();
            local = mine;
            if (when == OwnerGone::fromInsideTheBody)
                delete owner;
            co_await sleepFor(clock, 1s);
            resumed = true;
        });
        if (when == OwnerGone::beforeFirstTurn)
            delete owner;
        if (when == OwnerGone::whileSuspended) {
            QTRY_VERIFY(!local.expired());
            delete owner;
        }
        QTRY_VERIFY(task.isFinished());
        QVERIFY(local.expired());
        QCOMPARE(clock.pendingTimers(), 0);
        clock.advance(2s);
        QVERIFY(!resumed);
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
    }

    void memberCoroutineIsBoundToItsObject()
    {
        auto *owner = new Owner;
        TaskPromise<int> gate;
        Task<int> task = owner->answerAfter(1, gate);
        QTRY_VERIFY(owner->waiting);
        delete owner;
        gate.resolve(2);
        QTRY_VERIFY(task.isFinished());
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
    }

    // A task or a worker's future hands over a value or an exception; the awaiter resumes on main.
    void awaitables_data()
    {
        QTest::addColumn<bool>("worker");
        QTest::addColumn<bool>("fails");
        QTest::newRow("task value") << false << false;
        QTest::newRow("task exception") << false << true;
        QTest::newRow("worker value") << true << false;
        QTest::newRow("worker exception") << true << true;
    }

    void awaitables()
    {
        QFETCH(bool, worker);
        QFETCH(bool, fails);
        QObject owner;
        const auto mainThread = std::this_thread::get_id();
        std::thread::id producedOn;
        const auto produce = [&] {
            producedOn = std::this_thread::get_id();
            if (fails)
                throw std::runtime_error("disk full");
            return 42;
        };
        TaskPromise<int> gate;
        Task<int> inner = Task<int>::spawn(&owner, [&]() -> Task<int> {
            co_await gate.future();
            co_return produce();
        });
        int got = 0;
        QString caught;
        std::thread::id resumedOn;
        Task<> outer = Task<>::spawn(&owner, [&]() -> Task<> {
            try {
                got = worker ? co_await QtConcurrent::run(produce) : co_await inner;
            } catch (const std::runtime_error &error) {
                caught = QString::fromUtf8(error.what());
            }
            resumedOn = std::this_thread::get_id();
        });
        if (!worker)
            gate.resolve(0);
        QTRY_VERIFY(outer.isFinished());
        QCOMPARE(got, fails ? 0 : 42);
        QCOMPARE(caught, fails ? QString("disk full") : QString());
        QCOMPARE(producedOn != mainThread, worker);
        QVERIFY(resumedOn == mainThread);
        QVERIFY(!outer.finishedWithError());
    }

    void promiseSettledFromAnotherThread()
    {
        QObject owner;
        TaskPromise<QString> promise;
        QString got;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> { got = co_await promise.future(); });
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
        bool waiting = false;
        Task<> task = Task<>::spawn(&owner, [&]() -> Task<> {
            waiting = true;
            try {
                co_await future;
            } catch (const BrokenTaskPromise &) {
                broken = true;
            }
        });
        QTRY_VERIFY(waiting);
        promise.reset();
        QTRY_VERIFY(task.isFinished());
        QVERIFY(broken);
    }

    void clocksWaitTheirTime()
    {
        QObject owner;
        ManualTaskClock manual;
        std::vector<int> order;
        // Two-minute waits on the manual clock end when the clock says so, in due order.
        for (const int seconds : { 120, 60 })
            Task<>::spawn(&owner, [&, seconds]() -> Task<> {
                co_await sleepFor(manual, std::chrono::seconds(seconds));
                order.push_back(seconds);
            });
        QTRY_COMPARE(manual.pendingTimers(), 2);
        manual.advance(120s);
        QTRY_COMPARE(order, std::vector<int>({ 60, 120 }));
        QElapsedTimer timer;
        timer.start();
        Task<> task = Task<>::spawn(&owner, []() -> Task<> { co_await sleepFor(30ms); });
        QTRY_VERIFY(task.isFinished());
        QVERIFY(timer.elapsed() >= 30);
    }
};

QTEST_GUILESS_MAIN(TestTask)
#include "tst_Task.moc"
