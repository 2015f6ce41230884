#include "Capture/PageAnalysis.h"

#include "Async/Task.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>
#include <set>

namespace {

// A dark panel that may hold light text is at least this tall and wide.
constexpr int minimumPanelSide = 12;
// Taller than any letter a region is read for.
constexpr int largePanelSide = 48;
// The shortest vertical and horizontal strokes that may be rules, whatever the size of the text.
constexpr int shortestVerticalRule = 12;
constexpr int shortestHorizontalRule = 24;

using Box = PageAnalysis::Box;
using Separator = PageAnalysis::Separator;
using TextLayout = PageAnalysis::TextLayout;
using Section = PageAnalysis::Section;
using Span = PageAnalysis::Span;
using Band = PageAnalysis::Band;
using Run = PageAnalysis::Run;
using Piece = PageAnalysis::Piece;

// Asked between the rows of every long pass over the image, so that a large one stops within a
// moment of being asked to.
struct Stopper
{
    const std::function<bool()> &shouldStop;
    void check() const
    {
        if (shouldStop && shouldStop())
            throw TaskCancelled();
    }
};

using Histogram = std::array<qint64, 256>;

// How many pixels of each brightness lie in columns [left, right) of rows [top, bottom).
Histogram histogramOf(
    const QImage &gray, int left, int top, int right, int bottom, const Stopper *stop = nullptr)
{
    Histogram histogram {};
    for (int y = top; y < bottom; ++y) {
        if (stop)
            stop->check();
        const uchar *row = gray.constScanLine(y);
        for (int x = left; x < right; ++x)
            ++histogram[row[x]];
    }
    return histogram;
}

Histogram histogramOf(const QImage &gray, const Stopper &stop)
{
    return histogramOf(gray, 0, 0, gray.width(), gray.height(), &stop);
}

// The first of the most common brightnesses.
int mostCommon(const Histogram &histogram)
{
    return int(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
}

// A band of rows of `source` in 32-bit RGB, alpha composed over white, pixel for pixel.
QImage opaqueRows(const QImage &source, int top, int rows)
{
    QImage band = source.copy(0, top, source.width(), rows);
    band.setDevicePixelRatio(1);
    if (band.hasAlphaChannel()) {
        QImage flat(band.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, band);
        painter.end();
        return flat;
    }
    return band.convertToFormat(QImage::Format_RGB32);
}

// A grayscale copy with dark text on a light ground, alpha composed over white. Each pixel is set
// off from the ground by its difference in brightness or, where larger, most of its difference in
// colour: bright cyan or yellow text on cream differs from it in colour far more than in brightness.
QImage normalizedGray(const QImage &source, bool *inverted, const Stopper &stop)
{
    // Converted a band of rows at a time: a large image takes a while, and a cancel is answered
    // between two bands.
    constexpr int bandRows = 256;
    // The ground's colour: the most common one, to 5 bits a channel, averaged over its pixels.
    std::vector<qint64> counts(32768, 0);
    std::vector<std::array<qint64, 3>> sums(32768, { 0, 0, 0 });
    for (int top = 0; top < source.height(); top += bandRows) {
        stop.check();
        const QImage band = opaqueRows(source, top, std::min(bandRows, source.height() - top));
        for (int y = 0; y < band.height(); ++y) {
            const auto *row = reinterpret_cast<const QRgb *>(band.constScanLine(y));
            for (int x = 0; x < band.width(); ++x) {
                const QRgb pixel = row[x];
                const int bin
                    = ((qRed(pixel) >> 3) << 10) | ((qGreen(pixel) >> 3) << 5) | (qBlue(pixel) >> 3);
                ++counts[std::size_t(bin)];
                sums[std::size_t(bin)][0] += qRed(pixel);
                sums[std::size_t(bin)][1] += qGreen(pixel);
                sums[std::size_t(bin)][2] += qBlue(pixel);
            }
        }
    }
    const std::size_t common = std::size_t(std::max_element(counts.begin(), counts.end()) - counts.begin());
    const qint64 n = std::max<qint64>(1, counts[common]);
    const int groundRed = int(sums[common][0] / n);
    const int groundGreen = int(sums[common][1] / n);
    const int groundBlue = int(sums[common][2] / n);
    // Brightness as the toolkit's own conversion gives it.
    QImage groundPixel(1, 1, QImage::Format_RGB32);
    groundPixel.setPixel(0, 0, qRgb(groundRed, groundGreen, groundBlue));
    const int groundGray = groundPixel.convertToFormat(QImage::Format_Grayscale8).constScanLine(0)[0];
    QImage gray(source.size(), QImage::Format_Grayscale8);
    for (int top = 0; top < source.height(); top += bandRows) {
        stop.check();
        const QImage band = opaqueRows(source, top, std::min(bandRows, source.height() - top));
        const QImage levels = band.convertToFormat(QImage::Format_Grayscale8);
        for (int y = 0; y < band.height(); ++y) {
            const auto *row = reinterpret_cast<const QRgb *>(band.constScanLine(y));
            const uchar *level = levels.constScanLine(y);
            uchar *out = gray.scanLine(top + y);
            for (int x = 0; x < band.width(); ++x) {
                const QRgb pixel = row[x];
                const int colour = std::max({ std::abs(qRed(pixel) - groundRed),
                    std::abs(qGreen(pixel) - groundGreen), std::abs(qBlue(pixel) - groundBlue) });
                const int shift = level[x] - groundGray;
                if (std::abs(shift) >= colour * 3 / 4) {
                    out[x] = level[x];
                    continue;
                }
                // Of about the ground's brightness: set off towards the side with more room.
                const int apart = colour * 3 / 4;
                const bool darker = std::abs(shift) * 4 < colour ? groundGray >= 128 : shift < 0;
                out[x] = uchar(std::clamp(darker ? groundGray - apart : groundGray + apart, 0, 255));
            }
        }
    }
    // The ground is the most common brightness; a dark ground means light text.
    const Histogram histogram = histogramOf(gray, stop);
    const qint64 total = qint64(gray.width()) * gray.height();
    qint64 dark = 0;
    for (int v = 0; v < 128; ++v)
        dark += histogram[v];
    *inverted = dark * 2 > total;
    if (*inverted)
        gray.invertPixels();
    return gray;
}

// The most common brightness: the ground the text stands on.
int groundLevel(const QImage &gray, const Stopper &stop)
{
    return mostCommon(histogramOf(gray, stop));
}

int otsuThreshold(const QImage &gray, const Stopper &stop)
{
    const Histogram histogram = histogramOf(gray, stop);
    const double total = double(gray.width()) * gray.height();
    double sum = 0;
    for (int v = 0; v < 256; ++v)
        sum += double(v) * histogram[v];
    double sumBelow = 0;
    double weightBelow = 0;
    double best = -1;
    int threshold = 128;
    for (int v = 0; v < 256; ++v) {
        weightBelow += histogram[v];
        if (weightBelow == 0)
            continue;
        const double weightAbove = total - weightBelow;
        if (weightAbove == 0)
            break;
        sumBelow += double(v) * histogram[v];
        const double meanBelow = sumBelow / weightBelow;
        const double meanAbove = (sum - sumBelow) / weightAbove;
        const double between = weightBelow * weightAbove * (meanBelow - meanAbove) * (meanBelow - meanAbove);
        if (between > best) {
            best = between;
            threshold = v;
        }
    }
    return threshold;
}

// Boxes of the dark connected shapes (8-connected), found run by run.
std::vector<Box> darkComponents(const QImage &gray, int threshold, const Stopper &stop)
{
    struct Run
    {
        int start;
        int end; // exclusive
        int label;
        int darkest;
    };
    std::vector<int> parent;
    std::vector<Box> boxes;
    const auto find = [&](int label) {
        while (parent[label] != label) {
            parent[label] = parent[parent[label]];
            label = parent[label];
        }
        return label;
    };
    std::vector<Run> previous;
    std::vector<Run> current;
    for (int y = 0; y < gray.height(); ++y) {
        stop.check();
        const uchar *row = gray.constScanLine(y);
        current.clear();
        for (int x = 0; x < gray.width();) {
            if (row[x] > threshold) {
                ++x;
                continue;
            }
            const int start = x;
            int darkest = 255;
            while (x < gray.width() && row[x] <= threshold)
                darkest = std::min<int>(darkest, row[x++]);
            current.push_back({ start, x, -1, darkest });
        }
        std::size_t p = 0;
        for (Run &run : current) {
            while (p < previous.size() && previous[p].end < run.start)
                ++p;
            for (std::size_t q = p; q < previous.size() && previous[q].start <= run.end; ++q) {
                const int other = find(previous[q].label);
                if (run.label < 0) {
                    run.label = other;
                } else {
                    const int mine = find(run.label);
                    if (mine != other)
                        parent[std::max(mine, other)] = std::min(mine, other);
                }
            }
            if (run.label < 0) {
                run.label = int(parent.size());
                parent.push_back(run.label);
                boxes.push_back({ run.start, y, run.end, y + 1, run.end - run.start, run.darkest });
            } else {
                Box &box = boxes[find(run.label)];
                box.left = std::min(box.left, run.start);
                box.right = std::max(box.right, run.end);
                box.bottom = y + 1;
                box.ink += run.end - run.start;
                box.darkest = std::min(box.darkest, run.darkest);
            }
        }
        previous.swap(current);
    }
    // Fold every label's box into its root.
    std::vector<Box> merged;
    std::vector<int> slot(parent.size(), -1);
    for (int label = 0; label < int(parent.size()); ++label) {
        const int root = find(label);
        const Box &box = boxes[label];
        if (slot[root] < 0) {
            slot[root] = int(merged.size());
            merged.push_back(box);
        } else {
            Box &into = merged[slot[root]];
            into.left = std::min(into.left, box.left);
            into.top = std::min(into.top, box.top);
            into.right = std::max(into.right, box.right);
            into.bottom = std::max(into.bottom, box.bottom);
            into.ink += box.ink;
            into.darkest = std::min(into.darkest, box.darkest);
        }
    }
    return merged;
}

// The rows of a dark shape in `box`, each from its first pixel to its last: the shape is the dark
// run that is widest along the box's top row and everything joined to it (8-connected). Empty when
// the pixels found are not all of the shape's `ink`, so another shape's run was taken.
std::vector<Span> shapeRows(const QImage &gray, int threshold, const Box &box)
{
    const int width = box.width();
    std::vector<uchar> inside(std::size_t(width) * std::size_t(box.height()), 0);
    const auto at = [&](int x, int y) -> uchar & {
        return inside[std::size_t(y - box.top) * std::size_t(width) + std::size_t(x - box.left)];
    };
    const uchar *top = gray.constScanLine(box.top);
    int seed = -1;
    int widest = 0;
    for (int x = box.left; x < box.right;) {
        const int start = x;
        while (x < box.right && top[x] <= threshold)
            ++x;
        if (x - start > widest) {
            widest = x - start;
            seed = start;
        }
        x = std::max(x, start + 1);
    }
    if (seed < 0)
        return {};
    std::vector<std::pair<int, int>> pending { { seed, box.top } };
    at(seed, box.top) = 1;
    qint64 found = 0;
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        ++found;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx;
                const int ny = y + dy;
                if (nx < box.left || nx >= box.right || ny < box.top || ny >= box.bottom || at(nx, ny)
                    || gray.constScanLine(ny)[nx] > threshold)
                    continue;
                at(nx, ny) = 1;
                pending.emplace_back(nx, ny);
            }
        }
    }
    if (found != box.ink)
        return {};
    std::vector<Span> rows;
    rows.reserve(std::size_t(box.height()));
    for (int y = box.top; y < box.bottom; ++y) {
        int from = box.left;
        int to = box.right;
        while (from < to && !at(from, y))
            ++from;
        while (to > from && !at(to - 1, y))
            --to;
        rows.emplace_back(from, to);
    }
    // A light letter at the shape's side (the bar of a "T" where a selection starts) cuts into its
    // row for a few rows: each row's ends are those most common among the rows around it.
    constexpr int around = 4;
    std::vector<Span> even(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t first = i >= around ? i - around : 0;
        const std::size_t last = std::min(rows.size(), i + around + 1);
        const auto mostCommonEnd = [&](auto end) {
            int best = end(rows[i]);
            long bestCount = 0;
            for (std::size_t j = first; j < last; ++j) {
                const long count = std::count_if(rows.begin() + long(first), rows.begin() + long(last),
                    [&](const Span &other) { return end(other) == end(rows[j]); });
                if (count > bestCount || (count == bestCount && end(rows[j]) == end(rows[i]))) {
                    best = end(rows[j]);
                    bestCount = count;
                }
            }
            return best;
        };
        even[i] = { mostCommonEnd([](const Span &span) { return span.first; }),
            mostCommonEnd([](const Span &span) { return span.second; }) };
    }
    return even;
}

