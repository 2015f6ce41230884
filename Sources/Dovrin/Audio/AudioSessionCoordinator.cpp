#include "Audio/AudioSessionCoordinator.h"

#include "Audio/LiveAudioCapture.h"
#include "Documents/CaptureMarkdown.h"
#include "Documents/WriteFailureReason.h"
#include "Platform/FolderRoom.h"
#include "Rules/AudioLevelMeter.h"
#include "Rules/AudioOthersSelection.h"
#include "Rules/PermissionPresentation.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QtConcurrent>

#include <cerrno>
#include <cstring>

namespace {

QString microphoneNotGrantedText()
{
    return QStringLiteral("Microphone permission was not granted. Others audio is still recording.");
}
QString chosenMicrophoneUnavailableText()
{
    return QStringLiteral("The chosen microphone is unavailable. Using the system default.");
}
QString chosenMicrophoneFailedText()
{
    return QStringLiteral("The chosen microphone could not start. Using the system default.");
}
QString microphoneFailedText()
{
    return QStringLiteral("Microphone could not start. Others audio is still recording.");
}
QString writeFailedText()
{
    return QStringLiteral("The audio file could not be written completely.");
}

bool isPresent(const std::optional<QString> &text)
{
    return text && !text->isEmpty();
}

// Why a file could not be written, in the user's words.
QString writeFailureReason(int error)
{
    return WriteFailureReason::describe(error);
}

} // namespace

AudioSessionStartError::AudioSessionStartError(Kind kind, QString displayName, int errorNumber)
    : m_kind(kind)
    , m_displayName(std::move(displayName))
    , m_errorNumber(errorNumber)
{
    m_what = description().value_or(QStringLiteral("cancelled")).toUtf8();
}

std::optional<QString> AudioSessionStartError::description() const
{
    switch (m_kind) {
    case appNotRunning:
        return AudioOthersSelection::unavailableMessage(m_displayName);
    case appUnreachable:
        return QStringLiteral("Couldn't attach to ") + m_displayName + QStringLiteral("'s audio");
    case unsupported:
        return QStringLiteral("Audio recording needs a PulseAudio or PipeWire sound server");
    case folderInaccessible:
        return QStringLiteral("The capture folder is unavailable");
    case folderNotWritable:
        return QStringLiteral("Can't record in “%1”: %2")
            .arg(m_displayName, writeFailureReason(m_errorNumber));
    case systemAudioStartFailed:
        return PermissionFeedbackCopy::systemAudioStartFailed().text;
    case cancelled:
        return std::nullopt;
    }
    return std::nullopt;
}

// Carries levels from the callback threads to the main thread. It lives as long as any callback holds
// it, so a late callback never posts to a destroyed coordinator.
class AudioSessionCoordinator::LevelRelay : public QObject
{
public:
    explicit LevelRelay(AudioSessionCoordinator *coordinator)
        : m_coordinator(coordinator)
    { }
    static std::shared_ptr<LevelRelay> make(AudioSessionCoordinator *coordinator)
    {
        return std::shared_ptr<LevelRelay>(new LevelRelay(coordinator), [](LevelRelay *relay) {
            if (QThread::currentThread() == relay->thread())
                delete relay;
            else
                relay->deleteLater();
        });
    }
    // Any thread.
    void publish(AudioStreamChannel channel, int generation, float level)
    {
        QMetaObject::invokeMethod(
            this,
            [this, channel, generation, level] {
                if (m_coordinator)
                    m_coordinator->publishLevel(channel, generation, level);
            },
            Qt::QueuedConnection);
    }

private:
    QPointer<AudioSessionCoordinator> m_coordinator; // read on the main thread only
};

QString AudioSessionCoordinator::interruptionText() const
{
    if (!m_interruption)
        return QString();
    if (m_interruption->kind == AudioRecordingInterruption::Kind::serverGone)
        return AudioRecordingNote::serverGone(
            m_interruption->atSeconds, std::chrono::duration<double>(m_env.serverReturnLimit).count());
    return AudioRecordingNote::writeFailed(
        m_interruption->atSeconds, folderName(), writeFailureReason(m_interruption->errorNumber));
}

