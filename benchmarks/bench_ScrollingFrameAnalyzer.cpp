// Alignment of two full-screen viewports (1920x1080) of a text column scrolled by 120 rows, beside a
// plain memory compare of the same two frames, and of two viewports of identical blocks, where the
// expected step decides. The summary line gives the ratio.
#include "Scrolling/ScrollingFrameAnalyzer.h"

#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int width = 1920;
constexpr int height = 1080;
constexpr int step = 120;

QImage column()
{
    QImage image(width, height * 3, QImage::Format_RGB32);
    image.fill(QColor(250, 250, 248));
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(15);
    painter.setFont(font);
    painter.setPen(QColor(20, 20, 24));
    quint32 seed = 12345;
    for (int y = 8, line = 1; y < image.height() - 24; y += 22, ++line) {
        QString text = QStringLiteral("Line %1:").arg(line, 4, 10, QLatin1Char('0'));
        const int words = 4 + int((seed = seed * 1664525u + 1013904223u) >> 27);
        for (int i = 0; i < words; ++i)
            text += QStringLiteral(" word%1").arg((seed = seed * 1664525u + 1013904223u) >> 20);
        painter.drawText(QPoint(20 + (line % 4) * 10, y + 16), text);
    }
    return image;
}

struct Frames
{
    Frames()
    {
        const QImage document = column();
        previous = document.copy(0, 400, width, height);
        current = document.copy(0, 400 + step, width, height);
        // Blocks of three lines, 66 rows apart, over the whole frame.
        QImage blocks(width, 3 * height, QImage::Format_RGB32);
        QPainter painter(&blocks);
        for (int y = 0; y < blocks.height(); y += 66)
            painter.drawImage(0, y, document.copy(0, 8, width, 66));
        painter.end();
        repeatedPrevious = ScrollingFrameAnalyzer::prepareFrame(blocks.copy(0, 400, width, height));
        repeatedCurrent = ScrollingFrameAnalyzer::prepareFrame(blocks.copy(0, 400 + step, width, height));
    }
    QImage previous;
    QImage current;
    ScrollingFramePtr repeatedPrevious;
    ScrollingFramePtr repeatedCurrent;
};

const Frames &frames()
{
    static const Frames shared;
    return shared;
}

// Both frames prepared and aligned: what one scroll step costs.
void alignPair()
{
    const auto previous = ScrollingFrameAnalyzer::prepareFrame(frames().previous);
    const auto current = ScrollingFrameAnalyzer::prepareFrame(frames().current);
    const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(*previous, *current);
    if (alignment.offset != step || !alignment.isConfident())
        std::abort();
    benchmark::DoNotOptimize(alignment);
}

// Every word of both frames read and compared (memcmp would stop at the first difference).
void memoryCompare()
{
    const QImage &a = frames().previous;
    const QImage &b = frames().current;
    const size_t words = size_t(a.sizeInBytes()) / sizeof(quint64);
    const auto *x = reinterpret_cast<const quint64 *>(a.constBits());
    const auto *y = reinterpret_cast<const quint64 *>(b.constBits());
    size_t differing = 0;
    for (size_t i = 0; i < words; ++i)
        differing += x[i] != y[i];
    benchmark::DoNotOptimize(differing);
}

void BM_AlignPair(benchmark::State &state)
{
    for (auto _ : state)
        alignPair();
}
BENCHMARK(BM_AlignPair)->Unit(benchmark::kMillisecond);

void BM_PrepareOneFrame(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ScrollingFrameAnalyzer::prepareFrame(frames().current));
}
BENCHMARK(BM_PrepareOneFrame)->Unit(benchmark::kMillisecond);

void BM_AlignPrepared(benchmark::State &state)
{
    const auto previous = ScrollingFrameAnalyzer::prepareFrame(frames().previous);
    const auto current = ScrollingFrameAnalyzer::prepareFrame(frames().current);
    for (auto _ : state)
        benchmark::DoNotOptimize(ScrollingFrameAnalyzer::alignFrames(*previous, *current));
}
BENCHMARK(BM_AlignPrepared)->Unit(benchmark::kMillisecond);

// Every offset a multiple of the blocks away fits as well: the expected one is taken.
void BM_AlignRepeatedBlocks(benchmark::State &state)
{
    for (auto _ : state) {
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(
            *frames().repeatedPrevious, *frames().repeatedCurrent, { step });
        if (alignment.offset != step || !alignment.isConfident())
            std::abort();
        benchmark::DoNotOptimize(alignment);
    }
}
BENCHMARK(BM_AlignRepeatedBlocks)->Unit(benchmark::kMillisecond);

void BM_MemoryCompare(benchmark::State &state)
{
    for (auto _ : state)
        memoryCompare();
}
BENCHMARK(BM_MemoryCompare)->Unit(benchmark::kMillisecond);

template <typename F> double medianMilliseconds(F work, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    frames();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double align = medianMilliseconds(alignPair, 41);
    const double compare = medianMilliseconds(memoryCompare, 201);
    std::printf("summary: 1920x1080 pair aligned in %.2f ms (prepare both + align); memory compare %.3f ms; "
                "ratio %.1fx\n",
        align, compare, align / compare);
    return 0;
}
