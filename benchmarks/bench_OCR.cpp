// Text recognition of rendered UI text: the service's warm engine against the `tesseract` command
// on the same images, in one run. Reports word error rate and time per image for both. Then the
// service alone on screen layouts (columns, tables plain and ruled, dark panels, faint text, code,
// mixed sizes, HiDPI, no text) with their words in reading order, and on a full 1920x1080 region.
// OCR/screens draws screens from a seeded random choice of ten fonts, 10-20 px, light and dark
// themes, paddings and contents (tables with horizontal rules, vertical rules, grids, boxed cells,
// no rules, striped rows and two-line cells; faint line numbers and identifiers; ordinary text) and
// prints character and word error rates and time per image for the service and the command, set
// by set. OCR/cancel_sweep cancels reads of a 300x20000 strip and an 8000x8000 page at 20 evenly
// spaced moments and prints how long each took to let go. OCR/widget_screens scores grabs of real
// GTK 3 widgets and xterm kept in benchmarks/data/widget-screens.
// BENCH_OCR_VERBOSE=1 prints what was misread, BENCH_OCR_SAVE=<folder> keeps the drawn screens,
// BENCH_OCR_WITHOUT_COMMAND=1 leaves the command out of OCR/screens. On a busy machine run with
// OMP_THREAD_LIMIT=1: the command's own threads otherwise spin against the other work and its
// times mean little.

#include "Capture/OCRService.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QMap>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
#include <thread>

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

// Screens drawn from a seeded random choice of fonts, sizes, themes, paddings and contents: tables
// of every common style, faint text beside dark text, and ordinary screen text. Each screen's text
// is what a reader would type: rows top to bottom, cells left to right, a cell's lines joined.
struct Screen
{
    QString set;
    QString label;
    QImage image;
    QString path;
    QString text;
};

const QStringList families { "DejaVu Sans", "DejaVu Serif", "DejaVu Sans Mono", "DejaVu Sans Condensed",
    "Liberation Sans", "Liberation Serif", "Liberation Mono", "Noto Sans", "Noto Serif", "Noto Sans Mono" };
const QStringList monospaced { "DejaVu Sans Mono", "Liberation Mono", "Noto Sans Mono" };

struct Theme
{
    QColor ground;
    QColor ink;
    QColor faint; // secondary text
    QList<QColor> rules;
    QColor stripe;
    QColor header;
    QColor headerInk;
};

Theme themeOf(bool dark, QRandomGenerator &random)
{
    const auto pick
        = [&random](const QList<QColor> &colours) { return colours[random.bounded(int(colours.size()))]; };
    if (dark)
        return { pick({ QColor(0x1e, 0x1e, 0x1e), QColor(0x20, 0x21, 0x24), QColor(0x28, 0x2c, 0x34) }),
            pick({ QColor(0xe0, 0xe0, 0xe0), QColor(0xd4, 0xd4, 0xd4), Qt::white }),
            pick({ QColor(0x6e, 0x76, 0x81), QColor(0x85, 0x85, 0x85), QColor(0x5a, 0x5a, 0x5a) }),
            { QColor(0x44, 0x44, 0x44), QColor(0x55, 0x58, 0x5e), QColor(0x77, 0x77, 0x77),
                QColor(0xaa, 0xaa, 0xaa) },
            QColor(0x2e, 0x30, 0x36), QColor(0x3a, 0x3f, 0x4b), Qt::white };
    return { pick({ Qt::white, QColor(0xfa, 0xfa, 0xfa), QColor(0xf3, 0xf4, 0xf6) }),
        pick({ QColor(0x22, 0x22, 0x22), Qt::black, QColor(0x33, 0x33, 0x44) }),
        pick({ QColor(0x99, 0x99, 0x99), QColor(0xa8, 0xa8, 0xa8), QColor(0xb8, 0xb8, 0xb8) }),
        { QColor(0xdd, 0xdd, 0xdd), QColor(0xc8, 0xc8, 0xc8), QColor(0x99, 0x99, 0x99),
            QColor(0x55, 0x55, 0x55), Qt::black },
        QColor(0xec, 0xee, 0xf1), QColor(0x2b, 0x57, 0x9a), Qt::white };
}

// Cell contents by kind of column: a header and a maker of values.
struct ColumnKind
{
    QString header;
    std::function<QString(QRandomGenerator &)> value;
    bool numeric = false;
};

QString oneOf(const QStringList &list, QRandomGenerator &random)
{
    return list[random.bounded(int(list.size()))];
}

const QStringList months { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov",
    "Dec" };
const QStringList descriptions { "Fresh from the orchard this morning", "Delivered to the warehouse on time",
    "Waiting for the second signature", "Replaced under the extended warranty",
    "Shipped in two separate boxes", "Paid by bank transfer last week", "Returned because the size was wrong",
    "Booked for the spring conference", "Checked by the quality team today",
    "Moved to the archive after review" };

