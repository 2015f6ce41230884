// Capture latency and processor time of recording one application that plays three streams.
// Needs a sound server (scripts/headless.sh) and the tone_player test helper (configure with
// DOVRIN_TESTS=ON): run from the build folder, or point DOVRIN_TEST_BINARY_DIR at the folder that holds
// tone_player.
#include "Audio/AudioCaptureApps.h"
#include "Platform/ProcessTapEngine.h"
#include "TonePlayers.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <mutex>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

qint64 onsetOf(QProcess &process)
{
    for (int i = 0; i < 50; ++i) {
        for (const QByteArray &line : process.peek(1 << 16).split('\n')) {
            if (line.startsWith("onset "))
                return line.mid(6).toLongLong();
        }
        process.waitForReadyRead(100);
    }
    return 0;
}

void oneApplicationThreeStreams(benchmark::State &state)
{
    QTemporaryDir root;
    const QString data = root.path() + QStringLiteral("/share");
    const QString program
        = installToneApplication(root.path(), data, QStringLiteral("bench-app"), QStringLiteral("Bench"));
    if (!QFileInfo(program).isExecutable()) {
        state.SkipWithError("tone_player not found");
        return;
    }
    qputenv("XDG_DATA_DIRS", data.toUtf8());

    TonePlayers keepers;
    keepers.keepSinksAwake();

    for (auto _ : state) {
        TonePlayers players;
        // Two streams of silence: mixing costs the same, and the third one's start stands out.
        players.start(program, { "--name", "Bench", "--freq", "0" });
        players.start(program, { "--name", "Bench", "--freq", "0" });
        const auto request = AudioCaptureApps::tapRequest(QStringLiteral("bench-app"), std::nullopt);
        if (!request) {
            state.SkipWithError("the application is not running");
            return;
        }
        ProcessTapEngine engine;
        engine.prepare(request);
        std::mutex lock;
        qint64 frames = 0;
        std::chrono::steady_clock::time_point onsetDelivered {};
        std::chrono::steady_clock::time_point onsetPlace {};
        std::atomic<bool> watchOnset { false };
        engine.activate([&](const AudioPCMBuffer &buffer) {
            std::lock_guard guard(lock);
            frames += buffer.frameCount();
            if (!watchOnset || onsetDelivered.time_since_epoch().count() != 0)
                return;
            const auto *samples = reinterpret_cast<const float *>(buffer.plane(0));
            for (qint64 i = 0; i < buffer.frameCount() * 2; ++i) {
                if (std::abs(samples[i]) > 0.02f) {
                    onsetDelivered = std::chrono::steady_clock::now();
                    onsetPlace = buffer.hostTime()
                        + std::chrono::nanoseconds(qint64(double(i / 2) * 1e9 / buffer.format().sampleRate));
                    break;
                }
            }
        });
        QThread::msleep(1000);
        watchOnset = true;
        QProcess *third = players.start(program, { "--name", "Bench", "--freq", "660", "--silence", "2" });
        const qint64 onset = third ? onsetOf(*third) : 0;
        while (engine.liveStreamCount() < 3)
            QThread::msleep(10);

        const double cpuBefore = cpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        QThread::msleep(5000);
        const double cpu = cpuSeconds() - cpuBefore;
        const double wall
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        state.counters["streams"] = engine.liveStreamCount();
        engine.stop();

        std::lock_guard guard(lock);
        state.counters["cpu_percent_of_one_core"] = 100 * cpu / wall;
        if (onset > 0 && onsetDelivered.time_since_epoch().count() != 0) {
            const auto heard = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(onset));
            state.counters["latency_heard_to_delivered_ms"]
                = std::chrono::duration<double, std::milli>(onsetDelivered - heard).count();
            state.counters["latency_heard_to_timeline_ms"]
                = std::chrono::duration<double, std::milli>(onsetPlace - heard).count();
        }
    }
}

// The main thread asks these when a session starts and when settings refresh.
void applicationQueries(benchmark::State &state)
{
    QTemporaryDir root;
    const QString data = root.path() + QStringLiteral("/share");
    qputenv("XDG_DATA_DIRS", (data + QStringLiteral(":/usr/local/share:/usr/share")).toUtf8());
    const QString program
        = installToneApplication(root.path(), data, QStringLiteral("bench-app"), QStringLiteral("Bench"));
    TonePlayers players;
    players.start(program, { "--name", "Bench", "--freq", "0" });
    for (auto _ : state) {
        if (state.range(0) == 0)
            benchmark::DoNotOptimize(AudioCaptureApps::tapRequest(QStringLiteral("bench-app"), std::nullopt));
        else
            benchmark::DoNotOptimize(AudioCaptureApps::listedApps());
    }
    state.SetLabel(state.range(0) == 0 ? "tapRequest" : "listedApps");
}

} // namespace

BENCHMARK(applicationQueries)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(oneApplicationThreeStreams)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("DOVRIN_TEST_BINARY_DIR"))
        qputenv(
            "DOVRIN_TEST_BINARY_DIR", (app.applicationDirPath() + QStringLiteral("/../Tests")).toLocal8Bit());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
