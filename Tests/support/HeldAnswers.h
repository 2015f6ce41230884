#pragma once

#include "Async/Task.h"

#include <QTest>

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// A task that answers `value` on its first turn: a fake service that never keeps anyone waiting.
template <typename T> Task<T> answeredAtOnce(T value)
{
    co_return value;
}

// A stand-in for a service whose answers the test gives, when and in the order it chooses: a late
// answer can be made to arrive after a newer one. Calls are numbered from 0 as they arrive. A
// service awaited by a task answers through task(); one the model runs on a worker thread answers
// through wait(), which blocks that worker until the call is answered. Calls still unanswered when
// this goes away fail (BrokenTaskPromise), so no worker is left blocked.
template <typename T> class HeldAnswers
{
public:
    HeldAnswers() = default;
    HeldAnswers(const HeldAnswers &) = delete;
    HeldAnswers &operator=(const HeldAnswers &) = delete;
    ~HeldAnswers()
    {
        failUnanswered();
        // A worker woken just now may still be on its way out of wait().
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting == 0; });
    }

    Task<T> task() { return awaitAnswer(add()); }
    T wait()
    {
        std::unique_lock lock(m_mutex);
        const std::shared_ptr<Call> call = addLocked();
        ++m_waiting;
        m_changed.wait(lock, [&call] { return call->answered; });
        --m_waiting;
        m_changed.notify_all();
        if (call->error)
            std::rethrow_exception(call->error);
        return *call->value;
    }

    int calls() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_calls.size());
    }
    // Runs the event loop until `count` calls have arrived.
    [[nodiscard]] bool waitForCalls(int count, int timeoutMs = 10000) const
    {
        return QTest::qWaitFor([&] { return calls() >= count; }, timeoutMs);
    }
    void answer(int call, T value) { settle(call, std::move(value), nullptr); }
    void fail(int call, std::exception_ptr error) { settle(call, std::nullopt, std::move(error)); }
    // Every call from now on, and every one still waiting, gets `value` at once.
    void answerAll(T value)
    {
        std::vector<int> waiting;
        {
            std::lock_guard lock(m_mutex);
            m_default = value;
            for (int i = 0; i < int(m_calls.size()); ++i) {
                if (!m_calls[size_t(i)]->answered)
                    waiting.push_back(i);
            }
        }
        for (int call : waiting)
            answer(call, value);
    }

private:
    struct Call
    {
        bool answered = false;
        std::optional<T> value;
        std::exception_ptr error;
        TaskPromise<T> promise;
    };

    static Task<T> awaitAnswer(std::shared_ptr<Call> call)
    {
        TaskFuture<T> answer = call->promise.future();
        co_return co_await answer;
    }

    std::shared_ptr<Call> add()
    {
        std::lock_guard lock(m_mutex);
        return addLocked();
    }
    std::shared_ptr<Call> addLocked()
    {
        auto call = std::make_shared<Call>();
        m_calls.push_back(call);
        if (m_default) {
            call->answered = true;
            call->value = m_default;
            call->promise.resolve(*m_default);
        }
        return call;
    }
    void settle(int index, std::optional<T> value, std::exception_ptr error)
    {
        std::shared_ptr<Call> call;
        {
            std::lock_guard lock(m_mutex);
            if (index < 0 || index >= int(m_calls.size()) || m_calls[size_t(index)]->answered)
                return;
            call = m_calls[size_t(index)];
            call->answered = true;
            call->value = value;
            call->error = error;
        }
        m_changed.notify_all();
        if (error)
            call->promise.reject(error);
        else
            call->promise.resolve(std::move(*value));
    }
    void failUnanswered()
    {
        for (int i = 0; i < calls(); ++i)
            fail(i, std::make_exception_ptr(BrokenTaskPromise()));
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::shared_ptr<Call>> m_calls;
    std::optional<T> m_default;
    int m_waiting = 0;
};
