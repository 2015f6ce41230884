#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

// Images as the drafts store them: 8-bit premultiplied ARGB in sRGB, kept as PNG.
namespace ImageNormalization {

// None when the data is not a PNG that decodes.
std::optional<QImage> image(const QByteArray &png);
// The image redrawn as premultiplied ARGB32 in sRGB; the original when that fails.
QImage normalize(const QImage &image);
// None for a null image or when encoding fails.
std::optional<QByteArray> pngData(const QImage &image);

} // namespace ImageNormalization
