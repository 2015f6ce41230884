// Text recognition with the real engine on rendered screen text: words and boxes, layouts, ruled
// tables, images past the engine's limits, stopping, many callers, missing language data.

#include "Capture/OCRService.h"
#include "Platform/TesseractEngine.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <thread>

namespace {

const QColor ink(0x22, 0x22, 0x22);
const QColor white(Qt::white);

// Text drawn at set places, some of it on filled panels (or rules), as a page or dialog shows it.
struct Drawn
{
    QString text;
    QPoint at; // left end of the baseline
    QColor colour = ink;
    int pixelSize = 13;
    QString family = "DejaVu Sans";
};
struct Panel
{
    QRect rect;
    QColor colour;
};

QFont fontOf(const QString &family, int pixelSize)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

QImage page(QSize size, QColor ground, const QList<Panel> &panels, const QList<Drawn> &texts)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(ground);
    QPainter painter(&image);
    for (const Panel &panel : panels)
        painter.fillRect(panel.rect, panel.colour);
    for (const Drawn &drawn : texts) {
        painter.setFont(fontOf(drawn.family, drawn.pixelSize));
        painter.setPen(drawn.colour);
        painter.drawText(drawn.at, drawn.text);
    }
    return image;
}

// Lines one under the other, on a light or dark ground; `boxes` gets where each line's ink lies.
QImage lines(
    const QStringList &texts, const QString &family, int pixelSize, bool dark, QList<QRect> *boxes = nullptr)
{
    const QFontMetrics metrics(fontOf(family, pixelSize));
    QList<Drawn> drawn;
    int width = 0;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QPoint at(pixelSize, pixelSize / 2 + int(i) * metrics.height() * 3 / 2 + metrics.ascent());
        drawn << Drawn { texts[i], at, dark ? QColor(0xdd, 0xdd, 0xdd) : ink, pixelSize, family };
        width = std::max(width, metrics.horizontalAdvance(texts[i]));
        if (boxes)
            *boxes << metrics.tightBoundingRect(texts[i]).translated(at);
    }
    return page({ width + 2 * pixelSize, int(texts.size()) * metrics.height() * 3 / 2 + pixelSize },
        dark ? QColor(0x23, 0x25, 0x2b) : QColor(0xfa, 0xfa, 0xfa), {}, drawn);
}

// Lines as a terminal or editor shows them: tight, from `left`, the first baseline at `top`.
QList<Drawn> column(const QStringList &texts, const QString &family, int pixelSize, QColor colour,
    int left = 20, int top = 12)
{
    const QFontMetrics metrics(fontOf(family, pixelSize));
    QList<Drawn> drawn;
    for (qsizetype i = 0; i < texts.size(); ++i)
        drawn << Drawn { texts[i], { left, top + metrics.ascent() + int(i) * (metrics.lineSpacing() + 1) },
            colour, pixelSize, family };
    return drawn;
}

// Words from a seeded choice, wrapped at `width` characters: spaces fall wherever the words put
// them, and in a monospaced font some line up over several lines.
QStringList paragraph(quint32 seed, int lines, int width)
{
    static const QStringList words { "the", "server", "reads", "each", "entry", "and", "writes", "its",
        "state", "to", "disk", "when", "a", "client", "asks", "for", "more", "data", "than", "fits", "in",
        "one", "block", "of", "memory", "so", "we", "keep", "cache", "small", "open", "file", "close",
        "error", "value", "queue", "timer", "after", "retry", "count" };
    QStringList paragraph;
    QString line;
    while (paragraph.size() < lines) {
        seed = seed * 1664525u + 1013904223u;
        const QString &word = words.at(int((seed >> 16) % words.size()));
        if (line.size() + 1 + word.size() > width) {
            paragraph << line;
            line.clear();
        }
        line += (line.isEmpty() ? "" : " ") + word;
    }
    return paragraph;
}

// A table drawn as a grid: cells `padding` pixels from their rules; `header` fills the first row.
struct Grid
{
    QString family;
    int pixelSize;
    bool dark;
    QColor rule;
    int thickness;
    bool horizontal;
    int padding;
    QColor header = Qt::transparent;
};

QImage ruledTable(const QList<QStringList> &rows, const Grid &grid)
{
    const QFontMetrics metrics(fontOf(grid.family, grid.pixelSize));
    const int rowHeight = metrics.height() + 2 * grid.padding + grid.thickness;
    const int height = int(rows.size()) * rowHeight;
    QList<int> lefts { 10 };
    for (qsizetype c = 0; c < rows.front().size(); ++c) {
        int widest = 0;
        for (const QStringList &row : rows)
            widest = std::max(widest, metrics.horizontalAdvance(row[c]));
        lefts << lefts.back() + widest + 2 * grid.padding + grid.thickness;
    }
    QList<Panel> panels { { QRect(10, 10, lefts.back() - 10, rowHeight), grid.header } };
    QList<Drawn> texts;
    for (const int left : lefts)
        panels << Panel { QRect(left, 10, grid.thickness, height + grid.thickness), grid.rule };
    for (qsizetype r = 0; r <= rows.size(); ++r) {
        if (grid.horizontal)
            panels << Panel { QRect(10, 10 + int(r) * rowHeight, lefts.back() - 10, grid.thickness),
                grid.rule };
        for (qsizetype c = 0; r < rows.size() && c < rows[r].size(); ++c) {
            const bool light = grid.dark || (r == 0 && grid.header.alpha() > 0);
            texts << Drawn { rows[r][c],
                { lefts[c] + grid.thickness + grid.padding,
                    10 + int(r) * rowHeight + grid.thickness + grid.padding + metrics.ascent() },
                light ? QColor(0xe0, 0xe0, 0xe0) : ink, grid.pixelSize, grid.family };
        }
    }
    return page({ lefts.back() + grid.thickness + 10, height + grid.thickness + 20 },
        grid.dark ? QColor(0x1e, 0x1f, 0x24) : white, panels, texts);
}

// Tables as screens draw them: rules between rows, between columns, both, each cell a box of its
// own with a gap between boxes, or nothing but space. A cell may hold two lines ("\n").
enum class Rules { None, Horizontal, Vertical, Grid, Boxes };
struct Table
{
    Rules rules;
    QString family;
    int pixelSize;
    bool dark;
    int padding;
    QColor header = Qt::transparent; // a filled first row, its text white
};

