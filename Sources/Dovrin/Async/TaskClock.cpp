#include "Async/TaskClock.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace {

class QtTimer final : public TaskClock::Timer
{
public:
    QtTimer(TaskClock::Duration delay, std::function<void()> fire)
        : m_timer(new QTimer)
    {
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        if (QCoreApplication *app = QCoreApplication::instance())
            m_timer->moveToThread(app->thread());
        QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(fire));
        QMetaObject::invokeMethod(
            m_timer,
            [t = QPointer<QTimer>(m_timer), ms] {
                if (t)
                    t->start(ms);
            },
            Qt::QueuedConnection);
    }
    ~QtTimer() override { cancel(); }
    void cancel() override
    {
        if (m_timer) {
            m_timer->disconnect();
            m_timer->deleteLater();
            m_timer = nullptr;
        }
    }

private:
    QTimer *m_timer;
};

class SystemClock final : public TaskClock
{
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    std::unique_ptr<Timer> schedule(Duration delay, std::function<void()> fire) override
    {
        return std::make_unique<QtTimer>(delay, std::move(fire));
    }
};

} // namespace

TaskClock &TaskClock::system()
{
    static SystemClock clock;
    return clock;
}

class ManualTaskClock::ManualTimer final : public TaskClock::Timer
{
public:
    ManualTimer(ManualTaskClock *clock, quint64 id)
        : m_clock(clock)
        , m_alive(clock->m_alive)
        , m_id(id)
    { }
    ~ManualTimer() override { cancel(); }
    void cancel() override
    {
        if (m_alive.expired())
            return;
        auto &pending = m_clock->m_pending;
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if (it->second.first == m_id) {
                pending.erase(it);
                break;
            }
        }
    }

private:
    ManualTaskClock *m_clock;
    std::weak_ptr<bool> m_alive;
    quint64 m_id;
};

ManualTaskClock::ManualTaskClock()
    : m_now(std::chrono::steady_clock::time_point {} + std::chrono::hours(1))
    , m_alive(std::make_shared<bool>(true))
{ }

ManualTaskClock::~ManualTaskClock() = default;

std::unique_ptr<TaskClock::Timer> ManualTaskClock::schedule(Duration delay, std::function<void()> fire)
{
    const quint64 id = m_nextId++;
    m_pending.emplace(m_now + std::max(delay, Duration::zero()), std::make_pair(id, std::move(fire)));
    return std::make_unique<ManualTimer>(this, id);
}

void ManualTaskClock::advance(Duration by)
{
    const TimePoint target = m_now + std::max(by, Duration::zero());
    while (!m_pending.empty() && m_pending.begin()->first <= target) {
        auto node = m_pending.extract(m_pending.begin());
        m_now = std::max(m_now, node.key());
        node.mapped().second();
    }
    m_now = target;
}
