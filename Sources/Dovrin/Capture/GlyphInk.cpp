#include "Capture/GlyphInk.h"

#include <QRect>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>

namespace {

using Glyph = TesseractEngine::Glyph;
using Line = TesseractEngine::Line;
using Word = TesseractEngine::Word;

int median(std::vector<int> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// A glyph of a line, with the word it belongs to and its place there.
struct Placed
{
    qsizetype word;
    qsizetype at;
    Glyph glyph;
};

// Every glyph of the line left to right; none when the glyphs of a word do not spell it.
std::vector<Placed> placedGlyphs(const Line &line)
{
    std::vector<Placed> glyphs;
    for (qsizetype w = 0; w < line.words.size(); ++w) {
        QString text;
        for (qsizetype g = 0; g < line.words[w].glyphs.size(); ++g) {
            text += line.words[w].glyphs[g].text;
            glyphs.push_back({ w, g, line.words[w].glyphs[g] });
        }
        if (text.isEmpty() || text != line.words[w].text)
            return {};
    }
    return glyphs;
}

// Where a line's letters stand, how far apart, and which of its pixels are ink.
struct Measure
{
    const QImage *gray = nullptr;
    QRect area; // the line with a letter's room around it
    int baseline = 0; // the lowest row of letters without a descender
    int height = 0; // of such a letter
    int advance = 0; // from one letter to the next
    int ground = 255;
    int inkBelow = 0; // a darker pixel is ink
    int coreBelow = 0; // a darker pixel is within a stroke, not on its edge
    int traceBelow = 0; // a darker pixel is some ink, however faint
    bool ink(int x, int y) const
    {
        return gray->rect().contains(x, y) && gray->constScanLine(y)[x] < inkBelow;
    }
    bool core(int x, int y) const
    {
        return gray->rect().contains(x, y) && gray->constScanLine(y)[x] < coreBelow;
    }
    bool trace(int x, int y) const
    {
        return gray->rect().contains(x, y) && gray->constScanLine(y)[x] < traceBelow;
    }
    // Whether the glyph's box holds its strokes closely: none crosses the columns beside it.
    bool fits(const QRect &box) const
    {
        for (int y = box.top(); y <= box.bottom(); ++y) {
            if (core(box.left() - 1, y) || core(box.right() + 1, y))
                return false;
        }
        return true;
    }
};

std::optional<Measure> measured(const Line &line, const std::vector<Placed> &glyphs, const QImage &gray)
{
    std::vector<int> bottoms;
    std::vector<int> heights;
    std::vector<int> advances;
    for (std::size_t g = 0; g < glyphs.size(); ++g) {
        const Glyph &glyph = glyphs[g].glyph;
        if (glyph.text.size() == 1 && glyph.text[0].isLetterOrNumber()
            && !QStringLiteral("gjpqyQ").contains(glyph.text[0])) {
            bottoms.push_back(glyph.box.bottom());
            heights.push_back(glyph.box.height());
        }
        if (g > 0 && glyphs[g - 1].word == glyphs[g].word)
            advances.push_back(glyph.box.left() - glyphs[g - 1].glyph.box.left());
    }
    if (bottoms.size() < 2 || advances.empty())
        return std::nullopt;
    Measure m;
    m.gray = &gray;
    m.baseline = median(bottoms);
    m.height = median(heights);
    m.advance = std::max(2, median(advances));
    m.area = QRect(line.box.left() - m.advance, m.baseline - m.height - m.height / 2,
                 line.box.width() + 2 * m.advance, m.height * 21 / 10 + 1)
        & gray.rect();
    if (m.area.isEmpty() || m.height < 6)
        return std::nullopt;
    // The ground is the line's most common brightness; ink is well on the way from it to the line's
    // darkest.
    std::array<int, 256> counts {};
    for (int y = m.area.top(); y <= m.area.bottom(); ++y) {
        const uchar *row = gray.constScanLine(y);
        for (int x = m.area.left(); x <= m.area.right(); ++x)
            ++counts[row[x]];
    }
    const int ground = int(std::max_element(counts.begin(), counts.end()) - counts.begin());
    int darkest = 0;
    while (darkest < ground && counts[darkest] == 0)
        ++darkest;
    if (ground - darkest < 48)
        return std::nullopt;
    m.ground = ground;
    m.inkBelow = ground - (ground - darkest) / 4;
    m.coreBelow = ground - (ground - darkest) / 2;
    m.traceBelow = ground - std::max(12, (ground - darkest) / 10);
    return m;
}

// The texts and boxes of a line whose words' glyphs changed.
void respelled(Line &line)
{
    QStringList texts;
    line.box = QRect();
    for (Word &word : line.words) {
        word.text.clear();
        word.box = QRect();
        for (const Glyph &glyph : word.glyphs) {
            word.text += glyph.text;
            word.box = word.box.united(glyph.box);
        }
        texts << word.text;
        line.box = line.box.united(word.box);
    }
    line.text = texts.join(QLatin1Char(' '));
}

bool isQuote(const QString &text)
{
    return text.size() == 1 && QStringLiteral("'\"‘’“”").contains(text[0]);
}

bool isCurlyQuote(const QString &text)
{
    return text.size() == 1 && QStringLiteral("‘’“”").contains(text[0]);
}

// Whether the ink of `box` is straight quote strokes: each an upright bar of even weight from top to
// bottom. A curly mark leans like "/" or carries a head at one end. Small marks and marks of fonts
// whose quotes taper are not judged.
bool straightQuoteInInk(const Measure &m, const QRect &box)
{
    // Strokes are runs of columns with ink at their core; one at the box's edge is followed while
    // its ink goes on.
    const auto inked = [&](int x) {
        for (int y = box.top(); y <= box.bottom(); ++y) {
            if (m.core(x, y))
                return true;
        }
        return false;
    };
    int strokes = 0;
    for (int x = box.left(); x <= box.right(); ++x) {
        if (!inked(x))
            continue;
        int from = x;
        while (x + 1 <= box.right() && inked(x + 1))
            ++x;
        int to = x;
        if (from == box.left()) {
            while (from > box.left() - m.advance / 2 && inked(from - 1))
                --from;
        }
        if (to == box.right()) {
            while (to < box.right() + m.advance / 2 && inked(to + 1))
                ++to;
        }
        if (++strokes > 2)
            return false;
        // Each row's centre of ink, weighted by how dark it is, and its weight.
        std::vector<std::pair<double, double>> rows;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            double sum = 0;
            double weight = 0;
            for (int c = from; c <= to; ++c) {
                if (!m.trace(c, y))
                    continue;
                const double w = m.ground - m.gray->constScanLine(y)[c];
                sum += w * c;
                weight += w;
            }
            if (weight > 0)
                rows.emplace_back(sum / weight, weight);
            else if (!rows.empty())
                break;
        }
        if (rows.size() < 6)
            return false;
        const std::size_t third = rows.size() / 3;
        double lean = 0;
        for (std::size_t r = 0; r < third; ++r)
            lean += rows[r].first - rows[rows.size() - 1 - r].first;
        // The end rows are only partly covered; the rows between carry the stroke's weight.
        const auto [lightest, heaviest] = std::minmax_element(rows.begin() + 1, rows.end() - 1,
            [](const auto &a, const auto &b) { return a.second < b.second; });
        if (std::abs(lean) > 0.1 * double(third) || heaviest->second > 1.2 * lightest->second)
            return false;
    }
    return strokes > 0;
}

// The runs of columns with ink across the letters' height within [from, to], each with the rows its
// ink spans; a run that starts or ends at the edge is followed while its ink goes on.
std::vector<QRect> inkRuns(const Measure &m, int from, int to)
{
    const int top = std::max(m.area.top(), m.baseline - 2 * m.height);
    const int bottom = std::min(m.area.bottom(), m.baseline + std::max(1, m.height / 8));
    const auto inked = [&](int x) {
        for (int y = top; y <= bottom; ++y) {
            if (m.ink(x, y))
                return true;
        }
        return false;
    };
    while (from > m.area.left() && inked(from) && inked(from - 1))
        --from;
    while (to < m.area.right() && inked(to) && inked(to + 1))
        ++to;
    const auto darkness = [&](int x) {
        int sum = 0;
        for (int y = top; y <= bottom; ++y)
            sum += std::max(0, m.ground - int(m.gray->constScanLine(y)[x]));
        return sum;
    };
    std::vector<QRect> runs;
    const auto add = [&](int left, int right) {
        // Its rows: those joined to the body of the letters, not a mark of the line above.
        int rowTop = m.baseline - m.height / 2;
        int rowBottom = rowTop;
        const auto rowInked = [&](int y) {
            for (int c = left; c <= right; ++c) {
                if (m.ink(c, y))
                    return true;
            }
            return false;
        };
        while (rowTop > top && rowInked(rowTop - 1))
            --rowTop;
        while (rowBottom < bottom && rowInked(rowBottom + 1))
            ++rowBottom;
        runs.emplace_back(QPoint(left, rowTop), QPoint(right, rowBottom));
    };
    for (int x = from; x <= to; ++x) {
        if (!inked(x))
            continue;
        int left = x;
        while (x + 1 <= to && inked(x + 1))
            ++x;
        // Small digits touch at their blurred edges; they stand a digit's width apart, and where
        // they touch is the faintest column near there.
        const int width = x - left + 1;
        const int pieces = int(std::lround(double(width) / m.advance));
        for (int k = 1; k < pieces && 2 * width > 3 * m.advance; ++k) {
            const int expected = left + (x + 1 - left) / (pieces - k + 1);
            const int reach = std::max(1, m.advance / 3);
            int cut = expected;
            for (int c = std::max(left + 1, expected - reach); c <= std::min(x - 1, expected + reach); ++c) {
                if (darkness(c) < darkness(cut))
                    cut = c;
            }
            add(left, cut - 1);
            left = cut + 1;
        }
        add(left, x);
    }
    return runs;
}

// Whether the ink of `box` is a zero: its outline bows out evenly on both sides from top to bottom,
// closed all round. An "8" draws in at its waist, a "6" is open on the right above its bowl and a
// "9" on the left below it, however closely small sizes draw them; the dot or bar some fonts put
// inside a zero is inside its outline and changes none of that.
bool zeroInInk(const Measure &m, const QRect &box)
{
    // The engine's boxes hold a glyph's darker pixels; the run of ink takes in its lighter edge too.
    const int edge = std::max(3, m.height / 4);
    if (box.height() < 8 || box.width() < 4 || box.width() >= box.height()
        || std::abs(box.bottom() - m.baseline) > edge || box.height() < m.height * 9 / 10)
        return false;
    // Where the ink met from one side adds up to half a stroke's full darkness, to a part of a pixel.
    const double half = m.ground - m.coreBelow;
    const auto wall = [&](int y, bool fromLeft) {
        double sum = 0;
        for (int i = 0; i < box.width(); ++i) {
            const int x = fromLeft ? box.left() + i : box.right() - i;
            const double dark = std::max(0, m.ground - int(m.gray->constScanLine(y)[x]));
            if (sum + dark >= half)
                return i + (half - sum) / dark;
            sum += dark;
        }
        return double(box.width());
    };
    const double middle = box.width() / 2.0;
    const double slack = std::max(0.35, box.width() / 32.0);
    const double skew = std::max(0.4, box.width() / 24.0);
    for (const bool fromLeft : { true, false }) {
        std::vector<double> inward;
        for (int y = box.top(); y <= box.bottom(); ++y)
            inward.push_back(wall(y, fromLeft));
        const std::size_t rows = inward.size();
        // The walls stand on both sides of every row between the caps.
        for (std::size_t r = rows / 6; r < rows - rows / 6; ++r) {
            if (inward[r] >= middle)
                return false;
        }
        // Its top half mirrors its bottom half, row by row and all the way.
        double skewed = 0;
        for (std::size_t r = 1; r < rows / 2; ++r) {
            const double by = std::abs(inward[r] - inward[rows - 1 - r]);
            if (by > skew)
                return false;
            skewed += by;
        }
        if (skewed > std::max(0.15, box.width() / 80.0) * double(rows / 2 - 1))
            return false;
        // It is widest at its middle, where an "8" draws in.
        const double outermost = *std::min_element(inward.begin(), inward.end());
        if ((inward[(rows - 1) / 2] + inward[rows / 2]) / 2 - outermost > std::max(0.2, box.width() / 48.0))
            return false;
        // No row's wall lies further in than walls both above and below it.
        std::vector<double> outermostAbove(rows);
        std::vector<double> outermostBelow(rows);
        for (std::size_t r = 0; r < rows; ++r)
            outermostAbove[r] = std::min(inward[r], r > 0 ? outermostAbove[r - 1] : inward[r]);
        for (std::size_t r = rows; r-- > 0;)
            outermostBelow[r] = std::min(inward[r], r + 1 < rows ? outermostBelow[r + 1] : inward[r]);
        for (std::size_t r = 1; r + 1 < rows; ++r) {
            if (inward[r] - outermostAbove[r - 1] > slack && inward[r] - outermostBelow[r + 1] > slack)
                return false;
        }
    }
    return true;
}

} // namespace

