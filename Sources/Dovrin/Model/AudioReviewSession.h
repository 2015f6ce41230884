#pragma once

#include "Audio/AudioFileTranscriber.h"
#include "Audio/AudioSessionCoordinator.h"
#include "Documents/CaptureDraft.h"
#include "Rules/SaveOnceGate.h"

#include <QObject>

#include <optional>

// The state of one audio review: the recording's facts, its two transcripts and the note, as the
// audio review window edits them before the session is saved. `changed()` announces every change of
// a published field. Main thread only.
class AudioReviewSession : public QObject
{
    Q_OBJECT

public:
    // The note gains what the recording went through, and the no-system-audio sentence when Others was
    // not heard; the title is the first spoken line of Others, else of You, else "Audio session".
    AudioReviewSession(const AudioSessionResult &result, ResolvedFolder folder,
        const AudioTranscripts &transcripts, QObject *parent = nullptr);
    // The review kept in `draft` (one with an audio session), as it was when it was kept; its
    // status says it was resumed.
    explicit AudioReviewSession(const CaptureDraft &draft, QObject *parent = nullptr);

    const QUuid id;
    const QDateTime startedAt;
    const QDateTime endedAt;
    const ResolvedFolder folder;
    const std::optional<QUrl> othersURL;
    const std::optional<QUrl> youURL;
    const bool heardOthers;
    const bool heardYou;
    // Others brought sound that a failed write kept out of its file.
    const bool othersNotWritten;
    // Part of the recording could not be written.
    const bool writeFailed;
    const std::optional<QString> transcriber;
    // The transcription note as transcription returned it.
    const QString transcriptionIssue;
    const bool othersTranscriptionUnavailable;
    const bool youTranscriptionUnavailable;
    SaveOnceGate saveGate;

    QString title() const { return m_title; }
    QString othersText() const { return m_othersText; }
    QString youText() const { return m_youText; }
    QString note() const { return m_note; }
    bool isSaving() const { return m_isSaving; }
    QString statusText() const { return m_statusText; }
    // The note trimmed; none when nothing is left.
    std::optional<QString> visibleNote() const;
    // The review window was asked for, so the user may have reviewed it; a session saved at once
    // never was.
    bool wasPresented() const { return m_wasPresented; }

    void setTitle(const QString &title) { set(m_title, title); }
    void setOthersText(const QString &text) { set(m_othersText, text); }
    void setYouText(const QString &text) { set(m_youText, text); }
    void setSaving(bool saving) { set(m_isSaving, saving); }
    void setStatusText(const QString &text) { set(m_statusText, text); }
    void markPresented() { m_wasPresented = true; }
    // This review went into the encrypted draft (as it was then): saving or discarding it lets go
    // of that draft.
    bool isKeptInDraft() const { return m_keptInDraft; }
    void markKeptInDraft() { m_keptInDraft = true; }
    // Everything the review holds, as a draft stamped `now`.
    CaptureDraft draft(const QDateTime &now) const;

    // The footer line: a recording that could not be written completely first, then the transcription
    // issue, then the note, then whether a transcriber ran.
    static QString statusText(const std::optional<QString> &transcriber, const QString &transcriptionIssue,
        const std::optional<QString> &visibleNote, bool writeFailed = false);

signals:
    void changed();

private:
    template <typename T> void set(T &field, const T &value)
    {
        if (field == value)
            return;
        field = value;
        emit changed();
    }

    QString m_title;
    QString m_othersText;
    QString m_youText;
    QString m_note;
    bool m_isSaving = false;
    QString m_statusText;
    bool m_wasPresented = false;
    bool m_keptInDraft = false;
};
