#include "Model/AudioSessionFlow.h"

#include "Documents/CaptureMarkdown.h"
#include "Model/AudioReviewSession.h"
#include "Model/DraftFlow.h"
#include "Model/InputDeviceCache.h"
#include "Model/MarkdownSave.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Rules/AudioOthersSelection.h"
#include "Rules/AudioRecordingNote.h"
#include "Services/PermissionController.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent>

namespace {

std::optional<QString> localPath(const std::optional<QUrl> &url)
{
    if (!url)
        return std::nullopt;
    return url->toLocalFile();
}

std::optional<QString> fileName(const std::optional<QUrl> &url)
{
    if (!url)
        return std::nullopt;
    return url->fileName();
}

const QString reviewBlocksText = QStringLiteral("Finish the screen review before recording audio");
const QString chooseFolderText = QStringLiteral("Choose a capture folder");
const QString couldNotStartText = QStringLiteral("Audio recording could not start");

// Names the folder by its last part: the menu's status line has room for little more.
QString folderProblem(const FolderAccess &access, const char *problem)
{
    const QString path = access.displayPath;
    QString name = QFileInfo(path).fileName();
    if (name.isEmpty())
        name = path;
    return QStringLiteral("Can't record: capture folder “%1” %2").arg(name, QLatin1String(problem));
}

QString resolveFailure(const FolderAccess &access, const std::exception &error)
{
    const auto *bookmark = dynamic_cast<const FolderBookmarkError *>(&error);
    if (!bookmark)
        return couldNotStartText;
    switch (bookmark->code()) {
    case FolderBookmarkError::Code::staleAndUnresolvable:
        return folderProblem(access, "not found");
    case FolderBookmarkError::Code::inaccessible:
    case FolderBookmarkError::Code::notADirectory:
        return folderProblem(access, "is a file");
    case FolderBookmarkError::Code::becameLink:
        return folderProblem(access, "was replaced by a link to another place; choose it again");
    }
    return couldNotStartText;
}

// A recording of another session is starting or running: its phase is not ours to move.
bool recordingRuns(const AudioSessionCoordinator &audio)
{
    return audio.phase() == AudioSessionPhase::starting || audio.phase() == AudioSessionPhase::recording;
}

// Awaits a task to its end, however it ends.
Task<> settled(Task<> task)
{
    try {
        co_await task;
    } catch (const std::exception &) { }
}

QString joined(const QString &note, const QString &sentence)
{
    return note.isEmpty() ? sentence : note + QLatin1Char(' ') + sentence;
}

} // namespace

