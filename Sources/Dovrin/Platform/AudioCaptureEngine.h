#pragma once

// The engines an audio session records through, and the PCM buffers they deliver.
//
// Threading contract (the coordinator relies on every line of it):
//  - The coordinator makes one new engine per session (a second microphone engine when a chosen
//    device fails and the default is tried) through AudioCaptureEngineFactory, on the main thread or
//    on its start thread. Making an engine is cheap and talks to no server; prepare() does that.
//  - prepare(), activate() and start() run on the coordinator's start thread, a worker thread that is
//    never the main thread, so they may block briefly (connecting to the sound server, waiting for a
//    stream to become ready). They report failure by throwing AudioCaptureError (any std::exception is
//    tolerated and treated alike).
//  - Once activated/started, the engine calls onBuffer synchronously on its own thread(s), one buffer
//    at a time per engine, never on the main thread. The buffer and the memory it points at are only
//    valid during the call: the receiver copies what it keeps (AudioPCMBuffer::detached()). onBuffer
//    does not block for long (it encodes one buffer) and never calls back into the engine.
//  - stop() may be called from any thread other than the engine's callback thread, any number of times,
//    in any state: before prepare(), after a failed prepare(), and concurrently with prepare(),
//    activate() or start() still running on the start thread. When a stop() returns, no onBuffer call is
//    running and none will start for what was set up before it began. An activate()/start() that races
//    with stop() may still succeed; the coordinator then calls stop() again.
//  - Destroying an engine stops it first.
//  - The factory's isSupported runs on the main thread and must answer at once; tapRequest and
//    inputDeviceUIDs run on the start thread and may block briefly. A failed system query gives an
//    absent/empty answer, never an exception.
//  - watchForAppExit is called on the main thread and must not wait (look processes up on a worker);
//    its onExit runs on the main thread; destroying the returned watch ends it, after which onExit is
//    never called.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>

// The layout of PCM frames: rate, channels, sample type, interleaved or one plane per channel.
struct AudioStreamFormat
{
    enum class SampleType { float32, int16 };

    static constexpr int maximumChannels = 32;

    double sampleRate = 0;
    int channelCount = 0;
    SampleType sampleType = SampleType::float32;
    bool interleaved = true;

    // A finite rate above 0 and 1 to maximumChannels channels.
    bool isValid() const;
    int bytesPerSample() const { return sampleType == SampleType::int16 ? 2 : 4; }
    // Bytes one frame takes in one plane: every channel when interleaved, one sample when planar.
    int bytesPerFrameInPlane() const
    {
        return interleaved ? bytesPerSample() * channelCount : bytesPerSample();
    }
    int planeCount() const { return interleaved ? 1 : channelCount; }

    friend bool operator==(const AudioStreamFormat &, const AudioStreamFormat &) = default;
};

// One block of raw bytes as a sound server hands it over.
struct AudioPlane
{
    const void *data = nullptr;
    qint64 byteSize = 0;
};

// A block of PCM frames in one AudioStreamFormat. Either a view of memory the engine owns (valid for one
// onBuffer call) or, after detached()/copy(), a self-contained copy that may be kept and passed on.
class AudioPCMBuffer
{
public:
    using HostTime = std::chrono::steady_clock::time_point;

    AudioPCMBuffer() = default;
    // A view, no copy: `planes` holds format.planeCount() pointers of at least frameCount frames each.
    AudioPCMBuffer(const AudioStreamFormat &format, const void *const *planes, qint64 frameCount,
        HostTime hostTime = {});

    // A self-contained copy of raw planes. The frame count comes from the first plane's size; every
    // plane is copied up to that many frames (a short plane is padded with silence). Nothing when the
    // format is invalid, there is no plane or the first one is empty or has no data.
    static std::optional<AudioPCMBuffer> copy(
        const AudioStreamFormat &format, std::span<const AudioPlane> planes, HostTime hostTime = {});

    // A self-contained copy of this buffer.
    AudioPCMBuffer detached() const;

