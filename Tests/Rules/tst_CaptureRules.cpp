#include "Rules/CapturePhase.h"
#include "Rules/SaveOnceGate.h"
#include "Rules/SelectionRules.h"

#include <QRandomGenerator>
#include <QTest>

#include <atomic>
#include <barrier>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using Action = CaptureInvocation::Action;
using P = CapturePhase;
using S = ScreenPermissionState;

Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(P)
Q_DECLARE_METATYPE(S)

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

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinite = std::numeric_limits<double>::infinity();

// Every pixel a different colour, so a shifted or scaled crop cannot match by accident.
QImage noise(QSize size, double devicePixelRatio = 1.0)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

} // namespace

class TestCaptureRules : public QObject
{
    Q_OBJECT

private slots:
    void rawValuesRoundTrip()
    {
        for (P phase : CapturePhases::allCases)
            QVERIFY(CapturePhases::fromRawValue(CapturePhases::rawValue(phase)) == phase);
        QVERIFY(!CapturePhases::fromRawValue("Idle"));
        QVERIFY(!CapturePhases::fromRawValue(""));
    }

    // The paths a capture really takes are allowed step by step; shortcuts past a step are not.
    void transitions()
    {
        const auto allows = [](std::initializer_list<P> path) {
            for (auto step = path.begin(); step + 1 != path.end(); ++step) {
                if (!CapturePhaseTransition::allows(*step, *(step + 1)))
                    return false;
            }
            return true;
        };
        QVERIFY(allows({ P::idle, P::needsPermission, P::selecting, P::captured, P::ocrProcessing, P::review,
            P::saving, P::saved, P::selecting, P::canceled, P::idle }));
        QVERIFY(allows({ P::ocrProcessing, P::needsOCR, P::saving, P::saveFailed, P::saving,
            P::destinationUnavailable, P::review, P::ocrProcessing, P::review, P::canceled }));
        for (const auto &[from, to] :
            { std::pair { P::idle, P::saving }, { P::selecting, P::review }, { P::saved, P::review },
                { P::canceled, P::saving }, { P::review, P::idle }, { P::saving, P::canceled } })
            QVERIFY2(!allows({ from, to }),
                qPrintable(CapturePhases::rawValue(from) + " to " + CapturePhases::rawValue(to)));
        for (P phase : CapturePhases::allCases)
            QVERIFY(CapturePhaseTransition::allows(phase, phase));
    }

    // One row for each answer, without a scrolling capture; the matrix below covers the rest.
    void invocation_data()
    {
        QTest::addColumn<P>("phase");
        QTest::addColumn<bool>("setupComplete");
        QTest::addColumn<S>("permission");
        QTest::addColumn<bool>("audioBusy");
        QTest::addColumn<Action>("expected");
        const auto row
            = [](const char *name, P phase, bool setup, S permission, bool audio, Action expected) {
                  QTest::newRow(name) << phase << setup << permission << audio << expected;
              };
        row("selecting, setup missing, audio busy", P::selecting, false, S::revoked, true,
            Action::focusSelection);
        row("saving, setup missing", P::saving, false, S::requestable, false, Action::focusReview);
        row("saved, setup missing, permission withdrawn", P::saved, false, S::revoked, false,
            Action::beginNew);
        row("saved, audio busy", P::saved, true, S::granted, true, Action::blockedByAudio);
        row("needsPermission, requestable, audio busy", P::needsPermission, false, S::requestable, true,
            Action::requestPermission);
        row("idle, setup missing, denied, audio busy", P::idle, false, S::denied, true, Action::requestSetup);
    }

    void invocation()
    {
        QFETCH(P, phase);
        QFETCH(bool, setupComplete);
        QFETCH(S, permission);
        QFETCH(bool, audioBusy);
        QTEST(CaptureInvocation::action(phase, setupComplete, permission, audioBusy, false), "expected");
    }

