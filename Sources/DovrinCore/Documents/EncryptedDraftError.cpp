#include "Documents/EncryptedDraftError.h"

const char *EncryptedDraftError::what() const noexcept
{
    switch (m_code) {
    case Code::missing:
        return "encrypted draft: missing";
    case Code::corrupt:
        return "encrypted draft: corrupt";
    case Code::imageTooLarge:
        return "encrypted draft: image too large";
    case Code::tileTooLarge:
        return "encrypted draft: tile too large";
    case Code::deleteFailed:
        return "encrypted draft: delete failed";
    case Code::newerVersion:
        return "encrypted draft: written by a newer version";
    }
    return "encrypted draft";
}
