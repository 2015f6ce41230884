#include "Model/DraftFlow.h"

#include "Documents/AppSettingsStore.h"
#include "Documents/DefaultsStore.h"
#include "Documents/DraftKeyStore.h"
#include "Documents/ImageNormalization.h"
#include "Documents/WriteFailureReason.h"
#include "Model/AppModel.h"
#include "Model/AudioReviewSession.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Model/ReviewSession.h"
#include "Model/SaveWait.h"
#include "Model/VisualCaptureState.h"
#include "Platform/FreedMemory.h"
#include "Rules/OCRLayout.h"

#include <QDir>
#include <QPointer>
#include <QScopeGuard>

namespace {

// The reason, when the system gave one, says what the user can do about it (free space, a permission).
QString draftNotSavedText(const DraftFlow::WriteFailure &failure)
{
    return WriteFailureReason::sentence(
               QStringLiteral("The encrypted draft could not be saved"), failure.value_or(QString()))
        + QStringLiteral(" Keep Review Capture open and try again.");
}
const QString draftNotDeletedText = QStringLiteral("The encrypted draft could not be deleted. Try again.");
const QString newerDraftText
    = QStringLiteral("An unfinished draft was written by a newer version of Quorvel");
// Long enough that a word typed is one write, short enough that a crash loses only the last words.
constexpr std::chrono::milliseconds editWriteDelay { 1200 };

std::optional<QString> trimmedOrNone(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

// Parameters, not captures: the frame keeps its own copies however long the read takes.
Task<std::optional<QImage>> loadTile(EncryptedDraftStore store, QUuid draftID, int index, QSize atMost)
{
    QFuture<std::optional<QImage>> reading
        = QtConcurrent::run([store, draftID, index, atMost]() -> std::optional<QImage> {
              // The file, its decoding and the tile at every pixel are freed by the end, among
              // blocks still in use; the review may stay open for hours.
              const auto freed = qScopeGuard([] { FreedMemory::returnToSystemSoon(); });
              try {
                  std::optional<QImage> image = ImageNormalization::image(store.loadTilePNG(draftID, index));
                  // The preview shows a tile at a fraction of its pixels: holding all of them would
                  // keep megabytes per tile in view for as long as the review stays open.
                  if (image && !atMost.isEmpty()
                      && (image->width() > atMost.width() || image->height() > atMost.height()))
                      image = image->scaled(atMost, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                  return image;
              } catch (const std::exception &) {
                  return std::nullopt;
              }
          });
    co_return co_await reading;
}

bool deleteDraft(const EncryptedDraftStore &store)
{
    try {
        store.deleteDraft();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

Task<bool> answer(bool value)
{
    co_return value;
}

// No window is open at start-up and the status line alone goes unseen, so an alert says it. The store
// restores once, when it is made, so this is said once. `aside` is where a newer version's draft goes
// before the next capture.
void sayUnreadableDraft(ModelContext &context, const EncryptedDraftStore &store, const QString &aside)
{
    const ModelServices &services = context.services();
    if (context.isAudioSelfTest() || !services.presentAlert)
        return;
    const QString file
        = QDir::toNativeSeparators(QDir(store.directory()).filePath(EncryptedDraftStore::draftFileName));
    if (!aside.isEmpty()) {
        services.presentAlert(newerDraftText,
            QStringLiteral("Quorvel left it as it is at %1. Open it with the newer version to finish it. "
                           "Before your next capture here, Quorvel moves it to %2 and keeps it there.")
                .arg(file, QDir::toNativeSeparators(aside)));
        return;
    }
    services.presentAlert(QStringLiteral("An unfinished draft could not be opened"),
        QStringLiteral("Its encrypted file is damaged, or its key has changed. Quorvel left the file in "
                       "place at %1; your next capture replaces it.")
            .arg(file));
}

} // namespace

DraftFlow::DraftFlow(ModelContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{
    m_draftThread.setMaxThreadCount(1);
    // Saved, deleted, parked or replaced: a pause in the old review's typing has nothing to write.
    connect(&m_context.model(), &AppModel::reviewSessionChanged, this, [this] { m_editWrite.reset(); });
}

DraftFlow::~DraftFlow()
{
    m_draftThread.waitForDone();
}

bool DraftFlow::isLoadingDraftStore() const
{
    return m_storeLoad.isValid() && !m_storeLoad.isFinished();
}

ReviewWindowPresenter *DraftFlow::reviewWindow()
{
    if (!m_reviewWindow && m_context.services().makeReviewWindow)
        m_reviewWindow = m_context.services().makeReviewWindow();
    return m_reviewWindow.get();
}

Task<> DraftFlow::startDraftStoreIfNeeded()
{
    if (m_store || isLoadingDraftStore())
        return m_storeLoad;
    m_storeLoad = loadStore();
    return m_storeLoad;
}

Task<> DraftFlow::loadStore()
{
    const auto &folderOf = m_context.services().draftFolder;
    const std::optional<QString> folder = folderOf ? folderOf() : std::nullopt;
    std::optional<EncryptedDraftStore> store;
    if (folder) {
        // Made before the co_await: g++ 12 destroys a lambda written inside a co_await expression twice.
        QFuture<std::optional<EncryptedDraftStore>> making
            = QtConcurrent::run(&m_draftThread, [folder = *folder]() -> std::optional<EncryptedDraftStore> {
                  try {
                      return EncryptedDraftStore(folder, DraftKeyStore::loadOrCreate(folder));
                  } catch (const std::exception &) {
                      return std::nullopt;
                  }
              });
        store = co_await making;
    }
    if (!store) {
        m_context.setStatusMessage(QStringLiteral("Encrypted draft storage is unavailable"));
        co_return;
    }
    m_store = store;
    co_await restoreDraftIfNeeded();
    if (m_context.setupPresentation().isComplete && m_context.pendingDraft() && !m_context.reviewSession())
        m_context.requestWindow(QStringLiteral("recovery"));
}

Task<> DraftFlow::restoreDraftIfNeeded()
{
    if (!m_store)
        co_return;
    struct Loaded
    {
        std::optional<CaptureDraft> draft;
        bool unreadable = false;
        // Where a newer version's draft will be set aside; empty for any other draft.
        QString aside;
    };
    QFuture<Loaded> loading = onDraftThread([](const EncryptedDraftStore &store) {
        try {
            return Loaded { store.load(), false, QString() };
        } catch (const EncryptedDraftError &error) {
            const bool newer = error.code() == EncryptedDraftError::Code::newerVersion;
            return Loaded { std::nullopt, true, newer ? store.draftAsidePath() : QString() };
        } catch (const std::exception &) {
            return Loaded { std::nullopt, true, QString() };
        }
    });
    const Loaded loaded = co_await loading;
    m_newerDraftStored = !loaded.aside.isEmpty();
    if (loaded.unreadable) {
        // The file stays: a later version, or the user, may still open it. A newer version's draft is
        // never resumed here: its fields would be misread, or dropped at the next write.
        m_context.setPendingDraft(std::nullopt);
        m_context.setStatusMessage(
            m_newerDraftStored ? newerDraftText : QStringLiteral("An unfinished draft could not be opened"));
        sayUnreadableDraft(m_context, *m_store, loaded.aside);
        co_return;
    }
    if (!loaded.draft) {
        m_context.setPendingDraft(std::nullopt);
        co_return;
    }
    const QUuid lastSaved
        = QUuid::fromString(m_context.defaults().string(lastSavedDraftIDKey).value_or(QString()));
    if (EncryptedDraftStore::shouldResume(
            loaded.draft->id, lastSaved.isNull() ? std::nullopt : std::optional<QUuid>(lastSaved))) {
        m_currentDraft = loaded.draft;
        m_context.setPendingDraft(loaded.draft);
        co_return;
    }
    // Saved to a file already; only its deletion was missed.
    QFuture<bool> deleting = onDraftThread(deleteDraft);
    co_await deleting;
    m_context.setPendingDraft(std::nullopt);
    m_currentDraft.reset();
}

Task<bool> DraftFlow::setNewerDraftAside()
{
    if (!holdsNewerDraft())
        return answer(true);
    // Captures asking meanwhile wait for the same move.
    if (!m_settingAside.isValid() || m_settingAside.isFinished())
        m_settingAside = moveNewerDraftAside();
    return m_settingAside;
}

Task<bool> DraftFlow::moveNewerDraftAside()
{
    // Queued before anything the capture asking for it stores: nothing can take the draft's place first.
    QFuture<WriteFailure> moving = onDraftThread([](const EncryptedDraftStore &store) -> WriteFailure {
        try {
            store.setDraftAside();
            return std::nullopt;
        } catch (const std::exception &error) {
            return WriteFailureReason::describe(error).value_or(QString());
        }
    });
    const WriteFailure failure = co_await moving;
    if (failure) {
        m_context.setStatusMessage(
            WriteFailureReason::sentence(
                QStringLiteral("The draft of a newer version could not be moved aside"), failure)
            + QStringLiteral(" The capture did not start, so that it stays as it is."));
        co_return false;
    }
    m_newerDraftStored = false;
    co_return true;
}

Task<bool> DraftFlow::clearDraftArtifacts()
{
    if (m_store) {
        // Counted until answered, however this frame ends.
        struct Counted
        {
            int &count;
            explicit Counted(int &counter)
                : count(++counter)
            { }
            ~Counted() { --count; }
        } counted(m_deletions);
        QFuture<bool> deleting = onDraftThread(deleteDraft);
        if (!co_await deleting)
            co_return false;
    }
    m_currentDraft.reset();
    m_currentImage = QImage();
    m_context.setPendingDraft(std::nullopt);
    co_return true;
}

Task<bool> DraftFlow::persistRegionDraft()
{
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    if (!session)
        co_return true;
    // This write carries everything typed so far.
    m_editWrite.reset();
    // Queued behind a deletion the write would bring the draft back: the deletion decides first.
    if (m_deletions > 0) {
        QFuture<bool> behind = onDraftThread([](const EncryptedDraftStore &) { return true; });
        co_await behind;
        // Gone with its draft: nothing is left to keep.
        if (!m_currentDraft || m_currentDraft->id != session->id)
            co_return true;
    }
    // Without the review's own draft its edits have nowhere to go: saying they were kept would lose them.
    if (!m_currentDraft || m_currentDraft->id != session->id) {
        showEditWrite(*session, QString());
        co_return false;
    }
    QFuture<WriteFailure> saving = queueEditWrite(*session);
    const WriteFailure failure = co_await saving;
    showEditWrite(*session, failure);
    co_return !failure;
}

TaskClock &DraftFlow::clock() const
{
    return m_context.services().clock ? *m_context.services().clock : TaskClock::system();
}

void DraftFlow::scheduleEditWrite(const std::shared_ptr<ReviewSession> &session)
{
    if (m_context.reviewSession() != session)
        return;
    m_editWrite = clock().schedule(
        editWriteDelay, [this, weak = std::weak_ptr<ReviewSession>(session)] { writeEditsAfterPause(weak); });
}

void DraftFlow::writeEditsAfterPause(const std::weak_ptr<ReviewSession> &weak)
{
    // Checked and queued in one turn of the main thread: nothing can slip in between.
    const std::shared_ptr<ReviewSession> session = weak.lock();
    if (!session || m_context.reviewSession() != session || session->saveGate.hasSucceeded()
        || !m_currentDraft || m_currentDraft->id != session->id)
        return;
    // Queued behind a deletion this write would bring the draft back; once the deletion is answered
    // the draft is either gone (nothing to write) or still there (the edits belong in it).
    if (m_deletions > 0) {
        scheduleEditWrite(session);
        return;
    }
    QFuture<WriteFailure> writing = queueEditWrite(*session);
    reportEditWrite(writing, weak, m_editWrites);
}

QFuture<DraftFlow::WriteFailure> DraftFlow::queueEditWrite(const ReviewSession &session)
{
    CaptureDraft draft = *m_currentDraft;
    draft.title = session.title();
    draft.note = session.note();
    draft.tags = OCRLayout::parseTags(session.tagsText());
    draft.reviewedText = session.reviewedText();
    draft.destinationFolder = session.destinationFolder();
    draft.applicationName
        = session.includeApplication() ? trimmedOrNone(session.applicationName()) : std::nullopt;
    draft.applicationBundleID
        = session.includeApplication() ? trimmedOrNone(session.applicationBundleID()) : std::nullopt;
    draft.updatedAt = m_context.services().now();
    m_currentDraft = draft;
    ++m_editWrites;
    if (!m_store)
        return QtFuture::makeReadyFuture(WriteFailure(QString()));
    return onDraftThread([draft](const EncryptedDraftStore &store) -> WriteFailure {
        try {
            store.save(draft);
            return std::nullopt;
        } catch (const std::exception &error) {
            return WriteFailureReason::describe(error).value_or(QString());
        }
    });
}

Task<> DraftFlow::reportEditWrite(
    QFuture<WriteFailure> writing, std::weak_ptr<ReviewSession> weak, quint64 write)
{
    const WriteFailure failure = co_await writing;
    const std::shared_ptr<ReviewSession> session = weak.lock();
    // A later write, or the end of the review, has the last word.
    if (write != m_editWrites || !session || m_context.reviewSession() != session)
        co_return;
    showEditWrite(*session, failure);
}

void DraftFlow::showEditWrite(ReviewSession &session, const WriteFailure &failure)
{
    if (failure) {
        const QString text = draftNotSavedText(failure);
        const bool shown = m_statusBeforeFailure && m_statusBeforeFailure->review == session.id
            && session.statusText() == m_statusBeforeFailure->failureText;
        if (!shown)
            m_statusBeforeFailure
                = StatusBeforeFailure { session.id, session.statusText(), m_context.statusMessage(), text };
        m_statusBeforeFailure->failureText = text;
        session.setStatusText(text);
        m_context.setStatusMessage(text);
        return;
    }
    // The failure no longer holds: put back what it replaced, unless something newer was said.
    if (!m_statusBeforeFailure || m_statusBeforeFailure->review != session.id)
        return;
    if (session.statusText() == m_statusBeforeFailure->failureText)
        session.setStatusText(m_statusBeforeFailure->reviewStatus);
    if (m_context.statusMessage() == m_statusBeforeFailure->failureText)
        m_context.setStatusMessage(m_statusBeforeFailure->modelStatus);
    m_statusBeforeFailure.reset();
}

Task<bool> DraftFlow::parkOpenReview()
{
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    if (!session)
        co_return true;
    // A save under way decides first: once it succeeded there is nothing left to park.
    if (session->isSaving()) {
        Task<bool> settling = saveEnds(session, clock(), saveWaitLimit);
        if (!co_await settling)
            co_return false;
    }
    if (!co_await persistRegionDraft())
        co_return false;
    // Another close, a deletion or a save let go of this review meanwhile.
    if (m_context.reviewSession() != session)
        co_return true;
    m_context.visualCapture().invalidateOCRTask();
    session->setOCRRunning(false);
    m_context.setPendingDraft(m_currentDraft);
    m_context.setReviewSession(nullptr);
    // The draft holds the still; resuming decodes it again. A display's worth of pixels is not kept
    // for a draft that may wait for days.
    m_currentImage = QImage();
    m_context.resetPhaseToIdle();
    m_context.setStatusMessage(QStringLiteral("Draft saved for later"));
    co_return true;
}

Task<> DraftFlow::deleteOpenDraft()
{
    Task<bool> clearing = clearDraftArtifacts();
    if (!co_await clearing) {
        m_context.setStatusMessage(draftNotDeletedText);
        if (const std::shared_ptr<ReviewSession> session = m_context.reviewSession())
            session->setStatusText(draftNotDeletedText);
        co_return;
    }
    if (m_reviewWindow)
        m_reviewWindow->orderOut();
    m_context.services().windows.scheduleReconcile();
    m_context.setReviewSession(nullptr);
    m_context.visualCapture().invalidateOCRTask();
    m_context.visualCapture().abandonCapture();
    m_context.resetPhaseToIdle();
    m_context.setStatusMessage(QStringLiteral("Draft deleted"));
}

Task<> DraftFlow::resumePendingDraft()
{
    std::optional<CaptureDraft> draft = m_context.pendingDraft() ? m_context.pendingDraft() : m_currentDraft;
    if (!draft)
        co_return;
    const int generation = ++m_resumeGeneration;
    m_context.setPendingDraft(std::nullopt);
    m_currentDraft = draft;
    QFuture<std::optional<QImage>> decoding
        = QtConcurrent::run([png = draft->pngData] { return ImageNormalization::image(png); });
    const std::optional<QImage> image = co_await decoding;
    if (generation != m_resumeGeneration || !m_currentDraft || m_currentDraft->id != draft->id)
        co_return;
    m_currentImage = image.value_or(QImage());
    presentReview(*draft, QStringLiteral("Resumed unfinished capture"));
    if (CapturePhaseTransition::allows(m_context.phase(), CapturePhase::review))
        m_context.setPhase(CapturePhase::review);
    m_context.setStatusMessage(QStringLiteral("Resumed draft"));
}

Task<bool> DraftFlow::deletePendingDraft()
{
    Task<bool> clearing = clearDraftArtifacts();
    if (!co_await clearing) {
        m_context.setStatusMessage(draftNotDeletedText);
        co_return false;
    }
    m_context.resetPhaseToIdle();
    m_context.setStatusMessage(QStringLiteral("Draft deleted"));
    co_return true;
}

Task<bool> DraftFlow::keepAudioReview(std::shared_ptr<AudioReviewSession> session)
{
    if (!canKeepAudio())
        co_return false;
    // Marked as it is queued: a save or a discard that comes meanwhile queues its deletion behind
    // this write.
    session->markKeptInDraft();
    co_return co_await keepAudioDraft(session->draft(m_context.services().now()));
}

Task<bool> DraftFlow::keepRecording(CaptureDraft draft)
{
    if (!canKeepAudio())
        return answer(false);
    return keepAudioDraft(std::move(draft));
}

bool DraftFlow::canKeepAudio() const
{
    return m_store && !m_currentDraft && !m_context.pendingDraft();
}

Task<bool> DraftFlow::keepAudioDraft(CaptureDraft draft)
{
    const QUuid lastSaved
        = QUuid::fromString(m_context.defaults().string(lastSavedDraftIDKey).value_or(QString()));
    QFuture<bool> saving = onDraftThread([draft, lastSaved](const EncryptedDraftStore &store) {
        try {
            // Written meanwhile by a capture, or at an earlier start by a run that is not this one.
            std::optional<CaptureDraft> stored;
            try {
                stored = store.load();
            } catch (const EncryptedDraftError &error) {
                // A newer version's draft stays; a damaged one is replaced, as a capture replaces it.
                if (error.code() == EncryptedDraftError::Code::newerVersion)
                    return false;
            }
            if (stored && stored->id != draft.id && stored->id != lastSaved)
                return false;
            store.save(draft);
            return true;
        } catch (const std::exception &) {
            return false;
        }
    });
    co_return co_await saving;
}

Task<> DraftFlow::releaseAudioDraft(QUuid id, bool saved)
{
    // Before the draft goes: a draft that outlives its deletion is then not offered again.
    if (saved)
        m_context.defaults().setString(lastSavedDraftIDKey, id.toString(QUuid::WithoutBraces).toUpper());
    // A capture that runs or is under review writes its own draft there (its tiles may be there
    // already): nothing of it may go.
    if (!m_store || m_currentDraft || m_context.isVisualCaptureActive())
        co_return;
    QFuture<bool> deleting = onDraftThread([id](const EncryptedDraftStore &store) {
        try {
            const std::optional<CaptureDraft> stored = store.load();
            if (stored && stored->id == id)
                store.deleteDraft();
            return true;
        } catch (const std::exception &) {
            return false;
        }
    });
    co_await deleting;
}

void DraftFlow::presentReview(const CaptureDraft &draft, const QString &status)
{
    ReviewSession::TileLoader loader;
    if (m_store) {
        loader = [store = *m_store, id = draft.id](
                     int index, QSize atMost) { return loadTile(store, id, index, atMost); };
    }
    auto session
        = std::make_shared<ReviewSession>(draft, m_currentImage, m_context.settings(), status, loader);
    connect(
        session.get(), &ReviewSession::edited, this, [this, weak = std::weak_ptr<ReviewSession>(session)] {
            if (const std::shared_ptr<ReviewSession> edited = weak.lock())
                scheduleEditWrite(edited);
        });
    m_context.setReviewSession(session);
    if (ReviewWindowPresenter *window = reviewWindow()) {
        window->present(session, &m_context.model(),
            [flow = QPointer<DraftFlow>(this)] { return flow ? flow->parkOpenReview() : answer(true); });
    }
}
