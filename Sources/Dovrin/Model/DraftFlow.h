#pragma once

#include "Async/Task.h"
#include "Async/TaskClock.h"
#include "Documents/CaptureDraft.h"
#include "Documents/EncryptedDraft.h"
#include "Model/ReviewWindowPresenter.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent>

#include <memory>
#include <optional>

class AudioReviewSession;
class ModelContext;
class ReviewSession;

// The model's side of the encrypted draft: the store made on first need, the draft restored at
// start-up and offered for recovery, resumed into the review window, parked when the window closes,
// written with the review's edits (on Escape, close and quit, and after each pause in typing, so a
// crash loses little) and deleted. Every store operation runs on one draft thread, in the order it
// was asked for, so the main thread never seals, opens or syncs a draft and a deletion can never be
// overtaken by a save that was asked for before it.
class DraftFlow : public QObject
{
    Q_OBJECT

public:
    static inline const QString lastSavedDraftIDKey = QStringLiteral("last-saved-draft-id-v1");
    // How long a close or a quit waits for the note of the review to be written.
    static constexpr std::chrono::seconds saveWaitLimit { 10 };
    // How a write of the draft went: none when it was written, else why not, in the user's words
    // (empty when the system said nothing more).
    using WriteFailure = std::optional<QString>;

    DraftFlow(ModelContext &context, QObject *parent = nullptr);
    ~DraftFlow() override;

    // None until the store was made.
    const std::optional<EncryptedDraftStore> &store() const { return m_store; }
    bool isLoadingDraftStore() const;
    // The draft under review or offered for recovery, and its still.
    const std::optional<CaptureDraft> &currentDraft() const { return m_currentDraft; }
    void setCurrentDraft(std::optional<CaptureDraft> draft) { m_currentDraft = std::move(draft); }
    const QImage &currentImage() const { return m_currentImage; }
    void setCurrentImage(QImage image) { m_currentImage = std::move(image); }
    // A deletion of the stored draft was asked for and is not answered yet.
    bool isDeletingDraft() const { return m_deletions > 0; }
    // The review window, made on first use; null when the program has no windows.
    ReviewWindowPresenter *reviewWindow();

    // Makes the store (its key, its folder) in the data folder, restores a stored draft and offers it
    // through the recovery window once setup is complete. Until a call succeeds every call tries
    // again; a call while the store is being made answers the task already running.
    Task<> startDraftStoreIfNeeded();
    Task<> restoreDraftIfNeeded();
    // The stored draft is one a newer version wrote, still in the draft's place.
    bool holdsNewerDraft() const { return m_newerDraftStored && m_store; }
    // Before a capture writes into the draft's place: the newer version's draft is moved aside (as the
    // start-up alert said), never replaced or deleted. False, with the reason in the status, when it
    // could not be moved: the capture must not start then.
    Task<bool> setNewerDraftAside();
    // Deletes the stored draft and its tiles; false (and nothing changed) when that failed.
    Task<bool> clearDraftArtifacts();
    // Writes the open review's edits into the draft; false (shown in the review and the status) when
    // the draft could not be written.
    Task<bool> persistRegionDraft();
    // The review window's close veto: keeps the edits and lets go of the review; false keeps the
    // window open. A save under way is waited for (up to saveWaitLimit): a saved review is gone.
    Task<bool> parkOpenReview();
    Task<> deleteOpenDraft();
    Task<> resumePendingDraft();
    Task<bool> deletePendingDraft();
    // Keeps an audio review that could not be saved in the draft, unless the draft holds another
    // capture (one under review, offered for recovery, or written by a newer version): true when
    // it was written.
    Task<bool> keepAudioReview(std::shared_ptr<AudioReviewSession> session);
    // Keeps a recording that runs in the draft on the same terms, so that the next start offers it
    // should the program end before the recording is saved: true when it was written.
    Task<bool> keepRecording(CaptureDraft draft);
    // The audio review `id` was saved (`saved`) or discarded: its draft is deleted, when the draft
    // still holds it and no capture is about to take its place.
    Task<> releaseAudioDraft(QUuid id, bool saved);
    // Opens the review of `draft` with the current still and shows it in the review window.
    void presentReview(const CaptureDraft &draft, const QString &status);

    // The one thread of every store operation (and of a scrolling capture's tiles).
    QThreadPool &draftThread() { return m_draftThread; }
    // Runs `work(store)` on the draft thread after every operation asked for before it.
    template <typename F> QFuture<std::invoke_result_t<F, const EncryptedDraftStore &>> onDraftThread(F work)
    {
        return QtConcurrent::run(
            &m_draftThread, [store = *m_store, work = std::move(work)] { return work(store); });
    }

    // The clock of the model's own waits.
    TaskClock &clock() const;

private:
    Task<> loadStore();
    // The draft holds no capture of its own (one under review, offered for recovery, or a newer
    // version's): an audio session may be kept there.
    bool canKeepAudio() const;
    Task<bool> keepAudioDraft(CaptureDraft draft);
    Task<bool> moveNewerDraftAside();
    // (Re)starts the wait for a pause in the typing of `session`.
    void scheduleEditWrite(const std::shared_ptr<ReviewSession> &session);
    void writeEditsAfterPause(const std::weak_ptr<ReviewSession> &session);
    // Copies the review's edits into the current draft (the review's own) and queues its write.
    QFuture<WriteFailure> queueEditWrite(const ReviewSession &session);
    Task<> reportEditWrite(
        QFuture<WriteFailure> writing, std::weak_ptr<ReviewSession> session, quint64 write);
    // Says in the review and the status that the edits are not in the draft, or takes that back.
    void showEditWrite(ReviewSession &session, const WriteFailure &failure);

    ModelContext &m_context;
    QThreadPool m_draftThread;
    std::optional<EncryptedDraftStore> m_store;
    Task<> m_storeLoad;
    std::optional<CaptureDraft> m_currentDraft;
    QImage m_currentImage;
    int m_resumeGeneration = 0;
    // The stored draft is a newer version's, until it is set aside.
    bool m_newerDraftStored = false;
    Task<bool> m_settingAside;
    std::unique_ptr<TaskClock::Timer> m_editWrite;
    // Raised by every queued write of edits: only the newest one's outcome is shown.
    quint64 m_editWrites = 0;
    // Deletions queued on the draft thread and not answered yet.
    int m_deletions = 0;
    // What the review and the status said before a failed write of the edits replaced it.
    struct StatusBeforeFailure
    {
        QUuid review;
        QString reviewStatus;
        QString modelStatus;
        // What the failure said, as it was last said.
        QString failureText;
    };
    std::optional<StatusBeforeFailure> m_statusBeforeFailure;
    std::unique_ptr<ReviewWindowPresenter> m_reviewWindow;
};