std::optional<QString> AudioSessionCoordinator::interruptionStatus() const
{
    if (!m_interruption)
        return std::nullopt;
    if (m_interruption->kind == AudioRecordingInterruption::Kind::serverGone)
        return QStringLiteral("Recording stopped: the sound server did not come back");
    return AudioRecordingNote::writeFailedStatus(
        folderName(), writeFailureReason(m_interruption->errorNumber));
}

QString AudioSessionCoordinator::folderName() const
{
    if (!m_scopedFolder)
        return QString();
    const QString path = m_scopedFolder->url.toLocalFile();
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

QString AudioSessionCoordinator::noSystemAudioHeardText()
{
    return QStringLiteral(
        "No system audio was heard. Check the Others source in Settings if you expected others.");
}

AudioSessionCoordinator::AudioSessionCoordinator(QObject *parent)
    : AudioSessionCoordinator(
        [] {
            Environment live;
            live.engines = liveAudioCaptureEngineFactory();
            return live;
        }(),
        parent)
{ }

AudioSessionCoordinator::AudioSessionCoordinator(Environment environment, QObject *parent)
    : QObject(parent)
    , m_env(std::move(environment))
    , m_clock(m_env.clock ? m_env.clock : &TaskClock::system())
    , m_streams(std::make_shared<Streams>())
    , m_relay(LevelRelay::make(this))
{
    if (!m_env.startAccessingFolder)
        m_env.startAccessingFolder
            = [](const ResolvedFolder &folder) { return FolderBookmark::startAccessing(folder.url); };
    if (!m_env.stopAccessingFolder)
        m_env.stopAccessingFolder
            = [](const ResolvedFolder &folder) { FolderBookmark::stopAccessing(folder.url); };
    if (!m_env.folderProblem)
        m_env.folderProblem = [](const QString &folder) { return FolderRoom::problem(folder); };
    if (!m_env.microphoneAuthorized) {
        m_env.microphoneAuthorized = [] {
            TaskPromise<bool> granted;
            granted.resolve(true);
            return granted.future();
        };
    }
    if (!m_env.now)
        m_env.now = [] { return QDateTime::currentDateTime(); };
    m_startedAt = m_env.now();
    m_startThread.setMaxThreadCount(1);
    m_startThread.setObjectName(QStringLiteral("audio-tap"));
    m_teardownThread.setMaxThreadCount(1);
    m_teardownThread.setObjectName(QStringLiteral("audio-teardown"));
    m_fragmentThread.setMaxThreadCount(1);
    m_fragmentThread.setObjectName(QStringLiteral("audio-fragments"));
}

AudioSessionCoordinator::~AudioSessionCoordinator()
{
    m_elapsedTask.cancel();
    m_workspaceObserver.reset();
    const int generation = m_startGeneration++;
    m_streams->revoke(generation);
    if (m_tapEngine)
        m_tapEngine->stop();
    if (m_microphone)
        m_microphone->stop();
    // A start still setting up its engines finishes that first; one that raced past the stops above is
    // stopped again. A stop or a failed start still tearing down finishes too.
    m_startThread.waitForDone();
    m_teardownThread.waitForDone();
    m_fragmentThread.waitForDone();
    if (m_tapEngine)
        m_tapEngine->stop();
    if (m_microphone)
        m_microphone->stop();
    auto [others, you] = m_streams->removeAllAfterCallbacksDrain();
    if (others)
        others->finish();
    if (you)
        you->finish();
}

void AudioSessionCoordinator::setPhase(AudioSessionPhase phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    // The warning is about the session that ran: once it is saved or let go, nothing is left to warn of.
    if (phase == AudioSessionPhase::saved || phase == AudioSessionPhase::idle)
        setWarning(std::nullopt);
    emit phaseChanged(phase);
}

bool AudioSessionCoordinator::isRecording() const
{
    return m_phase == AudioSessionPhase::starting || m_phase == AudioSessionPhase::recording
        || m_phase == AudioSessionPhase::stopping;
}

bool AudioSessionCoordinator::isBusy() const
{
    return isRecording() || m_phase == AudioSessionPhase::transcribing
        || m_phase == AudioSessionPhase::reviewing;
}

QString AudioSessionCoordinator::meterLine() const
{
    return QStringLiteral("Others ") + AudioLevelMeter::bar(m_othersLevel) + QStringLiteral("  You ")
        + AudioLevelMeter::bar(m_youLevel);
}

void AudioSessionCoordinator::endScopedFolderAccess()
{
    closeFolderScope();
}

std::optional<RunningRecording> AudioSessionCoordinator::runningRecording() const
{
    if (m_phase != AudioSessionPhase::recording || !m_scopedFolder)
        return std::nullopt;
    return RunningRecording { m_sessionID, m_startedAt, *m_scopedFolder, m_othersPath,
        m_microphone ? std::optional(m_youPath) : std::nullopt };
}

void AudioSessionCoordinator::clearTerminalState()
{
    if (m_phase == AudioSessionPhase::saved || m_phase == AudioSessionPhase::failed)
        setPhase(AudioSessionPhase::idle);
}

bool AudioSessionCoordinator::isCurrentStart(int generation) const
{
    return m_phase == AudioSessionPhase::starting && m_startGeneration == generation;
}

bool AudioSessionCoordinator::startGoesOn(int generation) const
{
    return isCurrentStart(generation) && !CurrentTask::isCancelled();
}

void AudioSessionCoordinator::closeFolderScope()
{
    if (m_scopedFolder)
        m_env.stopAccessingFolder(*m_scopedFolder);
    m_scopedFolder.reset();
}

Task<> AudioSessionCoordinator::tearDownStart(int generation, std::shared_ptr<OthersCaptureEngine> tap,
    std::shared_ptr<MicrophoneCaptureEngine> microphone)
{
    m_streams->revoke(generation);
    if (tap && m_tapEngine == tap)
        m_tapEngine.reset();
    if (microphone && m_microphone == microphone)
        m_microphone.reset();
    // On the teardown thread, behind a stop() that may be collecting this start's writers.
    QFuture<void> done = QtConcurrent::run(&m_teardownThread,
        [streams = m_streams, generation, tap = std::move(tap),
            microphone = std::move(microphone)]() mutable {
            if (tap)
                tap->stop();
            if (microphone)
                microphone->stop();
            tap.reset();
            microphone.reset();
            for (const AudioStreamChannel channel : { AudioStreamChannel::others, AudioStreamChannel::you }) {
                if (auto writer = streams->removeAfterCallbacksDrain(channel, generation))
                    writer->discard();
            }
        });
    co_await done;
}

void AudioSessionCoordinator::cutFragments(Streams &streams, int generation)
{
    using HostTime = AudioPCMBuffer::HostTime;
    constexpr AudioStreamChannel channels[] = { AudioStreamChannel::others, AudioStreamChannel::you };
    std::optional<HostTime> common;
    std::optional<HostTime> lead;
    for (const AudioStreamChannel channel : channels) {
        const std::optional<HostTime> end
            = streams.withResource(channel, generation, [](AACStreamWriter &w) { return w.encodedUntil(); })
                  .value_or(std::nullopt);
        if (!end)
            continue;
        common = common ? std::min(*common, *end) : *end;
        lead = lead ? std::max(*lead, *end) : *end;
    }
    if (!common)
        return;
    const HostTime cut = std::max(*common, *lead - stalledStreamAllowance);
    for (const AudioStreamChannel channel : channels)
        streams.withResource(channel, generation, [cut](AACStreamWriter &w) {
            w.cutAt(cut);
            return true;
        });
}

AudioCaptureEngine::BufferCallback AudioSessionCoordinator::ingest(std::shared_ptr<Streams> streams,
    std::shared_ptr<LevelRelay> relay, TaskClock *clock, AudioStreamChannel channel, int generation)
{
    return [streams = std::move(streams), relay = std::move(relay), clock, channel, generation](
               const AudioPCMBuffer &buffer) {
        const std::optional<float> peak
            = streams->withResource(channel, generation, [&](AACStreamWriter &writer) {
                  writer.append(buffer);
                  return writer.lastBufferPeak();
              });
        if (!peak)
            return;
        if (streams->stampLevel(channel, generation, clock->now()))
            relay->publish(channel, generation, *peak);
    };
}

void AudioSessionCoordinator::publishLevel(AudioStreamChannel channel, int generation, float level)
{
    if (m_startGeneration != generation)
        return;
    if (channel == AudioStreamChannel::others)
        setOthersLevel(level);
    else
        setYouLevel(level);
}

Task<> AudioSessionCoordinator::start(ResolvedFolder folder, std::optional<QString> microphoneUID,
    bool includeYou, std::optional<QString> othersBundleID, std::optional<QString> othersDisplayName)
{
    if (isRecording())
        co_return;
    if (!m_env.engines.canRecord())
        throw AudioSessionStartError(AudioSessionStartError::unsupported);
    if (!m_env.startAccessingFolder(folder))
        throw AudioSessionStartError(AudioSessionStartError::folderInaccessible);

    setPhase(AudioSessionPhase::starting);
    const int generation = ++m_startGeneration;
    setWarning(std::nullopt);
    m_youCaptureAttempted = includeYou;
    m_youCaptureIssue.reset();
    setElapsed(0);
    setOthersLevel(0);
    setYouLevel(0);
    m_outage.reset();
    m_serverGaps.clear();
    m_interruption.reset();
    m_sessionID = QUuid::createUuid();
    m_startedAt = m_env.now();
    m_startedSteady = m_clock->now();
    m_lastCut = m_startedSteady;
    // Both files begin here, whenever each source delivers its first sound: the Others engine and the
    // microphone start one after the other, and a stream takes a while to deliver. Host times are read
    // on the session's own clock, so a file's length and its sound's place agree with the elapsed time.
    m_startedHost = m_startedSteady;
    m_scopedFolder = folder;
    m_othersDisplayName = othersDisplayName;
    m_othersIsApplication = isPresent(othersBundleID);
    clearWorkspaceObserver();

    // What this start made; whatever ends it early stops them and discards its writers, off the main
    // thread, before the error reaches the caller.
    std::shared_ptr<OthersCaptureEngine> engine;
    std::shared_ptr<MicrophoneCaptureEngine> microphone;
    const auto cancelled = [] { return AudioSessionStartError(AudioSessionStartError::cancelled); };
    std::exception_ptr failure;
    try {
        auto refuse = [&](AudioSessionStartError error) {
            closeFolderScope();
            m_othersIsApplication = false;
            m_othersDisplayName.reset();
            setPhase(AudioSessionPhase::failed);
            return error;
        };
        // A folder that cannot take the files is refused before anything records into it.
        QFuture<std::optional<int>> tried = QtConcurrent::run(&m_startThread,
            [check = m_env.folderProblem, path = folder.url.toLocalFile()] { return check(path); });
        const std::optional<int> problem = co_await tried;
        if (!startGoesOn(generation))
            throw cancelled();
        if (problem)
            throw refuse(AudioSessionStartError::folderNotWritableError(folderName(), *problem));

        std::optional<ProcessTapRequest> request;
        if (m_othersIsApplication) {
            // Reads /proc and asks the sound server: a worker's job.
            QFuture<std::optional<ProcessTapRequest>> requested = QtConcurrent::run(&m_startThread,
                [query = m_env.engines.tapRequest, bundleID = *othersBundleID, othersDisplayName] {
                    return query ? query(bundleID, othersDisplayName) : std::nullopt;
                });
            request = co_await requested;
            if (!startGoesOn(generation))
                throw cancelled();
            if (!request)
                throw refuse(AudioSessionStartError::appNotRunningError(
                    AudioOthersSelection::displayName(othersBundleID, othersDisplayName)));
            if (request->processIDs.isEmpty())
                throw refuse(AudioSessionStartError::appUnreachableError(request->displayName));
            m_othersDisplayName = request->displayName;
        }

        if (!m_streams->authorize(generation)) {
            closeFolderScope();
            setPhase(AudioSessionPhase::failed);
            throw cancelled();
        }

        QString base = CaptureFilename::make(m_startedAt, QStringLiteral("audio-session"), m_sessionID,
            m_env.fileNameTimeZone, QStringLiteral("md"));
        base.chop(3);
        const QDir directory(folder.url.toLocalFile());
        const QString othersPath = directory.filePath(base + QStringLiteral("_others.m4a"));
        const QString youPath = directory.filePath(base + QStringLiteral("_you.m4a"));
        m_othersPath = othersPath;
        m_youPath = youPath;

        engine = std::shared_ptr<OthersCaptureEngine>(m_env.engines.makeOthers());
        m_tapEngine = engine;

        // Others first: when it fails, the microphone is never started.
        enum class Outcome { started, cancelled, failed };
        // Made before the co_await: g++ 12 destroys a lambda written inside a co_await expression twice.
        auto setUpOthers = [engine, othersPath, request, generation, streams = m_streams, relay = m_relay,
                               clock = m_clock, timeline = m_startedHost] {
            if (!engine)
                return Outcome::failed;
            try {
                const AudioStreamFormat format = engine->prepare(request);
                auto writer = std::make_shared<AACStreamWriter>(othersPath, format);
                writer->startTimeline(timeline);
                if (!streams->install(writer, AudioStreamChannel::others, generation)) {
                    writer->discard();
                    engine->stop();
                    return Outcome::cancelled;
                }
                engine->activate(ingest(streams, relay, clock, AudioStreamChannel::others, generation));
                return Outcome::started;
            } catch (...) {
                engine->stop();
                if (auto installed
                    = streams->removeAfterCallbacksDrain(AudioStreamChannel::others, generation))
                    installed->discard();
                return Outcome::failed;
            }
        };
        QFuture<Outcome> othersStarted = QtConcurrent::run(&m_startThread, std::move(setUpOthers));
        const Outcome others = co_await othersStarted;
        if (others == Outcome::cancelled || !isCurrentStart(generation))
            throw cancelled();
        if (others == Outcome::failed) {
            m_streams->revoke(generation);
            if (onSystemAudioStartFailed)
                onSystemAudioStartFailed();
            closeFolderScope();
            setPhase(AudioSessionPhase::failed);
            throw AudioSessionStartError(AudioSessionStartError::systemAudioStartFailed);
        }
        if (CurrentTask::isCancelled())
            throw cancelled();

        if (onSystemAudioStarted)
            onSystemAudioStarted();
        if (!startGoesOn(generation))
            throw cancelled();

        if (includeYou) {
            bool authorized = false;
            try {
                authorized = co_await m_env.microphoneAuthorized();
            } catch (const TaskCancelled &) {
                throw cancelled();
            } catch (...) {
                authorized = false;
            }
            if (!authorized) {
                m_youCaptureIssue = microphoneNotGrantedText();
                setWarning(m_youCaptureIssue);
            } else {
                if (!startGoesOn(generation))
                    throw cancelled();
                auto setUpMicrophone = [make = m_env.engines.makeMicrophone,
                                           devices = m_env.engines.inputDeviceUIDs, microphoneUID, youPath,
                                           generation, streams = m_streams, relay = m_relay, clock = m_clock,
                                           timeline = m_startedHost] {
                    MicrophoneStart result;
                    const AudioInputSelection::Choice choice
                        = AudioInputSelection::resolve(microphoneUID, devices ? devices() : QStringList());
                    result.deviceUnavailable = choice.fellBack;
                    auto makeOne = [&] {
                        std::shared_ptr<MicrophoneCaptureEngine> made(make ? make() : nullptr);
                        if (!made)
                            throw AudioCaptureError(QStringLiteral("The microphone could not start"));
                        return made;
                    };
                    std::shared_ptr<AACStreamWriter> writer;
                    try {
                        result.engine = makeOne();
                        AudioStreamFormat format;
                        try {
                            format = result.engine->prepare(choice.uid);
                        } catch (...) {
                            if (!choice.uid)
                                throw;
                            result.fellBackToDefault = true;
                            result.engine = makeOne();
                            format = result.engine->prepare(std::nullopt);
                        }
                        writer = std::make_shared<AACStreamWriter>(youPath, format);
                        writer->startTimeline(timeline);
                        if (!streams->install(writer, AudioStreamChannel::you, generation)) {
                            writer->discard();
                            result.engine->stop();
                            result.cancelled = true;
                            return result;
                        }
                        result.engine->start(
                            ingest(streams, relay, clock, AudioStreamChannel::you, generation));
                    } catch (...) {
                        if (result.engine)
                            result.engine->stop();
                        result.engine.reset();
                        if (auto installed
                            = streams->removeAfterCallbacksDrain(AudioStreamChannel::you, generation))
                            installed->discard();
                        result.failed = true;
                    }
                    return result;
                };
                QFuture<MicrophoneStart> microphoneStarted
                    = QtConcurrent::run(&m_startThread, std::move(setUpMicrophone));
                MicrophoneStart started = co_await microphoneStarted;
                microphone = started.engine;
                if (started.cancelled || !startGoesOn(generation))
                    throw cancelled();
                if (started.deviceUnavailable)
                    setWarning(chosenMicrophoneUnavailableText());
                if (started.failed) {
                    // Others records on alone.
                    m_youCaptureIssue = microphoneFailedText();
                    setWarning(m_youCaptureIssue);
                } else {
                    m_microphone = started.engine;
                    if (started.fellBackToDefault)
                        setWarning(chosenMicrophoneFailedText());
                }
            }
        }

        if (!startGoesOn(generation))
            throw cancelled();
        setPhase(AudioSessionPhase::recording);
        if (isPresent(othersBundleID))
            watchForAppExit(
                *othersBundleID, isPresent(m_othersDisplayName) ? *m_othersDisplayName : *othersBundleID);
        startElapsedClock();
        co_return;
    } catch (const TaskCancelled &) {
        failure = std::make_exception_ptr(cancelled());
    } catch (...) {
        failure = std::current_exception();
    }

    Task<> tearingDown = tearDownStart(generation, engine, microphone);
    co_await tearingDown;
    // Whatever went wrong must not leave the session starting for good.
    if (isCurrentStart(generation)) {
        closeFolderScope();
        setPhase(AudioSessionPhase::failed);
    }
    std::rethrow_exception(failure);
}

Task<AudioSessionResult> AudioSessionCoordinator::stop()
{
    const int generation = m_startGeneration++;
    m_streams->revoke(generation);
    setPhase(AudioSessionPhase::stopping);
    m_elapsedTask.cancel();
    m_elapsedTask = {};
    clearWorkspaceObserver();
    m_othersIsApplication = false;
    m_othersDisplayName.reset();
    // An interrupted recording ends where it was interrupted, not where it was stopped.
    const auto length = m_interruption ? std::chrono::duration_cast<TaskClock::Duration>(
                            std::chrono::duration<double>(m_interruption->atSeconds))
                                       : m_clock->now() - m_startedSteady;
    QList<AudioRecordingNote::Gap> serverGaps = m_serverGaps;
    if (m_outage && !m_interruption)
        serverGaps.append({ m_outage->atSeconds,
            std::max(0.0, std::chrono::duration<double>(length).count() - m_outage->atSeconds) });
    m_outage.reset();
    // Both files end here, with silence for what a source had not delivered yet.
    const AudioPCMBuffer::HostTime end
        = m_startedHost + std::chrono::duration_cast<std::chrono::steady_clock::duration>(length);

    struct Finished
    {
        std::optional<AACStreamWriter::Finished> others;
        std::optional<AACStreamWriter::Finished> you;
    };
    // Stopping the engines, waiting for their last callbacks and closing the files all wait: they run
    // on the teardown thread, Others before You, as they started.
    QFuture<Finished> finishing = QtConcurrent::run(&m_teardownThread,
        [streams = m_streams, tap = std::exchange(m_tapEngine, nullptr),
            microphone = std::exchange(m_microphone, nullptr), end]() mutable {
            if (tap)
                tap->stop();
            if (microphone)
                microphone->stop();
            tap.reset();
            microphone.reset();
            auto [othersWriter, youWriter] = streams->removeAllAfterCallbacksDrain();
            Finished finished;
            if (othersWriter) {
                othersWriter->padTo(end);
                finished.others = othersWriter->finish();
            }
            if (youWriter) {
                youWriter->padTo(end);
                finished.you = youWriter->finish();
            }
            return finished;
        });
    const Finished finished = co_await finishing;

    if (m_env.stopOverride) {
        AudioSessionResult result = m_env.stopOverride();
        setElapsed(double(result.startedAt.msecsTo(result.endedAt)) / 1000.0);
        setOthersLevel(0);
        setYouLevel(0);
        co_return result;
    }

    const QDateTime endedAt
        = m_startedAt.addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(length).count());
    const std::optional<AACStreamWriter::Finished> &others = finished.others;
    const std::optional<AACStreamWriter::Finished> &you = finished.you;
    const bool writeFailed = (others && others->writeFailed) || (you && you->writeFailed);
    const bool heardOthers = others && others->heard;
    const bool heardYou = you && you->heard;
    const std::optional<QUrl> othersURL
        = others ? std::optional<QUrl>(QUrl::fromLocalFile(others->url)) : std::nullopt;
    const std::optional<QUrl> youURL
        = you ? std::optional<QUrl>(QUrl::fromLocalFile(you->url)) : std::nullopt;

    QStringList notes;
    if (m_interruption)
        notes << interruptionText();
    if (!serverGaps.isEmpty())
        notes << AudioRecordingNote::serverGaps(serverGaps);
    QStringList texts = notes;
    if (writeFailed && !m_interruption)
        texts.prepend(writeFailedText());
    if (!writeFailed) {
        if (!heardOthers)
            texts << noSystemAudioHeardText();
        if (const auto issue = youStopIssue(youURL, heardYou))
            texts << *issue;
    }
    setWarning(texts.isEmpty() ? std::nullopt : std::optional<QString>(texts.join(u' ')));

    AudioSessionResult result;
    result.id = m_sessionID;
    result.startedAt = m_startedAt;
    result.endedAt = endedAt;
    result.othersURL = othersURL;
    result.youURL = youURL;
    result.heardOthers = heardOthers;
    result.heardYou = heardYou;
    result.othersPeak = others ? others->peak : 0;
    result.youPeak = you ? you->peak : 0;
    result.folder = m_scopedFolder;
    result.serverGaps = serverGaps;
    result.interruption = m_interruption;
    result.writeFailed = writeFailed;
    result.recordingNote = notes.join(u' ');

    setElapsed(std::chrono::duration<double>(length).count());
    setOthersLevel(0);
    setYouLevel(0);
    co_return result;
}

