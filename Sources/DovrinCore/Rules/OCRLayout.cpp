#include "Rules/OCRLayout.h"

#include "Documents/Graphemes.h"
#include "Documents/TextSanitizer.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>
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

// One observation as the layout sees it.
struct Item
{
    qsizetype index = 0;
    double left = 0;
    double right = 0;
    double bottom = 0;
    double top = 0;
    int words = 0;
    int lowerCaseWords = 0; // words that begin with a lower-case letter
    int wordsWithDigits = 0;
    double height() const { return top - bottom; }
};

using Rows = QList<QList<Item>>;
using Span = std::pair<double, double>;

// A gap between two columns is wider than this many line heights; gaps between words are far
// narrower.
constexpr double gutterPerLineHeight = 0.8;

Item itemOf(qsizetype index, const CaptureTextObservation &observation)
{
    const VerticalRange range = rangeOf(observation);
    const double left = leftOf(observation);
    const double right = std::max(left, left + std::abs(finiteOrZero(observation.boundingBox.width())));
    Item item { index, left, right, range.bottom, range.top };
    for (const QString &word : observation.text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        ++item.words;
        const auto letter = std::find_if(word.begin(), word.end(), [](QChar c) { return c.isLetter(); });
        item.lowerCaseWords += letter != word.end() && letter->isLower();
        item.wordsWithDigits += std::any_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
    }
    return item;
}

bool shareRow(double bottomA, double topA, double bottomB, double topB)
{
    const double overlap = std::min(topA, topB) - std::max(bottomA, bottomB);
    return overlap >= 0.5 * std::min(topA - bottomA, topB - bottomB);
}

// Items grouped into rows (boxes that share at least half of the smaller one's height), top to
// bottom, each row left to right.
Rows rowsOf(QList<Item> items)
{
    std::stable_sort(items.begin(), items.end(), [](const Item &a, const Item &b) {
        if (a.top != b.top)
            return a.top > b.top;
        return a.left < b.left;
    });
    Rows rows;
    double bandBottom = 0;
    double bandTop = 0;
    for (const Item &item : items) {
        if (!rows.isEmpty() && shareRow(bandBottom, bandTop, item.bottom, item.top)) {
            rows.last().append(item);
            bandBottom = std::min(bandBottom, item.bottom);
            bandTop = std::max(bandTop, item.top);
            continue;
        }
        rows.append({ item });
        bandBottom = item.bottom;
        bandTop = item.top;
    }
    for (auto &row : rows)
        std::stable_sort(
            row.begin(), row.end(), [](const Item &a, const Item &b) { return a.left < b.left; });
    return rows;
}

// The stretches of [from, to] that no item covers and that are at least `minimum` wide.
QList<Span> freeSpans(QList<Item> items, double from, double to, double minimum)
{
    std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.left < b.left; });
    QList<Span> spans;
    double reached = from;
    for (const Item &item : items) {
        if (item.left - reached >= minimum && item.left > reached)
            spans.append({ reached, item.left });
        reached = std::max(reached, item.right);
    }
    if (to - reached >= minimum && to > reached)
        spans.append({ reached, to });
    return spans;
}

QList<Span> intersected(const QList<Span> &a, const QList<Span> &b, double minimum)
{
    QList<Span> result;
    for (const Span &x : a) {
        for (const Span &y : b) {
            const Span both { std::max(x.first, y.first), std::min(x.second, y.second) };
            if (both.second - both.first >= minimum && both.second > both.first)
                result.append(both);
        }
    }
    return result;
}

// Running text: more than one row, nearly all with several words, most of them in lower case and
// few with digits (rows of a table hold names, numbers and dates), at least half of the rows filling
// the column (the last line of a paragraph is short).
bool isProse(const Rows &rows)
{
    if (rows.size() < 2)
        return false;
    double left = std::numeric_limits<double>::max();
    double right = std::numeric_limits<double>::lowest();
    for (const auto &row : rows) {
        left = std::min(left, row.first().left);
        for (const Item &item : row)
            right = std::max(right, item.right);
    }
    qsizetype wordy = 0;
    qsizetype full = 0;
    for (const auto &row : rows) {
        double rowRight = row.first().right;
        int words = 0;
        int lowerCase = 0;
        int withDigits = 0;
        for (const Item &item : row) {
            rowRight = std::max(rowRight, item.right);
            words += item.words;
            lowerCase += item.lowerCaseWords;
            withDigits += item.wordsWithDigits;
        }
        wordy += words >= 3 && 2 * lowerCase >= words && 3 * withDigits <= words;
        full += rowRight - row.first().left >= 0.6 * (right - left);
    }
    return wordy * 3 >= rows.size() * 2 && full * 2 >= rows.size();
}

