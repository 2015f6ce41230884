// Text recognition on rendered screen text: words, boxes, empty images, themes, sizes, columns
// and many callers at once.

#include "Capture/OCRService.h"
#include "Platform/TesseractEngine.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <numeric>
#include <thread>

namespace {

struct Rendered
{
    QImage image;
    QList<QRect> lineRects; // where each line's ink lies, in pixels
};

Rendered render(const QStringList &lines, const QString &family, int pixelSize, bool dark, int columns = 1)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    const int lineHeight = metrics.height() * 3 / 2;
    const int perColumn = int((lines.size() + columns - 1) / columns);
    int columnWidth = 0;
    for (const QString &line : lines)
        columnWidth = std::max(columnWidth, metrics.horizontalAdvance(line));
    const int gap = pixelSize * 6;
    Rendered result;
    result.image = QImage(columns * columnWidth + (columns - 1) * gap + 2 * pixelSize,
        perColumn * lineHeight + pixelSize, QImage::Format_ARGB32_Premultiplied);
    result.image.fill(dark ? QColor(0x23, 0x25, 0x2b) : QColor(0xfa, 0xfa, 0xfa));
    QPainter painter(&result.image);
    painter.setFont(font);
    painter.setPen(dark ? QColor(0xdd, 0xdd, 0xdd) : QColor(0x1f, 0x1f, 0x1f));
    for (int i = 0; i < lines.size(); ++i) {
        const int column = i / perColumn;
        const int x = pixelSize + column * (columnWidth + gap);
        const int baseline = pixelSize / 2 + (i % perColumn) * lineHeight + metrics.ascent();
        painter.drawText(x, baseline, lines[i]);
        result.lineRects << metrics.tightBoundingRect(lines[i]).translated(x, baseline);
    }
    return result;
}

// Text drawn at set places, some of it on filled panels, as a page or dialog would show it.
struct Drawn
{
    QString text;
    QPoint at; // left end of the baseline
    QColor colour;
    int pixelSize = 13;
};
struct Panel
{
    QRect rect;
    QColor colour;
};

QImage page(QSize size, QColor ground, const QList<Panel> &panels, const QList<Drawn> &texts)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(ground);
    QPainter painter(&image);
    for (const Panel &panel : panels)
        painter.fillRect(panel.rect, panel.colour);
    for (const Drawn &drawn : texts) {
        QFont font("DejaVu Sans");
        font.setPixelSize(drawn.pixelSize);
        painter.setFont(font);
        painter.setPen(drawn.colour);
        painter.drawText(drawn.at, drawn.text);
    }
    return image;
}

// A table drawn as a grid: cells `padding` pixels from rules of `thickness`, in `rule`'s colour;
// `header` fills the first row.
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
    QFont font(grid.family);
    font.setPixelSize(grid.pixelSize);
    const QFontMetrics metrics(font);
    QList<int> widths(rows.front().size(), 0);
    for (const QStringList &row : rows) {
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c]
                = std::max(widths[c], metrics.horizontalAdvance(row[c]) + 2 * grid.padding + grid.thickness);
    }
    const int rowHeight = metrics.height() + 2 * grid.padding + grid.thickness;
    const int width = std::accumulate(widths.begin(), widths.end(), 0);
    QImage image(width + 20 + grid.thickness, int(rows.size()) * rowHeight + 20 + grid.thickness,
        QImage::Format_RGB32);
    image.fill(grid.dark ? QColor(0x1e, 0x1f, 0x24) : QColor(Qt::white));
    QPainter painter(&image);
    painter.setFont(font);
    painter.fillRect(10, 10, width, rowHeight, grid.header);
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const bool light = grid.dark || (r == 0 && grid.header.alpha() > 0);
        painter.setPen(light ? QColor(0xe0, 0xe0, 0xe0) : QColor(0x22, 0x22, 0x22));
        for (int c = 0, x = 10; c < rows[r].size(); x += widths[c++]) {
            painter.drawText(x + grid.thickness + grid.padding,
                10 + int(r) * rowHeight + grid.thickness + grid.padding + metrics.ascent(), rows[r][c]);
            painter.fillRect(x, 10, grid.thickness, int(rows.size()) * rowHeight + grid.thickness, grid.rule);
        }
        if (grid.horizontal)
            painter.fillRect(10, 10 + int(r) * rowHeight, width, grid.thickness, grid.rule);
    }
    painter.fillRect(
        10 + width, 10, grid.thickness, int(rows.size()) * rowHeight + grid.thickness, grid.rule);
    if (grid.horizontal)
        painter.fillRect(
            10, 10 + int(rows.size()) * rowHeight, width + grid.thickness, grid.thickness, grid.rule);
    return image;
}

QStringList wordsOf(const QString &text)
{
    return text.simplified().split(' ', Qt::SkipEmptyParts);
}

