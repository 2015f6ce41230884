#include "Capture/OCRService.h"

#include "Capture/GlyphInk.h"
#include "Capture/PageAnalysis.h"

#include "Documents/TextSanitizer.h"
#include "Platform/FreedMemory.h"
#include "Platform/TesseractEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QPainter>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Text whose capitals are shorter than this is enlarged before recognition: the engine reads
// screen-sized text far better at twice its size.
constexpr int upscaleBelowCapHeight = 20;
constexpr int tripleBelowCapHeight = 6;

// A gap between words at least this many line heights wide may be a gutter between columns.
constexpr double gutterPerLineHeight = 0.8;
// The confidence below which a line of marks alone (no letter or digit) is taken for noise; the
// same bar below which a whole result counts as weak.
constexpr double sureOfMarks = 0.5;
// On a noisy ground, the confidence below which a word is taken for grain: words made of grain come
// far below it, text on the same ground above.
constexpr double sureOnNoise = 0.7;
constexpr double sureOfText = 0.85;
// Never hand the engine more than this many pixels at once: its layout pass cannot be stopped, and
// takes about a tenth of a second at this size, the enlarging before it as long again.
constexpr qint64 maximumEnginePixels = 2'500'000;

using Piece = PageAnalysis::Piece;

using Line = TesseractEngine::Line;
using Word = TesseractEngine::Word;

// Awaits a worker's future, and tells the worker to stop the moment the awaiting task is cancelled;
// the task goes on once the worker has let go.
template <typename T> class StoppingFutureAwaiter : public FutureAwaiter<T>
{
public:
    StoppingFutureAwaiter(QFuture<T> future, std::function<void()> stop)
        : FutureAwaiter<T>(std::move(future))
        , m_stop(std::move(stop))
    { }
    template <typename P> void await_suspend(std::coroutine_handle<P> frame)
    {
        m_state = frame.promise().state();
        FutureAwaiter<T>::await_suspend(frame);
        m_state->setCancelWaker(m_stop);
        if (m_state->isCancelled())
            m_stop();
    }
    decltype(auto) await_resume()
    {
        if (m_state)
            m_state->clearCancelWaker();
        return FutureAwaiter<T>::await_resume();
    }

private:
    std::function<void()> m_stop;
    std::shared_ptr<TaskDetail::StateBase> m_state;
};

// The gaps between a line's words that are as wide as a column gutter: [left, right) in pixels.
std::vector<std::pair<int, int>> wideGaps(const Line &line)
{
    std::vector<std::pair<int, int>> gaps;
    for (qsizetype i = 1; i < line.words.size(); ++i) {
        const int from = line.words[i - 1].box.right() + 1;
        const int to = line.words[i].box.left();
        if (to - from >= gutterPerLineHeight * line.box.height())
            gaps.emplace_back(from, to);
    }
    return gaps;
}

