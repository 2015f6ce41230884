#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <optional>

// The last saved file, as the receipt window shows it.
struct SavedReceipt
{
    enum class Kind { region, audio };

    QUuid id;
    QUrl url;
    QString markdown;
    std::optional<QByteArray> fileBookmarkData;
    Kind kind = Kind::region;
    QString othersTranscript;
    QString youTranscript;
    bool heardOthers = false;
    QString transcriptionIssue;
    // The audio files saved beside the note, Others first.
    QStringList companionFilenames;

    bool operator==(const SavedReceipt &) const = default;
};
