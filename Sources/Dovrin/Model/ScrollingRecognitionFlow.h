#pragma once

#include "Async/Task.h"
#include "Documents/CaptureDraft.h"

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

    // The last `overlapRows` rows of `previous` above `current`; `current` itself without a previous
    // tile, without rows to add or when the widths differ; none when the image cannot be made.
    static std::optional<QImage> joinForScrollingOCR(
        const std::optional<QImage> &previous, const QImage &current, int overlapRows);

private:
    Task<> recognize(ScrollingCaptureManifest manifest, int generation, QUuid draftID);

    ModelContext &m_context;
};
