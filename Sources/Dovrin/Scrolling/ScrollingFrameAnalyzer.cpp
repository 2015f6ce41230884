#include "Scrolling/ScrollingFrameAnalyzer.h"

#include <QHash>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

namespace {

constexpr quint64 prime1 = 0x9E3779B185EBCA87ULL;
constexpr quint64 prime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr quint64 prime3 = 0x165667B19E3779F9ULL;
constexpr quint64 prime4 = 0x85EBCA77C2B2AE63ULL;
constexpr quint64 opaque = 0xff000000ff000000ULL;

// A cell seen this often in the previous frame says nothing about where it went.
constexpr int commonCellLimit = 8;
// Shifts worth checking in full, besides no movement.
constexpr int candidateCount = 6;
// Besides them, shifts voted for by cells found at most rareCellLimit times.
constexpr int rareCandidateCount = 3;
constexpr int rareCellLimit = 2;
// What a caret or a small animation may change in frames that otherwise agree.
constexpr double localChangeShare = 0.03;
constexpr int localChangeCells = 24;

int localChangeAllowance(int matched)
{
    return int(localChangeShare * matched) + std::min(localChangeCells, matched / 16);
}
// A band that disagrees in more than this share of its cells did not move with the content.
constexpr double unstableBandShare = 0.1;
constexpr int minimumOverlapRows = 8;
// A scrollbar at either side of the region, at most this wide, may move on its own.
constexpr int widestEdgeStrip = 40;
constexpr int edgeStripRuns = 4;
constexpr int minimumEvidenceCells = 12;
// Rows above a floating element its shadow may darken.
constexpr int floatingMargin = 8;

inline quint64 rotl(quint64 v, int r)
{
    return (v << r) | (v >> (64 - r));
}

inline quint64 mixRound(quint64 acc, quint64 word)
{
    return rotl(acc ^ word, 29) * prime1;
}

inline quint64 loadWord(const quint32 *pixels)
{
    quint64 word;
    std::memcpy(&word, pixels, sizeof word);
    return word | opaque;
}

// Signature of `count` pixels; `uniform` tells whether they are all one colour. Four independent
// lanes keep the multiplier busy; the alpha byte is ignored.
quint64 hashCell(const quint32 *pixels, int count, bool &uniform)
{
    const quint64 firstPixel = quint64(pixels[0]) | 0xff000000ULL;
    const quint64 reference = firstPixel | (firstPixel << 32);
    quint64 a = prime1, b = prime2, c = prime3, d = prime4;
    quint64 differs = 0;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const quint64 w0 = loadWord(pixels + i), w1 = loadWord(pixels + i + 2);
        const quint64 w2 = loadWord(pixels + i + 4), w3 = loadWord(pixels + i + 6);
        differs |= (w0 ^ reference) | (w1 ^ reference) | (w2 ^ reference) | (w3 ^ reference);
        a = mixRound(a, w0);
        b = mixRound(b, w1);
        c = mixRound(c, w2);
        d = mixRound(d, w3);
    }
    for (; i + 2 <= count; i += 2) {
        const quint64 w = loadWord(pixels + i);
        differs |= w ^ reference;
        a = mixRound(a, w);
    }
    if (i < count) {
        const quint64 w = quint64(pixels[i]) | 0xff000000ULL;
        differs |= w ^ firstPixel;
        b = mixRound(b, w);
    }
    uniform = differs == 0;
    quint64 h = rotl(a, 1) + rotl(b, 7) + rotl(c, 12) + rotl(d, 18) + quint64(count);
    h ^= h >> 33;
    h *= prime2;
    h ^= h >> 29;
    h *= prime3;
    h ^= h >> 32;
    return h;
}

inline quint64 bandKey(quint64 signature, int band)
{
    return signature ^ (quint64(band + 1) * prime4);
}

struct Tally
{
    int matched = 0; // cells with content that agree
    int mismatched = 0; // cells that differ
    int stayed = 0; // of those, cells where one frame shows something fixed over the content
};

// Compares row `previousRow` of `previous` with row `currentRow` of `current` over the bands in
// `mask`; adds per band when `perBand` is given. Answers the cells that differ. `unchanged` (bands
// per row with content that is the same in both frames at that row) tells the differing cells of
// a step that either frame shows where it was: something fixed over the content, a floating
// button, seen at its place in one frame and over other content in the other.
int compareRows(const ScrollingFrame &previous, int previousRow, const ScrollingFrame &current,
    int currentRow, quint32 mask, Tally *perBand = nullptr, const quint32 *unchanged = nullptr);

int compareRows(const ScrollingFrame &previous, int previousRow, const ScrollingFrame &current,
    int currentRow, quint32 mask, Tally *perBand, const quint32 *unchanged)
{
    const int bands = current.bandCount();
    const quint32 uniform = current.uniformBands(currentRow);
    mask &= ~(previous.volatileBands(previousRow) | current.volatileBands(currentRow));
    int mismatched = 0;
    for (int band = 0; band < bands; ++band) {
        if (!(mask & (1u << band)))
            continue;
        const bool equal = previous.cell(previousRow, band) == current.cell(currentRow, band);
        if (!equal)
            ++mismatched;
        if (perBand) {
            if (!equal) {
                ++perBand[band].mismatched;
                if (unchanged && ((unchanged[previousRow] | unchanged[currentRow]) & (1u << band)))
                    ++perBand[band].stayed;
            } else if (!(uniform & (1u << band)))
                ++perBand[band].matched;
        }
    }
    return mismatched;
}

// The one colour of the whole row, if it has one.
std::optional<QRgb> colourOf(const ScrollingFrame &frame, int row)
{
    if (frame.uniformBands(row) != frame.allBands())
        return std::nullopt;
    const QRgb colour = frame.image().pixel(0, row) & 0xffffffu;
    for (int band = 1; band < frame.bandCount(); ++band) {
        if ((frame.image().pixel(frame.bandLeft(band), row) & 0xffffffu) != colour)
            return std::nullopt;
    }
    return colour;
}

// The row looks like a row next to it: where it lies among them cannot be told.
bool amongAlike(const ScrollingFrame &frame, int row)
{
    const quint32 all = frame.allBands();
    for (const int other : { row - 1, row + 1 }) {
        if (other >= 0 && other < frame.height()
            && compareRows(frame, other, frame, row, all & ~frame.volatileBands(other)) == 0)
            return true;
    }
    return false;
}