QList<ColumnKind> columnKinds()
{
    return {
        { "Name",
            [](auto &r) {
                return oneOf({ "Maria", "Jonas", "Erik", "Anna", "Peter", "Sofia", "Lukas", "Clara", "Oliver",
                                 "Hannah", "Mateo", "Ingrid" },
                    r);
            } },
        { "Product",
            [](auto &r) {
                return oneOf({ "Apples", "Pears", "Coffee beans", "Olive oil", "Notebook", "Desk lamp",
                                 "Cables", "Printer paper", "Green tea", "Headphones" },
                    r);
            } },
        { "City",
            [](auto &r) {
                return oneOf({ "Lisbon", "Oslo", "Vienna", "Porto", "Krakow", "Dublin", "Utrecht", "Bergen",
                                 "Seville", "Tallinn" },
                    r);
            } },
        { "Qty", [](auto &r) { return QString::number(r.bounded(1, 999)); }, true },
        { "Price",
            [](auto &r) {
                return QStringLiteral("$%1.%2")
                    .arg(r.bounded(1, 9999))
                    .arg(r.bounded(100), 2, 10, QLatin1Char('0'));
            },
            true },
        { "Total",
            [](auto &r) {
                return QStringLiteral("%1,%2.%3 EUR")
                    .arg(r.bounded(1, 99))
                    .arg(r.bounded(1000), 3, 10, QLatin1Char('0'))
                    .arg(r.bounded(100), 2, 10, QLatin1Char('0'));
            },
            true },
        { "Date",
            [](auto &r) {
                return QStringLiteral("%1 %2 %3")
                    .arg(r.bounded(1, 29))
                    .arg(oneOf(months, r))
                    .arg(r.bounded(2019, 2026));
            } },
        { "Due",
            [](auto &r) {
                return QStringLiteral("%1-%2-%3")
                    .arg(r.bounded(2019, 2026))
                    .arg(r.bounded(1, 13), 2, 10, QLatin1Char('0'))
                    .arg(r.bounded(1, 29), 2, 10, QLatin1Char('0'));
            } },
        { "Status",
            [](auto &r) {
                return oneOf(
                    { "Open", "Closed", "Pending", "Shipped", "Draft", "Paid", "Overdue", "Active" }, r);
            } },
        { "Change",
            [](auto &r) {
                return QStringLiteral("%1%2.%3%")
                    .arg(r.bounded(2) ? "+" : "-")
                    .arg(r.bounded(40))
                    .arg(r.bounded(10));
            },
            true },
        { "Order", [](auto &r) { return QStringLiteral("A-%1").arg(r.bounded(1000, 99999)); } },
    };
}

enum class Rules { None, Horizontal, Vertical, Grid, Boxes };

struct TableStyle
{
    Rules rules = Rules::None;
    bool twoLines = false; // a column of descriptions, some wrapped onto a second line
    bool zebra = false;
};

