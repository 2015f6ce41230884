#include "Capture/OCRService.h"

#include "Documents/TextSanitizer.h"
#include "Platform/TesseractEngine.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
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
// takes about half a second at this size.
constexpr qint64 maximumEnginePixels = 10'000'000;
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
    int width() const { return right - left; }
    int height() const { return bottom - top; }
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
    QImage gray;
    if (source.hasAlphaChannel()) {
        QImage flat(source.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, source);
        painter.end();
        gray = flat.convertToFormat(QImage::Format_Grayscale8);
    } else {
        gray = source.convertToFormat(QImage::Format_Grayscale8);
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
int groundLevel(const QImage &gray)
{
    std::array<qint64, 256> histogram {};
    for (int y = 0; y < gray.height(); ++y) {
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

int otsuThreshold(const QImage &gray)
{
    std::vector<qint64> histogram(256, 0);
    for (int y = 0; y < gray.height(); ++y) {
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
            while (x < gray.width() && row[x] <= threshold)
                ++x;
            current.push_back({ start, x, -1 });
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
                boxes.push_back({ run.start, y, run.end, y + 1, run.end - run.start });
            } else {
                Box &box = boxes[find(run.label)];
                box.left = std::min(box.left, run.start);
                box.right = std::max(box.right, run.end);
                box.bottom = y + 1;
                box.ink += run.end - run.start;
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
        }
    }
    return merged;
}

// Light text on a dark panel inside a light region (a banner, a button, a dark header row): the
// panel is a large dark shape whose edge is dark all round and that holds light shapes. Each is
// inverted in place, so all text reads dark on light.
void invertPanels(QImage &gray, const Stopper &stop)
{
    const int threshold = otsuThreshold(gray);
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

// What the layout of the region looks like: how tall its letters are and where its columns lie.
struct TextLayout
{
    int capHeight = 0;
    std::vector<std::pair<int, int>> columns; // [left, right) in pixels
    std::vector<Box> letters; // letter-like shapes of every size
};

TextLayout analyseLayout(const QImage &gray, const Stopper &stop)
{
    TextLayout layout;
    const int threshold = otsuThreshold(gray);
    std::vector<Box> shapes = darkComponents(gray, threshold, stop);
    // Letter-like shapes only: rules, frames, icons and specks say nothing about the text size.
    std::vector<Box> letters;
    for (const Box &box : shapes) {
        if (box.height() >= 3 && box.height() <= 200 && box.width() <= 3 * box.height() + 8
            && box.width() * box.height() >= 6)
            letters.push_back(box);
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

    // Columns: stretches of x that hold letters of the estimated size, split at wide empty gutters.
    std::vector<std::pair<int, int>> spans;
    for (const Box &box : letters) {
        if (box.height() >= layout.capHeight / 2 && box.height() <= layout.capHeight * 2)
            spans.emplace_back(box.left, box.right);
    }
    std::sort(spans.begin(), spans.end());
    const int gutter = std::max(24, layout.capHeight * 3);
    for (const auto &span : spans) {
        if (!layout.columns.empty() && span.first - layout.columns.back().second < gutter)
            layout.columns.back().second = std::max(layout.columns.back().second, span.second);
        else
            layout.columns.push_back(span);
    }
    return layout;
}

// Ruling lines: table grids, column dividers, frames, underlines. Beside such a stroke the engine
// drops whole columns of a table, so each is painted over with the ground before anything is read.
// A stroke is a rule when it is thin and much longer than the letters around it: no stem of a
// letter reaches twice the height of its neighbours, while a rule crosses several rows of a table.
// Returns whether anything was painted over.
bool removeRules(QImage &gray, int ground, const std::vector<Box> &letters, const Stopper &stop)
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
                || length < 2 * letterHeightNear(x - reach, y - length, x + reach, y - 1))
                continue;
            for (int from = y - length; from < y; ++from)
                mark(x, from, vertical);
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
                || length < 4 * letterHeightNear(start, y - reach, x - 1, y + reach))
                continue;
            for (int from = start; from < x; ++from)
                mark(from, y, horizontal);
        }
    }
    if (marks.empty())
        return false;

    // Thin strokes only: a long dark bar or panel stays, it may frame text. Where a letter's stroke
    // crosses the rule (ink on both sides of it), the crossing stays, so struck-out or underlined
    // letters keep their shape.
    const int thickest = std::max(3, capHeight / 2);
    const auto isInk = [&](int x, int y) { return gray.constScanLine(y)[x] <= ink; };
    const auto paint = [&](int x, int y) { gray.scanLine(y)[x] = uchar(ground); };
    for (int y = 0; y < height; ++y) {
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

// The engine reads one size of text at a time: among much smaller or larger text it drops lines.
// A column is cut into stretches of rows whose lines have about one size, each read on its own.
struct Section
{
    int top = 0;
    int bottom = 0; // exclusive
    int capHeight = 0;
    std::vector<int> breaks; // rows between two of its lines, from the top down
};

std::vector<Section> sectionsOf(const TextLayout &layout, int columnLeft, int columnRight, int height)
{
    struct Band
    {
        int top;
        int bottom;
        std::vector<int> heights;
    };
    std::vector<Box> letters;
    for (const Box &box : layout.letters) {
        const int centre = (box.left + box.right) / 2;
        if (centre >= columnLeft && centre < columnRight)
            letters.push_back(box);
    }
    std::sort(letters.begin(), letters.end(), [](const Box &a, const Box &b) { return a.top < b.top; });
    std::vector<Band> bands;
    for (const Box &box : letters) {
        if (!bands.empty() && box.top < bands.back().bottom) {
            bands.back().bottom = std::max(bands.back().bottom, box.bottom);
            bands.back().heights.push_back(box.height());
        } else {
            bands.push_back({ box.top, box.bottom, { box.height() } });
        }
    }
    std::vector<Section> sections;
    int previousCap = 0;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        std::vector<int> &heights = bands[i].heights;
        const std::size_t at = std::min(heights.size() - 1, heights.size() * 4 / 5);
        std::nth_element(heights.begin(), heights.begin() + qsizetype(at), heights.end());
        const int cap = heights[at];
        const bool sameSize = previousCap > 0 && 2 * cap <= 3 * previousCap && 2 * previousCap <= 3 * cap;
        if (sections.empty() || !sameSize) {
            const int top = sections.empty() ? 0 : (bands[i - 1].bottom + bands[i].top) / 2;
            if (!sections.empty())
                sections.back().bottom = top;
            sections.push_back({ top, height, cap, {} });
        } else {
            sections.back().capHeight = std::max(sections.back().capHeight, cap);
            sections.back().breaks.push_back((bands[i - 1].bottom + bands[i].top) / 2);
        }
        previousCap = cap;
    }
    if (sections.empty())
        sections.push_back({ 0, height, layout.capHeight, {} });
    return sections;
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
// cut there, so that each column keeps its own lines.
QList<Line> splitAtGutters(QList<Line> lines)
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
            if (widestClear(i, from, to) >= gutterPerLineHeight * lines[i].box.height())
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

// The engine's lines of `gray`, without specks and with columns it joined cut apart.
std::optional<QList<Line>> readBlock(
    TesseractEngine &engine, const QImage &gray, int resolution, const std::function<bool()> &shouldStop)
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
    return splitAtGutters(std::move(*lines));
}

} // namespace

