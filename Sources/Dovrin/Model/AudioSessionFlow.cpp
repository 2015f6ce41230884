#include "Model/AudioSessionFlow.h"

#include "Documents/AtomicMarkdownWriter.h"
#include "Documents/CaptureMarkdown.h"
#include "Model/AudioReviewSession.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Rules/AudioGates.h"

#include <QFile>
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

QString joined(const QString &note, const QString &sentence)
{
    return note.isEmpty() ? sentence : note + QLatin1Char(' ') + sentence;
}

} // namespace

AudioSessionFlow::AudioSessionFlow(ModelContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{ }

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
    if (!audio.isRecording())
        co_return;
    const AudioSessionResult result = audio.stop();
    if (!result.folder) {
        audio.endScopedFolderAccess();
        audio.setPhase(AudioSessionPhase::failed);
        m_context.setStatusMessage(QStringLiteral("Audio recording could not be saved"));
        co_return;
    }
    if (!transcribe || !transcriptionSupported()) {
        const AudioTranscripts transcripts = untranscribed(result,
            transcribe ? AudioFileTranscriber::unavailableNote()
                       : QStringLiteral("Quit before transcription started."));
        co_await presentAudioReview(result, *result.folder, transcripts, !transcribe);
        co_return;
    }
    m_pending = PendingTranscription { result, *result.folder };
    audio.setPhase(AudioSessionPhase::transcribing);
    m_context.setStatusMessage(QStringLiteral("Transcribing…"));
    cancelInFlightTranscription();
    m_transcriptionTask
        = this->transcribe(*m_pending, m_context.settings().recordYouMicrophone, m_transcriptionGeneration);
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
        m_context.services().audioFileTranscriber);
    AudioTranscripts transcripts;
    try {
        transcripts = co_await m_transcriberTask;
    } catch (const TaskCancelled &) {
        co_return;
    }
    if (CurrentTask::isCancelled() || generation != m_transcriptionGeneration || !m_pending
        || m_pending->result.id != result.id)
        co_return;
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
}

Task<bool> AudioSessionFlow::savePendingTranscriptionNow(const QString &note)
{
    if (!m_pending)
        co_return true;
    const PendingTranscription pending = *m_pending;
    m_pending.reset();
    const AudioTranscripts transcripts = untranscribed(pending.result, note);
    co_return co_await presentAudioReview(pending.result, pending.folder, transcripts, true);
}

Task<bool> AudioSessionFlow::presentAudioReview(
    AudioSessionResult result, ResolvedFolder folder, AudioTranscripts transcripts, bool saveImmediately)
{
    auto session = std::make_shared<AudioReviewSession>(result, std::move(folder), transcripts);
    m_context.setAudioReview(session);
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
    co_return co_await writeAudioSession(session, reviewedByUser);
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

    QFuture<std::optional<QUrl>> writing = QtConcurrent::run(
        [markdown, folder = session->folder.url.toLocalFile(), filename]() -> std::optional<QUrl> {
            try {
                return AtomicMarkdownWriter::write(markdown, folder, filename);
            } catch (const std::exception &) {
                return std::nullopt;
            }
        });
    const std::optional<QUrl> url = co_await writing;
    if (!url) {
        session->saveGate.fail();
        session->setSaving(false);
        session->setStatusText(QStringLiteral("The Markdown file could not be saved. Try Save again."));
        m_context.setStatusMessage(QStringLiteral("Audio recording could not be saved"));
        co_return false;
    }

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
    receipt.markdown = markdown;
    receipt.fileBookmarkData = bookmark;
    receipt.kind = SavedReceipt::Kind::audio;
    receipt.othersTranscript = session->othersText();
    receipt.youTranscript = session->youText();
    receipt.heardOthers = session->heardOthers;
    receipt.transcriptionIssue = session->transcriptionIssue;
    for (const std::optional<QString> &name : { fileName(session->othersURL), fileName(session->youURL) }) {
        if (name)
            receipt.companionFilenames.append(*name);
    }
    m_context.setReceipt(receipt);

    session->saveGate.succeed();
    session->setSaving(false);
    if (m_context.audioReview() == session)
        m_context.setAudioReview(nullptr);
    AudioSessionCoordinator &audio = m_context.audio();
    audio.endScopedFolderAccess();
    audio.setPhase(AudioSessionPhase::saved);
    m_context.requestWindow(QStringLiteral("receipt"));
    m_context.setStatusMessage(session->heardOthers
            ? QStringLiteral("Saved audio session")
            : QStringLiteral("Saved audio session. No system audio was heard."));
    co_return true;
}

void AudioSessionFlow::discardAudioReview()
{
    const std::shared_ptr<AudioReviewSession> session = m_context.audioReview();
    if (!session || session->isSaving())
        return;
    for (const std::optional<QString> &path : { localPath(session->othersURL), localPath(session->youURL) }) {
        if (path)
            QFile::remove(*path);
    }
    m_context.setAudioReview(nullptr);
    AudioSessionCoordinator &audio = m_context.audio();
    audio.endScopedFolderAccess();
    audio.setPhase(AudioSessionPhase::failed);
    audio.clearTerminalState();
    m_context.setStatusMessage(QStringLiteral("Audio review discarded"));
}
