#include "OCRLayout.h"

#include "Graphemes.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

double finiteOrZero(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

struct VerticalRange
{
    double bottom = 0;
    double top = 0;
    double height() const { return top - bottom; }
};

VerticalRange rangeOf(const CaptureTextObservation &observation)
{
    const double y = finiteOrZero(observation.boundingBox.y());
    const double h = finiteOrZero(observation.boundingBox.height());
    return h >= 0 ? VerticalRange { y, y + h } : VerticalRange { y + h, y };
}

double leftOf(const CaptureTextObservation &observation)
{
    const double x = finiteOrZero(observation.boundingBox.x());
    return std::min(x, x + finiteOrZero(observation.boundingBox.width()));
}

bool isQuote(char32_t c)
{
    switch (c) {
    case U'"':
    case U'\'':
    case U'`':
    case U'\u00AB': // «
    case U'\u00BB': // »
    case U'\u2018': // ‘
    case U'\u2019': // ’
    case U'\u201A': // ‚
    case U'\u201B': // ‛
    case U'\u201C': // “
    case U'\u201D': // ”
    case U'\u201E': // „
    case U'\u201F': // ‟
    case U'\u2039': // ‹
    case U'\u203A': // ›
    case U'\u300C': // 「
    case U'\u300D': // 」
    case U'\u300E': // 『
    case U'\u300F': // 』
    case U'\uFF02': // ＂
    case U'\uFF07': // ＇
        return true;
    default:
        return false;
    }
}

bool isTrimmed(char32_t c)
{
    return QChar::isSpace(c) || isQuote(c);
}

QString trimmedOfSpaceAndQuotes(const QString &line)
{
    const QList<uint> codePoints = line.toUcs4();
    qsizetype begin = 0;
    qsizetype end = codePoints.size();
    while (begin < end && isTrimmed(codePoints[begin]))
        ++begin;
    while (end > begin && isTrimmed(codePoints[end - 1]))
        --end;
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(codePoints.constData()) + begin, end - begin);
}

} // namespace

namespace OCRLayout {

bool hasLetterOrDigit(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    return std::any_of(
        codePoints.begin(), codePoints.end(), [](uint c) { return QChar::isLetterOrNumber(char32_t(c)); });
}

QStringList parseTags(const QString &text)
{
    QStringList tags;
    QSet<QString> seen;
    for (const QString &entry : text.split(QLatin1Char(','))) {
        const QString tag = entry.trimmed().toLower();
        if (tag.isEmpty() || seen.contains(tag))
            continue;
        seen.insert(tag);
        tags.append(tag);
    }
    return tags;
}

QString defaultTitle(const QString &text)
{
    static const QRegularExpression lineBreak(
        QStringLiteral("\\r\\n|[\\n\\r\\v\\f\\x{85}\\x{2028}\\x{2029}]"));
    for (const QString &line : text.split(lineBreak)) {
        if (!hasLetterOrDigit(line))
            continue;
        return Graphemes::left(trimmedOfSpaceAndQuotes(line), 80);
    }
    return QStringLiteral("Untitled capture");
}

bool isLowConfidence(const QList<CaptureTextObservation> &observations)
{
    if (observations.isEmpty())
        return true;
    // A confidence that is not a number counts as none at all.
    const double sum = std::accumulate(observations.begin(), observations.end(), 0.0,
        [](double acc, const auto &o) { return acc + finiteOrZero(o.confidence); });
    return sum / double(observations.size()) < 0.5;
}

QList<QList<CaptureTextObservation>> lines(const QList<CaptureTextObservation> &observations)
{
    QList<CaptureTextObservation> byTop = observations;
    std::stable_sort(byTop.begin(), byTop.end(), [](const auto &a, const auto &b) {
        const double topA = rangeOf(a).top, topB = rangeOf(b).top;
        if (topA != topB)
            return topA > topB;
        return leftOf(a) < leftOf(b);
    });

    QList<QList<CaptureTextObservation>> result;
    VerticalRange band;
    for (const CaptureTextObservation &observation : byTop) {
        const VerticalRange range = rangeOf(observation);
        if (!result.isEmpty()) {
            const double overlap = std::min(band.top, range.top) - std::max(band.bottom, range.bottom);
            if (overlap >= 0.5 * std::min(band.height(), range.height())) {
                result.last().append(observation);
                band = { std::min(band.bottom, range.bottom), std::max(band.top, range.top) };
                continue;
            }
        }
        result.append({ observation });
        band = range;
    }
    for (auto &line : result) {
        std::stable_sort(
            line.begin(), line.end(), [](const auto &a, const auto &b) { return leftOf(a) < leftOf(b); });
    }
    return result;
}

QList<CaptureTextObservation> readingOrder(const QList<CaptureTextObservation> &observations)
{
    QList<CaptureTextObservation> ordered;
    for (const auto &line : lines(observations))
        ordered.append(line);
    return ordered;
}

QString text(const QList<CaptureTextObservation> &observations)
{
    QStringList lineTexts;
    for (const auto &line : lines(observations)) {
        QStringList words;
        for (const CaptureTextObservation &observation : line) {
            const QString word = observation.text.trimmed();
            if (!word.isEmpty())
                words.append(word);
        }
        if (!words.isEmpty())
            lineTexts.append(words.join(QLatin1Char(' ')));
    }
    return lineTexts.join(QLatin1Char('\n'));
}

} // namespace OCRLayout

OCRResult OCRResult::fromObservations(
    const QList<CaptureTextObservation> &observations, const QStringList &languages)
{
    return OCRResult { OCRLayout::text(observations), OCRLayout::readingOrder(observations), languages };
}
