#include "MainThreadStallProbe.h"

#include <algorithm>

namespace {
constexpr int periodMs = 5;
}

MainThreadStallProbe::MainThreadStallProbe(QObject *parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(periodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        const qint64 now = m_clock.elapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    });
}

void MainThreadStallProbe::start()
{
    m_clock.start();
    m_last = 0;
    m_longest = 0;
    m_timer.start();
}

qint64 MainThreadStallProbe::longestStallMs() const
{
    // A stall still in progress counts too.
    const qint64 current = m_clock.isValid() ? m_clock.elapsed() - m_last : 0;
    return std::max<qint64>(0, std::max(m_longest, current) - periodMs);
}
