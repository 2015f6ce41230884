#pragma once

#include "Async/TaskClock.h"
#include "Platform/AudioCaptureEngine.h"

#include <QSet>
#include <QStringList>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

// A sound server for tests: engines that deliver known buffers from their own threads, following the
// engine threading contract, and a log of what was asked of them. Steer it through the public fields
// before a start, and through the gates and feed calls while one runs.
class TestAudioCapture
{
public:
    // Blocks the engine call it guards (on the coordinator's start thread) until released, or the
    // TestAudioCapture goes, or a minute passed (a warning).
    class Gate
    {
    public:
        void hold();
        void release();
        // Whether a call has reached the gate; never blocks, so the test's event loop can keep turning.
        bool isReached();
        void pass(); // called by the engine

    private:
        std::mutex m_mutex;
        std::condition_variable m_changed;
        bool m_held = false;
        bool m_reached = false;
    };

    enum class Stream { others, you };

    TestAudioCapture();
    ~TestAudioCapture();
    TestAudioCapture(const TestAudioCapture &) = delete;
    TestAudioCapture &operator=(const TestAudioCapture &) = delete;

    bool supported = true;
    AudioStreamFormat othersFormat { 48000, 2, AudioStreamFormat::SampleType::float32, true };
    AudioStreamFormat microphoneFormat { 16000, 1, AudioStreamFormat::SampleType::int16, true };
    // What tapRequest answers for any bundle identifier; absent = the application is not running.
    std::optional<ProcessTapRequest> tapRequest;
    QStringList deviceUIDs;
    bool othersPrepareFails = false;
    bool othersActivateFails = false;
    // Microphone UIDs whose prepare() fails; an empty string stands for the default source.
    QSet<QString> failingMicrophones;
    bool microphoneStartFails = false;
    bool makesMicrophone = true;
    Gate othersPrepareGate;
    Gate microphoneStartGate;
    // The clock of the buffers' host times and of the server's loss (none: the system's steady clock);
    // the session's manual clock where a test drives one, so where a sound lands does not depend on
    // how long the machine took between the start and the feed.
    const TaskClock *clock = nullptr;

    AudioCaptureEngineFactory factory();

    // Delivers `count` buffers of `frames` frames, a tone peaking at `amplitude`, from a new thread, and
    // waits for it; answers how many reached a callback (none while the engine is not running).
    int feed(Stream stream, int count, qint64 frames = 1024, float amplitude = 0.5f);
    // Ends the exit watches of that application (their callbacks run on the calling, main thread).
    void applicationExited(const QString &bundleID);
    // The sound server goes away, and comes back: every engine says so, and delivers nothing meanwhile.
    void loseServer();
    void serverBack();

    // What happened, in order: "others.make", "others.prepare(app)"/"others.prepare(system)",
    // "others.activate", "others.stop", "mic.make", "mic.prepare(<uid>|default)", "mic.start", "mic.stop",
    // "watch(<bundle id>)", "unwatch(<bundle id>)".
    QStringList log() const;
    int count(const QString &entry) const;
    // Engines made and not destroyed, and running ones.
    int liveEngines() const;
    int runningEngines() const;

private:
    class Engine;
    class OthersEngine;
    class MicrophoneEngine;
    class ExitWatch;
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
