// The page analysis on drawn pages, without the engine: the lines it finds, the columns and table
// cells it cuts, the rules and frames it paints out, and the glyphs it must leave as they are.

#include "Capture/PageAnalysis.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>

namespace {

const QColor ink(0x22, 0x22, 0x22);

struct Drawn
{
    QString text;
    QPoint at; // left end of the baseline
    int pixelSize = 13;
    QString family = "DejaVu Sans";
    QColor colour = ink;
};

QFont fontOf(const QString &family, int pixelSize)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

QImage page(QSize size, QColor ground, const QList<std::pair<QRect, QColor>> &fills,
    const QList<Drawn> &texts, int radius = 0)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const auto &[rect, colour] : fills) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawRoundedRect(rect, radius, radius);
    }
    for (const Drawn &drawn : texts) {
        painter.setFont(fontOf(drawn.family, drawn.pixelSize));
        painter.setPen(drawn.colour);
        painter.drawText(drawn.at, drawn.text);
    }
    return image;
}

// Where `drawn` puts ink, as a box in the page's pixels.
QRect inkOf(const Drawn &drawn)
{
    return QFontMetrics(fontOf(drawn.family, drawn.pixelSize))
        .tightBoundingRect(drawn.text)
        .translated(drawn.at);
}

// The dark pixels of the analysed page inside `box`.
int darkIn(const PageAnalysis &analysis, QRect box)
{
    int dark = 0;
    const QImage &gray = analysis.gray();
    for (int y = std::max(0, box.top()); y <= std::min(gray.height() - 1, box.bottom()); ++y) {
        for (int x = std::max(0, box.left()); x <= std::min(gray.width() - 1, box.right()); ++x)
            dark += gray.pixelColor(x, y).value() < analysis.ground() - 60;
    }
    return dark;
}

// A table with the given rules: `columns` columns of `rows` rows, cells `pitch` pixels apart.
QImage table(const QList<QStringList> &cells, bool vertical, bool horizontal, QList<Drawn> *texts)
{
    const int rowHeight = 26;
    const QList<int> lefts { 10, 130, 230, 330 };
    QList<std::pair<QRect, QColor>> rules;
    const QColor rule(0x99, 0x99, 0x99);
    for (qsizetype r = 0; r < cells.size(); ++r) {
        for (qsizetype c = 0; c < cells[r].size(); ++c)
            *texts << Drawn { cells[r][c], { lefts[c] + 8, 10 + int(r) * rowHeight + 18 } };
        if (horizontal)
            rules << std::pair { QRect(10, 10 + int(r) * rowHeight, 320, 1), rule };
    }
    if (horizontal)
        rules << std::pair { QRect(10, 10 + int(cells.size()) * rowHeight, 320, 1), rule };
    for (int c = 0; vertical && c < lefts.size(); ++c)
        rules << std::pair { QRect(lefts[c], 10, 1, int(cells.size()) * rowHeight), rule };
    return page({ 350, int(cells.size()) * rowHeight + 20 }, Qt::white, rules, *texts);
}

} // namespace

