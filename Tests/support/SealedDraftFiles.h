#pragma once

#include <QByteArray>
#include <QUuid>

// The draft store's sealed layout, written independently of the store: nonce (12) | ciphertext | tag
// (16), with the file's role as associated data. For files the store must read as another version, or
// another program, left them.
namespace SealedDraftFiles {

QByteArray draftRole();
QByteArray tileRole(const QUuid &draft, int index);
QByteArray seal(const QByteArray &key, const QByteArray &role, const QByteArray &plaintext);

} // namespace SealedDraftFiles
