#include "Capture/OCRService.h"

#include "Documents/TextSanitizer.h"
#include "Platform/FreedMemory.h"
#include "Platform/TesseractEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QPainter>
#include <QScopeGuard>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <set>
#include <vector>

namespace {

// Text whose capitals are shorter than this is enlarged before recognition: the engine reads
// screen-sized text far better at twice its size.
constexpr int upscaleBelowCapHeight = 20;
constexpr int tripleBelowCapHeight = 6;
// A dark panel that may hold light text is at least this tall and wide.
constexpr int minimumPanelSide = 12;
// Taller than any letter a region is read for.
constexpr int largePanelSide = 48;
// A gap between words at least this many line heights wide may be a gutter between columns.
constexpr double gutterPerLineHeight = 0.8;
// The confidence below which a line of marks alone (no letter or digit) is taken for noise; the
// same bar below which a whole result counts as weak.
constexpr double sureOfMarks = 0.5;
// Never hand the engine more than this many pixels at once: its layout pass cannot be stopped, and
// takes about a tenth of a second at this size, the enlarging before it as long again.
constexpr qint64 maximumEnginePixels = 2'500'000;
// The shortest vertical and horizontal strokes that may be rules, whatever the size of the text.
constexpr int shortestVerticalRule = 12;
constexpr int shortestHorizontalRule = 24;

struct Box
{
    int left = 0;
    int top = 0;
    int right = 0; // exclusive
    int bottom = 0; // exclusive
    qint64 ink = 0; // dark pixels in the box that belong to the shape
    int darkest = 255; // the darkest of them
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// A ruling line or the edge of a framed cell: text on either side of it belongs to different cells.
struct Separator
{
    bool horizontal = false;
    int at = 0; // the row of a horizontal one, the column of a vertical one
    int from = 0; // extent along it, [from, to)
    int to = 0;
};

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

// A grayscale copy with dark text on a light ground, alpha composed over white.
QImage normalizedGray(const QImage &source, bool *inverted, const Stopper &stop)
{
    // Converted a band of rows at a time: a large image takes a while, and a cancel is answered
    // between two bands.
    QImage gray(source.size(), QImage::Format_Grayscale8);
    constexpr int bandRows = 256;
    for (int top = 0; top < source.height(); top += bandRows) {
        stop.check();
        const int rows = std::min(bandRows, source.height() - top);
        QImage band = source.copy(0, top, source.width(), rows);
        band.setDevicePixelRatio(1); // drawn pixel for pixel
        if (band.hasAlphaChannel()) {
            QImage flat(band.size(), QImage::Format_RGB32);
            flat.fill(Qt::white);
            QPainter painter(&flat);
            painter.drawImage(0, 0, band);
            painter.end();
            band = flat;
        }
        band = band.convertToFormat(QImage::Format_Grayscale8);
        for (int y = 0; y < rows; ++y)
            std::memcpy(gray.scanLine(top + y), band.constScanLine(y), std::size_t(source.width()));
    }
    // The ground is the most common brightness; a dark ground means light text.
    std::vector<qint64> histogram(256, 0);
    for (int y = 0; y < gray.height(); ++y) {
        stop.check();
        const uchar *row = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            ++histogram[row[x]];
    }
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
    std::array<qint64, 256> histogram {};
    for (int y = 0; y < gray.height(); ++y) {
        stop.check();
        const uchar *row = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            ++histogram[row[x]];
    }
    int mode = 0;
    for (int v = 1; v < 256; ++v) {
        if (histogram[v] > histogram[mode])
            mode = v;
    }
    return mode;
}

int otsuThreshold(const QImage &gray, const Stopper &stop)
{
    std::vector<qint64> histogram(256, 0);
    for (int y = 0; y < gray.height(); ++y) {
        stop.check();
        const uchar *row = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            ++histogram[row[x]];
    }
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

// Light text on a dark panel inside a light region (a banner, a button, a dark header row): the
// panel is a large dark shape whose edge is dark all round and that holds light shapes. Each is
// inverted in place, so all text reads dark on light.
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
        if (dark * 5 < area * 3 || darkEdge * 10 < edge * 9 || area - dark < area / 100)
            continue;
        // Inverted, and stretched so that the panel's own ground becomes as light as the region's.
        std::array<qint64, 256> histogram {};
        for (int y = box.top; y < box.bottom; ++y) {
            const uchar *row = gray.constScanLine(y);
            for (int x = box.left; x < box.right; ++x)
                ++histogram[row[x]];
        }
        int panelGround = 0;
        for (int v = 1; v < 256; ++v) {
            if (histogram[v] > histogram[panelGround])
                panelGround = v;
        }
        const int invertedGround = std::max(1, 255 - panelGround);
        for (int y = box.top; y < box.bottom; ++y) {
            uchar *row = gray.scanLine(y);
            for (int x = box.left; x < box.right; ++x)
                row[x] = uchar(std::min(255, (255 - row[x]) * 255 / invertedGround));
        }
    }
}

// What the layout of the region looks like: how tall its letters are and where they lie.
struct TextLayout
{
    int capHeight = 0;
    std::vector<Box> letters;
    std::vector<Box>
        marks; // other shapes: dots, dashes, the bars of "=", underlines // letter-like shapes of every size
};

TextLayout analyseLayout(const QImage &gray, const Stopper &stop)
{
    TextLayout layout;
    const int threshold = otsuThreshold(gray, stop);
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
        std::array<int, 256> histogram {};
        for (int y = top; y < bottom; ++y) {
            const uchar *row = gray.constScanLine(y);
            for (int x = left; x < right; ++x)
                ++histogram[row[x]];
        }
        const int local = int(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
        const int contrast = local - box.darkest;
        const int wanted = local - target;
        if (contrast <= 0 || wanted <= 0 || contrast * 10 >= wanted * 6)
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

// Lines of about one size, read together.
struct Section
{
    int top = 0;
    int bottom = 0; // exclusive
    int capHeight = 0;
    std::vector<int> breaks; // rows between two of its lines, from the top down
    int narrowestGutter = 0; // between words of its lines, as narrowestGutter() tells
};

using Span = std::pair<int, int>; // [from, to) in pixels

// One line of text across a region: the rows its letters cover and where along it there is ink.
struct Band
{
    int top = 0;
    int bottom = 0; // exclusive
    int capHeight = 0;
    std::vector<Span> ink;
    // From one letter's centre to the next within a word, in half pixels.
    std::vector<int> steps;
};

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

// A stretch of lines that share gutters: a table, a form, columns side by side. Its blocks are read
// one by one; its bands tell afterwards which pieces of text make one cell.
struct Run
{
    QRect area;
    std::vector<int> cuts; // between its columns, left to right
    std::vector<Band> bands;
};

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

// A line of text as read, or a part of one, in the image's pixels (origin at the top-left).
struct Piece
{
    QString text;
    QRect box;
    double confidence = 0;
};

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
        std::vector<int> cuts;
        for (const auto &[from, to] : wideGaps(lines[i])) {
            const int clear = widestClear(i, from, to);
            if (clear >= gutterPerLineHeight * lines[i].box.height() && clear >= narrowest)
                cuts.push_back(to);
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
// reads "0" as "@" or "O", "c" as "¢", mixes the case of their letters, and breaks them at "-" and
// ":". Within a long run of hex digits that holds digits and letters, a look-alike is the digit or
// letter it stands for, the letters take the case most of them have, and the run is joined again.
QString repairedIdentifiers(const QString &text)
{
    static const QHash<QChar, QChar> lookAlikes { { u'@', u'0' }, { u'O', u'0' }, { u'o', u'0' },
        { u'¢', u'c' }, { u'€', u'e' }, { u'£', u'f' }, { u'l', u'1' }, { u'I', u'1' }, { u'S', u'5' } };
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
        if (digits + letters + alike < 8 || digits < 2 || letters < 1 || 4 * alike > digits + letters + alike)
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
    QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString &word : words) {
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

// The engine's lines of `gray`, without specks and with columns it joined cut apart.
std::optional<QList<Line>> readBlock(TesseractEngine &engine, const QImage &gray, int resolution,
    int narrowestGutter, const std::function<bool()> &shouldStop)
{
    std::optional<QList<Line>> lines = engine.read(gray, resolution, shouldStop);
    if (!lines)
        return std::nullopt;
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
                const std::optional<QList<Line>> lines = readBlock(
                    engine, framed, 96 * stretch.scale, stretch.narrowestGutter * stretch.scale, stopHere);
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
    const Stopper stop { shouldStop };
    stop.check();
    QList<CaptureTextObservation> observations;
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return observations;

    bool inverted = false;
    QImage gray = normalizedGray(image, &inverted, stop);
    invertPanels(gray, stop);
    const int ground = groundLevel(gray, stop);
    TextLayout layout = analyseLayout(gray, stop);
    std::vector<Separator> separators;
    bool changed = removeFrames(gray, ground, layout.capHeight, &separators, stop);
    changed = removeRules(gray, ground, layout.letters, &separators, stop) || changed;
    // A dark header row crossed by the rules is a panel of its own only now.
    if (changed)
        invertPanels(gray, stop);
    changed = evenContrast(gray, ground, stop) || changed;
    if (changed)
        layout = analyseLayout(gray, stop);
    if (layout.capHeight == 0)
        return observations;

    if (!TesseractEngine::forCurrentThread().isReady())
        throw OCRError("The text recognition engine could not load its English language data.");

    std::vector<QRect> blocks;
    std::vector<Run> runs;
    findBlocks(layout, separators, gray.rect(), 0, &blocks, &runs, stop);
    // Readers beside this thread take stretches too; a tall block is cut between its lines into
    // stretches that keep all of them busy.
    const int readers = 1 + readingHelpers()->maxThreadCount();
    std::vector<Stretch> stretches;
    for (const QRect &block : blocks) {
        for (const Section &section : sectionsOf(layout, block)) {
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
                stretches.push_back({ QRect(block.left(), top, block.width(), bottom - top), scale, margin,
                    section.narrowestGutter });
                top = bottom;
            }
        }
    }
    std::vector<Piece> pieces;
    for (std::vector<Piece> &read : readStretches(gray, ground, std::move(stretches), shouldStop)) {
        for (Piece &piece : read)
            pieces.push_back({ piece.text, piece.box & image.rect(), piece.confidence });
    }

    const double height = image.height();
    for (Piece &piece : joinCells(std::move(pieces), runs, separators)) {
        if (piece.box.isEmpty())
            continue;
        CaptureTextObservation observation;
        observation.text = TextSanitizer::validUtf16(piece.text);
        const QRectF box(piece.box);
        observation.boundingBox = QRectF(box.x(), height - box.bottom() - 1, box.width(), box.height());
        observation.confidence = piece.confidence;
        observations.append(observation);
    }
    return observations;
}
