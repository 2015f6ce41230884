#pragma once

#include "Async/Task.h"
#include "Async/TaskClock.h"
#include "Audio/AACStreamWriter.h"
#include "Audio/AudioStreamState.h"
#include "Documents/FolderBookmark.h"
#include "Platform/AudioCaptureEngine.h"
#include "Rules/AudioRecordingNote.h"
#include "Rules/AudioSessionPhase.h"

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QThreadPool>
#include <QTimeZone>
#include <QUrl>
#include <QUuid>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

// Why a recording ended before the user stopped it.
struct AudioRecordingInterruption
{
    enum class Kind {
        serverGone, // the sound server went away and did not come back in time
        writeFailed, // a file could not be written
    };
    Kind kind = Kind::serverGone;
    // Where the recording ends, in seconds from its start.
    double atSeconds = 0;
    // writeFailed: the system's error code.
    int errorNumber = 0;

    friend bool operator==(const AudioRecordingInterruption &, const AudioRecordingInterruption &) = default;
};

// What a finished recording produced.
struct AudioSessionResult
{
    QUuid id;
    QDateTime startedAt;
    // startedAt plus the session's length on the steady clock, so the duration is true even when the
    // wall clock was changed meanwhile.
    QDateTime endedAt;
    // The files as their writers finished them (a .caf when a writer fell back); absent without a writer.
    std::optional<QUrl> othersURL;
    std::optional<QUrl> youURL;
    bool heardOthers = false;
    bool heardYou = false;
    float othersPeak = 0;
    float youPeak = 0;
    // The capture folder, its access still open: the receiver ends it.
    std::optional<ResolvedFolder> folder;
    // Stretches during which the sound server was away: silent in both files.
    QList<AudioRecordingNote::Gap> serverGaps;
    // Why the recording ended before it was stopped; none when it was stopped.
    std::optional<AudioRecordingInterruption> interruption;
    // Audio is missing from a file: a buffer was dropped, or a write failed.
    bool writeFailed = false;
    // What the recording went through, for its note: the interruption, then the sound server's absences;
    // empty when nothing happened.
    QString recordingNote;
};

// A recording that runs, as far as what it leaves behind if the program ends without stopping it.
struct RunningRecording
{
    QUuid id;
    QDateTime startedAt;
    ResolvedFolder folder;
    QString othersPath;
    // None when the microphone is not recorded.
    std::optional<QString> youPath;
};

// Why an audio start failed.
class AudioSessionStartError : public std::exception
{
public:
    enum Kind {
        appNotRunning,
        appUnreachable,
        unsupported,
        folderInaccessible,
        systemAudioStartFailed,
        cancelled,
        folderNotWritable, // no room, or a trial write refused
    };

    explicit AudioSessionStartError(Kind kind, QString displayName = {}, int errorNumber = 0);
    static AudioSessionStartError appNotRunningError(const QString &displayName)
    {
        return AudioSessionStartError(appNotRunning, displayName);
    }
    static AudioSessionStartError appUnreachableError(const QString &displayName)
    {
        return AudioSessionStartError(appUnreachable, displayName);
    }
    // The folder's name and the system's error code.
    static AudioSessionStartError folderNotWritableError(const QString &folderName, int errorNumber)
    {
        return AudioSessionStartError(folderNotWritable, folderName, errorNumber);
    }

    Kind kind() const { return m_kind; }
    // The application's name for appNotRunning and appUnreachable; the folder's for folderNotWritable.
    const QString &displayName() const { return m_displayName; }
    int errorNumber() const { return m_errorNumber; }
    // The text for the user; none for `cancelled`.
    std::optional<QString> description() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const AudioSessionStartError &a, const AudioSessionStartError &b)
    {
        return a.m_kind == b.m_kind && a.m_displayName == b.m_displayName
            && a.m_errorNumber == b.m_errorNumber;
    }

private:
    Kind m_kind;
    QString m_displayName;
    int m_errorNumber = 0;
    QByteArray m_what;
};

// Runs one audio session at a time: "Others" (an application's sound or the whole system's) and "You"
// (the microphone), each written by its own AACStreamWriter beside the note to be saved. Lives on the
// main thread for the program's lifetime. The engines' callback threads reach the writers only through
// the stream hand-off; engine set-up runs on one start thread and tear-down on another, so the main
// thread never waits for the sound server, the encoder or the disk.
class AudioSessionCoordinator : public QObject
{
    Q_OBJECT

public:
    using Streams = AudioStreamState<AACStreamWriter>;

