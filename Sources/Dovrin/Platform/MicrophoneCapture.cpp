#include "Platform/MicrophoneCapture.h"

#include "Platform/PulseConnection.h"
#include "Platform/PulseReconnect.h"
#include "Platform/StreamPositionClock.h"

#include <mutex>
#include <vector>

namespace {

constexpr std::chrono::milliseconds fragment { 20 };

AudioCaptureError startFailed()
{
    return AudioCaptureError(MicrophoneCapture::startFailedText());
}

} // namespace

class MicrophoneCapture::Impl
{
public:
    ~Impl() { connection.reset(); }

    std::mutex lock; // guards the fields up to `format`
    bool running = false;
    bool stopped = false;
    std::shared_ptr<PulseConnection> connection;
    QString source; // the chosen source, or empty for the default
    QString resolvedSource;
    AudioStreamFormat format;
    std::unique_ptr<PulseReconnect> reconnection;

    // Main loop side, under its lock (the current connection's).
    pa_stream *stream = nullptr;
    bool ended = false;
    std::vector<std::byte> hole;
    std::optional<StreamPositionClock> clock;
    // Set before the first stream opens and kept until the capture stops.
    BufferCallback onBuffer;

    // With the connection's lock held: a record stream on the source, once it is ready.
    bool openStream(PulseConnection &on);
    // The reconnection's thread: the stream again, on a new connection.
    bool reconnect(std::shared_ptr<PulseConnection> fresh);

    void release()
    {
        if (!stream)
            return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY || state == PA_STREAM_CREATING)
            pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
};

bool MicrophoneCapture::Impl::openStream(PulseConnection &on)
{
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, uint32_t(format.sampleRate),
        uint8_t(format.channelCount) };
    stream = pa_stream_new(on.context(), "Quorvel You", &spec, nullptr);
    if (!stream)
        return false;
    ended = false;
    // A new stream starts a new stretch of the recording: its first buffer says where.
    clock.emplace(format.sampleRate);
    pa_stream_set_state_callback(
        stream,
        [](pa_stream *stream, void *userdata) {
            auto *impl = static_cast<Impl *>(userdata);
            const pa_stream_state_t state = pa_stream_get_state(stream);
            if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
                impl->ended = true;
            impl->connection->signal();
        },
        this);
    pa_stream_set_read_callback(
        stream,
        [](pa_stream *stream, size_t, void *userdata) {
            auto *impl = static_cast<Impl *>(userdata);
            const AudioStreamFormat &format = impl->format;
            while (pa_stream_readable_size(stream) > 0) {
                const void *data = nullptr;
                size_t bytes = 0;
                if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                    return;
                const qint64 frames = qint64(bytes) / (format.bytesPerFrameInPlane());
                if (frames > 0 && impl->onBuffer) {
                    // A hole is time the source gave nothing for: silence of that length.
                    if (!data) {
                        impl->hole.assign(bytes, std::byte {});
                        data = impl->hole.data();
                    }
                    const void *planes[] = { data };
                    impl->onBuffer(AudioPCMBuffer(format, planes, frames,
                        impl->clock->stamp(frames, std::chrono::steady_clock::now())));
                }
                pa_stream_drop(stream);
            }
        },
        this);

    const pa_buffer_attr attributes = recordBufferAttributes(fragment, spec);
    auto flags = PA_STREAM_ADJUST_LATENCY;
    if (!source.isEmpty())
        flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(
            stream, source.isEmpty() ? nullptr : source.toUtf8().constData(), &attributes, flags)
        < 0) {
        release();
        return false;
    }
    on.waitUntil([&] { return !stream || pa_stream_get_state(stream) != PA_STREAM_CREATING; });
    if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY) {
        release();
        return false;
    }
    return true;
}

bool MicrophoneCapture::Impl::reconnect(std::shared_ptr<PulseConnection> fresh)
{
    std::shared_ptr<PulseConnection> old;
    {
        std::lock_guard guard(lock);
        if (stopped)
            return false;
        old = connection;
    }
    if (old) {
        PulseConnection::Locker oldLock(*old);
        release();
    }
    {
        std::lock_guard guard(lock);
        if (stopped)
            return false;
        connection = fresh;
    }
    bool opened = false;
    {
        PulseConnection::Locker freshLock(*fresh);
        reconnection->watch(*fresh);
        // A source the server has not set up again yet fails here; the next attempt tries it again.
        opened = openStream(*fresh);
    }
    // The old connection's main loop ends here, off its own thread, its stream already let go.
    old.reset();
    return opened;
}

