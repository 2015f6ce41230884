#pragma once

// A small coroutine task for the Qt event loop.
//
//  - A task's body starts on the next turn of the event loop, never inside the call that made it,
//    and every resumption is posted to the loop, never run inside the callback that caused it.
//  - A task is bound to an owner QObject: the first parameter of the coroutine when it is a
//    QObject (for a member function, the object itself), or the object given to Task::spawn.
//    When the owner is destroyed the suspended frame is destroyed instead of resumed.
//  - Cancellation is cooperative: cancel() sets a flag and wakes a pending sleep at once;
//    CurrentTask::checkCancelled() throws TaskCancelled.
//  - Awaitable: another Task, sleepFor() on an injectable TaskClock, a QFuture from a worker
//    thread, and a TaskFuture filled through its TaskPromise.
//
// Tasks run on the thread of the QCoreApplication only.
//
// One rule for co_await under g++ 12: never write a lambda expression inside a co_await expression
// (as the argument of QtConcurrent::run, say); the compiler destroys its closure twice. Make the
// lambda, or the future or task that takes it, first. Awaiting a task returned by a call, with
// other temporaries among its arguments, is safe.

#include "Async/TaskClock.h"

#include <QException>
#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <vector>

// Thrown by CurrentTask::checkCancelled() and by awaiting a task that was cancelled or abandoned.
class TaskCancelled : public std::exception
{
public:
    const char *what() const noexcept override { return "task cancelled"; }
};

// Thrown into the awaiting task when every TaskPromise of a TaskFuture went away unanswered.
class BrokenTaskPromise : public std::logic_error
{
public:
    BrokenTaskPromise()
        : std::logic_error("promise abandoned without an answer")
    { }
};

namespace TaskDetail {

// Wakes one particular suspension of one task; thread-safe, idempotent, never resumes inline.
using Waker = std::function<void()>;

class StateBase : public std::enable_shared_from_this<StateBase>
{
public:
    StateBase();
    virtual ~StateBase();

    void bindOwner(QObject *owner);
    void cancel();
    bool isCancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    bool isFinished() const { return m_finished; }
    bool finishedWithError() const { return m_error != nullptr; }

    // Called from a coroutine at its initial suspension and from every awaiter's await_suspend.
    void attachFrame(std::coroutine_handle<> frame);
    Waker suspend();
    void setCancelWaker(Waker waker);
    void clearCancelWaker();

    void addContinuation(std::function<void()> continuation);
    void setError(std::exception_ptr error) { m_error = std::move(error); }
    void rethrowIfError() const;
    void finishFromFrame();

    static StateBase *current();
    // Keeps a coroutine lambda's closure alive for as long as its frame may run.
    void keepAlive(std::shared_ptr<void> object) { m_keepAlive = std::move(object); }

    // Destroys every frame still suspended; runs when the application object goes away.
    static void destroyAllFrames();

private:
    void post(quint64 suspension);
    void resumeOnLoop(quint64 suspension);
    void destroyFrame();
    void finish();
    void onOwnerDestroyed();

    std::coroutine_handle<> m_frame;
    QPointer<QObject> m_owner;
    bool m_hasOwner = false;
    bool m_ownerGone = false;
    QMetaObject::Connection m_ownerConnection;
    std::atomic<bool> m_cancelled { false };
    bool m_finished = false;
    bool m_running = false;
    bool m_suspended = false;
    quint64 m_suspension = 0;
    std::exception_ptr m_error;
    std::vector<std::function<void()>> m_continuations;
    std::mutex m_wakerMutex;
    Waker m_cancelWaker;
    std::shared_ptr<void> m_keepAlive;
};

template <typename T> class State final : public StateBase
{
public:
    std::optional<T> value;
};

template <> class State<void> final : public StateBase
{
};

template <typename T> class PromiseBase;

template <typename T> constexpr bool isQObjectArgument()
{
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_pointer_v<U>)
        return std::is_base_of_v<QObject, std::remove_cv_t<std::remove_pointer_t<U>>>;
    else
        return std::is_base_of_v<QObject, U>;
}

template <typename T> QObject *asQObject(T &argument)
{
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_pointer_v<U>)
        return const_cast<QObject *>(static_cast<const QObject *>(argument));
    else
        return const_cast<QObject *>(static_cast<const QObject *>(&argument));
}

struct FinalAwaiter
{
    bool await_ready() const noexcept { return false; }
    template <typename P> void await_suspend(std::coroutine_handle<P> frame) noexcept
    {
        // Keep the state alive past the frame: finishing may drop the last other reference.
        std::shared_ptr<StateBase> state = frame.promise().state();
        state->finishFromFrame();
    }
    void await_resume() const noexcept { }
};

