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
    // The saved Markdown, packed (UTF-8, compressed): kept as text, a note of a hundred megabytes would
    // hold twice that for as long as the receipt is there.
    QByteArray packedMarkdown;
    std::optional<QByteArray> fileBookmarkData;
    Kind kind = Kind::region;
    QString othersTranscript;
    QString youTranscript;
    bool heardOthers = false;
    QString transcriptionIssue;
    // The audio files saved beside the note, Others first.
    QStringList companionFilenames;

    bool operator==(const SavedReceipt &) const = default;

    QString markdown() const;
    // Takes a while for a long note: not on the main thread.
    static QByteArray pack(const QString &markdown);
};
