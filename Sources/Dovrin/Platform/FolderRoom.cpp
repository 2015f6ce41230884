#include "Platform/FolderRoom.h"

#include <QFile>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace FolderRoom {

std::optional<int> problem(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct statvfs space
    {
    };
    if (::statvfs(path.constData(), &space) != 0)
        return errno;
    if (qint64(space.f_bavail) * qint64(space.f_frsize) < minimumBytes)
        return ENOSPC;
    // An unnamed file leaves nothing behind, whatever happens to this process.
    int fd = ::open(path.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        QByteArray name = path + "/.quorvel-room-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.constData());
    }
    if (fd < 0)
        return errno;
    const std::vector<char> block(64 * 1024);
    std::optional<int> refused;
    for (qint64 written = 0; written < trialBytes && !refused;) {
        const ssize_t count = ::write(fd, block.data(), block.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            refused = count < 0 ? errno : ENOSPC;
        else
            written += count;
    }
    ::close(fd);
    return refused;
}

} // namespace FolderRoom
