#pragma once

#include "Documents/AtomicFile.h"
#include "Documents/CaptureDraft.h"
#include "Documents/EncryptedDraftError.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <exception>
#include <optional>

// The one active draft and its scrolling tiles, sealed with AES-256-GCM under the draft key:
// "active-draft.sealed" and "active-draft-tiles/tile-%04d.sealed" in the store folder. A sealed file is
// a random 12-byte nonce, the ciphertext and the 16-byte tag; the associated data names the file's role
// (the draft, or tile n of draft d), so a file moved into another role does not open. Folders are 0700
// and files 0600 from the moment they exist; every write is atomic. No link inside the store is
// followed: a store folder or tile folder that is a link is refused, and only regular files under the
// store's own names are ever removed. Making a store removes the temporary files of saves that a
// crash cut short.
//
// Failures of the file system itself throw std::system_error (no user-facing text either), ELOOP for a
// store or tile folder that is a link.
class EncryptedDraftStore
{
public:
    static constexpr char draftFileName[] = "active-draft.sealed";
    static constexpr char tileDirectoryName[] = "active-draft-tiles";

    // Makes the folder (0700). The key must be 32 bytes (std::invalid_argument otherwise).
    EncryptedDraftStore(const QString &directory, const QByteArray &key);

    QString directory() const { return m_directory; }
    QString draftFilePath() const;
    QString tileDirectoryPath() const;
    QString tileFilePath(int index) const;

    // None when no draft is stored; corrupt when the file is short, not authentic or not a draft;
    // newerVersion when a later version of the program wrote it (the file is not touched).
    std::optional<CaptureDraft> load() const;
    // imageTooLarge for an oversized image; replaces the stored draft atomically.
    void save(const CaptureDraft &draft) const;
    // Removes the draft file, then the tile folder; deleteFailed when either remains (a link or anything
    // the store did not write there stays).
    void deleteDraft() const;
    // Moves the stored draft and its tile folder out of the way of the next draft, under the first
    // names "active-draft.newer-<n>.sealed" and "active-draft-tiles.newer-<n>" that are both free, and
    // makes the file 0600. For a draft a newer version wrote: it is kept where that version can find
    // it. Answers the file's new path; empty when no draft is stored.
    QString setDraftAside() const;
    // Where setDraftAside would move the draft now; never throws.
    QString draftAsidePath() const;

    // Seals and stores tile `index` of the draft; answers the sealed size in bytes. tileTooLarge above
    // CaptureDraft::maximumPNGBytes; missing for a negative index.
    qint64 saveTilePNG(const QUuid &draftID, int index, const QByteArray &png) const;
    // missing for a negative index or an absent tile; corrupt when the file does not open (a link, a
    // FIFO, a tile folder that is a link).
    QByteArray loadTilePNG(const QUuid &draftID, int index) const;

    // True unless the last saved id is present and equal to the draft's.
    static bool shouldResume(const QUuid &draftID, const std::optional<QUuid> &lastSavedID);

private:
    AtomicFile::Descriptor openStoreDirectory() const;

    QString m_directory;
    QByteArray m_key;
};