// A block read as one may hold columns whose lines the engine joined across the gutter. A wide
// gap that stays clear of ink in the lines just above and below is such a gutter: the line is
// cut there, so that each column keeps its own lines. No gap narrower than `narrowest` is one.
QList<Line> splitAtGutters(QList<Line> lines, int narrowest)
{
    // The widest part of [from, to) that no word of the neighbouring lines covers.
    const auto widestClear = [&lines](qsizetype self, int from, int to) {
        const Line &line = lines[self];
        std::vector<std::pair<int, int>> covered;
        bool hasNeighbour = false;
        for (qsizetype j = 0; j < lines.size(); ++j) {
            const QRect &other = lines[j].box;
            if (j == self || std::abs(other.center().y() - line.box.center().y()) > 2 * line.box.height())
                continue;
            hasNeighbour = true;
            for (const Word &word : lines[j].words)
                covered.emplace_back(word.box.left(), word.box.right() + 1);
        }
        if (!hasNeighbour)
            return 0;
        std::sort(covered.begin(), covered.end());
        int widest = 0;
        int reached = from;
        for (const auto &[left, right] : covered) {
            if (left >= to)
                break;
            widest = std::max(widest, left - reached);
            reached = std::max(reached, right);
        }
        return std::max(widest, to - reached);
    };
    QList<Line> result;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        std::vector<std::pair<int, int>> gutters;
        for (const auto &[from, to] : wideGaps(lines[i])) {
            const int clear = widestClear(i, from, to);
            if (clear >= gutterPerLineHeight * lines[i].box.height() && clear >= narrowest)
                gutters.emplace_back(from, to);
        }
        // A piece no wider than a character or two (a diff's sign, a bullet) stays with its line.
        const int narrowPiece = 3 * lines[i].box.height() / 2;
        std::vector<int> cuts;
        int pieceLeft = lines[i].box.left();
        for (std::size_t g = 0; g < gutters.size(); ++g) {
            const int nextRight = g + 1 < gutters.size() ? gutters[g + 1].first : lines[i].box.right() + 1;
            if (gutters[g].first - pieceLeft < narrowPiece || nextRight - gutters[g].second < narrowPiece)
                continue;
            cuts.push_back(gutters[g].second);
            pieceLeft = gutters[g].second;
        }
        if (cuts.empty()) {
            result.push_back(std::move(lines[i]));
            continue;
        }
        qsizetype next = 0;
        for (std::size_t c = 0; c <= cuts.size(); ++c) {
            const int end = c < cuts.size() ? cuts[c] : std::numeric_limits<int>::max();
            Line piece;
            QStringList texts;
            double confidence = 0;
            for (; next < lines[i].words.size() && lines[i].words[next].box.left() < end; ++next) {
                const Word &word = lines[i].words[next];
                texts << word.text;
                piece.box = piece.box.united(word.box);
                confidence += word.confidence;
                piece.words.push_back(word);
            }
            if (piece.words.empty())
                continue;
            piece.text = texts.join(QLatin1Char(' '));
            piece.confidence = confidence / double(piece.words.size());
            result.push_back(std::move(piece));
        }
    }
    return result;
}

// Hex identifiers (hashes, ids, fingerprints) are strings no dictionary helps with: the engine
// reads "0" as "@" or "O", "1" as "i", "c" as "¢", mixes the case of their letters, and breaks
// them at "-" and ":". Within a long run of hex digits that holds digits and letters, a look-alike is
// the digit or letter it stands for, the letters take the case most of them have, and the run is
// joined again.
QString repairedIdentifiers(const QString &text)
{
    static const QHash<QChar, QChar> lookAlikes { { u'@', u'0' }, { u'O', u'0' }, { u'o', u'0' },
        { u'¢', u'c' }, { u'€', u'e' }, { u'£', u'f' }, { u'l', u'1' }, { u'I', u'1' }, { u'i', u'1' },
        { u'S', u'5' } };
    const auto isHex = [](QChar c) { return c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f'); };
    // One stretch between colons (its groups joined by "-"), repaired when it is clearly an identifier.
    const auto repaired = [&](const QString &part) {
        int digits = 0;
        int letters = 0;
        int alike = 0;
        for (const QChar c : part) {
            if (c.isDigit())
                ++digits;
            else if (isHex(c))
                ++letters;
            else if (lookAlikes.contains(c))
                ++alike;
            else if (c != u'-')
                return part;
        }
        const int all = digits + letters + alike;
        if (digits < 2 || letters < 1)
            return part;
        // A short one (an abbreviated hash) is too like a word to judge by more than one look-alike,
        // and its case is its own.
        if (all < 8) {
            if (all < 5 || alike != 1)
                return part;
            // An "S" may as well be a "3" or a "9" there.
            QString out = part;
            for (QChar &c : out) {
                if (c != u'S')
                    c = lookAlikes.value(c, c);
            }
            return out;
        }
        if (4 * alike > all)
            return part;
        QString out = part;
        int lower = 0;
        int upper = 0;
        for (QChar &c : out) {
            c = lookAlikes.value(c, c);
            lower += c >= u'a' && c <= u'f';
            upper += c >= u'A' && c <= u'F';
        }
        if (lower >= 2 * upper)
            out = out.toLower();
        else if (upper >= 2 * lower)
            out = out.toUpper();
        return out;
    };
    const auto isIdentifier = [&](const QString &part) {
        return part.size() >= 4 && std::all_of(part.begin(), part.end(), isHex)
            && std::any_of(part.begin(), part.end(), [](QChar c) { return c.isDigit(); });
    };
    // A number in scientific notation, its mantissa's "1" read as "l", "I" or "i", its "0" as "O".
    static const QRegularExpression scientific(QStringLiteral(R"(^[-+]?[\dlIiO]*\.?[\dlIiO]+[eE][-+]?\d+$)"));
    const auto digitsFor = [](QString word, qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i) {
            if (word[i] == u'l' || word[i] == u'I' || word[i] == u'i')
                word[i] = u'1';
            else if (word[i] == u'O')
                word[i] = u'0';
        }
        return word;
    };
    QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString &word : words) {
        if (scientific.match(word).hasMatch()) {
            word = digitsFor(word, 0, word.indexOf(QRegularExpression(QStringLiteral("[eE]"))));
            continue;
        }
        QStringList parts = word.split(QLatin1Char(':'));
        for (QString &part : parts)
            part = repaired(part);
        word = parts.join(QLatin1Char(':'));
    }
    // "886cd2a6 -d491-eb32", "sha256 :e173d283", "sha256 : e173d283": one identifier.
    for (qsizetype i = 0; i + 1 < words.size();) {
        const QString &next = words[i + 1];
        const bool joins = (next.startsWith(QLatin1Char('-')) || next.startsWith(QLatin1Char(':')))
            && (next.size() == 1 ? i + 2 < words.size() && isIdentifier(words[i + 2].section(u'-', 0, 0))
                                 : isIdentifier(next.mid(1).section(u'-', 0, 0)))
            && (next.startsWith(QLatin1Char(':')) || isIdentifier(words[i].section(u'-', -1)));
        if (!joins) {
            ++i;
            continue;
        }
        words[i] += next;
        words.removeAt(i + 1);
        if (next.size() == 1) {
            words[i] += words[i + 1];
            words.removeAt(i + 1);
        }
    }
    return words.join(QLatin1Char(' '));
}