Screen tableScreen(const QString &set, const TableStyle &style, QRandomGenerator &random)
{
    const QString family = oneOf(families, random);
    const int pixelSize = random.bounded(10, 21);
    const bool dark = random.bounded(3) == 0;
    const Theme theme = themeOf(dark, random);
    QFont font(family);
    font.setPixelSize(pixelSize);
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics metrics(font);
    const QFontMetrics boldMetrics(bold);
    const int padding = random.bounded(2, 13);
    const int thickness = random.bounded(4) == 0 ? 2 : 1;
    const QColor rule = theme.rules[random.bounded(int(theme.rules.size()))];
    const bool filledHeader = random.bounded(4) == 0;
    const bool centred = random.bounded(2) == 0; // lines of a short cell in the middle of a tall row
    const int boxGap = random.bounded(2, 9);
    const int radius = random.bounded(3) == 0 ? 4 : 0;

    QList<ColumnKind> kinds = columnKinds();
    std::shuffle(kinds.begin(), kinds.end(), std::mt19937(random.generate()));
    const int columns = random.bounded(2, style.twoLines ? 5 : 7);
    kinds = kinds.mid(0, columns);
    if (style.twoLines)
        kinds.insert(
            1 + random.bounded(columns - 1), { "Notes", [](auto &r) { return oneOf(descriptions, r); } });
    const int rows = random.bounded(3, 9);
    // cells[row][column] = the cell's lines
    QList<QList<QStringList>> cells;
    cells.append(QList<QStringList>());
    for (const ColumnKind &kind : kinds)
        cells.back().append(QStringList { kind.header });
    for (int r = 0; r < rows; ++r) {
        cells.append(QList<QStringList>());
        for (const ColumnKind &kind : kinds) {
            const QString value = kind.value(random);
            const QStringList words = value.split(' ');
            if (kind.header == "Notes" && random.bounded(3) != 0) {
                const int cut = int(words.size() + 1) / 2;
                cells.back().append(QStringList { words.mid(0, cut).join(' '), words.mid(cut).join(' ') });
            } else {
                cells.back().append(QStringList { value });
            }
        }
    }
    const int lineHeight = metrics.lineSpacing();
    QList<int> widths;
    for (qsizetype c = 0; c < kinds.size(); ++c) {
        int widest = 0;
        for (qsizetype r = 0; r < cells.size(); ++r) {
            for (const QString &line : cells[r][c])
                widest = std::max(widest, (r == 0 ? boldMetrics : metrics).horizontalAdvance(line));
        }
        widths << widest;
    }
    // Without rules between columns, a gutter of its own keeps them apart.
    const bool columnRules = style.rules == Rules::Vertical || style.rules == Rules::Grid;
    const int gutter = style.rules == Rules::Boxes ? boxGap : columnRules ? thickness : random.bounded(8, 33);
    const int margin = random.bounded(6, 21);
    const bool title = random.bounded(3) == 0;
    int top = margin;
    QString text;
    QFont titleFont = font;
    titleFont.setPixelSize(pixelSize + 4);
    titleFont.setBold(true);
    if (title)
        top += QFontMetrics(titleFont).height() + pixelSize;
    QList<int> lefts;
    int x = margin;
    for (int width : widths) {
        lefts << x;
        x += width + 2 * padding + gutter;
    }
    const int tableWidth = x - gutter - margin;
    QList<int> heights;
    for (const auto &row : cells) {
        int lines = 1;
        for (const QStringList &cell : row)
            lines = std::max(lines, int(cell.size()));
        heights << lines * lineHeight + 2 * padding;
    }
    const bool rowRules = style.rules == Rules::Horizontal || style.rules == Rules::Grid;
    const int rowGap = style.rules == Rules::Boxes ? boxGap : rowRules ? thickness : 0;
    int height = top;
    for (int h : heights)
        height += h + rowGap;
    QImage image(x - gutter + margin, height + margin, QImage::Format_RGB32);
    image.fill(theme.ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, radius > 0);
    if (title) {
        const QString caption = oneOf(
            { "Quarterly orders", "Open invoices", "Team members", "Shipments this week", "Inventory" },
            random);
        painter.setFont(titleFont);
        painter.setPen(theme.ink);
        painter.drawText(margin, margin + QFontMetrics(titleFont).ascent(), caption);
        text = caption + '\n';
    }
    int y = top;
    for (qsizetype r = 0; r < cells.size(); ++r) {
        const int h = heights[r];
        const bool header = r == 0;
        if (header && filledHeader)
            painter.fillRect(margin, y, tableWidth, h, theme.header);
        else if (style.zebra && r % 2 == 0)
            painter.fillRect(margin, y, tableWidth, h, theme.stripe);
        QStringList rowText;
        for (qsizetype c = 0; c < kinds.size(); ++c) {
            const QStringList &lines = cells[r][c];
            if (style.rules == Rules::Boxes) {
                painter.setPen(QPen(rule, thickness));
                painter.setBrush(Qt::NoBrush);
                const QRectF box(lefts[c] + thickness / 2.0, y + thickness / 2.0,
                    widths[c] + 2 * padding - thickness, h - thickness);
                if (radius > 0)
                    painter.drawRoundedRect(box, radius, radius);
                else
                    painter.drawRect(box);
            }
            painter.setFont(header ? bold : font);
            painter.setPen(header && filledHeader ? theme.headerInk : theme.ink);
            const int blockHeight = int(lines.size()) * lineHeight;
            int lineTop = y + padding + (centred ? (h - 2 * padding - blockHeight) / 2 : 0);
            for (const QString &line : lines) {
                const int advance = (header ? boldMetrics : metrics).horizontalAdvance(line);
                const int left = kinds[c].numeric && !header ? lefts[c] + padding + widths[c] - advance
                                                             : lefts[c] + padding;
                painter.drawText(left, lineTop + metrics.ascent(), line);
                lineTop += lineHeight;
            }
            rowText << lines.join(' ');
        }
        text += rowText.join(' ') + '\n';
        y += h;
        if (rowRules && r + 1 < cells.size()) {
            painter.fillRect(margin, y, tableWidth, thickness, rule);
            y += thickness;
        } else if (style.rules == Rules::Boxes) {
            y += boxGap;
        }
    }
    if (columnRules) {
        const bool outer = random.bounded(2) == 0 || style.rules == Rules::Grid;
        for (qsizetype c = outer ? 0 : 1; c <= kinds.size(); ++c) {
            if (!outer && c == kinds.size())
                break;
            const int at = c < kinds.size() ? lefts[c] - thickness : margin + tableWidth;
            painter.fillRect(at, top, thickness, y - top, rule);
        }
        if (outer && style.rules == Rules::Grid) {
            painter.fillRect(
                margin - thickness, top - thickness, tableWidth + 2 * thickness, thickness, rule);
            painter.fillRect(margin - thickness, y, tableWidth + 2 * thickness, thickness, rule);
        }
    } else if (rowRules && random.bounded(2) == 0) {
        painter.fillRect(margin, top - thickness - 1, tableWidth, thickness, rule);
        painter.fillRect(margin, y, tableWidth, thickness, rule);
    }
    painter.end();
    const char *theme_ = dark ? "dark" : "light";
    return { set, QStringLiteral("%1 %2px %3 pad %4").arg(family).arg(pixelSize).arg(theme_).arg(padding),
        image, {}, text.trimmed() };
}