// An underscore is a low flat stroke below the line's letters, under a gap that no letter's ink
// fills above it; the underscores such a stroke holds that the line's "_" do not cover are given back
// where it lies, and join the words on either side that it touches.
void GlyphInk::restoreUnderscores(QList<Line> &lines, const QImage &gray)
{
    for (Line &line : lines) {
        std::vector<Placed> glyphs = placedGlyphs(line);
        const std::optional<Measure> measure
            = glyphs.size() < 2 ? std::nullopt : measured(line, glyphs, gray);
        if (!measure)
            continue;
        const Measure &m = *measure;
        const QRect area = m.area;
        const int baseline = m.baseline;
        const int height = m.height;
        const int advance = m.advance;
        const auto ink = [&m](int x, int y) { return m.ink(x, y); };
        // Columns with no ink in the body of the letters.
        std::vector<char> clear(std::size_t(area.width()), 1);
        for (int x = area.left(); x <= area.right(); ++x) {
            for (int y = baseline - height * 3 / 5; y <= baseline - height / 6 && clear[x - area.left()]; ++y)
                clear[x - area.left()] = !ink(x, y);
        }
        std::vector<std::pair<int, int>> taken; // columns [from, to] of strokes found
        std::vector<std::pair<QRect, int>> strokes; // with the underscores the text lacks there
        const int thickest = std::max(4, height / 3);
        for (int y = baseline + 1 + height / 20; y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right();) {
                if (!ink(x, y)) {
                    ++x;
                    continue;
                }
                int end = x;
                while (end + 1 <= area.right() && ink(end + 1, y))
                    ++end;
                const int from = x;
                x = end + 1;
                const int width = end - from + 1;
                if (width < advance / 2 || width > 4 * advance + advance / 2)
                    continue;
                if (std::any_of(taken.begin(), taken.end(),
                        [&](const auto &span) { return span.first <= end && from <= span.second; }))
                    continue;
                // Flat and thin, the lowest ink there: nothing above it up to the letters' bottom, and
                // nothing under it (the top of a letter of the next line is not one).
                int clearColumns = 0;
                int deep = 0;
                int bottomMost = 0;
                for (int c = from; c <= end; ++c) {
                    bool above = clear[c - area.left()];
                    for (int r = baseline - height / 6; r < y && above; ++r)
                        above = !ink(c, r);
                    clearColumns += above;
                    int thickness = 0;
                    while (y + thickness <= area.bottom() && ink(c, y + thickness))
                        ++thickness;
                    deep += thickness > thickest;
                    bool under = true;
                    for (int r = y + thickness; r <= y + thickness + height / 5 && under; ++r)
                        under = !m.core(c, r);
                    bottomMost += under;
                }
                if (5 * clearColumns < 4 * width || 5 * deep > width || 5 * bottomMost < 4 * width)
                    continue;
                taken.emplace_back(from, end);
                // As many as its width holds, less those the engine read there ("__" read as "_").
                int missing = std::clamp(int(std::lround(double(width) / advance)), 1, 4);
                for (const Placed &placed : glyphs) {
                    const QRect &box = placed.glyph.box;
                    missing -= placed.glyph.text == QStringLiteral("_") && box.left() <= end
                        && from <= box.right();
                }
                if (missing > 0)
                    strokes.emplace_back(QRect(QPoint(from, y), QPoint(end, y + thickest - 1)), missing);
            }
        }
        if (strokes.empty())
            continue;
        std::sort(strokes.begin(), strokes.end(),
            [](const auto &a, const auto &b) { return a.first.left() > b.first.left(); });
        for (const auto &[stroke, count] : strokes) {
            // The glyphs before it: those starting clearly left of it.
            const qsizetype all = qsizetype(glyphs.size());
            qsizetype before = 0;
            while (before < all && glyphs[before].glyph.box.left() + advance / 2 <= stroke.left())
                ++before;
            const auto touches = [&](int gap) { return gap <= advance / 2; };
            const bool leftTouches
                = before > 0 && touches(stroke.left() - glyphs[before - 1].glyph.box.right());
            const bool rightTouches
                = before < all && touches(glyphs[before].glyph.box.left() - stroke.right());
            if (!leftTouches && !rightTouches)
                continue;
            QList<Glyph> marks;
            for (int k = 0; k < count; ++k) {
                const int left = stroke.left() + k * stroke.width() / count;
                const int right = stroke.left() + (k + 1) * stroke.width() / count - 1;
                marks.push_back({ QStringLiteral("_"),
                    QRect(QPoint(left, stroke.top()), QPoint(right, stroke.bottom())) });
            }
            // Every glyph after the marks moves along by them, in its word or into the one it joins.
            const auto shift = [&glyphs](qsizetype word, qsizetype from, qsizetype by) {
                for (Placed &placed : glyphs) {
                    if (placed.word == word && placed.at >= from)
                        placed.at += by;
                }
            };
            if (before > 0 && before < all && glyphs[before - 1].word == glyphs[before].word) {
                const Placed &next = glyphs[before];
                Word &word = line.words[next.word];
                word.glyphs = word.glyphs.mid(0, next.at) + marks + word.glyphs.mid(next.at);
                shift(next.word, next.at, count);
            } else if (leftTouches && rightTouches) {
                const qsizetype into = glyphs[before - 1].word;
                const qsizetype from = glyphs[before].word;
                Word &left = line.words[into];
                const qsizetype kept = left.glyphs.size();
                const Word right = line.words.takeAt(from);
                left.glyphs += marks + right.glyphs;
                left.confidence = std::min(left.confidence, right.confidence);
                for (Placed &placed : glyphs) {
                    if (placed.word == from) {
                        placed.word = into;
                        placed.at += kept + count;
                    } else if (placed.word > from) {
                        --placed.word;
                    }
                }
            } else if (leftTouches) {
                line.words[glyphs[before - 1].word].glyphs += marks;
            } else {
                Word &right = line.words[glyphs[before].word];
                right.glyphs = marks + right.glyphs;
                shift(glyphs[before].word, 0, count);
            }
        }
        respelled(line);
    }
}

