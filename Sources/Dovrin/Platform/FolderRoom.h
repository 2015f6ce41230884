#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Whether a folder can take a recording's files: the file system has room and a write really goes
// through (a quota or a file size limit refuses it where the free space looks fine). Blocks on the disk:
// call it off the main thread.
namespace FolderRoom {

// Free space below this is no room for a recording: about forty seconds of both files.
constexpr qint64 minimumBytes = 2 * 1024 * 1024;
// What the trial write puts in an unnamed file, which goes with it.
constexpr qint64 trialBytes = 256 * 1024;

// The system's error code that keeps a recording out of `folder` (ENOSPC when there is too little
// room); none when it can be written.
std::optional<int> problem(const QString &folder);

} // namespace FolderRoom
