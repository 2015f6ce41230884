// Capture latency and processor time of recording one application that plays three streams.
// Needs a sound server (scripts/headless.sh) and the tone_player test helper: run from the build
// folder, or point DOVRIN_TEST_BINARY_DIR at the folder that holds tone_player.
#include "AudioCaptureApps.h"
#include "ProcessTapEngine.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString toneProgram()
{
    QString dir = qEnvironmentVariable("DOVRIN_TEST_BINARY_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../Tests");
    return dir + QStringLiteral("/tone_player");
}

std::unique_ptr<QProcess> play(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->start(program, arguments);
    process->waitForStarted(5000);
    while (process->state() == QProcess::Running && !process->peek(1 << 16).contains("ready\n"))
        process->waitForReadyRead(100);
    return process;
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
    QDir().mkpath(data + QStringLiteral("/applications"));
    QDir().mkpath(root.path() + QStringLiteral("/app"));
    const QString program = root.path() + QStringLiteral("/app/bench-app");
    if (!QFile::copy(toneProgram(), program)) {
        state.SkipWithError("tone_player not found");
        return;
    }
    QFile entry(data + QStringLiteral("/applications/bench-app.desktop"));
    entry.open(QIODevice::WriteOnly);
    entry.write(
        QStringLiteral("[Desktop Entry]\nType=Application\nName=Bench\nExec=%1\n").arg(program).toUtf8());
    entry.close();
    qputenv("XDG_DATA_DIRS", data.toUtf8());

    // Idle null sinks render in long blocks; a low-latency player keeps them as quick as a card.
    auto keeper = play(toneProgram(), { "--name", "Keeper", "--freq", "0" });
    QThread::msleep(2100);

    for (auto _ : state) {
        std::vector<std::unique_ptr<QProcess>> players;
        // Two streams of silence: mixing costs the same, and the third one's start stands out.
        players.push_back(play(program, { "--name", "Bench", "--freq", "0" }));
        players.push_back(play(program, { "--name", "Bench", "--freq", "0" }));
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
        players.push_back(play(program, { "--name", "Bench", "--freq", "660", "--silence", "2" }));
        const qint64 onset = onsetOf(*players.back());
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
        for (auto &player : players) {
            player->kill();
            player->waitForFinished(2000);
        }
    }
    keeper->kill();
    keeper->waitForFinished(2000);
}

// The main thread asks these when a session starts and when settings refresh.
void applicationQueries(benchmark::State &state)
{
    QTemporaryDir root;
    const QString data = root.path() + QStringLiteral("/share");
    qputenv("XDG_DATA_DIRS", (data + QStringLiteral(":/usr/local/share:/usr/share")).toUtf8());
    QDir().mkpath(data + QStringLiteral("/applications"));
    QFile::copy(toneProgram(), root.path() + QStringLiteral("/bench-app"));
    QFile entry(data + QStringLiteral("/applications/bench-app.desktop"));
    entry.open(QIODevice::WriteOnly);
    entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Bench\nExec=%1/bench-app\n")
                    .arg(root.path())
                    .toUtf8());
    entry.close();
    auto player = play(root.path() + QStringLiteral("/bench-app"), { "--name", "Bench", "--freq", "0" });
    for (auto _ : state) {
        if (state.range(0) == 0)
            benchmark::DoNotOptimize(AudioCaptureApps::tapRequest(QStringLiteral("bench-app"), std::nullopt));
        else
            benchmark::DoNotOptimize(AudioCaptureApps::listedApps());
    }
    state.SetLabel(state.range(0) == 0 ? "tapRequest" : "listedApps");
    player->kill();
    player->waitForFinished(2000);
}

} // namespace

BENCHMARK(applicationQueries)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(oneApplicationThreeStreams)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