// One of a numbered series read with the letter its digit looks like: "ql" in a row beside "q2",
// the row a table's cells may be read apart in. Letters with no such sibling in the row ("al"
// without "a2") are a word.
QString repairedSeries(const QString &text, const QString &row)
{
    static const QRegularExpression numbered(QStringLiteral(R"((?<!\S)([A-Za-z]{1,3})\d+(?!\S))"));
    static const QRegularExpression series(QStringLiteral(R"((?<!\S)([A-Za-z]{1,3})[lIO](?!\S))"));
    QStringList prefixes;
    for (auto it = numbered.globalMatch(row); it.hasNext();)
        prefixes << it.next().captured(1);
    if (prefixes.isEmpty())
        return text;
    QString out = text;
    for (auto it = series.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (prefixes.contains(match.captured(1))) {
            QChar &digit = out[match.capturedEnd() - 1];
            digit = digit == u'O' ? u'0' : u'1';
        }
    }
    return out;
}

// Spaces decided again from the engine's glyph boxes, against the block's and the line's own
// spacing. At small sizes the engine runs a unit into its number ("221kB"): a proportional font's
// space is little wider than the gaps between its letters. Where a digit meets a letter within a
// word, a gap clearly wider than the block's own gaps between letters, and not much narrower than
// the line's spaces, is a space.
void respace(QList<Line> &lines, int capHeight)
{
    using Glyph = TesseractEngine::Glyph;
    const auto gapBetween
        = [](const Glyph &left, const Glyph &right) { return right.box.left() - left.box.right() - 1; };
    const auto spelled = [](const Word &word) {
        QString text;
        for (const Glyph &glyph : word.glyphs)
            text += glyph.text;
        return !word.glyphs.isEmpty() && text == word.text;
    };
    const auto median = [](std::vector<int> values) {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    // A "1" is left out: its ink stands off the middle of its advance, further in some fonts than others.
    const auto isDigit = [](const Glyph &glyph) {
        return glyph.text.size() == 1 && glyph.text[0].isDigit() && glyph.text[0] != u'1';
    };
    // Twice the distance between the middles of two glyphs.
    const auto middles = [](const Glyph &left, const Glyph &right) {
        return right.box.left() + right.box.right() - left.box.left() - left.box.right();
    };
    // At small sizes the engine may box a word's glyphs across each other; where it did, their
    // places tell nothing of its spacing.
    const auto orderly = [](const Word &word) {
        for (qsizetype g = 1; g < word.glyphs.size(); ++g) {
            if (word.glyphs[g].box.left() <= word.glyphs[g - 1].box.right())
                return false;
        }
        return true;
    };
    std::vector<int> letterGaps;
    // Between the middles of two digits side by side in a word, twice over.
    std::vector<int> digitPitches;
    // From a digit to a decimal point or a thousands' comma within a number, and from it to the next.
    std::vector<int> gapsBeforeSeparator;
    std::vector<int> separatorGaps;
    const auto isSeparator = [](const QString &text) { return text == u"." || text == u","; };
    for (const Line &line : lines) {
        for (const Word &word : line.words) {
            for (qsizetype g = 1; spelled(word) && g < word.glyphs.size(); ++g) {
                letterGaps.push_back(gapBetween(word.glyphs[g - 1], word.glyphs[g]));
                if (isDigit(word.glyphs[g - 1]) && isDigit(word.glyphs[g]) && orderly(word))
                    digitPitches.push_back(middles(word.glyphs[g - 1], word.glyphs[g]));
                if (g >= 2 && isSeparator(word.glyphs[g - 1].text)
                    && word.glyphs[g - 2].text.front().isDigit() && word.glyphs[g].text.front().isDigit()) {
                    gapsBeforeSeparator.push_back(gapBetween(word.glyphs[g - 2], word.glyphs[g - 1]));
                    separatorGaps.push_back(gapBetween(word.glyphs[g - 1], word.glyphs[g]));
                }
            }
        }
    }
    if (letterGaps.size() < 3 || capHeight <= 0)
        return;
    const double spaceBeyondLetters = median(letterGaps) + 0.2 * capHeight;
    // Digits stand one advance apart, in proportional fonts too, where a space is narrow enough for
    // the engine to run two numbers into one ("1.6 2.8" read "1.62.8"): digits whose middles stand
    // clearly further apart than the block's digits do, with room for a space between their boxes
    // not much narrower than the line's own spaces, are two numbers.
    const int digitPitch = digitPitches.size() >= 4 ? median(digitPitches) : 0;
    const auto spacedDigits = [&](const Glyph &left, const Glyph &right) {
        return digitPitch > 0 && isDigit(left) && isDigit(right)
            && 100 * middles(left, right) >= 142 * digitPitch && 6 * gapBetween(left, right) >= digitPitch;
    };
    // 0 for a mark, 1 for a digit, 2 for a letter.
    const auto classOf = [](const Glyph &glyph) {
        if (glyph.text.size() != 1 || !glyph.text[0].isLetterOrNumber())
            return 0;
        return glyph.text[0].isDigit() ? 1 : 2;
    };
    for (Line &line : lines) {
        std::vector<int> spaces;
        for (qsizetype i = 1; i < line.words.size(); ++i)
            spaces.push_back(line.words[i].box.left() - line.words[i - 1].box.right() - 1);
        const double narrowestSpace = spaces.empty() ? 0 : 0.6 * median(spaces);
        QList<Word> words;
        for (const Word &word : line.words) {
            qsizetype from = 0;
            for (qsizetype g = 1; spelled(word) && g < word.glyphs.size(); ++g) {
                const Glyph &left = word.glyphs[g - 1];
                const Glyph &right = word.glyphs[g];
                const int gap = gapBetween(left, right);
                if (!(spacedDigits(left, right) && gap >= narrowestSpace && orderly(word))
                    && (classOf(left) == 0 || classOf(right) == 0 || classOf(left) == classOf(right)
                        || gap < spaceBeyondLetters || gap < narrowestSpace))
                    continue;
                words.push_back({ QString(), QRect(), word.confidence, word.glyphs.mid(from, g - from) });
                from = g;
            }
            if (from == 0) {
                words.push_back(word);
                continue;
            }
            words.push_back({ QString(), QRect(), word.confidence, word.glyphs.mid(from) });
            for (qsizetype w = words.size() - 1; w >= 0 && words[w].text.isEmpty(); --w) {
                for (const Glyph &glyph : words[w].glyphs) {
                    words[w].text += glyph.text;
                    words[w].box = words[w].box.united(glyph.box);
                }
            }
        }
        // A mark alone in a monospaced cell (a point, an underscore) leaves a gap the engine takes
        // for a space; one clearly narrower than the line's spaces is none. A number's point or
        // comma has no wider a gap on either side than the block's other numbers show, where a line
        // of one word has no spaces to judge by.
        const auto widest = [&](const std::vector<int> &gaps) {
            return gaps.size() >= 2 ? median(gaps) + 0.2 * capHeight : -1.0;
        };
        const double widestBeforeSeparator = widest(gapsBeforeSeparator);
        const double widestSeparatorGap = widest(separatorGaps);
        bool joined = false;
        {
            const double widestJoin = spaces.size() >= 3 ? 0.6 * median(spaces) : -1;
            for (qsizetype i = 1; i < words.size();) {
                Word &left = words[i - 1];
                const Word &right = words[i];
                const int gap = right.box.left() - left.box.right() - 1;
                const bool mark = !left.text.isEmpty() && !right.text.isEmpty()
                    && (!left.text.back().isLetterOrNumber() || !right.text.front().isLetterOrNumber());
                const bool separated = left.text.size() >= 2 && isSeparator(left.text.back())
                    && left.text[left.text.size() - 2].isDigit() && !right.text.isEmpty()
                    && right.text.front().isDigit();
                const bool separates = !left.text.isEmpty() && left.text.back().isDigit()
                    && right.text.size() >= 2 && isSeparator(right.text.front()) && right.text[1].isDigit();
                if (!(mark && gap < widestJoin) && !(separated && gap <= widestSeparatorGap)
                    && !(separates && gap <= widestBeforeSeparator)) {
                    ++i;
                    continue;
                }
                left.text += right.text;
                left.box = left.box.united(right.box);
                left.glyphs += right.glyphs;
                left.confidence = std::min(left.confidence, right.confidence);
                words.removeAt(i);
                joined = true;
            }
        }
        if (words.size() == line.words.size() && !joined)
            continue;
        QStringList texts;
        for (const Word &word : words)
            texts << word.text;
        line.words = std::move(words);
        line.text = texts.join(QLatin1Char(' '));
    }
}

// The engine's lines of `gray`, without specks and with columns it joined cut apart. On a noisy
// ground only the words the engine is sure of are kept.
std::optional<QList<Line>> readBlock(TesseractEngine &engine, const QImage &gray, int resolution,
    int capHeight, int narrowestGutter, bool noisy, const std::function<bool()> &shouldStop)
{
    std::optional<QList<Line>> lines = engine.read(gray, resolution, shouldStop);
    if (!lines)
        return std::nullopt;
    if (!noisy) {
        GlyphInk::reviseByShape(*lines, gray);
        GlyphInk::restoreUnderscores(*lines, gray);
    }
    respace(*lines, capHeight);
    if (noisy) {
        for (Line &line : *lines) {
            const qsizetype before = line.words.size();
            // Beside a word it is sure of, a word it is less sure of is text all the same.
            const bool sureLine = std::any_of(line.words.begin(), line.words.end(),
                [](const Word &word) { return word.confidence >= sureOfText; });
            line.words.removeIf([sureLine](const Word &word) {
                return word.confidence < (sureLine ? sureOfMarks : sureOnNoise);
            });
            if (line.words.size() == before)
                continue;
            QStringList texts;
            double confidence = 0;
            line.box = QRect();
            for (const Word &word : line.words) {
                texts << word.text;
                confidence += word.confidence;
                line.box = line.box.united(word.box);
            }
            line.text = texts.join(QLatin1Char(' '));
            line.confidence = line.words.isEmpty() ? 0 : confidence / double(line.words.size());
        }
    }
    // A line without a letter or digit is kept only when the engine is sure of it (a closing
    // brace in code); otherwise it is a speck, rule or icon read as marks. A piece of a line
    // that holds words is kept whatever it reads.
    lines->removeIf([](const Line &line) {
        return line.box.isEmpty()
            || (!OCRLayout::hasLetterOrDigit(line.text) && line.confidence < sureOfMarks);
    });
    for (Line &line : *lines) {
        line.text = repairedIdentifiers(line.text);
        for (Word &word : line.words)
            word.text = repairedIdentifiers(word.text);
    }
    return splitAtGutters(std::move(*lines), narrowestGutter);
}

// Loading an engine costs more than a typical recognition, so a thread keeps its engine while
// recognitions come; not for the whole day a tray program runs, though, since each holds tens of
// megabytes.
std::atomic<int> engineIdleMs { 30 * 1000 };
std::atomic<int> recognitionsRunning { 0 };

// Threads that help read the stretches of one image, each with its own engine: shared by every
// recognition, and never waited for, since the recognizing thread takes stretches itself.
QThreadPool *readingHelpers()
{
    static QPointer<QThreadPool> pool;
    static std::once_flag once;
    std::call_once(once, [] {
        pool = new QThreadPool;
        pool->setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 0, 3));
        pool->setExpiryTimeout(engineIdleMs);
        // Owned by the application, so the engines are unloaded before it goes away; it is first
        // needed on a worker, and only the application's own thread may adopt it.
        if (QCoreApplication *application = QCoreApplication::instance()) {
            QThreadPool *made = pool;
            made->moveToThread(application->thread());
            QMetaObject::invokeMethod(application, [made, application] { made->setParent(application); });
        }
    });
    return pool;
}

