#include "Platform/MicrophoneCapture.h"

#include "Platform/PulseConnection.h"
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

    // Main loop side, under its lock.
    pa_stream *stream = nullptr;
    BufferCallback onBuffer;
    bool ended = false;
    std::vector<std::byte> hole;
    std::optional<StreamPositionClock> clock;

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
        onBuffer = nullptr;
    }
};

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
    QString source;
    AudioStreamFormat format;
    {
        std::lock_guard guard(d->lock);
        if (d->running)
            return;
        if (d->stopped || !d->connection)
            throw startFailed();
        connection = d->connection;
        source = d->source;
        format = d->format;
        d->running = true;
    }

    PulseConnection::Locker lock(*connection);
    const auto fail = [&] {
        d->release();
        std::lock_guard guard(d->lock);
        d->running = false;
        return startFailed();
    };
    {
        std::lock_guard guard(d->lock);
        if (d->stopped) {
            d->running = false;
            throw startFailed();
        }
    }
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, uint32_t(format.sampleRate),
        uint8_t(format.channelCount) };
    d->stream = pa_stream_new(connection->context(), "Quorvel You", &spec, nullptr);
    if (!d->stream)
        throw fail();
    d->onBuffer = std::move(onBuffer);
    d->clock.emplace(format.sampleRate);
    pa_stream_set_state_callback(
        d->stream,
        [](pa_stream *stream, void *userdata) {
            auto *impl = static_cast<Impl *>(userdata);
            const pa_stream_state_t state = pa_stream_get_state(stream);
            if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
                impl->ended = true;
            impl->connection->signal();
        },
        d.get());
    pa_stream_set_read_callback(
        d->stream,
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
        d.get());

    const pa_buffer_attr attributes = recordBufferAttributes(fragment, spec);
    auto flags = PA_STREAM_ADJUST_LATENCY;
    if (!source.isEmpty())
        flags = pa_stream_flags_t(flags | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(
            d->stream, source.isEmpty() ? nullptr : source.toUtf8().constData(), &attributes, flags)
        < 0)
        throw fail();
    connection->waitUntil([&] { return !d->stream || pa_stream_get_state(d->stream) != PA_STREAM_CREATING; });
    if (!d->stream || pa_stream_get_state(d->stream) != PA_STREAM_READY)
        throw fail();
}

void MicrophoneCapture::stop()
{
    std::shared_ptr<PulseConnection> connection;
    {
        std::lock_guard guard(d->lock);
        d->stopped = true;
        d->running = false;
        connection = d->connection;
    }
    if (!connection)
        return;
    connection->abort();
    // The read callback runs under this lock: once we hold it, no buffer is being delivered.
    PulseConnection::Locker lock(*connection);
    d->release();
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

QString MicrophoneCapture::sourceName() const
{
    std::lock_guard guard(d->lock);
    return d->resolvedSource;
}
