#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// File primitives for the stores: a file appears under its name only once it is complete and
// synced, it is created with its final mode, and nothing temporary is left behind on failure.
// Every function answers 0 or an errno value; none throws.
namespace AtomicFile {

// An owned file descriptor, closed when it goes.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd)
        : m_fd(fd)
    { }
    ~Descriptor();
    Descriptor(Descriptor &&other) noexcept
        : m_fd(other.release())
    { }
    Descriptor &operator=(Descriptor &&other) noexcept;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release();

private:
    int m_fd = -1;
};

// Whether a symbolic link in the last place of a path is followed. The app's own folders never are:
// a link there would let another place's files be changed, tightened or deleted as the app's own.
enum class Link {
    follow,
    refuse, // ELOOP (or ENOTDIR) for a link
};

// Opens a folder for the calls below (ENOENT, ENOTDIR, EACCES...).
Descriptor openDirectory(const QString &path, int *error, Link link = Link::follow);
// Opens the folder `name` inside an open folder, never through a link.
Descriptor openDirectory(int directoryFd, const QByteArray &name, int *error);

// Creates the folder and its missing parents with `mode`, as far as the umask allows; folders that
// exist are left as they are.
int makeDirectories(const QString &path, mode_t mode);

// Creates the folder and its missing parents with mode 0700 and opens it. The folder itself may not
// be a link; one owned by this user is tightened to 0700; one that is not a folder gives ENOTDIR.
Descriptor openPrivateDirectory(const QString &path, int *error);
// The same for the folder `name` inside an open folder.
Descriptor openPrivateDirectory(int directoryFd, const QByteArray &name, int *error);
// openPrivateDirectory without keeping the folder open.
int makePrivateDirectory(const QString &path);

// Writes data under name, replacing what has that name: a temporary file with the final mode, fsync,
// rename over the name, fsync of the folder.
int writeReplacing(int directoryFd, const QByteArray &name, const QByteArray &data, mode_t mode);

// How a new file is staged before it gets its name. `automatic` uses an unnamed file (O_TMPFILE) and
// falls back to a hidden temporary file, and then to an exclusive create, as the file system allows.
enum class Method {
    automatic,
    namedTemporary,
    exclusiveCreate,
};

// A complete, synced file waiting for a name that nothing else has.
class NewFile
{
public:
    NewFile(int directoryFd, QByteArray data, mode_t mode, Method method = Method::automatic);
    ~NewFile();
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    // Gives the file the name unless something already has it: 0, EEXIST, or another errno.
    // Never replaces an existing file, even one that appears while this runs.
    int publish(const QByteArray &name);

private:
    int stage();
    int stageUnnamed();
    int stageNamed();
    int publishUnnamed(const QByteArray &name);
    int publishNamed(const QByteArray &name);
    int publishExclusive(const QByteArray &name);
    void discard();

    int m_directoryFd;
    QByteArray m_data;
    mode_t m_mode;
    Method m_method;
    Descriptor m_file;
    QByteArray m_temporaryName;
    bool m_staged = false;
    int m_stageError = 0;
};

// Reads a whole regular file, never through a link and never waiting on a FIFO or a device: ENOENT
// when absent, EFBIG when it holds more than maxBytes, EINVAL when it is not a regular file, ELOOP for
// a link. A file that grants more than allowedMode is narrowed to it first (EPERM when it is not this
// user's).
int readFile(
    int directoryFd, const QByteArray &name, qint64 maxBytes, QByteArray *data, mode_t allowedMode = 07777);

// Names of the temporary files the functions above stage data in.
bool isTemporaryName(const QByteArray &name);
// Removes the temporary files (regular files only) in the folder that were last changed more than
// minimumAgeSeconds ago: what a process killed while writing left behind.
void removeStaleTemporaries(int directoryFd, qint64 minimumAgeSeconds);

} // namespace AtomicFile