// One stretch of the page to read, enlarged `scale` times on a border of `margin` pixels; no gap
// between its words narrower than `narrowestGutter` (in the page's pixels) is a gutter.
struct Stretch
{
    QRect area;
    int scale = 1;
    int margin = 0;
    int narrowestGutter = 0;
    bool noisy = false;
    int capHeight = 0;
};

// The pieces of each stretch, in the page's pixels. The calling thread reads stretches until none
// is left, helpers that are free take others; a cancel reaches them through `stopped` within a
// word, and the calling thread, which alone asks `shouldStop`, keeps asking while it waits.
std::vector<std::vector<Piece>> readStretches(
    const QImage &gray, int ground, std::vector<Stretch> stretches, const std::function<bool()> &shouldStop)
{
    struct Reading
    {
        QImage gray;
        int ground = 255;
        std::vector<Stretch> stretches;
        std::vector<std::vector<Piece>> pieces;
        std::atomic<std::size_t> next { 0 };
        std::atomic<bool> stopped { false };
        std::mutex mutex;
        std::condition_variable progress;
        std::size_t done = 0;
        std::exception_ptr failure;
    };
    auto reading = std::make_shared<Reading>();
    reading->gray = gray;
    reading->ground = ground;
    reading->stretches = std::move(stretches);
    reading->pieces.resize(reading->stretches.size());

    const auto take = [](Reading &reading, TesseractEngine &engine, const std::function<bool()> &stopHere) {
        for (std::size_t i = reading.next++; i < reading.stretches.size(); i = reading.next++) {
            try {
                if (reading.stopped)
                    throw TaskCancelled();
                const Stretch &stretch = reading.stretches[i];
                const QRect area = stretch.area;
                // The border has the ground's own brightness: a brighter one would set the engine's
                // threshold between it and the ground, and faint text on a grey ground would vanish.
                QImage framed(area.width() + 2 * stretch.margin, area.height() + 2 * stretch.margin,
                    QImage::Format_Grayscale8);
                framed.fill(reading.ground);
                {
                    QPainter painter(&framed);
                    painter.drawImage(QPoint(stretch.margin, stretch.margin), reading.gray, area);
                }
                if (stretch.scale > 1)
                    framed = framed.scaled(
                        framed.size() * stretch.scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                const std::optional<QList<Line>> lines
                    = readBlock(engine, framed, 96 * stretch.scale, stretch.capHeight * stretch.scale,
                        stretch.narrowestGutter * stretch.scale, stretch.noisy, stopHere);
                if (stopHere())
                    throw TaskCancelled();
                if (!lines)
                    throw OCRError("The text recognition engine could not read this image.");
                for (const Line &line : *lines) {
                    const auto back
                        = [&](int at, int origin) { return at / stretch.scale - stretch.margin + origin; };
                    reading.pieces[i].push_back({ line.text,
                        QRect(QPoint(back(line.box.left(), area.left()), back(line.box.top(), area.top())),
                            QPoint(back(line.box.right(), area.left()), back(line.box.bottom(), area.top()))),
                        line.confidence });
                }
            } catch (...) {
                reading.stopped = true;
                const std::lock_guard lock(reading.mutex);
                if (!reading.failure)
                    reading.failure = std::current_exception();
            }
            {
                const std::lock_guard lock(reading.mutex);
                ++reading.done;
            }
            reading.progress.notify_all();
        }
    };
    const int helpers
        = int(std::min<std::size_t>(reading->stretches.size(), 1 + readingHelpers()->maxThreadCount())) - 1;
    for (int h = 0; h < helpers; ++h) {
        readingHelpers()->start([reading, take] {
            TesseractEngine &engine = TesseractEngine::forCurrentThread();
            if (engine.isReady())
                take(*reading, engine, [&reading] { return reading->stopped.load(); });
        });
    }
    const std::function<bool()> stopHere = [&] {
        if (!reading->stopped && shouldStop && shouldStop())
            reading->stopped = true;
        return reading->stopped.load();
    };
    take(*reading, TesseractEngine::forCurrentThread(), stopHere);
    {
        std::unique_lock lock(reading->mutex);
        while (reading->done < reading->stretches.size()) {
            reading->progress.wait_for(lock, std::chrono::milliseconds(10));
            lock.unlock();
            stopHere();
            lock.lock();
        }
        if (reading->failure)
            std::rethrow_exception(reading->failure);
    }
    return std::move(reading->pieces);
}

} // namespace

