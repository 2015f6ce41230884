#pragma once

#include <exception>

// Why the draft store refused. No case has a user-facing text.
class EncryptedDraftError : public std::exception
{
public:
    enum class Code {
        missing, // no store, a negative tile index or an absent tile
        corrupt, // too short, not authentic under this key and role, or not a draft
        imageTooLarge, // a draft image above CaptureDraft::maximumPNGBytes
        tileTooLarge, // a tile above CaptureDraft::maximumPNGBytes
        deleteFailed, // the draft file or its tile folder is still there
        newerVersion, // a later version of the program wrote the draft; it is left as it is
    };

    explicit EncryptedDraftError(Code code) noexcept
        : m_code(code)
    { }
    Code code() const noexcept { return m_code; }
    // For diagnostics only.
    const char *what() const noexcept override;

private:
    Code m_code;
};
