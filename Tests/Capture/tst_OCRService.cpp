// Text recognition on rendered screen text: words, boxes, empty images, themes, sizes, columns
// and many callers at once.

#include "Capture/OCRService.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

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
