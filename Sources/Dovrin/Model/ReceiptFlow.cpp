#include "Model/ReceiptFlow.h"

#include "Documents/TrashReconciliation.h"
#include "Model/AppModel.h"
#include "Model/CaptureReviewFlow.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Model/RecentAvailabilityCache.h"
#include "Model/RegionCaptureFlow.h"
#include "Model/ReviewSession.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent>

namespace {

const QString cannotTrashText = QStringLiteral("The file could not be moved to Trash");

} // namespace

ReceiptFlow::ReceiptFlow(
    ModelContext &context, RegionCaptureFlow &regionCapture, CaptureReviewFlow &review, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_regionCapture(regionCapture)
    , m_review(review)
{ }

void ReceiptFlow::endScope(const ScopedRecentFile &file)
{
    if (file.scoped && file.stopAccessing)
        file.stopAccessing(file.url);
}

std::optional<ScopedRecentFile> ReceiptFlow::scopedRecentFile(const std::optional<QUuid> &recentID,
    const std::optional<QByteArray> &bookmark, const std::optional<QUrl> &fallbackURL, bool requireExists,
    bool refreshBookmark)
{
    const RecentBookmarkService &bookmarks = m_context.services().recentBookmarks;
    const auto entryOf = [](auto &recent, const QUuid &id) {
        return std::find_if(
            recent.begin(), recent.end(), [&id](const RecentCaptureRef &e) { return e.id == id; });
    };
    std::optional<QByteArray> data;
    if (recentID) {
        const QList<RecentCaptureRef> &recent = m_context.settings().recent;
        const auto entry = entryOf(recent, *recentID);
        if (entry != recent.end())
            data = entry->bookmarkData;
    }
    if (!data)
        data = bookmark;

    QUrl url;
    bool stale = false;
    if (data) {
        try {
            const RecentBookmarkResolution resolution = bookmarks.resolve(*data);
            url = resolution.url;
            stale = resolution.isStale;
        } catch (const std::exception &) {
            return std::nullopt;
        }
    } else if (fallbackURL) {
        url = *fallbackURL;
    } else {
        return std::nullopt;
    }
    const ScopedRecentFile file { url, bookmarks.startAccessing(url), bookmarks.stopAccessing };
    if (requireExists && !bookmarks.fileExists(url)) {
        endScope(file);
        return std::nullopt;
    }
    if (refreshBookmark && stale && recentID) {
        try {
            const QByteArray renewed = bookmarks.makeBookmark(url);
            AppSettings settings = m_context.settings();
            const auto entry = entryOf(settings.recent, *recentID);
            if (entry != settings.recent.end() && entry->bookmarkData != renewed) {
                entry->bookmarkData = renewed;
                m_context.setSettings(settings);
                m_context.persistSettings();
            }
        } catch (const std::exception &) {
            // The old bookmark still reaches the file by its path.
        }
    }
    return file;
}

void ReceiptFlow::returnToIdle()
{
    if (m_context.phase() == CapturePhase::saved
        && CapturePhaseTransition::allows(CapturePhase::saved, CapturePhase::idle))
        m_context.setPhase(CapturePhase::idle);
}

void ReceiptFlow::forgetRecent(const QUuid &id)
{
    AppSettings settings = m_context.settings();
    settings.removeRecent(id);
    m_context.recentAvailability().remove(id);
    m_context.setSettings(settings);
    m_context.persistSettings();
}

void ReceiptFlow::revealReceipt()
{
    const std::optional<SavedReceipt> &receipt = m_context.receipt();
    if (!receipt)
        return;
    const std::optional<ScopedRecentFile> file
        = scopedRecentFile(receipt->id, receipt->fileBookmarkData, receipt->url, true, true);
    if (!file) {
        m_context.setStatusMessage(QStringLiteral("File is missing"));
        return;
    }
    reveal(file->url);
    endScope(*file);
}

void ReceiptFlow::reveal(const QUrl &file)
{
    const QPointer<ReceiptFlow> self(this);
    const QFileInfo info(file.toLocalFile());
    m_context.services().revealFile(file, [self, name = info.fileName(), folder = info.absolutePath()] {
        if (self)
            self->reportFailure(QStringLiteral("Couldn't show the file"),
                QStringLiteral("No file manager showed “%1”. It is in %2.").arg(name, folder));
    });
}

void ReceiptFlow::reportFailure(const QString &title, const QString &message)
{
    m_context.setStatusMessage(title);
    if (const auto &present = m_context.services().presentAlert)
        present(title, message);
}

void ReceiptFlow::dismissReceipt()
{
    m_context.setReceipt(std::nullopt);
    returnToIdle();
}

Task<> ReceiptFlow::captureAnother()
{
    const bool audio = m_context.receipt() && m_context.receipt()->kind == SavedReceipt::Kind::audio;
    m_context.setReceipt(std::nullopt);
    returnToIdle();
    if (!audio) {
        Task<> next = m_regionCapture.startCapture();
        co_await next;
        co_return;
    }
    // An earlier session's review comes back rather than be saved unseen by the next recording. A
    // session still being transcribed goes on beside the new recording (the record command would
    // read it as a stop, with nothing to stop).
    if (m_context.audioReview()) {
        m_context.requestWindow(QStringLiteral("audio-review"));
        co_return;
    }
    Task<> next = m_context.model().startAudioRecording();
    co_await next;
}

Task<> ReceiptFlow::moveReceiptToTrash()
{
    // One body up to the move: a second request sees the move under way.
    if (!m_context.receipt() || m_context.model().isMovingReceiptToTrash())
        co_return;
    SavedReceipt receipt = *m_context.receipt();
    const std::optional<ScopedRecentFile> file
        = scopedRecentFile(receipt.id, receipt.fileBookmarkData, receipt.url, false, true);
    if (!file) {
        m_context.setStatusMessage(cannotTrashText);
        co_return;
    }
    const RecentBookmarkService &bookmarks = m_context.services().recentBookmarks;
    const QUrl url = file->url;
    const bool markdownExists = bookmarks.fileExists(url);
    QList<QUrl> targets;
    if (markdownExists)
        targets << url;
    const QString folder = QFileInfo(url.toLocalFile()).path();
    for (const QString &name : std::as_const(receipt.companionFilenames)) {
        const QUrl companion = QUrl::fromLocalFile(folder + QLatin1Char('/') + name);
        if (bookmarks.fileExists(companion))
            targets << companion;
    }
    if (targets.isEmpty()) {
        if (!file->scoped) {
            m_context.setStatusMessage(cannotTrashText);
            co_return;
        }
        endScope(*file);
        forgetRecent(receipt.id);
        m_context.setReceipt(std::nullopt);
        returnToIdle();
        m_context.setStatusMessage(QStringLiteral("The file was already removed"));
        co_return;
    }

    m_context.setMovingReceiptToTrash(true);
    QFuture<QList<QUrl>> moving = QtConcurrent::run(m_context.services().moveToTrash, targets);
    QList<QUrl> moved = co_await moving;
    endScope(*file);
    m_context.setMovingReceiptToTrash(false);
    // A note deleted outside the program is gone as surely as one moved now.
    if (!markdownExists)
        moved << url;
    const TrashReconciliation::Outcome outcome
        = TrashReconciliation::outcome(url, receipt.companionFilenames, moved);
    if (outcome.markdownMoved) {
        forgetRecent(receipt.id);
        m_context.setReceipt(std::nullopt);
        returnToIdle();
    } else if (outcome.remainingCompanions != receipt.companionFilenames) {
        receipt.companionFilenames = outcome.remainingCompanions;
        m_context.setReceipt(receipt);
    }
    m_context.setStatusMessage(TrashReconciliation::statusMessage(outcome.status));
}

bool ReceiptFlow::recentIsMissing(const RecentCaptureRef &entry)
{
    std::optional<QByteArray> current = entry.bookmarkData;
    for (const RecentCaptureRef &stored : m_context.settings().recent) {
        if (stored.id == entry.id && stored.bookmarkData) {
            current = stored.bookmarkData;
            break;
        }
    }
    RecentAvailabilityCache &cache = m_context.recentAvailability();
    const QDateTime now = m_context.services().now();
    if (const std::optional<RecentAvailabilityCache::Entry> known = cache.entry(entry.id)) {
        const qint64 age = known->checkedAt.msecsTo(now);
        if (known->bookmarkData == current && age >= 0 && age < 1000)
            return known->isMissing;
    }
    const std::optional<ScopedRecentFile> file
        = scopedRecentFile(entry.id, entry.bookmarkData, std::nullopt, true, false);
    if (file)
        endScope(*file);
    cache.store(entry.id, { current, !file, now });
    return !file;
}

void ReceiptFlow::openRecent(const RecentCaptureRef &entry)
{
    const std::optional<ScopedRecentFile> file
        = scopedRecentFile(entry.id, entry.bookmarkData, std::nullopt, true, true);
    if (!file) {
        m_context.setStatusMessage(QStringLiteral("That file is missing"));
        return;
    }
    const bool opened = m_context.services().openURL(file->url);
    endScope(*file);
    if (!opened)
        reportFailure(QStringLiteral("Couldn't open the file"),
            QStringLiteral("No application opened “%1”. Choose a default application for Markdown files in "
                           "your desktop's settings, then try again.")
                .arg(QFileInfo(file->url.toLocalFile()).fileName()));
}

void ReceiptFlow::revealRecent(const RecentCaptureRef &entry)
{
    const std::optional<ScopedRecentFile> file
        = scopedRecentFile(entry.id, entry.bookmarkData, std::nullopt, true, true);
    if (!file) {
        m_context.setStatusMessage(QStringLiteral("Missing file"));
        return;
    }
    reveal(file->url);
    endScope(*file);
}

Task<bool> ReceiptFlow::copyRecent(RecentCaptureRef entry)
{
    const std::optional<ScopedRecentFile> file
        = scopedRecentFile(entry.id, entry.bookmarkData, std::nullopt, true, true);
    if (!file) {
        m_context.setStatusMessage(QStringLiteral("That file is missing"));
        co_return false;
    }
    // Read on a worker: a note in a slow folder must not hold up the main thread.
    QFuture<std::optional<QByteArray>> reading
        = QtConcurrent::run([path = file->url.toLocalFile()]() -> std::optional<QByteArray> {
              QFile note(path);
              if (!note.open(QIODevice::ReadOnly))
                  return std::nullopt;
              const QByteArray bytes = note.readAll();
              if (note.error() != QFileDevice::NoError)
                  return std::nullopt;
              return bytes;
          });
    const std::optional<QByteArray> bytes = co_await reading;
    endScope(*file);
    if (!bytes) {
        m_context.setStatusMessage(QStringLiteral("The Markdown file could not be read"));
        co_return false;
    }
    co_return m_review.copyToPasteboard(QString::fromUtf8(*bytes), QStringLiteral("Copied Markdown"));
}

void ReceiptFlow::removeRecent(const RecentCaptureRef &entry)
{
    forgetRecent(entry.id);
}

void ReceiptFlow::openCaptureFolder()
{
    const AppSettings &settings = m_context.settings();
    const std::optional<FolderAccess> access
        = settings.defaultFolder ? settings.defaultFolder : settings.lastUsedFolder;
    if (!access) {
        m_context.requestWindow(QStringLiteral("preferences"));
        m_context.setStatusMessage(QStringLiteral("Choose a capture folder"));
        return;
    }
    const QString unavailable = QStringLiteral("The capture folder is unavailable. Choose a new folder.");
    ResolvedFolder resolved;
    try {
        resolved = FolderBookmark::resolve(*access);
    } catch (const FolderBookmarkError &error) {
        m_context.setStatusMessage(error.code() == FolderBookmarkError::Code::becameLink
                ? QStringLiteral(
                    "The capture folder was replaced by a link to another place. Choose it again.")
                : unavailable);
        m_context.requestWindow(QStringLiteral("preferences"));
        return;
    }
    // Renewed in the setting that held it: a last-used folder does not become the default.
    if (resolved.refreshed)
        m_context.adoptRefreshedFolder(*access, *resolved.refreshed);
    if (!FolderBookmark::startAccessing(resolved.url)) {
        m_context.setStatusMessage(unavailable);
        m_context.requestWindow(QStringLiteral("preferences"));
        return;
    }
    const bool opened = m_context.services().openURL(resolved.url);
    FolderBookmark::stopAccessing(resolved.url);
    if (!opened)
        reportFailure(QStringLiteral("Couldn't open the capture folder"),
            QStringLiteral("No file manager opened %1.").arg(resolved.url.toLocalFile()));
}

Task<> ReceiptFlow::chooseDefaultFolder(QPointer<QWidget> parent)
{
    const FolderPicker::Present &present = m_context.services().folderPicker.present;
    if (!present)
        co_return;
    const AppSettings &current = m_context.settings();
    std::optional<QString> start;
    if (current.defaultFolder)
        start = current.defaultFolder->displayPath;
    Task<std::optional<QString>> choosing = present(parent, start, QStringLiteral("Use This Folder"),
        QStringLiteral("Choose a folder for Markdown captures. Files stay on this computer."));
    const std::optional<QString> chosen = co_await choosing;
    if (!chosen)
        co_return;
    FolderAccess access;
    try {
        access = FolderBookmark::make(QUrl::fromLocalFile(*chosen));
    } catch (const FolderBookmarkError &) {
        m_context.setStatusMessage(QStringLiteral("That folder could not be remembered"));
        co_return;
    }
    AppSettings settings = m_context.settings();
    settings.defaultFolder = access;
    settings.lastUsedFolder = access;
    m_context.setSettings(settings);
    m_context.persistSettings();
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    if (session && !session->destinationFolder())
        session->setDestinationDisplayPath(access.displayPath);
    m_context.setStatusMessage(QStringLiteral("Capture folder saved"));
    if (m_context.phase() == CapturePhase::destinationUnavailable
        && CapturePhaseTransition::allows(CapturePhase::destinationUnavailable, CapturePhase::review))
        m_context.setPhase(CapturePhase::review);
}
