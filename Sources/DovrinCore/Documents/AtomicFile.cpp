#include "Documents/AtomicFile.h"

#include <QDir>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

int writeAll(int fd, const QByteArray &data)
{
    const char *cursor = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, cursor, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        cursor += written;
        left -= written;
    }
    return 0;
}

int syncFile(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

// The new name is already in place; a folder that cannot be synced (some file systems refuse) does
// not undo that, so this is best effort.
void syncDirectory(int directoryFd)
{
    while (::fsync(directoryFd) != 0 && errno == EINTR) { }
}

bool isPlainName(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

QByteArray temporaryName()
{
    return ".quorvel-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".tmp";
}

// A hidden file with the final mode, written and synced; its name goes to *name.
int writeTemporary(int directoryFd, const QByteArray &data, mode_t mode, QByteArray *name)
{
    Descriptor file;
    for (int attempt = 0; attempt < 100 && !file.isValid(); ++attempt) {
        *name = temporaryName();
        file = Descriptor(::openat(
            directoryFd, name->constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, mode));
        if (!file.isValid() && errno != EEXIST) {
            const int error = errno;
            name->clear();
            return error;
        }
    }
    if (!file.isValid()) {
        name->clear();
        return EEXIST;
    }
    int error = writeAll(file.get(), data);
    if (error == 0)
        error = syncFile(file.get());
    if (error != 0) {
        ::unlinkat(directoryFd, name->constData(), 0);
        name->clear();
    }
    return error;
}

bool linkUnsupported(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK || error == EINVAL;
}

} // namespace

Descriptor::~Descriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Descriptor &Descriptor::operator=(Descriptor &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

int Descriptor::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

Descriptor openDirectory(const QString &path, int *error, Link link)
{
    const int noFollow = link == Link::refuse ? O_NOFOLLOW : 0;
    Descriptor directory(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
    *error = directory.isValid() ? 0 : errno;
    return directory;
}

Descriptor openDirectory(int directoryFd, const QByteArray &name, int *error)
{
    if (!isPlainName(name)) {
        *error = EINVAL;
        return Descriptor();
    }
    Descriptor directory(
        ::openat(directoryFd, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    *error = directory.isValid() ? 0 : errno;
    return directory;
}

int makeDirectories(const QString &path, mode_t mode)
{
    const QString clean = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(clean))
        return EINVAL;
    QByteArray prefix;
    for (const QString &part : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        prefix += '/' + QFile::encodeName(part);
        if (::mkdir(prefix.constData(), mode) == 0)
            continue;
        if (errno != EEXIST)
            return errno;
        struct stat info
        {
        };
        if (::stat(prefix.constData(), &info) != 0)
            return errno;
        if (!S_ISDIR(info.st_mode))
            return ENOTDIR;
    }
    return 0;
}

namespace {

// Opened without following a link: tightened to 0700 when it is this user's and grants more.
Descriptor tightened(Descriptor directory, int *error)
{
    if (!directory.isValid()) {
        *error = errno;
        return directory;
    }
    struct stat info
    {
    };
    if (::fstat(directory.get(), &info) != 0) {
        *error = errno;
        return Descriptor();
    }
    if ((info.st_mode & 077) != 0 && info.st_uid == ::geteuid() && ::fchmod(directory.get(), 0700) != 0) {
        *error = errno;
        return Descriptor();
    }
    *error = 0;
    return directory;
}

} // namespace

Descriptor openPrivateDirectory(const QString &path, int *error)
{
    if ((*error = makeDirectories(path, 0700)))
        return Descriptor();
    const QByteArray encoded = QFile::encodeName(QDir::cleanPath(path));
    return tightened(
        Descriptor(::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW)), error);
}

Descriptor openPrivateDirectory(int directoryFd, const QByteArray &name, int *error)
{
    if (!isPlainName(name)) {
        *error = EINVAL;
        return Descriptor();
    }
    if (::mkdirat(directoryFd, name.constData(), 0700) != 0 && errno != EEXIST) {
        *error = errno;
        return Descriptor();
    }
    return tightened(
        Descriptor(::openat(directoryFd, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW)),
        error);
}

int makePrivateDirectory(const QString &path)
{
    int error = 0;
    openPrivateDirectory(path, &error);
    return error;
}

int writeReplacing(int directoryFd, const QByteArray &name, const QByteArray &data, mode_t mode)
{
    if (!isPlainName(name))
        return EINVAL;
    QByteArray temporary;
    if (const int error = writeTemporary(directoryFd, data, mode, &temporary))
        return error;
    if (::renameat(directoryFd, temporary.constData(), directoryFd, name.constData()) != 0) {
        const int error = errno;
        ::unlinkat(directoryFd, temporary.constData(), 0);
        return error;
    }
    syncDirectory(directoryFd);
    return 0;
}

NewFile::NewFile(int directoryFd, QByteArray data, mode_t mode, Method method)
    : m_directoryFd(directoryFd)
    , m_data(std::move(data))
    , m_mode(mode)
    , m_method(method)
{ }

NewFile::~NewFile()
{
    discard();
}

void NewFile::discard()
{
    if (!m_temporaryName.isEmpty()) {
        ::unlinkat(m_directoryFd, m_temporaryName.constData(), 0);
        m_temporaryName.clear();
    }
    m_file = Descriptor();
    m_staged = false;
}

int NewFile::stage()
{
    if (m_staged)
        return m_stageError;
    m_staged = true;
    switch (m_method) {
    case Method::automatic:
        m_stageError = stageUnnamed();
        if (m_stageError != 0) {
            // No unnamed files on this file system: a hidden temporary file does the same job.
            m_method = Method::namedTemporary;
            m_stageError = stageNamed();
        }
        break;
    case Method::namedTemporary:
        m_stageError = stageNamed();
        break;
    case Method::exclusiveCreate:
        m_stageError = 0;
        break;
    }
    return m_stageError;
}

int NewFile::stageUnnamed()
{
    m_file = Descriptor(::openat(m_directoryFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, m_mode));
    if (!m_file.isValid())
        return errno;
    int error = writeAll(m_file.get(), m_data);
    if (error == 0)
        error = syncFile(m_file.get());
    if (error != 0)
        m_file = Descriptor();
    return error;
}

int NewFile::stageNamed()
{
    return writeTemporary(m_directoryFd, m_data, m_mode, &m_temporaryName);
}

int NewFile::publish(const QByteArray &name)
{
    if (!isPlainName(name))
        return EINVAL;
    if (const int error = stage())
        return error;
    switch (m_method) {
    case Method::automatic:
        return publishUnnamed(name);
    case Method::namedTemporary:
        return publishNamed(name);
    case Method::exclusiveCreate:
        return publishExclusive(name);
    }
    return EINVAL;
}

int NewFile::publishUnnamed(const QByteArray &name)
{
    // Linking by the /proc path works without the privilege that AT_EMPTY_PATH needs.
    const QByteArray procPath = "/proc/self/fd/" + QByteArray::number(m_file.get());
    if (::linkat(AT_FDCWD, procPath.constData(), m_directoryFd, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
        syncDirectory(m_directoryFd);
        discard();
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    // No /proc, or no hard links here: stage again as a named temporary file.
    discard();
    m_method = Method::namedTemporary;
    m_staged = true;
    m_stageError = stageNamed();
    if (m_stageError != 0)
        return m_stageError;
    return publishNamed(name);
}

int NewFile::publishNamed(const QByteArray &name)
{
    if (::renameat2(
            m_directoryFd, m_temporaryName.constData(), m_directoryFd, name.constData(), RENAME_NOREPLACE)
        == 0) {
        m_temporaryName.clear();
        syncDirectory(m_directoryFd);
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (::linkat(m_directoryFd, m_temporaryName.constData(), m_directoryFd, name.constData(), 0) == 0) {
        syncDirectory(m_directoryFd);
        discard();
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    if (!linkUnsupported(errno))
        return errno;
    // Neither a no-replace rename nor a hard link: create the name exclusively and write into it.
    discard();
    m_method = Method::exclusiveCreate;
    m_staged = true;
    m_stageError = 0;
    return publishExclusive(name);
}

int NewFile::publishExclusive(const QByteArray &name)
{
    Descriptor file(::openat(
        m_directoryFd, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, m_mode));
    if (!file.isValid())
        return errno;
    int error = writeAll(file.get(), m_data);
    if (error == 0)
        error = syncFile(file.get());
    if (error != 0) {
        // The name is ours (created exclusively just now): take the partial file away again.
        ::unlinkat(m_directoryFd, name.constData(), 0);
        return error;
    }
    syncDirectory(m_directoryFd);
    return 0;
}

int readFile(int directoryFd, const QByteArray &name, qint64 maxBytes, QByteArray *data, mode_t allowedMode)
{
    data->clear();
    if (!isPlainName(name))
        return EINVAL;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    Descriptor file(::openat(directoryFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!file.isValid())
        return errno;
    struct stat info
    {
    };
    if (::fstat(file.get(), &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    if ((info.st_mode & 07777 & ~allowedMode) != 0 && ::fchmod(file.get(), info.st_mode & allowedMode) != 0)
        return errno;
    if (info.st_size > maxBytes)
        return EFBIG;
    QByteArray buffer;
    buffer.resize(qsizetype(info.st_size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == buffer.size()) {
            if (filled > maxBytes)
                return EFBIG;
            buffer.resize(std::min<qint64>(qint64(buffer.size()) * 2, maxBytes + 1));
        }
        const ssize_t got = ::read(file.get(), buffer.data() + filled, size_t(buffer.size() - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            break;
        filled += got;
    }
    if (filled > maxBytes)
        return EFBIG;
    buffer.truncate(filled);
    *data = std::move(buffer);
    return 0;
}

bool isTemporaryName(const QByteArray &name)
{
    static constexpr char prefix[] = ".quorvel-";
    static constexpr char suffix[] = ".tmp";
    if (!name.startsWith(prefix) || !name.endsWith(suffix))
        return false;
    const QByteArrayView middle = QByteArrayView(name).sliced(
        sizeof(prefix) - 1, name.size() - qsizetype(sizeof(prefix) + sizeof(suffix) - 2));
    if (middle.isEmpty() || middle.size() > 16)
        return false;
    return std::all_of(middle.begin(), middle.end(),
        [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void removeStaleTemporaries(int directoryFd, qint64 minimumAgeSeconds)
{
    // fdopendir takes the descriptor over; the caller keeps its own.
    const int own = ::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0);
    DIR *listing = own >= 0 ? ::fdopendir(own) : nullptr;
    if (!listing) {
        if (own >= 0)
            ::close(own);
        return;
    }
    ::rewinddir(listing);
    const time_t now = ::time(nullptr);
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (!isTemporaryName(name))
            continue;
        struct stat info
        {
        };
        if (::fstatat(directoryFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)
            && now - info.st_mtime > minimumAgeSeconds)
            ::unlinkat(directoryFd, entry->d_name, 0);
    }
    ::closedir(listing);
}

} // namespace AtomicFile