// Whether a dark shape with these rows is a panel of straight-edged strips, as a selection that starts
// and ends within lines of text is: each row dark across most of its width, the first and last
// nearly all through, and its sides straight but for a few steps (a ring or a round icon is curved
// all the way).
bool isSteppedPanel(const QImage &gray, int threshold, const Box &box, const std::vector<Span> &rows)
{
    qint64 area = 0;
    int steps = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        area += rows[i].second - rows[i].first;
        steps += i > 0 && rows[i] != rows[i - 1];
    }
    const auto fullRow = [&](int y, const Span &span) {
        const uchar *row = gray.constScanLine(y);
        const int dark = int(std::count_if(
            row + span.first, row + span.second, [threshold](uchar level) { return level <= threshold; }));
        return dark * 10 >= (span.second - span.first) * 9;
    };
    return steps * 10 <= int(rows.size()) && box.ink * 5 >= area * 3 && area - box.ink >= area / 100
        && fullRow(box.top, rows.front()) && fullRow(box.bottom - 1, rows.back());
}

// Light text on a dark panel inside a light region (a banner, a button, a dark header row, the
// selection's highlight): the panel is a large dark shape, dark at its edge all round or made of
// straight-edged strips, that holds light shapes. Each is inverted in place, so all text reads dark
// on light.
void invertPanels(QImage &gray, const Stopper &stop)
{
    const int threshold = otsuThreshold(gray, stop);
    for (const Box &box : darkComponents(gray, threshold, stop)) {
        // Wide like a bar or a button, or larger than any letter: a bold letter is neither.
        if (box.width() < minimumPanelSide || box.height() < minimumPanelSide
            || (box.width() < 2 * box.height() && box.height() < largePanelSide))
            continue;
        qint64 dark = 0;
        qint64 edge = 0;
        qint64 darkEdge = 0;
        for (int y = box.top; y < box.bottom; ++y) {
            const uchar *row = gray.constScanLine(y);
            const bool edgeRow = y == box.top || y == box.bottom - 1;
            for (int x = box.left; x < box.right; ++x) {
                const bool isDark = row[x] <= threshold;
                dark += isDark;
                if (edgeRow || x == box.left || x == box.right - 1) {
                    ++edge;
                    darkEdge += isDark;
                }
            }
        }
        const qint64 area = qint64(box.width()) * box.height();
        // Mostly dark (not a frame around light content), dark at the edge (not a letter), and
        // holding something light (not a solid block).
        const bool boxed = dark * 5 >= area * 3 && darkEdge * 10 >= edge * 9 && area - dark >= area / 100;
        // Along each row, from the panel's first pixel to its last: beyond them lies the region's
        // own ground (in the corners of a rounded button, beside a selection that starts within a
        // line), which turned over became specks read as "r" or "7", or text turned light.
        std::vector<Span> rows;
        if (!boxed) {
            rows = shapeRows(gray, threshold, box);
            if (rows.empty() || !isSteppedPanel(gray, threshold, box, rows))
                continue;
        } else {
            for (int y = box.top; y < box.bottom; ++y) {
                const uchar *row = gray.constScanLine(y);
                int from = box.left;
                int to = box.right - 1;
                while (from < to && row[from] > threshold)
                    ++from;
                while (to > from && row[to] > threshold)
                    --to;
                rows.emplace_back(from, to + 1);
            }
        }
        // Inverted, and stretched so that the panel's own ground becomes as light as the region's.
        Histogram histogram {};
        for (int y = box.top; y < box.bottom; ++y) {
            const uchar *row = gray.constScanLine(y);
            const Span &span = rows[std::size_t(y - box.top)];
            for (int x = span.first; x < span.second; ++x)
                ++histogram[row[x]];
        }
        const int invertedGround = std::max(1, 255 - mostCommon(histogram));
        for (int y = box.top; y < box.bottom; ++y) {
            uchar *row = gray.scanLine(y);
            const Span &span = rows[std::size_t(y - box.top)];
            for (int x = span.first; x < span.second; ++x)
                row[x] = uchar(std::min(255, (255 - row[x]) * 255 / invertedGround));
        }
    }
}

