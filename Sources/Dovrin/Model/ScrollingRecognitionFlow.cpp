#include "Model/ScrollingRecognitionFlow.h"

#include "Capture/OCRService.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"
#include "Model/CaptureReviewFlow.h"
#include "Model/DraftFlow.h"
#include "Model/ModelContext.h"
#include "Model/ModelServices.h"
#include "Model/ReviewSession.h"
#include "Model/VisualCaptureState.h"
#include "Rules/ScrollingCapture.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"

#include <QColorSpace>
#include <QPainter>

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

// One tile as read back, and what is recognized for it.
struct Segment
{
    QImage tile;
    QImage image;
};

} // namespace

ScrollingRecognitionFlow::ScrollingRecognitionFlow(ModelContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{ }

std::optional<QImage> ScrollingRecognitionFlow::joinForScrollingOCR(
    const std::optional<QImage> &previous, const QImage &current, int overlapRows)
{
    if (!previous || overlapRows <= 0 || previous->width() != current.width())
        return current;
    const QImage strip = previous->copy(0, previous->height() - overlapRows, previous->width(), overlapRows);
    if (strip.isNull())
        return std::nullopt;
    QImage joined(current.width(), overlapRows + current.height(), QImage::Format_ARGB32_Premultiplied);
    if (joined.isNull())
        return std::nullopt;
    joined.setColorSpace(QColorSpace::SRgb);
    QPainter painter(&joined);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRect(0, 0, current.width(), overlapRows), strip);
    painter.drawImage(QRect(0, overlapRows, current.width(), current.height()), current);
    painter.end();
    return joined;
}

void ScrollingRecognitionFlow::fillFromCapture(FinishedCapture coordinator, QUuid draftID, QString stopped)
{
    if (const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
        session && session->id == draftID)
        session->setOCRRunning(true);
    VisualCaptureState &state = m_context.visualCapture();
    state.invalidateOCRTask();
    state.ocrTask = fill(std::move(coordinator), state.ocrGeneration, draftID, std::move(stopped));
}

Task<> ScrollingRecognitionFlow::fill(
    FinishedCapture coordinator, int generation, QUuid draftID, QString stopped)
{
    VisualCaptureState &state = m_context.visualCapture();
    std::exception_ptr failure;
    try {
        Task<ScrollingCaptureText> reading = coordinator->recognizedText();
        const ScrollingCaptureText recognized = co_await reading;
        if (CurrentTask::isCancelled() || generation != state.ocrGeneration)
            co_return;
        if (recognized.failure)
            throw OCRError(recognized.failure->toStdString());
        Task<bool> keeping = keep(recognized, generation, draftID, stopped);
        if (!co_await keeping)
            co_return;
        state.ocrTask = Task<>();
        state.recognition = Task<OCRResult>();
        m_context.setStatusMessage(QStringLiteral("Review scrolling capture"));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && generation == state.ocrGeneration) {
        CaptureReviewFlow::recognitionEnded(m_context, failure);
        const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
        if (session && session->id == draftID && !stopped.isEmpty())
            session->setStatusText(stopped + QLatin1Char(' ') + session->statusText());
    }
}

Task<bool> ScrollingRecognitionFlow::keep(
    ScrollingCaptureText recognized, int generation, QUuid draftID, QString stopped)
{
    VisualCaptureState &state = m_context.visualCapture();
    DraftFlow &drafts = m_context.drafts();
    const auto stale = [&] { return CurrentTask::isCancelled() || generation != state.ocrGeneration; };
    if (stale() || !drafts.currentDraft() || drafts.currentDraft()->id != draftID)
        co_return false;
    CaptureDraft draft = *drafts.currentDraft();
    draft.recognizedText = recognized.text;
    draft.reviewedText = recognized.text;
    draft.observations = recognized.observations;
    draft.ocrLanguages = recognized.languages;
    draft.title = CaptureReviewFlow::titleAfterRecognition(m_context, draftID, recognized.text);
    draft.updatedAt = m_context.services().now();
    drafts.setCurrentDraft(draft);
    QFuture<bool> saving = drafts.onDraftThread([draft](const EncryptedDraftStore &store) {
        try {
            store.save(draft);
            return true;
        } catch (const std::exception &) {
            return false;
        }
    });
    if (!co_await saving)
        throw std::runtime_error("the draft could not be saved");
    if (stale())
        co_return false;
    CaptureReviewFlow::showRecognition(m_context, draftID, recognized.text, recognized.lowConfidence);
    const std::shared_ptr<ReviewSession> session = m_context.reviewSession();
    if (session && session->id == draftID && !stopped.isEmpty())
        session->setStatusText(stopped + QLatin1Char(' ') + session->statusText());
    co_return true;
}