QImage table(const QList<QStringList> &rows, const Table &style)
{
    const QFontMetrics metrics(fontOf(style.family, style.pixelSize));
    const QColor ground = style.dark ? QColor(0x1e, 0x1f, 0x24) : white;
    const QColor rule = style.dark ? QColor(0x66, 0x66, 0x6e) : QColor(0xb0, 0xb0, 0xb0);
    const bool rowRules = style.rules == Rules::Horizontal || style.rules == Rules::Grid;
    const bool columnRules = style.rules == Rules::Vertical || style.rules == Rules::Grid;
    const int gap = style.rules == Rules::Boxes ? 4 : columnRules ? 1 : 3 * style.pixelSize / 2;
    QList<int> lefts { 12 };
    for (qsizetype c = 0; c < rows.front().size(); ++c) {
        int widest = 0;
        for (const QStringList &row : rows) {
            for (const QString &line : row[c].split('\n'))
                widest = std::max(widest, metrics.horizontalAdvance(line));
        }
        lefts << lefts.back() + widest + 2 * style.padding + gap;
    }
    const int right = lefts.back() - gap;
    QList<Panel> panels;
    QList<Drawn> texts;
    int y = 12;
    for (const QStringList &row : rows) {
        int lines = 1;
        for (const QString &cell : row)
            lines = std::max(lines, int(cell.count('\n')) + 1);
        const int height = lines * metrics.lineSpacing() + 2 * style.padding;
        const bool header = &row == &rows.front() && style.header.alpha() > 0;
        if (header)
            panels << Panel { QRect(12, y, right - 12, height), style.header };
        for (qsizetype c = 0; c < row.size(); ++c) {
            const int width = lefts[c + 1] - gap - lefts[c];
            if (style.rules == Rules::Boxes) {
                panels << Panel { QRect(lefts[c], y, width, 1), rule }
                       << Panel { QRect(lefts[c], y + height - 1, width, 1), rule }
                       << Panel { QRect(lefts[c], y, 1, height), rule }
                       << Panel { QRect(lefts[c] + width - 1, y, 1, height), rule };
            }
            const QStringList cellLines = row[c].split('\n');
            for (qsizetype l = 0; l < cellLines.size(); ++l)
                texts << Drawn { cellLines[l],
                    { lefts[c] + style.padding,
                        y + style.padding + int(l) * metrics.lineSpacing() + metrics.ascent() },
                    style.dark || header ? QColor(0xdd, 0xdd, 0xdd) : ink, style.pixelSize, style.family };
        }
        y += height + (style.rules == Rules::Boxes ? gap : 0);
        if (rowRules && &row != &rows.back())
            panels << Panel { QRect(12, y++, right - 12, 1), rule };
    }
    for (qsizetype c = 1; columnRules && c + 1 < lefts.size(); ++c)
        panels << Panel { QRect(lefts[c] - 1, 12, 1, y - 12), rule };
    return page({ right + 12, y + 12 }, ground, panels, texts);
}

// The words of a text; marks at a word's ends may be misread, the words themselves may not.
QStringList bareWords(const QString &text)
{
    QStringList words;
    for (QString word : text.simplified().split(' ', Qt::SkipEmptyParts)) {
        while (!word.isEmpty() && !word.front().isLetterOrNumber())
            word.remove(0, 1);
        while (!word.isEmpty() && !word.back().isLetterOrNumber())
            word.chop(1);
        if (!word.isEmpty())
            words << word;
    }
    return words;
}

// Each line as its bare words.
QStringList bareLines(const QStringList &lines)
{
    QStringList bare;
    for (const QString &line : lines)
        bare << bareWords(line).join(' ');
    return bare;
}

// One row of reads(): an image, all of its words in reading order, lines it must hold whole and,
// where drawn lines were measured, their boxes.
void row(const char *name, const QImage &image, const QString &expected, const QStringList &whole = {},
    const QList<QRect> &boxes = {})
{
    QTest::newRow(name) << image << expected << whole << boxes;
}

OCRResult await(OCRService &service, const QImage &image)
{
    Task<OCRResult> task = service.recognizeText(image);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(task.isFinished(), 60000); }();
    return task.result();
}

// Light text on a dark ground grainy with noise, as on a photograph or a textured banner.
QImage noisy(QSize size, const QList<Drawn> &texts, quint32 seed)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int v = 40 + int((seed >> 24) % 48);
            row[x] = qRgb(v, v, v);
        }
    }
    QPainter painter(&image);
    for (const Drawn &drawn : texts) {
        painter.setFont(fontOf(drawn.family, drawn.pixelSize));
        painter.setPen(drawn.colour);
        painter.drawText(drawn.at, drawn.text);
    }
    return image;
}

// Controls as toolkits draw them beside their labels: a radio button's circle (chosen or not), a
// check box, a switch, a combo box's arrow and a round avatar.
QImage controls(const QStringList &labels)
{
    QImage image(360, 40 * int(labels.size()) + 20, QImage::Format_RGB32);
    image.fill(white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent(0x35, 0x84, 0xe4);
    for (qsizetype i = 0; i < labels.size(); ++i) {
        const int middle = 26 + 40 * int(i);
        painter.setPen(QPen(accent, 2));
        painter.setBrush(Qt::NoBrush);
        switch (i % 5) {
        case 0:
            painter.drawEllipse(QPointF(20, middle), 8, 8);
            painter.setBrush(accent);
            painter.drawEllipse(QPointF(20, middle), 3, 3);
            break;
        case 1:
            painter.setPen(QPen(QColor(0x88, 0x88, 0x88), 1.5));
            painter.drawRoundedRect(QRectF(12, middle - 8, 16, 16), 3, 3);
            break;
        case 2:
            painter.setPen(Qt::NoPen);
            painter.setBrush(accent);
            painter.drawRoundedRect(QRectF(6, middle - 12, 44, 24), 12, 12);
            painter.setBrush(white);
            painter.drawEllipse(QPointF(38, middle), 10, 10);
            break;
        case 3:
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0x2e, 0x34, 0x36));
            painter.drawPolygon(
                QPolygonF { QPointF(14, middle - 3), QPointF(26, middle - 3), QPointF(20, middle + 3) });
            break;
        default:
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0xc0, 0x56, 0x21));
            painter.drawEllipse(QPointF(22, middle), 16, 16);
            break;
        }
        painter.setPen(ink);
        painter.setFont(fontOf("DejaVu Sans", 13));
        painter.drawText(60, middle + 5, labels[i]);
    }
    return image;
}

} // namespace

class TestOCRService : public QObject
{
    Q_OBJECT

private slots:
    // Screen text and layouts of real screens: all of their words in reading order, some lines
    // whole, and where drawn lines were measured, a box over each.
    void reads_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("wholeLines");
        QTest::addColumn<QList<QRect>>("boxes");