AudioSessionFlow::AudioSessionFlow(ModelContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{
    connect(&m_context.audio(), &AudioSessionCoordinator::interrupted, this,
        [this] { m_interrupted = finishInterruptedRecording(); });
}

Task<> AudioSessionFlow::finishInterruptedRecording()
{
    AudioSessionCoordinator &audio = m_context.audio();
    const std::optional<QString> status = audio.interruptionStatus();
    if (!status || !recordingRuns(audio))
        co_return;
    m_context.setStatusMessage(*status);
    co_await finishAudioRecording(true);
}

AudioRecordingGate::Action AudioSessionFlow::gateAction(bool othersIsRunning)
{
    const AppSettings &settings = m_context.settings();
    const auto &supported = m_context.services().recordingSupported;
    return AudioRecordingGate::action(m_context.audio().phase(), m_context.setupPresentation().isComplete,
        settings.defaultFolder || settings.lastUsedFolder, supported && supported(),
        settings.othersAudioBundleID, settings.othersAudioDisplayName, othersIsRunning,
        m_context.reviewSession() != nullptr);
}

void AudioSessionFlow::failStart(const QString &message)
{
    AudioSessionCoordinator &audio = m_context.audio();
    const AudioSessionPhase phase = audio.phase();
    if (phase == AudioSessionPhase::idle || phase == AudioSessionPhase::saved)
        audio.setPhase(AudioSessionPhase::failed);
    m_context.setStatusMessage(message);
}

void AudioSessionFlow::refuseOthersNotRunning(const QString &bundleID, const QString &displayName)
{
    m_context.setRefusedOthersSource(bundleID);
    m_context.requestWindow(QStringLiteral("preferences"));
    failStart(AudioOthersSelection::unavailableMessage(displayName));
}

void AudioSessionFlow::bringCaptureReviewForward()
{
    m_context.services().windows.reveal();
    if (ReviewWindowPresenter *window = m_context.drafts().reviewWindow())
        window->bringToFront();
}

Task<> AudioSessionFlow::handleAudioInvocation()
{
    if (m_context.isAudioSelfTest())
        co_return;
    if (m_context.isVisualCaptureActive()) {
        m_context.setStatusMessage(
            QStringLiteral("Finish or cancel the visual capture before recording audio"));
        co_return;
    }
    AudioRecordingGate::Action action = gateAction(true);
    const std::optional<QString> bundleID = m_context.settings().othersAudioBundleID;
    if (action.kind == AudioRecordingGate::Action::Kind::begin && bundleID && !bundleID->isEmpty()) {
        // Whether the application runs is only worth asking the sound server when it decides.
        QFuture<bool> asking = QtConcurrent::run(m_context.services().isFamilyRunning, *bundleID);
        const bool running = co_await asking;
        if (m_context.settings().othersAudioBundleID != bundleID)
            co_return;
        action = gateAction(running);
    }
    using Kind = AudioRecordingGate::Action::Kind;
    switch (action.kind) {
    case Kind::begin:
        co_await startAudioRecording();
        break;
    case Kind::stop:
        // A recording that runs is stopped even while an earlier session's review is open.
        if (m_context.audioReview() && !recordingRuns(m_context.audio()))
            m_context.requestWindow(QStringLiteral("audio-review"));
        else
            co_await finishAudioRecording(true);
        break;
    case Kind::requestSetup:
        m_context.setupPresentation().prepareExplicitPresentation();
        m_context.requestWindow(QStringLiteral("setup"));
        m_context.setStatusMessage(QStringLiteral("Finish setup to record audio"));
        break;
    case Kind::requestFolder:
        m_context.requestWindow(QStringLiteral("preferences"));
        failStart(chooseFolderText);
        break;
    case Kind::blockedByReview:
        bringCaptureReviewForward();
        m_context.setStatusMessage(reviewBlocksText);
        break;
    case Kind::unsupported:
        m_context.setStatusMessage(
            QStringLiteral("Audio recording needs a PulseAudio or PipeWire sound server"));
        break;
    case Kind::requestSource:
        refuseOthersNotRunning(*bundleID, action.displayName);
        break;
    }
}

Task<> AudioSessionFlow::startAudioRecording()
{
    if (m_context.reviewSession()) {
        bringCaptureReviewForward();
        m_context.setStatusMessage(reviewBlocksText);
        co_return;
    }
    // A second command while the first start still asks around starts nothing.
    if (m_starting)
        co_return;
    // Lowered however the start ends, a throw or the frame's destruction included.
    struct Starting
    {
        bool &flag;
        explicit Starting(bool &starting)
            : flag(starting)
        {
            flag = true;
        }
        ~Starting() { flag = false; }
    } starting(m_starting);
    co_await start();
}

Task<> AudioSessionFlow::start()
{
    const AppSettings settings = m_context.settings();
    const std::optional<QString> &bundleID = settings.othersAudioBundleID;
    if (bundleID && !bundleID->isEmpty()) {
        QFuture<bool> asking = QtConcurrent::run(m_context.services().isFamilyRunning, *bundleID);
        if (!co_await asking) {
            refuseOthersNotRunning(
                *bundleID, AudioOthersSelection::displayName(bundleID, settings.othersAudioDisplayName));
            co_return;
        }
    }
    const std::optional<FolderAccess> access
        = settings.defaultFolder ? settings.defaultFolder : settings.lastUsedFolder;
    if (!access) {
        m_context.requestWindow(QStringLiteral("preferences"));
        failStart(chooseFolderText);
        co_return;
    }
    std::optional<ResolvedFolder> resolved;
    try {
        resolved = m_context.services().resolveFolder(*access);
    } catch (const std::exception &error) {
        failStart(resolveFailure(*access, error));
        co_return;
    }
    if (resolved->refreshed)
        m_context.adoptRefreshedFolder(*access, *resolved->refreshed);

    const AppSettings current = m_context.settings();
    AudioSessionCoordinator &audio = m_context.audio();
    std::optional<QString> failure;
    try {
        co_await audio.start(*resolved, current.microphoneDeviceUID, current.recordYouMicrophone,
            current.othersAudioBundleID, current.othersAudioDisplayName);
    } catch (const AudioSessionStartError &error) {
        if (error.kind() == AudioSessionStartError::cancelled)
            co_return;
        // Refused before anything started: the folder resolved a moment ago, so it is there but
        // cannot be written (or entered).
        if (error.kind() == AudioSessionStartError::folderInaccessible) {
            failStart(folderProblem(*access, "is not writable"));
            co_return;
        }
        failure = error.description().value_or(couldNotStartText);
    } catch (const std::exception &) {
        failure = couldNotStartText;
    }
    if (failure) {
        m_context.setStatusMessage(*failure);
        co_return;
    }
    if (audio.phase() != AudioSessionPhase::recording)
        co_return;
    m_context.setStatusMessage(audio.warning().value_or(QStringLiteral("Recording audio")));
    if (const std::optional<RunningRecording> running = audio.runningRecording())
        m_keepingRecording = keepRecording(*running);
}

Task<> AudioSessionFlow::keepRecording(RunningRecording running)
{
    AudioSessionDraft kept;
    kept.startedAt = running.startedAt;
    kept.endedAt = running.startedAt;
    kept.folder = running.folder.url.toLocalFile();
    kept.othersFile = running.othersPath;
    kept.youFile = running.youPath;
    kept.heardOthers = true;
    kept.heardYou = running.youPath.has_value();
    kept.recordingUnfinished = true;
    const CaptureDraft draft(running.id, running.startedAt, m_context.services().now(), running.startedAt, {},
        std::nullopt, {}, {}, {}, std::nullopt, std::nullopt, {}, {}, {}, std::nullopt, std::nullopt, kept);
    // Marked as it is queued: the review of this recording releases the draft, behind this write.
    m_keptRecording = running.id;
    if (!co_await m_context.drafts().keepRecording(draft) && m_keptRecording == running.id)
        m_keptRecording.reset();
}

AudioTranscripts AudioSessionFlow::untranscribed(const AudioSessionResult &result, const QString &note)
{
    AudioTranscripts transcripts;
    transcripts.note = note;
    transcripts.othersUnavailable = result.heardOthers;
    transcripts.youUnavailable = result.heardYou;
    return transcripts;
}

bool AudioSessionFlow::transcriptionSupported() const
{
    const std::optional<bool> &override = m_context.services().transcriptionSupported;
    return override ? *override : AudioFileTranscriber::isSupported();
}

Task<> AudioSessionFlow::finishAudioRecording(bool transcribe)
{
    AudioSessionCoordinator &audio = m_context.audio();
    // A stop already under way ends this session; a second stop would end nothing.
    if (m_finishing.isValid() && !m_finishing.isFinished()) {
        co_await settled(m_finishing);
        co_return;
    }
    if (!audio.isRecording())
        co_return;
    m_finishing = finishRecording(transcribe);
    co_await settled(m_finishing);
}

Task<> AudioSessionFlow::finishRecording(bool transcribe)
{
    AudioSessionCoordinator &audio = m_context.audio();
    Task<AudioSessionResult> stopping = audio.stop();
    const AudioSessionResult result = co_await stopping;
    if (!result.folder) {
        audio.endScopedFolderAccess();
        audio.setPhase(AudioSessionPhase::failed);
        m_context.setStatusMessage(QStringLiteral("Audio recording could not be saved"));
        if (m_keptRecording == result.id) {
            m_keptRecording.reset();
            co_await m_context.drafts().releaseAudioDraft(result.id, false);
        }
        co_return;
    }
    if (!transcribe || !transcriptionSupported()) {
        const AudioTranscripts transcripts = untranscribed(result,
            transcribe ? AudioFileTranscriber::unavailableNote()
                       : QStringLiteral("Quit before transcription started."));
        co_await presentAudioReview(result, *result.folder, transcripts, !transcribe);
        co_return;
    }
    co_await beginTranscription(result, *result.folder, m_context.settings().recordYouMicrophone);
}

Task<> AudioSessionFlow::beginTranscription(AudioSessionResult result, ResolvedFolder folder, bool includeYou)
{
    if (m_pending) {
        // The recording still being transcribed is saved as it is, never dropped.
        co_await savePendingTranscriptionNow(
            QStringLiteral("A newer recording ended before transcription finished."));
    }
    m_pending = PendingTranscription { result, std::move(folder) };
    cancelInFlightTranscription();
    // A recording that runs keeps its phase.
    if (!recordingRuns(m_context.audio()))
        m_context.audio().setPhase(AudioSessionPhase::transcribing);
    m_context.setStatusMessage(QStringLiteral("Transcribing…"));
    m_transcriptionTask = this->transcribe(*m_pending, includeYou, m_transcriptionGeneration);
}

Task<> AudioSessionFlow::transcribe(PendingTranscription pending, bool includeYou, int generation)
{
    if (CurrentTask::isCancelled() || generation != m_transcriptionGeneration)
        co_return;
    const AudioSessionResult &result = pending.result;
    const MicrophoneSpeechGate::Decision decision
        = MicrophoneSpeechGate::decision(result.youPeak, result.othersPeak, includeYou);
    QPointer<AudioSessionFlow> flow(this);
    m_transcriberTask = AudioFileTranscriber::transcribe(
        localPath(result.othersURL), localPath(result.youURL), result.heardOthers,
        decision == MicrophoneSpeechGate::Decision::transcribe,
        [flow, generation](const QString &text) {
            if (flow && flow->m_transcriptionGeneration == generation)
                flow->m_context.setStatusMessage(text);
        },
        m_context.services().audioFileTranscriber,
        [flow, generation](double share) {
            if (flow && flow->m_transcriptionGeneration == generation)
                flow->m_context.setTranscriptionProgress(share);
        });
    AudioTranscripts transcripts = co_await m_transcriberTask;
    if (generation != m_transcriptionGeneration)
        co_return;
    m_context.setTranscriptionProgress(std::nullopt);
    if (decision == MicrophoneSpeechGate::Decision::skipBleed) {
        transcripts.note = joined(transcripts.note,
            QStringLiteral(
                "You was recorded but not transcribed — the microphone looked like speaker playback."));
        transcripts.youUnavailable = true;
    }
    m_pending.reset();
    co_await presentAudioReview(result, pending.folder, transcripts, false);
}

void AudioSessionFlow::cancelInFlightTranscription()
{
    m_transcriberTask.cancel();
    m_transcriberTask = Task<AudioTranscripts>();
    m_transcriptionTask.cancel();
    m_transcriptionTask = Task<>();
    ++m_transcriptionGeneration;
    m_context.setTranscriptionProgress(std::nullopt);
}

Task<bool> AudioSessionFlow::savePendingTranscriptionNow(const QString &note)
{
    if (!m_pending)
        co_return true;
    cancelInFlightTranscription();
    const PendingTranscription pending = *m_pending;
    m_pending.reset();
    const AudioTranscripts transcripts = untranscribed(pending.result, note);
    co_return co_await presentAudioReview(pending.result, pending.folder, transcripts, true);
}

Task<bool> AudioSessionFlow::presentAudioReview(
    AudioSessionResult result, ResolvedFolder folder, AudioTranscripts transcripts, bool saveImmediately)
{
    co_return co_await openReview(
        std::make_shared<AudioReviewSession>(result, std::move(folder), transcripts), saveImmediately);
}

Task<> AudioSessionFlow::resumeAudioDraft(CaptureDraft draft)
{
    if (!draft.audioSession)
        co_return;
    // Under review again: no longer offered, and still in the draft until saved or discarded.
    m_context.setPendingDraft(std::nullopt);
    m_context.drafts().setCurrentDraft(std::nullopt);
    if (draft.audioSession->recordingUnfinished) {
        co_await resumeUnfinishedRecording(draft);
        co_return;
    }
    co_await openReview(std::make_shared<AudioReviewSession>(draft), false);
    m_context.setStatusMessage(QStringLiteral("Resumed draft"));
}

Task<> AudioSessionFlow::resumeUnfinishedRecording(CaptureDraft draft)
{
    const AudioSessionDraft kept = *draft.audioSession;
    // The files end where the program did: their last write is the recording's end.
    struct Left
    {
        std::optional<QString> others;
        std::optional<QString> you;
        QDateTime lastWritten;
    };
    QFuture<Left> looking = QtConcurrent::run([kept] {
        Left left;
        for (const auto &[path, found] :
            { std::pair { kept.othersFile, &left.others }, std::pair { kept.youFile, &left.you } }) {
            const QFileInfo file(path.value_or(QString()));
            if (!path || !file.isFile() || file.size() == 0)
                continue;
            *found = *path;
            left.lastWritten = std::max(left.lastWritten, file.lastModified());
        }
        return left;
    });
    const Left left = co_await looking;
    AudioSessionResult result;
    result.id = draft.id;
    result.startedAt = kept.startedAt;
    result.endedAt = std::max(kept.startedAt, left.lastWritten.isValid() ? left.lastWritten : kept.startedAt);
    result.othersURL = left.others ? std::optional(QUrl::fromLocalFile(*left.others)) : std::nullopt;
    result.youURL = left.you ? std::optional(QUrl::fromLocalFile(*left.you)) : std::nullopt;
    result.heardOthers = left.others.has_value();
    result.heardYou = left.you.has_value();
    // Their levels went with the program: the microphone is heard whatever it picked up.
    result.othersPeak = result.youPeak = 1.0f;
    result.folder = ResolvedFolder { QUrl::fromLocalFile(kept.folder), false, std::nullopt };
    result.recordingNote
        = AudioRecordingNote::endedWhileRecording(double(result.startedAt.msecsTo(result.endedAt)) / 1000.0);
    m_keptRecording = draft.id;
    if (!transcriptionSupported()) {
        co_await presentAudioReview(
            result, *result.folder, untranscribed(result, AudioFileTranscriber::unavailableNote()), false);
        co_return;
    }
    co_await beginTranscription(result, *result.folder, result.heardYou);
}

Task<bool> AudioSessionFlow::openReview(std::shared_ptr<AudioReviewSession> session, bool saveImmediately)
{
    // An earlier session's review that is still open is saved as it stands, never replaced unsaved.
    if (const std::shared_ptr<AudioReviewSession> open = m_context.audioReview();
        open && open->id != session->id)
        co_await saveAudioReview(open->wasPresented());
    if (m_keptRecording == session->id) {
        // The draft that kept the recording while it ran now keeps its review, until it is saved.
        session->markKeptInDraft();
        m_keptRecording.reset();
    }
    m_context.setAudioReview(session);
    // A review of an earlier session never takes the phase from a recording that runs.
    if (!recordingRuns(m_context.audio()))
        m_context.audio().setPhase(AudioSessionPhase::reviewing);
    if (saveImmediately)
        co_return co_await saveAudioReview(false);
    session->markPresented();
    m_context.requestWindow(QStringLiteral("audio-review"));
    m_context.setStatusMessage(QStringLiteral("Review audio"));
    co_return true;
}

Task<bool> AudioSessionFlow::saveAudioReview(bool reviewedByUser)
{
    const std::shared_ptr<AudioReviewSession> session = m_context.audioReview();
    if (!session)
        co_return true;
    if (!session->saveGate.begin())
        co_return false;
    session->setSaving(true);
    if (co_await writeAudioSession(session, reviewedByUser))
        co_return true;
    // The review stays open, but a quit or a crash would lose it; one discarded or saved meanwhile
    // has nothing left to keep.
    if (m_context.audioReview() == session && !session->saveGate.hasSucceeded())
        co_await m_context.drafts().keepAudioReview(session);
    co_return false;
}

Task<bool> AudioSessionFlow::writeAudioSession(
    std::shared_ptr<AudioReviewSession> session, bool reviewedByUser)
{
    const QString title = session->title().trimmed();
    AudioSessionMarkdownDocument document;
    document.id = session->id;
    document.title = title.isEmpty() ? QStringLiteral("Audio session") : title;
    document.capturedAt = session->startedAt;
    document.durationSeconds = std::max<qint64>(0, session->startedAt.msecsTo(session->endedAt) / 1000);
    document.othersFilename = fileName(session->othersURL);
    document.youFilename = fileName(session->youURL);
    document.heardOthers = session->heardOthers;
    document.heardYou = session->heardYou;
    document.othersTranscript = session->othersText();
    document.youTranscript = session->youText();
    document.transcriber = session->transcriber;
    document.reviewedByUser = reviewedByUser;
    document.note = session->note();
    document.othersTranscriptionUnavailable = session->othersTranscriptionUnavailable;
    document.youTranscriptionUnavailable = session->youTranscriptionUnavailable;
    const QString markdown = document.render();
    const QString filename = CaptureFilename::make(session->startedAt,
        title.isEmpty() ? QStringLiteral("audio-session") : title, session->id, QTimeZone::systemTimeZone());

    QFuture<MarkdownSave::Outcome> writing
        = MarkdownSave::write(m_context.services(), markdown, session->folder.url.toLocalFile(), filename);
    const MarkdownSave::Outcome written = co_await writing;
    if (!written.url) {
        session->saveGate.fail();
        session->setSaving(false);
        session->setStatusText(MarkdownSave::failedText(written));
        m_context.setStatusMessage(written.reason
                ? QStringLiteral("Audio recording could not be saved: %1").arg(*written.reason)
                : QStringLiteral("Audio recording could not be saved"));
        co_return false;
    }
    const std::optional<QUrl> url = written.url;

    std::optional<QByteArray> bookmark;
    try {
        bookmark = m_context.services().recentBookmarks.makeBookmark(*url);
    } catch (const std::exception &) { }
    AppSettings settings = m_context.settings();
    settings.remember(RecentCaptureRef { session->id, url->fileName(), bookmark, session->endedAt });
    m_context.setSettings(settings);
    m_context.persistSettings();

    SavedReceipt receipt;
    receipt.id = session->id;
    receipt.url = *url;
    receipt.packedMarkdown = written.packedMarkdown;
    receipt.fileBookmarkData = bookmark;
    receipt.kind = SavedReceipt::Kind::audio;
    receipt.othersTranscript = session->othersText();
    receipt.youTranscript = session->youText();
    // The receipt warns of silence only where there was none to write.
    receipt.heardOthers = session->heardOthers || session->othersNotWritten;
    receipt.transcriptionIssue = session->transcriptionIssue;
    for (const std::optional<QString> &name : { fileName(session->othersURL), fileName(session->youURL) }) {
        if (name)
            receipt.companionFilenames.append(*name);
    }
    m_context.setReceipt(receipt);

    session->saveGate.succeed();
    session->setSaving(false);
    if (session->isKeptInDraft())
        m_context.drafts().releaseAudioDraft(session->id, true);
    if (m_context.audioReview() == session)
        m_context.setAudioReview(nullptr);
    AudioSessionCoordinator &audio = m_context.audio();
    if (!recordingRuns(audio)) {
        audio.endScopedFolderAccess();
        audio.setPhase(AudioSessionPhase::saved);
    }
    m_context.requestWindow(QStringLiteral("receipt"));
    m_context.setStatusMessage(receipt.heardOthers
            ? QStringLiteral("Saved audio session")
            : QStringLiteral("Saved audio session. No system audio was heard."));
    co_return true;
}

void AudioSessionFlow::discardAudioReview()
{
    const std::shared_ptr<AudioReviewSession> session = m_context.audioReview();
    if (!session || session->isSaving())
        return;
    QStringList files;
    for (const std::optional<QString> &path : { localPath(session->othersURL), localPath(session->youURL) }) {
        if (path)
            files << *path;
    }
    // A slow folder must not hold up the main thread; nothing waits for the files to go.
    const QFuture<void> removing = QtConcurrent::run([files] {
        for (const QString &file : files)
            QFile::remove(file);
    });
    Q_UNUSED(removing);
    if (session->isKeptInDraft())
        m_context.drafts().releaseAudioDraft(session->id, false);
    m_context.setAudioReview(nullptr);
    AudioSessionCoordinator &audio = m_context.audio();
    if (!recordingRuns(audio)) {
        audio.endScopedFolderAccess();
        audio.setPhase(AudioSessionPhase::failed);
        audio.clearTerminalState();
    }
    m_context.setStatusMessage(QStringLiteral("Audio review discarded"));
}

void AudioSessionFlow::updateSettings(const std::function<void(AppSettings &)> &change)
{
    AppSettings settings = m_context.settings();
    change(settings);
    m_context.setSettings(settings);
    m_context.persistSettings();
}

void AudioSessionFlow::applyRecordYouMicrophone(bool enabled)
{
    updateSettings([&](AppSettings &settings) { settings.recordYouMicrophone = enabled; });
    m_context.permissions().setRecordYouEnabled(enabled);
    m_context.setStatusMessage(
        enabled ? QStringLiteral("You (microphone) is on") : QStringLiteral("You (microphone) is off"));
}

void AudioSessionFlow::applyMicrophoneDeviceUID(const std::optional<QString> &uid)
{
    updateSettings([&](AppSettings &settings) { settings.microphoneDeviceUID = uid; });
    const std::optional<AudioInputDevice> device = uid ? m_context.inputDevices().device(*uid) : std::nullopt;
    m_context.setStatusMessage(
        QStringLiteral("Microphone: ") + (device ? device->name : QStringLiteral("System Default")));
}

void AudioSessionFlow::applyOthersAudioSource(
    const std::optional<QString> &bundleID, const std::optional<QString> &displayName)
{
    updateSettings([&](AppSettings &settings) {
        settings.othersAudioBundleID = bundleID;
        settings.othersAudioDisplayName = displayName;
    });
    if (bundleID && !bundleID->isEmpty())
        m_context.setStatusMessage(QStringLiteral("Others: ") + displayName.value_or(*bundleID));
    else
        m_context.setStatusMessage(QStringLiteral("Others: This Computer"));
}