class TestPageAnalysis : public QObject
{
    Q_OBJECT

private slots:
    // Lines one under the other, of one size or of several: one line each, covering its letters.
    void findsLines_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QList<QRect>>("lines");
        const QList<std::tuple<const char *, QList<Drawn>>> pages {
            { "three lines, 13 px",
                { { "Downloads folder is almost full", { 10, 24 } }, { "Invoice 20417 was paid", { 10, 46 } },
                    { "Keyboard shortcuts", { 10, 68 } } } },
            { "heading over body text and a small note",
                { { "Quarterly results", { 10, 40 }, 32 }, { "Revenue grew in every region", { 10, 70 }, 14 },
                    { "Updated on the first of July", { 10, 90 }, 10 } } },
            { "9 px interface text",
                { { "Ln 214, Col 37", { 6, 14 }, 9 }, { "Spaces: 4  UTF-8  LF", { 6, 28 }, 9 } } },
        };
        for (const auto &[name, drawn] : pages) {
            QList<QRect> boxes;
            for (const Drawn &d : drawn)
                boxes << inkOf(d);
            QTest::newRow(name) << page({ 420, 110 }, Qt::white, {}, drawn) << boxes;
        }
    }

    void findsLines()
    {
        QFETCH(QImage, image);
        QFETCH(QList<QRect>, lines);
        const PageAnalysis analysis(image);
        const std::vector<PageAnalysis::Band> bands = analysis.linesIn(analysis.gray().rect());
        QCOMPARE(qsizetype(bands.size()), lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const PageAnalysis::Band &band = bands[std::size_t(i)];
            // The band spans the line's letters, give or take a pixel of anti-aliasing.
            QVERIFY2(band.top <= lines[i].top() + 1 && band.bottom >= lines[i].bottom(),
                qPrintable(QString::number(i)));
            QVERIFY(band.ink.front().first <= lines[i].left() + 1
                && band.ink.back().second >= lines[i].right() - 1);
        }
    }

    // Columns side by side are read one by one: the page is cut between them, not across a line.
    void cutsColumns_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<int>("cut"); // between the columns, in pixels
        QList<Drawn> two;
        for (int i = 0; i < 4; ++i)
            two << Drawn { QStringLiteral("entry %1 of the left list").arg(i), { 10, 24 + 20 * i } }
                << Drawn { QStringLiteral("right column line %1").arg(i), { 260, 24 + 20 * i } };
        QTest::newRow("two columns") << page({ 440, 110 }, Qt::white, {}, two) << 230;
        QList<Drawn> form;
        const QStringList labels { "Name", "Owner", "Due date" };
        const QStringList values { "Quarterly report", "Maria Lopez", "12 March 2024" };
        for (int i = 0; i < 3; ++i)
            form << Drawn { labels[i], { 10, 24 + 22 * i } } << Drawn { values[i], { 160, 24 + 22 * i } };
        QTest::newRow("a form's labels and values") << page({ 320, 96 }, Qt::white, {}, form) << 120;
    }

    void cutsColumns()
    {
        QFETCH(QImage, image);
        QFETCH(int, cut);
        const PageAnalysis analysis(image);
        QCOMPARE(analysis.runs().size(), std::size_t(1));
        const PageAnalysis::Run &run = analysis.runs().front();
        QCOMPARE(run.cuts.size(), std::size_t(1));
        QVERIFY2(std::abs(run.cuts.front() - cut) <= 40, qPrintable(QString::number(run.cuts.front())));
        // Each column is a block of its own, and no block reaches across the cut.
        QCOMPARE(analysis.blocks().size(), std::size_t(2));
        for (const QRect &block : analysis.blocks())
            QVERIFY(block.right() < run.cuts.front() || block.left() >= run.cuts.front());
    }

    // Ruled tables: the rules are painted out and kept as separators, the cells' letters stay, and
    // the table is cut into its columns.
    void tables_data()
    {
        QTest::addColumn<bool>("vertical");
        QTest::addColumn<bool>("horizontal");
        QTest::newRow("grid") << true << true;
        QTest::newRow("vertical rules") << true << false;
        QTest::newRow("horizontal rules") << false << true;
    }

    void tables()
    {
        QFETCH(bool, vertical);
        QFETCH(bool, horizontal);
        const QList<QStringList> cells { { "Item", "Owner", "Amount" }, { "Apples", "Maria", "-71.2" },
            { "Coffee", "Jonas", "48.00" }, { "Paper", "Erik", "-4.1" } };
        QList<Drawn> texts;
        const QImage image = table(cells, vertical, horizontal, &texts);
        const PageAnalysis analysis(image);
        int verticals = 0;
        int horizontals = 0;
        for (const PageAnalysis::Separator &separator : analysis.separators())
            (separator.horizontal ? horizontals : verticals) += 1;
        QVERIFY2(vertical ? verticals >= 4 : verticals == 0, qPrintable(QString::number(verticals)));
        QVERIFY2(horizontal ? horizontals >= 5 : horizontals == 0, qPrintable(QString::number(horizontals)));
        // Painted out: no ink left on the rules' rows and columns between the cells.
        if (vertical)
            QCOMPARE(darkIn(analysis, QRect(130, 10, 1, 100)), 0);
        if (horizontal)
            QCOMPARE(darkIn(analysis, QRect(10, 36, 320, 1)), 0);
        for (const Drawn &drawn : texts)
            QVERIFY2(darkIn(analysis, inkOf(drawn)) > 0, qPrintable(drawn.text));
        QCOMPARE(analysis.runs().size(), std::size_t(1));
        QCOMPARE(analysis.runs().front().cuts.size(), std::size_t(2));
    }

    // Chips and tinted panels: their own ground becomes the page's, their text stays dark. The
    // engine read each such chip as one dark blob.
    void flattensChips_data()
    {
        QTest::addColumn<QColor>("ground");
        QTest::addColumn<QColor>("chip");
        QTest::addColumn<QColor>("text");
        QTest::newRow("light chip") << QColor(Qt::white) << QColor(0xdb, 0xea, 0xfe)
                                    << QColor(0x1e, 0x40, 0xaf);
        QTest::newRow("dark theme") << QColor(0x11, 0x18, 0x27) << QColor(0x37, 0x41, 0x51)
                                    << QColor(0xe5, 0xe7, 0xeb);
    }

    void flattensChips()
    {
        QFETCH(QColor, ground);
        QFETCH(QColor, chip);
        QFETCH(QColor, text);
        const Drawn tag { "needs-review", { 20, 31 }, 13, "DejaVu Sans", text };
        const QImage image = page({ 200, 50 }, ground, { { QRect(12, 16, 112, 22), chip } }, { tag }, 11);
        const PageAnalysis analysis(image);
        const QImage &gray = analysis.gray();
        // Beside the letters, inside the chip: as light as the page around it.
        for (const QPoint at : { QPoint(16, 27), QPoint(118, 27), QPoint(60, 18) })
            QVERIFY2(std::abs(gray.pixelColor(at).value() - analysis.ground()) <= 8,
                qPrintable(QString::number(gray.pixelColor(at).value())));
        QVERIFY(darkIn(analysis, inkOf(tag)) > 20);
    }

    // A page whose most common brightness is black though most of it is light (a black frame
    // beside a gradient) is analysed without reading outside its measures: the panels below a
    // ground that dark were searched from before the start of the histogram.
    void blackGround()
    {
        QImage image(400, 100, QImage::Format_RGB32);
        image.fill(Qt::black);
        for (int x = 180; x < 400; ++x) {
            for (int y = 0; y < 100; ++y)
                image.setPixelColor(x, y, QColor::fromHsv(0, 0, 130 + (x - 180) * 125 / 220));
        }
        const PageAnalysis analysis(image);
        QCOMPARE(analysis.ground(), 0);
        QCOMPARE(analysis.gray().size(), image.size());
    }

    // Circles of radio buttons, a switch, a combo box's arrow and an avatar are painted out; the
    // letters beside them, an "O" and an "@" among them, stay.
    void paintsOutShapes()
    {
        QImage image(320, 130, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x35, 0x84, 0xe4), 2));
        painter.drawEllipse(QPointF(20, 20), 8, 8);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x35, 0x84, 0xe4));
        painter.drawRoundedRect(QRectF(6, 40, 44, 24), 12, 12);
        painter.setBrush(QColor(0x2e, 0x34, 0x36));
        painter.drawPolygon(QPolygonF { QPointF(14, 80), QPointF(26, 80), QPointF(20, 86) });
        painter.setBrush(QColor(0xc0, 0x56, 0x21));
        painter.drawEllipse(QPointF(22, 110), 16, 16);
        const QList<Drawn> labels { { "Only once", { 60, 25 } }, { "Sync over mobile data", { 60, 57 } },
            { "Medium", { 60, 88 } }, { "maria@example.org", { 60, 115 } } };
        for (const Drawn &drawn : labels) {
            painter.setPen(ink);
            painter.setFont(fontOf(drawn.family, drawn.pixelSize));
            painter.drawText(drawn.at, drawn.text);
        }
        painter.end();
        const PageAnalysis analysis(image);
        for (const QRect &shape :
            { QRect(10, 10, 21, 21), QRect(6, 40, 44, 24), QRect(14, 80, 12, 6), QRect(6, 94, 32, 32) })
            QCOMPARE(darkIn(analysis, shape), 0);
        for (const Drawn &drawn : labels) {
            const QRect box = inkOf(drawn);
            QVERIFY2(darkIn(analysis, box) * 10
                    >= darkIn(PageAnalysis(page(image.size(), Qt::white, {}, { drawn })), box) * 9,
                qPrintable(drawn.text));
        }
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestPageAnalysis test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_PageAnalysis.moc"
