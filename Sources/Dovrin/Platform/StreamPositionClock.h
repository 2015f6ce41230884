#pragma once

#include <QtGlobal>

#include <chrono>
#include <deque>
#include <optional>

// Times the buffers of a recording stream by their place in the stream, not by when they arrive. A
// sound server keeps what a source captured while the program did not read (a paused or starved
// program) and hands it over later in a burst: stamped on arrival, that audio would land after the
// pause instead of in it. The stream's first buffer anchors the clock and every later buffer follows
// the frames before it.
//
// Audio the server could not keep shows as buffers that arrive late by more than `lostAfter` through
// a whole `window` of steady reading, one in which the delay did not shrink (a backlog still being
// caught up on, however slowly, is not lost): the clock then moves on by the least of those delays,
// so what the server dropped becomes a gap, and the next audio is placed when it was heard. One
// thread at a time.
class StreamPositionClock
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr std::chrono::milliseconds defaultLostAfter { 200 };
    static constexpr std::chrono::milliseconds defaultWindow { 1000 };

    explicit StreamPositionClock(double sampleRate, std::chrono::milliseconds lostAfter = defaultLostAfter,
        std::chrono::milliseconds window = defaultWindow);

    // The time of the first of `frames` frames that arrived at `now`.
    TimePoint stamp(qint64 frames, TimePoint now);
    // A new stream: the next buffer anchors the clock again.
    void restart();

private:
    struct Read
    {
        TimePoint at;
        std::chrono::nanoseconds lag;
    };
    std::chrono::nanoseconds duration(qint64 frames) const;

    double m_rate;
    std::chrono::nanoseconds m_lostAfter;
    std::chrono::nanoseconds m_window;
    std::optional<TimePoint> m_anchor;
    qint64 m_delivered = 0;
    // Reads since the reading last stalled, at most one window back.
    std::deque<Read> m_reads;
    TimePoint m_steadySince {};
};
