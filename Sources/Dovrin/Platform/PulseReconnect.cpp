#include "Platform/PulseReconnect.h"

PulseReconnect::PulseReconnect(
    QString clientName, Reconnected reconnected, std::chrono::milliseconds retryInterval)
    : m_clientName(std::move(clientName))
    , m_reconnected(std::move(reconnected))
    , m_retryInterval(retryInterval)
{ }

PulseReconnect::~PulseReconnect()
{
    stop();
}

void PulseReconnect::watch(PulseConnection &connection)
{
    connection.setLostHandler([this] { lost(); });
}

void PulseReconnect::lost()
{
    std::lock_guard guard(m_mutex);
    if (m_stopped)
        return;
    ++m_losses;
    if (!m_lostSince)
        m_lostSince = std::chrono::steady_clock::now();
    // The thread starts with the first loss: most sessions never need it.
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    m_wake.notify_all();
}

void PulseReconnect::stop()
{
    std::thread thread;
    {
        std::lock_guard guard(m_mutex);
        m_stopped = true;
        thread = std::move(m_thread);
    }
    m_wake.notify_all();
    if (thread.joinable())
        thread.join();
}

std::optional<PulseReconnect::TimePoint> PulseReconnect::lostSince() const
{
    std::lock_guard guard(m_mutex);
    return m_lostSince;
}

void PulseReconnect::run()
{
    std::unique_lock guard(m_mutex);
    while (!m_stopped) {
        m_wake.wait(guard, [this] { return m_stopped || m_lostSince; });
        if (m_stopped)
            return;
        const int losses = m_losses;
        guard.unlock();
        // A server that is still starting refuses at once; one that hangs is given a second.
        std::shared_ptr<PulseConnection> connection = PulseConnection::serverConfigured()
            ? PulseConnection::open(m_clientName, std::chrono::milliseconds(1000))
            : nullptr;
        const bool back = connection && m_reconnected(std::move(connection));
        guard.lock();
        // A connection lost again while it was being set up is tried afresh.
        if (back && m_losses == losses) {
            m_lostSince.reset();
            continue;
        }
        m_wake.wait_for(guard, m_retryInterval, [this] { return m_stopped; });
    }
}
