#include "Model/AudioReviewSession.h"

#include "Rules/AudioSessionTitle.h"

namespace {

// Sound came, but a failed write kept it out of the file: that was no silence.
bool othersSoundNotWritten(const AudioSessionResult &result)
{
    return !result.heardOthers && result.writeFailed && result.othersPeak > AACStreamWriter::audibleThreshold;
}

QString visibleNoteFor(const AudioSessionResult &result, const QString &transcriptionNote)
{
    QStringList sentences;
    if (!transcriptionNote.isEmpty())
        sentences << transcriptionNote;
    if (!result.recordingNote.isEmpty())
        sentences << result.recordingNote;
    if (!result.heardOthers && !othersSoundNotWritten(result))
        sentences << AudioSessionCoordinator::noSystemAudioHeardText();
    return sentences.join(QLatin1Char(' '));
}

std::optional<QString> trimmedOrNone(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

} // namespace

AudioReviewSession::AudioReviewSession(const AudioSessionResult &result, ResolvedFolder folder,
    const AudioTranscripts &transcripts, QObject *parent)
    : QObject(parent)
    , id(result.id)
    , startedAt(result.startedAt)
    , endedAt(result.endedAt)
    , folder(std::move(folder))
    , othersURL(result.othersURL)
    , youURL(result.youURL)
    , heardOthers(result.heardOthers)
    , heardYou(result.heardYou)
    , othersNotWritten(othersSoundNotWritten(result))
    , writeFailed(result.writeFailed)
    , transcriber(transcripts.transcriber)
    , transcriptionIssue(transcripts.note)
    , othersTranscriptionUnavailable(transcripts.othersUnavailable)
    , youTranscriptionUnavailable(transcripts.youUnavailable)
    , m_title(AudioSessionTitle::make(transcripts.others, transcripts.you))
    , m_othersText(transcripts.others)
    , m_youText(transcripts.you)
    , m_note(visibleNoteFor(result, transcripts.note))
    , m_statusText(
          statusText(transcripts.transcriber, transcripts.note, trimmedOrNone(m_note), result.writeFailed))
{ }

namespace {

std::optional<QUrl> fileURL(const std::optional<QString> &path)
{
    if (!path)
        return std::nullopt;
    return QUrl::fromLocalFile(*path);
}

std::optional<QString> filePath(const std::optional<QUrl> &url)
{
    if (!url)
        return std::nullopt;
    return url->toLocalFile();
}

} // namespace

AudioReviewSession::AudioReviewSession(const CaptureDraft &draft, QObject *parent)
    : QObject(parent)
    , id(draft.id)
    , startedAt(draft.audioSession.value().startedAt)
    , endedAt(draft.audioSession->endedAt)
    , folder(ResolvedFolder { QUrl::fromLocalFile(draft.audioSession->folder), false, std::nullopt })
    , othersURL(fileURL(draft.audioSession->othersFile))
    , youURL(fileURL(draft.audioSession->youFile))
    , heardOthers(draft.audioSession->heardOthers)
    , heardYou(draft.audioSession->heardYou)
    , othersNotWritten(draft.audioSession->othersNotWritten)
    , writeFailed(draft.audioSession->writeFailed)
    , transcriber(draft.audioSession->transcriber)
    , transcriptionIssue(draft.audioSession->transcriptionIssue)
    , othersTranscriptionUnavailable(draft.audioSession->othersTranscriptionUnavailable)
    , youTranscriptionUnavailable(draft.audioSession->youTranscriptionUnavailable)
    , m_title(draft.title)
    , m_othersText(draft.audioSession->othersText)
    , m_youText(draft.audioSession->youText)
    , m_note(draft.note)
    , m_statusText(QStringLiteral("Resumed unfinished capture"))
    , m_keptInDraft(true)
{ }

CaptureDraft AudioReviewSession::draft(const QDateTime &now) const
{
    AudioSessionDraft audio;
    audio.startedAt = startedAt;
    audio.endedAt = endedAt;
    audio.folder = folder.url.toLocalFile();
    audio.othersFile = filePath(othersURL);
    audio.youFile = filePath(youURL);
    audio.heardOthers = heardOthers;
    audio.heardYou = heardYou;
    audio.othersNotWritten = othersNotWritten;
    audio.writeFailed = writeFailed;
    audio.transcriber = transcriber;
    audio.transcriptionIssue = transcriptionIssue;
    audio.othersTranscriptionUnavailable = othersTranscriptionUnavailable;
    audio.youTranscriptionUnavailable = youTranscriptionUnavailable;
    audio.othersText = m_othersText;
    audio.youText = m_youText;
    return CaptureDraft(id, startedAt, now, endedAt, {}, std::nullopt, {}, {}, {}, std::nullopt, std::nullopt,
        m_title, m_note, {}, std::nullopt, std::nullopt, audio);
}

std::optional<QString> AudioReviewSession::visibleNote() const
{
    return trimmedOrNone(m_note);
}

QString AudioReviewSession::statusText(const std::optional<QString> &transcriber,
    const QString &transcriptionIssue, const std::optional<QString> &visibleNote, bool writeFailed)
{
    if (writeFailed)
        return QStringLiteral(
            "Part of the recording could not be written. Review the recording note, then save Markdown.");
    if (!transcriptionIssue.isEmpty())
        return QStringLiteral("Recording saved locally. Review the transcription note, then save Markdown.");
    if (visibleNote && !visibleNote->isEmpty())
        return QStringLiteral("Recording saved locally. Review the recording note, then save Markdown.");
    if (transcriber)
        return QStringLiteral("On-device transcript is ready. Edit if needed, then save.");
    return QStringLiteral("Recording saved locally. Edit if needed, then save Markdown.");
}
