// Text recognition of rendered UI text: the service's warm engine against the `tesseract` command
// on the same images, in one run. Reports word error rate and time per image for both.

#include "OCRService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

struct Sample
{
    QString label;
    QImage image;
    QString path;
    QStringList words;
};

const QStringList phrases {
    "Open Recent",
    "Save As...",
    "Export to PDF",
    "Preferences",
    "Check for updates",
    "Sign in with your account",
    "Downloads folder",
    "Last modified 12 March 2024",
    "Size 4.2 MB",
    "Share with team",
    "Notifications are off",
    "Connected to Wi-Fi network",
    "Battery 87%",
    "Search files and folders",
    "New message from Alice",
    "Meeting starts in 15 minutes",
    "Invoice #20417 is due",
    "Keyboard shortcuts",
    "Show hidden items",
    "Copy link",
    "Move to Trash",
    "Sort by name",
    "Version 3.8.1 (build 442)",
    "Free space: 118 GB",
    "Reply all",
    "Mark as unread",
    "Archive conversation",
    "Project roadmap for Q3",
    "Total: $1,249.00",
    "Password must contain 8 characters",
    "Remember this device",
    "Terms of Service",
    "Privacy settings",
    "Display resolution 1920 x 1080",
    "Volume muted",
    "Upload complete",
    "Retry failed downloads",
};

QList<Sample> makeSamples(const QString &folder)
{
    QList<Sample> samples;
    QRandomGenerator random(20240611);
    const QStringList families { "DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono", "DejaVu Sans Condensed" };
    for (const QString &family : families) {
        for (int pixelSize : { 10, 12, 14, 16, 18 }) {
            for (bool dark : { false, true }) {
                QFont font(family);
                font.setPixelSize(pixelSize);
                const QFontMetrics metrics(font);
                QStringList lines;
                for (int i = 0; i < 6; ++i)
                    lines << phrases[random.bounded(int(phrases.size()))];
                const int lineHeight = int(metrics.height() * 1.6);
                int width = 0;
                for (const QString &line : lines)
                    width = std::max(width, metrics.horizontalAdvance(line));
                QImage image(width + 2 * pixelSize, lineHeight * int(lines.size()) + pixelSize,
                    QImage::Format_ARGB32_Premultiplied);
                image.fill(dark ? QColor(0x1e, 0x1f, 0x24) : QColor(0xf7, 0xf7, 0xf8));
                QPainter painter(&image);
                painter.setFont(font);
                painter.setPen(dark ? QColor(0xe6, 0xe6, 0xe6) : QColor(0x22, 0x22, 0x22));
                for (int i = 0; i < lines.size(); ++i)
                    painter.drawText(pixelSize, pixelSize / 2 + i * lineHeight + metrics.ascent(), lines[i]);
                painter.end();
                Sample sample;
                sample.label
                    = QStringLiteral("%1 %2px %3").arg(family).arg(pixelSize).arg(dark ? "dark" : "light");
                sample.image = image;
                sample.path = QStringLiteral("%1/%2.png").arg(folder).arg(samples.size());
                image.save(sample.path);
                sample.words = lines.join(' ').split(' ', Qt::SkipEmptyParts);
                samples.append(sample);
            }
        }
    }
    return samples;
}

// Word-level edit distance.
int wordErrors(const QStringList &reference, const QStringList &hypothesis)
{
    std::vector<int> row(hypothesis.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (qsizetype i = 1; i <= reference.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= hypothesis.size(); ++j) {
            const int above = row[j];
            row[j] = std::min(
                { row[j] + 1, row[j - 1] + 1, diagonal + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1) });
            diagonal = above;
        }
    }
    return row[hypothesis.size()];
}

QStringList wordsOf(const QString &text)
{
    return text.simplified().split(' ', Qt::SkipEmptyParts);
}

struct Totals
{
    int errors = 0;
    int words = 0;
    double seconds = 0;
    int images = 0;
    double rate() const { return words ? double(errors) / words : 0; }
    double perImage() const { return images ? seconds / images : 0; }
};

QList<Sample> g_samples;
Totals g_ours;
Totals g_command;
bool g_verbose = false;

QString ourText(const QImage &image)
{
    return OCRService::recognize(image).text;
}

void benchOurs(benchmark::State &state)
{
    OCRService::recognize(g_samples.front().image); // load the engine once, as the app keeps it
    for (auto _ : state) {
        Totals totals;
        for (const Sample &sample : g_samples) {
            QElapsedTimer timer;
            timer.start();
            const QString text = ourText(sample.image);
            totals.seconds += timer.nsecsElapsed() / 1e9;
            const int errors = wordErrors(sample.words, wordsOf(text));
            if (g_verbose && errors)
                std::fprintf(stderr, "ours    %-34s %d: %s\n", qPrintable(sample.label), errors,
                    qPrintable(text.simplified()));
            totals.errors += errors;
            totals.words += int(sample.words.size());
            ++totals.images;
        }
        g_ours = totals;
    }
    state.counters["WER"] = g_ours.rate();
    state.counters["ms_per_image"] = g_ours.perImage() * 1000;
}

void benchCommand(benchmark::State &state)
{
    for (auto _ : state) {
        Totals totals;
        for (const Sample &sample : g_samples) {
            QElapsedTimer timer;
            timer.start();
            QProcess process;
            process.start("tesseract", { sample.path, "stdout" });
            process.waitForFinished(60000);
            const QString text = QString::fromUtf8(process.readAllStandardOutput());
            totals.seconds += timer.nsecsElapsed() / 1e9;
            const int errors = wordErrors(sample.words, wordsOf(text));
            if (g_verbose && errors)
                std::fprintf(stderr, "command %-34s %d: %s\n", qPrintable(sample.label), errors,
                    qPrintable(text.simplified()));
            totals.errors += errors;
            totals.words += int(sample.words.size());
            ++totals.images;
        }
        g_command = totals;
    }
    state.counters["WER"] = g_command.rate();
    state.counters["ms_per_image"] = g_command.perImage() * 1000;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_verbose = qEnvironmentVariableIsSet("BENCH_OCR_VERBOSE");
    QTemporaryDir folder;
    g_samples = makeSamples(folder.path());

    benchmark::RegisterBenchmark("OCR/service_warm_engine", benchOurs)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OCR/tesseract_command", benchCommand)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (g_ours.images && g_command.images) {
        std::printf(
            "\n%d images, %d words (4 fonts, 10-18 px, light and dark)\n", g_ours.images, g_ours.words);
        std::printf(
            "word error rate: service %.2f%%, command %.2f%%\n", g_ours.rate() * 100, g_command.rate() * 100);
        std::printf("time per image:  service %.1f ms, command %.1f ms, ratio %.2f\n",
            g_ours.perImage() * 1000, g_command.perImage() * 1000,
            g_command.perImage() > 0 ? g_ours.perImage() / g_command.perImage() : 0);
    }
    return 0;
}
