// Whole scrolling captures of a 10-screen column in the scroll_target window (built with the tests),
// on an X server of its own: time per screen, split by stage (waiting for the window, grabbing,
// preparing and aligning frames, sealing tiles, waiting for recognition), and the main thread's
// longest stall, for a plain column, identical 160-pixel blocks and identical cards (each with and
// without text recognition), and an application that moves its content a second after each wheel
// event.
//
// Needs Xvfb and the tests' helper build/<dir>/Tests/scroll_target (configure with DOVRIN_TESTS=ON).
#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "MainThreadStallProbe.h"
#include "Platform/FreedMemory.h"
#include "PrivateXvfb.h"
#include "ScrollTargetProcess.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

// Rows of the stitched column that differ from the column as scroll_target renders it; -1 when the
// heights differ (a row missing or taken twice).
int wrongRows(const EncryptedDraftStore &store, const CaptureDraft &draft, const QImage &expected)
{
    const ScrollingCaptureManifest &manifest = *draft.scrollingCapture;
    if (expected.isNull() || manifest.pixelHeight != expected.height()
        || manifest.pixelWidth != expected.width())
        return -1;
    QImage stitched(manifest.pixelWidth, manifest.pixelHeight, QImage::Format_RGB32);
    stitched.fill(Qt::magenta);
    QPainter painter(&stitched);
    for (const ScrollingCaptureTile &tile : manifest.tiles)
        painter.drawImage(0, tile.documentTop, QImage::fromData(store.loadTilePNG(draft.id, tile.index)));
    painter.end();
    const QImage rendered = expected.convertToFormat(QImage::Format_RGB32);
    int rows = 0;
    for (int y = 0; y < stitched.height(); ++y) {
        const auto *a = reinterpret_cast<const quint32 *>(stitched.constScanLine(y));
        const auto *b = reinterpret_cast<const quint32 *>(rendered.constScanLine(y));
        for (int x = 0; x < stitched.width(); ++x) {
            if ((a[x] ^ b[x]) & 0xffffffu) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

constexpr int screens = 10;
constexpr int lineHeight = 26; // scroll_target's
constexpr int viewport = 1000;

struct Column
{
    const char *name;
    QStringList arguments;
    bool recognize = false;
};

void capture(benchmark::State &state, const Column &column)
{
    const bool recognize = column.recognize;
    const QStringList arguments = column.arguments + QStringList { "--size", "1000x1000", "--pos", "20,20" };
    const QImage expected = ScrollTargetProcess::render(arguments);
    for (auto _ : state) {
        ScrollTargetProcess target;
        if (!target.start(arguments)) {
            state.SkipWithError("scroll_target did not start");
            return;
        }
        QTemporaryDir dir;
        EncryptedDraftStore store(dir.path(), QByteArray(32, '\x42'));
        ScreenCaptureService service;
        OCRService ocr;
        const ScrollingRegionGeometry geometry = ScrollTargetProcess::geometryOf(target.region());
        const ScrollingCaptureTarget window = target.captureTarget();
        // Each section's recognition from its start to its text, added up: the recognizer's own time.
        qint64 recognizerNs = 0;
        ScrollingCaptureCoordinator::RecognizeText text
            = [&ocr, &recognizerNs](QImage image) -> Task<OCRResult> {
            QElapsedTimer busy;
            busy.start();
            Task<OCRResult> reading = ocr.recognizeText(std::move(image));
            OCRResult result = co_await reading;
            recognizerNs += busy.nsecsElapsed();
            co_return result;
        };
        if (!recognize)
            text = [](QImage) -> Task<OCRResult> { co_return OCRResult {}; };
        const auto frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
        ScrollingCaptureCoordinator coordinator(
            geometry, window, QUuid::createUuid(), store,
            [&service](ScrollingRegionGeometry g) { return service.scrollingViewport(g); }, text,
            ScrollingCaptureLimits::production, ScrollingCaptureEnvironment::live(), frames.prepareFrame,
            frames.alignFrames, frames.frameDifference);

        std::optional<ScrollingCaptureResult> result;
        bool finished = false;
        // Waits as the program's own loop does: a loop polling without a wait would keep the main
        // thread on the processor, and under load the scheduler makes such a thread wait its turn,
        // which the probe would count as stalls of the capture.
        QEventLoop loop;
        MainThreadStallProbe probe;
        probe.start();
        QElapsedTimer timer;
        timer.start();
        Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
            try {
                Task<ScrollingCaptureResult> running = coordinator.run();
                Task<ScrollingCaptureResult> reading = coordinator.withRecognizedText(co_await running);
                result = co_await reading;
            } catch (...) { }
            finished = true;
            loop.quit();
        });
        if (!finished)
            loop.exec();
        const double seconds = timer.nsecsElapsed() / 1e9;
        const qint64 stall = probe.longestStallMs();
        target.stop();
        if (!result) {
            state.SkipWithError("the capture failed");
            return;
        }
        const CaptureDraft *draft = &result->draft;
        state.SetIterationTime(seconds);
        const double captured = double(draft->scrollingCapture->pixelHeight) / target.region().height();
        state.counters["screens"] = captured;
        state.counters["ms_per_screen"] = seconds * 1000.0 / captured;
        state.counters["tiles"] = double(draft->scrollingCapture->tiles.size());
        state.counters["longest_stall_ms"] = double(stall);
        const bool complete = result->end == ScrollingCaptureEnd::endOfContent;
        const int wrong = wrongRows(store, *draft, expected);
        const ScrollingCaptureTimes &times = coordinator.times();
        const auto perScreen = [captured](TaskClock::Duration d) {
            return std::chrono::duration<double, std::milli>(d).count() / captured;
        };
        const double total = seconds * 1000.0 / captured;
        const double staged
            = perScreen(times.waiting + times.grabbing + times.aligning + times.sealing + times.recognizing);
        state.counters["waiting_ms"] = perScreen(times.waiting);
        state.counters["grabbing_ms"] = perScreen(times.grabbing);
        state.counters["aligning_ms"] = perScreen(times.aligning);
        state.counters["sealing_ms"] = perScreen(times.sealing);
        state.counters["recognizing_ms"] = perScreen(times.recognizing);
        std::printf("summary: %s: %.1f screens of %dx%d in %.2f s, %.0f ms per screen: waiting %.0f, "
                    "grabbing %.0f, aligning %.0f, sealing %.0f, recognizing %.0f, other %.0f; "
                    "%.1f steps and %.1f grabs per screen, recognizer busy %.0f ms per screen; %d tiles, "
                    "longest main-thread stall %lld ms, %s; %d steps taken on a first look, %d taken again; "
                    "stitched %d rows of %d, %s\n",
            column.name, captured, target.region().width(), target.region().height(), seconds, total,
            perScreen(times.waiting), perScreen(times.grabbing), perScreen(times.aligning),
            perScreen(times.sealing), perScreen(times.recognizing), total - staged, times.steps / captured,
            times.frames / captured, recognizerNs / 1e6 / captured,
            int(draft->scrollingCapture->tiles.size()), (long long)stall,
            complete                                         ? "ended at the end of the content"
                : result->end == ScrollingCaptureEnd::paused ? "ended early: PAUSED"
                                                             : "ended early",
            times.firstLooks, times.retaken, draft->scrollingCapture->pixelHeight, expected.height(),
            wrong == 0      ? "every row as rendered"
                : wrong < 0 ? "WRONG: not the rendered height"
                            : qPrintable(QStringLiteral("WRONG: %1 rows differ").arg(wrong)));
    }
}

} // namespace