OCRResult await(OCRService &service, const QImage &image)
{
    Task<OCRResult> task = service.recognizeText(image);
    QElapsedTimer timer;
    timer.start();
    while (!task.isFinished() && timer.elapsed() < 60000)
        QTest::qWait(5);
    return task.result();
}

} // namespace

class TestOCRService : public QObject
{
    Q_OBJECT

private slots:
    void readsScreenText_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("dark");
        QTest::newRow("sans 11 light") << "DejaVu Sans" << 11 << false;
        QTest::newRow("sans 13 dark") << "DejaVu Sans" << 13 << true;
        QTest::newRow("serif 16 light") << "DejaVu Serif" << 16 << false;
        QTest::newRow("mono 12 dark") << "DejaVu Sans Mono" << 12 << true;
        QTest::newRow("sans 32 light, not enlarged") << "DejaVu Sans" << 32 << false;
    }

    void readsScreenText()
    {
        QFETCH(QString, family);
        QFETCH(int, pixelSize);
        QFETCH(bool, dark);
        const QStringList lines { "Downloads folder is almost full", "Invoice 20417 was paid on Monday",
            "Keyboard shortcuts and gestures" };
        const Rendered page = render(lines, family, pixelSize, dark);
        OCRService service;
        const QSize drawnSize = page.image.size();
        const OCRResult result = await(service, page.image);
        // The caller's image is left as it was (its pixels are shared with the worker).
        QCOMPARE(page.image.size(), drawnSize);
        QCOMPARE(result.languages, QStringList { "en" });
        QVERIFY2(wordsOf(result.text) == wordsOf(lines.join(' ')), qPrintable(result.text));
        QCOMPARE(result.text.count('\n'), 2);
        QVERIFY(!result.isLowConfidence());
        QCOMPARE(result.observations.size(), 3);
        // Each box covers its line: normalized, origin at the bottom-left.
        const double w = page.image.width();
        const double h = page.image.height();
        for (int i = 0; i < 3; ++i) {
            const QRectF box = result.observations[i].boundingBox;
            QVERIFY(box.left() >= 0 && box.right() <= 1 && box.top() >= 0 && box.bottom() <= 1);
            const QRectF inPixels(box.left() * w, (1 - box.bottom()) * h, box.width() * w, box.height() * h);
            const QRectF drawn = page.lineRects[i];
            const double slack = pixelSize * 0.5;
            const auto describe = [](const QRectF &r) {
                return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
            };
            QVERIFY2(inPixels.adjusted(-slack, -slack, slack, slack).contains(drawn),
                qPrintable(QStringLiteral("line %1 read at %2, drawn at %3")
                               .arg(i)
                               .arg(describe(inPixels), describe(drawn))));
            QVERIFY(result.observations[i].confidence > 0.5 && result.observations[i].confidence <= 1.0);
        }
    }

    void nothingToRead_data()
    {
        QTest::addColumn<QImage>("image");
        QImage white(400, 200, QImage::Format_RGB32);
        white.fill(Qt::white);
        QImage dark(300, 120, QImage::Format_RGB32);
        dark.fill(QColor(0x20, 0x20, 0x20));
        QImage clear(50, 50, QImage::Format_ARGB32_Premultiplied);
        clear.fill(Qt::transparent);
        QImage rule(300, 60, QImage::Format_RGB32);
        rule.fill(Qt::white);
        QPainter(&rule).fillRect(0, 29, 300, 2, Qt::black);
        QTest::newRow("null") << QImage();
        QTest::newRow("white") << white;
        QTest::newRow("dark") << dark;
        QTest::newRow("transparent") << clear;
        QTest::newRow("a horizontal rule") << rule;
        QTest::newRow("one pixel") << white.copy(0, 0, 1, 1);
        QImage bar(300, 80, QImage::Format_RGB32);
        bar.fill(Qt::white);
        QPainter(&bar).fillRect(20, 20, 200, 30, QColor(0x2e, 0x7d, 0x32));
        QTest::newRow("an empty dark bar") << bar;
    }

    void nothingToRead()
    {
        QFETCH(QImage, image);
        OCRService service;
        const OCRResult result = await(service, image);
        QVERIFY(result.observations.isEmpty());
        QVERIFY(result.text.isEmpty());
        QVERIFY(result.isLowConfidence());
        QVERIFY(result.languages.isEmpty());
    }

    // Layouts of real screens: each must give all of its words, in reading order.
    void readsLayouts_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("wholeLine"); // a line the text must hold exactly, if any
        const QColor ink(0x22, 0x22, 0x22);
        const QColor white(Qt::white);

        // Two columns of running text a little more than a letter apart, under a heading that
        // spans both: the engine's lines must not run across the gutter.
        const QStringList left { "Tomorrow the library opens an hour", "earlier so that students can use",
            "the reading rooms before classes." };
        const QStringList right { "The cafeteria moves to the second", "floor while the kitchen is rebuilt",
            "over the course of the summer." };
        QList<Drawn> columns { { "Campus news for the week of the ninth of June", { 12, 24 }, ink } };
        for (int i = 0; i < 3; ++i) {
            columns << Drawn { left[i], { 12, 60 + 20 * i }, ink };
            columns << Drawn { right[i], { 12 + 250, 60 + 20 * i }, ink };
        }
        QTest::newRow("two columns under a heading")
            << page({ 500, 130 }, white, {}, columns)
            << "Campus news for the week of the ninth of June " + left.join(' ') + " " + right.join(' ')
            << QString();

        // A dark banner and a dark button inside a light dialog: light text on them is read too.
        QTest::newRow("light text on dark panels")
            << page({ 420, 150 }, white,
                   { { QRect(10, 10, 400, 50), QColor(0x15, 0x65, 0xc0) },
                       { QRect(250, 100, 120, 30), QColor(0x2e, 0x7d, 0x32) } },
                   { { "Backup finished without errors", { 24, 40 }, white },
                       { "Keep both copies?", { 20, 120 }, ink }, { "Replace", { 282, 120 }, white } })
            << "Backup finished without errors Keep both copies? Replace" << QString();

        // A large heading over body text and a small note: each size is read.
        QTest::newRow("mixed sizes") << page({ 520, 130 }, white, {},
            { { "Quarterly results", { 12, 46 }, ink, 36 },
                { "Revenue grew in every region this spring", { 12, 80 }, ink, 15 },
                { "Figures updated on the first of July", { 12, 104 }, QColor(0x66, 0x66, 0x66), 10 } })
                                     << "Quarterly results Revenue grew in every region this spring Figures "
                                        "updated on the first of July"
                                     << QString();

        // Code: a line with a closing brace alone is part of the text.
        QList<Drawn> code;
        const QStringList source { "while (queue.size() > 0) {", "    handle(queue.pop());", "}",
            "return done;" };
        for (int i = 0; i < source.size(); ++i)
            code << Drawn { source[i], { 12, 24 + 22 * i }, ink, 13 };
        QTest::newRow("code with a closing brace")
            << page({ 320, 110 }, QColor(0xf6, 0xf6, 0xf6), {}, code) << source.join(' ') << "}";

        // Faint grey text on a dark grey ground.
        QTest::newRow("grey on dark grey")
            << page({ 380, 70 }, QColor(0x2b, 0x2b, 0x2b), {},
                   { { "Last synchronised four minutes ago", { 12, 26 }, QColor(0x7a, 0x7a, 0x7a) },
                       { "Nothing is waiting to upload", { 12, 50 }, QColor(0x7a, 0x7a, 0x7a) } })
            << "Last synchronised four minutes ago Nothing is waiting to upload" << QString();

        // Ruled tables read like unruled ones, row by row: beside rules the engine dropped
        // whole columns.
        const QList<QStringList> files { { "Name", "Owner", "Modified", "Status" },
            { "summary.odt", "Maria", "Today", "Shared" }, { "holiday.png", "Peter", "Yesterday", "Private" },
            { "accounts.csv", "Erik", "Monday", "Locked" }, { "minutes.txt", "Anna", "Friday", "Draft" } };
        QString table;
        for (const QStringList &row : files)
            table += row.join(' ') + ' ';
        const QList<std::pair<const char *, Grid>> grids {
            { "grid, grey rules", { "DejaVu Sans", 13, false, QColor(0x99, 0x99, 0x99), 1, true, 4 } },
            { "grid, tight cells", { "DejaVu Sans", 12, false, Qt::black, 1, true, 2 } },
            { "grid, dark, light rules", { "DejaVu Serif", 15, true, QColor(0xaa, 0xaa, 0xaa), 2, true, 4 } },
            { "vertical rules only",
                { "DejaVu Sans Condensed", 13, false, QColor(0x1e, 0x88, 0xe5), 1, false, 2 } },
            { "grid, HiDPI", { "DejaVu Sans", 26, false, QColor(0x55, 0x55, 0x55), 2, true, 8 } },
            { "grid under a dark header row",
                { "DejaVu Sans", 14, false, QColor(0x99, 0x99, 0x99), 1, false, 8,
                    QColor(0x2b, 0x57, 0x9a) } },
        };
        for (const auto &[name, grid] : grids)
            QTest::newRow(name) << ruledTable(files, grid) << table << QString();
    }

    void readsLayouts()
    {
        QFETCH(QImage, image);
        QFETCH(QString, expected);
        QFETCH(QString, wholeLine);
        OCRService service;
        const OCRResult result = await(service, image);
        if (!wholeLine.isEmpty())
            QVERIFY2(result.text.split('\n').contains(wholeLine), qPrintable(result.text));
        // Marks at a word's ends may be misread; the words themselves and their order may not.
        const auto bare = [](const QString &text) {
            QStringList words;
            for (QString word : wordsOf(text)) {
                while (!word.isEmpty() && !word.front().isLetterOrNumber())
                    word.remove(0, 1);
                while (!word.isEmpty() && !word.back().isLetterOrNumber())
                    word.chop(1);
                if (!word.isEmpty())
                    words << word;
            }
            return words;
        };
        QVERIFY2(bare(result.text) == bare(expected), qPrintable(result.text));
        QVERIFY(!result.isLowConfidence());
    }

    // Columns side by side are read each on its own, then laid out line by line.
    void readsColumns()
    {
        const QStringList lines { "Inbox", "Drafts", "Archive", "Lunch on Friday", "Quarterly report",
            "Flight 442 booked" };
        const Rendered page = render(lines, "DejaVu Sans", 13, false, 2);
        OCRService service;
        const OCRResult result = await(service, page.image);
        QCOMPARE(result.text,
            QString("Inbox Lunch on Friday\nDrafts Quarterly report\nArchive Flight 442 booked"));
    }

    // Many callers at once: each gets the text of its own image.
    void concurrentBurst()
    {
        const QStringList names { "Amber", "Basil", "Cedar", "Delta", "Ember", "Fable", "Grove", "Harbor" };
        QObject owner;
        OCRService service;
        QList<Task<OCRResult>> tasks;
        QList<QString> results(names.size());
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QImage image = render({ QStringLiteral("%1 account %2").arg(names[i]).arg(1000 + i * 37) },
                "DejaVu Sans", 14, i % 2 == 1)
                                     .image;
            tasks << Task<OCRResult>::spawn(&owner,
                [&service, image]() -> Task<OCRResult> { co_return co_await service.recognizeText(image); });
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(tasks.begin(), tasks.end(), [](const auto &t) { return t.isFinished(); }), 120000);
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(
                tasks[i].result().text, QStringLiteral("%1 account %2").arg(names[i]).arg(1000 + i * 37));
    }

    // Past the engine's 16-bit coordinates: a tall strip is read in pieces, a line too wide for it
    // fails. Both came back as an empty success.
    void beyondTheEngine_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("lines");
        QTest::newRow("300 x 20000 reads every line") << QSize(300, 20000) << 400;
        QTest::newRow("a line 33000 wide fails") << QSize(33000, 40) << 1;
    }

    void beyondTheEngine()
    {
        QFETCH(QSize, size);
        QFETCH(int, lines);
        QStringList drawn;
        for (int i = 0; i < lines; ++i)
            drawn << QStringLiteral("Entry %1 of the list").arg(i);
        if (size.width() > size.height())
            drawn = { QString("rows and columns ").repeated(size.width() / 110) };
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        QFont font("DejaVu Sans");
        font.setPixelSize(13);
        painter.setFont(font);
        for (int i = 0; i < drawn.size(); ++i)
            painter.drawText(10, 30 + i * 50, drawn[i]);
        painter.end();
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

    void stopsWithinASecond()
    {
        QFETCH(QString, how);
        QImage page(2400, 2400, QImage::Format_Grayscale8);
        page.fill(Qt::white);
        QPainter painter(&page);
        QFont font("DejaVu Sans");
        font.setPixelSize(11);
        painter.setFont(font);
        for (int y = 20; y < page.height(); y += 16)
            painter.drawText(10, y, QString("Words upon words fill this page %1 ").arg(y).repeated(20));
        painter.end();
        QElapsedTimer sinceStop;
        if (how == "engine") {
            // The engine alone, on a worker as the service runs it: asked once, it lets go.
            const auto read = QtConcurrent::run(OCRService::workers(), [&] {
                return TesseractEngine::forCurrentThread().read(page, 96, [&] {
                    if (!sinceStop.isValid())
                        sinceStop.start();
                    return true;
                });
            });
            QTRY_VERIFY_WITH_TIMEOUT(read.isFinished(), 60000);
            QVERIFY(!read.result());
            QVERIFY2(sinceStop.elapsed() < 1000, qPrintable(QString::number(sinceStop.elapsed())));
            return;
        }
        auto service = std::make_unique<OCRService>();
        Task<OCRResult> task = service->recognizeText(page);
        QTRY_VERIFY(OCRService::workers()->activeThreadCount() > 0);
        sinceStop.start();
        if (how == "cancel")
            task.cancel();
        else
            service.reset();
        QTRY_VERIFY_WITH_TIMEOUT(task.isFinished() && OCRService::workers()->activeThreadCount() == 0, 1000);
        QVERIFY_THROWS_EXCEPTION(TaskCancelled, task.result());
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
                OCRService::recognize(render({ "Hello world" }, "DejaVu Sans", 14, false).image);
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
