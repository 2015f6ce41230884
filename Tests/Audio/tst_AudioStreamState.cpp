#include "Audio/AACStreamWriter.h"
#include "Audio/AudioStreamState.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Stands in for a writer: appends counted.
struct FakeWriter
{
    std::atomic<int> appends { 0 };
};

using State = AudioStreamState<FakeWriter>;
using Channel = AudioStreamChannel;

const auto append = [](FakeWriter &writer) { return float(++writer.appends); };

// Joins its thread on every way out of a test, after releasing it, so a failed check reports instead of
// terminating on a joinable thread.
struct Joined
{
    std::function<void()> release;
    std::thread thread;
    ~Joined()
    {
        release();
        if (thread.joinable())
            thread.join();
    }
};

State::TimePoint at(std::chrono::milliseconds offset)
{
    return State::TimePoint(10s + offset);
}

} // namespace

class TestAudioStreamState : public QObject
{
    Q_OBJECT

private slots:
    // Generation 2 asks to record after generation 1 was in the given state.
    void authorizeAndInstallRefusals_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("authorizes");
        QTest::addColumn<bool>("installs");
        QTest::newRow("nothing before") << "fresh" << true << true;
        QTest::newRow("previous generation still accepted") << "accepted" << false << false;
        QTest::newRow("revoked but a writer is still in a slot") << "revoked" << false << false;
        QTest::newRow("revoked and removed") << "removed" << true << true;
    }
    void authorizeAndInstallRefusals()
    {
        QFETCH(QString, before);
        QFETCH(bool, authorizes);
        QFETCH(bool, installs);
        State state;
        if (before != "fresh")
            QVERIFY(state.authorize(1) && state.install(std::make_shared<FakeWriter>(), Channel::you, 1));
        if (before == "revoked" || before == "removed")
            state.revoke(1);
        if (before == "removed")
            QVERIFY(state.removeAfterCallbacksDrain(Channel::you, 1));
        QCOMPARE(state.authorize(2), authorizes);
        QVERIFY(!state.install(std::make_shared<FakeWriter>(), Channel::others, 3)); // not the accepted one
        QCOMPARE(state.install(std::make_shared<FakeWriter>(), Channel::others, 2), installs);
        // A slot that holds a writer refuses a second one, even from its own generation.
        QVERIFY(!state.install(std::make_shared<FakeWriter>(), Channel::others, 2));
    }

    void revokedGenerationIsShutOutButStillRemovable()
    {
        State state;
        auto writer = std::make_shared<FakeWriter>();
        QVERIFY(state.authorize(7) && state.install(writer, Channel::others, 7));
        QCOMPARE(state.withResource(Channel::others, 7, append), 1.0f);
        QVERIFY(!state.withResource(Channel::others, 8, append));
        QVERIFY(!state.withResource(Channel::you, 7, append));
        state.revoke(8); // not the accepted one: nothing changes
        QCOMPARE(state.withResource(Channel::others, 7, append), 2.0f);
        state.revoke(7);
        QVERIFY(!state.withResource(Channel::others, 7, append));
        QVERIFY(!state.removeAfterCallbacksDrain(Channel::others, 6));
        QCOMPARE(state.removeAfterCallbacksDrain(Channel::others, 7), writer);
        QVERIFY(!state.removeAfterCallbacksDrain(Channel::others, 7));
        QCOMPARE(writer->appends, 2);
        // A body that throws still leaves the slot, or its removal would wait forever.
        QVERIFY(state.authorize(9) && state.install(writer, Channel::you, 9));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
            state.withResource(
                Channel::you, 9, [](FakeWriter &) -> float { throw std::runtime_error("x"); }));
        QVERIFY(state.removeAfterCallbacksDrain(Channel::you, 9));
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
        QVERIFY(state.authorize(1) && state.install(writer, Channel::you, 1));
        std::atomic<bool> entered { false };
        std::atomic<bool> released { false };
        Joined callback { [&] { released = true; }, std::thread([&] {
                             state.withResource(Channel::you, 1, [&](FakeWriter &w) {
                                 entered = true;
                                 while (!released)
                                     std::this_thread::yield();
                                 return append(w);
                             });
                         }) };
        QTRY_VERIFY(entered);
        std::atomic<bool> removed { false };
        std::shared_ptr<FakeWriter> taken;
        Joined removal { [&] { released = true; }, std::thread([&] {
                            taken = removeAll ? state.removeAllAfterCallbacksDrain().second
                                              : state.removeAfterCallbacksDrain(Channel::you, 1);
                            removed = true;
                        }) };
        // The removal has begun once a new callback is refused; it waits, and the draining slot takes no
        // writer either.
        QTRY_VERIFY(!state.withResource(Channel::you, 1, [](FakeWriter &) { return 0.0f; }));
        QVERIFY(!state.install(std::make_shared<FakeWriter>(), Channel::you, 1));
        QVERIFY(!removed);
        released = true;
        removal.thread.join();
        QCOMPARE(taken, writer);
        QCOMPARE(writer->appends, 1);
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
            while (running) {
                if (state.withResource(channel, generation.load(), [&](AACStreamWriter &w) {
                        w.append(buffer);
                        return w.lastBufferPeak();
                    }))
                    ++passed;
            }
        };
        Joined others { [&] { running = false; }, std::thread(producer, Channel::others) };
        Joined you { [&] { running = false; }, std::thread(producer, Channel::you) };
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
        others.thread.join();
        you.thread.join();
        QCOMPARE(counted, passed.load());
        QVERIFY(passed.load() > 0);
    }

    // A level at most every 0.1 s per slot (exactly 0.1 s passes), the first one at once, only for the
    // installed slot of the accepted generation; fresh for 0.3 s.
    void levelThrottle()
    {
        State state;
        QVERIFY(state.authorize(1));
        QVERIFY(!state.stampLevel(Channel::others, 1, at(0ms))); // no writer yet
        QVERIFY(state.install(std::make_shared<FakeWriter>(), Channel::others, 1));
        QVERIFY(!state.levelIsFresh(Channel::others, 1, at(0ms)));
        QList<bool> published;
        for (int ms : { 0, 50, 99, 100, 199, 200, 1000, 1050 })
            published << state.stampLevel(Channel::others, 1, at(std::chrono::milliseconds(ms)));
        QCOMPARE(published, (QList<bool> { true, false, false, true, false, true, true, false }));
        QVERIFY(state.levelIsFresh(Channel::others, 1, at(1300ms)));
        QVERIFY(!state.levelIsFresh(Channel::others, 1, at(1301ms)));
        QVERIFY(!state.stampLevel(Channel::others, 2, at(10s)));
        QVERIFY(!state.stampLevel(Channel::you, 1, at(10s)));
    }
};

QTEST_GUILESS_MAIN(TestAudioStreamState)
#include "tst_AudioStreamState.moc"
