#include "Documents/CaptureTextObservation.h"

#include <cmath>

QJsonObject CaptureTextObservation::toJson() const
{
    QJsonObject box {
        { "x", boundingBox.x() },
        { "y", boundingBox.y() },
        { "width", boundingBox.width() },
        { "height", boundingBox.height() },
    };
    return QJsonObject {
        { "text", text },
        { "boundingBox", box },
        { "confidence", confidence },
    };
}

std::optional<CaptureTextObservation> CaptureTextObservation::fromJson(const QJsonObject &object)
{
    const QJsonValue text = object.value("text");
    const QJsonValue box = object.value("boundingBox");
    const QJsonValue confidence = object.value("confidence");
    if (!text.isString() || !box.isObject() || !confidence.isDouble())
        return std::nullopt;
    const QJsonObject b = box.toObject();
    for (const char *key : { "x", "y", "width", "height" }) {
        if (!b.value(QLatin1String(key)).isDouble() || !std::isfinite(b.value(QLatin1String(key)).toDouble()))
            return std::nullopt;
    }
    if (!std::isfinite(confidence.toDouble()))
        return std::nullopt;
    return CaptureTextObservation {
        text.toString(),
        QRectF(b.value("x").toDouble(), b.value("y").toDouble(), b.value("width").toDouble(),
            b.value("height").toDouble()),
        confidence.toDouble(),
    };
}
