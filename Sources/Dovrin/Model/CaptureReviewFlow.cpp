#include "Model/CaptureReviewFlow.h"

#include "Capture/OCRService.h"
#include "Documents/CaptureMarkdown.h"
#include "Documents/DefaultsStore.h"
#include "Model/DraftFlow.h"
#include "Model/MarkdownSave.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Model/ReviewSession.h"
#include "Model/ScrollingRecognitionFlow.h"
#include "Model/VisualCaptureState.h"

#include <QtConcurrent>

namespace {

const QString untitled = QStringLiteral("Untitled capture");

bool takesRecognizedTitle(const QString &title)
{
    return title == untitled || title.isEmpty();
}

void moveTo(ModelContext &context, CapturePhase phase)
{
    if (CapturePhaseTransition::allows(context.phase(), phase))
        context.setPhase(phase);
}

} // namespace

CaptureReviewFlow::CaptureReviewFlow(
    ModelContext &context, ScrollingRecognitionFlow &scrolling, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_scrolling(scrolling)
{ }

void CaptureReviewFlow::saveDraftQuietly(ModelContext &context, const CaptureDraft &draft)
{
    if (!context.drafts().store())
        return;
    context.drafts().onDraftThread([draft](const EncryptedDraftStore &store) {
        try {
            store.save(draft);
        } catch (const std::exception &) {
            // The next write of the draft carries this change too.
        }
    });
}

void CaptureReviewFlow::runOCR(QImage image, QUuid draftID)
{
    if (const std::shared_ptr<ReviewSession> session = m_context.reviewSession()) {
        session->setOCRRunning(true);
        session->setStatusText(QStringLiteral("Recognizing text…"));
    }
    VisualCaptureState &state = m_context.visualCapture();
    state.invalidateOCRTask();
    const int generation = state.ocrGeneration;
    state.recognition = m_context.services().recognizeText(std::move(image));
    state.ocrTask = recognize(state.recognition, generation, draftID);
}

Task<> CaptureReviewFlow::recognize(Task<OCRResult> work, int generation, QUuid draftID)
{
    OCRResult result;
    std::exception_ptr failure;
    try {
        result = co_await work;
        CurrentTask::checkCancelled();
    } catch (...) {
        failure = std::current_exception();
    }
    VisualCaptureState &state = m_context.visualCapture();
    if (generation != state.ocrGeneration)
        co_return;
    if (failure) {
        recognitionEnded(m_context, failure);
        co_return;
    }
    DraftFlow &drafts = m_context.drafts();
    if (!drafts.currentDraft() || drafts.currentDraft()->id != draftID)
        co_return;
    CaptureDraft draft = *drafts.currentDraft();
    draft.recognizedText = result.text;
    draft.reviewedText = result.text;
    draft.observations = result.observations;
    draft.ocrLanguages = result.languages;
    draft.title = titleAfterRecognition(m_context, draftID, result.text);
    draft.updatedAt = m_context.services().now();
    drafts.setCurrentDraft(draft);
    saveDraftQuietly(m_context, draft);
    showRecognition(m_context, draftID, result.text, result.isLowConfidence());
    state.ocrTask = Task<>();
    state.recognition = Task<OCRResult>();
    m_context.setStatusMessage(QStringLiteral("Review capture"));
}

QString CaptureReviewFlow::titleAfterRecognition(
    ModelContext &context, const QUuid &draftID, const QString &text)
{
    const std::shared_ptr<ReviewSession> session = context.reviewSession();
    if (session && session->id == draftID && !takesRecognizedTitle(session->title()))
        return session->title();
    return OCRLayout::defaultTitle(text);
}

void CaptureReviewFlow::showRecognition(
    ModelContext &context, const QUuid &draftID, const QString &text, bool lowConfidence)
{
    const std::shared_ptr<ReviewSession> session = context.reviewSession();
    if (!session || session->id != draftID)
        return;
    session->setReviewedText(text);
    if (takesRecognizedTitle(session->title()))
        session->setTitle(OCRLayout::defaultTitle(text));
    session->setOCRRunning(false);
    if (text.isEmpty()) {
        session->setStatusText(
            QStringLiteral("No text was recognized. Type the captured text or retry OCR."));
        moveTo(context, CapturePhase::needsOCR);
    } else if (!lowConfidence) {
        session->setStatusText(QStringLiteral("Review the text, then save Markdown."));
        moveTo(context, CapturePhase::review);
    } else {
        session->setStatusText(QStringLiteral("OCR confidence is low. Review the text or retry."));
        moveTo(context, CapturePhase::needsOCR);
    }
}

void CaptureReviewFlow::recognitionEnded(ModelContext &context, std::exception_ptr failure)
{
    VisualCaptureState &state = context.visualCapture();
    state.ocrTask = Task<>();
    state.recognition = Task<OCRResult>();
    const std::shared_ptr<ReviewSession> session = context.reviewSession();
    if (session)
        session->setOCRRunning(false);
    QString reason = QStringLiteral("OCR did not finish.");
    try {
        std::rethrow_exception(failure);
    } catch (const TaskCancelled &) {
        return;
    } catch (const OCRError &error) {
        // The recognizer cannot run (no language data, an image beyond it): say why.
        reason = QString::fromUtf8(error.what());
    } catch (...) { }
    if (session)
        session->setStatusText(reason + QStringLiteral(" Retry OCR or type the text."));
    moveTo(context, CapturePhase::needsOCR);
    context.setStatusMessage(QStringLiteral("OCR did not finish"));
}

void CaptureReviewFlow::retryOCR()
{
    DraftFlow &drafts = m_context.drafts();
    if (!drafts.currentDraft()
        || !CapturePhaseTransition::allows(m_context.phase(), CapturePhase::ocrProcessing))
        return;
    m_context.setPhase(CapturePhase::ocrProcessing);
    if (drafts.currentDraft()->scrollingCapture)
        m_scrolling.runScrollingOCR(drafts.currentDraft()->id);
    else if (!drafts.currentImage().isNull())
        runOCR(drafts.currentImage(), drafts.currentDraft()->id);
}

void CaptureReviewFlow::cancelOCR()
{
    m_context.visualCapture().invalidateOCRTask();
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    if (session)
        session->setOCRRunning(false);
    if (m_context.phase() == CapturePhase::ocrProcessing)
        moveTo(m_context, CapturePhase::needsOCR);
    if (session)
        session->setStatusText(QStringLiteral("OCR canceled. Retry OCR or type the text."));
    m_context.setStatusMessage(QStringLiteral("OCR canceled"));
}

bool CaptureReviewFlow::copyReviewedText()
{
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    if (!session || session->reviewedText().isEmpty())
        return false;
    return copyToPasteboard(session->reviewedText(), QStringLiteral("Copied reviewed text"));
}

bool CaptureReviewFlow::copyToPasteboard(const QString &text, const QString &successMessage)
{
    const auto &write = m_context.services().pasteboardWriter;
    if (write && write(text)) {
        m_context.setStatusMessage(successMessage);
        return true;
    }
    m_context.setStatusMessage(QStringLiteral("The clipboard could not be updated"));
    return false;
}

Task<> CaptureReviewFlow::chooseReviewFolder(QPointer<QWidget> parent)
{
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    if (!session)
        co_return;
    const AppSettings &settings = m_context.settings();
    std::optional<QString> start;
    for (const std::optional<FolderAccess> *folder :
        { &session->destinationFolder(), &settings.defaultFolder, &settings.lastUsedFolder }) {
        if (*folder && !start)
            start = (*folder)->displayPath;
    }
    const FolderPicker::Present &present = m_context.services().folderPicker.present;
    if (!present)
        co_return;
    Task<std::optional<QString>> choosing = present(parent, start, QStringLiteral("Save This Capture Here"),
        QStringLiteral("This capture only. The default folder in Settings stays the same."));
    const std::optional<QString> chosen = co_await choosing;
    // The folder was for the review that asked: saved, parked or replaced meanwhile, it has none.
    if (!chosen || m_context.reviewSession() != session)
        co_return;
    try {
        applyReviewDestination(FolderBookmark::make(QUrl::fromLocalFile(*chosen)));
    } catch (const FolderBookmarkError &) {
        m_context.setStatusMessage(QStringLiteral("That folder could not be used"));
    }
}

void CaptureReviewFlow::applyReviewDestination(const FolderAccess &access)
{
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    if (!session)
        return;
    session->setDestination(access);
    DraftFlow &drafts = m_context.drafts();
    if (drafts.currentDraft()) {
        CaptureDraft draft = *drafts.currentDraft();
        draft.destinationFolder = access;
        draft.updatedAt = m_context.services().now();
        drafts.setCurrentDraft(draft);
        saveDraftQuietly(m_context, draft);
    }
    m_context.setStatusMessage(QStringLiteral("Destination updated"));
    if (m_context.phase() == CapturePhase::destinationUnavailable)
        moveTo(m_context, CapturePhase::review);
}

void CaptureReviewFlow::applyRefreshedFolder(const FolderAccess &original, const FolderAccess &refreshed,
    const std::shared_ptr<ReviewSession> &session)
{
    DraftFlow &drafts = m_context.drafts();
    if (session->destinationFolder() == original) {
        session->setDestination(refreshed);
        if (drafts.currentDraft()) {
            CaptureDraft draft = *drafts.currentDraft();
            draft.destinationFolder = refreshed;
            draft.updatedAt = m_context.services().now();
            drafts.setCurrentDraft(draft);
            saveDraftQuietly(m_context, draft);
        }
        return;
    }
    m_context.adoptRefreshedFolder(original, refreshed);
    session->setDestinationDisplayPath(refreshed.displayPath);
}

Task<> CaptureReviewFlow::saveOpenReview()
{
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    DraftFlow &drafts = m_context.drafts();
    if (!session || !drafts.currentDraft() || !session->saveGate.begin())
        co_return;
    session->setSaving(true);
    // needsOCR may save too: the user typed the text that recognition did not find.
    if (!CapturePhaseTransition::allows(m_context.phase(), CapturePhase::saving)) {
        session->saveGate.fail();
        session->setSaving(false);
        co_return;
    }
    m_context.setPhase(CapturePhase::saving);

    const ModelServices &services = m_context.services();
    CaptureMarkdownDocument document = session->document();
    document.ocrLanguages = drafts.currentDraft()->ocrLanguages;
    std::optional<FolderAccess> folder = session->destinationFolder();
    if (!folder)
        folder = m_context.settings().defaultFolder;
    if (!folder)
        folder = m_context.settings().lastUsedFolder;
    std::optional<ResolvedFolder> resolved;
    bool becameLink = false;
    if (folder) {
        try {
            resolved = services.resolveFolder(*folder);
            if (resolved->refreshed)
                applyRefreshedFolder(*folder, *resolved->refreshed, session);
            if (!services.startAccessingFolder(*resolved))
                resolved.reset();
        } catch (const FolderBookmarkError &error) {
            becameLink = error.code() == FolderBookmarkError::Code::becameLink;
            resolved.reset();
        }
    }
    if (!resolved) {
        const QString text = becameLink
            ? QStringLiteral("The destination folder was replaced by a link to another place. Choose the "
                             "folder again. The draft is still here.")
            : QStringLiteral(
                "The destination folder is unavailable. Choose a new folder. The draft is still here.");
        session->saveGate.fail();
        session->setSaving(false);
        moveTo(m_context, CapturePhase::destinationUnavailable);
        session->setStatusText(text);
        m_context.setStatusMessage(text);
        co_return;
    }

    const QString markdown = document.render();
    const QString filename = CaptureFilename::make(
        session->observedAt, session->title(), session->id, session->filenameTimeZone, QStringLiteral("md"));
    QFuture<MarkdownSave::Outcome> writing
        = MarkdownSave::write(services, markdown, resolved->url.toLocalFile(), filename);
    const MarkdownSave::Outcome written = co_await writing;
    if (!written.url) {
        session->saveGate.fail();
        session->setSaving(false);
        moveTo(m_context, CapturePhase::saveFailed);
        session->setStatusText(MarkdownSave::failedText(written));
        m_context.setStatusMessage(written.reason ? QStringLiteral("Save failed: %1").arg(*written.reason)
                                                  : QStringLiteral("Save failed"));
        co_return;
    }
    const std::optional<QUrl> url = written.url;

    std::optional<QByteArray> bookmark;
    try {
        bookmark = services.recentBookmarks.makeBookmark(*url);
    } catch (const std::exception &) { }
    AppSettings settings = m_context.settings();
    settings.remember(RecentCaptureRef { document.id, url->fileName(), bookmark, services.now() });
    m_context.setSettings(settings);
    m_context.persistSettings();
    // Before the draft goes: a draft that outlives its deletion is then not offered again.
    m_context.defaults().setString(
        DraftFlow::lastSavedDraftIDKey, document.id.toString(QUuid::WithoutBraces).toUpper());
    Task<bool> clearing = drafts.clearDraftArtifacts();
    const bool cleared = co_await clearing;

    session->saveGate.succeed();
    session->setSaving(false);
    SavedReceipt receipt;
    receipt.id = document.id;
    receipt.url = *url;
    receipt.packedMarkdown = written.packedMarkdown;
    receipt.fileBookmarkData = bookmark;
    receipt.kind = SavedReceipt::Kind::region;
    m_context.setReceipt(receipt);
    moveTo(m_context, CapturePhase::saved);
    if (m_context.reviewSession() == session) {
        if (ReviewWindowPresenter *window = drafts.reviewWindow())
            window->orderOut();
        if (services.windows.scheduleReconcile)
            services.windows.scheduleReconcile();
        m_context.setReviewSession(nullptr);
    }
    m_context.requestWindow(QStringLiteral("receipt"));
    m_context.setStatusMessage(cleared
            ? QStringLiteral("Saved Markdown")
            : QStringLiteral("Saved Markdown. The temporary draft could not be cleared."));
}
