#pragma once

#include <QJsonObject>
#include <QRectF>
#include <QString>

#include <optional>

// One recognized line of text. The box is normalized to the recognized image (0..1 on both axes)
// with its origin at the bottom-left, so it does not depend on the image's pixel size.
struct CaptureTextObservation
{
    QString text;
    QRectF boundingBox;
    double confidence = 0.0;

    bool operator==(const CaptureTextObservation &) const = default;

    // JSON with the field names as keys; the box as "x", "y", "width", "height".
    QJsonObject toJson() const;
    // None when a field is missing or of the wrong type.
    static std::optional<CaptureTextObservation> fromJson(const QJsonObject &object);
};
