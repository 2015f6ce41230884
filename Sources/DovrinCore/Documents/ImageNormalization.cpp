#include "Documents/ImageNormalization.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>

namespace ImageNormalization {

std::optional<QImage> image(const QByteArray &png)
{
    QBuffer buffer;
    buffer.setData(png);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    QImageReader reader(&buffer, "png");
    reader.setDecideFormatFromContent(false);
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull())
        return std::nullopt;
    return decoded;
}

QImage normalize(const QImage &image)
{
    if (image.isNull())
        return image;
    // Colour conversion on straight alpha, then premultiplied for drawing.
    QImage converted = image.convertToFormat(QImage::Format_ARGB32);
    if (converted.isNull())
        return image;
    const QColorSpace srgb(QColorSpace::SRgb);
    if (converted.colorSpace().isValid() && converted.colorSpace() != srgb) {
        converted.convertToColorSpace(srgb);
        if (converted.isNull())
            return image;
    }
    converted = converted.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (converted.isNull())
        return image;
    converted.setColorSpace(srgb);
    return converted;
}

std::optional<QByteArray> pngData(const QImage &image)
{
    if (image.isNull())
        return std::nullopt;
    QByteArray data;
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::WriteOnly))
        return std::nullopt;
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return std::nullopt;
    return data;
}

} // namespace ImageNormalization
