#pragma once

#include <QByteArray>
#include <QUrl>

#include <functional>

// A saved file's bookmark, resolved.
struct RecentBookmarkResolution
{
    QUrl url;
    bool isStale = false;
};

// A saved file reached through its bookmark. When `scoped` is true the receiver calls
// stopAccessing(url) once it is done with the file.
struct ScopedRecentFile
{
    QUrl url;
    bool scoped = false;
    std::function<void(const QUrl &)> stopAccessing;
};

// The bookmark operations the model uses for saved files, as replaceable closures.
struct RecentBookmarkService
{
    // Throws FolderBookmarkError when the data is not a bookmark. A bookmark whose file is gone still
    // resolves (to its path); it is stale when another file now sits at the path.
    std::function<RecentBookmarkResolution(const QByteArray &)> resolve;
    // Throws FolderBookmarkError when nothing is at the URL.
    std::function<QByteArray(const QUrl &)> makeBookmark;
    // The file's folder exists and is readable and writable (the file itself may be gone).
    std::function<bool(const QUrl &)> startAccessing;
    std::function<void(const QUrl &)> stopAccessing;
    std::function<bool(const QUrl &)> fileExists;

    static RecentBookmarkService live();
};