// The `count` shifts with the most votes (indexed from -height), most first.
std::vector<int> mostVoted(const std::vector<float> &votes, int count)
{
    const int height = int(votes.size()) / 2;
    std::vector<std::pair<float, int>> best;
    for (int i = 0; i < int(votes.size()); ++i) {
        if (votes[size_t(i)] <= 0.0f)
            continue;
        best.emplace_back(votes[size_t(i)], i - height);
        if (int(best.size()) > 4 * count) {
            std::partial_sort(best.begin(), best.begin() + count, best.end(),
                [](const auto &a, const auto &b) { return a.first > b.first; });
            best.resize(size_t(count));
        }
    }
    std::sort(best.begin(), best.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    if (int(best.size()) > count)
        best.resize(size_t(count));
    std::vector<int> shifts;
    for (const auto &entry : best)
        shifts.push_back(entry.second);
    return shifts;
}

struct Evaluation
{
    int shift = 0;
    bool valid = false;
    bool consistent = false;
    int matched = 0;
    int mismatched = 0;
    int fixedTop = 0;
    int fixedBottom = 0;
    // Rows from here down were left out: an element floating over them.
    int movingEnd = std::numeric_limits<int>::max();
    // Rows of the previous frame from here down were blank and left out: not drawn yet.
    int undrawnFrom = -1;
    quint32 excludedBands = 0;
};

class Aligner
{
public:
    Aligner(const ScrollingFrame &previous, const ScrollingFrame &current)
        : m_previous(previous)
        , m_current(current)
        , m_height(current.height())
        , m_all(current.allBands())
        , m_changedAtZero(size_t(m_height))
    {
        for (int row = 0; row < m_height; ++row)
            m_changedAtZero[size_t(row)] = compareRows(previous, row, current, row, m_all);
        m_unchanged.assign(size_t(m_height), 0);
        for (int row = 0; row < m_height; ++row) {
            const quint32 skipped = previous.uniformBands(row) | current.uniformBands(row)
                | previous.volatileBands(row) | current.volatileBands(row);
            quint32 bands = 0;
            for (int band = 0; band < current.bandCount(); ++band) {
                if (!(skipped & (1u << band)) && previous.cell(row, band) == current.cell(row, band))
                    bands |= 1u << band;
            }
            m_unchanged[size_t(row)] = bands;
        }
        m_previousGaps = gapsOf(previous);
        m_currentGaps = gapsOf(current);
        m_lineHeight = lineHeightOf(m_currentGaps);
    }

    // Pixel for pixel, cells that change on their own included.
    bool identical() const
    {
        if (!std::all_of(m_changedAtZero.begin(), m_changedAtZero.end(), [](int n) { return n == 0; }))
            return false;
        for (int row = 0; row < m_height; ++row) {
            const quint32 changing = m_previous.volatileBands(row) | m_current.volatileBands(row);
            for (int band = 0; changing && band < m_current.bandCount(); ++band) {
                if ((changing & (1u << band)) && m_previous.cell(row, band) != m_current.cell(row, band))
                    return false;
            }
        }
        return true;
    }

    // Shifts suggested by cells of the current frame whose signature occurs in few rows of the
    // previous one, best supported first.
    std::vector<int> candidateShifts() const
    {
        const int maxShift = m_height - minimumOverlapRows;
        if (maxShift <= 0)
            return {};
        std::vector<float> votes(size_t(2 * m_height + 1), 0.0f);
        // Cells found once or twice vote again on their own: look-alike rows told apart by a
        // number are placed by the number, however many alike cells vote for a period.
        std::vector<float> rareVotes(size_t(2 * m_height + 1), 0.0f);
        int rows[commonCellLimit + 1];
        for (int row = 0; row < m_height; ++row) {
            const quint32 skipped = m_current.uniformBands(row) | m_current.volatileBands(row);
            for (int band = 0; band < m_current.bandCount(); ++band) {
                if (skipped & (1u << band))
                    continue;
                const int found
                    = m_previous.rowsWithCell(band, m_current.cell(row, band), commonCellLimit, rows);
                if (found == 0 || found > commonCellLimit)
                    continue;
                const float weight = 1.0f / float(found);
                for (int i = 0; i < found; ++i) {
                    const int shift = rows[i] - row;
                    if (shift != 0 && std::abs(shift) <= maxShift) {
                        votes[size_t(shift + m_height)] += weight;
                        if (found <= rareCellLimit)
                            rareVotes[size_t(shift + m_height)] += weight;
                    }
                }
            }
        }
        std::vector<int> shifts = mostVoted(votes, candidateCount);
        for (int shift : mostVoted(rareVotes, rareCandidateCount)) {
            if (std::find(shifts.begin(), shifts.end(), shift) == shifts.end())
                shifts.push_back(shift);
        }
        return shifts;
    }

    // Shifts at which whole rows of the two frames agree nearly everywhere they overlap: the offsets
    // of content that repeats, whose cells are too common to vote. The nearest to no movement first.
    std::vector<int> repeatShifts() const
    {
        const auto signatures = [this](const ScrollingFrame &frame) {
            std::vector<quint64> rows(static_cast<size_t>(m_height));
            for (int row = 0; row < m_height; ++row) {
                quint64 hash = prime3;
                for (int band = 0; band < frame.bandCount(); ++band)
                    hash = mixRound(hash, frame.cell(row, band));
                rows[size_t(row)] = hash;
            }
            return rows;
        };
        const std::vector<quint64> before = signatures(m_previous);
        const std::vector<quint64> after = signatures(m_current);
        std::vector<int> shifts;
        for (int distance = 1; distance <= m_height - minimumOverlapRows; ++distance) {
            for (const int shift : { distance, -distance }) {
                const int first = std::max(0, -shift);
                const int last = std::min(m_height, m_height - shift);
                const int allowance = (last - first) / 16;
                int compared = 0;
                int differing = 0;
                for (int row = first; row < last && differing <= allowance; ++row) {
                    if (m_current.uniformBands(row) == m_all)
                        continue;
                    ++compared;
                    differing += after[size_t(row)] != before[size_t(row + shift)];
                }
                if (differing <= allowance && compared >= minimumOverlapRows)
                    shifts.push_back(shift);
            }
            if (int(shifts.size()) >= 2 * candidateCount)
                break;
        }
        return shifts;
    }

    int height() const { return m_height; }
    const ScrollingFrame &current() const { return m_current; }

    // Moved by `shift`, the rows both frames would show tell nothing about the step: apart from rows
    // unchanged where they were (fixed, or alike anyway), they are of one colour in each, or they
    // agree and lie among rows just like them (an empty area, a flat panel with a frame), where a
    // step a little longer or shorter would agree as well.
    bool flatAtShift(int shift) const
    {
        for (int row = std::max(0, -shift); row < std::min(m_height, m_height - shift); ++row) {
            if (m_changedAtZero[size_t(row)] == 0)
                continue;
            if (m_current.uniformBands(row) == m_all && m_previous.uniformBands(row + shift) == m_all)
                continue;
            if (compareRows(m_previous, row + shift, m_current, row, m_all) != 0
                || !amongAlike(m_current, row))
                return false;
        }
        return true;
    }

    // Where they were, the frames differ in `bands` only in one block of rows of a narrow strip,
    // which both frames show as one row over and over at the same rows (the ends aside): a
    // scrollbar thumb that faded or lit up where it stood. A thumb that moved differs in two blocks,
    // at its ends, or shows its body at other rows.
    bool fadedInPlace(quint32 bands) const
    {
        int left = m_current.width();
        int right = -1;
        int first = -1;
        int last = -1;
        for (int row = 0; row < m_height; ++row) {
            if (!rowDiffers(row, row, bands, left, right))
                continue;
            if (last >= 0 && row - last > 3)
                return false;
            if (first < 0)
                first = row;
            last = row;
        }
        const int rows = last - first + 1;
        if (first < 0 || rows < minimumOverlapRows)
            return false;
        // The rows of the block that show its most common row, when they are most of it.
        const auto thumbRows = [&](const ScrollingFrame &frame) {
            std::vector<QByteArray> segments;
            QHash<QByteArray, int> counts;
            for (int row = first; row <= last; ++row) {
                const auto *line = reinterpret_cast<const quint32 *>(frame.image().constScanLine(row));
                QByteArray segment(reinterpret_cast<const char *>(line + left), (right - left + 1) * 4);
                for (qsizetype i = 3; i < segment.size(); i += 4)
                    segment[i] = 0;
                ++counts[segment];
                segments.push_back(std::move(segment));
            }
            const auto most = std::max_element(counts.cbegin(), counts.cend());
            std::vector<bool> rows;
            if (4 * most.value() >= 3 * int(segments.size())) {
                for (const QByteArray &segment : segments)
                    rows.push_back(segment == most.key());
            }
            return rows;
        };
        // Lit up or faded, a thumb that moved by a row shows its body a row away.
        const std::vector<bool> before = thumbRows(m_previous);
        return !before.empty() && before == thumbRows(m_current);
    }

    Evaluation evaluate(int shift) const
    {
        Evaluation result;
        result.shift = shift;
        int top = 0;
        int bottom = 0;
        if (shift != 0) {
            while (top < m_height && isFixed(top, shift))
                ++top;
            // Rows of one colour, or rows that agree where the content went as well (a flat panel),
            // stay where they were at any step: at the top they are a header's padding only around
            // something it shows, never a header alone.
            int blank = 0;
            while (blank < top
                && ((m_current.uniformBands(blank) == m_all && m_previous.uniformBands(blank) == m_all)
                    || (blank + shift >= 0 && blank + shift < m_height
                        && compareRows(m_previous, blank + shift, m_current, blank, m_all) == 0)))
                ++blank;
            if (blank == top)
                top = 0;
            // A header that sticks only once the page has moved, shrinks or slides in moves by
            // other rows than the content: whole rows at the top that disagree at this shift are
            // not content either. Bounded, so the rows below still have to agree.
            // Rows of one colour (the header's padding, space under it) agree with anything alike.
            int lastChanged = -1;
            for (int row = top; row < m_height / 3; ++row) {
                if (disagreesAtShift(row, shift))
                    lastChanged = row;
                else if (m_current.uniformBands(row) != m_all && !isFixed(row, shift))
                    break;
            }
            if (lastChanged >= 0) {
                top = lastChanged + 1;
                while (top < m_height && isFixed(top, shift))
                    ++top;
            }
            while (bottom < m_height - top && isFixed(m_height - 1 - bottom, shift))
                ++bottom;
        }
        result.fixedTop = top;
        result.fixedBottom = bottom;
        tally(result, m_height - bottom);
        // An element floating over the lower part (a button in a corner) and what it throws around
        // it (a shadow over the content moving under it) agree neither where it was nor at the
        // shift: when the rows from its top down are all that disagree, they are left out, as they
        // are of every new strip.
        if (!result.consistent && shift > 0) {
            const int floating = floatingTop(result);
            if (floating < m_height - bottom) {
                Evaluation above;
                above.shift = shift;
                above.fixedTop = top;
                above.fixedBottom = bottom;
                above.movingEnd = std::max(top, floating - floatingMargin);
                tally(above, above.movingEnd);
                if (above.consistent)
                    return above;
            }
        }
        // A window that draws late may show the rows a step brought into view blank for a while:
        // the previous frame's blank rows at the bottom that show content here were not drawn
        // yet, whether the window has moved since or not. The rows above them have to agree on
        // their own.
        if (!result.consistent && shift >= 0) {
            // Below them, rows unchanged where they were: a footer, seen as such only once the
            // page has moved.
            int end = m_height - bottom;
            while (end > top && m_changedAtZero[size_t(end - 1)] == 0)
                --end;
            const int blankFrom = blankTailOfPrevious(top, end);
            if (blankFrom - shift >= top + minimumOverlapRows && blankFrom < end - minimumOverlapRows) {
                Evaluation drawn;
                drawn.shift = shift;
                drawn.fixedTop = top;
                drawn.fixedBottom = bottom;
                drawn.undrawnFrom = blankFrom;
                tally(drawn, blankFrom);
                if (drawn.consistent)
                    return drawn;
            }
        }
        return result;
    }

    // The first of the rows above `end` of the previous frame, down to `end`, that are all of one
    // colour, the page's own (the first row's leftmost pixel); `end` when the row above it is not.
    int blankTailOfPrevious(int top, int end) const
    {
        if (end <= top)
            return end;
        const QRgb background = m_previous.image().pixel(0, top) & 0xffffffu;
        int row = end;
        while (row > top && m_previous.uniformBands(row - 1) == m_all
            && (m_previous.image().pixel(0, row - 1) & 0xffffffu) == background)
            --row;
        return row;
    }

    // Counts the cells that agree and disagree at the evaluation's shift in the rows from its
    // fixed top to `zoneEnd`, and tells whether they fit.
    void tally(Evaluation &result, int zoneEnd) const
    {
        const int shift = result.shift;
        const int top = result.fixedTop;
        const int first = std::max(top, top - shift);
        const int last = std::min(zoneEnd, zoneEnd - shift);
        if (last - first < minimumOverlapRows)
            return;

        Tally perBand[ScrollingFrame::maximumBands];
        Tally atZero[ScrollingFrame::maximumBands];
        for (int row = first; row < last; ++row) {
            compareRows(m_previous, row + shift, m_current, row, m_all, perBand, m_unchanged.data());
            if (shift != 0)
                compareRows(m_previous, row, m_current, row, m_all, atZero);
        }

        // A band that disagrees at this shift but agrees where it was did not move with the content
        // (a scrollbar, a fixed side panel): leave it out. Never so many bands that a wrong shift
        // could hide its disagreement, and never a band that changed anyway (text that differs).
        const int bands = m_current.bandCount();
        int informativeBands = 0;
        std::vector<std::pair<double, int>> unstable;
        for (int band = 0; band < bands; ++band) {
            const Tally &t = perBand[band];
            const int seen = t.matched + t.mismatched;
            if (seen == 0)
                continue;
            ++informativeBands;
            const double share = double(t.mismatched) / double(seen);
            if (shift != 0 && t.mismatched >= 3 && share > unstableBandShare
                && 2 * atZero[band].mismatched < t.mismatched)
                unstable.emplace_back(share, band);
        }
        std::sort(
            unstable.begin(), unstable.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
        const int excludable = std::min(int(unstable.size()), informativeBands / 3);
        for (int i = 0; i < excludable; ++i)
            result.excludedBands |= 1u << unstable[size_t(i)].second;
        result.excludedBands |= edgeStripBands(shift, first, last, perBand, result.excludedBands);

        for (int band = 0; band < bands; ++band) {
            if (result.excludedBands & (1u << band))
                continue;
            result.matched += perBand[band].matched;
            result.mismatched += perBand[band].mismatched - perBand[band].stayed;
        }
        result.valid = result.matched >= minimumEvidenceCells;
        // Unchanged content agrees everywhere at the right shift; a caret or a small animation may
        // disagree in a few cells, repeated content that differs in places does not fit.
        result.consistent = result.valid && result.mismatched <= localChangeAllowance(result.matched);
    }

    // The first row of an element floating over the lower half of the moving rows (a button in a
    // corner): in some band, a block of rows that stayed put while the content moved, with nothing
    // else staying put above it in that band (a fixed side panel does). The end of the moving rows
    // when there is none.
    int floatingTop(const Evaluation &evaluation) const
    {
        const int zoneTop = evaluation.fixedTop;
        const int zoneEnd = m_height - evaluation.fixedBottom;
        const int shift = evaluation.shift;
        if (shift <= 0 || zoneEnd - zoneTop < 2 * minimumOverlapRows)
            return zoneEnd;
        const int lowest = zoneTop + (zoneEnd - zoneTop) / 2;
        int top = zoneEnd;
        for (int band = 0; band < m_current.bandCount(); ++band) {
            const quint32 bit = 1u << band;
            int runStart = -1;
            int runEnd = -1;
            int distinct = 0;
            quint64 seen[3] = {};
            // A single colour inside the element (a plain flag: g++ warns falsely on an optional).
            bool hasFill = false;
            quint64 fill = 0;
            int found = -1;
            bool above = false;
            const auto blankAt = [&](int row) {
                return (m_current.uniformBands(row) & bit) && !(m_current.volatileBands(row) & bit);
            };
            // A block of one repeated row (a scrollbar thumb, a vertical rule) shows no element.
            const auto closeRun = [&] {
                if (runStart >= 0 && distinct >= 3) {
                    // The element's own colour above its first detail belongs to it.
                    while (hasFill && runStart > zoneTop && blankAt(runStart - 1)
                        && m_current.cell(runStart - 1, band) == fill
                        && stayedPut(runStart - 1, band, shift, zoneTop, zoneEnd))
                        --runStart;
                    const bool noElement = withinLineAlike(runStart, runEnd, shift, zoneTop)
                        || animationMoved(runStart, runEnd, band);
                    if (!noElement && runStart < lowest)
                        above = true;
                    else if (!noElement && found < 0)
                        found = runStart;
                }
                runStart = -1;
                distinct = 0;
                hasFill = false;
            };
            for (int row = zoneTop; row < zoneEnd && !above; ++row) {
                const bool blank = blankAt(row);
                if (blank) {
                    // Blank rows never start an element; inside one they show its own colour.
                    if (m_previous.cell(row, band) != m_current.cell(row, band))
                        closeRun();
                    else if (runStart >= 0 && !hasFill) {
                        fill = m_current.cell(row, band);
                        hasFill = true;
                    }
                    continue;
                }
                if (!stayedPut(row, band, shift, zoneTop, zoneEnd)) {
                    closeRun();
                    continue;
                }
                if (runStart < 0)
                    runStart = row;
                runEnd = row + 1;
                if (m_current.volatileBands(row) & bit) {
                    distinct = 3; // an animation that stays on the screen
                } else {
                    const quint64 cell = m_current.cell(row, band);
                    if (distinct < 3 && std::find(seen, seen + distinct, cell) == seen + distinct)
                        seen[distinct++] = cell;
                }
            }
            closeRun();
            if (!above && found >= 0)
                top = std::min(top, found);
        }
        const auto edgeAt = [&](int row) {
            for (int band = 0; band < m_current.bandCount(); ++band) {
                if (!(m_current.uniformBands(row) & (1u << band))
                    && stayedPut(row, band, shift, zoneTop, zoneEnd))
                    return true;
            }
            return false;
        };
        // Its edge may start a little higher, in a band where it shows only as a faint line above
        // rows of its own colour.
        if (top < zoneEnd) {
            for (int row = top - 1; row >= std::max(lowest, top - 4); --row) {
                if (edgeAt(row))
                    top = row;
            }
        }
        return top;
    }

private:
    // Rows of one colour in every band: the gaps between lines of text.
    static std::vector<bool> gapsOf(const ScrollingFrame &frame)
    {
        std::vector<bool> gaps(size_t(frame.height()));
        for (int row = 0; row < frame.height(); ++row)
            gaps[size_t(row)] = frame.uniformBands(row) == frame.allBands();
        return gaps;
    }

    // The usual height of the blocks of rows between gaps (lines of text); 0 when too few.
    static int lineHeightOf(const std::vector<bool> &gaps)
    {
        std::vector<int> heights;
        int start = -1;
        for (int row = 0; row < int(gaps.size()); ++row) {
            if (!gaps[size_t(row)] && start < 0 && row > 0)
                start = row;
            else if (gaps[size_t(row)] && start >= 0) {
                heights.push_back(row - start);
                start = -1;
            }
        }
        if (heights.size() < 3)
            return 0;
        std::nth_element(heights.begin(), heights.begin() + long(heights.size() / 2), heights.end());
        return heights[heights.size() / 2];
    }

    // The rows [first, last), new to this frame where the previous one showed rows now gone from
    // view, lie within a line of text in both frames, at the same rows and no taller than most:
    // what stands at the same place there is text alike by chance (a word at the same column of two
    // lines of fixed-width text), which nothing else tells from an element.
    bool withinLineAlike(int first, int last, int shift, int zoneTop) const
    {
        if (m_lineHeight == 0 || first + shift < m_height || last - 1 - shift >= zoneTop)
            return false;
        int top = first;
        int end = last;
        for (const std::vector<bool> *gaps : { &m_currentGaps, &m_previousGaps }) {
            int lineTop = first;
            while (lineTop > 0 && !(*gaps)[size_t(lineTop - 1)])
                --lineTop;
            int lineEnd = last;
            while (lineEnd < m_height && !(*gaps)[size_t(lineEnd)])
                ++lineEnd;
            if (lineTop == 0 || lineEnd == m_height)
                return false;
            top = std::min(top, lineTop);
            end = std::max(end, lineEnd);
        }
        // Lines differ by their ascenders and descenders only.
        return 4 * (end - top) <= 5 * m_lineHeight;
    }

    // The cells of `band` that changed at rest in both frames in rows [first, last) go on above or
    // below them in one frame only: what changes there moved between the frames (the thumb of an
    // overlay scrollbar that fades), unlike an animation in an element that stays put.
    bool animationMoved(int first, int last, int band) const
    {
        const quint32 bit = 1u << band;
        const auto changing = [&](const ScrollingFrame &frame, int row) {
            return row >= 0 && row < m_height && (frame.volatileBands(row) & bit);
        };
        bool animated = false;
        for (int row = first; row < last && !animated; ++row)
            animated = changing(m_current, row);
        return animated
            && (changing(m_previous, first - 1) != changing(m_current, first - 1)
                || changing(m_previous, last) != changing(m_current, last));
    }

    // Bands at either side whose every difference at this shift lies in one narrow strip of
    // columns, in a few blocks of rows that repeat down the strip: a scrollbar thumb that moved its
    // own way, an overlay scrollbar that appeared or faded. The rest of those bands agrees pixel for
    // pixel, so leaving them out hides nothing of the page.
    quint32 edgeStripBands(int shift, int first, int last, const Tally *perBand, quint32 excluded) const
    {
        const int width = m_current.width();
        const int widest = std::min(widestEdgeStrip, width / 8);
        quint32 found = 0;
        for (const bool left : { true, false }) {
            quint32 bands = 0;
            for (int band = 0; band < m_current.bandCount(); ++band) {
                const bool near = left ? m_current.bandLeft(band) < 2 * widest
                                       : m_current.bandRight(band) > width - 2 * widest;
                if (near && !(excluded & (1u << band)) && perBand[band].mismatched > 0)
                    bands |= 1u << band;
            }
            if (bands && differsInStrip(shift, first, last, bands, widest))
                found |= bands;
        }
        return found;
    }

    // Whether previous row `from` and current row `row` differ in a pixel of `bands` (cells that
    // change on their own left out), widening [left, right] to the differing columns.
    bool rowDiffers(int from, int row, quint32 bands, int &left, int &right) const
    {
        const quint32 compared = bands & ~(m_previous.volatileBands(from) | m_current.volatileBands(row));
        const auto *before = reinterpret_cast<const quint32 *>(m_previous.image().constScanLine(from));
        const auto *after = reinterpret_cast<const quint32 *>(m_current.image().constScanLine(row));
        bool differs = false;
        for (int band = 0; band < m_current.bandCount(); ++band) {
            if (!(compared & (1u << band)) || m_previous.cell(from, band) == m_current.cell(row, band))
                continue;
            for (int x = m_current.bandLeft(band); x < m_current.bandRight(band); ++x) {
                if ((before[x] ^ after[x]) & 0xffffffu) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    differs = true;
                }
            }
        }
        return differs;
    }

    // The differing pixels of `bands` lie within `widest` columns and few blocks of rows.
    bool differsInStrip(int shift, int first, int last, quint32 bands, int widest) const
    {
        int left = m_current.width();
        int right = -1;
        std::vector<int> rows;
        int runs = 0;
        for (int row = first; row < last; ++row) {
            if (!rowDiffers(row + shift, row, bands, left, right))
                continue;
            // Rows a step or two apart belong to one block (a stippled or rounded thumb).
            if (rows.empty() || row - rows.back() > 3)
                ++runs;
            rows.push_back(row);
            if (right - left >= widest || runs > edgeStripRuns)
                return false;
        }
        if (rows.empty())
            return false;
        // A thumb or a track is one row over and over (a see-through one over rows of two colours
        // within each colour: the first row of one is like those below it); text that differs at
        // a wrong shift is not. An overlay scrollbar covers the page in one of the frames.
        const auto segmentRepeats = [&](const ScrollingFrame &frame, int row) {
            const auto *line = reinterpret_cast<const quint32 *>(frame.image().constScanLine(row));
            for (const int near : { row - 1, row - 2, row + 1, row + 2 }) {
                if (near < 0 || near >= frame.height())
                    continue;
                const auto *other = reinterpret_cast<const quint32 *>(frame.image().constScanLine(near));
                if (std::equal(line + left, line + right + 1, other + left,
                        [](quint32 a, quint32 b) { return ((a ^ b) & 0xffffffu) == 0; }))
                    return true;
            }
            return false;
        };
        int unlike = 0;
        for (int row : rows) {
            if (!segmentRepeats(m_current, row) && !segmentRepeats(m_previous, row + shift))
                ++unlike;
        }
        return unlike <= 2 * runs + int(rows.size()) / 5;
    }

    // The cell is where it was although the content moved by `shift`. Rows with no counterpart in
    // the previous frame's moving rows are judged against the rows one step above them, so content that
    // repeats with the step's period does not count.
    bool stayedPut(int row, int band, int shift, int zoneTop, int zoneEnd) const
    {
        const quint32 bit = 1u << band;
        // Rows that came from under what stays put at the bottom of the previous frame cannot be
        // told by it: a word at the same place in both frames by chance is no element.
        const int from = row + shift;
        if (from >= zoneEnd && from < m_height)
            return false;
        const int other = from < zoneEnd ? from : row - shift;
        const bool counterpart = other >= zoneTop && other < zoneEnd;
        // An animation counts when it changed in the same place in both frames.
        if (m_current.volatileBands(row) & bit)
            return counterpart && (m_previous.volatileBands(row) & bit);
        const quint64 cell = m_current.cell(row, band);
        if ((m_previous.volatileBands(row) & bit) || m_previous.cell(row, band) != cell)
            return false;
        if (counterpart && from < zoneEnd)
            return !(m_previous.volatileBands(other) & bit) && m_previous.cell(other, band) != cell;
        // Rows new to this frame: what the previous frame showed here went a step up with the
        // content. Found there, it is content that happens to stand at the same place in both
        // frames (a word at the same column of two lines of fixed-width text), not an element.
        if (counterpart)
            return !(m_previous.volatileBands(other) & bit) && m_previous.cell(other, band) != cell
                && ((m_current.volatileBands(other) & bit) || m_current.cell(other, band) != cell);
        // A step longer than the rows above the element leaves it nothing to be told from: a cell
        // found nowhere else in the previous frame stayed put, content that repeats does not.
        int rows[2];
        return m_previous.rowsWithCell(band, cell, 1, rows) == 1;
    }

    // Most of the row differs from the previous frame's row at this shift: it did not move with
    // the content (a scrollbar thumb or a caret alone does not count).
    bool disagreesAtShift(int row, int shift) const
    {
        if (row + shift < 0 || row + shift >= m_height)
            return false;
        const int differing = compareRows(m_previous, row + shift, m_current, row, m_all);
        return 2 * differing > m_current.bandCount();
    }

    // A row that is unchanged where it was, or agrees far better there than where the content
    // went (a clock in a status bar), is not content: it stayed put (a sticky header or footer, or
    // blank space beside it).
    bool isFixed(int row, int shift) const
    {
        const int stayed = m_changedAtZero[size_t(row)];
        if (stayed == 0)
            return true;
        int moved = -1;
        if (row + shift >= 0 && row + shift < m_height)
            moved = compareRows(m_previous, row + shift, m_current, row, m_all);
        else if (row - shift >= 0 && row - shift < m_height)
            moved = compareRows(m_previous, row, m_current, row - shift, m_all);
        return moved >= 0 && stayed * 3 < moved;
    }

    const ScrollingFrame &m_previous;
    const ScrollingFrame &m_current;
    int m_height;
    quint32 m_all;
    std::vector<int> m_changedAtZero;
    std::vector<quint32> m_unchanged;
    std::vector<bool> m_previousGaps;
    std::vector<bool> m_currentGaps;
    int m_lineHeight = 0;
};

std::vector<Evaluation> evaluateShifts(const Aligner &aligner)
{
    std::vector<int> shifts { 0 };
    for (const std::vector<int> &found : { aligner.candidateShifts(), aligner.repeatShifts() }) {
        for (int shift : found) {
            if (std::find(shifts.begin(), shifts.end(), shift) == shifts.end())
                shifts.push_back(shift);
        }
    }
    std::vector<Evaluation> evaluations;
    for (int shift : shifts)
        evaluations.push_back(aligner.evaluate(shift));
    return evaluations;
}

double agreementOf(const Evaluation &e)
{
    return double(e.matched) / double(e.matched + e.mismatched);
}

// The shift that fits with the most evidence; a second one that fits almost as well means
// repeated rows, and the step cannot be told.
const Evaluation *bestOf(const std::vector<Evaluation> &evaluations)
{
    auto ranksAbove = [](const Evaluation &a, const Evaluation &b) {
        if (a.consistent != b.consistent)
            return a.consistent;
        if (a.consistent)
            return a.matched > b.matched;
        return agreementOf(a) > agreementOf(b);
    };
    const Evaluation *best = nullptr;
    for (const Evaluation &e : evaluations) {
        if (e.valid && (!best || ranksAbove(e, *best)))
            best = &e;
    }
    return best;
}

QList<std::pair<int, int>> columnsOf(const ScrollingFrame &frame, quint32 bands)
{
    QList<std::pair<int, int>> columns;
    for (int band = 0; band < frame.bandCount(); ++band) {
        if (!(bands & (1u << band)))
            continue;
        if (!columns.isEmpty() && columns.last().second == frame.bandLeft(band))
            columns.last().second = frame.bandRight(band);
        else
            columns.append({ frame.bandLeft(band), frame.bandRight(band) });
    }
    return columns;
}

// The alignment `e` stands for: its offset and fixed rows, and how sure the pixels are of it, given
// how well the other offsets from `lowest` to `highest` fit. An offset that fits only by taking
// more rows for fixed ones (rows at the top that disagree, taken for a header) explains less, and
// is no rival.
ScrollingAlignment describe(const Aligner &aligner, const Evaluation &e, const std::vector<Evaluation> &all,
    int lowest = std::numeric_limits<int>::min(), int highest = std::numeric_limits<int>::max())
{
    int runnerUp = 0;
    for (const Evaluation &other : all) {
        if (&other != &e && other.consistent && other.shift >= lowest && other.shift <= highest
            && other.fixedTop <= e.fixedTop && other.fixedBottom <= e.fixedBottom)
            runnerUp = std::max(runnerUp, other.matched);
    }
    const double agreement = agreementOf(e);
    const double separation = 1.0 - double(runnerUp) / double(e.matched);
    const double fit = e.consistent ? 1.0 : 0.4;
    ScrollingAlignment alignment;
    alignment.offset = e.shift;
    alignment.confidence = std::clamp(fit * agreement * std::min(1.0, 2.0 * separation), 0.0, 1.0);
    alignment.fixedTop = e.fixedTop;
    // What the element's shadow darkens above it stays out of the new rows as well.
    const int floating = aligner.floatingTop(e);
    const int movingEnd = floating < aligner.height() - e.fixedBottom
        ? std::max(e.fixedTop, floating - floatingMargin)
        : floating;
    alignment.fixedBottom = aligner.height() - std::min(movingEnd, e.movingEnd);
    alignment.undrawnFrom = e.undrawnFrom;
    alignment.excludedColumns = columnsOf(aligner.current(), e.excludedBands);
    return alignment;
}

// The smallest distance between two offsets that both fit: the period of repeated rows.
int periodOf(const std::vector<Evaluation> &evaluations)
{
    int period = 0;
    for (const Evaluation &a : evaluations) {
        for (const Evaluation &b : evaluations) {
            const int distance = std::abs(a.shift - b.shift);
            if (a.consistent && b.consistent && distance > 0 && (period == 0 || distance < period))
                period = distance;
        }
    }
    return period;
}

} // namespace