    // Over every input: what each answer may depend on.
    void invocationMatrix()
    {
        for (P phase : CapturePhases::allCases) {
            for (int bits = 0; bits < 4 * 4; ++bits) {
                const bool setup = bits & 1, audio = bits & 2;
                const S permission = S(bits >> 2);
                const QString where = QString("%1 setup=%2 permission=%3 audio=%4")
                                          .arg(CapturePhases::rawValue(phase))
                                          .arg(setup)
                                          .arg(int(permission))
                                          .arg(audio);
                const auto action = [&](P in, bool scrolling) {
                    return CaptureInvocation::action(in, setup, permission, audio, scrolling);
                };
                QVERIFY2(
                    action(phase, true) == (phase == P::selecting ? Action::focusSelection : Action::ignore),
                    qPrintable(where));
                const Action answer = action(phase, false);
                // Only a capture at rest may start one, and never while audio is busy.
                if (answer == Action::beginNew) {
                    QVERIFY2(
                        !audio && CapturePhaseTransition::allows(phase, P::selecting), qPrintable(where));
                    QVERIFY2(phase == P::idle || phase == P::canceled || phase == P::saved
                            || phase == P::needsPermission,
                        qPrintable(where));
                }
                // idle and canceled answer alike; with setup done they answer as needsPermission.
                if (phase == P::canceled)
                    QVERIFY2(answer == action(P::idle, false), qPrintable(where));
                if (phase == P::idle && setup)
                    QVERIFY2(answer == action(P::needsPermission, false), qPrintable(where));
                QVERIFY2(answer != Action::requestPermission || permission != S::granted, qPrintable(where));
                QVERIFY2(
                    answer != Action::ignore, qPrintable("ignored without a scrolling capture: " + where));
            }
        }
    }