        const QStringList texts { "Downloads folder is almost full", "Invoice 20417 was paid on Monday",
            "Keyboard shortcuts and gestures" };
        const QList<std::tuple<const char *, QString, int, bool>> fonts {
            { "sans 11 light", "DejaVu Sans", 11, false }, { "sans 13 dark", "DejaVu Sans", 13, true },
            { "serif 16 light", "DejaVu Serif", 16, false }, { "mono 12 dark", "DejaVu Sans Mono", 12, true },
            { "sans 32, not enlarged", "DejaVu Sans", 32, false }
        };
        for (const auto &[name, family, pixelSize, dark] : fonts) {
            QList<QRect> boxes;
            const QImage image = lines(texts, family, pixelSize, dark, &boxes);
            row(name, image, texts.join(' '), texts, boxes);
        }

        // Nothing to read, and nothing made up.
        QImage clear(50, 50, QImage::Format_ARGB32_Premultiplied);
        clear.fill(Qt::transparent);
        const QList<std::pair<const char *, QImage>> blanks { { "null", QImage() },
            { "white", page({ 400, 200 }, white, {}, {}) },
            { "dark", page({ 300, 120 }, QColor(0x20, 0x20, 0x20), {}, {}) }, { "transparent", clear },
            { "one pixel", page({ 1, 1 }, white, {}, {}) },
            { "a horizontal rule", page({ 300, 60 }, white, { { QRect(0, 29, 300, 2), Qt::black } }, {}) },
            { "an empty dark bar",
                page({ 300, 80 }, white, { { QRect(20, 20, 200, 30), QColor(0x2e, 0x7d, 0x32) } }, {}) } };
        for (const auto &[name, image] : blanks)
            row(name, image, QString());

        // Two columns of running text a little more than a letter apart, under a heading that
        // spans both: the engine's lines must not run across the gutter.
        const QStringList left { "Tomorrow the library opens an hour", "earlier so that students can use",
            "the reading rooms before classes." };
        const QStringList right { "The cafeteria moves to the second", "floor while the kitchen is rebuilt",
            "over the course of the summer." };
        const QString heading = "Campus news for the week of the ninth of June";
        QList<Drawn> columns { { heading, { 12, 24 } } };
        for (int i = 0; i < 3; ++i)
            columns << Drawn { left[i], { 12, 60 + 20 * i } } << Drawn { right[i], { 262, 60 + 20 * i } };
        row("two columns under a heading", page({ 500, 130 }, white, {}, columns),
            heading + ' ' + left.join(' ') + ' ' + right.join(' '));

        // Short columns far apart are read each on its own, then laid out line by line.
        const QStringList folders { "Inbox", "Drafts", "Archive" };
        const QStringList subjects { "Lunch on Friday", "Quarterly report", "Flight 442 booked" };
        QList<Drawn> lists;
        QStringList rows;
        for (int i = 0; i < 3; ++i) {
            lists << Drawn { folders[i], { 13, 20 + 19 * i } } << Drawn { subjects[i], { 150, 20 + 19 * i } };
            rows << folders[i] + ' ' + subjects[i];
        }
        row("columns far apart", page({ 290, 75 }, white, {}, lists), rows.join(' '), rows);

        // A dark banner and a dark button inside a light dialog: light text on them is read too.
        row("light text on dark panels",
            page({ 420, 150 }, white,
                { { QRect(10, 10, 400, 50), QColor(0x15, 0x65, 0xc0) },
                    { QRect(250, 100, 120, 30), QColor(0x2e, 0x7d, 0x32) } },
                { { "Backup finished without errors", { 24, 40 }, white },
                    { "Keep both copies?", { 20, 120 } }, { "Replace", { 282, 120 }, white } }),
            "Backup finished without errors Keep both copies? Replace");

        // A large heading over body text and a small note: each size is read.
        const QStringList sizes { "Quarterly results", "Revenue grew in every region this spring",
            "Figures updated on the first of July" };
        row("mixed sizes",
            page({ 520, 130 }, white, {},
                { { sizes[0], { 12, 46 }, ink, 36 }, { sizes[1], { 12, 80 }, ink, 15 },
                    { sizes[2], { 12, 104 }, QColor(0x66, 0x66, 0x66), 10 } }),
            sizes.join(' '));

        // Code: a line with a closing brace alone is part of the text.
        const QStringList source { "while (queue.size() > 0) {", "    handle(queue.pop());", "}",
            "return done;" };
        QList<Drawn> code;
        for (int i = 0; i < source.size(); ++i)
            code << Drawn { source[i], { 12, 24 + 22 * i } };
        row("code with a closing brace", page({ 320, 110 }, QColor(0xf6, 0xf6, 0xf6), {}, code),
            source.join(' '), { "}" });

        const QStringList faint { "Last synchronised four minutes ago", "Nothing is waiting to upload" };
        const QColor grey(0x7a, 0x7a, 0x7a);
        row("grey on dark grey",
            page({ 380, 70 }, QColor(0x2b, 0x2b, 0x2b), {},
                { { faint[0], { 12, 26 }, grey }, { faint[1], { 12, 50 }, grey } }),
            faint.join(' '));