// Dark text on a light panel a shade darker than the ground (a chip, a tag, a selected or striped
// row, a tinted button): the engine sets its threshold between the page's ground and the panel, reads
// the panel as one dark blob and its text not at all. Each such panel is lightened in place, its
// own ground to the page's and its text in proportion. Returns whether anything changed.
bool flattenPanels(QImage &gray, int ground, const Stopper &stop)
{
    const int set = ground - 12;
    // A ground this dark holds no panel darker still that could hold darker text.
    if (set < 96)
        return false;
    bool changed = false;
    for (const Box &box : darkComponents(gray, set, stop)) {
        if (box.width() < minimumPanelSide || box.height() < minimumPanelSide)
            continue;
        const Histogram histogram = histogramOf(gray, box.left, box.top, box.right, box.bottom);
        const int panel = mostCommon(histogram);
        const qint64 area = qint64(box.width()) * box.height();
        const qint64 filled = std::accumulate(histogram.begin(), histogram.begin() + set + 1, qint64(0));
        const qint64 text
            = std::accumulate(histogram.begin(), histogram.begin() + std::max(0, panel - 47), qint64(0));
        // A filled panel, not a dark one (those were turned over), holding darker text.
        if (panel > set || panel < 96 || filled * 5 < area * 3 || text * 100 < area || text * 5 > area * 2)
            continue;
        changed = true;
        for (int y = box.top; y < box.bottom; ++y) {
            uchar *row = gray.scanLine(y);
            for (int x = box.left; x < box.right; ++x)
                row[x] = uchar(std::min(255, row[x] * ground / panel));
        }
    }
    return changed;
}

// What the layout of the region looks like: how tall its letters are and where they lie.
TextLayout analyseLayout(const QImage &gray, const Stopper &stop)
{
    TextLayout layout;
    const int threshold = otsuThreshold(gray, stop);
    layout.threshold = threshold;
    std::vector<Box> shapes = darkComponents(gray, threshold, stop);
    // Letter-like shapes only: rules, frames, icons and specks say nothing about the text size.
    std::vector<Box> letters;
    for (const Box &box : shapes) {
        if (box.height() >= 3 && box.height() <= 200 && box.width() <= 3 * box.height() + 8
            && box.width() * box.height() >= 6)
            letters.push_back(box);
        else if (box.height() <= 200)
            layout.marks.push_back(box);
    }
    if (letters.empty())
        return layout;
    layout.letters = letters;
    std::vector<int> heights;
    heights.reserve(letters.size());
    for (const Box &box : letters)
        heights.push_back(box.height());
    const std::size_t at = std::min(heights.size() - 1, heights.size() * 4 / 5);
    std::nth_element(heights.begin(), heights.begin() + qsizetype(at), heights.end());
    layout.capHeight = heights[at];

    return layout;
}

// Shapes beside text that are no letters: the circles of radio buttons, check boxes, switches, avatars,
// and solid ones such as the arrows of combo boxes and filled check boxes. The engine reads them as
// "O", "@", "&" or "v". A round, pill-shaped or boxed outline clearly taller than the letters on its line
// and than most of the page's text, holding no text, is one; so is a shape the size of a
// letter that is solid, which no letter is at that size (its strokes are thin; a dot is far
// smaller). Each is painted over with the ground. Returns whether any was.
bool removeShapes(QImage &gray, int ground, const TextLayout &layout, const Stopper &stop)
{
    const std::vector<Box> &letters = layout.letters;
    if (letters.empty())
        return false;
    // Letters by the row of their centre, a few rows to a bucket.
    constexpr int bucketRows = 8;
    std::map<int, std::vector<std::size_t>> byRow;
    for (std::size_t i = 0; i < letters.size(); ++i)
        byRow[(letters[i].top + letters[i].bottom) / 2 / bucketRows].push_back(i);
    const auto isInk = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < gray.width() && y < gray.height()
            && gray.constScanLine(y)[x] <= layout.threshold;
    };
    const auto solid = [&](const Box &box) {
        const qint64 area = qint64(box.width()) * box.height();
        if (std::max(box.width(), box.height()) * 20 < layout.capHeight * 9
            || std::min(box.width(), box.height()) < 4 || box.ink * 20 < area * 9
            || 2 * std::min(box.width(), box.height()) < std::max(box.width(), box.height()))
            return false;
        // Much of it deep inside ink in every direction, deeper than any stroke of a letter this
        // size: the strokes of a bold letter meet in fewer such pixels.
        const int depth = std::max(1, box.height() / 5);
        qint64 deep = 0;
        for (int y = box.top + depth; y < box.bottom - depth; ++y) {
            for (int x = box.left + depth; x < box.right - depth; ++x) {
                bool inside = true;
                for (int dy = -depth; dy <= depth && inside; ++dy) {
                    for (int dx = -depth; dx <= depth && inside; ++dx)
                        inside = isInk(x + dx, y + dy);
                }
                deep += inside;
            }
        }
        // A flat one, as an arrow is, may be less deep: no letter this flat is solid at all.
        return 10 * deep >= 4 * box.ink || (4 * deep >= box.ink && 2 * box.height() <= box.width());
    };
    // Its ink within the circle, ellipse or pill its box holds: nothing in the corners.
    const auto outlineIsRound = [&](const Box &box) {
        const double halfHeight = box.height() / 2.0;
        const double straight = std::max(0.0, box.width() / 2.0 - halfHeight);
        const double halfWidth = straight > 0 ? halfHeight : box.width() / 2.0;
        const double centreX = (box.left + box.right) / 2.0;
        const double centreY = (box.top + box.bottom) / 2.0;
        qint64 ink = 0;
        qint64 outside = 0;
        // And ink all round along it: in each eighth of the turn.
        uchar around = 0;
        for (int y = box.top; y < box.bottom; ++y) {
            for (int x = box.left; x < box.right; ++x) {
                if (!isInk(x, y))
                    continue;
                ++ink;
                const double offset = x + 0.5 - centreX;
                const double dx
                    = std::copysign(std::max(0.0, std::abs(offset) - straight), offset) / halfWidth;
                const double dy = (y + 0.5 - centreY) / halfHeight;
                const double reach = dx * dx + dy * dy;
                outside += reach > 1.25;
                if (reach > 0.45 && reach <= 1.25) {
                    const double turn = std::atan2(dy, dx) / (2 * M_PI) + 0.5; // 0..1
                    around |= uchar(1u << std::min(7, int(turn * 8)));
                }
            }
        }
        return ink > 0 && outside * 20 <= ink && around == 0xff;
    };
    // Or its ink along the edges of its box alone, as of an empty check box.
    const auto outlineIsFrame = [&](const Box &box) {
        const int edge = std::max(2, std::min(box.width(), box.height()) / 5);
        qint64 ink = 0;
        qint64 inner = 0;
        for (int y = box.top; y < box.bottom; ++y) {
            for (int x = box.left; x < box.right; ++x) {
                if (!isInk(x, y))
                    continue;
                ++ink;
                inner += x >= box.left + edge && x < box.right - edge && y >= box.top + edge
                    && y < box.bottom - edge;
            }
        }
        if (ink == 0 || inner * 10 > ink)
            return false;
        // Closed all round: ink near each side along most of it.
        const auto covered = [&](bool horizontal, bool far) {
            const int along = horizontal ? box.width() : box.height();
            int found = 0;
            for (int p = 0; p < along; ++p) {
                bool hit = false;
                for (int d = 0; d < edge && !hit; ++d) {
                    const int x = horizontal ? box.left + p : far ? box.right - 1 - d : box.left + d;
                    const int y = horizontal ? (far ? box.bottom - 1 - d : box.top + d) : box.top + p;
                    hit = isInk(x, y);
                }
                found += hit;
            }
            return found * 10 >= along * 7;
        };
        return covered(true, false) && covered(true, true) && covered(false, false) && covered(false, true);
    };
    // Or two strokes crossing at its middle, as the plus of a spin button is.
    const auto isCross = [&](const Box &box) {
        const int middleX = (box.left + box.right) / 2;
        const int middleY = (box.top + box.bottom) / 2;
        const int arm = std::max(2, box.width() / 5);
        qint64 ink = 0;
        qint64 off = 0;
        int across = 0;
        int down = 0;
        for (int y = box.top; y < box.bottom; ++y) {
            for (int x = box.left; x < box.right; ++x) {
                if (!isInk(x, y))
                    continue;
                ++ink;
                off += std::abs(x - middleX) > arm && std::abs(y - middleY) > arm;
            }
        }
        for (int x = box.left; x < box.right; ++x)
            across += isInk(x, middleY) || isInk(x, middleY - 1) || isInk(x, middleY + 1);
        for (int y = box.top; y < box.bottom; ++y)
            down += isInk(middleX, y) || isInk(middleX - 1, y) || isInk(middleX + 1, y);
        return ink > 0 && off * 20 <= ink && across * 10 >= box.width() * 9 && down * 10 >= box.height() * 9;
    };
    // Shapes that may be such: solid ones, and round outlines. Round letters ("o", "O") are among the
    // latter, but only a shape clearly taller than the other letters beside it is kept.
    enum class Kind : uchar { Letter, Solid, Round, Cross };
    std::vector<Kind> kinds(letters.size(), Kind::Letter);
    for (std::size_t i = 0; i < letters.size(); ++i) {
        stop.check();
        const Box &box = letters[i];
        const int w = box.width();
        const int h = box.height();
        const bool round = 10 * std::abs(w - h) <= 3 * std::max(w, h);
        const bool pill = 2 * w >= 3 * h && w <= 3 * h;
        if (solid(box))
            kinds[i] = Kind::Solid;
        else if ((round || pill) && (outlineIsRound(box) || outlineIsFrame(box)))
            kinds[i] = Kind::Round;
        else if (round && isCross(box))
            kinds[i] = Kind::Cross;
    }
    std::vector<Box> found;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        stop.check();
        const Box &box = letters[i];
        const int h = box.height();
        if (kinds[i] == Kind::Letter)
            continue;
        if (kinds[i] == Kind::Round || kinds[i] == Kind::Cross) {
            // The tallest other letter beside it on its line, and what it holds.
            int tallest = 0;
            int held = 0;
            for (auto it = byRow.lower_bound(box.top / bucketRows);
                 it != byRow.end() && it->first <= (box.bottom - 1) / bucketRows; ++it) {
                for (const std::size_t j : it->second) {
                    const Box &other = letters[j];
                    const int centreX = (other.left + other.right) / 2;
                    const int centreY = (other.top + other.bottom) / 2;
                    if (j == i || centreY < box.top || centreY >= box.bottom)
                        continue;
                    if (centreX > box.left && centreX < box.right && other.height() < h) {
                        ++held;
                        continue;
                    }
                    const int gap = std::max(other.left - box.right, box.left - other.right);
                    // A thin stroke far taller than the text (a divider between buttons) is no letter.
                    const bool divider
                        = 4 * other.width() < other.height() && other.height() > 2 * layout.capHeight;
                    if (kinds[j] == Kind::Letter && !divider && gap <= 6 * h)
                        tallest = std::max(tallest, other.height());
                }
            }
            const int beside = std::max(tallest, layout.capHeight);
            if (held >= 2 || 20 * h < 29 * beside)
                continue;
        }
        found.push_back(box);
        if (kinds[i] != Kind::Cross)
            continue;
        // A plus that large is a button's icon, and so is a bar as wide as it beside it: its minus.
        for (const Box &mark : layout.marks) {
            const int centreY = (mark.top + mark.bottom) / 2;
            const int gap = std::max(mark.left - box.right, box.left - mark.right);
            if (4 * mark.height() <= mark.width() && std::abs(mark.width() - box.width()) <= 2
                && std::abs(centreY - (box.top + box.bottom) / 2) <= 2 && gap <= 4 * box.width())
                found.push_back(mark);
        }
    }
    for (const Box &box : found) {
        for (int y = std::max(0, box.top - 1); y < std::min(gray.height(), box.bottom + 1); ++y) {
            uchar *row = gray.scanLine(y);
            for (int x = std::max(0, box.left - 1); x < std::min(gray.width(), box.right + 1); ++x)
                row[x] = uchar(std::max<int>(row[x], ground));
        }
    }
    return !found.empty();
}

