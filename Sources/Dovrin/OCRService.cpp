#include "OCRService.h"

#include <QCoreApplication>
#include <QPainter>
#include <QThreadPool>
#include <QtConcurrent>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cmath>
#include <dlfcn.h>
#include <memory>
#include <numeric>
#include <vector>

namespace {

// Text whose capitals are shorter than this is enlarged before recognition: the engine reads
// screen-sized text far better at twice its size.
constexpr int upscaleBelowCapHeight = 20;
constexpr int tripleBelowCapHeight = 6;
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

// What the layout of the region looks like: how tall its letters are and where its columns lie.
struct TextLayout
{
    int capHeight = 0;
    std::vector<std::pair<int, int>> columns; // [left, right) in pixels
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

class Engine
{
public:
    Engine()
    {
        // The recognizer runs a few OpenMP threads of its own. Let the runtime hand it fewer when
        // the machine is busy rather than spin them against other work (a per-thread setting).
        using SetDynamic = void (*)(int);
        if (void *symbol = dlsym(RTLD_DEFAULT, "omp_set_dynamic"))
            reinterpret_cast<SetDynamic>(symbol)(1);
        m_api.SetVariable("debug_file", "/dev/null");
        m_ready = m_api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
    }
    ~Engine() { m_api.End(); }

    bool isReady() const { return m_ready; }

    // Lines of `gray` (dark on light), boxes in its pixels.
    struct Line
    {
        QString text;
        QRect box;
        double confidence;
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
        std::unique_ptr<tesseract::ResultIterator> it(m_api.GetIterator());
        if (it) {
            do {
                std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                if (!utf8)
                    continue;
                const QString text = QString::fromUtf8(utf8.get()).simplified();
                int left = 0;
                int top = 0;
                int right = 0;
                int bottom = 0;
                if (text.isEmpty() || !it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom))
                    continue;
                const float confidence = it->Confidence(tesseract::RIL_TEXTLINE);
                lines.push_back({ text, QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)),
                    std::clamp(double(confidence) / 100.0, 0.0, 1.0) });
            } while (it->Next(tesseract::RIL_TEXTLINE));
        }
        m_api.Clear();
        return lines;
    }

private:
    tesseract::TessBaseAPI m_api;
    bool m_ready = false;
};

Engine &threadEngine()
{
    thread_local std::unique_ptr<Engine> engine;
    if (!engine)
        engine = std::make_unique<Engine>();
    return *engine;
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
    const QList<CaptureTextObservation> lines = recognizeLines(image);
    return OCRResult::fromObservations(lines, lines.isEmpty() ? QStringList() : languages());
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

QList<CaptureTextObservation> OCRService::recognizeLines(const QImage &image)
{
    QList<CaptureTextObservation> observations;
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return observations;

    bool inverted = false;
    const QImage gray = normalizedGray(image, &inverted);
    const TextLayout layout = analyseLayout(gray);
    if (layout.capHeight == 0 || layout.columns.empty())
        return observations;

    Engine &engine = threadEngine();
    if (!engine.isReady())
        throw OCRError("The text recognition engine could not load its English language data.");

    int scale = layout.capHeight < tripleBelowCapHeight ? 3
        : layout.capHeight < upscaleBelowCapHeight      ? 2
                                                        : 1;
    const int margin = std::clamp(layout.capHeight, 6, 40);
    const double width = image.width();
    const double height = image.height();

    for (const auto &[columnLeft, columnRight] : layout.columns) {
        // The column with some of its surroundings, on a blank border: the engine misreads text
        // that touches the image edge.
        const int left = std::max(0, columnLeft - margin / 2);
        const int right = std::min(gray.width(), columnRight + margin / 2);
        const QImage strip = gray.copy(left, 0, right - left, gray.height());
        int stripScale = scale;
        while (stripScale > 1
            && qint64(strip.width() + 2 * margin) * (strip.height() + 2 * margin) * stripScale * stripScale
                > maximumEnginePixels)
            --stripScale;
        QImage framed(strip.width() + 2 * margin, strip.height() + 2 * margin, QImage::Format_Grayscale8);
        framed.fill(255);
        {
            QPainter painter(&framed);
            painter.drawImage(margin, margin, strip);
        }
        if (stripScale > 1)
            framed
                = framed.scaled(framed.size() * stripScale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

        for (const Engine::Line &line : engine.read(framed, 96 * stripScale)) {
            if (!OCRLayout::hasLetterOrDigit(line.text))
                continue;
            // Back to the image's pixels, then normalized with the origin at the bottom-left.
            const double x0 = std::clamp(double(line.box.left()) / stripScale - margin + left, 0.0, width);
            const double x1
                = std::clamp(double(line.box.right() + 1) / stripScale - margin + left, 0.0, width);
            const double y0 = std::clamp(double(line.box.top()) / stripScale - margin, 0.0, height);
            const double y1 = std::clamp(double(line.box.bottom() + 1) / stripScale - margin, 0.0, height);
            if (x1 <= x0 || y1 <= y0)
                continue;
            CaptureTextObservation observation;
            observation.text = line.text;
            observation.boundingBox
                = QRectF(x0 / width, 1.0 - y1 / height, (x1 - x0) / width, (y1 - y0) / height);
            observation.confidence = line.confidence;
            observations.append(observation);
        }
    }
    return observations;
}
