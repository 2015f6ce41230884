#pragma once

// One connection to the sound server through the PulseAudio client library (which PipeWire desktops
// serve too), on a threaded main loop of its own. Connecting never starts a daemon.

#include "Platform/AudioInputDevice.h"

#include <QList>
#include <QMap>
#include <QString>

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

using PulseProperties = QMap<QString, QString>;

struct PulseServerInfo
{
    QString defaultSinkName;
    QString defaultSourceName;
};

struct PulseSinkInfo
{
    quint32 index = PA_INVALID_INDEX;
    QString name;
    QString description;
    QString monitorSourceName;
};

struct PulseSourceInfo
{
    quint32 index = PA_INVALID_INDEX;
    QString name;
    QString description;
    quint32 monitorOfSink = PA_INVALID_INDEX;
    PulseProperties properties;
    int channels = 0;
    quint32 rate = 0;

    bool isMonitor() const;
};

// A playback stream of some client (a "sink input").
struct PulsePlaybackInfo
{
    quint32 index = PA_INVALID_INDEX;
    quint32 sinkIndex = PA_INVALID_INDEX;
    quint32 clientIndex = PA_INVALID_INDEX;
    PulseProperties properties;
    bool corked = false; // paused by its application: nothing plays
};

struct PulseClientInfo
{
    quint32 index = PA_INVALID_INDEX;
    PulseProperties properties;
};

PulseProperties pulseProperties(const pa_proplist *list);
// Buffering for a recording stream: the server's defaults, with deliveries of `fragment` each.
pa_buffer_attr recordBufferAttributes(std::chrono::milliseconds fragment, const pa_sample_spec &spec);

class PulseConnection
{
public:
    static constexpr std::chrono::milliseconds defaultTimeout { 1500 };

    // Connects with PA_CONTEXT_NOAUTOSPAWN. Null on failure, with the server's error code in `error`.
    static std::unique_ptr<PulseConnection> open(
        const QString &clientName, std::chrono::milliseconds timeout = defaultTimeout, int *error = nullptr);
    // Whether a sound server is set up for this session at all (an address in the environment or the
    // client configuration, or a native socket in the runtime folder). Makes no connection.
    static bool serverConfigured();

    // Never from the main loop's own thread, and after every stream of this connection is released.
    ~PulseConnection();
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    // Thread-safe: every wait in progress ends at once and later ones fail fast.
    void abort();
    bool isAborted() const { return m_aborted.load(std::memory_order_acquire); }
    // Whether the connection is up (lock held or not).
    bool isReady() const;
    // The server's last error code, for messages.
    int lastError() const;

    // Synchronous queries from any thread but the main loop's, without the lock held; absent on failure.
    std::optional<PulseServerInfo> serverInfo();
    std::optional<QList<PulseSinkInfo>> sinks(std::chrono::milliseconds timeout = defaultTimeout);
    std::optional<QList<PulseSourceInfo>> sources(std::chrono::milliseconds timeout = defaultTimeout);
    std::optional<QList<PulsePlaybackInfo>> playbacks(std::chrono::milliseconds timeout = defaultTimeout);
    std::optional<QList<PulseClientInfo>> clients(std::chrono::milliseconds timeout = defaultTimeout);

    // Server events, on the main loop's thread with the lock held. Replaces an earlier handler.
    using EventHandler = std::function<void(pa_subscription_event_type_t, quint32 index)>;
    bool subscribe(pa_subscription_mask_t mask, EventHandler handler);
    // Called once, on the main loop's thread with the lock held, when a ready connection fails (the
    // server went away); not after abort(). Set it before the connection is shared.
    void setLostHandler(std::function<void()> handler) { m_lostHandler = std::move(handler); }

    pa_threaded_mainloop *mainloop() const { return m_mainloop; }
    pa_context *context() const { return m_context; }
    bool inMainloopThread() const;

    // Holds the main loop's lock (a no-op inside its own callbacks, which hold it already).
    class Locker
    {
    public:
        explicit Locker(const PulseConnection &connection);
        ~Locker();
        Locker(const Locker &) = delete;
        Locker &operator=(const Locker &) = delete;

    private:
        pa_threaded_mainloop *m_mainloop = nullptr;
    };

    // With the lock held: waits until `done` answers true, the connection fails, abort() is called or
    // the timeout passes. Answers `done()` at the end.
    bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = defaultTimeout);
    // With the lock held, from a callback: wakes the waits.
    void signal() { pa_threaded_mainloop_signal(m_mainloop, 0); }
    // With the lock held: waits for an operation to end (and releases it). False on failure or timeout.
    bool finish(pa_operation *operation, std::chrono::milliseconds timeout = defaultTimeout);

private:
    PulseConnection() = default;
    static void contextStateChanged(pa_context *context, void *self);
    static void subscriptionEvent(
        pa_context *context, pa_subscription_event_type_t type, uint32_t index, void *self);

    pa_threaded_mainloop *m_mainloop = nullptr;
    pa_context *m_context = nullptr;
    std::atomic<bool> m_aborted { false };
    EventHandler m_eventHandler;
    std::function<void()> m_lostHandler;
    bool m_wasReady = false;
};

namespace AudioInputHardware {
// The devices among a list of sources, sorted by name.
QList<AudioInputDevice> devicesFrom(const QList<PulseSourceInfo> &sources);
} // namespace AudioInputHardware