// Whether two groups either side of a gap are read one after the other rather than row by row:
// both are running text, or they stand side by side (most rows of one overlap rows of the other)
// without their rows lining up, as rows of a table or a form do.
bool readSeparately(const QList<Item> &leftItems, const QList<Item> &rightItems)
{
    const Rows left = rowsOf(leftItems);
    const Rows right = rowsOf(rightItems);
    if (isProse(left) && isProse(right))
        return true;
    const Rows &fewer = left.size() <= right.size() ? left : right;
    const Rows &more = left.size() <= right.size() ? right : left;
    const auto span = [](const QList<Item> &row) {
        double bottom = row.first().bottom;
        double top = row.first().top;
        for (const Item &item : row) {
            bottom = std::min(bottom, item.bottom);
            top = std::max(top, item.top);
        }
        return Span { bottom, top };
    };
    qsizetype beside = 0;
    qsizetype aligned = 0;
    for (const auto &row : fewer) {
        const Span a = span(row);
        bool touches = false;
        bool lines = false;
        for (const auto &other : more) {
            const Span b = span(other);
            touches = touches || std::min(a.second, b.second) > std::max(a.first, b.first);
            lines = lines || shareRow(a.first, a.second, b.first, b.second);
        }
        beside += touches;
        aligned += lines;
    }
    return beside * 2 >= fewer.size() && aligned * 2 < fewer.size();
}

// Rows in reading order: columns that hold text of their own are read one after the other, each
// top to bottom; tables and forms row by row.
Rows orderedRows(const QList<Item> &items, double minimumGutter)
{
    if (items.size() < 2)
        return rowsOf(items);
    double from = std::numeric_limits<double>::max();
    double to = std::numeric_limits<double>::lowest();
    for (const Item &item : items) {
        from = std::min(from, item.left);
        to = std::max(to, item.right);
    }
    // Gutters down the whole group split it into columns; each pair of neighbouring columns decides
    // whether the group is read column by column there.
    QList<Span> gutters;
    for (const Span &gutter : freeSpans(items, from, to, minimumGutter)) {
        if (gutter.first > from && gutter.second < to)
            gutters.append(gutter);
    }
    if (!gutters.isEmpty()) {
        QList<QList<Item>> columns(gutters.size() + 1);
        for (const Item &item : items) {
            qsizetype column = 0;
            while (column < gutters.size() && item.left >= gutters[column].second)
                ++column;
            columns[column].append(item);
        }
        for (qsizetype i = 0; i < gutters.size(); ++i) {
            if (!readSeparately(columns[i], columns[i + 1]))
                continue;
            QList<Item> left;
            QList<Item> right;
            for (const Item &item : items)
                (item.right <= gutters[i].first ? left : right).append(item);
            return orderedRows(left, minimumGutter) + orderedRows(right, minimumGutter);
        }
    }
    // Otherwise bands of rows, top to bottom; neighbouring bands that leave the same stretch free
    // stay together, so columns under a full-width heading are found within their own part.
    QList<Item> byTop = items;
    std::stable_sort(byTop.begin(), byTop.end(), [](const Item &a, const Item &b) { return a.top > b.top; });
    QList<QList<Item>> bands;
    double bandBottom = 0;
    for (const Item &item : byTop) {
        if (!bands.isEmpty() && item.top > bandBottom) {
            bands.last().append(item);
            bandBottom = std::min(bandBottom, item.bottom);
        } else {
            bands.append({ item });
            bandBottom = item.bottom;
        }
    }
    // Only a stretch between text can be a gutter; one that reaches the group's edge is a margin.
    const auto between = [from, to](const QList<Span> &spans) {
        QList<Span> inside;
        for (const Span &span : spans) {
            if (span.first > from && span.second < to)
                inside.append(span);
        }
        return inside;
    };
    QList<QList<Item>> parts;
    QList<Span> shared;
    for (const auto &band : bands) {
        const QList<Span> free = freeSpans(band, from, to, minimumGutter);
        const QList<Span> both = between(intersected(shared, free, minimumGutter));
        if (!parts.isEmpty() && !both.isEmpty()) {
            parts.last().append(band);
            shared = both;
        } else {
            parts.append(band);
            shared = free;
        }
    }
    if (parts.size() < 2)
        return rowsOf(items);
    Rows rows;
    for (const auto &part : parts)
        rows += orderedRows(part, minimumGutter);
    return rows;
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
    for (const QString &line : TextSanitizer::validUtf16(text).split(lineBreak)) {
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
    QList<Item> items;
    items.reserve(observations.size());
    for (qsizetype i = 0; i < observations.size(); ++i)
        items.append(itemOf(i, observations[i]));
    QList<double> heights;
    for (const Item &item : items)
        heights.append(item.top - item.bottom);
    double minimumGutter = 0;
    if (!heights.isEmpty()) {
        std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
        minimumGutter = gutterPerLineHeight * heights[heights.size() / 2];
    }

    QList<QList<CaptureTextObservation>> result;
    for (const QList<Item> &row : orderedRows(items, minimumGutter)) {
        QList<CaptureTextObservation> line;
        for (const Item &item : row)
            line.append(observations[item.index]);
        result.append(line);
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
    QList<CaptureTextObservation> valid = observations;
    for (CaptureTextObservation &observation : valid)
        observation.text = TextSanitizer::validUtf16(observation.text);
    return OCRResult { OCRLayout::text(valid), OCRLayout::readingOrder(valid), languages };
}
