#include "Model/AudioReviewSession.h"

#include "Rules/AudioSessionTitle.h"

namespace {

QString visibleNoteFor(const AudioSessionResult &result, const QString &transcriptionNote)
{
    if (result.heardOthers)
        return transcriptionNote;
    const QString missing = AudioSessionCoordinator::noSystemAudioHeardText();
    return transcriptionNote.isEmpty() ? missing : transcriptionNote + QLatin1Char(' ') + missing;
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
    , transcriber(transcripts.transcriber)
    , transcriptionIssue(transcripts.note)
    , othersTranscriptionUnavailable(transcripts.othersUnavailable)
    , youTranscriptionUnavailable(transcripts.youUnavailable)
    , m_title(AudioSessionTitle::make(transcripts.others, transcripts.you))
    , m_othersText(transcripts.others)
    , m_youText(transcripts.you)
    , m_note(visibleNoteFor(result, transcripts.note))
    , m_statusText(statusText(transcripts.transcriber, transcripts.note, trimmedOrNone(m_note)))
{ }

std::optional<QString> AudioReviewSession::visibleNote() const
{
    return trimmedOrNone(m_note);
}

QString AudioReviewSession::statusText(const std::optional<QString> &transcriber,
    const QString &transcriptionIssue, const std::optional<QString> &visibleNote)
{
    if (!transcriptionIssue.isEmpty())
        return QStringLiteral("Recording saved locally. Review the transcription note, then save Markdown.");
    if (visibleNote && !visibleNote->isEmpty())
        return QStringLiteral("Recording saved locally. Review the recording note, then save Markdown.");
    if (transcriber)
        return QStringLiteral("On-device transcript is ready. Edit if needed, then save.");
    return QStringLiteral("Recording saved locally. Edit if needed, then save Markdown.");
}
