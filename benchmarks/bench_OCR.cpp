// Text recognition of rendered UI text: the service's warm engine against the `tesseract` command
// on the same images, in one run. Reports word error rate and time per image for both. Then the
// service alone on screen layouts (columns, tables plain and ruled, dark panels, faint text, code,
// mixed sizes, HiDPI, no text) with their words in reading order, and on a full 1920x1080 region.

#include "Capture/OCRService.h"

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

// Layouts of real screens, drawn at benchmark time: each sample's words in reading order.
const QStringList sentences {
    "The museum will extend its opening hours during the summer holidays and add guided tours in the "
    "evening.",
    "Tickets bought online before the end of the month include free entry to the new photography exhibition.",
    "Volunteers are needed to help with the weekend workshops for children between six and twelve years old.",
    "The garden cafe closes for repairs in August but the terrace stays open for visitors with their own "
    "lunch.",
    "A shuttle bus runs every twenty minutes from the central station and stops at both entrances of the "
    "park.",
    "Members receive the quarterly newsletter by post unless they choose the electronic edition in their "
    "profile.",
};

struct Painted
{
    QImage image;
    QStringList words;
};

// Words of `text` broken into lines no wider than `width`.
QStringList wrapped(const QString &text, const QFontMetrics &metrics, int width)
{
    QStringList lines;
    QString line;
    for (const QString &word : text.split(' ')) {
        const QString longer = line.isEmpty() ? word : line + ' ' + word;
        if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
            lines << line;
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

QFont fontOf(const QString &family, int pixelSize, bool bold = false)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// A heading across the page over `columns` columns of running text, `gap` pixels apart.
Painted columnPage(QSize size, int columns, int pixelSize, int gap, int scale = 1)
{
    Painted painted;
    painted.image = QImage(size * scale, QImage::Format_RGB32);
    painted.image.setDevicePixelRatio(scale);
    painted.image.fill(Qt::white);
    QPainter painter(&painted.image);
    painter.setPen(QColor(0x22, 0x22, 0x22));
    const int margin = 24;
    const QString heading = "Visitor information for the summer season";
    painter.setFont(fontOf("DejaVu Sans", pixelSize * 2, true));
    painter.drawText(margin, margin + pixelSize * 2, heading);
    painted.words << heading.split(' ');
    const QFont body = fontOf("DejaVu Sans", pixelSize);
    const QFontMetrics metrics(body);
    painter.setFont(body);
    const int columnWidth = (size.width() - 2 * margin - (columns - 1) * gap) / columns;
    const int lineHeight = metrics.height() * 3 / 2;
    const int top = margin + pixelSize * 4;
    int paragraph = 0;
    for (int column = 0; column < columns; ++column) {
        int y = top + metrics.ascent();
        // Columns of unequal length, with paragraph breaks at different heights.
        for (int p = 0; p < 2 + column % 2 && y < size.height() - lineHeight; ++p, ++paragraph) {
            const QString &text = sentences[paragraph % sentences.size()];
            for (const QString &line : wrapped(text, metrics, columnWidth)) {
                if (y > size.height() - margin)
                    break;
                painter.drawText(margin + column * (columnWidth + gap), y, line);
                painted.words << line.split(' ');
                y += lineHeight;
            }
            y += lineHeight / 2;
        }
    }
    return painted;
}

// Drawn lines of text, each at its place, with the panels under them.
struct Run
{
    QString text;
    QPoint at;
    QColor colour;
    QFont font;
};
Painted paint(QSize size, QColor ground, const QList<std::pair<QRect, QColor>> &panels,
    const QList<Run> &runs, int scale = 1)
{
    Painted painted;
    painted.image = QImage(size * scale, QImage::Format_RGB32);
    painted.image.setDevicePixelRatio(scale);
    painted.image.fill(ground);
    QPainter painter(&painted.image);
    for (const auto &[rect, colour] : panels)
        painter.fillRect(rect, colour);
    for (const Run &run : runs) {
        painter.setFont(run.font);
        painter.setPen(run.colour);
        painter.drawText(run.at, run.text);
        painted.words << run.text.split(' ', Qt::SkipEmptyParts);
    }
    return painted;
}

QList<std::pair<QString, Painted>> makeLayouts()
{
    QList<std::pair<QString, Painted>> layouts;
    const QColor ink(0x22, 0x22, 0x22);
    const QFont sans13 = fontOf("DejaVu Sans", 13);
    layouts.append({ "two columns, 1 em gutter", columnPage({ 760, 420 }, 2, 13, 13) });
    layouts.append({ "two columns, 3 em gutter", columnPage({ 900, 420 }, 2, 15, 45) });
    layouts.append({ "three columns, HiDPI", columnPage({ 960, 420 }, 3, 13, 24, 2) });
    {
        QList<Run> rows;
        const QStringList cells { "Name", "Size", "Modified", "summary.odt", "31 KB", "Today", "holiday.png",
            "2.8 MB", "Yesterday", "accounts.csv", "412 KB", "4 May 2024" };
        for (int i = 0; i < cells.size(); ++i)
            rows << Run { cells[i], { 16 + (i % 3) * 150, 26 + (i / 3) * 26 }, ink, sans13 };
        layouts.append({ "table rows", paint({ 480, 120 }, Qt::white, {}, rows) });
    }
    {
        // The same kind of table drawn as a grid, cells a few pixels from their rules.
        const QStringList cells { "Name", "Size", "Modified", "Owner", "summary.odt", "31 KB", "Today",
            "Maria", "holiday.png", "2.8 MB", "Yesterday", "Jonas", "accounts.csv", "412 KB", "4 May 2024",
            "Erik" };
        const QFontMetrics metrics(sans13);
        const int cellWidth = metrics.horizontalAdvance("accounts.csv") + 10;
        const int rowHeight = metrics.height() + 8;
        for (const bool dark : { false, true }) {
            QList<Run> runs;
            for (int i = 0; i < cells.size(); ++i)
                runs << Run { cells[i],
                    { 15 + (i % 4) * cellWidth, 10 + (i / 4) * rowHeight + 4 + metrics.ascent() },
                    dark ? QColor(0xe0, 0xe0, 0xe0) : ink, sans13 };
            QList<std::pair<QRect, QColor>> rules;
            const QColor rule = dark ? QColor(0x70, 0x70, 0x78) : QColor(0x9e, 0x9e, 0x9e);
            for (int c = 0; c <= 4; ++c)
                rules.append({ QRect(10 + c * cellWidth, 10, 1, 4 * rowHeight + 1), rule });
            for (int r = 0; r <= 4; ++r)
                rules.append({ QRect(10, 10 + r * rowHeight, 4 * cellWidth + 1, 1), rule });
            layouts.append({ dark ? "ruled table, dark" : "ruled table",
                paint({ 4 * cellWidth + 20, 4 * rowHeight + 20 }, dark ? QColor(0x1e, 0x1f, 0x24) : Qt::white,
                    rules, runs) });
        }
    }
    layouts.append({ "light text on dark panels",
        paint({ 460, 150 }, Qt::white,
            { { QRect(10, 10, 440, 50), QColor(0x1e, 0x3a, 0x8a) },
                { QRect(300, 100, 130, 30), QColor(0xb7, 0x1c, 0x1c) } },
            { { "Your subscription renews next week", { 24, 40 }, Qt::white, sans13 },
                { "Remove this device?", { 20, 120 }, ink, sans13 },
                { "Remove", { 338, 120 }, Qt::white, sans13 } }) });
    layouts.append({ "grey on dark grey",
        paint({ 420, 80 }, QColor(0x26, 0x28, 0x2c), {},
            { { "Draft saved automatically at noon", { 12, 28 }, QColor(0x80, 0x80, 0x80), sans13 },
                { "Press the button to publish it", { 12, 56 }, QColor(0x80, 0x80, 0x80), sans13 } }) });
    layouts.append({ "grey on white",
        paint({ 420, 80 }, Qt::white, {},
            { { "Draft saved automatically at noon", { 12, 28 }, QColor(0xa8, 0xa8, 0xa8), sans13 },
                { "Press the button to publish it", { 12, 56 }, QColor(0xa8, 0xa8, 0xa8), sans13 } }) });
    {
        const QFont mono = fontOf("DejaVu Sans Mono", 13);
        const QStringList code { "for (const auto &item : items) {", "    if (item.size() > limit)",
            "        return false;", "}", "return true;" };
        QList<Run> runs;
        for (int i = 0; i < code.size(); ++i)
            runs << Run { code[i], { 12, 24 + i * 20 }, ink, mono };
        layouts.append({ "code", paint({ 360, 124 }, QColor(0xf6, 0xf6, 0xf6), {}, runs) });
    }
    layouts.append({ "mixed sizes",
        paint({ 560, 150 }, Qt::white, {},
            { { "Weekly report", { 12, 48 }, ink, fontOf("DejaVu Sans", 36, true) },
                { "Eleven items were closed this week", { 12, 80 }, ink, fontOf("DejaVu Sans", 15) },
                { "Updated four minutes ago", { 12, 104 }, QColor(0x66, 0x66, 0x66),
                    fontOf("DejaVu Sans", 10) } }) });
    layouts.append(
        { "single word", paint({ 110, 40 }, Qt::white, {}, { { "Bookmarks", { 10, 24 }, ink, sans13 } }) });
    layouts.append({ "no text",
        paint({ 300, 160 }, QColor(0xe0, 0xf0, 0xff),
            { { QRect(20, 20, 120, 120), QColor(0x3a, 0x6e, 0xa5) } }, {}) });
    return layouts;
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

QList<std::pair<QString, Painted>> g_layouts;

// The layouts above, each read once by the service: words in reading order.
void benchLayouts(benchmark::State &state)
{
    OCRService::recognize(g_layouts.front().second.image);
    Totals totals;
    for (auto _ : state) {
        totals = {};
        for (const auto &[label, painted] : g_layouts) {
            QElapsedTimer timer;
            timer.start();
            const QString text = ourText(painted.image);
            const double seconds = timer.nsecsElapsed() / 1e9;
            const int errors = painted.words.isEmpty() ? int(wordsOf(text).size())
                                                       : wordErrors(painted.words, wordsOf(text));
            std::fprintf(stderr, "layout %-28s %4lld words, %3d errors, %7.1f ms\n", qPrintable(label),
                (long long)painted.words.size(), errors, seconds * 1000);
            if (g_verbose && errors)
                std::fprintf(stderr, "    %s\n", qPrintable(text.simplified()));
            totals.errors += errors;
            totals.words += int(painted.words.size());
            totals.seconds += seconds;
            ++totals.images;
        }
    }
    state.counters["WER"] = totals.rate();
    state.counters["ms_per_image"] = totals.perImage() * 1000;
}

// A full 1920x1080 region of three columns of running text.
void benchFullScreen(benchmark::State &state)
{
    const Painted painted = columnPage({ 1920, 1080 }, 3, 15, 48);
    OCRService::recognize(painted.image);
    int errors = 0;
    QString text;
    for (auto _ : state) {
        text = ourText(painted.image);
        errors = wordErrors(painted.words, wordsOf(text));
    }
    if (g_verbose && errors)
        std::fprintf(stderr, "full screen: %s\n", qPrintable(text));
    state.counters["WER"] = double(errors) / double(painted.words.size());
    state.counters["words"] = double(painted.words.size());
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
    g_layouts = makeLayouts();

    benchmark::RegisterBenchmark("OCR/service_warm_engine", benchOurs)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OCR/layouts", benchLayouts)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OCR/full_screen_1920x1080", benchFullScreen)
        ->Iterations(3)
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
