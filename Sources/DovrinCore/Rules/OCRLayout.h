#pragma once

#include "Documents/CaptureTextObservation.h"

#include <QList>
#include <QString>
#include <QStringList>

// Rules that turn recognized lines into the text, title and tags of a capture. Boxes may be normalized
// or in any other unit, as long as the y axis points up (origin bottom-left).
namespace OCRLayout {

// Comma-separated tags: trimmed, lower-cased, without empty entries or later duplicates, in order.
QStringList parseTags(const QString &text);

// Whether the text holds a letter or digit of any script.
bool hasLetterOrDigit(const QString &text);

// The first line with a letter or digit, trimmed of white space and quote characters, cut to 80
// characters; "Untitled capture" when there is none.
QString defaultTitle(const QString &text);

// True when there is nothing, or the mean confidence is below 0.5.
bool isLowConfidence(const QList<CaptureTextObservation> &observations);

// Observations grouped into lines (boxes that share at least half of the smaller one's height), in
// reading order: columns of running text, or columns whose lines do not line up, are read one after
// the other; otherwise (tables, forms, single columns) lines run top to bottom. Each line runs left
// to right.
QList<QList<CaptureTextObservation>> lines(const QList<CaptureTextObservation> &observations);
// The same, flattened.
QList<CaptureTextObservation> readingOrder(const QList<CaptureTextObservation> &observations);
// Words of a line joined by a space, lines by a line feed; empty texts are left out.
QString text(const QList<CaptureTextObservation> &observations);

} // namespace OCRLayout

// What text recognition answers for one image.
struct OCRResult
{
    QString text;
    QList<CaptureTextObservation> observations; // boxes normalized to the recognized image
    QStringList languages;

    bool operator==(const OCRResult &) const = default;

    bool isLowConfidence() const { return OCRLayout::isLowConfidence(observations); }

    // The observations in reading order and their text.
    static OCRResult fromObservations(
        const QList<CaptureTextObservation> &observations, const QStringList &languages);
};
