#include "TestAudioCapture.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

struct TestAudioCapture::Shared
{
    mutable std::mutex mutex; // the log, the counters and the exit watches
    QStringList log;
    int liveEngines = 0;
    std::multimap<QString, std::function<void()> *> watches;
    std::optional<std::chrono::steady_clock::time_point> serverLostSince;

    // Held while a buffer is delivered, so stop() returns only once no callback runs.
    std::mutex deliveryMutex;
    std::map<Stream, std::pair<const void *, AudioCaptureEngine::BufferCallback>> running;

    void note(const QString &entry)
    {
        std::lock_guard lock(mutex);
        log.append(entry);
    }
};

void TestAudioCapture::Gate::hold()
{
    std::lock_guard lock(m_mutex);
    m_held = true;
    m_reached = false;
}

void TestAudioCapture::Gate::release()
{
    std::lock_guard lock(m_mutex);
    m_held = false;
    m_changed.notify_all();
}

bool TestAudioCapture::Gate::isReached()
{
    std::lock_guard lock(m_mutex);
    return m_reached;
}

void TestAudioCapture::Gate::pass()
{
    std::unique_lock lock(m_mutex);
    m_reached = true;
    m_changed.notify_all();
    if (!m_changed.wait_for(lock, std::chrono::minutes(1), [&] { return !m_held; }))
        qWarning("An engine call was held at a gate for a minute and never released");
}

class TestAudioCapture::Engine
{
public:
    Engine(std::shared_ptr<Shared> shared, Stream stream)
        : m_shared(std::move(shared))
        , m_stream(stream)
    {
        std::lock_guard lock(m_shared->mutex);
        ++m_shared->liveEngines;
    }
    virtual ~Engine()
    {
        halt();
        std::lock_guard lock(m_shared->mutex);
        --m_shared->liveEngines;
    }

protected:
    std::optional<std::chrono::steady_clock::time_point> lostSince() const
    {
        std::lock_guard lock(m_shared->mutex);
        return m_shared->serverLostSince;
    }
    void run(AudioCaptureEngine::BufferCallback callback)
    {
        std::lock_guard lock(m_shared->deliveryMutex);
        if (!m_shared->running.count(m_stream))
            m_shared->running[m_stream] = { this, std::move(callback) };
    }
    bool halt()
    {
        std::lock_guard lock(m_shared->deliveryMutex);
        auto found = m_shared->running.find(m_stream);
        if (found == m_shared->running.end() || found->second.first != this)
            return false;
        m_shared->running.erase(found);
        return true;
    }
    std::shared_ptr<Shared> m_shared;
    Stream m_stream;
};

class TestAudioCapture::OthersEngine final : public OthersCaptureEngine, public Engine
{
public:
    OthersEngine(std::shared_ptr<Shared> shared, AudioStreamFormat format, bool prepareFails,
        bool activateFails, Gate *prepareGate)
        : Engine(std::move(shared), Stream::others)
        , m_format(format)
        , m_prepareFails(prepareFails)
        , m_activateFails(activateFails)
        , m_prepareGate(prepareGate)
    { }

    AudioStreamFormat prepare(const std::optional<ProcessTapRequest> &request) override
    {
        m_shared->note(request ? QStringLiteral("others.prepare(%1)").arg(request->primaryBundleID)
                               : QStringLiteral("others.prepare(system)"));
        m_prepareGate->pass();
        if (m_prepareFails)
            throw AudioCaptureError(QStringLiteral("System audio tap could not be created (-50)"));
        m_prepared = true;
        return m_format;
    }
    void activate(BufferCallback onBuffer) override
    {
        m_shared->note(QStringLiteral("others.activate"));
        if (m_activateFails || !m_prepared)
            throw AudioCaptureError(QStringLiteral("System audio tap could not start (-1)"));
        run(std::move(onBuffer));
    }
    void stop() override
    {
        m_prepared = false;
        if (halt())
            m_shared->note(QStringLiteral("others.stop"));
    }
    std::optional<std::chrono::steady_clock::time_point> serverLostSince() const override
    {
        return lostSince();
    }

private:
    AudioStreamFormat m_format;
    bool m_prepareFails;
    bool m_activateFails;
    Gate *m_prepareGate;
    std::atomic<bool> m_prepared { false };
};

class TestAudioCapture::MicrophoneEngine final : public MicrophoneCaptureEngine, public Engine
{
public:
    MicrophoneEngine(std::shared_ptr<Shared> shared, AudioStreamFormat format, QSet<QString> failing,
        bool startFails, Gate *startGate)
        : Engine(std::move(shared), Stream::you)
        , m_format(format)
        , m_failing(std::move(failing))
        , m_startFails(startFails)
        , m_startGate(startGate)
    { }

    AudioStreamFormat prepare(const std::optional<QString> &deviceUID) override
    {
        m_shared->note(QStringLiteral("mic.prepare(%1)").arg(deviceUID.value_or(QStringLiteral("default"))));
        if (m_failing.contains(deviceUID.value_or(QString())))
            throw AudioCaptureError(QStringLiteral("The microphone could not start"));
        return m_format;
    }
    void start(BufferCallback onBuffer) override
    {
        m_shared->note(QStringLiteral("mic.start"));
        m_startGate->pass();
        if (m_startFails)
            throw AudioCaptureError(QStringLiteral("The microphone could not start"));
        run(std::move(onBuffer));
    }
    void stop() override
    {
        if (halt())
            m_shared->note(QStringLiteral("mic.stop"));
    }
    std::optional<std::chrono::steady_clock::time_point> serverLostSince() const override
    {
        return lostSince();
    }

private:
    AudioStreamFormat m_format;
    QSet<QString> m_failing;
    bool m_startFails;
    Gate *m_startGate;
};

