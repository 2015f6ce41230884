#include "SealedDraftFiles.h"

#include <openssl/evp.h>

namespace SealedDraftFiles {

QByteArray draftRole()
{
    return "com.quorvel.dovrin/draft/v1/active-draft";
}

QByteArray tileRole(const QUuid &draft, int index)
{
    return "com.quorvel.dovrin/draft/v1/tile/" + draft.toByteArray(QUuid::WithoutBraces) + '/'
        + QByteArray::number(index);
}

QByteArray seal(const QByteArray &key, const QByteArray &role, const QByteArray &plaintext)
{
    const auto u
        = [](const QByteArray &bytes) { return reinterpret_cast<const unsigned char *>(bytes.constData()); };
    const QByteArray nonce(12, '\x5a');
    QByteArray ciphertext(plaintext.size(), '\0'), tag(16, '\0');
    auto *out = reinterpret_cast<unsigned char *>(ciphertext.data());
    int length = 0;
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr, u(key), u(nonce));
    EVP_EncryptUpdate(context, nullptr, &length, u(role), int(role.size()));
    EVP_EncryptUpdate(context, out, &length, u(plaintext), int(plaintext.size()));
    EVP_EncryptFinal_ex(context, out + length, &length);
    EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, 16, tag.data());
    EVP_CIPHER_CTX_free(context);
    return nonce + ciphertext + tag;
}

} // namespace SealedDraftFiles
