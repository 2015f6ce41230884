#include "Rules/SaveOnceGate.h"

#include <QTest>

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

namespace {

constexpr int threadCount = 8;

// Every thread calls begin() at the same moment; answers how many were let in.
int raceBegin(SaveOnceGate &gate)
{
    std::atomic<int> admitted { 0 };
    std::barrier start(threadCount);
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            if (gate.begin())
                admitted.fetch_add(1);
        });
    }
    for (auto &thread : threads)
        thread.join();
    return admitted.load();
}

} // namespace

class TestSaveOnceGate : public QObject
{
    Q_OBJECT

private slots:
    void oneWinnerWhileInFlight()
    {
        for (int round = 0; round < 200; ++round) {
            SaveOnceGate gate;
            QCOMPARE(raceBegin(gate), 1);
            QVERIFY(!gate.begin());
            QVERIFY(!gate.hasSucceeded());
        }
    }

    void retryAfterFail()
    {
        SaveOnceGate gate;
        for (int attempt = 0; attempt < 5; ++attempt) {
            QCOMPARE(raceBegin(gate), 1);
            gate.fail();
            QVERIFY(!gate.hasSucceeded());
        }
        QVERIFY(gate.begin());
    }

    void noneAfterSucceed()
    {
        SaveOnceGate gate;
        QCOMPARE(raceBegin(gate), 1);
        gate.succeed();
        QVERIFY(gate.hasSucceeded());
        QCOMPARE(raceBegin(gate), 0);
        // A late failure report from another path does not reopen a saved review.
        gate.fail();
        QVERIFY(gate.hasSucceeded());
        QVERIFY(!gate.begin());
    }

    void failWhenIdleChangesNothing()
    {
        SaveOnceGate gate;
        gate.fail();
        QVERIFY(gate.begin());
        QVERIFY(!gate.begin());
    }

    // Saves and failures from many threads at once: exactly one success ever gets through and
    // nothing begins after it.
    void concurrentSavesSucceedOnce()
    {
        for (int round = 0; round < 50; ++round) {
            SaveOnceGate gate;
            std::atomic<int> successes { 0 };
            std::atomic<int> beganAfterSuccess { 0 };
            std::barrier start(threadCount);
            std::vector<std::thread> threads;
            for (int i = 0; i < threadCount; ++i) {
                threads.emplace_back([&, i] {
                    start.arrive_and_wait();
                    // The last thread's save is the one that succeeds; it keeps trying until it has.
                    const bool winner = i == threadCount - 1;
                    for (int attempt = 0; winner ? !gate.hasSucceeded() : attempt < 100; ++attempt) {
                        const bool sawSuccess = gate.hasSucceeded();
                        if (!gate.begin())
                            continue;
                        if (sawSuccess)
                            beganAfterSuccess.fetch_add(1);
                        if (winner) {
                            successes.fetch_add(1);
                            gate.succeed();
                        } else {
                            gate.fail();
                        }
                    }
                });
            }
            for (auto &thread : threads)
                thread.join();
            QCOMPARE(successes.load(), 1);
            QCOMPARE(beganAfterSuccess.load(), 0);
            QVERIFY(gate.hasSucceeded());
        }
    }
};

QTEST_APPLESS_MAIN(TestSaveOnceGate)
#include "tst_SaveOnceGate.moc"