const QStringList codeLines { "int total = 0;", "for (const auto &item : items) {",
    "    total += item.price * item.count;", "}", "if (total > limit)", "    return std::nullopt;",
    "const QString name = user.displayName();", "emit changed(name);", "return total;",
    "auto reply = manager.get(request);", "connect(reply, &QNetworkReply::finished, this, [=] {",
    "    parse(reply->readAll());", "});", "let config = load_config(path)?;",
    "def handle(event):", "    queue.put(event)", "x = compute(a, b, c)",
    "print(f\"done in {elapsed:.2f} s\")" };

QString hex(QRandomGenerator &random, int digits)
{
    QString out;
    for (int i = 0; i < digits; ++i)
        out += QLatin1Char("0123456789abcdef"[random.bounded(16)]);
    return out;
}

// Code beside faint line numbers, or dark labels beside small faint identifiers.
Screen faintScreen(bool identifiers, QRandomGenerator &random)
{
    const bool dark = random.bounded(2) == 0;
    const Theme theme = themeOf(dark, random);
    const int margin = random.bounded(6, 17);
    QString text;
    QImage image;
    QString label;
    if (!identifiers) {
        QFont font(oneOf(monospaced, random));
        font.setPixelSize(random.bounded(11, 17));
        const QFontMetrics metrics(font);
        const int first = random.bounded(1, 990);
        const int count = random.bounded(6, 13);
        const int gutter = metrics.horizontalAdvance("0000") + random.bounded(8, 25);
        const int lineHeight = metrics.lineSpacing() + random.bounded(0, 6);
        QStringList lines;
        int widest = 0;
        for (int i = 0; i < count; ++i) {
            lines << oneOf(codeLines, random);
            widest = std::max(widest, metrics.horizontalAdvance(lines.back()));
        }
        image = QImage(2 * margin + gutter + widest, 2 * margin + count * lineHeight, QImage::Format_RGB32);
        image.fill(theme.ground);
        QPainter painter(&image);
        painter.setFont(font);
        for (int i = 0; i < count; ++i) {
            const QString number = QString::number(first + i);
            const int baseline = margin + i * lineHeight + metrics.ascent();
            painter.setPen(theme.faint);
            painter.drawText(margin + metrics.horizontalAdvance("0000") - metrics.horizontalAdvance(number),
                baseline, number);
            painter.setPen(theme.ink);
            painter.drawText(margin + gutter, baseline, lines[i]);
            text += number + ' ' + lines[i].simplified() + '\n';
        }
        label = QStringLiteral("line numbers %1 %2px %3")
                    .arg(font.family())
                    .arg(font.pixelSize())
                    .arg(dark ? "dark" : "light");
    } else {
        QFont labelFont(oneOf(families, random));
        labelFont.setPixelSize(random.bounded(12, 17));
        QFont idFont(oneOf(monospaced, random));
        idFont.setPixelSize(random.bounded(10, 14));
        const QFontMetrics labelMetrics(labelFont);
        const QFontMetrics idMetrics(idFont);
        const QStringList labels { "Commit", "Build", "Request ID", "Checksum", "Session", "Device", "Parent",
            "Key fingerprint" };
        const int count = random.bounded(3, 7);
        const int lineHeight
            = std::max(labelMetrics.lineSpacing(), idMetrics.lineSpacing()) + random.bounded(4, 12);
        QStringList names;
        QStringList values;
        int labelWidth = 0;
        int idWidth = 0;
        for (int i = 0; i < count; ++i) {
            names << oneOf(labels, random);
            switch (random.bounded(3)) {
            case 0:
                values << hex(random, 40);
                break;
            case 1:
                values << QStringLiteral("%1-%2-%3-%4-%5")
                              .arg(hex(random, 8), hex(random, 4), hex(random, 4), hex(random, 4),
                                  hex(random, 12));
                break;
            default:
                values << QStringLiteral("sha256:%1").arg(hex(random, 16));
            }
            labelWidth = std::max(labelWidth, labelMetrics.horizontalAdvance(names.back()));
            idWidth = std::max(idWidth, idMetrics.horizontalAdvance(values.back()));
        }
        const int gap = random.bounded(12, 33);
        image = QImage(
            2 * margin + labelWidth + gap + idWidth, 2 * margin + count * lineHeight, QImage::Format_RGB32);
        image.fill(theme.ground);
        QPainter painter(&image);
        for (int i = 0; i < count; ++i) {
            const int baseline = margin + i * lineHeight + labelMetrics.ascent();
            painter.setFont(labelFont);
            painter.setPen(theme.ink);
            painter.drawText(margin, baseline, names[i]);
            painter.setFont(idFont);
            painter.setPen(random.bounded(2) ? theme.faint : theme.ink);
            painter.drawText(margin + labelWidth + gap, baseline, values[i]);
            text += names[i] + ' ' + values[i] + '\n';
        }
        label = QStringLiteral("identifiers %1 %2px %3")
                    .arg(idFont.family())
                    .arg(idFont.pixelSize())
                    .arg(dark ? "dark" : "light");
    }
    return { identifiers ? "faint identifiers" : "faint line numbers", label, image, {}, text.trimmed() };
}

