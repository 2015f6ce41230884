#include "Rules/ScrollingCapture.h"

#include "Rules/OCRLayout.h"

#include <algorithm>
#include <cmath>

const ScrollingCaptureLimits ScrollingCaptureLimits::production {
    40,
    50'000'000,
    std::chrono::seconds(90),
    167'772'160,
};

namespace ScrollingCaptureErrors {

QString description(ScrollingCaptureError error)
{
    switch (error) {
    case ScrollingCaptureError::permissionRequired:
        return QStringLiteral("Control Scrolling is needed to scroll the selected content. It needs an X11 "
                              "(Xorg) session whose X server has the XTEST extension.");
    case ScrollingCaptureError::permissionRevoked:
        return QStringLiteral(
            "Scrolling permission changed. The capture was canceled and its temporary data was removed.");
    case ScrollingCaptureError::targetUnavailable:
        return QStringLiteral("The selected window is no longer available. The capture was canceled and its "
                              "temporary data was removed.");
    case ScrollingCaptureError::displayChanged:
        return QStringLiteral("The display changed during scrolling capture. Start again after it settles.");
    case ScrollingCaptureError::invalidFrame:
        return QStringLiteral("The selected content could not be captured reliably.");
    case ScrollingCaptureError::alignmentAmbiguous:
        return QStringLiteral(
            "Quorvel could not align the next viewport with confidence. The capture was paused.");
    case ScrollingCaptureError::storageLimitReached:
        return QStringLiteral("The safe scrolling-capture size limit was reached.");
    case ScrollingCaptureError::canceled:
        return QStringLiteral("Scrolling capture canceled.");
    }
    return QString();
}

} // namespace ScrollingCaptureErrors

namespace {

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

// A box within this many pixels of a segment's top or bottom row was probably cut by it.
constexpr double edgeTolerance = 1.0;
// Rows beyond a cut that the rest of a cut line needs, at least: a line is rarely more than three
// times as tall as its piece, nor taller than this.
constexpr double lineReachRows = 48.0;

double overlapOf(double aStart, double aEnd, double bStart, double bEnd)
{
    return std::min(aEnd, bEnd) - std::max(aStart, bStart);
}

QString normalizedText(const QString &text)
{
    return text.simplified().toCaseFolded();
}

} // namespace

void ScrollingTextAccumulator::append(
    const QList<CaptureTextObservation> &observations, QSize segmentPixelSize, int documentTopOffset)
{
    if (segmentPixelSize.width() <= 0 || segmentPixelSize.height() <= 0)
        return;
    const double width = segmentPixelSize.width();
    const double height = segmentPixelSize.height();
    const double offset = std::max(0, documentTopOffset);

    // Only lines held from earlier segments can be seen again; two lines of one segment are distinct
    // even when their texts match.
    const qsizetype earlier = m_held.size();
    QList<bool> dropped(earlier, false);
    QList<Held> added;
    for (const CaptureTextObservation &observation : observations) {
        const QRectF normalized
            = QRectF(finiteOrZero(observation.boundingBox.x()), finiteOrZero(observation.boundingBox.y()),
                finiteOrZero(observation.boundingBox.width()), finiteOrZero(observation.boundingBox.height()))
                  .normalized();
        const double top = (1.0 - normalized.bottom()) * height; // rows counted from the segment's top
        const double bottom = (1.0 - normalized.top()) * height;
        Held candidate {
            observation.text,
            QRectF(normalized.left() * width, offset + top, normalized.width() * width, bottom - top),
            finiteOrZero(observation.confidence),
            top <= edgeTolerance,
            bottom >= height - edgeTolerance,
            offset,
            offset + height,
        };

        QList<qsizetype> duplicates;
        bool seenWhole = false;
        for (qsizetype i = 0; i < earlier; ++i) {
            if (dropped[i])
                continue;
            seenWhole = seenWhole || isSeenWholeIn(candidate, m_held[i]);
            if (isDuplicate(candidate, m_held[i]))
                duplicates.append(i);
        }
        if (seenWhole)
            continue;
        const bool wins = std::all_of(duplicates.begin(), duplicates.end(),
            [&](qsizetype i) { return isBetter(candidate, m_held[i]); });
        if (!wins)
            continue;
        for (qsizetype i : duplicates)
            dropped[i] = true;
        added.append(candidate);
    }

    // Pieces held from earlier segments whose rows this one saw whole, and read text in.
    for (qsizetype i = 0; i < earlier; ++i) {
        dropped[i] = dropped[i] || std::any_of(added.begin(), added.end(), [&](const Held &whole) {
            return isSeenWholeIn(m_held[i], whole);
        });
    }
    QList<Held> kept;
    for (qsizetype i = 0; i < earlier; ++i) {
        if (!dropped[i])
            kept.append(m_held[i]);
    }
    kept.append(added);
    m_held = kept;
}