ScrollingFrame::ScrollingFrame(const QImage &image)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return;
    // Screen grabs are opaque: any 32-bit layout compares alike, since the alpha byte is ignored.
    const QImage::Format format = image.format();
    m_image = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
            || format == QImage::Format_ARGB32_Premultiplied
        ? image
        : image.convertToFormat(QImage::Format_RGB32);
    if (m_image.isNull())
        return;
    const int width = m_image.width();
    const int height = m_image.height();
    m_bandWidth = std::max(8, (width + maximumBands - 1) / maximumBands);
    m_bandWidth += m_bandWidth % 2;
    m_bandCount = (width + m_bandWidth - 1) / m_bandWidth;
    m_cells.resize(size_t(width > 0 ? height : 0) * size_t(m_bandCount));
    m_uniform.assign(size_t(height), 0);
    for (int row = 0; row < height; ++row) {
        const auto *pixels = reinterpret_cast<const quint32 *>(m_image.constScanLine(row));
        quint32 uniformMask = 0;
        quint64 *cells = m_cells.data() + size_t(row) * size_t(m_bandCount);
        for (int band = 0; band < m_bandCount; ++band) {
            const int left = bandLeft(band);
            bool uniform = false;
            cells[band] = hashCell(pixels + left, bandRight(band) - left, uniform);
            if (uniform)
                uniformMask |= 1u << band;
        }
        m_uniform[size_t(row)] = uniformMask;
    }
    buildIndex();
}

