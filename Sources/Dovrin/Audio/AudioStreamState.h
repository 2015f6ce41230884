#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

// The two streams of an audio session.
enum class AudioStreamChannel { others, you };

// The hand-off between the audio callback threads and the main thread: one slot per stream, each with
// the resource (the writer) its callbacks may use, the session generation that installed it, the
// callbacks currently inside it and when its level was last published.
//
// One mutex guards everything; caller code (the body of withResource) always runs with it released,
// so a thread holding this lock never takes another one. Removal waits on the condition until no
// callback is still inside the slot's resource, so a writer is finished only after its last append.
template <typename Resource> class AudioStreamState
{
public:
    using Pointer = std::shared_ptr<Resource>;
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    static constexpr std::chrono::milliseconds levelInterval { 100 };
    static constexpr std::chrono::milliseconds levelFreshness { 300 };

    AudioStreamState() = default;
    AudioStreamState(const AudioStreamState &) = delete;
    AudioStreamState &operator=(const AudioStreamState &) = delete;

    // Accepts `owner` as the one generation that may install and use resources; only when no other
    // generation is accepted and both slots are empty and idle.
    bool authorize(int owner)
    {
        std::lock_guard lock(m_mutex);
        if (m_acceptedOwner || m_others.resource || m_you.resource || m_others.isDraining || m_you.isDraining)
            return false;
        m_acceptedOwner = owner;
        return true;
    }

    // False (and nothing changes) unless `owner` is accepted and the slot is empty, idle and not draining;
    // the caller then discards the refused resource.
    bool install(Pointer resource, AudioStreamChannel channel, int owner)
    {
        std::lock_guard lock(m_mutex);
        Slot &s = slot(channel);
        if (!resource || m_acceptedOwner != owner || s.resource || s.activeCallbacks > 0 || s.isDraining)
            return false;
        s.resource = std::move(resource);
        s.owner = owner;
        s.lastLevelAt.reset();
        return true;
    }

    // The callback gate: runs body(resource) with the lock released, when `owner` is accepted and owns the
    // slot. Absent (body not run) otherwise. Removal waits until the body has returned.
    template <typename Body>
    auto withResource(AudioStreamChannel channel, int owner, Body &&body)
        -> std::optional<std::invoke_result_t<Body, Resource &>>
    {
        Pointer resource;
        {
            std::lock_guard lock(m_mutex);
            Slot &s = slot(channel);
            if (m_acceptedOwner != owner || s.owner != owner || !s.resource)
                return std::nullopt;
            ++s.activeCallbacks;
            resource = s.resource;
        }
        // Leaves the slot even when the body throws, or removal would wait forever; the callback's own
        // reference goes first, so the remover ends up holding the last one.
        struct Leave
        {
            AudioStreamState *state;
            AudioStreamChannel channel;
            Pointer resource;
            ~Leave()
            {
                resource.reset();
                state->leave(channel);
            }
        } leave { this, channel, std::move(resource) };
        return std::optional<std::invoke_result_t<Body, Resource &>>(
            std::forward<Body>(body)(*leave.resource));
    }

    // Empties the slot when `owner` installed it, once its callbacks have left; answers the resource.
    Pointer removeAfterCallbacksDrain(AudioStreamChannel channel, int owner)
    {
        std::unique_lock lock(m_mutex);
        Slot &s = slot(channel);
        if (s.owner != owner)
            return nullptr;
        Pointer taken = std::move(s.resource);
        s.resource.reset();
        s.owner.reset();
        s.isDraining = true;
        m_drained.wait(lock, [&] { return s.activeCallbacks == 0; });
        s.lastLevelAt.reset();
        s.isDraining = false;
        return taken;
    }

    // Empties both slots, whoever installed them, once all their callbacks have left.
    std::pair<Pointer, Pointer> removeAllAfterCallbacksDrain()
    {
        std::unique_lock lock(m_mutex);
        std::pair<Pointer, Pointer> taken { std::move(m_others.resource), std::move(m_you.resource) };
        for (Slot *s : { &m_others, &m_you }) {
            s->resource.reset();
            s->owner.reset();
            s->isDraining = true;
        }
        m_drained.wait(lock, [&] { return m_others.activeCallbacks == 0 && m_you.activeCallbacks == 0; });
        for (Slot *s : { &m_others, &m_you }) {
            s->lastLevelAt.reset();
            s->isDraining = false;
        }
        return taken;
    }

    // From now on no callback of `owner` passes the gate.
    void revoke(int owner)
    {
        std::lock_guard lock(m_mutex);
        if (m_acceptedOwner == owner)
            m_acceptedOwner.reset();
    }

    // The level throttle: true (and the stamp moves to `now`) at most once per levelInterval per slot;
    // exactly one interval after the last stamp passes. The first call after an installation passes.
    bool stampLevel(AudioStreamChannel channel, int owner, TimePoint now)
    {
        std::lock_guard lock(m_mutex);
        Slot &s = slot(channel);
        if (m_acceptedOwner != owner || s.owner != owner || !s.resource)
            return false;
        if (s.lastLevelAt && now - *s.lastLevelAt < levelInterval)
            return false;
        s.lastLevelAt = now;
        return true;
    }

    // A level published at most levelFreshness before `now` (exactly that still counts) by the accepted
    // owner's slot.
    bool levelIsFresh(AudioStreamChannel channel, int owner, TimePoint now) const
    {
        std::lock_guard lock(m_mutex);
        const Slot &s = slot(channel);
        return m_acceptedOwner == owner && s.owner == owner && s.lastLevelAt
            && now - *s.lastLevelAt <= levelFreshness;
    }

private:
    struct Slot
    {
        Pointer resource;
        std::optional<int> owner;
        int activeCallbacks = 0;
        bool isDraining = false;
        std::optional<TimePoint> lastLevelAt; // absent: never, or reset by an installation or removal
    };

    Slot &slot(AudioStreamChannel channel)
    {
        return channel == AudioStreamChannel::others ? m_others : m_you;
    }
    const Slot &slot(AudioStreamChannel channel) const
    {
        return channel == AudioStreamChannel::others ? m_others : m_you;
    }

    void leave(AudioStreamChannel channel)
    {
        std::lock_guard lock(m_mutex);
        Slot &s = slot(channel);
        if (--s.activeCallbacks == 0)
            m_drained.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_drained;
    Slot m_others;
    Slot m_you;
    std::optional<int> m_acceptedOwner;
};