std::optional<QString> AudioSessionCoordinator::youStopIssue(
    const std::optional<QUrl> &youFile, bool heardYou) const
{
    if (!m_youCaptureAttempted)
        return std::nullopt;
    if (m_youCaptureIssue)
        return m_youCaptureIssue;
    if (!youFile)
        return QStringLiteral("Microphone was not recorded.");
    if (heardYou)
        return std::nullopt;
    return QStringLiteral("No microphone audio was heard.");
}

void AudioSessionCoordinator::clearWorkspaceObserver()
{
    m_workspaceObserver.reset();
}

void AudioSessionCoordinator::startElapsedClock()
{
    m_elapsedTask.cancel();
    m_elapsedTask = Task<>::spawn(this, [this]() -> Task<> {
        for (;;) {
            if (CurrentTask::isCancelled() || m_phase != AudioSessionPhase::recording)
                co_return;
            tick();
            co_await sleepFor(*m_clock, tickInterval);
        }
    });
}

void AudioSessionCoordinator::tick()
{
    const TaskClock::TimePoint now = m_clock->now();
    if (now - m_lastCut >= fragmentInterval && (!m_cutting.isValid() || m_cutting.isFinished())) {
        m_lastCut = now;
        m_cutting = QtConcurrent::run(&m_fragmentThread,
            [streams = m_streams, generation = m_startGeneration] { cutFragments(*streams, generation); });
    }
    setElapsed(std::chrono::duration<double>(now - m_startedSteady).count());
    if (!m_streams->levelIsFresh(AudioStreamChannel::others, m_startGeneration, now))
        setOthersLevel(0);
    if (!m_streams->levelIsFresh(AudioStreamChannel::you, m_startGeneration, now))
        setYouLevel(0);
    // A write that failed mid-session is said now, while the user can still act, not only at stop; a
    // file that can take nothing more ends the recording.
    auto writer = [&](AudioStreamChannel channel, auto read) {
        return m_streams->withResource(channel, m_startGeneration, read).value_or(0);
    };
    const auto failed = [](AACStreamWriter &w) { return int(w.writeFailed()); };
    const auto ended = [](AACStreamWriter &w) { return w.fileError(); };
    if (const int error
        = std::max(writer(AudioStreamChannel::others, ended), writer(AudioStreamChannel::you, ended));
        error != 0 && !m_interruption) {
        const double at = std::chrono::duration<double>(now - m_startedSteady).count();
        interrupt({ AudioRecordingInterruption::Kind::writeFailed, at, error });
        return;
    }
    if (m_interruption)
        return;
    if (writer(AudioStreamChannel::others, failed) || writer(AudioStreamChannel::you, failed)) {
        setWarning(writeFailedText());
        return;
    }
    watchServer(now);
    if (m_outage || m_interruption)
        return;
    updateSelectedAppWarnings();
}