bool ScrollingTextAccumulator::isDuplicate(const Held &a, const Held &b)
{
    const double rows = overlapOf(a.box.top(), a.box.bottom(), b.box.top(), b.box.bottom());
    const double columns = overlapOf(a.box.left(), a.box.right(), b.box.left(), b.box.right());
    const bool boxesCoincide = rows >= 0.5 * std::min(a.box.height(), b.box.height())
        && columns >= 0.5 * std::min(a.box.width(), b.box.width()) && rows > 0 && columns > 0;
    if (boxesCoincide)
        return true;
    return rows > 0 && normalizedText(a.text) == normalizedText(b.text);
}

bool ScrollingTextAccumulator::isSeenWholeIn(const Held &piece, const Held &whole)
{
    if (whole.touchesSegmentEdge() || !piece.touchesSegmentEdge() || piece.touchesTop == piece.touchesBottom)
        return false;
    // The rest of the line lies beyond the edge that cut the piece: the other segment must reach that
    // far past it, and must not cut the piece on the other side.
    const double reach = std::max(lineReachRows, 3 * piece.box.height());
    const bool holdsIt = piece.touchesBottom ? whole.segmentTop + edgeTolerance < piece.box.top()
            && whole.segmentBottom >= piece.segmentBottom + reach
                                             : whole.segmentBottom - edgeTolerance > piece.box.bottom()
            && whole.segmentTop <= piece.segmentTop - reach;
    return holdsIt && overlapOf(piece.box.top(), piece.box.bottom(), whole.box.top(), whole.box.bottom()) > 0
        && overlapOf(piece.box.left(), piece.box.right(), whole.box.left(), whole.box.right()) > 0;
}

bool ScrollingTextAccumulator::isBetter(const Held &candidate, const Held &held)
{
    if (candidate.touchesSegmentEdge() != held.touchesSegmentEdge())
        return !candidate.touchesSegmentEdge();
    // A line read whole in one segment and in pieces in the other: the whole line, however sure the
    // engine is of a piece.
    if (isPieceOf(held, candidate))
        return true;
    if (isPieceOf(candidate, held))
        return false;
    return candidate.confidence > held.confidence;
}

bool ScrollingTextAccumulator::isPieceOf(const Held &piece, const Held &line)
{
    const double slack = 0.5 * std::min(piece.box.height(), line.box.height());
    return piece.box.left() >= line.box.left() - slack && piece.box.right() <= line.box.right() + slack
        && 5 * piece.box.width() <= 4 * line.box.width();
}

QList<CaptureTextObservation> ScrollingTextAccumulator::upwardObservations() const
{
    QList<CaptureTextObservation> observations;
    for (const Held &held : m_held) {
        observations.append({ held.text,
            QRectF(held.box.x(), -held.box.bottom(), held.box.width(), held.box.height()), held.confidence });
    }
    return observations;
}

QString ScrollingTextAccumulator::assembledText() const
{
    return OCRLayout::text(upwardObservations());
}

QList<CaptureTextObservation> ScrollingTextAccumulator::normalizedObservations(QSize documentPixelSize) const
{
    const double width = documentPixelSize.width();
    const double height = documentPixelSize.height();
    QList<CaptureTextObservation> result;
    for (const CaptureTextObservation &observation : OCRLayout::readingOrder(upwardObservations())) {
        // Back from the upward pixel box (y = -bottom row) to a box normalized with its origin at the
        // document's bottom-left; a document without pixels keeps the text without a box.
        const QRectF &box = observation.boundingBox;
        QRectF normalized;
        if (width > 0 && height > 0)
            normalized
                = QRectF(box.x() / width, 1.0 + box.y() / height, box.width() / width, box.height() / height);
        result.append({ observation.text, normalized, observation.confidence });
    }
    return result;
}

bool ScrollingTextAccumulator::isLowConfidence() const
{
    return OCRLayout::isLowConfidence(upwardObservations());
}