ScrollingFrame::ScrollingFrame(
    const QImage &image, std::vector<quint32> changed, std::vector<quint32> changing)
    : ScrollingFrame(image)
{
    const auto fitted = [this](std::vector<quint32> &marks) {
        if (marks.empty() || isNull())
            return std::vector<quint32>();
        marks.resize(size_t(height()), 0);
        for (quint32 &bands : marks)
            bands &= allBands();
        return std::move(marks);
    };
    m_changed = fitted(changed);
    m_volatile = fitted(changing);
}

void ScrollingFrame::buildIndex()
{
    size_t informative = 0;
    for (int row = 0; row < height(); ++row)
        informative += size_t(m_bandCount - __builtin_popcount(m_uniform[size_t(row)]));
    size_t capacity = 16;
    while (capacity < 2 * informative)
        capacity *= 2;
    m_slots.assign(capacity, Slot {});
    m_next.assign(informative, -1);
    m_rowOf.assign(informative, 0);
    const size_t mask = capacity - 1;
    int entry = 0;
    for (int row = 0; row < height(); ++row) {
        const quint32 uniform = m_uniform[size_t(row)];
        for (int band = 0; band < m_bandCount; ++band) {
            if (uniform & (1u << band))
                continue;
            const quint64 key = bandKey(cell(row, band), band);
            size_t i = size_t(key) & mask;
            while (m_slots[i].head != -1 && m_slots[i].key != key)
                i = (i + 1) & mask;
            Slot &slot = m_slots[i];
            m_rowOf[size_t(entry)] = row;
            m_next[size_t(entry)] = slot.head;
            slot.key = key;
            slot.head = entry;
            ++slot.count;
            ++entry;
        }
    }
}

