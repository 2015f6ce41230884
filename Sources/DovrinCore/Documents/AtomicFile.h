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

// Opens a folder for the calls below (ENOENT, ENOTDIR, EACCES...).
Descriptor openDirectory(const QString &path, int *error);

// Creates the folder and its missing parents with mode 0700. An existing final folder owned by this
// user is tightened to 0700; one that is not a folder gives ENOTDIR.
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

// Reads a whole regular file: ENOENT when absent, EFBIG when it holds more than maxBytes, EINVAL when
// it is not a regular file.
int readFile(int directoryFd, const QByteArray &name, qint64 maxBytes, QByteArray *data);

} // namespace AtomicFile