// Ruling lines: table grids, column dividers, frames, underlines. Beside such a stroke the engine
// drops whole columns of a table, so each is painted over with the ground before anything is read.
// A stroke is a rule when it is thin and much longer than the letters around it: no stem of a
// letter reaches twice the height of its neighbours, while a rule crosses several rows of a table.
// Each is kept among `separators`. Returns whether anything was painted over.
bool removeRules(QImage &gray, int ground, const std::vector<Box> &letters,
    std::vector<Separator> *separators, const Stopper &stop)
{
    // Letters that tell the size of the text: not the rules themselves (thin), nor a grid or frame
    // (sparse, or holding other shapes).
    std::vector<Box> sizes;
    for (const Box &box : letters) {
        const int shortSide = std::min(box.width(), box.height());
        const int longSide = std::max(box.width(), box.height());
        if (longSide < 5 * shortSide && box.ink * 10 >= qint64(box.width()) * box.height())
            sizes.push_back(box);
    }
    if (sizes.empty())
        return false;
    std::vector<int> order(sizes.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&sizes](int a, int b) { return sizes[a].top < sizes[b].top; });
    std::vector<int> heights;
    for (const Box &box : sizes)
        heights.push_back(box.height());
    std::nth_element(heights.begin(), heights.begin() + qsizetype(heights.size() / 2), heights.end());
    const int median = heights[heights.size() / 2];
    const auto holdsOthers = [&](std::size_t self) {
        // Only shapes well above the common size can be frames; shapes sorted by top bound the scan.
        const Box &outer = sizes[self];
        if (outer.height() < 2 * median)
            return false;
        int held = 0;
        for (int index : order) {
            const Box &inner = sizes[index];
            if (inner.top >= outer.bottom)
                break;
            const int x = (inner.left + inner.right) / 2;
            const int y = (inner.top + inner.bottom) / 2;
            if (std::size_t(index) != self && x >= outer.left && x < outer.right && y >= outer.top
                && y < outer.bottom && ++held >= 2)
                return true;
        }
        return false;
    };
    std::vector<Box> kept;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (!holdsOthers(i))
            kept.push_back(sizes[i]);
    }
    sizes.swap(kept);
    if (sizes.empty())
        return false;
    heights.clear();
    for (const Box &box : sizes)
        heights.push_back(box.height());
    const std::size_t at = heights.size() * 4 / 5;
    std::nth_element(heights.begin(), heights.begin() + qsizetype(at), heights.end());
    const int capHeight = heights[at];

    // The tallest letter reaching into each cell of a coarse grid, for the size of the text near a
    // stroke.
    constexpr int cell = 16;
    const int width = gray.width();
    const int height = gray.height();
    const int cellColumns = (width + cell - 1) / cell;
    const int cellRows = (height + cell - 1) / cell;
    std::vector<int> tallest(std::size_t(cellColumns) * cellRows, 0);
    for (const Box &box : sizes) {
        for (int row = box.top / cell; row <= (box.bottom - 1) / cell; ++row) {
            for (int column = box.left / cell; column <= (box.right - 1) / cell; ++column) {
                int &slot = tallest[std::size_t(row) * cellColumns + column];
                slot = std::max(slot, box.height());
            }
        }
    }
    const int reach = 2 * capHeight + 8;
    const auto letterHeightNear = [&](int left, int top, int right, int bottom) {
        int found = 0;
        for (int row = std::max(0, top / cell); row <= std::min(cellRows - 1, bottom / cell); ++row) {
            for (int column = std::max(0, left / cell); column <= std::min(cellColumns - 1, right / cell);
                 ++column)
                found = std::max(found, tallest[std::size_t(row) * cellColumns + column]);
        }
        return found > 0 ? found : capHeight;
    };

    // Faint rules count too: anything clearly darker than the ground.
    const int ink = ground - 20;
    // Thin strokes only, over at least half their length: a long dark bar or panel stays, it may
    // frame text (a dark header row, whose light letters would otherwise be cut along their gaps),
    // while a rule that crosses such a row is still a rule.
    const int thickest = std::max(3, capHeight / 2);
    const auto thin = [&](bool horizontal, int at, int from, int to) {
        const int samples = std::min(16, to - from);
        int thinAt = 0;
        for (int i = 0; i < samples; ++i) {
            const int along = from + (to - from) * (2 * i + 1) / (2 * samples);
            // The dark pixels across the stroke that touch it, on both sides.
            int extent = 1;
            for (const int step : { -1, 1 }) {
                for (int d = step; std::abs(d) <= thickest && extent <= thickest; d += step) {
                    const int x = horizontal ? along : at + d;
                    const int y = horizontal ? at + d : along;
                    if (x < 0 || y < 0 || x >= width || y >= height || gray.constScanLine(y)[x] > ink)
                        break;
                    ++extent;
                }
            }
            thinAt += extent <= thickest;
        }
        return thinAt * 2 >= samples;
    };
    constexpr uchar vertical = 1;
    constexpr uchar horizontal = 2;
    std::vector<uchar> marks;
    const auto mark = [&](int x, int y, uchar kind) {
        if (marks.empty())
            marks.assign(std::size_t(width) * height, 0);
        marks[std::size_t(y) * width + x] |= kind;
    };
    // Vertical strokes, found row by row with a run length per column.
    std::vector<int> run(width, 0);
    for (int y = 0; y <= height; ++y) {
        stop.check();
        const uchar *row = y < height ? gray.constScanLine(y) : nullptr;
        for (int x = 0; x < width; ++x) {
            if (row && row[x] <= ink) {
                ++run[x];
                continue;
            }
            const int length = run[x];
            run[x] = 0;
            if (length < shortestVerticalRule
                || length < 2 * letterHeightNear(x - reach, y - length, x + reach, y - 1)
                || !thin(false, x, y - length, y))
                continue;
            for (int from = y - length; from < y; ++from)
                mark(x, from, vertical);
            separators->push_back({ false, x, y - length, y });
        }
    }
    // Horizontal ones, which must be longer: an underscore or underline is a short horizontal rule.
    for (int y = 0; y < height; ++y) {
        stop.check();
        const uchar *row = gray.constScanLine(y);
        for (int x = 0; x < width;) {
            if (row[x] > ink) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && row[x] <= ink)
                ++x;
            const int length = x - start;
            if (length < shortestHorizontalRule
                || length < 4 * letterHeightNear(start, y - reach, x - 1, y + reach)
                || !thin(true, y, start, x))
                continue;
            for (int from = start; from < x; ++from)
                mark(from, y, horizontal);
            separators->push_back({ true, y, start, x });
        }
    }
    if (marks.empty())
        return false;

    // Where a letter's stroke crosses the rule (ink on both sides of it), the crossing stays, so
    // struck-out or underlined letters keep their shape.
    const auto isInk = [&](int x, int y) { return gray.constScanLine(y)[x] <= ink; };
    const auto paint = [&](int x, int y) { gray.scanLine(y)[x] = uchar(ground); };
    for (int y = 0; y < height; ++y) {
        stop.check();
        const uchar *rowMarks = marks.data() + std::size_t(y) * width;
        for (int x = 0; x < width;) {
            if (!(rowMarks[x] & vertical)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && (rowMarks[x] & vertical))
                ++x;
            const bool crossed = start > 0 && x < width && isInk(start - 1, y) && isInk(x, y);
            if (x - start <= thickest && !crossed) {
                for (int from = start; from < x; ++from)
                    paint(from, y);
            }
        }
    }
    std::fill(run.begin(), run.end(), 0);
    for (int y = 0; y <= height; ++y) {
        stop.check();
        const uchar *rowMarks = y < height ? marks.data() + std::size_t(y) * width : nullptr;
        for (int x = 0; x < width; ++x) {
            if (rowMarks && (rowMarks[x] & horizontal)) {
                ++run[x];
                continue;
            }
            const int top = y - run[x];
            const bool crossed = top > 0 && y < height && isInk(x, top - 1) && isInk(x, y);
            if (run[x] > 0 && run[x] <= thickest && !crossed) {
                for (int from = top; from < y; ++from)
                    paint(x, from);
            }
            run[x] = 0;
        }
    }
    return true;
}