int ScrollingFrame::rowsWithCell(int band, quint64 signature, int limit, int *rows) const
{
    if (m_slots.empty())
        return 0;
    const quint64 key = bandKey(signature, band);
    const size_t mask = m_slots.size() - 1;
    size_t i = size_t(key) & mask;
    while (m_slots[i].head != -1 && m_slots[i].key != key)
        i = (i + 1) & mask;
    const Slot &slot = m_slots[i];
    if (slot.head == -1)
        return 0;
    if (slot.count > limit)
        return slot.count;
    int n = 0;
    for (int entry = slot.head; entry != -1; entry = m_next[size_t(entry)])
        rows[n++] = m_rowOf[size_t(entry)];
    return n;
}

ScrollingFrameAnalyzer::ScrollingFrameAnalyzer()
    : m_worker(std::make_unique<QThreadPool>())
{
    m_worker->setMaxThreadCount(1);
    m_worker->setExpiryTimeout(-1);
}

ScrollingFrameAnalyzer::~ScrollingFrameAnalyzer()
{
    m_worker->waitForDone();
}

QFuture<ScrollingFramePtr> ScrollingFrameAnalyzer::prepare(QImage image)
{
    return QtConcurrent::run(m_worker.get(), [image = std::move(image)] { return prepareFrame(image); });
}