OCRService::OCRService(QObject *parent)
    : QObject(parent)
{ }

namespace {

// The result copied into blocks of the calling thread's heap. The worker's strings lie scattered
// among the pages of the heaps of the threads that read them: kept for as long as a review stays
// open, a few hundred lines would keep megabytes of those heaps resident after everything else in
// them was freed.
OCRResult ownedByThisThread(const OCRResult &result)
{
    const auto copied = [](const QString &text) { return QString(text.constData(), text.size()); };
    OCRResult owned;
    owned.text = copied(result.text);
    owned.observations.reserve(result.observations.size());
    for (const CaptureTextObservation &observation : result.observations)
        owned.observations.push_back(
            { copied(observation.text), observation.boundingBox, observation.confidence });
    owned.languages.reserve(result.languages.size());
    for (const QString &language : result.languages)
        owned.languages.push_back(copied(language));
    return owned;
}

} // namespace

Task<OCRResult> OCRService::recognizeText(QImage image)
{
    // Whatever ends this wait (an answer, a cancel, the owner or the application going away) stops
    // the engine at its next word, so its worker is free again within a moment.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    struct StopOnExit
    {
        std::shared_ptr<std::atomic<bool>> stop;
        ~StopOnExit() { *stop = true; }
    } stopOnExit { stop };
    // Made before the co_await: g++ 12 destroys a lambda written inside a co_await expression twice.
    QFuture<OCRResult> work = QtConcurrent::run(workers(), [image, stop] {
        ++recognitionsRunning;
        // The pages, rows and stretches of a recognition, freed by now, go back when no other
        // recognition runs to reuse them.
        const auto ended = qScopeGuard([] {
            if (--recognitionsRunning == 0)
                FreedMemory::returnToSystemSoon();
        });
        return recognize(image, [stop] { return stop->load(); });
    });
    StoppingFutureAwaiter<OCRResult> answer(std::move(work), [stop] { *stop = true; });
    OCRResult result = co_await answer;
    CurrentTask::checkCancelled();
    co_return ownedByThisThread(result);
}

