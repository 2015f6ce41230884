#include "Documents/EncryptedDraft.h"

#include "Documents/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QRegularExpression>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr int keyLength = 32;
constexpr int nonceLength = 12;
constexpr int tagLength = 16;
constexpr qsizetype sealOverhead = nonceLength + tagLength;
// A draft is its image in base64 plus text; anything far beyond that is not ours.
constexpr qint64 maximumSealedDraftBytes = 128 * 1024 * 1024;
constexpr qint64 maximumSealedTileBytes = CaptureDraft::maximumPNGBytes + sealOverhead;
constexpr mode_t privateFileMode = 0600;
// EVP takes int lengths.
constexpr qsizetype cipherChunk = 1 << 30;

QByteArray draftRole()
{
    return QByteArrayLiteral("com.quorvel.dovrin/draft/v1/active-draft");
}

QByteArray tileRole(const QUuid &draftID, int index)
{
    return QByteArrayLiteral("com.quorvel.dovrin/draft/v1/tile/") + draftID.toByteArray(QUuid::WithoutBraces)
        + '/' + QByteArray::number(index);
}

struct CipherContext
{
    CipherContext()
        : context(EVP_CIPHER_CTX_new())
    { }
    ~CipherContext() { EVP_CIPHER_CTX_free(context); }
    CipherContext(const CipherContext &) = delete;
    CipherContext &operator=(const CipherContext &) = delete;
    EVP_CIPHER_CTX *context;
};

