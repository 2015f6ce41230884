#include "TranscriptComparison.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace {

enum class Op { equal, remove, insert };

struct Edit
{
    Op op;
    int count;
};

void append(std::vector<Edit> &edits, Op op, int count)
{
    if (count <= 0)
        return;
    if (!edits.empty() && edits.back().op == op)
        edits.back().count += count;
    else
        edits.push_back({ op, count });
}

void diff(const int *a, int n, const int *b, int m, std::vector<Edit> &edits);

// Myers' middle snake: the point where the shortest edit script crosses its middle, found from both
// ends in linear space; the halves are then compared on their own.
void bisect(const int *a, int n, const int *b, int m, std::vector<Edit> &edits)
{
    const int maxD = (n + m + 1) / 2;
    const int offset = maxD;
    const int length = 2 * maxD + 2;
    std::vector<int> forward(size_t(length), -1);
    std::vector<int> backward(size_t(length), -1);
    forward[size_t(offset + 1)] = 0;
    backward[size_t(offset + 1)] = 0;
    const int delta = n - m;
    const bool fromFront = delta % 2 != 0;
    int k1start = 0, k1end = 0, k2start = 0, k2end = 0;
    const auto split = [&](int x, int y) {
        diff(a, x, b, y, edits);
        diff(a + x, n - x, b + y, m - y, edits);
    };
    for (int d = 0; d < maxD; ++d) {
        for (int k1 = -d + k1start; k1 <= d - k1end; k1 += 2) {
            const int at = offset + k1;
            int x1 = (k1 == -d || (k1 != d && forward[size_t(at - 1)] < forward[size_t(at + 1)]))
                ? forward[size_t(at + 1)]
                : forward[size_t(at - 1)] + 1;
            int y1 = x1 - k1;
            while (x1 < n && y1 < m && a[x1] == b[y1]) {
                ++x1;
                ++y1;
            }
            forward[size_t(at)] = x1;
            if (x1 > n) {
                k1end += 2;
            } else if (y1 > m) {
                k1start += 2;
            } else if (fromFront) {
                const int other = offset + delta - k1;
                if (other >= 0 && other < length && backward[size_t(other)] != -1
                    && x1 >= n - backward[size_t(other)])
                    return split(x1, y1);
            }
        }
        for (int k2 = -d + k2start; k2 <= d - k2end; k2 += 2) {
            const int at = offset + k2;
            int x2 = (k2 == -d || (k2 != d && backward[size_t(at - 1)] < backward[size_t(at + 1)]))
                ? backward[size_t(at + 1)]
                : backward[size_t(at - 1)] + 1;
            int y2 = x2 - k2;
            while (x2 < n && y2 < m && a[n - x2 - 1] == b[m - y2 - 1]) {
                ++x2;
                ++y2;
            }
            backward[size_t(at)] = x2;
            if (x2 > n) {
                k2end += 2;
            } else if (y2 > m) {
                k2start += 2;
            } else if (!fromFront) {
                const int other = offset + delta - k2;
                if (other >= 0 && other < length && forward[size_t(other)] != -1) {
                    const int x1 = forward[size_t(other)];
                    if (x1 >= n - x2)
                        return split(x1, offset + x1 - other);
                }
            }
        }
    }
    append(edits, Op::remove, n);
    append(edits, Op::insert, m);
}

void diff(const int *a, int n, const int *b, int m, std::vector<Edit> &edits)
{
    int prefix = 0;
    while (prefix < n && prefix < m && a[prefix] == b[prefix])
        ++prefix;
    append(edits, Op::equal, prefix);
    a += prefix;
    b += prefix;
    n -= prefix;
    m -= prefix;
    int suffix = 0;
    while (suffix < n && suffix < m && a[n - 1 - suffix] == b[m - 1 - suffix])
        ++suffix;
    n -= suffix;
    m -= suffix;
    if (n == 0)
        append(edits, Op::insert, m);
    else if (m == 0)
        append(edits, Op::remove, n);
    else
        bisect(a, n, b, m, edits);
    append(edits, Op::equal, suffix);
}

// Words in common, in order.
int commonWords(const int *a, int n, const int *b, int m)
{
    std::vector<int> previous(size_t(m) + 1, 0), current(size_t(m) + 1, 0);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= m; ++j)
            current[size_t(j)] = a[i - 1] == b[j - 1] ? previous[size_t(j - 1)] + 1
                                                      : std::max(previous[size_t(j)], current[size_t(j - 1)]);
        std::swap(previous, current);
    }
    return previous[size_t(m)];
}

// A stretch of misreadings or missing words ends at this many words read right in a row; fewer may
// agree by chance inside it.
constexpr int bridgedWords = 2;

} // namespace