void ScrollingRecognitionFlow::runScrollingOCR(QUuid draftID)
{
    const std::optional<CaptureDraft> &draft = m_context.drafts().currentDraft();
    if (!draft || !draft->scrollingCapture)
        return;
    if (const std::shared_ptr<ReviewSession> session = m_context.reviewSession()) {
        session->setOCRRunning(true);
        session->setStatusText(QStringLiteral("Recognizing the scrolling capture…"));
    }
    VisualCaptureState &state = m_context.visualCapture();
    state.invalidateOCRTask();
    state.ocrTask = recognize(*draft->scrollingCapture, state.ocrGeneration, draftID);
}

Task<> ScrollingRecognitionFlow::recognize(ScrollingCaptureManifest manifest, int generation, QUuid draftID)
{
    VisualCaptureState &state = m_context.visualCapture();
    DraftFlow &drafts = m_context.drafts();
    const auto stale = [&] { return CurrentTask::isCancelled() || generation != state.ocrGeneration; };
    std::exception_ptr failure;
    try {
        if (!drafts.store())
            throw EncryptedDraftError(EncryptedDraftError::Code::missing);
        ScrollingTextAccumulator text;
        std::set<QString> languages;
        std::optional<QImage> previous;
        const qsizetype count = manifest.tiles.size();
        for (qsizetype i = 0; i < count; ++i) {
            if (stale())
                co_return;
            const ScrollingCaptureTile tile = manifest.tiles[i];
            // Opened, decoded and joined off the main thread; only the previous tile is held.
            QFuture<Segment> loading = drafts.onDraftThread([draftID, tile, previous](
                                                                const EncryptedDraftStore &store) {
                const std::optional<QImage> image
                    = ImageNormalization::image(store.loadTilePNG(draftID, tile.index));
                if (!image)
                    throw EncryptedDraftError(EncryptedDraftError::Code::corrupt);
                const int overlap = previous
                    ? ScrollingCaptureCoordinator::recognitionOverlap(previous->height(), image->height())
                    : 0;
                return Segment { *image, joinForScrollingOCR(previous, *image, overlap).value_or(*image) };
            });
            const Segment segment = co_await loading;
            if (stale())
                co_return;
            state.recognition = m_context.services().recognizeText(segment.image);
            Task<OCRResult> reading = state.recognition;
            const OCRResult result = co_await reading;
            if (stale())
                co_return;
            languages.insert(result.languages.begin(), result.languages.end());
            const int stacked = segment.image.height() - segment.tile.height();
            text.append(result.observations, segment.image.size(), std::max(0, tile.documentTop - stacked));
            if (const std::shared_ptr<ReviewSession> session = m_context.reviewSession())
                session->setStatusText(QStringLiteral("Recognized %1 of %2 sections…").arg(i + 1).arg(count));
            previous = segment.tile;
        }
        if (stale())
            co_return;
        QStringList sorted(languages.begin(), languages.end());
        const QList<CaptureTextObservation> observations
            = text.normalizedObservations(QSize(manifest.pixelWidth, manifest.pixelHeight));
        Task<bool> keeping = keep({ text.assembledText(), observations, sorted, text.isLowConfidence(), {} },
            generation, draftID, QString());
        if (!co_await keeping)
            co_return;
        state.ocrTask = Task<>();
        state.recognition = Task<OCRResult>();
        m_context.setStatusMessage(QStringLiteral("Review scrolling capture"));
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && generation == state.ocrGeneration)
        CaptureReviewFlow::recognitionEnded(m_context, failure);
}