// Ordinary screen text: interface lines and wrapped sentences.
Screen textScreen(QRandomGenerator &random)
{
    const bool dark = random.bounded(3) == 0;
    const Theme theme = themeOf(dark, random);
    QFont font(oneOf(families, random));
    font.setPixelSize(random.bounded(10, 21));
    const QFontMetrics metrics(font);
    const int margin = random.bounded(6, 21);
    QStringList lines;
    if (random.bounded(2)) {
        for (int i = 0; i < 6; ++i)
            lines << oneOf(phrases, random);
    } else {
        const int width = metrics.averageCharWidth() * random.bounded(40, 80);
        lines = wrapped(oneOf(sentences, random) + ' ' + oneOf(sentences, random), metrics, width);
    }
    const int lineHeight = metrics.lineSpacing() + random.bounded(0, font.pixelSize() / 2 + 1);
    int widest = 0;
    for (const QString &line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    QImage image(2 * margin + widest, 2 * margin + int(lines.size()) * lineHeight, QImage::Format_RGB32);
    image.fill(theme.ground);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(theme.ink);
    for (int i = 0; i < lines.size(); ++i)
        painter.drawText(margin, margin + i * lineHeight + metrics.ascent(), lines[i]);
    painter.end();
    return { "screen text",
        QStringLiteral("%1 %2px %3").arg(font.family()).arg(font.pixelSize()).arg(dark ? "dark" : "light"),
        image, {}, lines.join('\n') };
}

QList<Screen> makeScreens(const QString &folder)
{
    QRandomGenerator random(20250317);
    QList<Screen> screens;
    const QList<std::pair<QString, TableStyle>> tables {
        { "table, horizontal rules", { Rules::Horizontal } },
        { "table, vertical rules", { Rules::Vertical } },
        { "table, grid", { Rules::Grid } },
        { "table, boxed cells", { Rules::Boxes } },
        { "table, no rules", { Rules::None } },
        { "table, striped rows", { Rules::None, false, true } },
        { "table, two-line cells", { Rules::Grid, true } },
    };
    constexpr int perSet = 12;
    for (const auto &[set, style] : tables) {
        for (int i = 0; i < perSet; ++i) {
            TableStyle s = style;
            if (s.twoLines) // two-line cells under every kind of rule, and none
                s.rules = QList<Rules> { Rules::Grid, Rules::Horizontal, Rules::Boxes, Rules::Vertical,
                    Rules::None }[i % 5];
            screens << tableScreen(set, s, random);
        }
    }
    for (int i = 0; i < perSet; ++i)
        screens << faintScreen(false, random);
    for (int i = 0; i < perSet; ++i)
        screens << faintScreen(true, random);
    for (int i = 0; i < 2 * perSet; ++i)
        screens << textScreen(random);
    const QString keep = qEnvironmentVariable("BENCH_OCR_SAVE");
    for (qsizetype i = 0; i < screens.size(); ++i) {
        screens[i].path = QStringLiteral("%1/screen%2.png").arg(folder).arg(i);
        screens[i].image.save(screens[i].path);
        if (!keep.isEmpty())
            screens[i].image.save(QStringLiteral("%1/%2.png").arg(keep).arg(i));
    }
    return screens;
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
bool g_withoutCommand = false; // while tuning: the service's figures alone

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

// Character-level edit distance.
int characterErrors(const QString &reference, const QString &hypothesis)
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

struct Score
{
    int characters = 0;
    int characterErrors = 0;
    int words = 0;
    int wordErrors = 0;
    double seconds = 0;
    int images = 0;
    void add(const QString &reference, const QString &read, double took)
    {
        // Order counts, line breaks do not: a row read as one line or two differs by nothing.
        const QString expected = reference.simplified();
        const QString got = read.simplified();
        characters += int(expected.size());
        characterErrors += ::characterErrors(expected, got);
        words += int(wordsOf(expected).size());
        wordErrors += ::wordErrors(wordsOf(expected), wordsOf(got));
        seconds += took;
        ++images;
    }
    double cer() const { return characters ? 100.0 * characterErrors / characters : 0; }
    double wer() const { return words ? 100.0 * wordErrors / words : 0; }
    double ms() const { return images ? 1000 * seconds / images : 0; }
};

QList<Screen> g_screens;

// The command as the benchmark runs it: one thread (its own spin against other work otherwise), in
// its default page segmentation or the one given.
QString commandText(const QString &path, const QStringList &options = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("OMP_THREAD_LIMIT", "1");
    process.setProcessEnvironment(environment);
    process.start("tesseract", QStringList { path, "stdout" } + options);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Every generated screen read by the service and by the command: CER, WER and time per set.
void benchScreens(benchmark::State &state)
{
    OCRService::recognize(g_screens.front().image);
    QMap<QString, std::pair<Score, Score>> sets;
    QStringList order;
    for (auto _ : state) {
        sets.clear();
        for (const Screen &screen : g_screens) {
            if (!order.contains(screen.set))
                order << screen.set;
            QElapsedTimer timer;
            timer.start();
            const QString ours = ourText(screen.image);
            const double oursSeconds = timer.nsecsElapsed() / 1e9;
            timer.restart();
            const QString theirs = g_withoutCommand ? QString() : commandText(screen.path);
            const double theirSeconds = timer.nsecsElapsed() / 1e9;
            auto &[mine, command] = sets[screen.set];
            const int before = mine.characterErrors;
            mine.add(screen.text, ours, oursSeconds);
            command.add(screen.text, theirs, theirSeconds);
            if (g_verbose && mine.characterErrors > before)
                std::fprintf(stderr, "%s | %s | %d errors\n  expected: %s\n  read:     %s\n",
                    qPrintable(screen.set), qPrintable(screen.label), mine.characterErrors - before,
                    qPrintable(screen.text.simplified()), qPrintable(ours.simplified()));
        }
    }
    Score allMine;
    Score allCommand;
    std::printf("\n%-26s %6s %8s %8s %8s %8s %9s %9s\n", "set", "images", "CER", "cmd CER", "WER", "cmd WER",
        "ms/image", "cmd ms");
    for (const QString &set : order) {
        const auto &[mine, command] = sets[set];
        std::printf("%-26s %6d %7.2f%% %7.2f%% %7.2f%% %7.2f%% %9.1f %9.1f\n", qPrintable(set), mine.images,
            mine.cer(), command.cer(), mine.wer(), command.wer(), mine.ms(), command.ms());
        for (Score *total : { &allMine, &allCommand }) {
            const Score &from = total == &allMine ? mine : command;
            total->characters += from.characters;
            total->characterErrors += from.characterErrors;
            total->words += from.words;
            total->wordErrors += from.wordErrors;
            total->seconds += from.seconds;
            total->images += from.images;
        }
    }
    std::printf("%-26s %6d %7.2f%% %7.2f%% %7.2f%% %7.2f%% %9.1f %9.1f  (time ratio %.2f)\n\n", "all",
        allMine.images, allMine.cer(), allCommand.cer(), allMine.wer(), allCommand.wer(), allMine.ms(),
        allCommand.ms(), allCommand.ms() > 0 ? allMine.ms() / allCommand.ms() : 0);
    state.counters["CER"] = allMine.cer();
    state.counters["cmd_CER"] = allCommand.cer();
    state.counters["ms_per_image"] = allMine.ms();
    state.counters["cmd_ms_per_image"] = allCommand.ms();
}

// What must come through exactly: numbers with their signs, decimal points and separators, links
// and e-mail addresses, each as a whole token.
QStringList exactTokens(const QString &text)
{
    static const QRegularExpression token(
        R"((?<![\w.+-])[-+]?\d(?:[\d.,:/-]*\d)?%?(?!\w)|[a-z]+://[^\s<>"']*[^\s<>"'.,;)]|[\w.+-]+@[\w-]+(?:\.[\w-]+)+)");
    QStringList tokens;
    for (auto it = token.globalMatch(text); it.hasNext();)
        tokens << it.next().captured();
    return tokens;
}

// Those and every word that holds a digit (a hash, an identifier like "q1", "-1e-3"): a letter
// read for a digit there or the other way round changes what it says, which the characters' error
// rate hardly shows.
QStringList tokensWithDigits(const QString &text)
{
    static const QRegularExpression edges(
        R"re(^[("'<\[{\x{2018}\x{201c}]+|[)"'>\]},;:.!?\x{2019}\x{201d}]+$)re");
    QStringList tokens = exactTokens(text);
    for (QString word : text.split(QRegularExpression(R"(\s+)"), Qt::SkipEmptyParts)) {
        word.remove(edges);
        if (word.contains(QRegularExpression(R"(\d)")) && !exactTokens(word).contains(word))
            tokens << word;
    }
    return tokens;
}