        // Ruled tables read like unruled ones, row by row: beside the rules the engine dropped
        // whole columns.
        const QList<QStringList> files { { "Name", "Owner", "Modified", "Status" },
            { "summary.odt", "Maria", "Today", "Shared" }, { "holiday.png", "Peter", "Yesterday", "Private" },
            { "accounts.csv", "Erik", "Monday", "Locked" }, { "minutes.txt", "Anna", "Friday", "Draft" } };
        QStringList table;
        for (const QStringList &cells : files)
            table << cells.join(' ');
        const QColor mid(0x99, 0x99, 0x99);
        const QList<std::pair<const char *, Grid>> grids {
            { "grid, grey rules", { "DejaVu Sans", 13, false, mid, 1, true, 4 } },
            { "grid, tight cells", { "DejaVu Sans", 12, false, Qt::black, 1, true, 2 } },
            { "grid, dark, light rules", { "DejaVu Serif", 15, true, QColor(0xaa, 0xaa, 0xaa), 2, true, 4 } },
            { "vertical rules only",
                { "DejaVu Sans Condensed", 13, false, QColor(0x1e, 0x88, 0xe5), 1, false, 2 } },
            { "grid, HiDPI", { "DejaVu Sans", 26, false, QColor(0x55, 0x55, 0x55), 2, true, 8 } },
            { "grid under a dark header row",
                { "DejaVu Sans", 14, false, mid, 1, false, 8, QColor(0x2b, 0x57, 0x9a) } },
        };
        for (const auto &[name, grid] : grids)
            row(name, ruledTable(files, grid), table.join(' '));
    }

    void reads()
    {
        QFETCH(QImage, image);
        QFETCH(QString, expected);
        QFETCH(QStringList, wholeLines);
        QFETCH(QList<QRect>, boxes);
        OCRService service;
        const OCRResult result = await(service, image);
        for (const QString &line : wholeLines)
            QVERIFY2(result.text.split('\n').contains(line), qPrintable(result.text));
        QVERIFY2(bareWords(result.text) == bareWords(expected), qPrintable(result.text));
        QCOMPARE(result.observations.isEmpty(), expected.isEmpty());
        QCOMPARE(result.isLowConfidence(), expected.isEmpty());
        QCOMPARE(result.languages, expected.isEmpty() ? QStringList() : QStringList { "en" });
        // Each box covers its line: normalized, origin at the bottom-left.
        for (qsizetype i = 0; i < boxes.size(); ++i) {
            QCOMPARE(result.observations.size(), boxes.size());
            const QRectF box = result.observations[i].boundingBox;
            QVERIFY(QRectF(0, 0, 1, 1).contains(box));
            const QRectF inPixels(box.left() * image.width(), (1 - box.bottom()) * image.height(),
                box.width() * image.width(), box.height() * image.height());
            const double slack = boxes[i].height() * 0.5;
            QVERIFY2(inPixels.adjusted(-slack, -slack, slack, slack).contains(boxes[i]),
                qPrintable(wholeLines[i]));
            QVERIFY(result.observations[i].confidence > 0.5 && result.observations[i].confidence <= 1.0);
        }
    }

    // Tables of every common style read row by row: each row one line, its cells in order, a cell
    // of two lines within its row, and no border read as "|", "[" or "]".
    void readsTables_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QStringList>("rows");
        const QList<QStringList> orders { { "Item", "Owner", "Due", "Amount" },
            { "Apples", "Maria", "12 Mar 2024", "$120.50" },
            { "Coffee beans", "Jonas", "3 Apr 2024", "$48.00" },
            { "Printer paper", "Erik", "28 May 2024", "$1,249.00" } };
        const QList<QStringList> notes { { "Order", "Notes", "Qty" },
            { "A-1043", "Fresh from the\norchard", "120" }, { "A-1044", "Paid by bank\ntransfer", "35" },
            { "A-1045", "Returned", "7" } };
        const auto rowsOf = [](const QList<QStringList> &cells) {
            QStringList rows;
            for (const QStringList &row : cells)
                rows << row.join(' ').replace('\n', ' ');
            return rows;
        };
        const QList<std::tuple<const char *, QList<QStringList>, Table>> tables {
            { "horizontal rules only", orders, { Rules::Horizontal, "DejaVu Sans", 13, false, 6 } },
            { "horizontal rules, dark, serif", orders,
                { Rules::Horizontal, "Liberation Serif", 16, true, 4 } },
            { "vertical rules only, tight", orders, { Rules::Vertical, "Liberation Sans", 12, false, 2 } },
            { "full grid, monospaced", orders, { Rules::Grid, "Noto Sans Mono", 12, false, 4 } },
            { "boxed cells", orders, { Rules::Boxes, "DejaVu Sans", 14, false, 5 } },
            { "boxed cells, dark", orders, { Rules::Boxes, "Noto Sans", 18, true, 8 } },
            { "no rules", orders, { Rules::None, "DejaVu Serif", 11, false, 3 } },
            { "vertical rules through a dark header row", orders,
                { Rules::Vertical, "Liberation Serif", 16, false, 8, QColor(0x2b, 0x57, 0x9a) } },
            { "a framed text field", { { "Search files and folders" } },
                { Rules::Boxes, "Noto Sans", 13, false, 7 } },
            { "two-line cells, grid", notes, { Rules::Grid, "DejaVu Sans", 13, false, 5 } },
            { "two-line cells, horizontal rules", notes,
                { Rules::Horizontal, "Liberation Sans", 15, true, 6 } },
            { "two-line cells, boxed", notes, { Rules::Boxes, "Noto Serif", 14, false, 6 } },
            { "two-line cells, vertical rules", notes,
                { Rules::Vertical, "DejaVu Sans Mono", 12, false, 6 } },
        };
        for (const auto &[name, cells, style] : tables)
            QTest::newRow(name) << table(cells, style) << rowsOf(cells);

        // Light grey line numbers beside dark code, and small grey identifiers beside dark labels:
        // each judged against its own contrast, not the page's darkest text.
        const QStringList code { "int total = 0;", "for (auto &item : items)", "total += item.price;",
            "return total;" };
        QList<Drawn> numbered;
        QStringList numberedRows;
        for (int i = 0; i < code.size(); ++i) {
            const int baseline = 20 + 20 * i;
            numbered << Drawn { QString::number(103 + i), { 10, baseline }, QColor(0xb4, 0xb4, 0xb4), 13,
                "DejaVu Sans Mono" }
                     << Drawn { code[i], { 56, baseline }, ink, 13, "DejaVu Sans Mono" };
            numberedRows << QString::number(103 + i) + ' ' + code[i];
        }
        QTest::newRow("faint line numbers beside code")
            << page({ 300, 96 }, white, {}, numbered) << numberedRows;
        const QStringList ids { "3f9a2c1e8b7d4a60", "c7265f32-e1ae-011d-8a09-9e5777743293" };
        QList<Drawn> labelled { { "Commit", { 10, 22 }, QColor(0xdd, 0xdd, 0xdd), 14 },
            { ids[0], { 90, 22 }, QColor(0x6e, 0x76, 0x81), 12, "Liberation Mono" },
            { "Session", { 10, 48 }, QColor(0xdd, 0xdd, 0xdd), 14 },
            { ids[1], { 90, 48 }, QColor(0x6e, 0x76, 0x81), 12, "Liberation Mono" } };
        QTest::newRow("faint identifiers, dark") << page({ 360, 62 }, QColor(0x1e, 0x1e, 0x1e), {}, labelled)
                                                 << QStringList { "Commit " + ids[0], "Session " + ids[1] };
    }

    void readsTables()
    {
        QFETCH(QImage, image);
        QFETCH(QStringList, rows);
        OCRService service;
        const OCRResult result = await(service, image);
        QCOMPARE(bareLines(result.text.split('\n')), bareLines(rows));
        for (const QChar border : { '|', '[', ']' })
            QVERIFY2(!result.text.contains(border), qPrintable(result.text));
    }

    // Monospaced screen text (terminals, code, running text in an editor): its spaces are a letter
    // wide and fall on one grid, so they line up over several lines by chance. Each line comes back
    // whole, as one piece, in order; such lines were cut into columns there and read one column
    // after the other. Columns two cells apart or more are still columns.
    void readsMonospacedText_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("pieces");
        const QColor light(0xdc, 0xdc, 0xd7);
        const QColor darkGround(0x1e, 0x1e, 0x22);
        const QColor lightGround(0xfc, 0xfc, 0xfa);
        const auto screen = [](QColor ground, const QList<Drawn> &drawn) {
            int right = 0;
            int bottom = 0;
            for (const Drawn &d : drawn) {
                const QFontMetrics metrics(fontOf(d.family, d.pixelSize));
                right = std::max(right, d.at.x() + metrics.horizontalAdvance(d.text));
                bottom = std::max(bottom, d.at.y() + metrics.descent());
            }
            return page({ right + 20, bottom + 12 }, ground, {}, drawn);
        };
        const auto prose = [&](const char *name, quint32 seed, int width, const QString &family,
                               int pixelSize, bool dark) {
            const QStringList text = paragraph(seed, 10, width);
            QTest::newRow(name) << screen(
                dark ? darkGround : lightGround, column(text, family, pixelSize, dark ? light : ink))
                                << text << int(text.size());
        };
        prose("prose, Liberation Mono 16, dark", 113, 56, "Liberation Mono", 16, true);
        prose("prose, DejaVu Sans Mono 11", 77, 60, "DejaVu Sans Mono", 11, false);
        prose("prose, Nimbus Mono 14", 98, 62, "Nimbus Mono PS", 14, false);

        const QStringList shell { "user@host:~/src$ ls -la build", "total 48",
            "drwxr-xr-x 6 user user 4096 Mar 12 10:14 .", "drwxr-xr-x 9 user user 4096 Mar 12 09:58 ..",
            "-rw-r--r-- 1 user user 8133 Mar 12 10:14 build.ninja",
            "-rw-r--r-- 1 user user 2210 Mar 12 10:02 rules.ninja", "user@host:~/src$ git status --short",
            " M src/main.cpp", "?? notes/todo.txt" };
        QTest::newRow("terminal, Nimbus Mono 12")
            << screen(lightGround, column(shell, "Nimbus Mono PS", 12, ink)) << shell << int(shell.size());

        // Two panes side by side, three cells apart: each read on its own, one after the other.
        const QStringList left = paragraph(5, 6, 30);
        const QStringList right = paragraph(6, 6, 30);
        const int paneGap = QFontMetrics(fontOf("DejaVu Sans Mono", 13)).horizontalAdvance(QString(33, 'x'));
        QTest::newRow("two panes three cells apart") << screen(darkGround,
            column(left, "DejaVu Sans Mono", 13, light)
                + column(right, "DejaVu Sans Mono", 13, light, 20 + paneGap))
                                                     << left + right << int(left.size() + right.size());

        // A listing whose columns are two cells apart or more: read row by row, a piece a cell.
        const QStringList listing { "NAME      STATUS    PORT", "web-1     running   8080",
            "cache     stopped   6379", "worker-2  running   none", "proxy     paused    443" };
        QTest::newRow("listing two cells apart, Noto Mono 13") << screen(lightGround,
            column(listing, "Noto Mono", 13, ink)) << listing << int(3 * listing.size());
    }

    void readsMonospacedText()
    {
        QFETCH(QImage, image);
        QFETCH(QStringList, rows);
        QFETCH(int, pieces);
        OCRService service;
        const OCRResult result = await(service, image);
        QCOMPARE(bareLines(result.text.split('\n')), bareLines(rows));
        QCOMPARE(result.observations.size(), pieces);
    }

    // What the text says comes through as it is: the signs of a diff's lines, coloured text of
    // little contrast in brightness, text on chips, text on noise and nothing made of the noise,
    // controls beside their labels read as nothing. Each came back changed or lost.
    void keepsWhatTheTextSays_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QString>("expected");

        // Removed and added lines of a diff in a terminal: a column of signs two cells from the
        // code was cut off as a column of its own and its "-" dropped as a speck.
        const QStringList diff { "@@ -12,7 +12,7 @@ static int flush(void)", "   int count = 0;",
            "-  double limit = -71.2;", "-  long size = 4096;", "+  double limit = -4.1;",
            "+  long size = 8192;", "   return count - 1;" };
        QList<Drawn> lines;
        for (qsizetype i = 0; i < diff.size(); ++i)
            lines << Drawn { diff[i], { 8, 16 + 14 * int(i) },
                diff[i].startsWith('-')       ? QColor(0xc0, 0x1c, 0x28)
                    : diff[i].startsWith('+') ? QColor(0x26, 0xa2, 0x69)
                                              : ink,
                11, "DejaVu Sans Mono" };
        QTest::newRow("a diff's signs")
            << page({ 300, 116 }, white, {}, lines) << diff.join(' ').simplified();

        // Bright cyan and yellow on cream: far apart in colour, near in brightness.
        const QColor cream(0xfd, 0xf6, 0xe3);
        QTest::newRow("bright colours on cream")
            << page({ 360, 64 }, cream, {},
                   { { "Status: connected (HEAD -> main, origin/main)", { 10, 24 },
                         QColor(0x4f, 0xd6, 0xe0) },
                       { "Warning: disk 91% full", { 10, 48 }, QColor(0xf5, 0xc4, 0x00) } })
            << "Status: connected (HEAD -> main, origin/main) Warning: disk 91% full";

        // Tags on rounded chips a shade darker than the ground, light and dark: the engine read each
        // chip as a dark blob.
        QImage chips(380, 70, QImage::Format_RGB32);
        chips.fill(QColor(0x11, 0x18, 0x27));
        {
            QPainter painter(&chips);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setFont(fontOf("DejaVu Sans", 13));
            int left = 10;
            for (const QString tag : { "bug", "linux-6.6", "backend", "needs-review" }) {
                const int width = QFontMetrics(painter.font()).horizontalAdvance(tag) + 16;
                painter.setPen(Qt::NoPen);
                painter.setBrush(QColor(0x37, 0x41, 0x51));
                painter.drawRoundedRect(QRectF(left, 20, width, 22), 11, 11);
                painter.setPen(QColor(0xe5, 0xe7, 0xeb));
                painter.drawText(left + 8, 36, tag);
                left += width + 6;
            }
        }
        QTest::newRow("rounded chips") << chips << "bug linux-6.6 backend needs-review";

        // Light text on grainy noise, and a stretch of noise beside it with nothing on it.
        QTest::newRow("text on noise") << noisy({ 460, 150 },
            { { "Night build finished in four minutes", { 14, 30 }, QColor(0xee, 0xee, 0xee), 14 },
                { "Artifacts: 38 files, 1.7 GB", { 14, 58 }, QColor(0xee, 0xee, 0xee), 14 } },
            7) << "Night build finished in four minutes Artifacts: 38 files, 1.7 GB";

        // A radio button, a check box, a switch, a combo box's arrow and an avatar beside their
        // labels: read as "O", "C)", "@", "v" and "@".
        const QStringList labels { "Every hour", "Skip on battery", "Sync over mobile data", "Medium",
            "Maria Lopez" };
        QTest::newRow("controls beside their labels") << controls(labels) << labels.join(' ');

        // Dark rounded buttons in a light dialog: turned over to be read, the corners outside their
        // rounding became specks read as "r", "7" and "4".
        QImage dialog(420, 110, QImage::Format_RGB32);
        dialog.fill(white);
        {
            QPainter painter(&dialog);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setFont(fontOf("DejaVu Sans", 13));
            painter.setPen(ink);
            painter.drawText(14, 28, "Free space after this: 118.4 GB of 512 GB");
            painter.setPen(QPen(QColor(0x8a, 0x10, 0x1c), 1));
            painter.setBrush(QColor(0xc0, 0x1c, 0x28));
            painter.drawRoundedRect(QRectF(150.5, 56.5, 120, 34), 5, 5);
            painter.drawRoundedRect(QRectF(284.5, 56.5, 120, 34), 5, 5);
            painter.setPen(white);
            painter.drawText(172, 78, "Delete all");
            painter.drawText(314, 78, "Keep both");
        }
        QTest::newRow("dark rounded buttons")
            << dialog << "Free space after this: 118.4 GB of 512 GB Delete all Keep both";

        // A selection from within the first line to within the last, white on blue: not a box, so it
        // was not turned over, and the engine mixed the words of its lines.
        const QStringList paragraph { "Release notes for 2.4.0-rc3, published by maria_lopez.",
            "The cache is flushed every 15 s; a limit of -71.2 MB.",
            "Downloads moved to https://git.example.io/app (see #4471).",
            "Report problems to bugs@example.org, or read the guide." };
        QImage selection(480, 110, QImage::Format_RGB32);
        selection.fill(white);
        {
            QPainter painter(&selection);
            painter.setFont(fontOf("DejaVu Sans", 13));
            const QFontMetrics metrics(painter.font());
            for (qsizetype i = 0; i < paragraph.size(); ++i) {
                const QString &text = paragraph[i];
                const qsizetype from = i == 0 ? text.indexOf("published") : 0;
                const qsizetype to = i + 1 == paragraph.size() ? text.indexOf("or read") : text.size();
                const int left = 10 + metrics.horizontalAdvance(text.left(from));
                const int top = 8 + 22 * int(i);
                painter.fillRect(QRect(left, top, metrics.horizontalAdvance(text.mid(from, to - from)), 22),
                    QColor(0x35, 0x84, 0xe4));
                painter.setPen(ink);
                painter.drawText(10, top + 16, text.left(from));
                painter.drawText(
                    left + metrics.horizontalAdvance(text.mid(from, to - from)), top + 16, text.mid(to));
                painter.setPen(white);
                painter.drawText(left, top + 16, text.mid(from, to - from));
            }
        }
        QTest::newRow("a selection within lines") << selection << paragraph.join(' ');

        // Spin buttons: a framed value with a minus and a plus button drawn as icons, read as "— +".
        QImage spins(420, 100, QImage::Format_RGB32);
        spins.fill(white);
        {
            QPainter painter(&spins);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setFont(fontOf("DejaVu Sans", 13));
            for (const auto &[row, name, value] : { std::tuple { 0, "Temperature offset", "-71.2" },
                     std::tuple { 1, "Calibration", "-4.1" } }) {
                const int top = 10 + 44 * row;
                painter.setPen(ink);
                painter.drawText(14, top + 23, name);
                painter.setPen(QPen(QColor(0xcd, 0xc7, 0xc2), 1));
                painter.setBrush(white);
                painter.drawRoundedRect(QRectF(170.5, top + 0.5, 220, 34), 5, 5);
                painter.drawLine(QPointF(300.5, top + 1), QPointF(300.5, top + 34));
                painter.drawLine(QPointF(345.5, top + 1), QPointF(345.5, top + 34));
                painter.setPen(ink);
                painter.drawText(180, top + 23, value);
                painter.setPen(QPen(QColor(0x2e, 0x34, 0x36), 2));
                painter.drawLine(QPointF(315, top + 17), QPointF(331, top + 17));
                painter.drawLine(QPointF(360, top + 17), QPointF(376, top + 17));
                painter.drawLine(QPointF(368, top + 9), QPointF(368, top + 25));
            }
        }
        QTest::newRow("spin buttons") << spins << "Temperature offset -71.2 Calibration -4.1";

        // Sizes right-aligned in a column of 10 px text: a unit ran into its number.
        const QStringList sizes { "221 kB", "3.4 MB", "118.4 kB", "12 s" };
        QList<Drawn> sized;
        const QFontMetrics small(fontOf("DejaVu Sans", 10));
        for (qsizetype i = 0; i < sizes.size(); ++i)
            sized << Drawn { sizes[i], { 90 - small.horizontalAdvance(sizes[i]), 16 + 16 * int(i) }, ink,
                10 };
        QTest::newRow("units beside numbers, 10 px")
            << page({ 110, 80 }, white, {}, sized) << sizes.join(' ');

        // Addresses in a terminal: a point alone in its cell left a gap read as a space after it.
        const QStringList mail { "Report bugs to <bugs@example.org> or ops-team+alerts@mail.example.net.",
            "Contact: maria.lopez@example.com, j.berg@example.org" };
        QList<Drawn> addresses;
        for (qsizetype i = 0; i < mail.size(); ++i)
            addresses << Drawn { mail[i], { 8, 18 + 18 * int(i) }, ink, 12, "DejaVu Sans Mono" }
                      << Drawn { mail[i], { 8, 58 + 18 * int(i) }, ink, 13, "DejaVu Sans Mono" }
                      << Drawn { mail[i], { 8, 98 + 18 * int(i) }, ink, 14, "DejaVu Sans Mono" };
        QTest::newRow("e-mail addresses in a terminal")
            << page({ 700, 140 }, white, {}, addresses) << (mail + mail + mail).join(' ');

        // Marks the engine read as another mark, or left out, or made up, where the ink shows which
        // they are: an underscore read as a point or not at all, a point read as a hyphen, a hyphen
        // after a point where there is none, an "@" read as "G", a zero with a dot in it read as "6".
        struct Shown
        {
            const char *kind;
            QStringList texts;
            QString family;
            QList<int> sizes;
        };
        const QStringList code { "if total >= 1_000: see guide#setup_1" };
        const QStringList people { "Maria Lopez", "maria.lopez@example.com", "Jonas Berg",
            "j.berg@example.org", "Erik Svensson", "erik_s@mail.example.net" };
        for (const Shown &shown : {
                 Shown { "an underscore read as a point", code, "DejaVu Sans Mono", { 9, 12, 14 } },
                 Shown { "an underscore left out", code, "DejaVu Sans Mono", { 15, 16 } },
                 Shown { "two underscores read as one", { "    x_1 = y_2 - 0.25 * z__3" }, "Liberation Mono",
                     { 12, 14 } },
                 Shown { "a point read as a hyphen", people, "Noto Sans", { 14 } },
                 Shown { "a point read as a hyphen", people, "Liberation Sans", { 12 } },
                 Shown { "a hyphen made up after a point", people, "Noto Sans", { 12 } },
                 Shown { "an at sign read as a G",
                     { "Report bugs to <bugs@example.org> or", "ops-team+alerts@mail.example.net." },
                     "DejaVu Sans Mono", { 13 } },
                 Shown { "a zero with a dot in it",
                     { "static int flush(void)", "   int count = 0;", "   return count - 1;" },
                     "DejaVu Sans Mono", { 10 } },
             }) {
            for (const int size : shown.sizes)
                QTest::addRow("%s, %s %d px", shown.kind, qPrintable(shown.family), size)
                    << ::lines(shown.texts, shown.family, size, false) << shown.texts.join(' ').simplified();
        }
        // Zeros with a dot in them, read as "6", "8", "9", "@" or "®", beside sixes, eights and nines
        // that stay; the engine's boxes for them were loose or took in two digits.
        const QStringList digits { "count = 0; total = 180", "$0,493.46 0503 -2.08 034.9",
            "606 808 909 1069 8096 -0.5" };
        for (const auto &[family, size] :
            { std::pair { "Liberation Mono", 10 }, std::pair { "DejaVu Sans Mono", 9 } }) {
            for (const bool dark : { false, true })
                QTest::addRow("zeros with a dot, %s %d px%s", family, size, dark ? ", dark" : "")
                    << ::lines(digits, family, size, dark) << digits.join(' ');
        }

        // Numbers a space apart in proportional fonts, where a space is about half a digit wide: read
        // as one number ("4.25.5").
        const QStringList spaced { "Version 1.6 2.8 3.9 and 4.2 5.5", "Sizes 24 36 48 72 96 in px",
            "Ratios 0.25 0.5 0.75 and 2.5 3.0" };
        for (const auto &[family, size] : { std::pair { "DejaVu Sans", 9 }, std::pair { "Noto Sans", 11 },
                 std::pair { "Liberation Sans", 10 }, std::pair { "Liberation Sans", 14 } })
            QTest::addRow("numbers a space apart, %s %d px", family, size)
                << ::lines(spaced, family, size, false) << spaced.join(' ');

        const auto grab = [](const QString &name) {
            return QImage(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../benchmarks/data/widget-screens/") + name);
        };
        // Digits the engine took for the letters they look like, where the token shows it is not a
        // word: an abbreviated hash, a number in scientific notation, one of a numbered series; and
        // words of those letters that stay as they are.
        const QStringList hashes { "a1b2c3d (HEAD -> main) Fix rounding of -0.5",
            "0c9d8e7 (tag: v2.4.0-rc3) Bump version", "if total <= -1e-3 or total >= 1_000:" };
        const QStringList words { "Oslo is all Ideal for Il Duce", "Olaf coded a bead deal" };
        for (const auto &[family, size] : { std::pair { "DejaVu Sans Mono", 10 },
                 std::pair { "DejaVu Sans", 11 }, std::pair { "Liberation Sans", 12 } }) {
            QTest::addRow("digits read as letters, %s %d px", family, size)
                << ::lines(hashes, family, size, false) << hashes.join(' ');
            QTest::addRow("words kept, %s %d px", family, size)
                << ::lines(words, family, size, false) << words.join(' ');
        }
        for (const auto &[family, size] : { std::pair { "Noto Mono", 11 }, std::pair { "Noto Mono", 13 },
                 std::pair { "Liberation Mono", 12 } })
            QTest::addRow("an abbreviated hash, %s %d px", family, size)
                << ::lines(hashes.mid(0, 2), family, size, false) << hashes.mid(0, 2).join(' ');
        const QStringList scientific { "if total <= -1e-3 or total >= 2:", "    return -1e-3" };
        QTest::newRow("a number in scientific notation, its 1 read as i")
            << ::lines(scientific, "Liberation Mono", 9, false) << scientific.join(' ').simplified();
        const QImage log = grab("19-git-log.png");
        QTest::newRow("an abbreviated hash in a terminal") << log.copy(
            0, 0, log.width(), 20) << "a1b2c3d (HEAD -> main, origin/main) Fix rounding of -0.5 in totals";
        const QImage quarters = grab("23-numbers.png");
        QTest::newRow("one of a numbered series")
            << quarters.copy(0, 0, quarters.width(), 22) << "region q1 q2 change";
        QFile table(
            QStringLiteral(QT_TESTCASE_SOURCEDIR "/../benchmarks/data/widget-screens/23-numbers.txt"));
        QVERIFY(table.open(QIODevice::ReadOnly));
        QTest::newRow("one of a numbered series, its row read cell by cell")
            << quarters << QString::fromUtf8(table.readAll()).simplified();
        const QImage program = grab("17-code.png");
        QTest::newRow("a number in scientific notation")
            << program
            << "def scale(values, factor=-0.5): total = sum(v * factor for v in values) if total <= -1e-3 or "
               "total >= 1_000: return round(total / len(values), 2) return max_value - min_value # a_b, x/y";

        // Straight quotes in a terminal, read as curly ones and one of them twice.
        QFile json(
            QStringLiteral(QT_TESTCASE_SOURCEDIR "/../benchmarks/data/widget-screens/25-dim-json.txt"));
        QVERIFY(json.open(QIODevice::ReadOnly));
        QTest::newRow("straight quotes in a terminal")
            << grab("25-dim-json.png") << QString::fromUtf8(json.readAll()).simplified();

        // Terminals' columns of signed percentages: with a word to a line there are no spaces to
        // judge by, and "+900.0%" was cut after its point, "+820.0%" before it.
        const QImage numbers = grab("23-numbers.png");
        QTest::newRow("a decimal point in a column of single words") << numbers.copy(270, 0,
            numbers.width() - 270, numbers.height()) << "change -18.6% -200.0% +191.5% +900.0% -28.4%";
        QTest::newRow("a decimal point in a column of single words, 12 px")
            << grab("32-numbers-12.png")
            << "item before after change disk 512.0 498.5 -2.6% memory 0.75 6.90 +820.0% swap -1.00 0.00 "
               "+100.0% load 3.60 0.09 -97.5%";
    }

    void keepsWhatTheTextSays()
    {
        QFETCH(QImage, image);
        QFETCH(QString, expected);
        OCRService service;
        QCOMPARE(await(service, image).text.simplified(), expected);
    }

    // Past the engine's 16-bit coordinates: a tall strip is read in pieces, a line too wide for it
    // fails. Both came back as an empty success.
    void beyondTheEngine_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("300 x 20000 reads every line") << QSize(300, 20000);
        QTest::newRow("a line 33000 wide fails") << QSize(33000, 40);
    }

    void beyondTheEngine()
    {
        QFETCH(QSize, size);
        QStringList drawn { QString("rows and columns ").repeated(size.width() / 110) };
        if (size.height() > size.width()) {
            drawn.clear();
            for (int i = 0; i < size.height() / 50; ++i)
                drawn << QStringLiteral("Entry %1 of the list").arg(i);
        }
        QList<Drawn> texts;
        for (int i = 0; i < drawn.size(); ++i)
            texts << Drawn { drawn[i], { 10, 30 + i * 50 } };
        const QImage image = page(size, white, {}, texts);
        if (size.width() > TesseractEngine::maximumSide) {
            QVERIFY_THROWS_EXCEPTION(OCRError, OCRService::recognize(image));
            return;
        }
        OCRService service;
        QCOMPARE(await(service, image).text.split('\n'), drawn);
    }

    // A recognition stops within a second: of the engine being asked between two words, of a
    // cancel, of its service going away (as on quitting). A large page ran on for minutes.
    void stopsWithinASecond_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("engine asked") << "engine";
        QTest::newRow("task cancelled") << "cancel";
        QTest::newRow("service destroyed") << "destroy";
    }

    // Reading the whole page takes minutes here; a read that heeds the stop lets go within seconds, even
    // on a machine too busy to keep to one.
    void stopsWithinASecond()
    {
        constexpr qint64 limitMs = 10000;
        QFETCH(QString, how);
        QList<Drawn> texts;
        for (int y = 20; y < 2400; y += 16)
            texts << Drawn { QString("Words upon words fill this page %1 ").arg(y).repeated(20), { 10, y },
                ink, 11 };
        const QImage image
            = page({ 2400, 2400 }, white, {}, texts).convertToFormat(QImage::Format_Grayscale8);
        QElapsedTimer sinceStop;
        if (how == "engine") {
            // The engine alone, on a worker as the service runs it: asked once, it lets go.
            const auto read = QtConcurrent::run(OCRService::workers(), [&] {
                return TesseractEngine::forCurrentThread().read(image, 96, [&] {
                    if (!sinceStop.isValid())
                        sinceStop.start();
                    return true;
                });
            });
            QTRY_VERIFY_WITH_TIMEOUT(read.isFinished(), 60000);
            QVERIFY(!read.result());
            QVERIFY2(sinceStop.elapsed() < limitMs, qPrintable(QString::number(sinceStop.elapsed())));
            return;
        }
        auto service = std::make_unique<OCRService>();
        Task<OCRResult> task = service->recognizeText(image);
        QTRY_VERIFY(OCRService::workers()->activeThreadCount() > 0);
        if (how == "cancel")
            task.cancel();
        else
            service.reset();
        QTRY_VERIFY_WITH_TIMEOUT(
            task.isFinished() && OCRService::workers()->activeThreadCount() == 0, int(limitMs));
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
    }

    // Asked to stop at any stage of a long read (preparing the image, reading its first stretches,
    // its last ones), the read lets go within a second. Once, a stretch too large for that ran on.
    void stopsWithinASecondAtAnyStage_data()
    {
        QTest::addColumn<double>("at"); // share of the questions a whole read asks
        for (const double at : { 0.02, 0.25, 0.5, 0.75 })
            QTest::newRow(qPrintable(QStringLiteral("%1 of the way").arg(at))) << at;
    }

    void stopsWithinASecondAtAnyStage()
    {
        QFETCH(double, at);
        static const QImage strip = [] {
            QList<Drawn> entries;
            for (int y = 30; y < 4000; y += 50)
                entries << Drawn { QStringLiteral("Entry %1 of the list").arg(y / 50), { 10, y } };
            return page({ 300, 4000 }, white, {}, entries);
        }();
        // The questions a whole read asks, and how long it takes on this machine now.
        static const std::pair<qint64, qint64> whole = [] {
            qint64 count = 0;
            QElapsedTimer reading;
            reading.start();
            OCRService::recognize(strip, [&count] { return ++count < 0; });
            return std::pair { count, reading.elapsed() };
        }();
        const auto [asked, wholeReadMs] = whole;
        qint64 count = 0;
        QElapsedTimer sinceStop;
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, OCRService::recognize(strip, [&] {
            if (++count < at * double(asked))
                return false;
            if (!sinceStop.isValid())
                sinceStop.start();
            return true;
        }));
        // A read that ran on to the end would take a quarter of the whole read or more from here.
        const qint64 limitMs = std::max<qint64>(1000, wholeReadMs / 5);
        QVERIFY2(sinceStop.elapsed() < limitMs,
            qPrintable(QStringLiteral("%1 ms (limit %2)").arg(sinceStop.elapsed()).arg(limitMs)));
    }

    // Many callers at once: each gets the text of its own image.
    void concurrentBurst()
    {
        const QStringList names { "Amber", "Basil", "Cedar", "Delta", "Ember", "Fable", "Grove", "Harbor" };
        QObject owner;
        OCRService service;
        QList<Task<OCRResult>> tasks;
        QStringList expected;
        for (qsizetype i = 0; i < names.size(); ++i) {
            expected << QStringLiteral("%1 account %2").arg(names[i]).arg(1000 + i * 37);
            const QImage image = lines({ expected.back() }, "DejaVu Sans", 14, i % 2 == 1);
            tasks << Task<OCRResult>::spawn(&owner,
                [&service, image]() -> Task<OCRResult> { co_return co_await service.recognizeText(image); });
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(tasks.begin(), tasks.end(), [](const auto &t) { return t.isFinished(); }), 120000);
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(tasks[i].result().text, expected[i]);
    }

    // Without language data the engine cannot start: a clear error, not an empty result.
    void missingLanguageData()
    {
        QTemporaryDir empty;
        const QByteArray previous = qgetenv("TESSDATA_PREFIX");
        qputenv("TESSDATA_PREFIX", empty.path().toUtf8());
        QString error;
        // A thread of its own, so its engine is loaded now, under this setting.
        std::thread reader([&] {
            try {
                OCRService::recognize(lines({ "Hello world" }, "DejaVu Sans", 14, false));
            } catch (const OCRError &e) {
                error = QString::fromUtf8(e.what());
            }
        });
        reader.join();
        if (previous.isNull())
            qunsetenv("TESSDATA_PREFIX");
        else
            qputenv("TESSDATA_PREFIX", previous);
        QCOMPARE(error, QString("The text recognition engine could not load its English language data."));
    }
};

QTEST_MAIN(TestOCRService)
#include "tst_OCRService.moc"
