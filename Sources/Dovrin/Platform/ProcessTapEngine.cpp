#include "Platform/ProcessTapEngine.h"

#include "Platform/AudioAppFamily.h"
#include "Platform/PulseConnection.h"
#include "Platform/PulseReconnect.h"

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int captureRate = 48000;
constexpr int captureChannels = 2;
constexpr std::chrono::milliseconds fragment { 10 };
// One onBuffer call carries at most this much, however long the mixer was held up.
constexpr qint64 maximumFramesPerBuffer = captureRate / 10;

qint64 framesIn(std::chrono::nanoseconds duration)
{
    return qint64(duration.count() / 1000) * captureRate / 1000000;
}

// Samples of one stream, waiting to be mixed.
class SampleQueue
{
public:
    explicit SampleQueue(qint64 capacityFrames)
        : m_samples(std::size_t(capacityFrames * captureChannels))
    { }

    qint64 frames() const { return m_size / captureChannels; }

    void push(const float *samples, qint64 count)
    {
        const qint64 capacity = qint64(m_samples.size());
        if (count > capacity) {
            if (samples)
                samples += count - capacity;
            count = capacity;
        }
        const qint64 overflow = m_size + count - capacity;
        if (overflow > 0)
            dropSamples(overflow);
        for (qint64 i = 0; i < count; ++i)
            m_samples[std::size_t((m_head + m_size + i) % capacity)] = samples ? samples[i] : 0.0f;
        m_size += count;
    }

    void dropFrames(qint64 frames) { dropSamples(std::min(m_size, frames * captureChannels)); }

    // Adds up to `frames` frames into `mix` and answers how many it had.
    qint64 mixInto(float *mix, qint64 frames)
    {
        const qint64 count = std::min(m_size, frames * captureChannels);
        const qint64 capacity = qint64(m_samples.size());
        for (qint64 i = 0; i < count; ++i)
            mix[i] += m_samples[std::size_t((m_head + i) % capacity)];
        dropSamples(count);
        return count / captureChannels;
    }

private:
    void dropSamples(qint64 count)
    {
        m_head = (m_head + count) % qint64(m_samples.size());
        m_size -= count;
    }

    std::vector<float> m_samples;
    qint64 m_head = 0;
    qint64 m_size = 0;
};

// One recorded sound stream. The server's side (the pa_stream) belongs to the main loop's thread;
// the queue and flags are shared with the mixer under the engine's mix lock.
struct Follower
{
    ProcessTapEngine::Impl *engine = nullptr;
    PulseConnection *connection = nullptr;
    pa_stream *stream = nullptr;
    quint32 playback = PA_INVALID_INDEX; // the followed playback stream; none for an output's monitor
    QString sinkName; // the output whose monitor is recorded, for the whole system
    SampleQueue queue { captureRate * 2 };
    bool ended = false;
    bool mixing = false;
    int failure = PA_OK;
    // The least audio the queue held at a mix during the current window, and the window's length.
    qint64 lowest = std::numeric_limits<qint64>::max();
    qint64 window = 0;
};

} // namespace

class ProcessTapEngine::Impl
{
public:
    explicit Impl(Timing timing)
        : timing(timing)
    { }
    ~Impl()
    {
        // First, while every field is still there: no server reply or event arrives after this.
        connection.reset();
    }

    // Main loop thread, lock held.
    void handleEvent(pa_subscription_event_type_t type, quint32 index);
    void followPlayback(const PulsePlaybackInfo &playback, const QString &monitorSource);
    std::shared_ptr<Follower> followSink(const QString &sinkName, const QString &monitorSource);
    bool followsLivePlayback(quint32 index) const;
    bool followsLiveSink(const QString &sinkName) const;
    std::shared_ptr<Follower> connectFollower(std::shared_ptr<Follower> follower, const QString &source);
    void releaseEndedStreams();
    // Lets go of every stream of the connection; what they still hold is mixed before they go.
    void releaseStreams();
    void releaseAllStreams();

    // Any thread.
    void mixLoop(BufferCallback onBuffer);
    // Starts recording what the engine records on `connection`: the default output's monitor, or every
    // playback stream of the family. Throws AudioCaptureError.
    void followSources(const std::shared_ptr<PulseConnection> &connection);
    // The reconnection's thread: the engine's streams again on a new connection after the server came
    // back; false when that did not work or the engine stopped.
    bool reconnect(std::shared_ptr<PulseConnection> connection);
    void subscribe(PulseConnection &connection);
    void queryAndFollowPlayback(quint32 index);
    void switchToDefaultSink();

