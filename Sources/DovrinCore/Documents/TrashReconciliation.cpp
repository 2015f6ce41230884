#include "Documents/TrashReconciliation.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace TrashReconciliation {

namespace {

// URLs of the same file may differ in spelling (a trailing "./", a doubled slash).
QString comparable(const QUrl &url)
{
    return url.isLocalFile() ? QDir::cleanPath(url.toLocalFile())
                             : url.adjusted(QUrl::NormalizePathSegments).toString();
}

} // namespace

Outcome outcome(
    const QUrl &markdown, const QStringList &companionFilenames, const QList<QUrl> &movedOriginals)
{
    QSet<QString> moved;
    for (const QUrl &url : movedOriginals)
        moved.insert(comparable(url));

    Outcome result;
    result.markdownMoved = moved.contains(comparable(markdown));
    const QString folder = QFileInfo(comparable(markdown)).path();
    for (const QString &name : companionFilenames) {
        if (!moved.contains(QDir::cleanPath(folder + QLatin1Char('/') + name)))
            result.remainingCompanions.append(name);
    }
    if (result.markdownMoved)
        result.status
            = result.remainingCompanions.isEmpty() ? Status::allMoved : Status::markdownMovedCompanionsRemain;
    else if (result.remainingCompanions.size() < companionFilenames.size())
        result.status = Status::companionsMovedMarkdownRemains;
    else
        result.status = Status::noneMoved;
    return result;
}

QString statusMessage(Status status)
{
    switch (status) {
    case Status::allMoved:
        return QStringLiteral("Moved to Trash");
    case Status::markdownMovedCompanionsRemain:
        return QStringLiteral("Moved Markdown to Trash. Some audio files could not be moved.");
    case Status::companionsMovedMarkdownRemains:
        return QStringLiteral("Some audio files were moved to Trash. The Markdown is still here.");
    case Status::noneMoved:
        return QStringLiteral("The file could not be moved to Trash");
    }
    return QStringLiteral("The file could not be moved to Trash");
}

} // namespace TrashReconciliation