// Cells drawn as boxes of their own, text fields, outlined buttons: a frame is a hollow shape whose
// four sides run straight along the edges of its box. The engine reads such edges as "|", "[" and
// "]", so they are painted over like rules and kept as separators. Returns whether any was found.
bool removeFrames(
    QImage &gray, int ground, int capHeight, std::vector<Separator> *separators, const Stopper &stop)
{
    const int ink = ground - 20;
    std::vector<Box> shapes = darkComponents(gray, ink, stop);
    std::vector<Box> byTop = shapes;
    std::sort(byTop.begin(), byTop.end(), [](const Box &a, const Box &b) { return a.top < b.top; });
    const auto isInk = [&](int x, int y) { return gray.constScanLine(y)[x] <= ink; };
    bool found = false;
    for (const Box &box : shapes) {
        stop.check();
        const int width = box.width();
        const int height = box.height();
        // Sides a few pixels thick at most; a bold letter or a filled bar is far denser.
        if (width < 8 || height < 8 || box.ink > 8 * qint64(width + height))
            continue;
        // Along each side, corners aside: where the ink stands on the box's edge itself, how far in
        // it mostly reaches (a letter that touches the side reaches further), and how far from each
        // corner the straight part begins.
        struct Side
        {
            int straight = 0;
            int length = 0;
            int thickness = 1;
            int rounding = 0;
        };
        const auto sideOf = [&](bool horizontal, bool far) {
            Side side;
            const int along = horizontal ? width : height;
            const int corner = std::min(8, std::min(width, height) / 4);
            const auto at = [&](int position, int depth) {
                const int x = horizontal ? box.left + position
                    : far                ? box.right - 1 - depth
                                         : box.left + depth;
                const int y
                    = horizontal ? (far ? box.bottom - 1 - depth : box.top + depth) : box.top + position;
                return isInk(x, y);
            };
            std::array<int, 6> depths {};
            bool started = false;
            for (int position = 0; position < along; ++position) {
                const bool onEdge = at(position, 0) || at(position, 1);
                if (!started && onEdge) {
                    started = true;
                    side.rounding = position;
                }
                if (position < corner || position >= along - corner)
                    continue;
                ++side.length;
                if (!onEdge)
                    continue;
                ++side.straight;
                int depth = 0;
                while (depth < 5 && at(position, depth))
                    ++depth;
                ++depths[std::size_t(depth)];
            }
            side.thickness = int(std::max_element(depths.begin() + 1, depths.end()) - depths.begin());
            return side;
        };
        const std::array<Side, 4> sides { sideOf(true, false), sideOf(true, true), sideOf(false, false),
            sideOf(false, true) };
        if (std::any_of(sides.begin(), sides.end(),
                [](const Side &side) { return side.length == 0 || side.straight * 10 < side.length * 9; }))
            continue;
        // Larger than a letter, and holding something or clearly larger still (an empty cell).
        bool holds = false;
        const auto first = std::lower_bound(
            byTop.begin(), byTop.end(), box.top + 1, [](const Box &b, int top) { return b.top < top; });
        for (auto inner = first; inner != byTop.end() && inner->top < box.bottom && !holds; ++inner)
            holds = inner->left > box.left && inner->right < box.right && inner->bottom < box.bottom;
        const bool largerThanLetters = 4 * height >= 5 * capHeight;
        if (!(holds && largerThanLetters) && !(height >= 2 * capHeight && width >= 2 * capHeight))
            continue;
        found = true;
        const int thickest
            = std::max({ sides[0].thickness, sides[1].thickness, sides[2].thickness, sides[3].thickness });
        const int rounding = std::min(
            { std::max({ sides[0].rounding, sides[2].rounding, 0 }) + thickest, width / 2, height / 2 });
        const auto paint = [&](int left, int top, int right, int bottom) {
            for (int y = top; y < bottom; ++y) {
                uchar *row = gray.scanLine(y);
                for (int x = left; x < right; ++x) {
                    if (row[x] < ground)
                        row[x] = uchar(ground);
                }
            }
        };
        paint(box.left, box.top, box.right, box.top + sides[0].thickness);
        paint(box.left, box.bottom - sides[1].thickness, box.right, box.bottom);
        paint(box.left, box.top, box.left + sides[2].thickness, box.bottom);
        paint(box.right - sides[3].thickness, box.top, box.right, box.bottom);
        if (rounding > thickest) {
            // Rounded corners: the arcs, drawn smooth, reach into the box.
            for (const auto &[x, y] : { std::pair { box.left, box.top }, { box.right - rounding, box.top },
                     { box.left, box.bottom - rounding }, { box.right - rounding, box.bottom - rounding } })
                paint(x, y, x + rounding, y + rounding);
        }
        separators->push_back({ true, box.top, box.left, box.right });
        separators->push_back({ true, box.bottom - 1, box.left, box.right });
        separators->push_back({ false, box.left, box.top, box.bottom });
        separators->push_back({ false, box.right - 1, box.top, box.bottom });
    }
    return found;
}

