#include "Rules/SaveOnceGate.h"

bool SaveOnceGate::begin()
{
    QMutexLocker locker(&m_mutex);
    if (m_state != State::idle)
        return false;
    m_state = State::inFlight;
    return true;
}

void SaveOnceGate::succeed()
{
    QMutexLocker locker(&m_mutex);
    m_state = State::succeeded;
}

void SaveOnceGate::fail()
{
    QMutexLocker locker(&m_mutex);
    if (m_state == State::inFlight)
        m_state = State::idle;
}

bool SaveOnceGate::hasSucceeded() const
{
    QMutexLocker locker(&m_mutex);
    return m_state == State::succeeded;
}