    const AudioStreamFormat &format() const { return m_format; }
    qint64 frameCount() const { return m_frameCount; }
    bool isEmpty() const { return m_frameCount <= 0; }
    // Plane i (0 when interleaved, the channel when planar); bytes = frameCount() * bytesPerFrameInPlane().
    const std::byte *plane(int index) const { return m_planes[std::size_t(index)]; }
    qint64 planeByteSize() const { return m_frameCount * m_format.bytesPerFrameInPlane(); }
    // The steady-clock time of the first frame when the engine knows it (the epoch when it does not).
    HostTime hostTime() const { return m_hostTime; }

private:
    AudioStreamFormat m_format;
    qint64 m_frameCount = 0;
    std::array<const std::byte *, AudioStreamFormat::maximumChannels> m_planes {};
    HostTime m_hostTime {};
    QByteArray m_storage; // owns the planes of a copy; empty for a view
};

// What to record for one application: its family of processes. Built by the sound-server layer
// (AudioCaptureApps::tapRequest); an absent request means the whole system.
struct ProcessTapRequest
{
    QString primaryBundleID; // the chosen application's desktop-file id
    QList<qint64> processIDs; // the family's processes (pids), ascending
    QStringList bundleIDs; // desktop-file ids of the application and its helpers, ascending
    QString displayName; // the name shown to the user

    friend bool operator==(const ProcessTapRequest &, const ProcessTapRequest &) = default;
};

// An engine failure, with a fixed English description.
class AudioCaptureError : public std::exception
{
public:
    explicit AudioCaptureError(QString description)
        : m_description(std::move(description))
        , m_utf8(m_description.toUtf8())
    { }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

class AudioCaptureEngine
{
public:
    using BufferCallback = std::function<void(const AudioPCMBuffer &)>;

    virtual ~AudioCaptureEngine() = default;
    // Tears everything down; never fails. See the threading contract above.
    virtual void stop() = 0;
    // Since when the engine has been without its sound server (it went away, and the engine is waiting
    // for it to come back); none while it records. Answers at once, from any thread.
    virtual std::optional<std::chrono::steady_clock::time_point> serverLostSince() const
    {
        return std::nullopt;
    }
};

// "Others": one application's family of processes, or the whole system when the request is absent.
class OthersCaptureEngine : public AudioCaptureEngine
{
public:
    // Sets the capture up and answers the format every buffer will have. A second call on a prepared
    // engine answers the same format and sets up nothing new.
    virtual AudioStreamFormat prepare(const std::optional<ProcessTapRequest> &request) = 0;
    // Starts delivering buffers. Throws when not prepared or stopped; a second call while running does
    // nothing and keeps the first callback.
    virtual void activate(BufferCallback onBuffer) = 0;
};

// "You": a microphone (a sound-server source that is not a monitor).
class MicrophoneCaptureEngine : public AudioCaptureEngine
{
public:
    // Selects the source by its UID (absent = the default source) and answers its format.
    virtual AudioStreamFormat prepare(const std::optional<QString> &deviceUID) = 0;
    // Starts delivering buffers. A second call while running does nothing and keeps the first callback.
    virtual void start(BufferCallback onBuffer) = 0;
};

// Ends a watch for an application's exit when destroyed.
class AudioAppExitWatch
{
public:
    virtual ~AudioAppExitWatch() = default;
};

// Everything the session coordinator asks of the sound-server layer. A default-made factory records
// nothing: the coordinator then reports recording as unsupported.
struct AudioCaptureEngineFactory
{
    // A sound server that can record is there.
    std::function<bool()> isSupported;
    std::function<std::unique_ptr<OthersCaptureEngine>()> makeOthers;
    std::function<std::unique_ptr<MicrophoneCaptureEngine>()> makeMicrophone;
    // The request for an application's running family; absent when it is not running.
    std::function<std::optional<ProcessTapRequest>(
        const QString &bundleID, const std::optional<QString> &storedDisplayName)>
        tapRequest;
    // The UIDs of the input devices, in their listed order.
    std::function<QStringList()> inputDeviceUIDs;
    // Calls onExit (on the main thread) whenever an application whose desktop-file id is exactly
    // bundleID exits, until the returned watch is destroyed. May answer none when nothing can be watched.
    std::function<std::unique_ptr<AudioAppExitWatch>(const QString &bundleID, std::function<void()> onExit)>
        watchForAppExit;

    bool canRecord() const { return isSupported && makeOthers && isSupported(); }
};