// Faint text beside dark text (grey line numbers, secondary labels, small identifiers): the engine
// sets one threshold for all it reads, between the ground and the darkest ink, and faint strokes
// fall apart under it. Each letter-like shape is judged against its own surroundings and deepened,
// when faint, to the contrast of the region's dark text. Returns whether anything changed.
bool evenContrast(QImage &gray, int ground, const Stopper &stop)
{
    // Anything clearly set off from the ground may be text.
    const int visible = ground - 28;
    if (visible <= 0)
        return false;
    std::vector<Box> shapes = darkComponents(gray, visible, stop);
    std::vector<int> levels;
    for (const Box &box : shapes) {
        if (box.height() >= 4 && box.height() <= 200 && box.ink >= 6)
            levels.push_back(box.darkest);
    }
    if (levels.empty())
        return false;
    // The dark text: the level the darkest fifth of the shapes reach, or at least most of the way
    // to black.
    const std::size_t at = levels.size() / 5;
    std::nth_element(levels.begin(), levels.begin() + qsizetype(at), levels.end());
    const int target = std::min(levels[at], ground * 3 / 10);
    bool changed = false;
    for (const Box &box : shapes) {
        stop.check();
        if (box.height() < 4 || box.height() > 200 || box.ink < 6)
            continue;
        // The ground right around the shape: its box's most common brightness.
        const int left = std::max(0, box.left - 2);
        const int top = std::max(0, box.top - 2);
        const int right = std::min(gray.width(), box.right + 2);
        const int bottom = std::min(gray.height(), box.bottom + 2);
        const int local = mostCommon(histogramOf(gray, left, top, right, bottom));
        const int contrast = local - box.darkest;
        const int wanted = local - target;
        if (contrast <= 0 || wanted <= 0 || contrast * 10 >= wanted * 6)
            continue;
        // A grain of a noisy ground, not faint text: around it, most of the ground is a little off
        // its usual brightness. Deepened, grains became letters the engine read.
        int ring = 0;
        int grainy = 0;
        for (int y = top; y < bottom; ++y) {
            const uchar *row = gray.constScanLine(y);
            for (int x = left; x < right; ++x) {
                if (x >= box.left && x < box.right && y >= box.top && y < box.bottom)
                    continue;
                ++ring;
                const int off = std::abs(row[x] - local);
                grainy += off >= 6 && off <= 60;
            }
        }
        if (2 * grainy > ring)
            continue;
        changed = true;
        for (int y = box.top; y < box.bottom; ++y) {
            uchar *row = gray.scanLine(y);
            for (int x = box.left; x < box.right; ++x) {
                if (row[x] < local)
                    row[x] = uchar(std::max(0, local - (local - row[x]) * wanted / contrast));
            }
        }
    }
    return changed;
}

// Bands of the letters whose centre lies in `region`, top to bottom.
std::vector<Band> bandsOf(const TextLayout &layout, QRect region)
{
    const std::vector<Box> &letters = layout.letters;
    std::vector<const Box *> inside;
    for (const Box &box : letters) {
        const QPoint centre((box.left + box.right) / 2, (box.top + box.bottom) / 2);
        if (region.contains(centre))
            inside.push_back(&box);
    }
    std::sort(inside.begin(), inside.end(), [](const Box *a, const Box *b) { return a->top < b->top; });
    std::vector<Band> bands;
    std::vector<std::vector<const Box *>> members;
    for (const Box *box : inside) {
        if (!bands.empty() && box->top < bands.back().bottom) {
            bands.back().bottom = std::max(bands.back().bottom, box->bottom);
            members.back().push_back(box);
        } else {
            bands.push_back({ box->top, box->bottom, 0, {}, {} });
            members.push_back({ box });
        }
    }
    // Marks take part in the ink of the line they stand in: a gutter never runs through "=".
    std::vector<std::vector<Span>> markSpans(bands.size());
    for (const Box &mark : layout.marks) {
        const QPoint centre((mark.left + mark.right) / 2, (mark.top + mark.bottom) / 2);
        if (!region.contains(centre))
            continue;
        const auto band = std::upper_bound(
            bands.begin(), bands.end(), centre.y(), [](int y, const Band &b) { return y < b.bottom; });
        if (band != bands.end() && band->top <= centre.y())
            markSpans[std::size_t(band - bands.begin())].emplace_back(mark.left, mark.right);
    }
    for (std::size_t i = 0; i < bands.size(); ++i) {
        std::vector<int> heights;
        std::vector<Span> spans = markSpans[i];
        for (const Box *box : members[i]) {
            heights.push_back(box->height());
            spans.emplace_back(box->left, box->right);
        }
        const std::size_t at = std::min(heights.size() - 1, heights.size() * 4 / 5);
        std::nth_element(heights.begin(), heights.begin() + qsizetype(at), heights.end());
        bands[i].capHeight = heights[at];
        std::vector<const Box *> byLeft = members[i];
        std::sort(byLeft.begin(), byLeft.end(), [](const Box *a, const Box *b) { return a->left < b->left; });
        for (std::size_t m = 1; m < byLeft.size(); ++m) {
            const Box &a = *byLeft[m - 1];
            const Box &b = *byLeft[m];
            if (2 * (b.left - a.right) < bands[i].capHeight && b.left >= a.right
                && a.width() <= bands[i].capHeight && b.width() <= bands[i].capHeight)
                bands[i].steps.push_back(b.left + b.right - a.left - a.right);
        }
        std::sort(spans.begin(), spans.end());
        for (const Span &span : spans) {
            if (!bands[i].ink.empty() && span.first <= bands[i].ink.back().second)
                bands[i].ink.back().second = std::max(bands[i].ink.back().second, span.second);
            else
                bands[i].ink.push_back(span);
        }
    }
    return bands;
}

// A stretch of space along a line that may be a gutter, and whether a rule runs down it.
struct Gap
{
    Span span;
    bool ruled = false;
};

// The narrowest gap between some lines that may be a gutter, beside what their size asks: clearly
// wider than their usual space between words, and in monospaced text (terminals, code, logs), whose
// spaces are as wide as a letter and fall on one grid, so that they line up by chance over a few
// lines, two character cells or more. Gutters the lines share are left out of the measure. Gaps
// between letters are narrower than half a capital, no space between words reaches 1.6 capitals.
int narrowestGutter(const std::vector<Band> &bands, const std::vector<Gap> &gutters)
{
    std::vector<int> steps;
    for (const Band &band : bands)
        steps.insert(steps.end(), band.steps.begin(), band.steps.end());
    int cellTimesTwo = 0;
    if (steps.size() >= 8) {
        std::nth_element(steps.begin(), steps.begin() + qsizetype(steps.size() / 2), steps.end());
        const int usual = steps[steps.size() / 2];
        const int slack = std::max(2, usual / 8);
        const auto onGrid = std::count_if(
            steps.begin(), steps.end(), [&](int step) { return std::abs(step - usual) <= slack; });
        if (5 * onGrid >= 4 * qsizetype(steps.size()))
            cellTimesTwo = usual;
    }
    std::vector<int> spaces;
    for (const Band &band : bands) {
        for (std::size_t i = 1; i < band.ink.size(); ++i) {
            const Span gap { band.ink[i - 1].second, band.ink[i].first };
            const int width = gap.second - gap.first;
            const bool inGutter = std::any_of(gutters.begin(), gutters.end(), [&gap](const Gap &gutter) {
                return gap.first < gutter.span.second && gutter.span.first < gap.second;
            });
            if (!inGutter && 2 * width >= band.capHeight && 5 * width < 8 * band.capHeight)
                spaces.push_back(width);
        }
    }
    int space = 0;
    if (!spaces.empty()) {
        std::nth_element(spaces.begin(), spaces.begin() + qsizetype(spaces.size() / 2), spaces.end());
        space = spaces[spaces.size() / 2];
    }
    return std::max((7 * space + 4) / 5, (7 * cellTimesTwo + 7) / 8);
}