    const Timing timing;

    std::mutex lock; // guards the fields up to `mixer`
    bool prepared = false;
    bool running = false;
    bool stopped = false;
    std::shared_ptr<PulseConnection> connection;
    std::thread mixer;
    std::unique_ptr<PulseReconnect> reconnection;

    // Fixed once prepared.
    std::optional<AudioAppFamily> family;
    bool wholeSystem = false;

    // Main loop side, under the main loop's lock.
    bool activated = false;
    bool tornDown = false;
    std::vector<std::shared_ptr<Follower>> streams;
    QString currentSink;

    // Mixer side.
    std::mutex mixLock;
    std::condition_variable wake;
    bool stopMixing = false;
    std::vector<std::shared_ptr<Follower>> mixed;
};

namespace {

void streamStateChanged(pa_stream *stream, void *userdata)
{
    auto *follower = static_cast<Follower *>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        // A followed stream that ends takes our monitor with it ("Entity killed"): a normal end.
        std::lock_guard guard(follower->engine->mixLock);
        follower->ended = true;
        if (state == PA_STREAM_FAILED)
            follower->failure = pa_context_errno(pa_stream_get_context(stream));
    }
    follower->connection->signal();
}

void streamReadable(pa_stream *stream, size_t, void *userdata)
{
    auto *follower = static_cast<Follower *>(userdata);
    while (pa_stream_readable_size(stream) > 0) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        {
            // A hole (no data) is silence of that length.
            std::lock_guard guard(follower->engine->mixLock);
            follower->queue.push(static_cast<const float *>(data), qint64(bytes / sizeof(float)));
        }
        pa_stream_drop(stream);
    }
}

bool isLive(const Follower &follower)
{
    if (!follower.stream)
        return false;
    const pa_stream_state_t state = pa_stream_get_state(follower.stream);
    return state == PA_STREAM_CREATING || state == PA_STREAM_READY || state == PA_STREAM_UNCONNECTED;
}

} // namespace

std::shared_ptr<Follower> ProcessTapEngine::Impl::connectFollower(
    std::shared_ptr<Follower> follower, const QString &source)
{
    PulseConnection *pulse = connection.get();
    const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, captureRate, captureChannels };
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    follower->engine = this;
    follower->connection = pulse;
    follower->stream = pa_stream_new(pulse->context(), "Quorvel Others", &spec, &map);
    if (!follower->stream) {
        follower->failure = pulse->lastError();
        follower->ended = true;
        return follower;
    }
    pa_stream_set_state_callback(follower->stream, &streamStateChanged, follower.get());
    pa_stream_set_read_callback(follower->stream, &streamReadable, follower.get());
    if (follower->playback != PA_INVALID_INDEX)
        pa_stream_set_monitor_stream(follower->stream, follower->playback);

    const pa_buffer_attr attributes = recordBufferAttributes(fragment, spec);
    // DONT_MOVE: when what we record goes away, our stream ends with it instead of being moved by the
    // server onto some other source (a microphone, or everything that plays).
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(follower->stream, source.toUtf8().constData(), &attributes, flags) < 0) {
        follower->failure = pulse->lastError();
        follower->ended = true;
    }
    streams.push_back(follower);
    {
        std::lock_guard guard(mixLock);
        mixed.push_back(follower);
    }
    return follower;
}

bool ProcessTapEngine::Impl::followsLivePlayback(quint32 index) const
{
    return std::any_of(streams.cbegin(), streams.cend(),
        [&](const std::shared_ptr<Follower> &f) { return f->playback == index && isLive(*f); });
}

bool ProcessTapEngine::Impl::followsLiveSink(const QString &sinkName) const
{
    return std::any_of(streams.cbegin(), streams.cend(),
        [&](const std::shared_ptr<Follower> &f) { return f->sinkName == sinkName && isLive(*f); });
}

void ProcessTapEngine::Impl::followPlayback(const PulsePlaybackInfo &playback, const QString &monitorSource)
{
    if (tornDown || !activated || followsLivePlayback(playback.index) || monitorSource.isEmpty())
        return;
    if (!family || !family->contains(playback.properties))
        return;
    auto follower = std::make_shared<Follower>();
    follower->playback = playback.index;
    connectFollower(follower, monitorSource);
}

