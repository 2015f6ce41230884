#include "Capture/OCRService.h"

#include "Documents/TextSanitizer.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThreadPool>
#include <QThreadStorage>
#include <QtConcurrent>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <dlfcn.h>
#include <malloc.h>
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
// Never hand the engine more than this many pixels, whatever the region.
constexpr qint64 maximumEnginePixels = 40'000'000;

struct Box
{
    int left = 0;
    int top = 0;
    int right = 0; // exclusive
    int bottom = 0; // exclusive
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// A grayscale copy with dark text on a light ground, alpha composed over white.
QImage normalizedGray(const QImage &source, bool *inverted)
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
std::vector<Box> darkComponents(const QImage &gray, int threshold)
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
                boxes.push_back({ run.start, y, run.end, y + 1 });
            } else {
                Box &box = boxes[find(run.label)];
                box.left = std::min(box.left, run.start);
                box.right = std::max(box.right, run.end);
                box.bottom = y + 1;
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
        }
    }
    return merged;
}

// Light text on a dark panel inside a light region (a banner, a button, a dark header row): the
// panel is a large dark shape whose edge is dark all round and that holds light shapes. Each is
// inverted in place, so all text reads dark on light.
void invertPanels(QImage &gray)
{
    const int threshold = otsuThreshold(gray);
    for (const Box &box : darkComponents(gray, threshold)) {
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

TextLayout analyseLayout(const QImage &gray)
{
    TextLayout layout;
    const int threshold = otsuThreshold(gray);
    std::vector<Box> shapes = darkComponents(gray, threshold);
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

// The engine reads one size of text at a time: among much smaller or larger text it drops lines.
// A column is cut into stretches of rows whose lines have about one size, each read on its own.
struct Section
{
    int top = 0;
    int bottom = 0; // exclusive
    int capHeight = 0;
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
            sections.push_back({ top, height, cap });
        } else {
            sections.back().capHeight = std::max(sections.back().capHeight, cap);
        }
        previousCap = cap;
    }
    if (sections.empty())
        sections.push_back({ 0, height, layout.capHeight });
    return sections;
}

class Engine
{
public:
    Engine()
    {
        // The recognizer's own OpenMP threads bring no speed here (regions are already read on
        // several engines at once) and, when the machine is busy, spin against other work: a
        // full screen took three times as long. Its parallel regions run on this thread alone.
        using SetMaxActiveLevels = void (*)(int);
        if (void *symbol = dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))
            reinterpret_cast<SetMaxActiveLevels>(symbol)(0);
        m_api.SetVariable("debug_file", "/dev/null");
        m_ready = m_api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
    }
    ~Engine()
    {
        m_api.End();
        // The engine's tens of megabytes go back to the system, not to a heap that keeps them.
        malloc_trim(0);
    }

    bool isReady() const { return m_ready; }

    // Lines of `gray` (dark on light) with their words, boxes in its pixels.
    struct Word
    {
        QString text;
        QRect box;
        double confidence;
    };
    struct Line
    {
        QString text;
        QRect box;
        double confidence;
        std::vector<Word> words;
    };
    std::vector<Line> read(const QImage &gray, int resolution)
    {
        std::vector<Line> lines;
        m_api.SetPageSegMode(tesseract::PSM_SINGLE_BLOCK);
        m_api.SetImage(gray.constBits(), gray.width(), gray.height(), 1, int(gray.bytesPerLine()));
        m_api.SetSourceResolution(resolution);
        if (m_api.Recognize(nullptr) != 0) {
            m_api.Clear();
            return lines;
        }
        const auto boxAt = [](tesseract::ResultIterator &it, tesseract::PageIteratorLevel level, QRect *box) {
            int left = 0;
            int top = 0;
            int right = 0;
            int bottom = 0;
            if (!it.BoundingBox(level, &left, &top, &right, &bottom))
                return false;
            *box = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
            return true;
        };
        const auto confidenceAt = [](tesseract::ResultIterator &it, tesseract::PageIteratorLevel level) {
            return std::clamp(double(it.Confidence(level)) / 100.0, 0.0, 1.0);
        };
        std::unique_ptr<tesseract::ResultIterator> it(m_api.GetIterator());
        if (it && !it->Empty(tesseract::RIL_WORD)) {
            bool inLine = false;
            do {
                if (!inLine || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
                    Line line { QString(), QRect(), confidenceAt(*it, tesseract::RIL_TEXTLINE), {} };
                    std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                    if (utf8)
                        line.text = QString::fromUtf8(utf8.get()).simplified();
                    boxAt(*it, tesseract::RIL_TEXTLINE, &line.box);
                    lines.push_back(std::move(line));
                    inLine = true;
                }
                std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_WORD));
                Word word { utf8 ? QString::fromUtf8(utf8.get()).simplified() : QString(), QRect(),
                    confidenceAt(*it, tesseract::RIL_WORD) };
                if (!word.text.isEmpty() && boxAt(*it, tesseract::RIL_WORD, &word.box))
                    lines.back().words.push_back(std::move(word));
            } while (it->Next(tesseract::RIL_WORD));
        }
        m_api.Clear();
        // A line without a letter or digit is kept only when the engine is sure of it (a closing
        // brace in code); otherwise it is a speck, rule or icon read as marks. A piece of a line
        // that holds words is kept whatever it reads.
        std::erase_if(lines, [](const Line &line) {
            return line.box.isEmpty()
                || (!OCRLayout::hasLetterOrDigit(line.text) && line.confidence < sureOfMarks);
        });
        return splitAtGutters(std::move(lines));
    }

