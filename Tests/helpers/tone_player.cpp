// Plays a sine tone through the sound server under a given application name, for the capture tests.
//   tone_player --name NAME --freq HZ [--device SINK] [--seconds S] [--silence S] [--child PROGRAM ARGS...]
// --seconds: how long the tone plays (default: until killed). --silence: silence played first; the
// moment the tone will be heard is printed as "onset <steady-clock ns>". --child: starts PROGRAM with the
// remaining arguments as a child process first. Prints "ready" once the stream plays.
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Player
{
    double frequency = 440;
    double seconds = -1;
    double silence = 0;
    long long frame = 0;
    bool announcedOnset = false;
    bool finished = false;
    pa_mainloop *loop = nullptr;
};

constexpr int rate = 48000;

void write(pa_stream *stream, size_t bytes, void *userdata)
{
    auto *player = static_cast<Player *>(userdata);
    std::vector<float> samples(bytes / sizeof(float));
    const long long silenceFrames = (long long)(player->silence * rate);
    const long long endFrame = player->seconds < 0 ? -1 : silenceFrames + (long long)(player->seconds * rate);
    const long long firstFrame = player->frame;
    for (float &sample : samples) {
        const long long f = player->frame++;
        if (f < silenceFrames || (endFrame >= 0 && f >= endFrame)) {
            sample = 0;
            continue;
        }
        if (!player->announcedOnset) {
            player->announcedOnset = true;
            // When the tone will be heard: after what the server still holds, and what precedes it here.
            pa_usec_t queued = 0;
            int negative = 0;
            if (pa_stream_get_latency(stream, &queued, &negative) < 0 || negative)
                queued = 0;
            const long long ahead = (long long)queued * 1000 + (f - firstFrame) * 1000000000LL / rate;
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::printf("onset %lld\n",
                (long long)std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() + ahead);
            std::fflush(stdout);
        }
        sample = float(0.3 * std::sin(2 * M_PI * player->frequency * double(f - silenceFrames) / rate));
    }
    pa_stream_write(stream, samples.data(), samples.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
    if (endFrame >= 0 && player->frame >= endFrame + rate / 5)
        player->finished = true;
}

} // namespace

int main(int argc, char **argv)
{
    std::string name = "tone_player";
    std::string device;
    Player player;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--name" && i + 1 < argc) {
            name = argv[++i];
        } else if (arg == "--freq" && i + 1 < argc) {
            player.frequency = std::atof(argv[++i]);
        } else if (arg == "--seconds" && i + 1 < argc) {
            player.seconds = std::atof(argv[++i]);
        } else if (arg == "--device" && i + 1 < argc) {
            device = argv[++i];
        } else if (arg == "--silence" && i + 1 < argc) {
            player.silence = std::atof(argv[++i]);
        } else if (arg == "--child" && i + 1 < argc) {
            const pid_t child = fork();
            if (child == 0) {
                execv(argv[i + 1], argv + i + 1);
                _exit(127);
            }
            std::printf("child %d\n", int(child));
            std::fflush(stdout);
            break;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    player.loop = pa_mainloop_new();
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, name.c_str());
    pa_context *context
        = pa_context_new_with_proplist(pa_mainloop_get_api(player.loop), name.c_str(), properties);
    pa_proplist_free(properties);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return 2;
    while (pa_context_get_state(context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))
            || pa_mainloop_iterate(player.loop, 1, nullptr) < 0)
            return 2;
    }
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, rate, 1 };
    pa_stream *stream = pa_stream_new(context, "tone", &spec, nullptr);
    pa_stream_set_write_callback(stream, &write, &player);
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);
    attributes.tlength = uint32_t(pa_usec_to_bytes(20 * PA_USEC_PER_MSEC, &spec));
    if (pa_stream_connect_playback(stream, device.empty() ? nullptr : device.c_str(), &attributes,
            pa_stream_flags_t(
                PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE),
            nullptr, nullptr)
        < 0)
        return 3;
    bool announced = false;
    while (!player.finished) {
        if (pa_mainloop_iterate(player.loop, 1, nullptr) < 0)
            return 4;
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (!PA_STREAM_IS_GOOD(state))
            return 4;
        if (state == PA_STREAM_READY && !announced) {
            announced = true;
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
    pa_operation *drain = pa_stream_drain(stream, nullptr, nullptr);
    while (drain && pa_operation_get_state(drain) == PA_OPERATION_RUNNING)
        pa_mainloop_iterate(player.loop, 1, nullptr);
    if (drain)
        pa_operation_unref(drain);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(player.loop);
    return 0;
}
