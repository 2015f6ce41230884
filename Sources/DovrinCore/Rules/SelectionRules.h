#pragma once

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <optional>

// Geometry of a region selection on one display, and exact pixel crops of that display's still.
// Points are the display's logical coordinates (what a window on it measures); pixels are the
// still's own. The two differ by the display's scale, which need not be a whole number.
namespace SelectionRules {

// The smallest selection accepted, in points on each side.
inline constexpr double minimumSide = 10.0;

// The rectangle spanned by a drag from `anchor` to `current`, clipped to `bounds` (the display in
// its own points). Empty when the drag does not reach into the bounds.
QRectF selectionRect(QPointF anchor, QPointF current, const QRectF &bounds);

// True when the selection is at least `minimumSide` points wide and tall.
bool isLargeEnough(const QRectF &selection);

// The display's scale (pixels per point): the still's own device pixel ratio where it carries one
// (Qt's exact factor), else the ratio of the still's width to the display's. Zero when unusable.
double displayScale(const QImage &still, const QSizeF &displaySize);

// The pixels of a still of `imageSize` pixels at `scale` pixels per point that the selection
// covers: every pixel the selection touches, and no pixel it does not reach. Empty when the scale
// or size is unusable (zero, negative, not finite) or the selection misses the image.
QRect pixelRect(const QRectF &selection, double scale, const QSize &imageSize);

// The part of `image` inside `pixels`, copied pixel for pixel (no scaling, no colour change).
// A null image when the rectangle does not lie inside the image or is empty.
QImage crop(const QImage &image, const QRect &pixels);

// False when the image is null, empty or has no pixel with any opacity: a surface the display
// could not show us.
bool hasVisiblePixels(const QImage &image);

} // namespace SelectionRules