// The tokens `tokenize` finds in `expected` that `read` lacks, each as often as it lacks it.
QStringList missingTokens(
    const QString &expected, const QString &read, QStringList (*tokenize)(const QString &) = tokensWithDigits)
{
    QStringList got = tokenize(read);
    QStringList missing;
    for (const QString &wanted : tokenize(expected)) {
        if (!got.removeOne(wanted))
            missing << wanted;
    }
    return missing;
}

// Screens of real GTK 3 widgets and xterm (benchmarks/widget_screens.py grabs them from an X server
// of its own) beside the text a reader types from each: the service against the command in its
// default mode and read as one block (--psm 6), all in one run. Per screen and in all: character
// errors, the numbers, links and e-mail addresses not read exactly, and characters read where there
// is no text.
void benchWidgetScreens(benchmark::State &state)
{
    const QDir folder(QStringLiteral(DOVRIN_BENCH_DATA_DIR "/widget-screens"));
    if (folder.entryList({ "*.png" }, QDir::Files).isEmpty()) {
        // Debian's interpreter, which has the GTK bindings, whatever python3 comes first on the path.
        QProcess::execute(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral(DOVRIN_BENCH_DATA_DIR "/../widget_screens.py"), folder.path() });
    }
    const QStringList names = folder.entryList({ "*.png" }, QDir::Files, QDir::Name);
    if (names.isEmpty()) {
        state.SkipWithError("no widget screens: /usr/bin/python3 benchmarks/widget_screens.py failed");
        return;
    }
    OCRService::recognize(QImage(folder.filePath(names.front())));
    struct Reader
    {
        const char *name;
        std::function<QString(const QString &)> read;
        Score score {};
        int tokens = 0;
        int missing = 0;
        int numbers = 0; // numbers, links and addresses alone
        int numbersMissing = 0;
        int invented = 0;
    };
    const auto reader = [](const char *name, std::function<QString(const QString &)> read) {
        Reader made;
        made.name = name;
        made.read = std::move(read);
        return made;
    };
    std::array<Reader, 3> readers { reader(
                                        "service", [](const QString &path) { return ourText(QImage(path)); }),
        reader("tesseract", [](const QString &path) { return commandText(path); }),
        reader("tesseract --psm 6", [](const QString &path) {
            return commandText(path, { "--psm", "6" });
        }) };
    for (auto _ : state) {
        std::printf("\n%-22s %6s %8s %8s   %s\n", "screen", "chars", "CER", "psm3",
            "psm6 | missing tokens (service)");
        for (const QString &name : names) {
            const QString path = folder.filePath(name);
            QFile truthFile(folder.filePath(QFileInfo(name).completeBaseName() + ".txt"));
            truthFile.open(QIODevice::ReadOnly);
            const QString truth = QString::fromUtf8(truthFile.readAll());
            std::array<double, 3> cers {};
            QStringList ourMissing;
            QString ourRead;
            for (std::size_t r = 0; r < readers.size(); ++r) {
                Reader &reader = readers[r];
                if (r > 0 && g_withoutCommand)
                    continue;
                QElapsedTimer timer;
                timer.start();
                const QString read = reader.read(path);
                const double seconds = timer.nsecsElapsed() / 1e9;
                Score one;
                one.add(truth, read, seconds);
                reader.score.add(truth, read, seconds);
                cers[r] = truth.simplified().isEmpty() ? read.simplified().size() : one.cer();
                const QStringList missing = missingTokens(truth, read);
                reader.tokens += int(tokensWithDigits(truth).size());
                reader.missing += int(missing.size());
                reader.numbers += int(exactTokens(truth).size());
                reader.numbersMissing += int(missingTokens(truth, read, exactTokens).size());
                if (truth.simplified().isEmpty())
                    reader.invented += int(read.simplified().size());
                if (r == 0) {
                    ourMissing = missing;
                    ourRead = read;
                }
            }
            std::printf("%-22s %6lld %7.2f%% %7.2f%% %7.2f%% | %s\n", qPrintable(QFileInfo(name).baseName()),
                (long long)truth.simplified().size(), cers[0], cers[1], cers[2],
                qPrintable(ourMissing.join(' ')));
            if (g_verbose && cers[0] > 0)
                std::fprintf(stderr, "  expected: %s\n  read:     %s\n", qPrintable(truth.simplified()),
                    qPrintable(ourRead.simplified()));
        }
    }
    std::printf("\n%-18s %8s %8s %14s %16s %9s %9s\n", "reader", "CER", "WER", "tokens missed",
        "numbers missed", "invented", "ms/image");
    for (const Reader &reader : readers)
        std::printf("%-18s %7.2f%% %7.2f%% %7d of %3d %9d of %3d %9d %9.1f\n", reader.name,
            reader.score.cer(), reader.score.wer(), reader.missing, reader.tokens, reader.numbersMissing,
            reader.numbers, reader.invented, reader.score.ms());
    state.counters["CER"] = readers[0].score.cer();
    state.counters["psm3_CER"] = readers[1].score.cer();
    state.counters["psm6_CER"] = readers[2].score.cer();
    state.counters["tokens_missed"] = readers[0].missing;
}

