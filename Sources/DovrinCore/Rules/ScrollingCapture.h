#pragma once

#include "Documents/CaptureTextObservation.h"

#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

#include <chrono>

// How far one scrolling capture may grow before it stops with what it has.
struct ScrollingCaptureLimits
{
    int maxTiles = 0;
    qint64 maxPixels = 0;
    std::chrono::milliseconds maxDuration { 0 };
    qint64 maxEncryptedBytes = 0;

    bool operator==(const ScrollingCaptureLimits &) const = default;

    // 40 tiles, 50 million pixels, 90 s, 160 MiB of sealed tile data.
    static const ScrollingCaptureLimits production;
};

enum class ScrollingCaptureError {
    permissionRequired,
    permissionRevoked,
    targetUnavailable,
    displayChanged,
    invalidFrame,
    alignmentAmbiguous,
    storageLimitReached,
    canceled,
};

// Why a scrolling capture that kept its draft stopped. Anything but the user's Done and the end of
// the content means the document may go on below what was captured.
enum class ScrollingCaptureEnd {
    done,
    endOfContent,
    // The next viewport could not be aligned; the user chose Done while the capture was paused.
    paused,
    durationLimit,
    tileLimit,
    pixelLimit,
    byteLimit,
};

namespace ScrollingCaptureErrors {

// The message shown to the user.
QString description(ScrollingCaptureError error);

} // namespace ScrollingCaptureErrors

// Collects the recognized lines of a scrolling capture, segment by segment, into one document. Segments
// overlap (a strip of the previous tile is stacked on top of each tile), so a line seen twice is kept
// once: the copy that is not cut by a segment edge, else the whole line rather than a piece of it,
// else the more confident one. A piece of a line cut
// by a segment edge goes when the neighbouring segment saw those rows whole and read text there.
class ScrollingTextAccumulator
{
public:
    ScrollingTextAccumulator() = default;

    // Observations normalized to a segment of the given pixel size (origin bottom-left) whose first row
    // is document row `documentTopOffset`. A segment without pixels adds nothing.
    void append(
        const QList<CaptureTextObservation> &observations, QSize segmentPixelSize, int documentTopOffset);

    // The document's text in reading order.
    QString assembledText() const;
    // The held observations normalized to the whole document (origin bottom-left), in reading order.
    QList<CaptureTextObservation> normalizedObservations(QSize documentPixelSize) const;
    bool isLowConfidence() const;

private:
    struct Held
    {
        QString text;
        QRectF box; // document pixels, y down
        double confidence = 0;
        bool touchesTop = false; // cut by its segment's top or bottom edge, probably
        bool touchesBottom = false;
        double segmentTop = 0; // document rows of its segment
        double segmentBottom = 0;
        bool touchesSegmentEdge() const { return touchesTop || touchesBottom; }
    };

    static bool isDuplicate(const Held &a, const Held &b);
    // `piece`, cut by an edge of its segment, lies whole in the segment of `whole` (away from its
    // edges, with room for the rest of the line), where `whole`, not cut, covers some of it.
    static bool isSeenWholeIn(const Held &piece, const Held &whole);
    static bool isBetter(const Held &candidate, const Held &held);
    // `piece` lies within the columns of `line` and is clearly narrower: a part of the same line.
    static bool isPieceOf(const Held &piece, const Held &line);
    // Held boxes as observations with the y axis up, for the shared layout rules.
    QList<CaptureTextObservation> upwardObservations() const;

    QList<Held> m_held;
};