QFuture<ScrollingAlignment> ScrollingFrameAnalyzer::align(
    ScrollingFramePtr previous, ScrollingFramePtr current, QList<int> expectedOffsets)
{
    return QtConcurrent::run(m_worker.get(),
        [previous = std::move(previous), current = std::move(current),
            expected = std::move(expectedOffsets)] {
            if (!previous || !current)
                return ScrollingAlignment {};
            return alignFrames(*previous, *current, expected);
        });
}

QFuture<double> ScrollingFrameAnalyzer::difference(ScrollingFramePtr previous, ScrollingFramePtr current)
{
    return QtConcurrent::run(m_worker.get(), [previous = std::move(previous), current = std::move(current)] {
        if (!previous || !current)
            return 1.0;
        return frameDifference(*previous, *current);
    });
}

ScrollingFramePtr ScrollingFrameAnalyzer::prepareFrame(const QImage &image)
{
    return std::make_shared<const ScrollingFrame>(image);
}

ScrollingAlignment ScrollingFrameAnalyzer::alignFrames(
    const ScrollingFrame &previous, const ScrollingFrame &current, const QList<int> &expectedOffsets)
{
    ScrollingAlignment alignment;
    if (previous.isNull() || current.isNull() || previous.width() != current.width()
        || previous.height() != current.height())
        return alignment;

    const Aligner aligner(previous, current);
    if (aligner.identical()) {
        alignment.identical = true;
        alignment.confidence = 1.0;
        return alignment;
    }

    std::vector<Evaluation> evaluations = evaluateShifts(aligner);
    const auto evaluationOf = [&evaluations](int shift) -> const Evaluation * {
        for (const Evaluation &e : evaluations) {
            if (e.shift == shift)
                return &e;
        }
        return nullptr;
    };
    // Frames alike where they were but for a scrollbar thumb that faded in place: the view did not
    // move, however well repeated rows fit an expected step taking the rest for fixed.
    const Evaluation *still = evaluationOf(0);
    if (still && still->consistent && still->mismatched == 0 && still->excludedBands != 0
        && aligner.fadedInPlace(still->excludedBands)) {
        alignment.confidence = 1.0;
        alignment.excludedColumns = columnsOf(current, still->excludedBands);
        alignment.period = periodOf(evaluations);
        return alignment;
    }
    for (int expected : expectedOffsets) {
        if (expected != 0 && std::abs(expected) <= current.height() - minimumOverlapRows
            && !evaluationOf(expected))
            evaluations.push_back(aligner.evaluate(expected));
    }
    const Evaluation *best = bestOf(evaluations);
    if (best)
        alignment = describe(aligner, *best, evaluations);
    alignment.period = periodOf(evaluations);
    if (expectedOffsets.isEmpty())
        return alignment;

    // An expected step that the pixels fit is taken, even when they fit another offset as well
    // (repeated rows): the step the capture asked for tells which one it was.
    for (int expected : expectedOffsets) {
        const Evaluation *e = evaluationOf(expected);
        if (!e || !e->consistent)
            continue;
        if (e == best && alignment.confidence >= ScrollingAlignment::minimumConfidence)
            return alignment;
        const int period = alignment.period;
        alignment = describe(aligner, *e, evaluations);
        alignment.basis = ScrollingAlignment::Basis::expectedStep;
        alignment.period = period;
        // Rows that repeat fit the step a period shorter as well: one that stopped there at the end of
        // the content would look the same.
        if (period > 0 && expected - period > 0 && !evaluationOf(expected - period))
            evaluations.push_back(aligner.evaluate(expected - period));
        alignment.fitsShorterStep
            = std::any_of(evaluations.begin(), evaluations.end(), [expected](const Evaluation &other) {
                  return other.consistent && other.shift > 0 && other.shift < expected;
              });
        alignment.fitsLongerStep
            = std::any_of(expectedOffsets.begin(), expectedOffsets.end(), [&](int other) {
                  const Evaluation *fit = evaluationOf(other);
                  return other > expected && fit && fit->consistent;
              });
        return alignment;
    }
    // A step that stopped short (the end of the content) moved less than expected: the one offset
    // the pixels fit between no movement and the largest expected step is it.
    const int ceiling = *std::max_element(expectedOffsets.begin(), expectedOffsets.end());
    const Evaluation *within = nullptr;
    int fitting = 0;
    for (const Evaluation &e : evaluations) {
        if (e.consistent && e.shift >= 0 && e.shift <= ceiling) {
            within = &e;
            ++fitting;
        }
    }
    if (fitting == 1 && within->shift > 0) {
        const int period = alignment.period;
        alignment = describe(aligner, *within, evaluations, 0, ceiling);
        alignment.period = period;
        return alignment;
    }
    if (best && alignment.confidence >= ScrollingAlignment::overrulingConfidence)
        return alignment;
    // Pixels that tell nothing about the expected step (rows of one colour, a flat panel) leave it
    // standing.
    for (int expected : expectedOffsets) {
        if (std::abs(expected) >= current.height() || !aligner.flatAtShift(expected))
            continue;
        ScrollingAlignment unchecked;
        unchecked.offset = expected;
        unchecked.basis = ScrollingAlignment::Basis::unchecked;
        unchecked.period = alignment.period;
        return unchecked;
    }
    // The pixels contradict every expected step without being sure of another.
    alignment.confidence *= 0.5;
    return alignment;
}