// Cancels a read at `at` seconds: how long until it lets go, or nothing when it had finished.
std::optional<double> cancelLatency(const QImage &image, double at)
{
    std::atomic<bool> stop { false };
    std::atomic<bool> finished { false };
    QElapsedTimer clock;
    clock.start();
    std::thread reader([&] {
        try {
            OCRService::recognize(image, [&] { return stop.load(); });
        } catch (...) { }
        finished = true;
    });
    const auto deadline = qint64(at * 1e9);
    while (clock.nsecsElapsed() < deadline && !finished)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const qint64 stoppedAt = clock.nsecsElapsed();
    const bool wasRunning = !finished;
    stop = true;
    reader.join();
    if (!wasRunning)
        return std::nullopt;
    return (clock.nsecsElapsed() - stoppedAt) / 1e9;
}

// Cancels at 20 evenly spaced moments of a read, after one read that loads every engine.
void sweepCancels(const char *name, const QImage &image)
{
    OCRService::recognize(image);
    QElapsedTimer timer;
    timer.start();
    const OCRResult result = OCRService::recognize(image);
    const double full = timer.nsecsElapsed() / 1e9;
    timer.restart();
    (void)OCRResult::fromObservations(result.observations, result.languages);
    const double layout = timer.nsecsElapsed() / 1e9;
    double worst = 0;
    double sum = 0;
    int answered = 0;
    QStringList each;
    for (int k = 1; k <= 20; ++k) {
        const std::optional<double> latency = cancelLatency(image, full * k / 21.0);
        each << (latency ? QString::number(*latency * 1000, 'f', 0) : QStringLiteral("done"));
        if (!latency)
            continue;
        worst = std::max(worst, *latency);
        sum += *latency;
        ++answered;
    }
    std::printf(
        "cancel %-16s read %.2f s (%lld lines, their layout %.0f ms); answered in %s ms; worst %.0f ms, "
        "mean %.0f ms\n",
        name, full, (long long)result.observations.size(), layout * 1000, qPrintable(each.join(' ')),
        worst * 1000, answered ? sum / answered * 1000 : 0.0);
}