QString MicrophoneCapture::startFailedText()
{
    return QStringLiteral("The microphone could not start");
}

MicrophoneCapture::MicrophoneCapture()
    : d(std::make_shared<Impl>())
{ }

MicrophoneCapture::~MicrophoneCapture()
{
    stop();
}

AudioStreamFormat MicrophoneCapture::prepare(const std::optional<QString> &deviceUID)
{
    {
        std::lock_guard guard(d->lock);
        if (d->stopped || d->running)
            throw startFailed();
    }
    if (!PulseConnection::serverConfigured())
        throw startFailed();
    std::shared_ptr<PulseConnection> connection = PulseConnection::open(QStringLiteral("Quorvel You"));
    if (!connection)
        throw startFailed();
    const auto server = connection->serverInfo();
    const auto sources = connection->sources();
    if (!server || !sources)
        throw startFailed();
    const bool chosen = deviceUID && !deviceUID->isEmpty();
    const QString wanted = chosen ? *deviceUID : server->defaultSourceName;
    const auto source = std::find_if(sources->cbegin(), sources->cend(),
        [&](const PulseSourceInfo &candidate) { return candidate.name == wanted; });
    // Never the monitor of an output: that would record what plays, not the user.
    if (source == sources->cend() || source->isMonitor() || source->channels < 1)
        throw startFailed();

    AudioStreamFormat format;
    format.sampleRate = source->rate > 0 ? double(source->rate) : 48000.0;
    format.channelCount = std::min(source->channels, 2);
    format.sampleType = AudioStreamFormat::SampleType::float32;
    format.interleaved = true;
    if (!format.isValid())
        throw startFailed();

    std::lock_guard guard(d->lock);
    if (d->stopped)
        throw startFailed();
    d->connection = connection;
    d->source = chosen ? *deviceUID : QString();
    d->resolvedSource = source->name;
    d->format = format;
    return format;
}

void MicrophoneCapture::start(BufferCallback onBuffer)
{
    std::shared_ptr<PulseConnection> connection;
    {
        std::lock_guard guard(d->lock);
        if (d->running)
            return;
        if (d->stopped || !d->connection)
            throw startFailed();
        connection = d->connection;
        d->running = true;
        Impl *impl = d.get();
        d->reconnection = std::make_unique<PulseReconnect>(QStringLiteral("Quorvel You"),
            [impl](std::shared_ptr<PulseConnection> fresh) { return impl->reconnect(std::move(fresh)); });
    }

    PulseConnection::Locker lock(*connection);
    {
        std::lock_guard guard(d->lock);
        if (d->stopped) {
            d->running = false;
            throw startFailed();
        }
    }
    d->onBuffer = std::move(onBuffer);
    if (!d->openStream(*connection)) {
        d->onBuffer = nullptr;
        std::lock_guard guard(d->lock);
        d->running = false;
        throw startFailed();
    }
    d->reconnection->watch(*connection);
}

void MicrophoneCapture::stop()
{
    std::shared_ptr<PulseConnection> connection;
    PulseReconnect *reconnection = nullptr;
    {
        std::lock_guard guard(d->lock);
        d->stopped = true;
        d->running = false;
        reconnection = d->reconnection.get();
    }
    // Waits for a reconnection in progress, which then finds the capture stopped.
    if (reconnection)
        reconnection->stop();
    {
        std::lock_guard guard(d->lock);
        connection = d->connection;
    }
    if (!connection)
        return;
    connection->abort();
    // The read callback runs under this lock: once we hold it, no buffer is being delivered.
    PulseConnection::Locker lock(*connection);
    d->release();
    d->onBuffer = nullptr;
}

bool MicrophoneCapture::hasEnded() const
{
    std::shared_ptr<PulseConnection> connection;
    {
        std::lock_guard guard(d->lock);
        connection = d->connection;
    }
    if (!connection)
        return false;
    PulseConnection::Locker lock(*connection);
    return d->ended;
}

std::optional<std::chrono::steady_clock::time_point> MicrophoneCapture::serverLostSince() const
{
    std::lock_guard guard(d->lock);
    if (!d->reconnection)
        return std::nullopt;
    return d->reconnection->lostSince();
}

QString MicrophoneCapture::sourceName() const
{
    std::lock_guard guard(d->lock);
    return d->resolvedSource;
}