void AudioSessionCoordinator::watchServer(TaskClock::TimePoint now)
{
    std::optional<AudioPCMBuffer::HostTime> lost;
    const std::shared_ptr<AudioCaptureEngine> engines[] = { m_tapEngine, m_microphone };
    for (const auto &engine : engines) {
        if (const auto since = engine ? engine->serverLostSince() : std::nullopt)
            lost = lost ? std::min(*lost, *since) : *since;
    }
    const auto sessionSeconds = [this](AudioPCMBuffer::HostTime time) {
        return std::max(0.0, std::chrono::duration<double>(time - m_startedHost).count());
    };
    if (lost && !m_outage) {
        m_outage = Outage { sessionSeconds(*lost), now };
        setWarning(AudioRecordingNote::serverAway(m_outage->atSeconds));
    } else if (!lost && m_outage) {
        // Both engines record again: the stretch between is silence in both files.
        const double back = sessionSeconds(m_clock->now());
        m_serverGaps.append({ m_outage->atSeconds, std::max(0.0, back - m_outage->atSeconds) });
        m_outage.reset();
        setWarning(AudioRecordingNote::serverGaps(m_serverGaps));
        return;
    }
    if (m_outage && now - m_outage->noticedAt >= m_env.serverReturnLimit)
        interrupt({ AudioRecordingInterruption::Kind::serverGone, m_outage->atSeconds, 0 });
}