std::shared_ptr<Follower> ProcessTapEngine::Impl::followSink(
    const QString &sinkName, const QString &monitorSource)
{
    if (tornDown || !activated || sinkName.isEmpty() || monitorSource.isEmpty())
        return nullptr;
    if (sinkName == currentSink && followsLiveSink(sinkName))
        return nullptr;
    // The old output's monitor ends; what it still holds is mixed before it goes.
    for (const auto &follower : streams) {
        if (follower->sinkName == currentSink && follower->stream && isLive(*follower))
            pa_stream_disconnect(follower->stream);
    }
    currentSink = sinkName;
    auto follower = std::make_shared<Follower>();
    follower->sinkName = sinkName;
    return connectFollower(follower, monitorSource);
}

void ProcessTapEngine::Impl::releaseEndedStreams()
{
    for (auto it = streams.begin(); it != streams.end();) {
        const std::shared_ptr<Follower> &follower = *it;
        if (follower->stream && !isLive(*follower)) {
            pa_stream_set_state_callback(follower->stream, nullptr, nullptr);
            pa_stream_set_read_callback(follower->stream, nullptr, nullptr);
            pa_stream_unref(follower->stream);
            follower->stream = nullptr;
            it = streams.erase(it);
        } else {
            ++it;
        }
    }
}

void ProcessTapEngine::Impl::releaseStreams()
{
    for (const auto &follower : streams) {
        if (!follower->stream)
            continue;
        pa_stream_set_state_callback(follower->stream, nullptr, nullptr);
        pa_stream_set_read_callback(follower->stream, nullptr, nullptr);
        if (isLive(*follower))
            pa_stream_disconnect(follower->stream);
        pa_stream_unref(follower->stream);
        follower->stream = nullptr;
        std::lock_guard guard(mixLock);
        follower->ended = true;
    }
    streams.clear();
}

void ProcessTapEngine::Impl::releaseAllStreams()
{
    tornDown = true;
    releaseStreams();
}

namespace {

struct SinkLookup
{
    ProcessTapEngine::Impl *engine;
    PulsePlaybackInfo playback;
};

} // namespace

void ProcessTapEngine::Impl::queryAndFollowPlayback(quint32 index)
{
    // Two steps on the main loop: the playback stream, then the monitor of the output it plays on.
    pa_operation *operation = pa_context_get_sink_input_info(
        connection->context(), index,
        [](pa_context *context, const pa_sink_input_info *raw, int, void *userdata) {
            auto *engine = static_cast<ProcessTapEngine::Impl *>(userdata);
            if (!raw || engine->tornDown || engine->followsLivePlayback(raw->index))
                return;
            auto *lookup = new SinkLookup { engine,
                PulsePlaybackInfo {
                    raw->index, raw->sink, raw->client, pulseProperties(raw->proplist), raw->corked != 0 } };
            pa_operation *next = pa_context_get_sink_info_by_index(
                context, raw->sink,
                [](pa_context *, const pa_sink_info *sink, int eol, void *userdata) {
                    auto *lookup = static_cast<SinkLookup *>(userdata);
                    if (sink && sink->monitor_source_name)
                        lookup->engine->followPlayback(
                            lookup->playback, QString::fromUtf8(sink->monitor_source_name));
                    if (eol != 0) // the last call, after the sink or after a failure
                        delete lookup;
                },
                lookup);
            if (next)
                pa_operation_unref(next);
            else
                delete lookup;
        },
        this);
    if (operation)
        pa_operation_unref(operation);
}

void ProcessTapEngine::Impl::switchToDefaultSink()
{
    pa_operation *operation = pa_context_get_sink_info_by_name(
        connection->context(), "@DEFAULT_SINK@",
        [](pa_context *, const pa_sink_info *sink, int, void *userdata) {
            auto *engine = static_cast<ProcessTapEngine::Impl *>(userdata);
            if (sink && sink->name && sink->monitor_source_name)
                engine->followSink(
                    QString::fromUtf8(sink->name), QString::fromUtf8(sink->monitor_source_name));
        },
        this);
    if (operation)
        pa_operation_unref(operation);
}