OCRResult OCRService::recognize(const QImage &image, const std::function<bool()> &shouldStop)
{
    // Laid out in pixels, where both axes share a unit, so gutters compare with line heights.
    const QList<CaptureTextObservation> lines = readLines(image, shouldStop);
    OCRResult result = OCRResult::fromObservations(lines, lines.isEmpty() ? QStringList() : languages());
    result.observations = normalized(result.observations, image.size());
    return result;
}

QList<CaptureTextObservation> OCRService::recognizeLines(const QImage &image)
{
    return normalized(readLines(image, {}), image.size());
}

QList<CaptureTextObservation> OCRService::normalized(
    QList<CaptureTextObservation> observations, QSize imageSize)
{
    const double width = imageSize.width();
    const double height = imageSize.height();
    for (CaptureTextObservation &observation : observations) {
        const QRectF box = observation.boundingBox;
        observation.boundingBox
            = QRectF(box.x() / width, box.y() / height, box.width() / width, box.height() / height);
    }
    return observations;
}

QStringList OCRService::languages()
{
    return { QStringLiteral("en") };
}

QThreadPool *OCRService::workers()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        // Owned by the application, so the engines are unloaded before it goes away.
        pool = new QThreadPool(QCoreApplication::instance());
        // Each engine runs its own few threads inside; more engines than this only compete.
        pool->setMaxThreadCount(std::clamp(QThread::idealThreadCount() / 2, 1, 4));
        pool->setExpiryTimeout(engineIdleMs);
    }
    return pool;
}