int main(int argc, char **argv)
{
    // As the program does.
    FreedMemory::keepHeapsSmall();
    PrivateXvfb server;
    if (!server.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qunsetenv("QT_QPA_PLATFORM");
    {
        QApplication app(argc, argv);
        if (qEnvironmentVariableIsEmpty("DOVRIN_TEST_BINARY_DIR"))
            qputenv("DOVRIN_TEST_BINARY_DIR",
                (app.applicationDirPath() + QStringLiteral("/../Tests")).toLocal8Bit());
        benchmark::Initialize(&argc, argv);
        const QString lines = QString::number(screens * viewport / lineHeight);
        // About as many rows as the plain column: runs of 33 cards, each after three numbered lines.
        const QString runs = QString::number(3 * screens * viewport / lineHeight / 102);
        // A few numbered lines, then identical 160-pixel blocks down to the end.
        const QString blocks = QStringLiteral("t6,b%1").arg((screens * viewport - 6 * lineHeight) / 160);
        static const Column columns[] = {
            { "plain column", { "--lines", lines } },
            { "plain column with recognition", { "--lines", lines }, true },
            { "repeated blocks", { "--pieces", blocks } },
            { "repeated blocks with recognition", { "--pieces", blocks }, true },
            { "identical cards", { "--lines", runs, "--cards", "99" } },
            { "identical cards with recognition", { "--lines", runs, "--cards", "99" }, true },
            { "1 s delay", { "--lines", lines, "--delay", "1000" } },
        };
        for (const Column &column : columns) {
            benchmark::RegisterBenchmark(
                (QByteArray("BM_Capture10Screens/") + column.name).constData(), capture, column)
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kSecond);
        }
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    return 0;
}