void ProcessTapEngine::Impl::handleEvent(pa_subscription_event_type_t type, quint32 index)
{
    if (tornDown || !activated)
        return;
    releaseEndedStreams();
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (wholeSystem) {
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER || facility == PA_SUBSCRIPTION_EVENT_SINK)
            switchToDefaultSink();
        return;
    }
    // A playback stream that starts, or one that was moved (which ended our monitor on it).
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && kind != PA_SUBSCRIPTION_EVENT_REMOVE
        && !followsLivePlayback(index))
        queryAndFollowPlayback(index);
}

void ProcessTapEngine::Impl::mixLoop(BufferCallback onBuffer)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const qint64 prebufferFrames = framesIn(timing.prebuffer);
    const qint64 backlogFrames = prebufferFrames + framesIn(timing.maximumBacklog);
    const qint64 windowFrames = captureRate / 2;
    const qint64 slackFrames = framesIn(std::max(timing.tick * 2, std::chrono::milliseconds(20)));
    const AudioStreamFormat format = captureFormat();
    std::vector<float> mix;
    qint64 emitted = 0;
    Clock::time_point nextTick = start;

    std::unique_lock guard(mixLock);
    while (true) {
        nextTick += timing.tick;
        if (wake.wait_until(guard, nextTick, [this] { return stopMixing; }))
            return;
        const Clock::time_point now = Clock::now();
        if (nextTick < now - timing.tick * 10)
            nextTick = now; // held up for long: the next ticks need not all come at once
        qint64 due = framesIn(now - start) - emitted;
        while (due > 0) {
            const qint64 frames = std::min(due, maximumFramesPerBuffer);
            mix.assign(std::size_t(frames * captureChannels), 0.0f);
            for (auto it = mixed.begin(); it != mixed.end();) {
                Follower &follower = **it;
                const qint64 available = follower.queue.frames();
                if (!follower.mixing && (available >= prebufferFrames || (follower.ended && available > 0)))
                    follower.mixing = true;
                if (follower.mixing) {
                    if (available > backlogFrames)
                        follower.queue.dropFrames(available - prebufferFrames);
                    // Audio that stayed queued through a whole window never served as a cushion
                    // against late delivery: it is only delay (some servers hand over a burst when a
                    // stream starts), so it goes.
                    follower.lowest = std::min(follower.lowest, follower.queue.frames());
                    follower.window += frames;
                    if (follower.window >= windowFrames) {
                        if (follower.lowest > prebufferFrames + slackFrames)
                            follower.queue.dropFrames(follower.lowest - prebufferFrames);
                        follower.lowest = std::numeric_limits<qint64>::max();
                        follower.window = 0;
                    }
                    const qint64 mixedFrames = follower.queue.mixInto(mix.data(), frames);
                    if (mixedFrames < frames) {
                        follower.mixing = false; // ran dry: gather a prebuffer again
                        follower.lowest = std::numeric_limits<qint64>::max();
                        follower.window = 0;
                    }
                }
                if (follower.ended && follower.queue.frames() == 0)
                    it = mixed.erase(it);
                else
                    ++it;
            }
            for (float &sample : mix)
                sample = std::clamp(sample, -1.0f, 1.0f);
            const auto hostTime = start + std::chrono::nanoseconds(emitted * 1000000000 / captureRate);
            guard.unlock();
            // Without the server nothing is delivered: the receiver makes the gap silence by the times
            // of what comes next, or ends there if nothing does.
            if (!reconnection->lostSince()) {
                const void *planes[] = { mix.data() };
                onBuffer(AudioPCMBuffer(format, planes, frames, hostTime));
            }
            guard.lock();
            emitted += frames;
            due -= frames;
            if (stopMixing)
                return;
        }
    }
}

AudioCaptureError ProcessTapEngine::error(EngineError kind, int code)
{
    const QString status = QStringLiteral(" (%1)").arg(code);
    switch (kind) {
    case EngineError::createTap:
        return AudioCaptureError(QStringLiteral("System audio tap could not be created") + status);
    case EngineError::createAggregate:
        return AudioCaptureError(QStringLiteral("System audio aggregate could not be created") + status);
    case EngineError::createIOProc:
        return AudioCaptureError(QStringLiteral("System audio I/O could not be created") + status);
    case EngineError::start:
        return AudioCaptureError(QStringLiteral("System audio tap could not start") + status);
    case EngineError::format:
        break;
    }
    return AudioCaptureError(QStringLiteral("System audio tap format was unreadable"));
}

