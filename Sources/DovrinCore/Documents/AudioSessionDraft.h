#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// What an audio review held that its note was not yet written with: the recording's facts and files,
// and the two transcripts as edited. Its title and note are the draft's own.
struct AudioSessionDraft
{
    QDateTime startedAt;
    QDateTime endedAt;
    // The capture folder the note goes into, beside the recordings.
    QString folder;
    std::optional<QString> othersFile;
    std::optional<QString> youFile;
    bool heardOthers = false;
    bool heardYou = false;
    bool othersNotWritten = false;
    // Part of the recording could not be written.
    bool writeFailed = false;
    std::optional<QString> transcriber;
    QString transcriptionIssue;
    bool othersTranscriptionUnavailable = false;
    bool youTranscriptionUnavailable = false;
    QString othersText;
    QString youText;
    // The recording was still running when this was kept: it never stopped, so its end is where its
    // files end, and it was never transcribed.
    bool recordingUnfinished = false;

    bool operator==(const AudioSessionDraft &) const = default;

    QJsonObject toJson() const;
    // None for anything but a complete record.
    static std::optional<AudioSessionDraft> fromJson(const QJsonValue &value);
};
