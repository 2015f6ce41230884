#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

class DraftKeyStoreError : public std::exception
{
public:
    enum class Code {
        wrongLength, // the key file does not hold exactly 32 bytes
        unavailable, // the folder or the file cannot be made or read, or is not a folder or file
    };

    DraftKeyStoreError(Code code, int systemError) noexcept
        : m_code(code)
        , m_systemError(systemError)
    { }
    Code code() const noexcept { return m_code; }
    // The errno behind `unavailable`, else 0.
    int systemError() const noexcept { return m_systemError; }
    // For diagnostics only; never includes key material.
    const char *what() const noexcept override;

private:
    Code m_code;
    int m_systemError;
};

// The 256-bit key that seals drafts, kept in "draft-key.aes" (0600) in a 0700 folder.
namespace DraftKeyStore {

inline constexpr char fileName[] = "draft-key.aes";
inline constexpr int keyLength = 32;

// Reads the key, or creates the folder and a random key when there is none. A key file that others may
// read is narrowed to 0600 first; a FIFO, device or link in its place is unavailable. The key file appears
// complete or not at all: it is written and synced under no name and then linked into place, so a
// crash cannot leave a short key, and two processes starting at once end up with the same key.
QByteArray loadOrCreate(const QString &folder);

} // namespace DraftKeyStore
