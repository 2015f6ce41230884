#include "Platform/StreamPositionClock.h"

#include <algorithm>

StreamPositionClock::StreamPositionClock(
    double sampleRate, std::chrono::milliseconds lostAfter, std::chrono::milliseconds window)
    : m_rate(sampleRate > 0 ? sampleRate : 48000)
    , m_lostAfter(lostAfter)
    , m_window(window)
{ }

std::chrono::nanoseconds StreamPositionClock::duration(qint64 frames) const
{
    return std::chrono::nanoseconds(qint64(double(frames) * 1e9 / m_rate));
}

void StreamPositionClock::restart()
{
    m_anchor.reset();
    m_delivered = 0;
    m_reads.clear();
}

StreamPositionClock::TimePoint StreamPositionClock::stamp(qint64 frames, TimePoint now)
{
    frames = std::max<qint64>(frames, 0);
    if (!m_anchor) {
        m_anchor = now - duration(frames);
        m_steadySince = now;
    }
    // Reading that stopped for half a window (the program was paused) starts a new steady stretch:
    // what comes first after it is the server's backlog.
    if (!m_reads.empty() && now - m_reads.back().at > m_window / 2) {
        m_reads.clear();
        m_steadySince = now;
    }
    const TimePoint end = *m_anchor + duration(m_delivered + frames);
    m_reads.push_back({ now, now - end });
    while (m_reads.front().at < now - m_window)
        m_reads.pop_front();
    // A lag that fell through the window is a backlog still being drawn (a program that reads slowly
    // once it runs again): what is missing is on its way, and moving on now would place it after a
    // gap it should have filled.
    const bool catchingUp = m_reads.front().lag - m_reads.back().lag > m_lostAfter / 4;
    if (now - m_steadySince >= m_window && !catchingUp) {
        const auto least
            = std::min_element(m_reads.cbegin(), m_reads.cend(), [](const Read &a, const Read &b) {
                  return a.lag < b.lag;
              })->lag;
        if (least > m_lostAfter) {
            *m_anchor += least;
            for (Read &read : m_reads)
                read.lag -= least;
        }
    }
    const TimePoint start = *m_anchor + duration(m_delivered);
    m_delivered += frames;
    return start;
}