AudioStreamFormat ProcessTapEngine::captureFormat()
{
    return AudioStreamFormat { double(captureRate), captureChannels, AudioStreamFormat::SampleType::float32,
        true };
}

ProcessTapEngine::ProcessTapEngine()
    : ProcessTapEngine(Timing {})
{ }

ProcessTapEngine::ProcessTapEngine(Timing timing)
    : d(std::make_shared<Impl>(timing))
{ }

ProcessTapEngine::~ProcessTapEngine()
{
    stop();
}

AudioStreamFormat ProcessTapEngine::prepare(const std::optional<ProcessTapRequest> &request)
{
    {
        std::lock_guard guard(d->lock);
        if (d->stopped)
            throw error(EngineError::format);
        if (d->prepared)
            return captureFormat();
    }
    if (!PulseConnection::serverConfigured())
        throw error(EngineError::createTap, PA_ERR_CONNECTIONREFUSED);
    int failure = PA_OK;
    std::shared_ptr<PulseConnection> connection
        = PulseConnection::open(QStringLiteral("Quorvel Others"), PulseConnection::defaultTimeout, &failure);
    if (!connection)
        throw error(EngineError::createTap, failure);

    // Something must play for anything to be heard: no output at all is no format to record.
    const auto server = connection->serverInfo();
    const auto sinks = connection->sinks();
    if (!server || !sinks || std::none_of(sinks->cbegin(), sinks->cend(), [&](const PulseSinkInfo &sink) {
            return sink.name == server->defaultSinkName;
        }))
        throw error(EngineError::format);

    std::optional<AudioAppFamily> family;
    if (request)
        family.emplace(*request);

    std::lock_guard guard(d->lock);
    if (d->stopped)
        throw error(EngineError::format);
    if (d->prepared)
        return captureFormat();
    d->family = std::move(family);
    d->wholeSystem = !request.has_value();
    d->connection = connection;
    d->prepared = true;
    d->subscribe(*connection);
    return captureFormat();
}

void ProcessTapEngine::Impl::subscribe(PulseConnection &on)
{
    // A failed subscription only means later streams are not joined; recording goes on.
    const auto mask
        = pa_subscription_mask_t(wholeSystem ? PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK
                                             : PA_SUBSCRIPTION_MASK_SINK_INPUT);
    on.subscribe(
        mask, [this](pa_subscription_event_type_t type, quint32 index) { handleEvent(type, index); });
}

void ProcessTapEngine::Impl::followSources(const std::shared_ptr<PulseConnection> &on)
{
    if (wholeSystem) {
        std::shared_ptr<Follower> follower;
        PulseConnection::Locker lock(*on);
        if (tornDown)
            return;
        activated = true;
        struct Lookup
        {
            PulseConnection *connection;
            std::optional<PulseSinkInfo> sink;
            bool done = false;
        } lookup { on.get(), std::nullopt };
        pa_operation *operation = pa_context_get_sink_info_by_name(
            on->context(), "@DEFAULT_SINK@",
            [](pa_context *, const pa_sink_info *sink, int, void *userdata) {
                auto *lookup = static_cast<Lookup *>(userdata);
                if (sink)
                    lookup->sink = PulseSinkInfo { sink->index, QString::fromUtf8(sink->name),
                        QString::fromUtf8(sink->description), QString::fromUtf8(sink->monitor_source_name) };
                lookup->connection->signal();
            },
            &lookup);
        if (!on->finish(operation) || !lookup.sink)
            throw error(EngineError::format);
        // After a reconnection the same output is followed anew.
        currentSink.clear();
        follower = followSink(lookup.sink->name, lookup.sink->monitorSourceName);
        if (!follower)
            return; // an event got there first
        if (!follower->stream)
            throw error(EngineError::createIOProc, follower->failure);
        const auto settled = [&] {
            return tornDown || !follower->stream
                || pa_stream_get_state(follower->stream) != PA_STREAM_CREATING;
        };
        on->waitUntil(settled);
        if (tornDown)
            return;
        if (!follower->stream || pa_stream_get_state(follower->stream) != PA_STREAM_READY) {
            const int code = follower->failure != PA_OK ? follower->failure : on->lastError();
            throw error(EngineError::start, code != PA_OK ? code : PA_ERR_TIMEOUT);
        }
        return;
    }

    // Listing after subscribing: a stream that starts meanwhile is met by one path or the other.
    {
        PulseConnection::Locker lock(*on);
        if (tornDown)
            return;
        activated = true;
    }
    const auto sinks = on->sinks();
    const auto playbacks = on->playbacks();
    if (!sinks || !playbacks)
        throw error(EngineError::start, on->lastError());
    PulseConnection::Locker lock(*on);
    for (const PulsePlaybackInfo &playback : *playbacks) {
        const auto sink = std::find_if(sinks->cbegin(), sinks->cend(),
            [&](const PulseSinkInfo &candidate) { return candidate.index == playback.sinkIndex; });
        if (sink != sinks->cend())
            followPlayback(playback, sink->monitorSourceName);
    }
}

