#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// What a move to the Trash achieved for a saved note and its companion audio files.
namespace TrashReconciliation {

enum class Status {
    allMoved,
    markdownMovedCompanionsRemain,
    companionsMovedMarkdownRemains,
    noneMoved,
};

struct Outcome
{
    bool markdownMoved = false;
    // Companion names whose file beside the Markdown was not moved, in the order given.
    QStringList remainingCompanions;
    Status status = Status::noneMoved;

    bool operator==(const Outcome &) const = default;
};

// movedOriginals: the former URLs of the files that reached the Trash.
Outcome outcome(
    const QUrl &markdown, const QStringList &companionFilenames, const QList<QUrl> &movedOriginals);

QString statusMessage(Status status);

} // namespace TrashReconciliation
