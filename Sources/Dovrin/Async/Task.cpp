#include "Async/Task.h"

#include <QCoreApplication>

#include <unordered_set>

namespace TaskDetail {

namespace {

thread_local StateBase *t_current = nullptr;

// Every state whose frame is alive, so frames left suspended at exit are destroyed, not leaked.
std::unordered_set<StateBase *> &liveStates()
{
    static std::unordered_set<StateBase *> states;
    return states;
}

void ensureCleanupAtExit()
{
    static bool registered = false;
    if (!registered && QCoreApplication::instance()) {
        registered = true;
        qAddPostRoutine([] {
            StateBase::destroyAllFrames();
            registered = false;
        });
    }
}

} // namespace

StateBase::StateBase() = default;

StateBase::~StateBase()
{
    QObject::disconnect(m_ownerConnection);
}

void StateBase::bindOwner(QObject *owner)
{
    QObject::disconnect(m_ownerConnection);
    m_owner = owner;
    m_hasOwner = owner != nullptr;
    if (!owner)
        return;
    std::weak_ptr<StateBase> weak = weak_from_this();
    m_ownerConnection = QObject::connect(owner, &QObject::destroyed, [weak] {
        if (auto state = weak.lock())
            state->onOwnerDestroyed();
    });
}

void StateBase::attachFrame(std::coroutine_handle<> frame)
{
    ensureCleanupAtExit();
    m_frame = frame;
    liveStates().insert(this);
    // The body starts on the next turn: the first resumption is the start.
    m_suspended = true;
    post(++m_suspension);
}

Waker StateBase::suspend()
{
    m_suspended = true;
    const quint64 suspension = ++m_suspension;
    std::weak_ptr<StateBase> weak = weak_from_this();
    return [weak, suspension] {
        if (auto state = weak.lock())
            state->post(suspension);
    };
}

void StateBase::post(quint64 suspension)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    std::weak_ptr<StateBase> weak = weak_from_this();
    QMetaObject::invokeMethod(
        app,
        [weak, suspension] {
            if (auto state = weak.lock())
                state->resumeOnLoop(suspension);
        },
        Qt::QueuedConnection);
}

void StateBase::resumeOnLoop(quint64 suspension)
{
    // A stale wake (a timer firing after a cancel already woke the sleep) finds another suspension.
    if (!m_frame || !m_suspended || suspension != m_suspension || m_running)
        return;
    if (m_ownerGone) {
        destroyFrame();
        return;
    }
    std::shared_ptr<StateBase> keep = shared_from_this();
    m_suspended = false;
    m_running = true;
    StateBase *previous = t_current;
    t_current = this;
    m_frame.resume();
    t_current = previous;
    m_running = false;
    // The owner went away while the body ran: the frame must not be resumed again.
    if (m_ownerGone && m_frame && m_suspended)
        destroyFrame();
}

void StateBase::setCancelWaker(Waker waker)
{
    std::lock_guard lock(m_wakerMutex);
    m_cancelWaker = std::move(waker);
}

void StateBase::clearCancelWaker()
{
    std::lock_guard lock(m_wakerMutex);
    m_cancelWaker = nullptr;
}

void StateBase::cancel()
{
    m_cancelled.store(true, std::memory_order_release);
    Waker wake;
    {
        std::lock_guard lock(m_wakerMutex);
        wake = m_cancelWaker;
    }
    if (wake)
        wake();
}

void StateBase::addContinuation(std::function<void()> continuation)
{
    if (m_finished) {
        QCoreApplication *app = QCoreApplication::instance();
        if (app)
            QMetaObject::invokeMethod(app, std::move(continuation), Qt::QueuedConnection);
        return;
    }
    m_continuations.push_back(std::move(continuation));
}

void StateBase::rethrowIfError() const
{
    if (m_error)
        std::rethrow_exception(m_error);
}

void StateBase::finishFromFrame()
{
    std::coroutine_handle<> frame = m_frame;
    m_frame = nullptr;
    liveStates().erase(this);
    QObject::disconnect(m_ownerConnection);
    frame.destroy();
    finish();
}

void StateBase::finish()
{
    m_finished = true;
    std::vector<std::function<void()>> continuations;
    continuations.swap(m_continuations);
    QCoreApplication *app = QCoreApplication::instance();
    for (auto &continuation : continuations) {
        if (app)
            QMetaObject::invokeMethod(app, std::move(continuation), Qt::QueuedConnection);
    }
}

void StateBase::destroyFrame()
{
    if (!m_frame)
        return;
    std::shared_ptr<StateBase> keep = shared_from_this();
    std::coroutine_handle<> frame = m_frame;
    m_frame = nullptr;
    m_suspended = false;
    liveStates().erase(this);
    QObject::disconnect(m_ownerConnection);
    frame.destroy();
    // Whoever awaits an abandoned task learns that it will never answer.
    if (!m_error)
        m_error = std::make_exception_ptr(TaskCancelled());
    finish();
}

void StateBase::onOwnerDestroyed()
{
    m_ownerGone = true;
    m_cancelled.store(true, std::memory_order_release);
    if (m_frame && m_suspended && !m_running)
        destroyFrame();
}

StateBase *StateBase::current()
{
    return t_current;
}

void StateBase::destroyAllFrames()
{
    while (!liveStates().empty()) {
        StateBase *state = *liveStates().begin();
        if (state->m_running) {
            liveStates().erase(state);
            continue;
        }
        state->destroyFrame();
    }
}

} // namespace TaskDetail

bool CurrentTask::isCancelled()
{
    TaskDetail::StateBase *state = TaskDetail::StateBase::current();
    return state && state->isCancelled();
}

void CurrentTask::checkCancelled()
{
    if (isCancelled())
        throw TaskCancelled();
}