// The engine reads one size of text at a time: among much smaller or larger text it drops lines.
// A block is cut into sections of lines of about one size, each read on its own; blank space of
// several lines between two lines is left out.
std::vector<Section> sectionsOf(const TextLayout &layout, QRect block)
{
    const std::vector<Band> bands = bandsOf(layout, block);
    std::vector<Section> sections;
    std::vector<std::size_t> firstBands;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const Band &band = bands[i];
        int top = std::max(block.top(), band.top - 2 * band.capHeight);
        if (i > 0) {
            const Band &previous = bands[i - 1];
            const int middle = (previous.bottom + band.top) / 2;
            const bool sameSize = 2 * band.capHeight <= 3 * previous.capHeight
                && 2 * previous.capHeight <= 3 * band.capHeight;
            const bool apart = band.top - previous.bottom > 4 * std::max(band.capHeight, previous.capHeight);
            if (sameSize && !apart) {
                sections.back().capHeight = std::max(sections.back().capHeight, band.capHeight);
                sections.back().breaks.push_back(middle);
                continue;
            }
            sections.back().bottom
                = apart ? std::min(middle, previous.bottom + 2 * previous.capHeight) : middle;
            top = apart ? std::max(middle, top) : middle;
        }
        sections.push_back({ top, 0, band.capHeight, {}, 0 });
        firstBands.push_back(i);
    }
    if (!sections.empty())
        sections.back().bottom
            = std::min(block.bottom() + 1, bands.back().bottom + 2 * bands.back().capHeight);
    for (std::size_t s = 0; s < sections.size(); ++s) {
        const std::size_t end = s + 1 < sections.size() ? firstBands[s + 1] : bands.size();
        sections[s].narrowestGutter = narrowestGutter(
            std::vector<Band>(bands.begin() + qsizetype(firstBands[s]), bands.begin() + qsizetype(end)), {});
    }
    return sections;
}

// The page cut into blocks of text, each read on its own: the engine joins words across wide gaps
// into one line, misreads them there and fills the gap with marks. Lines that share a gutter (a
// stretch of space or a rule running down all of them) are cut into columns there; a gutter down
// three lines or more is a gap a little wider than a letter, one down fewer lines must be wider, as
// gaps between words line up by chance over a line or two, and none is as narrow as the lines' own
// spaces between words (see narrowestGutter). Runs of lines without a gutter stay one block. Each
// column is searched again for gutters of its own.
void findBlocks(const TextLayout &layout, const std::vector<Separator> &separators, QRect region, int depth,
    std::vector<QRect> *blocks, std::vector<Run> *runs, const Stopper &stop)
{
    stop.check();
    const std::vector<Band> bands = bandsOf(layout, region);
    if (bands.empty())
        return;
    // A rule down the band between two stretches of its ink.
    const auto ruleIn = [&](const Span &gap, int top, int bottom) {
        return std::any_of(separators.begin(), separators.end(), [&](const Separator &rule) {
            return !rule.horizontal && rule.at >= gap.first && rule.at < gap.second && rule.from <= top + 1
                && rule.to >= bottom - 1;
        });
    };
    const auto gapsOf = [&](const Band &band) {
        std::vector<Gap> gaps;
        for (std::size_t i = 1; i < band.ink.size(); ++i) {
            const Span gap { band.ink[i - 1].second, band.ink[i].first };
            const bool ruled = ruleIn(gap, band.top, band.bottom);
            if (ruled || 5 * (gap.second - gap.first) >= 6 * band.capHeight)
                gaps.push_back({ gap, ruled });
        }
        return gaps;
    };
    struct Open
    {
        std::size_t first = 0;
        std::size_t last = 0;
        std::vector<Gap> shared;
        std::vector<int> caps;
    };
    std::vector<Open> found;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        const std::vector<Gap> gaps = gapsOf(bands[i]);
        if (!found.empty()) {
            Open &open = found.back();
            // What is left of each gutter beside this band's ink: a line of a cell wrapped onto a
            // second line, or a heading over the first column, keeps the others.
            std::vector<Gap> kept;
            for (const Gap &gutter : open.shared) {
                Span widest { gutter.span.first, gutter.span.first };
                int reached = gutter.span.first;
                for (const Span &ink : bands[i].ink) {
                    if (ink.second <= reached || ink.first >= gutter.span.second)
                        continue;
                    if (ink.first - reached > widest.second - widest.first)
                        widest = { reached, ink.first };
                    reached = ink.second;
                }
                if (gutter.span.second - reached > widest.second - widest.first)
                    widest = { reached, gutter.span.second };
                const bool ruled = gutter.ruled && ruleIn(widest, bands[i].top, bands[i].bottom);
                if (widest.second > widest.first
                    && (ruled || 5 * (widest.second - widest.first) >= 6 * bands[i].capHeight))
                    kept.push_back({ widest, ruled });
            }
            if ((open.shared.empty() && gaps.empty()) || !kept.empty()) {
                open.last = i;
                open.shared = kept;
                open.caps.push_back(bands[i].capHeight);
                continue;
            }
        }
        found.push_back({ i, i, gaps, { bands[i].capHeight } });
    }
    // The gutters that hold for the run's length; runs left without one join their neighbours.
    std::vector<Open> merged;
    for (Open &open : found) {
        std::vector<int> caps = open.caps;
        std::nth_element(caps.begin(), caps.begin() + qsizetype(caps.size() / 2), caps.end());
        const int cap = caps[caps.size() / 2];
        const std::size_t lines = open.last - open.first + 1;
        const int widthTimesFive = lines >= 3 ? 6 * cap : lines == 2 ? 8 * cap : 12 * cap;
        const int narrowest = narrowestGutter(std::vector<Band>(bands.begin() + qsizetype(open.first),
                                                  bands.begin() + qsizetype(open.last) + 1),
            open.shared);
        std::vector<Gap> kept;
        for (const Gap &gap : open.shared) {
            const int width = gap.span.second - gap.span.first;
            if (gap.ruled || (5 * width >= widthTimesFive && width >= narrowest))
                kept.push_back(gap);
        }
        // A column no wider than a character or two (the signs of a diff, bullets, check marks,
        // row numbers) is read with the column beside it: read alone, a "-" or "." is taken for a
        // speck and dropped, and the line loses its sign.
        for (bool narrowFound = true; narrowFound;) {
            narrowFound = false;
            for (std::size_t c = 0; c <= kept.size() && !narrowFound; ++c) {
                const int from = c == 0 ? std::numeric_limits<int>::min() : kept[c - 1].span.second;
                const int to = c == kept.size() ? std::numeric_limits<int>::max() : kept[c].span.first;
                int widest = 0;
                for (std::size_t b = open.first; b <= open.last; ++b) {
                    int left = std::numeric_limits<int>::max();
                    int right = std::numeric_limits<int>::min();
                    for (const Span &ink : bands[b].ink) {
                        if (ink.first >= from && ink.second <= to) {
                            left = std::min(left, ink.first);
                            right = std::max(right, ink.second);
                        }
                    }
                    if (right > left)
                        widest = std::max(widest, right - left);
                }
                if (2 * widest > 3 * cap)
                    continue;
                // Joined across the narrower of its unruled gutters.
                std::size_t drop = kept.size();
                for (const std::size_t side : { c - 1, c }) {
                    if (side < kept.size() && !kept[side].ruled
                        && (drop == kept.size()
                            || kept[side].span.second - kept[side].span.first
                                < kept[drop].span.second - kept[drop].span.first))
                        drop = side;
                }
                if (drop < kept.size()) {
                    kept.erase(kept.begin() + qsizetype(drop));
                    narrowFound = true;
                }
            }
        }
        open.shared = kept;
        if (!merged.empty() && merged.back().shared.empty() && open.shared.empty())
            merged.back().last = open.last;
        else
            merged.push_back(open);
    }
    for (std::size_t r = 0; r < merged.size(); ++r) {
        const Open &open = merged[r];
        const int top
            = r == 0 ? region.top() : (bands[merged[r - 1].last].bottom + bands[open.first].top) / 2;
        const int bottom = r + 1 == merged.size()
            ? region.bottom() + 1
            : (bands[open.last].bottom + bands[merged[r + 1].first].top) / 2;
        if (open.shared.empty() || depth >= 2) {
            blocks->push_back(QRect(region.left(), top, region.width(), bottom - top));
            continue;
        }
        Run run;
        run.area = QRect(region.left(), top, region.width(), bottom - top);
        run.bands.assign(bands.begin() + qsizetype(open.first), bands.begin() + qsizetype(open.last) + 1);
        for (const Gap &gap : open.shared)
            run.cuts.push_back((gap.span.first + gap.span.second) / 2);
        int left = region.left();
        for (std::size_t c = 0; c <= run.cuts.size(); ++c) {
            const int right = c < run.cuts.size() ? run.cuts[c] : region.right() + 1;
            findBlocks(layout, separators, QRect(left, top, right - left, bottom - top), depth + 1, blocks,
                runs, stop);
            left = right;
        }
        runs->push_back(std::move(run));
    }
}

