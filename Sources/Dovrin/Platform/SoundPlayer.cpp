#include "Platform/SoundPlayer.h"

#include "Platform/PulseConnection.h"

#include <algorithm>
#include <cstring>
#include <deque>

struct SoundPlayer::Impl
{
    // On the main loop's thread, lock held.
    static void fill(pa_stream *stream, size_t bytes, void *userdata);

    std::unique_ptr<PulseConnection> connection;
    pa_stream *stream = nullptr;
    std::deque<float> pending; // under the main loop's lock
};

SoundPlayer::SoundPlayer()
    : d(std::make_unique<Impl>())
{ }

SoundPlayer::~SoundPlayer()
{
    close();
}

bool SoundPlayer::open()
{
    d->connection = PulseConnection::open(QStringLiteral("Quorvel self-test sound"));
    if (!d->connection)
        return false;
    PulseConnection::Locker lock(*d->connection);
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, sampleRate, 1 };
    d->stream = pa_stream_new(d->connection->context(), "Quorvel self-test sound", &spec, nullptr);
    if (!d->stream)
        return false;
    pa_stream_set_write_callback(d->stream, &Impl::fill, d.get());
    pa_stream_set_state_callback(
        d->stream,
        [](pa_stream *, void *connection) { static_cast<PulseConnection *>(connection)->signal(); },
        d->connection.get());
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);
    attributes.tlength = uint32_t(pa_usec_to_bytes(40 * PA_USEC_PER_MSEC, &spec));
    if (pa_stream_connect_playback(
            d->stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr)
        < 0)
        return false;
    d->connection->waitUntil([this] { return pa_stream_get_state(d->stream) != PA_STREAM_CREATING; });
    return pa_stream_get_state(d->stream) == PA_STREAM_READY;
}

void SoundPlayer::play(const std::vector<float> &sound)
{
    if (!d->connection)
        return;
    PulseConnection::Locker lock(*d->connection);
    d->pending.insert(d->pending.end(), sound.cbegin(), sound.cend());
}

void SoundPlayer::close()
{
    if (!d->connection)
        return;
    {
        PulseConnection::Locker lock(*d->connection);
        if (d->stream) {
            pa_stream_set_write_callback(d->stream, nullptr, nullptr);
            pa_stream_set_state_callback(d->stream, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(d->stream)))
                pa_stream_disconnect(d->stream);
            pa_stream_unref(d->stream);
            d->stream = nullptr;
        }
        d->pending.clear();
    }
    d->connection.reset();
}

void SoundPlayer::Impl::fill(pa_stream *stream, size_t bytes, void *userdata)
{
    auto *self = static_cast<Impl *>(userdata);
    std::vector<float> block(bytes / sizeof(float), 0.0f);
    const auto queued = std::ptrdiff_t(std::min(block.size(), self->pending.size()));
    std::copy_n(self->pending.cbegin(), queued, block.begin());
    self->pending.erase(self->pending.cbegin(), self->pending.cbegin() + queued);
    if (!block.empty())
        pa_stream_write(stream, block.data(), block.size() * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
}
