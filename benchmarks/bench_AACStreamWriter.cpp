// Ten minutes of 48 kHz stereo float through AACStreamWriter, beside the ffmpeg command encoding the
// same PCM to AAC at 192 kb/s; and ten minutes of a mono microphone stream. Counters give CPU seconds,
// the ratio to ffmpeg and the share of one core in real time.
//
// Run a Release build: build/release/benchmarks/bench_AACStreamWriter

#include "Audio/AACStreamWriter.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <random>
#include <vector>

extern char **environ;

namespace {

constexpr int rate = 48000;
constexpr int bufferFrames = 1024;
constexpr double seconds = 600;

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Ten seconds of a busy programme (drifting tones, a beat, some noise), looped for the whole run.
std::vector<float> programme(int channels)
{
    std::vector<float> samples(std::size_t(10 * rate * channels));
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    for (int i = 0; i < 10 * rate; ++i) {
        const double t = double(i) / rate;
        const double tone = 0.25 * std::sin(2 * M_PI * (220 + 40 * std::sin(t)) * t)
            + 0.15 * std::sin(2 * M_PI * 1320 * t) * (std::fmod(t, 0.5) < 0.1 ? 1 : 0.2);
        for (int c = 0; c < channels; ++c)
            samples[std::size_t(i * channels + c)] = float(tone * (c == 0 ? 1.0 : 0.8)) + noise(random);
    }
    return samples;
}

double writerCpuSeconds(const QString &path, int channels)
{
    const std::vector<float> source = programme(channels);
    const AudioStreamFormat format { double(rate), channels, AudioStreamFormat::SampleType::float32, true };
    const qint64 loopFrames = qint64(source.size()) / channels;
    const double begin = processCpuSeconds();
    {
        AACStreamWriter writer(path, format);
        for (qint64 frame = 0; frame < qint64(seconds * rate); frame += bufferFrames) {
            const void *planes[] = { source.data() + (frame % loopFrames) * channels };
            writer.append(AudioPCMBuffer(format, planes, bufferFrames));
        }
        benchmark::DoNotOptimize(writer.finish());
    }
    return processCpuSeconds() - begin;
}

// The ffmpeg command reads the same PCM from a pipe; its own CPU time comes from wait4.
double ffmpegCpuSeconds(const QString &path, const char *coder)
{
    const std::vector<float> source = programme(2);
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    const QByteArray output = QFile::encodeName(path);
    const char *argv[]
        = { "ffmpeg", "-nostdin", "-v", "error", "-f", "f32le", "-ar", "48000", "-ac", "2", "-i", "pipe:0",
              "-c:a", "aac", "-aac_coder", coder, "-b:a", "192k", "-y", output.constData(), nullptr };
    pid_t child = 0;
    if (posix_spawnp(&child, "ffmpeg", &actions, nullptr, const_cast<char **>(argv), environ) != 0)
        return -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[0]);
    const qint64 loopBytes = qint64(source.size()) * 4;
    const auto *bytes = reinterpret_cast<const char *>(source.data());
    for (qint64 written = 0, total = qint64(seconds * rate) * 2 * 4; written < total;) {
        const qint64 offset = written % loopBytes;
        const ssize_t n
            = write(pipeFds[1], bytes + offset, std::size_t(std::min(loopBytes - offset, total - written)));
        if (n <= 0)
            break;
        written += n;
    }
    close(pipeFds[1]);
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6
        + double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
}

void BM_TenMinutesStereoBesideFfmpeg(benchmark::State &state)
{
    QTemporaryDir dir;
    for (auto _ : state) {
        const double ours = writerCpuSeconds(dir.filePath(QStringLiteral("ours_others.m4a")), 2);
        // The command as anyone would type it (the encoder's default search), and with the search the
        // writer uses.
        const double theirs = ffmpegCpuSeconds(dir.filePath(QStringLiteral("theirs.m4a")), "twoloop");
        const double theirsFast = ffmpegCpuSeconds(dir.filePath(QStringLiteral("theirs-fast.m4a")), "fast");
        if (theirs <= 0 || theirsFast <= 0) {
            state.SkipWithError("the ffmpeg command failed");
            return;
        }
        state.SetIterationTime(ours);
        state.counters["writer_cpu_s"] = ours;
        state.counters["ffmpeg_cpu_s"] = theirs;
        state.counters["ratio"] = ours / theirs;
        state.counters["ffmpeg_fast_cpu_s"] = theirsFast;
        state.counters["ratio_same_search"] = ours / theirsFast;
        state.counters["core_percent"] = 100.0 * ours / seconds;
    }
}
BENCHMARK(BM_TenMinutesStereoBesideFfmpeg)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

// The microphone side of a session: mono.
void BM_TenMinutesMono(benchmark::State &state)
{
    QTemporaryDir dir;
    for (auto _ : state) {
        const double ours = writerCpuSeconds(dir.filePath(QStringLiteral("ours_you.m4a")), 1);
        state.SetIterationTime(ours);
        state.counters["writer_cpu_s"] = ours;
        state.counters["core_percent"] = 100.0 * ours / seconds;
    }
}
BENCHMARK(BM_TenMinutesMono)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