// The rows of a run: for each band, the row it belongs to. Rules across the run bound its rows;
// without them, a line that holds only the continuation of cells above it (nothing in the first
// column, nothing in a column the line above left empty) and follows that line more closely than
// rows follow each other is the second line of those cells.
std::vector<int> rowsOf(const Run &run, const std::vector<Separator> &separators)
{
    const auto columnOf = [&run](int x) {
        return int(std::upper_bound(run.cuts.begin(), run.cuts.end(), x) - run.cuts.begin());
    };
    int inkLeft = std::numeric_limits<int>::max();
    int inkRight = std::numeric_limits<int>::min();
    for (const Band &band : run.bands) {
        inkLeft = std::min(inkLeft, band.ink.front().first);
        inkRight = std::max(inkRight, band.ink.back().second);
    }
    // Rows of rules (or of cell edges) that cover most of the run's width.
    std::vector<std::pair<int, Span>> across;
    for (const Separator &rule : separators) {
        if (rule.horizontal && rule.at > run.area.top() && rule.at <= run.area.bottom() && rule.to > inkLeft
            && rule.from < inkRight)
            across.push_back({ rule.at, { std::max(rule.from, inkLeft), std::min(rule.to, inkRight) } });
    }
    std::sort(across.begin(), across.end());
    std::vector<int> boundaries;
    for (std::size_t i = 0; i < across.size();) {
        std::vector<Span> spans;
        const int at = across[i].first;
        for (; i < across.size() && across[i].first <= at + 2; ++i)
            spans.push_back(across[i].second);
        std::sort(spans.begin(), spans.end());
        int covered = 0;
        int reached = std::numeric_limits<int>::min();
        for (const Span &span : spans) {
            covered += std::max(0, span.second - std::max(span.first, reached));
            reached = std::max(reached, span.second);
        }
        if (covered * 5 >= (inkRight - inkLeft) * 3)
            boundaries.push_back(at);
    }
    std::vector<int> rows(run.bands.size(), 0);
    if (!boundaries.empty()) {
        for (std::size_t i = 0; i < run.bands.size(); ++i) {
            const int middle = (run.bands[i].top + run.bands[i].bottom) / 2;
            rows[i]
                = int(std::upper_bound(boundaries.begin(), boundaries.end(), middle) - boundaries.begin());
        }
        return rows;
    }
    std::vector<std::set<int>> columns;
    for (const Band &band : run.bands) {
        std::set<int> touched;
        for (const Span &span : band.ink)
            touched.insert(columnOf((span.first + span.second) / 2));
        columns.push_back(std::move(touched));
    }
    std::vector<bool> continues(run.bands.size(), false);
    int rowPitch = std::numeric_limits<int>::max();
    for (std::size_t i = 1; i < run.bands.size(); ++i) {
        continues[i] = !columns[i].contains(0)
            && std::includes(
                columns[i - 1].begin(), columns[i - 1].end(), columns[i].begin(), columns[i].end());
        if (!continues[i])
            rowPitch = std::min(rowPitch, run.bands[i].top - run.bands[i - 1].top);
    }
    int row = 0;
    for (std::size_t i = 1; i < run.bands.size(); ++i) {
        const int pitch = run.bands[i].top - run.bands[i - 1].top;
        const int margin = std::max(2, run.bands[i].capHeight / 4);
        if (!(continues[i] && rowPitch != std::numeric_limits<int>::max() && pitch + margin <= rowPitch))
            ++row;
        rows[i] = row;
    }
    return rows;
}

// The lines of a cell that holds more than one, joined into one piece, so that the cell stays within
// its row. Only in runs that look like tables: in some row, another column holds a single line.
std::vector<Piece> joinCells(
    std::vector<Piece> pieces, const std::vector<Run> &runs, const std::vector<Separator> &separators)
{
    for (const Run &run : runs) {
        const std::vector<int> rows = rowsOf(run, separators);
        // Pieces of the run by row and column.
        std::map<std::pair<int, int>, std::vector<std::size_t>> cells;
        for (std::size_t p = 0; p < pieces.size(); ++p) {
            const QPoint centre = pieces[p].box.center();
            if (!run.area.contains(centre))
                continue;
            const auto band = std::find_if(
                run.bands.begin(), run.bands.end(), [&](const Band &b) { return centre.y() < b.bottom; });
            const std::size_t b = std::min<std::size_t>(band - run.bands.begin(), run.bands.size() - 1);
            const int column
                = int(std::upper_bound(run.cuts.begin(), run.cuts.end(), centre.x()) - run.cuts.begin());
            cells[{ rows[b], column }].push_back(p);
        }
        std::map<int, bool> singleLineSomewhere;
        for (const auto &[key, members] : cells)
            singleLineSomewhere[key.first] = singleLineSomewhere[key.first] || members.size() == 1;
        for (auto &[key, members] : cells) {
            if (members.size() < 2 || !singleLineSomewhere[key.first])
                continue;
            // Line by line, each left to right.
            std::sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
                return pieces[a].box.center().y() < pieces[b].box.center().y();
            });
            std::vector<std::vector<std::size_t>> lines;
            for (const std::size_t m : members) {
                const QRect &box = pieces[m].box;
                const QRect &last = lines.empty() ? QRect() : pieces[lines.back().front()].box;
                const int overlap = std::min(box.bottom(), last.bottom()) - std::max(box.top(), last.top());
                if (!lines.empty() && 2 * overlap >= std::min(box.height(), last.height()))
                    lines.back().push_back(m);
                else
                    lines.push_back({ m });
            }
            members.clear();
            for (std::vector<std::size_t> &line : lines) {
                std::sort(line.begin(), line.end(), [&](std::size_t a, std::size_t b) {
                    return pieces[a].box.left() < pieces[b].box.left();
                });
                members.insert(members.end(), line.begin(), line.end());
            }
            Piece &into = pieces[members.front()];
            double weight = into.text.size();
            double confidence = into.confidence * weight;
            for (std::size_t m = 1; m < members.size(); ++m) {
                Piece &from = pieces[members[m]];
                into.text += QLatin1Char(' ') + from.text;
                into.box = into.box.united(from.box);
                confidence += from.confidence * from.text.size();
                weight += from.text.size();
                from.text.clear();
            }
            into.confidence = weight > 0 ? confidence / weight : into.confidence;
        }
    }
    std::erase_if(pieces, [](const Piece &piece) { return piece.text.isEmpty(); });
    return pieces;
}

} // namespace

PageAnalysis::PageAnalysis(const QImage &image, const std::function<bool()> &shouldStop)
{
    const Stopper stop { shouldStop };
    stop.check();
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return;
    bool inverted = false;
    m_gray = normalizedGray(image, &inverted, stop);
    invertPanels(m_gray, stop);
    m_ground = groundLevel(m_gray, stop);
    flattenPanels(m_gray, m_ground, stop);
    m_layout = analyseLayout(m_gray, stop);
    bool changed = removeFrames(m_gray, m_ground, m_layout.capHeight, &m_separators, stop);
    changed = removeRules(m_gray, m_ground, m_layout.letters, &m_separators, stop) || changed;
    // A dark header row crossed by the rules is a panel of its own only now.
    if (changed)
        invertPanels(m_gray, stop);
    changed = evenContrast(m_gray, m_ground, stop) || changed;
    if (changed)
        m_layout = analyseLayout(m_gray, stop);
    if (removeShapes(m_gray, m_ground, m_layout, stop))
        m_layout = analyseLayout(m_gray, stop);
    if (m_layout.capHeight == 0)
        return;
    findBlocks(m_layout, m_separators, m_gray.rect(), 0, &m_blocks, &m_runs, stop);
}

bool PageAnalysis::isNoisy(QRect area) const
{
    area &= m_gray.rect();
    if (area.isEmpty())
        return false;
    const Histogram histogram
        = histogramOf(m_gray, area.left(), area.top(), area.right() + 1, area.bottom() + 1);
    const int mode = mostCommon(histogram);
    // Off the ground by a little: grain. Text adds its edges, a few pixels in a hundred; grain of
    // any strength moves a good part of the ground.
    qint64 grain = 0;
    for (int v = 0; v < 256; ++v) {
        const int off = std::abs(v - mode);
        if (off >= 6 && off <= 60)
            grain += histogram[std::size_t(v)];
    }
    return grain * 10 > qint64(area.width()) * area.height() * 3;
}

std::vector<PageAnalysis::Band> PageAnalysis::linesIn(QRect region) const
{
    return bandsOf(m_layout, region);
}

std::vector<PageAnalysis::Section> PageAnalysis::sectionsOf(QRect block) const
{
    return ::sectionsOf(m_layout, block);
}

std::vector<PageAnalysis::Piece> PageAnalysis::joinCells(std::vector<Piece> pieces) const
{
    return ::joinCells(std::move(pieces), m_runs, m_separators);
}