template <typename T> class PromiseBase
{
public:
    PromiseBase()
        : m_state(std::make_shared<State<T>>())
    { }
    template <typename First, typename... Rest>
    explicit PromiseBase(First &first, Rest &...)
        : m_state(std::make_shared<State<T>>())
    {
        if constexpr (isQObjectArgument<First>())
            m_state->bindOwner(asQObject(first));
    }

    std::shared_ptr<State<T>> state() const { return m_state; }

    std::suspend_always initial_suspend() noexcept { return {}; }
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() { m_state->setError(std::current_exception()); }

protected:
    std::shared_ptr<State<T>> m_state;
};

} // namespace TaskDetail

template <typename T = void> class Task;

namespace TaskDetail {

template <typename T> class Promise final : public PromiseBase<T>
{
public:
    using PromiseBase<T>::PromiseBase;
    Task<T> get_return_object();
    template <typename U> void return_value(U &&value)
    {
        this->m_state->value.emplace(std::forward<U>(value));
    }
};

template <> class Promise<void> final : public PromiseBase<void>
{
public:
    using PromiseBase<void>::PromiseBase;
    Task<void> get_return_object();
    void return_void() { }
};

} // namespace TaskDetail

// Cancellation of the task whose body is running right now; outside a task nothing is cancelled.
class CurrentTask
{
public:
    static bool isCancelled();
    static void checkCancelled();
};

template <typename T> class Task
{
public:
    using promise_type = TaskDetail::Promise<T>;
    using State = TaskDetail::State<T>;

    Task() = default;
    explicit Task(std::shared_ptr<State> state)
        : m_state(std::move(state))
    { }

    // Runs `body()` as a task bound to `owner`; the callable lives as long as the task does.
    template <typename F> static Task spawn(QObject *owner, F body)
    {
        auto holder = std::make_shared<F>(std::move(body));
        Task task = (*holder)();
        task.m_state->bindOwner(owner);
        task.m_state->keepAlive(std::move(holder));
        return task;
    }

    bool isValid() const { return m_state != nullptr; }
    void cancel() const
    {
        if (m_state)
            m_state->cancel();
    }
    bool isCancelled() const { return m_state && m_state->isCancelled(); }
    bool isFinished() const { return m_state && m_state->isFinished(); }
    bool finishedWithError() const { return m_state && m_state->finishedWithError(); }

    // The result of a finished task; rethrows what the task threw. Only valid once finished.
    decltype(auto) result() const
    {
        m_state->rethrowIfError();
        if constexpr (!std::is_void_v<T>)
            return *m_state->value;
    }

    // Calls `callback` on the event loop once the task has finished, unless `context` is gone.
    template <typename F> void whenFinished(QObject *context, F callback) const
    {
        QPointer<QObject> guard(context);
        m_state->addContinuation([guard, callback = std::move(callback)]() mutable {
            if (guard)
                callback();
        });
    }

    class Awaiter
    {
    public:
        explicit Awaiter(std::shared_ptr<State> awaited)
            : m_awaited(std::move(awaited))
        { }
        bool await_ready() const { return m_awaited->isFinished(); }
        template <typename P> void await_suspend(std::coroutine_handle<P> frame)
        {
            m_awaited->addContinuation(frame.promise().state()->suspend());
        }
        decltype(auto) await_resume() const
        {
            m_awaited->rethrowIfError();
            if constexpr (!std::is_void_v<T>)
                return T(*m_awaited->value);
        }

    private:
        std::shared_ptr<State> m_awaited;
    };

    Awaiter operator co_await() const { return Awaiter(m_state); }

private:
    std::shared_ptr<State> m_state;
};

template <typename T> Task<T> TaskDetail::Promise<T>::get_return_object()
{
    this->m_state->attachFrame(std::coroutine_handle<Promise<T>>::from_promise(*this));
    return Task<T>(this->m_state);
}

inline Task<void> TaskDetail::Promise<void>::get_return_object()
{
    m_state->attachFrame(std::coroutine_handle<Promise<void>>::from_promise(*this));
    return Task<void>(m_state);
}

// Waits `delay` on `clock`. Answers true when the time passed, false when the task was cancelled,
// which ends the wait at once.
class SleepAwaiter
{
public:
    SleepAwaiter(TaskClock &clock, TaskClock::Duration delay)
        : m_clock(clock)
        , m_delay(delay)
    { }
    bool await_ready() const { return false; }
    template <typename P> void await_suspend(std::coroutine_handle<P> frame)
    {
        m_state = frame.promise().state();
        TaskDetail::Waker wake = m_state->suspend();
        m_state->setCancelWaker(wake);
        if (m_state->isCancelled())
            wake();
        else
            m_timer = m_clock.schedule(m_delay, wake);
    }
    bool await_resume()
    {
        m_timer.reset();
        if (m_state)
            m_state->clearCancelWaker();
        return !(m_state && m_state->isCancelled());
    }

private:
    TaskClock &m_clock;
    TaskClock::Duration m_delay;
    std::shared_ptr<TaskDetail::StateBase> m_state;
    std::unique_ptr<TaskClock::Timer> m_timer;
};