void AudioSessionCoordinator::interrupt(const AudioRecordingInterruption &interruption)
{
    if (m_interruption)
        return;
    m_interruption = interruption;
    // Nothing more reaches the files: they end where the recording was interrupted.
    m_streams->revoke(m_startGeneration);
    setWarning(interruptionText());
    emit interrupted();
}

void AudioSessionCoordinator::updateSelectedAppWarnings()
{
    if (!m_othersIsApplication || !m_othersDisplayName)
        return;
    const QString silent = AudioOthersSelection::silentWarning(*m_othersDisplayName);
    const std::optional<float> peak = m_streams->withResource(
        AudioStreamChannel::others, m_startGeneration, [](AACStreamWriter &w) { return w.sessionPeak(); });
    const bool heard = peak && *peak >= heardLevel;
    if (heard && m_warning == silent) {
        setWarning(std::nullopt);
        return;
    }
    if (m_warning)
        return;
    if (m_clock->now() - m_startedSteady >= silentApplicationDelay && !heard)
        setWarning(silent);
}

void AudioSessionCoordinator::watchForAppExit(const QString &bundleID, const QString &displayName)
{
    clearWorkspaceObserver();
    if (!m_env.engines.watchForAppExit)
        return;
    QPointer<AudioSessionCoordinator> self(this);
    m_workspaceObserver = m_env.engines.watchForAppExit(bundleID, [self, displayName] {
        if (self && self->m_phase == AudioSessionPhase::recording)
            self->setWarning(AudioOthersSelection::closedWarning(displayName));
    });
}

void AudioSessionCoordinator::setElapsed(double seconds)
{
    if (m_elapsed == seconds)
        return;
    m_elapsed = seconds;
    emit elapsedChanged(seconds);
}

void AudioSessionCoordinator::setOthersLevel(float level)
{
    if (m_othersLevel == level)
        return;
    m_othersLevel = level;
    emit othersLevelChanged(level);
}

void AudioSessionCoordinator::setYouLevel(float level)
{
    if (m_youLevel == level)
        return;
    m_youLevel = level;
    emit youLevelChanged(level);
}

void AudioSessionCoordinator::setWarning(const std::optional<QString> &warning)
{
    if (m_warning == warning)
        return;
    m_warning = warning;
    emit warningChanged(m_warning);
}
