#include "Documents/RecentBookmarkService.h"

#include "Documents/FolderBookmark.h"

#include <QDir>
#include <QFileInfo>

RecentBookmarkService RecentBookmarkService::live()
{
    RecentBookmarkService service;
    service.resolve = [](const QByteArray &data) {
        const auto stored = FolderBookmark::decode(data);
        if (!stored)
            throw FolderBookmarkError(FolderBookmarkError::Code::staleAndUnresolvable);
        const auto now = FolderBookmark::record(stored->path);
        const bool stale = now && (now->device != stored->device || now->inode != stored->inode);
        return RecentBookmarkResolution { QUrl::fromLocalFile(stored->path), stale };
    };
    service.makeBookmark = [](const QUrl &url) {
        const auto now
            = url.isLocalFile() ? FolderBookmark::record(QDir::cleanPath(url.toLocalFile())) : std::nullopt;
        if (!now)
            throw FolderBookmarkError(FolderBookmarkError::Code::inaccessible);
        return FolderBookmark::encode(*now);
    };
    service.startAccessing = [](const QUrl &url) {
        // A saved file is reachable when its folder is: it may be read, replaced or moved to the Trash.
        if (!url.isLocalFile())
            return false;
        const QFileInfo info(QDir::cleanPath(url.toLocalFile()));
        return FolderBookmark::startAccessing(
            QUrl::fromLocalFile(info.isDir() ? info.filePath() : info.path()));
    };
    service.stopAccessing = [](const QUrl &url) { FolderBookmark::stopAccessing(url); };
    service.fileExists
        = [](const QUrl &url) { return url.isLocalFile() && QFileInfo::exists(url.toLocalFile()); };
    return service;
}
