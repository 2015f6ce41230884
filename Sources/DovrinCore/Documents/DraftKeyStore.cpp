#include "Documents/DraftKeyStore.h"

#include "Documents/AtomicFile.h"

#include <openssl/rand.h>

#include <cerrno>
#include <optional>

const char *DraftKeyStoreError::what() const noexcept
{
    return m_code == Code::wrongLength ? "draft key: the key file has the wrong length"
                                       : "draft key: unavailable";
}

namespace DraftKeyStore {

namespace {

// None when there is no key file yet.
std::optional<QByteArray> readKey(int directoryFd)
{
    QByteArray key;
    // A key others could read is no secret: narrowed to 0600 before it is used.
    const int error = AtomicFile::readFile(directoryFd, fileName, keyLength, &key, 0600);
    if (error == ENOENT)
        return std::nullopt;
    if (error == EFBIG)
        throw DraftKeyStoreError(DraftKeyStoreError::Code::wrongLength, 0);
    if (error != 0)
        throw DraftKeyStoreError(DraftKeyStoreError::Code::unavailable, error);
    if (key.size() != keyLength)
        throw DraftKeyStoreError(DraftKeyStoreError::Code::wrongLength, 0);
    return key;
}

} // namespace

QByteArray loadOrCreate(const QString &folder)
{
    int error = 0;
    const AtomicFile::Descriptor directory = AtomicFile::openPrivateDirectory(folder, &error);
    if (error != 0)
        throw DraftKeyStoreError(DraftKeyStoreError::Code::unavailable, error);
    if (auto key = readKey(directory.get()))
        return *key;

    QByteArray key(keyLength, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(key.data()), keyLength) != 1)
        throw DraftKeyStoreError(DraftKeyStoreError::Code::unavailable, 0);
    AtomicFile::NewFile file(directory.get(), key, 0600);
    error = file.publish(fileName);
    if (error == 0 || error == EEXIST) {
        // Either ours, or another process won the race: both read back the one key on disk.
        if (auto stored = readKey(directory.get()))
            return *stored;
        error = ENOENT;
    }
    throw DraftKeyStoreError(DraftKeyStoreError::Code::unavailable, error);
}

} // namespace DraftKeyStore
