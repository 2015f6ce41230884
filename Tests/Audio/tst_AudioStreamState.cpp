#include "Audio/AACStreamWriter.h"
#include "Audio/AudioStreamState.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Stands in for a writer: appends counted.
struct FakeWriter
{
    void append() { ++appends; }
    std::atomic<int> appends { 0 };
};

using State = AudioStreamState<FakeWriter>;
using Channel = AudioStreamChannel;

// Joins its threads on every way out of a test, after letting them finish, so a failed check reports
// instead of terminating on a joinable thread.
struct Threads
{
    std::function<void()> stop;
    std::vector<std::thread> threads;
    ~Threads()
    {
        if (stop)
            stop();
        for (auto &thread : threads)
            if (thread.joinable())
                thread.join();
    }
};

State::TimePoint at(std::chrono::nanoseconds offset)
{
    return State::TimePoint(10s + offset);
}

} // namespace

class TestAudioStreamState : public QObject
{
    Q_OBJECT

private slots:
    void authorizeAndInstallRefusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("authorizes");
        QTest::addColumn<bool>("installs");
        QTest::newRow("fresh") << "fresh" << true << true;
        QTest::newRow("previous generation still accepted") << "accepted" << false << false;
        QTest::newRow("revoked but a writer is still in a slot") << "revokedWithWriter" << false << false;
        QTest::newRow("revoked and removed") << "removed" << true << true;
        QTest::newRow("install for a foreign generation") << "foreignInstall" << true << false;
    }
    void authorizeAndInstallRefusals()
    {
        QFETCH(QString, situation);
        QFETCH(bool, authorizes);
        QFETCH(bool, installs);
        State state;
        int installer = 2;
        if (situation != "fresh" && situation != "foreignInstall") {
            QVERIFY(state.authorize(1));
            QVERIFY(state.install(std::make_shared<FakeWriter>(), Channel::you, 1));
        }
        if (situation == "revokedWithWriter" || situation == "removed")
            state.revoke(1);
        if (situation == "removed")
            QVERIFY(state.removeAfterCallbacksDrain(Channel::you, 1));
        if (situation == "foreignInstall")
            installer = 3;
        QCOMPARE(state.authorize(2), authorizes);
        QCOMPARE(state.install(std::make_shared<FakeWriter>(), Channel::others, installer), installs);
        // A slot that holds a writer refuses a second one, even from its own generation.
        if (installs)
            QVERIFY(!state.install(std::make_shared<FakeWriter>(), Channel::others, 2));
    }

    void revokedGenerationIsShutOutButStillRemovable()
    {
        State state;
        auto writer = std::make_shared<FakeWriter>();
        QVERIFY(state.authorize(7));
        QVERIFY(state.install(writer, Channel::others, 7));
        const auto append = [](FakeWriter &w) {
            w.append();
            return 1.0f;
        };
        QCOMPARE(state.withResource(Channel::others, 7, append), 1.0f);
        QVERIFY(!state.withResource(Channel::others, 8, [](FakeWriter &) { return 1.0f; }));
        QVERIFY(!state.withResource(Channel::you, 7, [](FakeWriter &) { return 1.0f; }));
        state.revoke(8); // not the accepted one: nothing changes
        QVERIFY(state.withResource(Channel::others, 7, [](FakeWriter &) { return 1.0f; }));
        state.revoke(7);
        QVERIFY(!state.withResource(Channel::others, 7, append));
        QVERIFY(!state.removeAfterCallbacksDrain(Channel::others, 6));
        QCOMPARE(state.removeAfterCallbacksDrain(Channel::others, 7), writer);
        QVERIFY(!state.removeAfterCallbacksDrain(Channel::others, 7));
        QCOMPARE(writer->appends, 1);
    }

    void heldCallbackKeepsRemovalWaiting_data()
    {
        QTest::addColumn<bool>("removeAll");
        QTest::newRow("one slot") << false;
        QTest::newRow("both slots") << true;
    }
    void heldCallbackKeepsRemovalWaiting()
    {
        QFETCH(bool, removeAll);
        State state;
        auto writer = std::make_shared<FakeWriter>();
        QVERIFY(state.authorize(1));
        QVERIFY(state.install(writer, Channel::you, 1));

        std::promise<void> entered;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> releasedOnce { false };
        auto releaseOnce = [&] {
            if (!releasedOnce.exchange(true))
                release.set_value();
        };
        std::atomic<bool> removed { false };
        std::shared_ptr<FakeWriter> taken;
        Threads threads { releaseOnce, {} };
        threads.threads.emplace_back([&] {
            state.withResource(Channel::you, 1, [&](FakeWriter &w) {
                entered.set_value();
                released.wait();
                w.append();
                return 0.0f;
            });
        });
        entered.get_future().wait();
        threads.threads.emplace_back([&] {
            if (removeAll)
                taken = state.removeAllAfterCallbacksDrain().second;
            else
                taken = state.removeAfterCallbacksDrain(Channel::you, 1);
            removed = true;
        });
        // The removal has begun once a new callback is refused; it waits, and the draining slot takes no
        // writer either.
        QTRY_VERIFY(!state.withResource(Channel::you, 1, [](FakeWriter &) { return 0.0f; }));
        QVERIFY(!state.install(std::make_shared<FakeWriter>(), Channel::you, 1));
        QVERIFY(!removed);
        releaseOnce();
        for (auto &thread : threads.threads)
            thread.join();
        QVERIFY(removed);
        QCOMPARE(taken, writer);
        QCOMPARE(writer->appends, 1);
    }

    void bodyThatThrowsStillLeaves()
    {
        State state;
        QVERIFY(state.authorize(1));
        QVERIFY(state.install(std::make_shared<FakeWriter>(), Channel::others, 1));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
            state.withResource(
                Channel::others, 1, [](FakeWriter &) -> float { throw std::runtime_error("x"); }));
        QVERIFY(state.removeAfterCallbacksDrain(
            Channel::others, 1)); // would hang if the callback were still counted
    }

    // Two producers hammer both slots while the main thread ends and starts generations: every append a
    // producer got through is counted by a writer that was finished only after removal returned it.
    void producersHammerRealWriters()
    {
        QTemporaryDir dir;
        AudioStreamState<AACStreamWriter> state;
        const AudioStreamFormat format { 48000, 1, AudioStreamFormat::SampleType::float32, true };
        std::vector<float> samples(256, 0.25f);
        const void *planes[] = { samples.data() };
        const AudioPCMBuffer buffer(format, planes, 256);
        std::atomic<int> generation { 0 };
        std::atomic<bool> running { true };
        std::atomic<long> passed { 0 };
        auto producer = [&](Channel channel) {
            while (running.load()) {
                if (state.withResource(channel, generation.load(), [&](AACStreamWriter &w) {
                        w.append(buffer);
                        return w.lastBufferPeak();
                    }))
                    ++passed;
            }
        };
        Threads threads { [&] { running = false; }, {} };
        threads.threads.emplace_back(producer, Channel::others);
        threads.threads.emplace_back(producer, Channel::you);
        long counted = 0;
        for (int round = 1; round <= 16; ++round) {
            QVERIFY(state.authorize(round));
            for (const Channel channel : { Channel::others, Channel::you }) {
                const QString file = dir.filePath(QStringLiteral("%1-%2.m4a").arg(round).arg(int(channel)));
                QVERIFY(state.install(std::make_shared<AACStreamWriter>(file, format), channel, round));
            }
            generation = round;
            std::this_thread::sleep_for(3ms);
            state.revoke(round);
            auto [a, b] = round % 2 ? state.removeAllAfterCallbacksDrain()
                                    : std::pair(state.removeAfterCallbacksDrain(Channel::others, round),
                                        state.removeAfterCallbacksDrain(Channel::you, round));
            counted += a->finish().callbacks + b->finish().callbacks;
        }
        running = false;
        for (auto &thread : threads.threads)
            thread.join();
        QCOMPARE(counted, passed.load());
        QVERIFY(passed.load() > 0);
    }

    void levelThrottleEdges_data()
    {
        QTest::addColumn<std::vector<int>>("millisecondsAfterFirst");
        QTest::addColumn<std::vector<bool>>("published");
        QTest::newRow("within 0.1 s refused")
            << std::vector<int> { 0, 50, 99 } << std::vector<bool> { true, false, false };
        QTest::newRow("exactly 0.1 s passes")
            << std::vector<int> { 0, 100, 199, 200 } << std::vector<bool> { true, true, false, true };
        QTest::newRow("late buffers")
            << std::vector<int> { 0, 1000, 1050, 1100 } << std::vector<bool> { true, true, false, true };
    }
    void levelThrottleEdges()
    {
        QFETCH(std::vector<int>, millisecondsAfterFirst);
        QFETCH(std::vector<bool>, published);
        State state;
        QVERIFY(state.authorize(1));
        QVERIFY(!state.stampLevel(Channel::others, 1, at(0ms))); // no writer yet
        QVERIFY(state.install(std::make_shared<FakeWriter>(), Channel::others, 1));
        for (std::size_t i = 0; i < millisecondsAfterFirst.size(); ++i)
            QCOMPARE(state.stampLevel(
                         Channel::others, 1, at(std::chrono::milliseconds(millisecondsAfterFirst[i]))),
                published[i]);
        QVERIFY(!state.stampLevel(Channel::others, 2, at(10s)));
        QVERIFY(!state.stampLevel(Channel::you, 1, at(10s)));
    }
};

QTEST_GUILESS_MAIN(TestAudioStreamState)
#include "tst_AudioStreamState.moc"
