#pragma once

#include "Platform/PulseConnection.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// Carries an engine through a restart of the sound server (an update, a crash, a change of devices):
// once its connection is lost it opens a new one every `retryInterval` on a thread of its own, and
// hands each to `reconnected`, which sets the engine's streams up on it again and answers whether that
// worked; until one does, the server counts as lost.
class PulseReconnect
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Reconnected = std::function<bool(std::shared_ptr<PulseConnection>)>;

    static constexpr std::chrono::milliseconds defaultRetryInterval { 500 };

    PulseReconnect(QString clientName, Reconnected reconnected,
        std::chrono::milliseconds retryInterval = defaultRetryInterval);
    // Stops first.
    ~PulseReconnect();
    PulseReconnect(const PulseReconnect &) = delete;
    PulseReconnect &operator=(const PulseReconnect &) = delete;

    // Notices when `connection` is lost; set before the connection is in use. The handler holds this
    // object, so stop() must come before the connection goes.
    void watch(PulseConnection &connection);
    // Any thread: the connection is gone (the server went away).
    void lost();
    // Ends the attempts and waits for the thread; afterwards nothing is handed over. Any thread but the
    // one that runs `reconnected`.
    void stop();
    // Since when the server has been lost; none while connected.
    std::optional<TimePoint> lostSince() const;

private:
    void run();

    const QString m_clientName;
    const Reconnected m_reconnected;
    const std::chrono::milliseconds m_retryInterval;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<TimePoint> m_lostSince;
    int m_losses = 0;
    bool m_stopped = false;
    std::thread m_thread;
};
