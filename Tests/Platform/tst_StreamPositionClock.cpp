#include "Platform/StreamPositionClock.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

// One read of a stream at 1000 frames a second: when it arrived and how much it held (ms both ways).
struct Read
{
    int at;
    int frames;
};

// Steady reads of `each` ms from `from` to `to` (exclusive), each arriving when it ends.
QList<Read> steady(int from, int to, int each = 20)
{
    QList<Read> reads;
    for (int end = from + each; end <= to; end += each)
        reads.append({ end, each });
    return reads;
}

// `frames` handed over at once at `at`, in pieces of `piece`.
QList<Read> burst(int at, int frames, int piece = 500)
{
    QList<Read> reads;
    for (int left = frames; left > 0; left -= piece)
        reads.append({ at, std::min(piece, left) });
    return reads;
}

// A program paused from `from` to `to` that then reads faster than the source records, `rate` ms of
// audio in each 20 ms, until it has caught up and reads steadily up to `until`. The server kept at
// most `kept` ms of the pause.
QList<Read> slowCatchUp(int from, int to, int until, int rate, int kept)
{
    QList<Read> reads;
    int position = std::max(from, to - kept);
    for (int at = to; at <= until; at += 20) {
        const int frames = std::min(rate, at - position);
        if (frames > 0)
            reads.append({ at, frames });
        position += std::max(frames, 0);
    }
    return reads;
}

} // namespace

Q_DECLARE_METATYPE(QList<Read>)

class TestStreamPositionClock : public QObject
{
    Q_OBJECT

private slots:
    // Each read is placed where the stream puts it; only audio the server lost leaves a gap. The last
    // read is checked against when it was really heard, and no read may overlap the one before.
    void placesEachReadWhereItWasHeard_data()
    {
        QTest::addColumn<QList<Read>>("reads");
        QTest::addColumn<int>("lastHeardAt"); // ms: when the last read's audio ends
        QTest::addColumn<int>("tolerance"); // ms
        QTest::newRow("steady reading") << steady(0, 2000) << 2000 << 1;
        QTest::newRow("one late delivery, then caught up")
            << steady(0, 400) + burst(700, 300, 100) + steady(700, 2000) << 2000 << 1;
        QTest::newRow("a paused program's backlog fills the pause")
            << steady(0, 1000) + burst(7000, 6000) + steady(7000, 9000) << 9000 << 1;
        // The server kept the first 10 s of a 13 s pause.
        QTest::newRow("a longer pause than the server keeps: the loss is a gap")
            << steady(0, 1000) + burst(14000, 10000) + steady(14000, 16000) << 16000 << 1;
        // Drawn at twice or a tenth above the recording's pace, the backlog takes seconds to come.
        QTest::newRow("a paused program's backlog drawn slowly fills the pause")
            << steady(0, 1000) + slowCatchUp(1000, 7000, 20000, 40, 60000) << 20000 << 1;
        QTest::newRow("a backlog drawn barely faster than it grows fills the pause")
            << steady(0, 1000) + slowCatchUp(1000, 7000, 80000, 22, 60000) << 80000 << 1;
        QTest::newRow("a backlog drawn slowly after the server dropped some: the loss is a gap")
            << steady(0, 1000) + slowCatchUp(1000, 14000, 40000, 40, 10000) << 40000 << 1;
        // Without the clock moving on, the end would be 600 ms behind.
        QTest::newRow("the server keeps dropping a little: the stream keeps up") << [] {
            QList<Read> reads;
            for (int end = 20; end <= 6000; end += 20)
                reads.append({ end, end % 100 == 0 ? 10 : 20 }); // a tenth goes missing
            return reads;
        }() << 6000 << 350;
    }
    void placesEachReadWhereItWasHeard()
    {
        QFETCH(QList<Read>, reads);
        QFETCH(int, lastHeardAt);
        QFETCH(int, tolerance);
        StreamPositionClock clock(1000);
        const StreamPositionClock::TimePoint origin {};
        StreamPositionClock::TimePoint previousEnd = origin - 1h;
        StreamPositionClock::TimePoint last;
        for (const Read &read : std::as_const(reads)) {
            last = clock.stamp(read.frames, origin + std::chrono::milliseconds(read.at));
            QVERIFY2(last >= previousEnd, "a read overlaps the one before it");
            previousEnd = last + std::chrono::milliseconds(read.frames);
        }
        const auto heard = std::chrono::duration_cast<std::chrono::milliseconds>(
            last + std::chrono::milliseconds(reads.last().frames) - origin);
        QVERIFY2(
            std::abs(heard.count() - lastHeardAt) <= tolerance, qPrintable(QString::number(heard.count())));
    }

    // A new stream after the old one ended is anchored afresh, however far on it starts.
    void restartAnchorsAgain()
    {
        StreamPositionClock clock(1000);
        const StreamPositionClock::TimePoint origin {};
        clock.stamp(500, origin + 500ms);
        clock.restart();
        QCOMPARE(clock.stamp(20, origin + 5020ms), origin + 5000ms);
        QCOMPARE(clock.stamp(20, origin + 5040ms), origin + 5020ms);
    }
};

QTEST_APPLESS_MAIN(TestStreamPositionClock)
#include "tst_StreamPositionClock.moc"