const unsigned char *bytes(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

unsigned char *bytes(QByteArray &data)
{
    return reinterpret_cast<unsigned char *>(data.data());
}

bool update(
    EVP_CIPHER_CTX *context, bool encrypt, const unsigned char *in, qsizetype length, unsigned char *out)
{
    for (qsizetype done = 0; done < length;) {
        const int chunk = int(std::min(length - done, cipherChunk));
        int written = 0;
        const int ok = encrypt ? EVP_EncryptUpdate(context, out + done, &written, in + done, chunk)
                               : EVP_DecryptUpdate(context, out + done, &written, in + done, chunk);
        if (ok != 1 || written != chunk)
            return false;
        done += chunk;
    }
    return true;
}

// nonce | ciphertext | tag, with the role as associated data.
QByteArray seal(const QByteArray &plaintext, const QByteArray &key, const QByteArray &role)
{
    QByteArray sealed(sealOverhead + plaintext.size(), Qt::Uninitialized);
    unsigned char *nonce = bytes(sealed);
    unsigned char *ciphertext = nonce + nonceLength;
    unsigned char *tag = ciphertext + plaintext.size();
    CipherContext cipher;
    int length = 0;
    const bool ok = cipher.context && RAND_bytes(nonce, nonceLength) == 1
        && EVP_EncryptInit_ex(cipher.context, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(cipher.context, EVP_CTRL_GCM_SET_IVLEN, nonceLength, nullptr) == 1
        && EVP_EncryptInit_ex(cipher.context, nullptr, nullptr, bytes(key), nonce) == 1
        && EVP_EncryptUpdate(cipher.context, nullptr, &length, bytes(role), int(role.size())) == 1
        && update(cipher.context, true, bytes(plaintext), plaintext.size(), ciphertext)
        && EVP_EncryptFinal_ex(cipher.context, tag, &length) == 1 && length == 0
        && EVP_CIPHER_CTX_ctrl(cipher.context, EVP_CTRL_GCM_GET_TAG, tagLength, tag) == 1;
    if (!ok)
        throw std::runtime_error("encrypted draft: sealing failed");
    return sealed;
}

// Decrypts in place, so a large draft is not held twice.
std::optional<QByteArray> open(QByteArray sealed, const QByteArray &key, const QByteArray &role)
{
    if (sealed.size() < sealOverhead)
        return std::nullopt;
    const qsizetype plaintextLength = sealed.size() - sealOverhead;
    const QByteArray nonce = sealed.left(nonceLength);
    QByteArray tag = sealed.right(tagLength);
    unsigned char *text = bytes(sealed) + nonceLength;
    CipherContext cipher;
    int length = 0;
    const bool ok = cipher.context
        && EVP_DecryptInit_ex(cipher.context, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(cipher.context, EVP_CTRL_GCM_SET_IVLEN, nonceLength, nullptr) == 1
        && EVP_DecryptInit_ex(cipher.context, nullptr, nullptr, bytes(key), bytes(nonce)) == 1
        && EVP_DecryptUpdate(cipher.context, nullptr, &length, bytes(role), int(role.size())) == 1
        && update(cipher.context, false, text, plaintextLength, text)
        && EVP_CIPHER_CTX_ctrl(cipher.context, EVP_CTRL_GCM_SET_TAG, tagLength, bytes(tag)) == 1
        && EVP_DecryptFinal_ex(cipher.context, text + plaintextLength, &length) == 1;
    if (!ok)
        return std::nullopt;
    sealed.truncate(nonceLength + plaintextLength);
    sealed.remove(0, nonceLength);
    return sealed;
}

[[noreturn]] void throwSystemError(int error, const char *what)
{
    throw std::system_error(error, std::generic_category(), what);
}

QByteArray tileFileName(int index)
{
    return QByteArray("tile-") + QByteArray::number(index).rightJustified(4, '0') + ".sealed";
}

// A crashed save leaves its temporary file behind; one this old belongs to no running write.
constexpr qint64 staleTemporarySeconds = 60;

bool isTileFileName(const QByteArray &name)
{
    static const QRegularExpression pattern(QStringLiteral("^tile-[0-9]{4,10}\\.sealed$"));
    return pattern.match(QLatin1String(name)).hasMatch();
}

bool isRegularFile(int directoryFd, const char *name)
{
    struct stat info
    {
    };
    return ::fstatat(directoryFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

// Unlinks the regular file, never what a link points to. False when something remains under the name.
bool removeRegularFile(int directoryFd, const char *name)
{
    if (isRegularFile(directoryFd, name) && ::unlinkat(directoryFd, name, 0) == 0)
        return true;
    struct stat info
    {
    };
    return ::fstatat(directoryFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// The tiles and temporary files the store wrote, then the folder; anything else keeps it there.
void removeOwnFiles(int directoryFd)
{
    const int own = ::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0);
    DIR *listing = own >= 0 ? ::fdopendir(own) : nullptr;
    if (!listing) {
        if (own >= 0)
            ::close(own);
        return;
    }
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (isTileFileName(name) || AtomicFile::isTemporaryName(name))
            names.append(name);
    }
    ::closedir(listing);
    for (const QByteArray &name : names)
        removeRegularFile(directoryFd, name.constData());
}

QByteArray asideDraftName(int number)
{
    return QByteArray("active-draft.newer-") + QByteArray::number(number) + ".sealed";
}

QByteArray asideTileDirectoryName(int number)
{
    return QByteArray(EncryptedDraftStore::tileDirectoryName) + ".newer-" + QByteArray::number(number);
}

bool nameTaken(int directoryFd, const QByteArray &name)
{
    struct stat info
    {
    };
    return ::fstatat(directoryFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

// The first number whose draft and tile folder names are both free, from `number` on.
int freeAsideNumber(int directoryFd, int number)
{
    while (nameTaken(directoryFd, asideDraftName(number))
        || nameTaken(directoryFd, asideTileDirectoryName(number)))
        ++number;
    return number;
}

} // namespace

EncryptedDraftStore::EncryptedDraftStore(const QString &directory, const QByteArray &key)
    : m_directory(QDir::cleanPath(directory))
    , m_key(key)
{
    if (m_key.size() != keyLength)
        throw std::invalid_argument("encrypted draft: the key must be 32 bytes");
    const AtomicFile::Descriptor store = openStoreDirectory();
    AtomicFile::removeStaleTemporaries(store.get(), staleTemporarySeconds);
    int error = 0;
    const AtomicFile::Descriptor tiles = AtomicFile::openDirectory(store.get(), tileDirectoryName, &error);
    if (tiles.isValid())
        AtomicFile::removeStaleTemporaries(tiles.get(), staleTemporarySeconds);
}

AtomicFile::Descriptor EncryptedDraftStore::openStoreDirectory() const
{
    int error = 0;
    AtomicFile::Descriptor directory = AtomicFile::openPrivateDirectory(m_directory, &error);
    if (error != 0)
        throwSystemError(error, "encrypted draft: store folder");
    return directory;
}

QString EncryptedDraftStore::draftFilePath() const
{
    return m_directory + QLatin1Char('/') + QLatin1String(draftFileName);
}

QString EncryptedDraftStore::tileDirectoryPath() const
{
    return m_directory + QLatin1Char('/') + QLatin1String(tileDirectoryName);
}

QString EncryptedDraftStore::tileFilePath(int index) const
{
    return tileDirectoryPath() + QLatin1Char('/') + QString::fromLatin1(tileFileName(index));
}

std::optional<CaptureDraft> EncryptedDraftStore::load() const
{
    int error = 0;
    const AtomicFile::Descriptor directory
        = AtomicFile::openDirectory(m_directory, &error, AtomicFile::Link::refuse);
    if (error == ENOENT)
        return std::nullopt;
    if (error != 0)
        throwSystemError(error, "encrypted draft: store folder");
    QByteArray sealed;
    error = AtomicFile::readFile(directory.get(), draftFileName, maximumSealedDraftBytes, &sealed);
    if (error == ENOENT)
        return std::nullopt;
    if (error == EFBIG || error == EINVAL || error == ELOOP)
        throw EncryptedDraftError(EncryptedDraftError::Code::corrupt);
    if (error != 0)
        throwSystemError(error, "encrypted draft: reading the draft");
    const auto plaintext = open(std::move(sealed), m_key, draftRole());
    if (!plaintext)
        throw EncryptedDraftError(EncryptedDraftError::Code::corrupt);
    bool newer = false;
    auto draft = CaptureDraft::decodeJson(*plaintext, &newer);
    if (newer)
        throw EncryptedDraftError(EncryptedDraftError::Code::newerVersion);
    if (!draft)
        throw EncryptedDraftError(EncryptedDraftError::Code::corrupt);
    return draft;
}

void EncryptedDraftStore::save(const CaptureDraft &draft) const
{
    if (draft.pngData.size() > CaptureDraft::maximumPNGBytes)
        throw EncryptedDraftError(EncryptedDraftError::Code::imageTooLarge);
    const QByteArray sealed = seal(draft.encodeJson(), m_key, draftRole());
    // The folder may have been removed since the store was made.
    const AtomicFile::Descriptor directory = openStoreDirectory();
    if (const int error = AtomicFile::writeReplacing(directory.get(), draftFileName, sealed, privateFileMode))
        throwSystemError(error, "encrypted draft: writing the draft");
}

void EncryptedDraftStore::deleteDraft() const
{
    int error = 0;
    const AtomicFile::Descriptor directory
        = AtomicFile::openDirectory(m_directory, &error, AtomicFile::Link::refuse);
    if (error == ENOENT)
        return;
    if (error != 0)
        throw EncryptedDraftError(EncryptedDraftError::Code::deleteFailed);
    bool removed = removeRegularFile(directory.get(), draftFileName);
    // A link in the tile folder's place stays, and so does what it points to.
    const AtomicFile::Descriptor tiles
        = AtomicFile::openDirectory(directory.get(), tileDirectoryName, &error);
    if (tiles.isValid()) {
        removeOwnFiles(tiles.get());
        if (::unlinkat(directory.get(), tileDirectoryName, AT_REMOVEDIR) != 0 && errno != ENOENT)
            removed = false;
    } else if (error != ENOENT) {
        removed = false;
    }
    if (!removed)
        throw EncryptedDraftError(EncryptedDraftError::Code::deleteFailed);
}

QString EncryptedDraftStore::draftAsidePath() const
{
    int error = 0;
    const AtomicFile::Descriptor directory
        = AtomicFile::openDirectory(m_directory, &error, AtomicFile::Link::refuse);
    const int number = directory.isValid() ? freeAsideNumber(directory.get(), 1) : 1;
    return m_directory + QLatin1Char('/') + QString::fromLatin1(asideDraftName(number));
}

QString EncryptedDraftStore::setDraftAside() const
{
    const AtomicFile::Descriptor directory = openStoreDirectory();
    const AtomicFile::Descriptor file(
        ::openat(directory.get(), draftFileName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!file.isValid() && errno == ENOENT)
        return QString();
    struct stat info
    {
    };
    if (!file.isValid() || ::fstat(file.get(), &info) != 0)
        throwSystemError(errno, "encrypted draft: setting the draft aside");
    if (!S_ISREG(info.st_mode))
        throwSystemError(EINVAL, "encrypted draft: setting the draft aside");
    if (::fchmod(file.get(), privateFileMode) != 0)
        throwSystemError(errno, "encrypted draft: setting the draft aside");
    int number = freeAsideNumber(directory.get(), 1);
    // Never over another file: a name taken meanwhile moves on to the next number.
    while (::renameat2(directory.get(), draftFileName, directory.get(), asideDraftName(number).constData(),
               RENAME_NOREPLACE)
        != 0) {
        if (errno != EEXIST)
            throwSystemError(errno, "encrypted draft: setting the draft aside");
        number = freeAsideNumber(directory.get(), number + 1);
    }
    // The tiles go with their draft: the next scrolling capture writes tiles under the same names.
    if (::fstatat(directory.get(), tileDirectoryName, &info, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISDIR(info.st_mode)
        && ::renameat2(directory.get(), tileDirectoryName, directory.get(),
               asideTileDirectoryName(number).constData(), RENAME_NOREPLACE)
            != 0) {
        const int error = errno;
        // Both stay in place rather than the tiles alone, in the next draft's way.
        ::renameat2(directory.get(), asideDraftName(number).constData(), directory.get(), draftFileName,
            RENAME_NOREPLACE);
        throwSystemError(error, "encrypted draft: setting the tiles aside");
    }
    if (::fsync(directory.get()) != 0)
        throwSystemError(errno, "encrypted draft: setting the draft aside");
    return m_directory + QLatin1Char('/') + QString::fromLatin1(asideDraftName(number));
}

qint64 EncryptedDraftStore::saveTilePNG(const QUuid &draftID, int index, const QByteArray &png) const
{
    if (index < 0)
        throw EncryptedDraftError(EncryptedDraftError::Code::missing);
    if (png.size() > CaptureDraft::maximumPNGBytes)
        throw EncryptedDraftError(EncryptedDraftError::Code::tileTooLarge);
    const QByteArray sealed = seal(png, m_key, tileRole(draftID, index));
    const AtomicFile::Descriptor store = openStoreDirectory();
    int error = 0;
    const AtomicFile::Descriptor directory
        = AtomicFile::openPrivateDirectory(store.get(), tileDirectoryName, &error);
    if (error != 0)
        throwSystemError(error, "encrypted draft: tile folder");
    if ((error = AtomicFile::writeReplacing(directory.get(), tileFileName(index), sealed, privateFileMode)))
        throwSystemError(error, "encrypted draft: writing a tile");
    return sealed.size();
}

QByteArray EncryptedDraftStore::loadTilePNG(const QUuid &draftID, int index) const
{
    if (index < 0)
        throw EncryptedDraftError(EncryptedDraftError::Code::missing);
    int error = 0;
    const AtomicFile::Descriptor store
        = AtomicFile::openDirectory(m_directory, &error, AtomicFile::Link::refuse);
    AtomicFile::Descriptor directory;
    if (store.isValid())
        directory = AtomicFile::openDirectory(store.get(), tileDirectoryName, &error);
    if (error == ENOENT)
        throw EncryptedDraftError(EncryptedDraftError::Code::missing);
    if (error == ELOOP || error == ENOTDIR)
        throw EncryptedDraftError(EncryptedDraftError::Code::corrupt);
    if (error != 0)
        throwSystemError(error, "encrypted draft: tile folder");
    QByteArray sealed;
    error = AtomicFile::readFile(directory.get(), tileFileName(index), maximumSealedTileBytes, &sealed);
    if (error == ENOENT)
        throw EncryptedDraftError(EncryptedDraftError::Code::missing);
    if (error == EFBIG || error == EINVAL || error == ELOOP)
        throw EncryptedDraftError(EncryptedDraftError::Code::corrupt);
    if (error != 0)
        throwSystemError(error, "encrypted draft: reading a tile");
    auto png = open(std::move(sealed), m_key, tileRole(draftID, index));
    if (!png)
        throw EncryptedDraftError(EncryptedDraftError::Code::corrupt);
    return *png;
}

bool EncryptedDraftStore::shouldResume(const QUuid &draftID, const std::optional<QUuid> &lastSavedID)
{
    return !(lastSavedID && *lastSavedID == draftID);
}
