#pragma once

#include <QMutex>

// Lets one save of a review run at a time and none after one has succeeded. Shared by the model and
// the review window, possibly across threads, so it guards itself.
class SaveOnceGate
{
public:
    SaveOnceGate() = default;
    SaveOnceGate(const SaveOnceGate &) = delete;
    SaveOnceGate &operator=(const SaveOnceGate &) = delete;

    // True, and a save is now in flight, only when the gate was idle.
    bool begin();
    // The save in flight succeeded: the gate stays closed for good.
    void succeed();
    // The save in flight failed: the gate is idle again so the user can retry. A succeeded gate
    // stays succeeded.
    void fail();
    bool hasSucceeded() const;

private:
    enum class State { idle, inFlight, succeeded };

    mutable QMutex m_mutex;
    State m_state = State::idle;
};
