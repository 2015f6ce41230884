#include "Rules/SelectionRules.h"

#include <algorithm>
#include <cmath>

namespace SelectionRules {

namespace {

bool usable(double value)
{
    return std::isfinite(value);
}

// Scaled edges that land within a hair of a whole pixel count as that pixel: 0.1 * 30 must not
// become 3.0000000000000004 and pull in a fourth pixel.
double snapped(double value)
{
    const double nearest = std::round(value);
    return std::abs(value - nearest) < 1e-6 ? nearest : value;
}

} // namespace

QRectF selectionRect(QPointF anchor, QPointF current, const QRectF &bounds)
{
    if (!usable(anchor.x()) || !usable(anchor.y()) || !usable(current.x()) || !usable(current.y()))
        return {};
    const QRectF spanned = QRectF(anchor, current).normalized();
    const QRectF clipped = spanned.intersected(bounds);
    // A click spans nothing; keep its position so callers can tell where it was.
    if (clipped.isEmpty())
        return bounds.contains(anchor) ? QRectF(anchor, QSizeF(0, 0)) : QRectF();
    return clipped;
}

bool isLargeEnough(const QRectF &selection)
{
    return usable(selection.width()) && usable(selection.height()) && selection.width() >= minimumSide
        && selection.height() >= minimumSide;
}

double displayScale(const QImage &still, const QSizeF &displaySize)
{
    const double ratio = still.devicePixelRatio();
    if (usable(ratio) && ratio > 0 && ratio != 1.0)
        return ratio;
    if (still.isNull() || !usable(displaySize.width()) || displaySize.width() <= 0)
        return 0.0;
    const double measured = still.width() / displaySize.width();
    return usable(measured) ? measured : 0.0;
}

QRect pixelRect(const QRectF &selection, double scale, const QSize &imageSize)
{
    if (!usable(scale) || scale <= 0 || imageSize.width() <= 0 || imageSize.height() <= 0)
        return {};
    if (!usable(selection.left()) || !usable(selection.top()) || !usable(selection.right())
        || !usable(selection.bottom()) || selection.width() <= 0 || selection.height() <= 0)
        return {};
    const double sx = scale;
    const double sy = scale;
    const double w = imageSize.width();
    const double h = imageSize.height();
    // Clamp in floating point first: huge coordinates must never reach an integer cast.
    const double left = std::clamp(std::floor(snapped(selection.left() * sx)), 0.0, w);
    const double top = std::clamp(std::floor(snapped(selection.top() * sy)), 0.0, h);
    const double right = std::clamp(std::ceil(snapped(selection.right() * sx)), 0.0, w);
    const double bottom = std::clamp(std::ceil(snapped(selection.bottom() * sy)), 0.0, h);
    if (right <= left || bottom <= top)
        return {};
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
}

QImage crop(const QImage &image, const QRect &pixels)
{
    if (image.isNull() || pixels.isEmpty() || !image.rect().contains(pixels))
        return {};
    QImage part = image.copy(pixels);
    part.setDevicePixelRatio(1.0);
    return part;
}

bool hasVisiblePixels(const QImage &image)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return false;
    if (!image.hasAlphaChannel())
        return true;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) != 0)
                return true;
        }
    }
    return false;
}

} // namespace SelectionRules
