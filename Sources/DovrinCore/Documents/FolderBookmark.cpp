#include "Documents/FolderBookmark.h"

#include "Documents/JsonFields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char *FolderBookmarkError::what() const noexcept
{
    switch (m_code) {
    case Code::staleAndUnresolvable:
        return "folder bookmark: stale and unresolvable";
    case Code::inaccessible:
        return "folder bookmark: inaccessible";
    case Code::notADirectory:
        return "folder bookmark: not a directory";
    case Code::becameLink:
        return "folder bookmark: became a link";
    }
    return "folder bookmark";
}

QJsonObject FolderAccess::toJson() const
{
    return QJsonObject {
        { "bookmarkData", QString::fromLatin1(bookmarkData.toBase64()) },
        { "displayPath", displayPath },
    };
}

std::optional<FolderAccess> FolderAccess::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto bookmark = JsonFields::base64(object.value("bookmarkData"));
    const auto path = JsonFields::string(object.value("displayPath"));
    if (!bookmark || !path)
        return std::nullopt;
    return FolderAccess { *bookmark, *path };
}

namespace FolderBookmark {

namespace {

struct PlaceInfo
{
    Record record;
    bool isDirectory = false;
};

std::optional<PlaceInfo> statPath(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return PlaceInfo { Record { path, quint64(info.st_dev), quint64(info.st_ino),
                           canonical.isEmpty() ? std::nullopt : std::optional(canonical) },
        S_ISDIR(info.st_mode) };
}

std::optional<quint64> unsignedField(const QJsonValue &value)
{
    // Kept as decimal text: device and inode numbers may not fit a JSON double.
    if (!value.isString())
        return std::nullopt;
    bool ok = false;
    const quint64 number = value.toString().toULongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return number;
}

std::optional<QString> localFolderPath(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (!QDir::isAbsolutePath(path))
        return std::nullopt;
    return path;
}

} // namespace

std::optional<Record> record(const QString &path)
{
    if (!QDir::isAbsolutePath(path))
        return std::nullopt;
    const auto info = statPath(path);
    if (!info)
        return std::nullopt;
    return info->record;
}

QByteArray encode(const Record &record)
{
    QJsonObject object {
        { "path", record.path },
        { "device", QString::number(record.device) },
        { "inode", QString::number(record.inode) },
    };
    if (record.canonicalPath)
        object.insert("canonicalPath", *record.canonicalPath);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Record> decode(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto path = JsonFields::string(object.value("path"));
    const auto device = unsignedField(object.value("device"));
    const auto inode = unsignedField(object.value("inode"));
    if (!path || !device || !inode || !QDir::isAbsolutePath(*path) || path->contains(QChar(0)))
        return std::nullopt;
    const QJsonValue canonicalValue = object.value("canonicalPath");
    std::optional<QString> canonical;
    if (!canonicalValue.isUndefined()) {
        canonical = JsonFields::string(canonicalValue);
        if (!canonical || !QDir::isAbsolutePath(*canonical))
            return std::nullopt;
    }
    return Record { QDir::cleanPath(*path), *device, *inode, canonical };
}

FolderAccess make(const QUrl &folder)
{
    const auto path = localFolderPath(folder);
    if (!path)
        throw FolderBookmarkError(FolderBookmarkError::Code::notADirectory);
    const auto info = statPath(*path);
    if (!info || !info->isDirectory)
        throw FolderBookmarkError(FolderBookmarkError::Code::notADirectory);
    return FolderAccess { encode(info->record), *path };
}

ResolvedFolder resolve(const FolderAccess &access)
{
    const auto stored = decode(access.bookmarkData);
    if (!stored)
        throw FolderBookmarkError(FolderBookmarkError::Code::staleAndUnresolvable);
    const auto now = statPath(stored->path);
    if (!now)
        throw FolderBookmarkError(FolderBookmarkError::Code::staleAndUnresolvable);
    if (!now->isDirectory)
        throw FolderBookmarkError(FolderBookmarkError::Code::inaccessible);
    const bool sameFolder = now->record.device == stored->device && now->record.inode == stored->inode;
    // Older bookmarks do not say where the path led: a path that leads through a link to another
    // folder than the one chosen counts as changed.
    const QString chosen = stored->canonicalPath.value_or(
        sameFolder ? now->record.canonicalPath.value_or(QString()) : stored->path);
    if (now->record.canonicalPath.value_or(stored->path) != chosen)
        throw FolderBookmarkError(FolderBookmarkError::Code::becameLink);
    ResolvedFolder resolved;
    resolved.url = QUrl::fromLocalFile(stored->path);
    if (!sameFolder) {
        resolved.wasStale = true;
        resolved.refreshed = FolderAccess { encode(now->record), stored->path };
    }
    return resolved;
}

bool startAccessing(const QUrl &url)
{
    if (!url.isLocalFile())
        return false;
    const QString path = QDir::cleanPath(url.toLocalFile());
    return QFileInfo(path).isDir()
        && ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK | W_OK | X_OK, AT_EACCESS) == 0;
}

void stopAccessing(const QUrl &) { }

} // namespace FolderBookmark