bool ProcessTapEngine::Impl::reconnect(std::shared_ptr<PulseConnection> fresh)
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
        pa_context_set_subscribe_callback(old->context(), nullptr, nullptr);
        releaseStreams();
    }
    {
        PulseConnection::Locker freshLock(*fresh);
        reconnection->watch(*fresh);
    }
    {
        std::lock_guard guard(lock);
        if (stopped)
            return false;
        connection = fresh;
    }
    // The mixer goes on with silence meanwhile, so the gap keeps its length.
    subscribe(*fresh);
    try {
        followSources(fresh);
    } catch (const std::exception &) {
        return false;
    }
    // The old connection's main loop ends here, off its own thread, its streams already let go.
    old.reset();
    return true;
}

void ProcessTapEngine::activate(BufferCallback onBuffer)
{
    std::shared_ptr<PulseConnection> connection;
    {
        std::lock_guard guard(d->lock);
        if (d->stopped)
            throw error(EngineError::format);
        if (d->running)
            return;
        if (!d->prepared || !d->connection)
            throw error(EngineError::format);
        connection = d->connection;
        d->running = true;
        Impl *impl = d.get();
        d->reconnection = std::make_unique<PulseReconnect>(QStringLiteral("Quorvel Others"),
            [impl](std::shared_ptr<PulseConnection> fresh) { return impl->reconnect(std::move(fresh)); });
        // The clock starts now: the recording covers the whole capture, whatever plays when.
        d->mixer = std::thread([impl, onBuffer = std::move(onBuffer)] { impl->mixLoop(onBuffer); });
    }
    {
        PulseConnection::Locker lock(*connection);
        d->reconnection->watch(*connection);
    }
    d->followSources(connection);
}

std::optional<std::chrono::steady_clock::time_point> ProcessTapEngine::serverLostSince() const
{
    std::lock_guard guard(d->lock);
    if (!d->reconnection)
        return std::nullopt;
    return d->reconnection->lostSince();
}

void ProcessTapEngine::stop()
{
    std::shared_ptr<PulseConnection> connection;
    std::thread mixer;
    PulseReconnect *reconnection = nullptr;
    {
        std::lock_guard guard(d->lock);
        d->stopped = true;
        reconnection = d->reconnection.get();
    }
    // Waits for a reconnection in progress, which then finds the engine stopped.
    if (reconnection)
        reconnection->stop();
    {
        std::lock_guard guard(d->lock);
        connection = d->connection; // kept until the engine goes: pending server replies point at it
        mixer = std::move(d->mixer);
    }
    if (connection)
        connection->abort();
    if (mixer.joinable()) {
        {
            std::lock_guard guard(d->mixLock);
            d->stopMixing = true;
        }
        d->wake.notify_all();
        if (mixer.get_id() == std::this_thread::get_id())
            mixer.detach();
        else
            mixer.join();
    }
    if (connection) {
        PulseConnection::Locker lock(*connection);
        d->releaseAllStreams();
    }
    std::lock_guard guard(d->mixLock);
    d->mixed.clear();
}

int ProcessTapEngine::liveStreamCount() const
{
    std::shared_ptr<PulseConnection> connection;
    {
        std::lock_guard guard(d->lock);
        connection = d->connection;
    }
    if (!connection)
        return 0;
    PulseConnection::Locker lock(*connection);
    return int(std::count_if(d->streams.cbegin(), d->streams.cend(), [](const std::shared_ptr<Follower> &f) {
        return isLive(*f) && pa_stream_get_state(f->stream) == PA_STREAM_READY;
    }));
}