bool ScrollingFrameAnalyzer::hidesStep(const ScrollingFrame &frame, int top, int bottom, int shift)
{
    top = std::max(0, top);
    bottom = std::min(frame.height(), bottom);
    shift = std::abs(shift);
    if (frame.isNull() || bottom <= top || shift == 0)
        return true;
    const quint32 all = frame.allBands();
    const auto sameRows = [&](int a, int b) {
        const quint32 compared = all & ~(frame.volatileBands(a) | frame.volatileBands(b));
        for (int band = 0; band < frame.bandCount(); ++band) {
            if ((compared & (1u << band)) && frame.cell(a, band) != frame.cell(b, band))
                return false;
        }
        return true;
    };
    // A step as tall as the rows replaces them all, and one that leaves less than a quarter of them
    // in view is told by too few (a gap between paragraphs looks the same moved): only rows that are
    // all alike hide it. The capture's own steps leave more.
    const int rows = bottom - top;
    const int distance = rows - shift >= std::max(minimumOverlapRows, rows / 4) ? shift : 1;
    for (int row = top; row + distance < bottom; ++row) {
        if (!sameRows(row, row + distance))
            return false;
    }
    return true;
}

std::pair<int, int> ScrollingFrameAnalyzer::blankedRows(
    const ScrollingFrame &earlier, const ScrollingFrame &later)
{
    if (earlier.isNull() || later.isNull() || earlier.width() != later.width()
        || earlier.height() != later.height())
        return {};
    const quint32 all = later.allBands();
    int first = -1;
    int last = -1;
    for (int row = 0; row < later.height(); ++row) {
        const quint32 seen = earlier.changedBands(row) | later.changedBands(row);
        if (compareRows(earlier, row, later, row, all & ~seen) == 0)
            continue;
        if (first < 0)
            first = row;
        last = row + 1;
    }
    if (first < 0)
        return {};
    // Every row from the first that differs to the last is blank now, in one colour; the earlier
    // look showed something in enough of them.
    const std::optional<QRgb> blank = colourOf(later, first);
    if (!blank)
        return {};
    int drawn = 0;
    for (int row = first; row < last; ++row) {
        if (colourOf(later, row) != blank)
            return {};
        drawn += colourOf(earlier, row) != blank;
    }
    // A line of text, not a stray row.
    if (drawn < minimumOverlapRows)
        return {};
    return { first, last };
}

