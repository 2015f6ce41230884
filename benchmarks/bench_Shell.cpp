// The shell's costs on a private 1920x1080 X server with a real tray host (trayer):
//  - recognition_memory: resident memory of this process before a full-screen recognition, right
//    after it, and a minute later (counters before_MB, after_MB, minute_MB); first, while nothing
//    else has grown the heap;
//  - start_to_tray_icon: the built program started until its icon is docked in the tray; counter
//    rss_idle_MB is its resident memory three seconds later;
//  - shortcut_to_overlay: the global shortcut typed through XTest until the selection overlay is on
//    screen, through the hot key, the display stills and the overlay, as a region capture runs them.

#include "Async/Task.h"
#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "Capture/SelectionOverlay.h"
#include "PrivateXvfb.h"
#include "Services/HotKeyController.h"
#include "SyntheticKeyboard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <benchmark/benchmark.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {

double residentMB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Windows of the program under `window`, at any depth: a docked tray icon lives in the tray's panel.
int programWindowsBelow(Display *display, Window window)
{
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return 0;
    int found = 0;
    for (unsigned i = 0; i < count; ++i) {
        XClassHint hint {};
        if (XGetClassHint(display, children[i], &hint)) {
            found += qstrcmp(hint.res_class, "quorvel") == 0 ? 1 : 0;
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        found += programWindowsBelow(display, children[i]);
    }
    XFree(children);
    return found;
}

// The program's icons docked in trayer's panel.
int dockedIcons(Display *display)
{
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    int icons = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        XClassHint hint {};
        if (XGetClassHint(display, children[i], &hint)) {
            if (qstrcmp(hint.res_class, "trayer") == 0)
                icons += programWindowsBelow(display, children[i]);
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
    }
    XFree(children);
    return icons;
}

void runLoopFor(std::chrono::milliseconds time)
{
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
}

void startToTrayIcon(benchmark::State &state)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" }) {
        const QString folder = home.filePath(QString::fromLatin1(name));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QString::fromLatin1(name), folder);
    }
    Display *display = XOpenDisplay(nullptr);
    double idle = 0;
    for (auto _ : state) {
        QProcess quorvel;
        quorvel.setProcessEnvironment(environment);
        QElapsedTimer timer;
        timer.start();
        quorvel.start(QStringLiteral(DOVRIN_QUORVEL_PATH), {});
        quorvel.waitForStarted();
        while (dockedIcons(display) == 0 && timer.elapsed() < 20000)
            QThread::usleep(500);

        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        QThread::sleep(3);
        idle = std::max(idle, residentMB(quorvel.processId()));
        ::kill(pid_t(quorvel.processId()), SIGTERM);
        quorvel.waitForFinished(10000);
        while (dockedIcons(display) > 0)
            QThread::usleep(500);
    }
    state.counters["rss_idle_MB"] = idle;
    XCloseDisplay(display);
}

void shortcutToOverlay(benchmark::State &state)
{
    ScreenCaptureService capture;
    SelectionOverlayCoordinator overlay(
        DisplayChangeCenter::defaultCenter(), 120s, CaptureSelectionMode::region);
    Task<void> running;
    HotKeyController hotKey([&] {
        running = Task<void>::spawn(qApp, [&]() -> Task<void> {
            overlay.prepareForSnapshotCapture();
            const QList<DisplaySnapshot> stills
                = co_await capture.snapshots([&] { return overlay.screenChangeGeneration(); },
                    [&](quint64 generation) { overlay.setAcceptedSnapshotGeneration(generation); });
            try {
                co_await overlay.select(stills);
            } catch (...) { }
        });
    });
    if (hotKey.registerShortcut(CaptureShortcut::defaultShortcut()) != HotKeyRegistrationState::registered) {
        state.SkipWithError("the shortcut could not be registered");
        return;
    }
    SyntheticKeyboard keyboard;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        keyboard.chord({ XK_Alt_L, XK_Shift_L }, XK_c);
        auto shown = [&] {
            const QList<QWidget *> windows = overlay.windows();
            return !windows.isEmpty() && windows.first()->windowHandle()
                && windows.first()->windowHandle()->isExposed();
        };
        while (!shown() && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        overlay.cancel();
        while (!running.isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

void recognitionMemory(benchmark::State &state)
{
    QImage screen(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    screen.fill(Qt::white);
    QPainter painter(&screen);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(15);
    painter.setFont(font);
    painter.setPen(QColor(0x20, 0x20, 0x20));
    for (int row = 0; row < 40; ++row) {
        for (int column = 0; column < 3; ++column) {
            painter.drawText(40 + column * 620, 40 + row * 25,
                QStringLiteral("Row %1 of the quarterly report, column %2").arg(row).arg(column));
        }
    }
    painter.end();
    const qint64 self = QCoreApplication::applicationPid();
    double before = 0, after = 0, minute = 0;
    for (auto _ : state) {
        before = residentMB(self);
        OCRService ocr;
        const Task<OCRResult> reading
            = Task<OCRResult>::spawn(qApp, [&] { return ocr.recognizeText(screen); });
        while (!reading.isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        after = residentMB(self);
        runLoopFor(60s);
        minute = residentMB(self);
    }
    state.counters["before_MB"] = before;
    state.counters["after_MB"] = after;
    state.counters["minute_MB"] = minute;
}

} // namespace

int main(int argc, char **argv)
{
    PrivateXvfb xvfb;
    if (!xvfb.isRunning())
        return 1;
    qputenv("DISPLAY", xvfb.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"),
        { "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200", "--height", "24" });
    QApplication app(argc, argv);
    benchmark::RegisterBenchmark("recognition_memory", recognitionMemory)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("start_to_tray_icon", startToTrayIcon)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("shortcut_to_overlay", shortcutToOverlay)
        ->UseManualTime()
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    trayer.kill();
    trayer.waitForFinished();
    return 0;
}