inline SleepAwaiter sleepFor(TaskClock &clock, TaskClock::Duration delay)
{
    return SleepAwaiter(clock, delay);
}

inline SleepAwaiter sleepFor(TaskClock::Duration delay)
{
    return SleepAwaiter(TaskClock::system(), delay);
}

// Awaits a QFuture (typically from QtConcurrent::run): resumes on the event loop once it has
// finished; rethrows what the worker threw; a cancelled future throws TaskCancelled.
template <typename T> class FutureAwaiter
{
public:
    explicit FutureAwaiter(QFuture<T> future)
        : m_future(std::move(future))
    { }
    bool await_ready() const { return m_future.isFinished(); }
    template <typename P> void await_suspend(std::coroutine_handle<P> frame)
    {
        TaskDetail::Waker wake = frame.promise().state()->suspend();
        m_watcher = std::make_unique<QFutureWatcher<T>>();
        QObject::connect(m_watcher.get(), &QFutureWatcherBase::finished, m_watcher.get(), wake);
        m_watcher->setFuture(m_future);
    }
    decltype(auto) await_resume()
    {
        m_watcher.reset();
        try {
            m_future.waitForFinished();
            if (m_future.isCanceled() && m_future.resultCount() == 0)
                throw TaskCancelled();
            if constexpr (!std::is_void_v<T>)
                return m_future.takeResult();
        } catch (const QUnhandledException &error) {
            if (error.exception())
                std::rethrow_exception(error.exception());
            throw;
        }
    }

private:
    QFuture<T> m_future;
    std::unique_ptr<QFutureWatcher<T>> m_watcher;
};

template <typename T> FutureAwaiter<T> operator co_await(QFuture<T> future)
{
    return FutureAwaiter<T>(std::move(future));
}

// A one-shot answer from a callback, a dialog or another thread to one awaiting task.
template <typename T> class TaskFuture;

template <typename T = void> class TaskPromise
{
    struct Core
    {
        std::mutex mutex;
        bool settled = false;
        std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value {};
        std::exception_ptr error;
        TaskDetail::Waker waker;

        bool settle(std::function<void(Core &)> fill)
        {
            TaskDetail::Waker wake;
            {
                std::lock_guard lock(mutex);
                if (settled)
                    return false;
                settled = true;
                fill(*this);
                wake = std::move(waker);
            }
            if (wake)
                wake();
            return true;
        }
    };
    struct Producer
    {
        explicit Producer(std::shared_ptr<Core> c)
            : core(std::move(c))
        { }
        Producer(const Producer &) = delete;
        Producer &operator=(const Producer &) = delete;
        std::shared_ptr<Core> core;
        ~Producer()
        {
            core->settle([](Core &c) { c.error = std::make_exception_ptr(BrokenTaskPromise()); });
        }
    };

public:
    TaskPromise()
        : m_core(std::make_shared<Core>())
        , m_producer(std::make_shared<Producer>(m_core))
    { }

    // The first answer wins; later ones are ignored and answer false.
    template <typename U = T>
    requires(!std::is_void_v<U>) bool resolve(U value) const
    {
        return m_core->settle([&](Core &c) { c.value.emplace(std::move(value)); });
    }
    template <typename U = T>
    requires std::is_void_v<U>
    bool resolve() const
    {
        return m_core->settle([](Core &c) { c.value = true; });
    }
    bool reject(std::exception_ptr error) const
    {
        return m_core->settle([&](Core &c) { c.error = std::move(error); });
    }
    bool isSettled() const
    {
        std::lock_guard lock(m_core->mutex);
        return m_core->settled;
    }

    TaskFuture<T> future() const { return TaskFuture<T>(m_core); }

private:
    friend class TaskFuture<T>;
    std::shared_ptr<Core> m_core;
    std::shared_ptr<Producer> m_producer;
};

template <typename T = void> class TaskFuture
{
    using Core = typename TaskPromise<T>::Core;

public:
    explicit TaskFuture(std::shared_ptr<Core> core)
        : m_core(std::move(core))
    { }
    bool await_ready() const
    {
        std::lock_guard lock(m_core->mutex);
        return m_core->settled;
    }
    template <typename P> void await_suspend(std::coroutine_handle<P> frame)
    {
        TaskDetail::Waker wake = frame.promise().state()->suspend();
        bool settled;
        {
            std::lock_guard lock(m_core->mutex);
            settled = m_core->settled;
            if (!settled)
                m_core->waker = wake;
        }
        if (settled)
            wake();
    }
    decltype(auto) await_resume()
    {
        std::lock_guard lock(m_core->mutex);
        if (m_core->error)
            std::rethrow_exception(m_core->error);
        if constexpr (!std::is_void_v<T>)
            return T(*m_core->value);
    }

private:
    std::shared_ptr<Core> m_core;
};