    // A failed save may be retried; a saved one never begins again, not even after a late failure.
    void afterTheOutcome()
    {
        SaveOnceGate gate;
        gate.fail(); // while idle: changes nothing
        for (int attempt = 0; attempt < 50; ++attempt) {
            QCOMPARE(raceBegin(gate), 1);
            gate.fail();
            QVERIFY(!gate.hasSucceeded());
        }
        QCOMPARE(raceBegin(gate), 1);
        gate.succeed();
        QVERIFY(gate.hasSucceeded());
        QCOMPARE(raceBegin(gate), 0);
        gate.fail();
        QVERIFY(gate.hasSucceeded());
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

    void selectionRect_data()
    {
        QTest::addColumn<QPointF>("anchor");
        QTest::addColumn<QPointF>("current");
        QTest::addColumn<QRectF>("expected");
        const auto row = [](const char *name, QPointF anchor, QPointF current, QRectF expected) {
            QTest::newRow(name) << anchor << current << expected;
        };
        row("down right", { 10, 20 }, { 110, 70 }, { 10, 20, 100, 50 });
        row("up left", { 110, 70 }, { 10, 20 }, { 10, 20, 100, 50 });
        row("up right", { 10, 70 }, { 110, 20 }, { 10, 20, 100, 50 });
        row("past the edges is clipped", { 700, 500 }, { 950, -40 }, { 700, 0, 100, 500 });
        row("click keeps its place", { 30, 40 }, { 30, 40 }, { 30, 40, 0, 0 });
        row("outside entirely", { -50, -50 }, { -10, -10 }, {});
        row("not a number", { notANumber, 10 }, { 100, 100 }, {});
        row("infinite end", { 10, 10 }, { infinite, infinite }, {});
    }

    void selectionRect()
    {
        QFETCH(QPointF, anchor);
        QFETCH(QPointF, current);
        QFETCH(QRectF, expected);
        const QRectF selection = SelectionRules::selectionRect(anchor, current, QRectF(0, 0, 800, 600));
        QCOMPARE(selection, expected);
    }

    void pixelRect_data()
    {
        QTest::addColumn<QRectF>("selection");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QSize>("imageSize");
        QTest::addColumn<QRect>("expected");
        const auto row = [](const char *name, QRectF selection, double scale, QSize image, QRect expected) {
            QTest::newRow(name) << selection << scale << image << expected;
        };
        row("1x whole points", { 10, 20, 30, 40 }, 1.0, { 800, 600 }, { 10, 20, 30, 40 });
        row("2x doubles", { 10, 20, 30, 40 }, 2.0, { 1600, 1200 }, { 20, 40, 60, 80 });
        row("1.5x touches partial pixels", { 1, 1, 11, 11 }, 1.5, { 1200, 900 }, { 1, 1, 17, 17 });
        row("1.25x at whole pixels", { 4, 8, 16, 8 }, 1.25, { 1000, 750 }, { 5, 10, 20, 10 });
        row("float noise does not add a pixel", { 0.1, 0.1, 0.2, 0.2 }, 10.0, { 100, 100 }, { 1, 1, 2, 2 });
        row("half points at 2x", { 10.5, 10.5, 10, 10 }, 2.0, { 100, 100 }, { 21, 21, 20, 20 });
        row("clamped to the image", { 790, 590, 50, 50 }, 1.0, { 800, 600 }, { 790, 590, 10, 10 });
        row("outside the image", { 900, 700, 50, 50 }, 1.0, { 800, 600 }, {});
        row("huge", { -1e300, -1e300, 2e300, 2e300 }, 2.0, { 64, 32 }, { 0, 0, 64, 32 });
        for (double scale : { 0.0, notANumber, infinite })
            QTest::addRow("scale %g", scale) << QRectF(0, 0, 10, 10) << scale << QSize(64, 32) << QRect();
        row("empty selection", { 5, 5, 0, 0 }, 1.0, { 64, 32 }, {});
        row("empty image", { 0, 0, 10, 10 }, 1.0, { 0, 0 }, {});
    }

    void pixelRect()
    {
        QFETCH(QRectF, selection);
        QFETCH(double, scale);
        QFETCH(QSize, imageSize);
        QTEST(SelectionRules::pixelRect(selection, scale, imageSize), "expected");
    }

    void displayScale()
    {
        const auto scale = [](QSize size, double ratio, QSizeF display) {
            QImage still(size, QImage::Format_RGB32);
            still.setDevicePixelRatio(ratio);
            return SelectionRules::displayScale(still, display);
        };
        QCOMPARE(scale({ 800, 600 }, 1.0, { 800, 600 }), 1.0);
        QCOMPARE(scale({ 1600, 1200 }, 1.0, { 800, 600 }), 2.0);
        // 1.5 of 800 pixels is 533.33 points; the still's own ratio is exact where the sizes are rounded.
        QCOMPARE(scale({ 800, 600 }, 1.5, { 533, 400 }), 1.5);
        QCOMPARE(scale({ 800, 600 }, 1.0, { 0, 0 }), 0.0);
        QCOMPARE(scale({ 800, 600 }, 1.0, { notANumber, 600 }), 0.0);
    }

    // Selection, scale and crop together: the crop is the still's own pixels, not a resampling.
    void cropIsExactAtAnyScale_data()
    {
        QTest::addColumn<double>("scale");
        for (double scale : { 1.0, 1.25, 1.5, 2.0, 3.0 })
            QTest::addRow("%gx", scale) << scale;
    }

    void cropIsExactAtAnyScale()
    {
        QFETCH(double, scale);
        const QSize points(400, 300);
        const QImage still = noise(QSize(int(points.width() * scale), int(points.height() * scale)), scale);
        const QRectF selection = SelectionRules::selectionRect(
            QPointF(123.4, 77.7), QPointF(31, 250), QRectF(QPointF(0, 0), QSizeF(points)));
        const QRect pixels = SelectionRules::pixelRect(
            selection, SelectionRules::displayScale(still, QSizeF(points)), still.size());
        const QImage crop = SelectionRules::crop(still, pixels);
        QCOMPARE(crop.size(), pixels.size());
        QCOMPARE(crop.devicePixelRatio(), 1.0);
        // The selection's corners lie inside the crop's outer pixels.
        QVERIFY(pixels.left() <= selection.left() * scale && selection.left() * scale < pixels.left() + 1);
        QVERIFY(
            pixels.right() < selection.right() * scale && selection.right() * scale <= pixels.right() + 1);
        for (int y = 0; y < crop.height(); ++y) {
            for (int x = 0; x < crop.width(); ++x) {
                if (crop.pixel(x, y) != still.pixel(pixels.left() + x, pixels.top() + y))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
            }
        }
    }

    // Too small to be meant, outside the image, or nothing to see: refused.
    void refusals()
    {
        for (const QRectF &small :
            { QRectF(3, 3, 5, 5), QRectF(0, 0, 500, 9.9), QRectF(0, 0, notANumber, 50) })
            QVERIFY(!SelectionRules::isLargeEnough(small));
        QVERIFY(SelectionRules::isLargeEnough(QRectF(0, 0, 10, 10)));
        const QImage still = noise(QSize(20, 10));
        QVERIFY(SelectionRules::crop(still, QRect(15, 5, 10, 10)).isNull());
        QVERIFY(SelectionRules::crop(QImage(), QRect(0, 0, 1, 1)).isNull());
        QImage clear(16, 16, QImage::Format_ARGB32_Premultiplied);
        clear.fill(Qt::transparent);
        QVERIFY(!SelectionRules::hasVisiblePixels(clear));
        clear.setPixel(15, 15, qRgba(0, 0, 0, 1));
        QVERIFY(SelectionRules::hasVisiblePixels(clear));
        QImage black(4, 4, QImage::Format_RGB32);
        black.fill(Qt::black);
        QVERIFY(SelectionRules::hasVisiblePixels(black)); // opaque black is content
    }
};

QTEST_GUILESS_MAIN(TestCaptureRules)
#include "tst_CaptureRules.moc"
