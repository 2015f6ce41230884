#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <exception>
#include <optional>

// A folder as the settings and drafts remember it: a bookmark (the path with the device and inode
// found there) and the path shown to the user.
struct FolderAccess
{
    QByteArray bookmarkData;
    QString displayPath;

    bool operator==(const FolderAccess &) const = default;

    // {"bookmarkData": base64, "displayPath": string}
    QJsonObject toJson() const;
    static std::optional<FolderAccess> fromJson(const QJsonValue &value);
};

// A resolved folder bookmark. Access to `url` is not started: the caller starts and stops it.
struct ResolvedFolder
{
    QUrl url;
    bool wasStale = false;
    // A renewed access when the bookmark was stale.
    std::optional<FolderAccess> refreshed;
};

class FolderBookmarkError : public std::exception
{
public:
    enum class Code {
        staleAndUnresolvable, // the bookmark cannot be read or renewed, or nothing is at its path
        inaccessible, // something is there, but not a folder
        notADirectory, // a bookmark was asked for a place that is not an existing folder
        becameLink, // the path now leads elsewhere through a symbolic link; the folder must be chosen again
    };

    explicit FolderBookmarkError(Code code) noexcept
        : m_code(code)
    { }
    Code code() const noexcept { return m_code; }
    // For diagnostics only; this error has no user-facing text.
    const char *what() const noexcept override;

private:
    Code m_code;
};

// Bookmarks on Linux: a path plus the device and inode that were there. A bookmark is stale when
// another inode now sits at the path (the folder was replaced); "security scope" means the place is
// readable and writable.
namespace FolderBookmark {

struct Record
{
    QString path;
    quint64 device = 0;
    quint64 inode = 0;
    // Where the path led, links followed, when the bookmark was made; none in older bookmarks.
    std::optional<QString> canonicalPath;

    bool operator==(const Record &) const = default;
};

// The record of what is at an absolute path now (following symlinks); none when nothing is there.
std::optional<Record> record(const QString &path);
QByteArray encode(const Record &record);
// None for data that is not a record of an absolute path.
std::optional<Record> decode(const QByteArray &data);

// Throws notADirectory when the URL is not an existing local folder.
FolderAccess make(const QUrl &folder);
// Throws staleAndUnresolvable, inaccessible or becameLink (see FolderBookmarkError). A path that leads
// elsewhere than when it was chosen, through a link put in place of the folder or of one above it, is
// never followed: notes would go to a place the user never picked.
ResolvedFolder resolve(const FolderAccess &access);

// The URL is an existing folder that this process can read, enter and write.
bool startAccessing(const QUrl &url);
// Nothing to release on Linux; kept so callers pair their calls.
void stopAccessing(const QUrl &url);

} // namespace FolderBookmark
