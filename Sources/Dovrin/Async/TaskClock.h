#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

// The clock behind every wait of an async flow. Steady by construction: waits measure elapsed time,
// never the wall clock, so a clock change cannot stretch or cut a 120 s grant watch.
class TaskClock
{
public:
    using Duration = std::chrono::nanoseconds;
    using TimePoint = std::chrono::steady_clock::time_point;

    // Cancels a scheduled callback when destroyed or when cancel() is called.
    class Timer
    {
    public:
        virtual ~Timer() = default;
        virtual void cancel() = 0;
    };

    virtual ~TaskClock() = default;
    virtual TimePoint now() const = 0;
    // Calls fire once, on the thread that owns the event loop, after at least `delay`.
    virtual std::unique_ptr<Timer> schedule(Duration delay, std::function<void()> fire) = 0;

    // The real steady clock, backed by QTimer on the main thread.
    static TaskClock &system();
};

// A clock that only moves when told to: a two-minute wait runs in microseconds in tests.
class ManualTaskClock final : public TaskClock
{
public:
    ManualTaskClock();
    ~ManualTaskClock() override;

    TimePoint now() const override { return m_now; }
    std::unique_ptr<Timer> schedule(Duration delay, std::function<void()> fire) override;

    // Moves time forward and fires every callback that became due, in due order.
    void advance(Duration by);
    int pendingTimers() const { return int(m_pending.size()); }

private:
    class ManualTimer;
    TimePoint m_now;
    quint64 m_nextId = 1;
    std::multimap<TimePoint, std::pair<quint64, std::function<void()>>> m_pending;
    std::shared_ptr<bool> m_alive;
};