OCRService::OCRService(QObject *parent)
    : QObject(parent)
{ }

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
    QFuture<OCRResult> work = QtConcurrent::run(
        workers(), [image, stop] { return recognize(image, [stop] { return stop->load(); }); });
    StoppingFutureAwaiter<OCRResult> answer(std::move(work), [stop] { *stop = true; });
    OCRResult result = co_await answer;
    CurrentTask::checkCancelled();
    co_return result;
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
        // Keep idle engines loaded for a while: loading one costs more than a typical recognition.
        pool->setExpiryTimeout(10 * 60 * 1000);
    }
    return pool;
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
    const int ground = groundLevel(gray);
    TextLayout layout = analyseLayout(gray, stop);
    if (removeRules(gray, ground, layout.letters, stop)) {
        // A dark header row crossed by the rules is a panel of its own only now.
        invertPanels(gray, stop);
        layout = analyseLayout(gray, stop);
    }
    if (layout.capHeight == 0 || layout.columns.empty())
        return observations;

    TesseractEngine &engine = TesseractEngine::forCurrentThread();
    if (!engine.isReady())
        throw OCRError("The text recognition engine could not load its English language data.");

    const double width = image.width();
    const double height = image.height();
    // One stretch of `gray`, enlarged `scale` times on a border of `margin` pixels.
    const auto readStretch = [&](QRect stretch, int scale, int margin) {
        stop.check();
        // The border has the ground's own brightness: a brighter one would set the engine's
        // threshold between it and the ground, and faint text on a grey ground would vanish.
        QImage framed(stretch.width() + 2 * margin, stretch.height() + 2 * margin, QImage::Format_Grayscale8);
        framed.fill(ground);
        {
            QPainter painter(&framed);
            painter.drawImage(QPoint(margin, margin), gray, stretch);
        }
        if (scale > 1)
            framed = framed.scaled(framed.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const std::optional<QList<Line>> lines = readBlock(engine, framed, 96 * scale, shouldStop);
        stop.check();
        if (!lines)
            throw OCRError("The text recognition engine could not read this image.");
        for (const Line &line : *lines) {
            // Back to the image's pixels, with the origin at the bottom-left.
            const auto back = [&](int at, int origin, double limit) {
                return std::clamp(double(at) / scale - margin + origin, 0.0, limit);
            };
            const double x0 = back(line.box.left(), stretch.left(), width);
            const double x1 = back(line.box.right() + 1, stretch.left(), width);
            const double y0 = back(line.box.top(), stretch.top(), height);
            const double y1 = back(line.box.bottom() + 1, stretch.top(), height);
            if (x1 <= x0 || y1 <= y0)
                continue;
            CaptureTextObservation observation;
            observation.text = TextSanitizer::validUtf16(line.text);
            observation.boundingBox = QRectF(x0, height - y1, x1 - x0, y1 - y0); // origin bottom-left
            observation.confidence = line.confidence;
            observations.append(observation);
        }
    };

    for (const auto &[columnLeft, columnRight] : layout.columns) {
        for (const Section &section : sectionsOf(layout, columnLeft, columnRight, gray.height())) {
            int scale = section.capHeight < tripleBelowCapHeight ? 3
                : section.capHeight < upscaleBelowCapHeight      ? 2
                                                                 : 1;
            const int margin = std::clamp(section.capHeight, 6, 40);
            // The stretch with some of its surroundings, on a blank border: the engine misreads
            // text that touches the image edge.
            const int left = std::max(0, columnLeft - margin / 2);
            const int right = std::min(gray.width(), columnRight + margin / 2);
            const qint64 framedWidth = right - left + 2 * margin;
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
            const int rows = rowsAt(scale);
            for (int top = section.top; top < section.bottom;) {
                int bottom = section.bottom;
                if (bottom - top > rows) {
                    // Between two lines where one fits, else through whatever is there.
                    bottom = top + rows;
                    const auto after = std::upper_bound(section.breaks.begin(), section.breaks.end(), bottom);
                    if (after != section.breaks.begin() && *std::prev(after) > top)
                        bottom = *std::prev(after);
                }
                readStretch(QRect(left, top, right - left, bottom - top), scale, margin);
                top = bottom;
            }
        }
    }
    return observations;
}
