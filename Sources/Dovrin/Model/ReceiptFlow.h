#pragma once

#include "Async/Task.h"
#include "Documents/AppSettingsStore.h"
#include "Documents/RecentBookmarkService.h"
#include "Model/SavedReceipt.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <optional>

class CaptureReviewFlow;
class ModelContext;
class RegionCaptureFlow;

// What happens to saved files: the receipt of the last save (show it in its folder, move it and its
// audio files to the Trash, dismiss it, capture or record another), the recent-captures list (is the
// file still there, open, show, copy, remove) and the capture folder (open it, choose another).
// Every saved file is reached through scopedRecentFile.
class ReceiptFlow : public QObject
{
    Q_OBJECT

public:
    ReceiptFlow(ModelContext &context, RegionCaptureFlow &regionCapture, CaptureReviewFlow &review,
        QObject *parent = nullptr);

    void revealReceipt();
    Task<> moveReceiptToTrash();
    Task<> captureAnother();
    void dismissReceipt();

    bool recentIsMissing(const RecentCaptureRef &entry);
    void openRecent(const RecentCaptureRef &entry);
    void revealRecent(const RecentCaptureRef &entry);
    // Answers whether the Markdown reached the clipboard.
    Task<bool> copyRecent(RecentCaptureRef entry);
    void removeRecent(const RecentCaptureRef &entry);

    void openCaptureFolder();
    // Asks for the capture folder over `parent`, the window that asked.
    Task<> chooseDefaultFolder(QPointer<QWidget> parent);

    // The saved file through its stored bookmark (the recent entry's first, else `bookmark`), else
    // `fallbackURL` when there is no bookmark at all; none when it cannot be reached, or is gone while
    // `requireExists`. With `refreshBookmark` a stale bookmark of the entry is renewed and saved.
    std::optional<ScopedRecentFile> scopedRecentFile(const std::optional<QUuid> &recentID,
        const std::optional<QByteArray> &bookmark, const std::optional<QUrl> &fallbackURL, bool requireExists,
        bool refreshBookmark);

private:
    void returnToIdle();
    // Shows the file in the file manager, or says that nothing did.
    void reveal(const QUrl &file);
    // A launcher or file manager did not answer: the status says it, and an alert says what to do.
    void reportFailure(const QString &title, const QString &message);
    void forgetRecent(const QUuid &id);
    static void endScope(const ScopedRecentFile &file);

    ModelContext &m_context;
    RegionCaptureFlow &m_regionCapture;
    CaptureReviewFlow &m_review;
};
