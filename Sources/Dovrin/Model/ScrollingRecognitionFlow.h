#pragma once

#include "Async/Task.h"
#include "Documents/CaptureDraft.h"
#include "Model/VisualCaptureState.h"
#include "Scrolling/ScrollingCaptureResult.h"

#include <QImage>
#include <QObject>
#include <QUuid>

#include <optional>

class ModelContext;

// Recognizes a scrolling capture's text again from its sealed tiles, one after the other, each with
// the bottom rows of the tile above it, so a line cut by a seam is read whole (and kept once), then
// rewrites the draft's text, lines, languages and title.
class ScrollingRecognitionFlow : public QObject
{
    Q_OBJECT

public:
    explicit ScrollingRecognitionFlow(ModelContext &context, QObject *parent = nullptr);

    void runScrollingOCR(QUuid draftID);
    using FinishedCapture = std::unique_ptr<ScrollingCaptureCoordinator, VisualCaptureState::DeleteLater>;
    // Fills the open review of a scrolling capture with the text of the sections its coordinator was
    // still reading when the scrolling ended; `stopped`, why the capture ended early (or empty), stays
    // in front of the review's status. Cancel OCR and Retry OCR stop it as they stop a retry.
    void fillFromCapture(FinishedCapture coordinator, QUuid draftID, QString stopped);

    // The last `overlapRows` rows of `previous` above `current`; `current` itself without a previous
    // tile, without rows to add or when the widths differ; none when the image cannot be made.
    static std::optional<QImage> joinForScrollingOCR(
        const std::optional<QImage> &previous, const QImage &current, int overlapRows);

private:
    Task<> recognize(ScrollingCaptureManifest manifest, int generation, QUuid draftID);
    Task<> fill(FinishedCapture coordinator, int generation, QUuid draftID, QString stopped);
    // Writes the text into the current draft, saves it and shows it in the review; false when the
    // recognition is stale by then.
    Task<bool> keep(ScrollingCaptureText recognized, int generation, QUuid draftID, QString stopped);

    ModelContext &m_context;
};