std::chrono::milliseconds OCRService::engineIdleTime()
{
    return std::chrono::milliseconds(engineIdleMs.load());
}

void OCRService::setEngineIdleTime(std::chrono::milliseconds idle)
{
    engineIdleMs = int(std::clamp<std::chrono::milliseconds::rep>(idle.count(), 0, 24 * 3600 * 1000));
    workers()->setExpiryTimeout(engineIdleMs);
    readingHelpers()->setExpiryTimeout(engineIdleMs);
}

QList<CaptureTextObservation> OCRService::readLines(
    const QImage &image, const std::function<bool()> &shouldStop)
{
    QList<CaptureTextObservation> observations;
    const PageAnalysis page(image, shouldStop);
    if (page.capHeight() == 0)
        return observations;

    if (!TesseractEngine::forCurrentThread().isReady())
        throw OCRError("The text recognition engine could not load its English language data.");

    // Readers beside this thread take stretches too; a tall block is cut between its lines into
    // stretches that keep all of them busy.
    const int readers = 1 + readingHelpers()->maxThreadCount();
    std::vector<Stretch> stretches;
    for (const QRect &block : page.blocks()) {
        for (const PageAnalysis::Section &section : page.sectionsOf(block)) {
            int scale = section.capHeight < tripleBelowCapHeight ? 3
                : section.capHeight < upscaleBelowCapHeight      ? 2
                                                                 : 1;
            const int margin = std::clamp(section.capHeight, 6, 40);
            const qint64 framedWidth = block.width() + 2 * margin;
            // The engine's coordinates are 16-bit, and the time it cannot be stopped in grows with
            // the pixels it is given: a tall stretch is read in pieces cut between its lines, and
            // enlarged less only when a few lines would not fit at once.
            const auto rowsAt = [&](int s) {
                return int(std::min<qint64>(
                               TesseractEngine::maximumSide / s, maximumEnginePixels / (framedWidth * s * s))
                    - 2 * margin);
            };
            while (scale > 1
                && (framedWidth * scale > TesseractEngine::maximumSide
                    || rowsAt(scale) < 4 * section.capHeight))
                --scale;
            if (framedWidth > TesseractEngine::maximumSide || rowsAt(scale) < 1)
                throw OCRError("This image is too wide for text recognition.");
            const int shared = (section.bottom - section.top + readers - 1) / readers;
            const int rows = std::min(rowsAt(scale), std::max(shared, 12 * section.capHeight));
            for (int top = section.top; top < section.bottom;) {
                int bottom = section.bottom;
                if (bottom - top > rows) {
                    // Between two lines where one fits, else through whatever is there.
                    bottom = top + rows;
                    const auto after = std::upper_bound(section.breaks.begin(), section.breaks.end(), bottom);
                    if (after != section.breaks.begin() && *std::prev(after) > top)
                        bottom = *std::prev(after);
                }
                const QRect area(block.left(), top, block.width(), bottom - top);
                stretches.push_back(
                    { area, scale, margin, section.narrowestGutter, page.isNoisy(area), section.capHeight });
                top = bottom;
            }
        }
    }
    std::vector<Piece> pieces;
    for (std::vector<Piece> &read :
        readStretches(page.gray(), page.ground(), std::move(stretches), shouldStop)) {
        for (Piece &piece : read)
            pieces.push_back({ piece.text, piece.box & image.rect(), piece.confidence });
    }

    const double height = image.height();
    std::vector<Piece> joined = page.joinCells(std::move(pieces));
    for (Piece &piece : joined) {
        if (piece.box.isEmpty())
            continue;
        QStringList row;
        for (const Piece &other : joined) {
            if (other.box.top() <= piece.box.center().y() && piece.box.center().y() <= other.box.bottom())
                row << other.text;
        }
        CaptureTextObservation observation;
        observation.text = TextSanitizer::validUtf16(repairedSeries(piece.text, row.join(QLatin1Char(' '))));
        const QRectF box(piece.box);
        observation.boundingBox = QRectF(box.x(), height - box.bottom() - 1, box.width(), box.height());
        observation.confidence = piece.confidence;
        observations.append(observation);
    }
    return observations;
}