private:
    // The gaps between a line's words that are as wide as a column gutter: [left, right) in pixels.
    static std::vector<std::pair<int, int>> wideGaps(const Line &line)
    {
        std::vector<std::pair<int, int>> gaps;
        for (std::size_t i = 1; i < line.words.size(); ++i) {
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
    static std::vector<Line> splitAtGutters(std::vector<Line> lines)
    {
        // The widest part of [from, to) that no word of the neighbouring lines covers.
        const auto widestClear = [&lines](std::size_t self, int from, int to) {
            const Line &line = lines[self];
            std::vector<std::pair<int, int>> covered;
            bool hasNeighbour = false;
            for (std::size_t j = 0; j < lines.size(); ++j) {
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
        std::vector<Line> result;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::vector<int> cuts;
            for (const auto &[from, to] : wideGaps(lines[i])) {
                if (widestClear(i, from, to) >= gutterPerLineHeight * lines[i].box.height())
                    cuts.push_back(to);
            }
            if (cuts.empty()) {
                result.push_back(std::move(lines[i]));
                continue;
            }
            std::size_t next = 0;
            for (std::size_t c = 0; c <= cuts.size(); ++c) {
                const int end = c < cuts.size() ? cuts[c] : std::numeric_limits<int>::max();
                Line piece { QString(), QRect(), 0.0, {} };
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

    tesseract::TessBaseAPI m_api;
    bool m_ready = false;
};

Engine &threadEngine()
{
    // Deleted while its thread finishes, before anyone waiting for the thread goes on: an engine
    // still being unloaded when the program's statics go away leaves the engine's shared
    // dictionaries behind.
    static QThreadStorage<Engine *> engines;
    if (!engines.hasLocalData())
        engines.setLocalData(new Engine);
    return *engines.localData();
}

} // namespace

OCRService::OCRService(QObject *parent)
    : QObject(parent)
{ }

Task<OCRResult> OCRService::recognizeText(QImage image)
{
    // Made outside the co_await: g++ 12 destroys the captures of a lambda written inside a
    // co_await expression twice.
    QFuture<OCRResult> work = QtConcurrent::run(workers(), [image] { return recognize(image); });
    OCRResult result = co_await std::move(work);
    CurrentTask::checkCancelled();
    co_return result;
}

OCRResult OCRService::recognize(const QImage &image)
{
    // Laid out in pixels, where both axes share a unit, so gutters compare with line heights.
    const QList<CaptureTextObservation> lines = readLines(image);
    OCRResult result = OCRResult::fromObservations(lines, lines.isEmpty() ? QStringList() : languages());
    result.observations = normalized(result.observations, image.size());
    return result;
}

QList<CaptureTextObservation> OCRService::recognizeLines(const QImage &image)
{
    return normalized(readLines(image), image.size());
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
        // Keep idle engines loaded for a while, since loading one costs more than a typical
        // recognition, but not for the whole day a tray program runs.
        pool->setExpiryTimeout(30 * 1000);
    }
    return pool;
}

QList<CaptureTextObservation> OCRService::readLines(const QImage &image)
{
    QList<CaptureTextObservation> observations;
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return observations;

    bool inverted = false;
    QImage gray = normalizedGray(image, &inverted);
    invertPanels(gray);
    const int ground = groundLevel(gray);
    const TextLayout layout = analyseLayout(gray);
    if (layout.capHeight == 0 || layout.columns.empty())
        return observations;

    Engine &engine = threadEngine();
    if (!engine.isReady())
        throw OCRError("The text recognition engine could not load its English language data.");

    const double width = image.width();
    const double height = image.height();

    for (const auto &[columnLeft, columnRight] : layout.columns) {
        for (const Section &section : sectionsOf(layout, columnLeft, columnRight, gray.height())) {
            const int scale = section.capHeight < tripleBelowCapHeight ? 3
                : section.capHeight < upscaleBelowCapHeight            ? 2
                                                                       : 1;
            const int margin = std::clamp(section.capHeight, 6, 40);
            // The stretch with some of its surroundings, on a blank border: the engine misreads
            // text that touches the image edge.
            const int left = std::max(0, columnLeft - margin / 2);
            const int right = std::min(gray.width(), columnRight + margin / 2);
            const int top = section.top;
            const QImage strip = gray.copy(left, top, right - left, section.bottom - top);
            int stripScale = scale;
            while (stripScale > 1
                && qint64(strip.width() + 2 * margin) * (strip.height() + 2 * margin) * stripScale
                        * stripScale
                    > maximumEnginePixels)
                --stripScale;
            // The border has the ground's own brightness: a brighter one would set the engine's
            // threshold between it and the ground, and faint text on a grey ground would vanish.
            QImage framed(strip.width() + 2 * margin, strip.height() + 2 * margin, QImage::Format_Grayscale8);
            framed.fill(ground);
            {
                QPainter painter(&framed);
                painter.drawImage(margin, margin, strip);
            }
            if (stripScale > 1)
                framed = framed.scaled(
                    framed.size() * stripScale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

            for (const Engine::Line &line : engine.read(framed, 96 * stripScale)) {
                // Back to the image's pixels, with the origin at the bottom-left.
                const double x0
                    = std::clamp(double(line.box.left()) / stripScale - margin + left, 0.0, width);
                const double x1
                    = std::clamp(double(line.box.right() + 1) / stripScale - margin + left, 0.0, width);
                const double y0 = std::clamp(double(line.box.top()) / stripScale - margin + top, 0.0, height);
                const double y1
                    = std::clamp(double(line.box.bottom() + 1) / stripScale - margin + top, 0.0, height);
                if (x1 <= x0 || y1 <= y0)
                    continue;
                CaptureTextObservation observation;
                observation.text = TextSanitizer::validUtf16(line.text);
                observation.boundingBox = QRectF(x0, height - y1, x1 - x0, y1 - y0); // origin bottom-left
                observation.confidence = line.confidence;
                observations.append(observation);
            }
        }
    }
    return observations;
}