QStringList TranscriptComparison::wordsOf(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[^\\p{L}\\p{N}]+"));
    QStringList words;
    for (QString word : text.toLower().split(separators, Qt::SkipEmptyParts)) {
        const auto digits = std::count_if(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
        if (word.size() >= 3 && 2 * digits >= word.size()) {
            for (QChar &c : word) {
                if (c == u'o')
                    c = u'0';
                else if (c == u'i' || c == u'l')
                    c = u'1';
                else if (c == u's')
                    c = u'5';
            }
        }
        words << word;
    }
    return words;
}

TranscriptComparison::TranscriptComparison(
    const QStringList &truth, const QString &recognized, const QStringList &decorations)
    : m_truthLines(int(truth.size()))
{
    QHash<QString, int> codes;
    const auto code
        = [&codes](const QString &word) { return *codes.insert(word, codes.value(word, int(codes.size()))); };
    std::vector<int> expected;
    std::vector<int> lineOf;
    for (int line = 0; line < truth.size(); ++line) {
        for (const QString &word : wordsOf(truth[line])) {
            expected.push_back(code(word));
            lineOf.push_back(line);
        }
    }
    std::vector<int> read;
    for (const QString &word : wordsOf(recognized))
        read.push_back(code(word));

    for (const QString &decoration : decorations) {
        std::vector<int> phrase;
        for (const QString &word : wordsOf(decoration))
            phrase.push_back(code(word));
        int readings = 0;
        for (auto it = read.begin(); !phrase.empty() && it != read.end(); ++it)
            readings
                += size_t(read.end() - it) >= phrase.size() && std::equal(phrase.begin(), phrase.end(), it);
        m_mostDecorationReadings = std::max(m_mostDecorationReadings, readings);
    }

    std::vector<Edit> edits;
    diff(expected.data(), int(expected.size()), read.data(), int(read.size()), edits);

    // Stretches that differ, between runs of words that agree; the last such run is how far down
    // the capture reached.
    struct Change
    {
        int truthFrom = 0;
        int truthTo = 0;
        int readFrom = 0;
        int missing = 0;
        int added = 0;
    };
    std::vector<Change> changes;
    int lastAgreed = -1; // truth word
    int t = 0;
    int r = 0;
    bool open = false;
    for (size_t i = 0; i < edits.size(); ++i) {
        const Edit &edit = edits[i];
        if (edit.op == Op::equal) {
            if (open && edit.count <= bridgedWords && i + 1 < edits.size())
                changes.back().truthTo = t + edit.count;
            else
                open = false;
            // Runs this long do not agree by chance.
            if (edit.count >= TranscriptComparison::significantWords)
                lastAgreed = t + edit.count - 1;
            t += edit.count;
            r += edit.count;
            continue;
        }
        if (!open) {
            changes.push_back({ t, t, r, 0, 0 });
            open = true;
        }
        Change &change = changes.back();
        if (edit.op == Op::remove) {
            change.missing += edit.count;
            t += edit.count;
            change.truthTo = t;
        } else {
            change.added += edit.count;
            r += edit.count;
        }
    }
    m_linesReached = lastAgreed >= 0 ? lineOf[size_t(lastAgreed)] + 1 : 0;

    const auto stretchOf = [&](int from, int to, int words) {
        from = std::clamp(from, 0, std::max(0, int(lineOf.size()) - 1));
        to = std::clamp(to, from + 1, std::max(from + 1, int(lineOf.size())));
        return Stretch { lineOf.empty() ? 0 : lineOf[size_t(from)],
            lineOf.empty() ? 0 : lineOf[size_t(to - 1)], words };
    };
    for (const Change &change : changes) {
        if (change.truthFrom > lastAgreed)
            break; // below the last line read
        if (change.missing >= significantWords && 2 * change.added <= change.missing) {
            m_holes.append(stretchOf(change.truthFrom, change.truthTo, change.missing));
        } else if (change.added >= significantWords && 2 * change.missing <= change.added) {
            // Read twice when the document has those words just around here.
            const int from = std::max(0, change.truthFrom - 3 * change.added - 60);
            const int to = std::min(int(expected.size()), change.truthTo + change.added + 60);
            const int common
                = commonWords(read.data() + change.readFrom, change.added, expected.data() + from, to - from);
            if (5 * common >= 3 * change.added)
                m_doubles.append(stretchOf(change.truthFrom, change.truthFrom + 1, change.added));
            else
                m_extraWords += change.added;
        } else {
            m_garbledWords += std::max(change.missing, change.added);
        }
    }
}

QString TranscriptComparison::summary() const
{
    QStringList parts;
    parts << QStringLiteral("%1 of %2 lines reached").arg(m_linesReached).arg(m_truthLines);
    const auto stretches = [](const QList<Stretch> &list) {
        QStringList text;
        for (const Stretch &s : list)
            text << QStringLiteral("lines %1-%2 (%3 words)")
                        .arg(s.firstLine + 1)
                        .arg(s.lastLine + 1)
                        .arg(s.words);
        return text.join(QStringLiteral(", "));
    };
    if (!m_holes.isEmpty())
        parts << QStringLiteral("missing: ") + stretches(m_holes);
    if (!m_doubles.isEmpty())
        parts << QStringLiteral("read twice: ") + stretches(m_doubles);
    if (m_garbledWords > 0)
        parts << QStringLiteral("%1 words misread").arg(m_garbledWords);
    if (m_extraWords > 0)
        parts << QStringLiteral("%1 words not in the document").arg(m_extraWords);
    if (m_mostDecorationReadings > 1)
        parts << QStringLiteral("a fixed bar read %1 times").arg(m_mostDecorationReadings);
    return parts.join(QStringLiteral("; "));
}
