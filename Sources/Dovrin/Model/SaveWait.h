#pragma once

#include "Async/Task.h"
#include "Async/TaskClock.h"

#include <QObject>

#include <memory>

// Waits for the save of a review (a ReviewSession or an AudioReviewSession: isSaving() and changed())
// to end, however it ends: true once it no longer saves, false when `limit` passed first. A close or
// a quit that comes while the note is being written thus decides after the write, not before.
template <typename Session>
Task<bool> saveEnds(std::shared_ptr<Session> session, TaskClock &clock, TaskClock::Duration limit)
{
    if (!session->isSaving())
        co_return true;
    TaskPromise<bool> ended;
    const QMetaObject::Connection watching = QObject::connect(
        session.get(), &Session::changed, session.get(), [weak = std::weak_ptr<Session>(session), ended] {
            if (const std::shared_ptr<Session> watched = weak.lock(); watched && !watched->isSaving())
                ended.resolve(true);
        });
    const std::unique_ptr<TaskClock::Timer> deadline
        = clock.schedule(limit, [ended] { ended.resolve(false); });
    TaskFuture<bool> answer = ended.future();
    const bool settled = co_await answer;
    QObject::disconnect(watching);
    co_return settled;
}