void GlyphInk::reviseByShape(QList<Line> &lines, const QImage &gray)
{
    for (Line &line : lines) {
        std::vector<Placed> glyphs = placedGlyphs(line);
        const std::optional<Measure> measure
            = glyphs.size() < 2 ? std::nullopt : measured(line, glyphs, gray);
        if (!measure)
            continue;
        const Measure &m = *measure;
        // Small digits with a dot or bar in their zero look like "6", "8" or "9" to the engine,
        // which often boxes them loosely too: each word's digits are found again in its ink.
        bool changed = false;
        for (Word &word : line.words) {
            const bool hasLetter
                = std::any_of(word.glyphs.begin(), word.glyphs.end(), [](const Glyph &glyph) {
                      return std::any_of(
                          glyph.text.begin(), glyph.text.end(), [](QChar c) { return c.isLetter(); });
                  });
            // In a hex identifier a "Q" may be a zero too.
            int digits = 0;
            bool hex = true;
            for (const Glyph &glyph : std::as_const(word.glyphs)) {
                const QChar c = glyph.text.size() == 1 ? glyph.text[0] : QChar();
                digits += c.isDigit();
                hex = hex && (c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f') || c == u'Q');
            }
            const bool identifier = hex && digits >= 2;
            const auto mayBeZero = [hasLetter, identifier](const QString &text) {
                return text == u"6" || text == u"8" || text == u"9" || (identifier && text == u"Q")
                    || (!hasLetter && (text == u"©" || text == u"®" || text == u"@"));
            };
            if (std::none_of(word.glyphs.begin(), word.glyphs.end(),
                    [&](const Glyph &glyph) { return mayBeZero(glyph.text); }))
                continue;
            const std::vector<QRect> runs = inkRuns(m, word.box.left(), word.box.right());
            // Where the engine left a digit out, which glyph stands for which run is not known.
            if (qsizetype(runs.size()) > word.glyphs.size())
                continue;
            // The glyphs each run of ink holds: in order when there are as many, else by where
            // their boxes' middles fall.
            std::vector<std::vector<qsizetype>> held(runs.size());
            for (qsizetype g = 0; g < word.glyphs.size(); ++g) {
                if (qsizetype(runs.size()) == word.glyphs.size()) {
                    held[g].push_back(g);
                    continue;
                }
                const int centre = word.glyphs[g].box.center().x();
                for (std::size_t r = 0; r < runs.size(); ++r) {
                    if (runs[r].left() <= centre && centre <= runs[r].right())
                        held[r].push_back(g);
                }
            }
            // Two glyphs of one run are one digit read twice only where every run has a glyph.
            const bool allHeld
                = std::none_of(held.begin(), held.end(), [](const auto &glyphs) { return glyphs.empty(); });
            std::vector<qsizetype> dropped;
            for (std::size_t r = 0; r < runs.size(); ++r) {
                if (held[r].empty() || held[r].size() > (allHeld ? 2 : 1)
                    || !std::all_of(held[r].begin(), held[r].end(),
                        [&](qsizetype g) { return mayBeZero(word.glyphs[g].text); })
                    || !zeroInInk(m, runs[r]))
                    continue;
                word.glyphs[held[r].front()] = { QStringLiteral("0"), runs[r] };
                dropped.insert(dropped.end(), held[r].begin() + 1, held[r].end());
                changed = true;
            }
            std::sort(dropped.begin(), dropped.end(), std::greater<>());
            for (const qsizetype g : dropped)
                word.glyphs.removeAt(g);
        }
        if (changed) {
            respelled(line);
            glyphs = placedGlyphs(line);
        }
        // A bar across [from, to] at about half the letters' height with nothing a little above and
        // below it: a hyphen's, or a letter's like the bar of an "e". Even a trace of ink counts,
        // since a faint line's hyphen may be fainter than its letters.
        const auto hasBar = [&m](int from, int to) {
            const int reach = std::max(3, m.height / 4);
            const int shortest = std::max(2, m.advance / 4);
            for (int y = m.baseline - m.height * 3 / 5; y <= m.baseline - m.height / 4; ++y) {
                int run = 0;
                for (int x = from; x <= to; ++x) {
                    run = m.trace(x, y) && !m.trace(x, y - reach) && !m.trace(x, y + reach) ? run + 1 : 0;
                    if (run >= shortest)
                        return true;
                }
            }
            return false;
        };
        // Whether every row of [top, bottom] has ink in the columns [from, to].
        const auto closed = [&m](int from, int to, int top, int bottom) {
            for (int y = top; y <= bottom; ++y) {
                bool any = false;
                for (int x = from; x <= to && !any; ++x)
                    any = m.core(x, y);
                if (!any)
                    return false;
            }
            return true;
        };
        // A quote mark over another whose box holds no ink of its own: one mark read twice, the
        // second reading given a box of its own around or beside the first one's ink.
        const auto readTwice = [&m](const Word &word, qsizetype at) {
            const QRect &box = word.glyphs[at].box;
            QList<QRect> beside;
            for (const qsizetype other : { at - 1, at + 1 }) {
                if (other >= 0 && other < word.glyphs.size() && isQuote(word.glyphs[other].text)
                    && word.glyphs[other].box.intersects(box))
                    beside << word.glyphs[other].box;
            }
            if (beside.isEmpty())
                return false;
            for (int y = box.top(); y <= box.bottom(); ++y) {
                for (int x = box.left(); x <= box.right(); ++x) {
                    if (m.ink(x, y) && std::none_of(beside.begin(), beside.end(), [x, y](const QRect &other) {
                            return other.contains(x, y);
                        }))
                        return false;
                }
            }
            return true;
        };
        for (std::size_t g = glyphs.size(); g-- > 0;) {
            const Placed &placed = glyphs[g];
            const QRect &box = placed.glyph.box;
            Word &word = line.words[placed.word];
            const QString &text = placed.glyph.text;
            QString revised = text;
            if (text == QStringLiteral("-") && placed.at > 0 && placed.at + 1 < word.glyphs.size()) {
                // The engine gives a hyphen it saw a box of its own, as thin as the bar; one it
                // made up takes the box of a letter's stroke beside it. A dot on the line is a point.
                if (box.height() > m.height / 2 && !hasBar(box.left() - 1, box.right() + 1))
                    revised.clear();
                else if (box.bottom() >= m.baseline - 1 && box.top() > m.baseline - m.height / 3
                    && 2 * box.height() >= box.width())
                    revised = QStringLiteral(".");
            } else if (text == QStringLiteral(".") || text == QStringLiteral(",")) {
                // A point is about as wide as it is tall; a flat stroke below the line is an underscore.
                if (box.top() > m.baseline && box.width() >= std::max(3 * box.height(), m.advance / 2))
                    revised = QStringLiteral("_");
            } else if (isQuote(text) && readTwice(word, placed.at)) {
                revised.clear();
            } else if (isCurlyQuote(text)) {
                // Code and terminals quote with straight marks, which the engine often takes for curly.
                if (straightQuoteInInk(m, box))
                    revised = text == u"‘" || text == u"’" ? QStringLiteral("'") : QStringLiteral("\"");
            } else if (text == QStringLiteral("G")) {
                // A capital stands on the line; an "@" reaches below it.
                const int from = box.left() + box.width() / 4;
                const int to = box.right() - box.width() / 4;
                const int below = m.baseline + std::max(2, m.height / 8);
                bool reaches = false;
                for (int y = below; y <= box.bottom() && !reaches; ++y) {
                    for (int x = from; x <= to && !reaches; ++x)
                        reaches = m.ink(x, y);
                }
                if (reaches)
                    revised = QStringLiteral("@");
            } else if ((text == QStringLiteral("6") || text == QStringLiteral("9")) && box.height() >= 6) {
                // A "6" is open on the right above its bowl, a "9" on the left below it, and the top of
                // their bowl runs from side to side. A zero is closed all round, and the dot some fonts
                // put in it stands apart from at least one of its sides.
                const bool six = text == QStringLiteral("6");
                const int third = std::max(1, box.width() / 3);
                const int from = six ? box.right() - third : box.left();
                const int top = box.top() + box.height() * (six ? 20 : 55) / 100;
                const int bottom = box.top() + box.height() * (six ? 45 : 80) / 100;
                const auto bowlTop = [&] {
                    for (int y = box.top() + box.height() / 5; y <= box.top() + box.height() * 4 / 5; ++y) {
                        int left = box.left();
                        int right = box.right();
                        while (left < right && !m.core(left, y))
                            ++left;
                        while (right > left && !m.core(right, y))
                            --right;
                        bool across = 5 * (right - left + 1) >= 3 * box.width();
                        for (int x = left; across && x <= right; ++x)
                            across = m.core(x, y);
                        if (across)
                            return true;
                    }
                    return false;
                };
                if (box.width() < box.height() && m.fits(box) && closed(from, from + third, top, bottom)
                    && !bowlTop())
                    revised = QStringLiteral("0");
            }
            if (revised == text)
                continue;
            changed = true;
            if (revised.isEmpty())
                word.glyphs.removeAt(placed.at);
            else
                word.glyphs[placed.at].text = revised;
        }
        if (changed)
            respelled(line);
    }
}
