#pragma once

#include <QList>
#include <QUrl>

#include <functional>

// The desktop's file manager and its Trash.
namespace FileManager {

// Shows the files selected in their folder through the file manager's org.freedesktop.FileManager1
// service; where no file manager offers it (or there is no session bus), `openFolder` opens the first
// file's folder instead. Returns at once: the answer of the bus arrives later.
void showItems(const QList<QUrl> &files, std::function<bool(const QUrl &folder)> openFolder);

// Moves each file to the freedesktop Trash of its user and answers the URLs of those that went.
// Touches the disk: call it on a worker.
QList<QUrl> moveToTrash(const QList<QUrl> &files);

} // namespace FileManager