    struct Environment
    {
        // The sound-server layer; a default-made factory means recording is not supported here.
        AudioCaptureEngineFactory engines;
        // Opens access to the capture folder (default: it is readable and writable).
        std::function<bool(const ResolvedFolder &)> startAccessingFolder;
        // The system's error code that keeps a recording out of a folder, none when it can take one;
        // called off the main thread (default: FolderRoom::problem).
        std::function<std::optional<int>(const QString &folder)> folderProblem;
        std::function<void(const ResolvedFolder &)> stopAccessingFolder;
        // When set, stop() answers this instead of draining and finishing the writers.
        std::function<AudioSessionResult()> stopOverride;
        // Whether the microphone may be recorded (default: yes at once; the desktop has no prompt).
        std::function<TaskFuture<bool>()> microphoneAuthorized;
        // The steady clock of the elapsed time, levels and warnings (default: the system's); it must
        // outlive the coordinator.
        TaskClock *clock = nullptr;
        // The wall clock of the session's start time and file names (default: now).
        std::function<QDateTime()> now;
        QTimeZone fileNameTimeZone = QTimeZone::systemTimeZone();
        // How long a lost sound server may take to come back before the recording ends there.
        std::chrono::milliseconds serverReturnLimit = defaultServerReturnLimit;
    };

    static constexpr std::chrono::milliseconds tickInterval { 250 };
    static constexpr std::chrono::milliseconds defaultServerReturnLimit { 30000 };
    // Both files are cut into fragments together this often, so a crash leaves them equally long.
    static constexpr std::chrono::seconds fragmentInterval { 1 };
    // A stream whose audio ends further back than this does not hold the other's fragments back.
    static constexpr std::chrono::seconds stalledStreamAllowance { 2 };
    static constexpr std::chrono::seconds silentApplicationDelay { 5 };
    // A session peak from this level on counts as sound from the application.
    static constexpr float heardLevel = 0.001f;

    // Records through this machine's sound server (liveAudioCaptureEngineFactory()).
    explicit AudioSessionCoordinator(QObject *parent = nullptr);
    explicit AudioSessionCoordinator(Environment environment, QObject *parent = nullptr);
    // Stops a session still running and finishes its files (keeping them).
    ~AudioSessionCoordinator() override;

    AudioSessionPhase phase() const { return m_phase; }
    // The application model moves the phase on after stop (transcribing, reviewing, saved, failed);
    // `saved` and `idle` drop the warning.
    void setPhase(AudioSessionPhase phase);
    double elapsed() const { return m_elapsed; }
    float othersLevel() const { return m_othersLevel; }
    float youLevel() const { return m_youLevel; }
    const std::optional<QString> &warning() const { return m_warning; }
    bool isRecording() const;
    bool isBusy() const;
    // "Others " + glyph + "  You " + glyph.
    QString meterLine() const;

    // The capture folder whose access the last session opened; kept after stop until the next start.
    const std::optional<ResolvedFolder> &scopedFolder() const { return m_scopedFolder; }
    // Ends that access and forgets the folder.
    void endScopedFolderAccess();
    // The recording while the phase is `recording`; none otherwise.
    std::optional<RunningRecording> runningRecording() const;

    // Starts both streams; returns once Others runs (and You runs, or could not be started), with the
    // phase `recording`. Throws AudioSessionStartError. Does nothing while a session is recording.
    Task<> start(ResolvedFolder folder, std::optional<QString> microphoneUID, bool includeYou,
        std::optional<QString> othersBundleID, std::optional<QString> othersDisplayName);
    // Stops both streams, waits (off the main thread) until no callback is writing, finishes both files
    // and reports them. The phase is `stopping` at once; a start still in progress ends with `cancelled`.
    Task<AudioSessionResult> stop();
    // `saved` or `failed` become `idle`.
    void clearTerminalState();

    // Called once per start: after Others runs, or when it failed while the start was current.
    std::function<void()> onSystemAudioStarted;
    std::function<void()> onSystemAudioStartFailed;