// A tall strip of list entries and a large page of columns of text.
void benchCancelSweep(benchmark::State &state)
{
    QImage strip(300, 20000, QImage::Format_RGB32);
    strip.fill(Qt::white);
    {
        QPainter painter(&strip);
        painter.setFont(fontOf("DejaVu Sans", 13));
        painter.setPen(QColor(0x22, 0x22, 0x22));
        for (int i = 0; 30 + i * 50 < strip.height(); ++i)
            painter.drawText(10, 30 + i * 50, QStringLiteral("Entry %1 of the list").arg(i));
    }
    // Blocks of running text spread over the page, as on a large poster or dashboard.
    QImage page(8000, 8000, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        const QFont body = fontOf("DejaVu Sans", 14);
        const QFontMetrics metrics(body);
        painter.setFont(body);
        painter.setPen(QColor(0x22, 0x22, 0x22));
        for (int block = 0; block < 12; ++block) {
            const QPoint at(200 + (block % 3) * 2600, 300 + (block / 3) * 1950);
            int y = at.y();
            for (int p = 0; p < 3; ++p) {
                for (const QString &line : wrapped(sentences[(block + p) % sentences.size()] + ' '
                             + sentences[(block + p + 1) % sentences.size()],
                         metrics, 1400)) {
                    painter.drawText(at.x(), y, line);
                    y += metrics.height() * 3 / 2;
                }
                y += metrics.height();
            }
        }
    }
    for (auto _ : state) {
        sweepCancels("300x20000 strip", strip);
        sweepCancels("8000x8000 page", page);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_verbose = qEnvironmentVariableIsSet("BENCH_OCR_VERBOSE");
    g_withoutCommand = qEnvironmentVariableIsSet("BENCH_OCR_WITHOUT_COMMAND");
    QTemporaryDir folder;
    g_samples = makeSamples(folder.path());
    g_layouts = makeLayouts();
    g_screens = makeScreens(folder.path());

    benchmark::RegisterBenchmark("OCR/service_warm_engine", benchOurs)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OCR/layouts", benchLayouts)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OCR/full_screen_1920x1080", benchFullScreen)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OCR/screens", benchScreens)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OCR/widget_screens", benchWidgetScreens)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("OCR/cancel_sweep", benchCancelSweep)
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