class TestAudioCapture::ExitWatch final : public AudioAppExitWatch
{
public:
    ExitWatch(std::shared_ptr<Shared> shared, QString bundleID, std::function<void()> onExit)
        : m_shared(std::move(shared))
        , m_bundleID(std::move(bundleID))
        , m_onExit(std::move(onExit))
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->watches.emplace(m_bundleID, &m_onExit);
        m_shared->log.append(QStringLiteral("watch(%1)").arg(m_bundleID));
    }
    ~ExitWatch() override
    {
        std::lock_guard lock(m_shared->mutex);
        for (auto it = m_shared->watches.begin(); it != m_shared->watches.end(); ++it) {
            if (it->second == &m_onExit) {
                m_shared->watches.erase(it);
                break;
            }
        }
        m_shared->log.append(QStringLiteral("unwatch(%1)").arg(m_bundleID));
    }

private:
    std::shared_ptr<Shared> m_shared;
    QString m_bundleID;
    std::function<void()> m_onExit;
};

TestAudioCapture::TestAudioCapture()
    : m_shared(std::make_shared<Shared>())
{ }

TestAudioCapture::~TestAudioCapture()
{
    othersPrepareGate.release();
    microphoneStartGate.release();
}

AudioCaptureEngineFactory TestAudioCapture::factory()
{
    AudioCaptureEngineFactory factory;
    factory.isSupported = [this] { return supported; };
    factory.makeOthers = [this]() -> std::unique_ptr<OthersCaptureEngine> {
        m_shared->note(QStringLiteral("others.make"));
        return std::make_unique<OthersEngine>(
            m_shared, othersFormat, othersPrepareFails, othersActivateFails, &othersPrepareGate);
    };
    factory.makeMicrophone = [this]() -> std::unique_ptr<MicrophoneCaptureEngine> {
        if (!makesMicrophone)
            return nullptr;
        m_shared->note(QStringLiteral("mic.make"));
        return std::make_unique<MicrophoneEngine>(
            m_shared, microphoneFormat, failingMicrophones, microphoneStartFails, &microphoneStartGate);
    };
    factory.tapRequest = [this](const QString &, const std::optional<QString> &) { return tapRequest; };
    factory.inputDeviceUIDs = [this] { return deviceUIDs; };
    factory.watchForAppExit = [this](const QString &bundleID,
                                  std::function<void()> onExit) -> std::unique_ptr<AudioAppExitWatch> {
        return std::make_unique<ExitWatch>(m_shared, bundleID, std::move(onExit));
    };
    return factory;
}

int TestAudioCapture::feed(Stream stream, int count, qint64 frames, float amplitude)
{
    int delivered = 0;
    const std::optional<AudioPCMBuffer::HostTime> at
        = clock ? std::optional<AudioPCMBuffer::HostTime>(clock->now()) : std::nullopt;
    std::thread producer([&] {
        const AudioStreamFormat format = stream == Stream::others ? othersFormat : microphoneFormat;
        const int perPlane = format.interleaved ? format.channelCount : 1;
        std::vector<std::vector<std::byte>> planes(std::size_t(format.planeCount()),
            std::vector<std::byte>(std::size_t(frames * perPlane * format.bytesPerSample())));
        for (qint64 i = 0; i < frames; ++i) {
            // Peaks at exactly `amplitude` once per buffer (frame 0), a quieter tone elsewhere.
            const float value = i == 0 ? amplitude : amplitude * 0.5f * float(std::sin(0.05 * double(i)));
            for (auto &plane : planes) {
                for (int c = 0; c < perPlane; ++c) {
                    std::byte *at = plane.data() + (i * perPlane + c) * format.bytesPerSample();
                    if (format.sampleType == AudioStreamFormat::SampleType::int16) {
                        const auto sample = int16_t(std::lround(double(value) * 32768.0));
                        std::memcpy(at, &sample, 2);
                    } else {
                        std::memcpy(at, &value, 4);
                    }
                }
            }
        }
        std::vector<const void *> pointers;
        for (const auto &plane : planes)
            pointers.push_back(plane.data());
        for (int n = 0; n < count; ++n) {
            {
                std::lock_guard lock(m_shared->mutex);
                if (m_shared->serverLostSince)
                    continue;
            }
            std::lock_guard lock(m_shared->deliveryMutex);
            auto found = m_shared->running.find(stream);
            if (found == m_shared->running.end())
                continue;
            found->second.second(AudioPCMBuffer(
                format, pointers.data(), frames, at.value_or(std::chrono::steady_clock::now())));
            ++delivered;
        }
    });
    producer.join();
    return delivered;
}

void TestAudioCapture::loseServer()
{
    const auto now = clock ? clock->now() : std::chrono::steady_clock::now();
    std::lock_guard lock(m_shared->mutex);
    m_shared->serverLostSince = now;
}

void TestAudioCapture::serverBack()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->serverLostSince.reset();
}

void TestAudioCapture::applicationExited(const QString &bundleID)
{
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(m_shared->mutex);
        auto [begin, end] = m_shared->watches.equal_range(bundleID);
        for (auto it = begin; it != end; ++it)
            callbacks.push_back(*it->second);
    }
    for (auto &callback : callbacks)
        callback();
}

QStringList TestAudioCapture::log() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->log;
}

int TestAudioCapture::count(const QString &entry) const
{
    return int(log().count(entry));
}

int TestAudioCapture::liveEngines() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->liveEngines;
}

int TestAudioCapture::runningEngines() const
{
    std::lock_guard lock(m_shared->deliveryMutex);
    return int(m_shared->running.size());
}