    // The stop summary for a silent Others stream; the audio review uses it too.
    static QString noSystemAudioHeardText();
    // What ended the running recording early; set before interrupted() is emitted, until the next start.
    const std::optional<AudioRecordingInterruption> &interruption() const { return m_interruption; }
    // The tray's line for the interruption; none without one.
    std::optional<QString> interruptionStatus() const;

signals:
    void phaseChanged(AudioSessionPhase phase);
    void elapsedChanged(double seconds);
    void othersLevelChanged(float level);
    void youLevelChanged(float level);
    void warningChanged(const std::optional<QString> &warning);
    // The recording cannot go on (the sound server did not come back, a file could not be written):
    // whoever drives the session stops it now. Once per session.
    void interrupted();

private:
    class LevelRelay;
    struct MicrophoneStart
    {
        std::shared_ptr<MicrophoneCaptureEngine> engine;
        bool deviceUnavailable = false; // the chosen device is not connected
        bool fellBackToDefault = false; // the chosen device failed and the default runs
        bool cancelled = false;
        bool failed = false;
    };

    bool isCurrentStart(int generation) const;
    // The start is current and its task not cancelled.
    bool startGoesOn(int generation) const;
    // Stops what a start that ends early made and discards its writers, off the main thread.
    Task<> tearDownStart(int generation, std::shared_ptr<OthersCaptureEngine> tap,
        std::shared_ptr<MicrophoneCaptureEngine> microphone);
    void closeFolderScope();
    std::optional<QString> youStopIssue(const std::optional<QUrl> &youFile, bool heardYou) const;
    void clearWorkspaceObserver();
    void startElapsedClock();
    void tick();
    // Follows the engines' sound server: a loss, its return, and a loss that lasts too long.
    void watchServer(TaskClock::TimePoint now);
    void interrupt(const AudioRecordingInterruption &interruption);
    // The note's sentence for the interruption.
    QString interruptionText() const;
    QString folderName() const;
    void updateSelectedAppWarnings();
    void watchForAppExit(const QString &bundleID, const QString &displayName);
    void publishLevel(AudioStreamChannel channel, int generation, float level);
    void setElapsed(double seconds);
    void setOthersLevel(float level);
    void setYouLevel(float level);
    void setWarning(const std::optional<QString> &warning);
    // Cuts both files at the end of the audio both have encoded (off the main thread).
    static void cutFragments(Streams &streams, int generation);
    static AudioCaptureEngine::BufferCallback ingest(std::shared_ptr<Streams> streams,
        std::shared_ptr<LevelRelay> relay, TaskClock *clock, AudioStreamChannel channel, int generation);

    Environment m_env;
    TaskClock *m_clock;

    AudioSessionPhase m_phase = AudioSessionPhase::idle;
    double m_elapsed = 0;
    float m_othersLevel = 0;
    float m_youLevel = 0;
    std::optional<QString> m_warning;

    QUuid m_sessionID = QUuid::createUuid();
    QString m_othersPath;
    QString m_youPath;
    QDateTime m_startedAt;
    TaskClock::TimePoint m_startedSteady {};
    // The session's start on the clock of the engines' buffers, where both files begin.
    AudioPCMBuffer::HostTime m_startedHost {};
    std::shared_ptr<OthersCaptureEngine> m_tapEngine;
    std::shared_ptr<MicrophoneCaptureEngine> m_microphone;
    std::shared_ptr<Streams> m_streams;
    std::shared_ptr<LevelRelay> m_relay;
    std::optional<ResolvedFolder> m_scopedFolder;
    Task<> m_elapsedTask;
    int m_startGeneration = 0;
    // The serial start thread: engine set-up and the writers' creation.
    QThreadPool m_startThread;
    // The serial thread that stops engines and finishes or discards writers, in the order asked.
    QThreadPool m_teardownThread;
    // The thread that cuts both files' fragments together, and its last cut.
    QThreadPool m_fragmentThread;
    QFuture<void> m_cutting;
    TaskClock::TimePoint m_lastCut {};
    std::optional<QString> m_othersDisplayName;
    bool m_othersIsApplication = false;
    std::unique_ptr<AudioAppExitWatch> m_workspaceObserver;
    bool m_youCaptureAttempted = false;
    std::optional<QString> m_youCaptureIssue;
    // The sound server's absence that is going on: where it began in the session, and when it was noticed.
    struct Outage
    {
        double atSeconds = 0;
        TaskClock::TimePoint noticedAt {};
    };
    std::optional<Outage> m_outage;
    QList<AudioRecordingNote::Gap> m_serverGaps;
    std::optional<AudioRecordingInterruption> m_interruption;
};