int ScrollingFrameAnalyzer::blankTail(const ScrollingFrame &earlier, const ScrollingFrame &later)
{
    const int height = later.height();
    if (earlier.isNull() || later.isNull() || earlier.width() != later.width() || earlier.height() != height)
        return height;
    const std::optional<QRgb> blank = colourOf(later, height - 1);
    if (!blank)
        return height;
    int first = height - 1;
    while (first > 0 && colourOf(later, first - 1) == blank)
        --first;
    int drawn = 0;
    for (int row = first; row < height; ++row)
        drawn += colourOf(earlier, row) != blank;
    return 4 * (height - first) >= height && 3 * drawn >= height - first ? first : height;
}

double ScrollingFrameAnalyzer::frameDifference(const ScrollingFrame &previous, const ScrollingFrame &current)
{
    if (previous.isNull() || current.isNull() || previous.width() != current.width()
        || previous.height() != current.height())
        return 1.0;
    qint64 differing = 0;
    const quint32 all = current.allBands();
    for (int row = 0; row < current.height(); ++row) {
        const quint32 seen = previous.changedBands(row) | current.changedBands(row);
        differing += compareRows(previous, row, current, row, all & ~seen);
    }
    return double(differing) / (double(current.height()) * double(current.bandCount()));
}

ScrollingFramePtr ScrollingFrameAnalyzer::restingLook(
    const ScrollingFramePtr &earlier, const ScrollingFramePtr &later)
{
    if (!earlier || !later || earlier->isNull() || later->isNull() || earlier->width() != later->width()
        || earlier->height() != later->height())
        return later;
    const int height = later->height();
    std::vector<quint32> changed(size_t(height), 0);
    std::vector<quint32> changing(size_t(height), 0);
    bool anyChanged = false;
    bool anyChanging = false;
    bool changedElsewhere = false;
    for (int row = 0; row < height; ++row) {
        const quint32 seen = earlier->changedBands(row);
        quint32 now = 0;
        for (int band = 0; band < later->bandCount(); ++band) {
            if (earlier->cell(row, band) != later->cell(row, band))
                now |= 1u << band;
        }
        changedElsewhere = changedElsewhere || (now & ~seen);
        changed[size_t(row)] = seen | now;
        changing[size_t(row)] = earlier->volatileBands(row) | (seen & now);
        anyChanged = anyChanged || changed[size_t(row)];
        anyChanging = anyChanging || changing[size_t(row)];
    }
    if (!anyChanged)
        return later;
    if (changedElsewhere) {
        // Only a page at rest tells what changes on its own: most of it agrees where it was, and
        // no movement explains the looks better.
        const Aligner aligner(*earlier, *later);
        const std::vector<Evaluation> evaluations = evaluateShifts(aligner);
        const Evaluation *best = bestOf(evaluations);
        if (!best || best->shift != 0 || agreementOf(*best) < 0.5)
            return later;
    }
    auto look = std::make_shared<ScrollingFrame>(*later);
    look->m_changed = std::move(changed);
    if (anyChanging)
        look->m_volatile = std::move(changing);
    return look;
}
