// A whole scrolling capture of a 20-screen column in the scroll_target window (built with the tests),
// on an X server of its own: time per screen, with and without text recognition.
//
// Needs Xvfb and the tests' helper build/<dir>/Tests/scroll_target (configure with DOVRIN_TESTS=ON).
#include "OCRService.h"
#include "ScreenCaptureService.h"
#include "ScrollingCaptureCoordinator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int screens = 20;
constexpr int lineHeight = 26; // scroll_target's

pid_t xvfb = 0;

QString startXvfb()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return QString();
    xvfb = ::fork();
    if (xvfb == 0) {
        const QByteArray fd = QByteArray::number(fds[1]);
        ::close(fds[0]);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDERR_FILENO);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1920x1080x24", "-nolisten",
            "tcp", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    QByteArray number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number.append(c);
    ::close(fds[0]);
    return number.isEmpty() ? QString() : QStringLiteral(":") + QString::fromLatin1(number);
}

struct Target
{
    QProcess process;
    quint64 window = 0;
    QRect region;
};

bool startTarget(Target &target, int lines)
{
    const QString program
        = QCoreApplication::applicationDirPath() + QStringLiteral("/../Tests/scroll_target");
    target.process.start(
        program, { "--lines", QString::number(lines), "--size", "1000x1000", "--pos", "20,20" });
    if (!target.process.waitForStarted(5000))
        return false;
    QString output;
    for (int i = 0; i < 100 && !output.contains('\n'); ++i) {
        target.process.waitForReadyRead(100);
        output += QString::fromUtf8(target.process.readAllStandardOutput());
    }
    const auto match
        = QRegularExpression("ready window=(\\d+) region=(\\d+),(\\d+),(\\d+),(\\d+)").match(output);
    if (!match.hasMatch())
        return false;
    target.window = match.captured(1).toULongLong();
    target.region = QRect(match.captured(2).toInt(), match.captured(3).toInt(), match.captured(4).toInt(),
        match.captured(5).toInt());
    return true;
}

void capture(benchmark::State &state, bool recognize)
{
    for (auto _ : state) {
        Target target;
        const int viewport = 1000;
        if (!startTarget(target, screens * viewport / lineHeight)) {
            state.SkipWithError("scroll_target did not start");
            return;
        }
        QTemporaryDir dir;
        EncryptedDraftStore store(dir.path(), QByteArray(32, '\x42'));
        ScreenCaptureService service;
        OCRService ocr;
        QScreen *screen = QGuiApplication::primaryScreen();
        ScrollingRegionGeometry geometry;
        geometry.displayID = ScreenCaptureService::displayID(screen);
        geometry.displayFrame = screen->geometry();
        geometry.globalRect = QRectF(target.region);
        geometry.pixelRect = target.region;
        geometry.displayPixelSize = screen->geometry().size();
        ScrollingCaptureTarget window;
        window.bundleID = QStringLiteral("scroll_target");
        window.windowID = target.window;
        ScrollingCaptureCoordinator::RecognizeText text
            = [&ocr](QImage image) { return ocr.recognizeText(std::move(image)); };
        if (!recognize)
            text = [](QImage) -> Task<OCRResult> { co_return OCRResult {}; };
        const auto frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
        ScrollingCaptureCoordinator coordinator(
            geometry, window, QUuid::createUuid(), store,
            [&service](ScrollingRegionGeometry g) { return service.scrollingViewport(g); }, text,
            ScrollingCaptureLimits::production, ScrollingCaptureEnvironment::live(), frames.prepareFrame,
            frames.alignFrames, frames.frameDifference);

        std::optional<CaptureDraft> draft;
        bool finished = false;
        QElapsedTimer timer;
        timer.start();
        Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
            try {
                Task<CaptureDraft> running = coordinator.run();
                draft = co_await running;
            } catch (...) { }
            finished = true;
        });
        while (!finished)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const double seconds = timer.nsecsElapsed() / 1e9;
        target.process.write("quit\n");
        target.process.waitForFinished(5000);
        if (!draft) {
            state.SkipWithError("the capture failed");
            return;
        }
        state.SetIterationTime(seconds);
        const double captured = double(draft->scrollingCapture->pixelHeight) / target.region.height();
        state.counters["screens"] = captured;
        state.counters["ms_per_screen"] = seconds * 1000.0 / captured;
        state.counters["tiles"] = double(draft->scrollingCapture->tiles.size());
        std::printf("summary: %s: %.1f screens of %dx%d in %.2f s, %.0f ms per screen, %d tiles\n",
            recognize ? "with recognition" : "scrolling and stitching only", captured, target.region.width(),
            target.region.height(), seconds, seconds * 1000.0 / captured,
            int(draft->scrollingCapture->tiles.size()));
    }
}

} // namespace

int main(int argc, char **argv)
{
    const QString display = startXvfb();
    if (display.isEmpty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", display.toLocal8Bit());
    qunsetenv("QT_QPA_PLATFORM");
    int status = 0;
    {
        QApplication app(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RegisterBenchmark("BM_Capture20Screens/stitching", capture, false)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
        benchmark::RegisterBenchmark("BM_Capture20Screens/with_recognition", capture, true)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    ::kill(xvfb, SIGTERM);
    ::waitpid(xvfb, &status, 0);
    return 0;
}
