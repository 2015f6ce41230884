#include "Rules/AudioSessionTitle.h"
#include "Rules/OCRLayout.h"
#include "Rules/ScrollingCapture.h"

#include <QTest>

#include <limits>

namespace {

// A word with its box given top-down as on screen (rows from the top of a 1x1 image), turned into the
// normalized bottom-left box recognition hands over.
CaptureTextObservation word(
    const QString &text, double left, double top, double width, double height, double confidence = 0.9)
{
    return CaptureTextObservation { text, QRectF(left, 1.0 - top - height, width, height), confidence };
}

QList<CaptureTextObservation> withConfidences(const QList<double> &confidences)
{
    QList<CaptureTextObservation> list;
    for (double c : confidences)
        list.append(word("w", 0, 0, 0.1, 0.1, c));
    return list;
}

constexpr int width = 400;

// A line as recognition reports it for a segment of the given size: pixel columns and rows (rows from
// the segment's top) turned into a box normalized with its origin at the bottom-left.
CaptureTextObservation line(const QString &text, QSize segment, double left, double top, double right,
    double bottom, double confidence)
{
    const double w = segment.width(), h = segment.height();
    return CaptureTextObservation { text,
        QRectF(left / w, 1.0 - bottom / h, (right - left) / w, (bottom - top) / h), confidence };
}

} // namespace

Q_DECLARE_METATYPE(CaptureTextObservation)

class TestOCRLayout : public QObject
{
    Q_OBJECT

private slots:
    // Trimmed, lower-cased, empty entries and later duplicates dropped, inner spaces kept.
    void parseTags()
    {
        QCOMPARE(OCRLayout::parseTags(" , ,\n,"), QStringList());
        QCOMPARE(OCRLayout::parseTags("Work, ideas ,work,, IDEAS\n,\tNotes\r\n"),
            (QStringList { "work", "ideas", "notes" }));
        QCOMPARE(OCRLayout::parseTags("New York, new  york"), (QStringList { "new york", "new  york" }));
        QCOMPARE(OCRLayout::parseTags("Ünïcode, ÜNÏCODE, Straße"), (QStringList { "ünïcode", "straße" }));
    }

    void defaultTitle_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QString &text, const QString &title) {
            QTest::newRow(name) << text << title;
        };
        const QString a79(79, QLatin1Char('a'));
        row("no letters or digits", "  \n---\n“ ”\n***", "Untitled capture");
        row("first line with a letter", "\n  ---  \n  Hello world  \nSecond", "Hello world");
        row("quotes trimmed at both ends", "  \"“Quoted title”\" ", "Quoted title");
        row("inner quotes kept", "‘It’s here’", "It’s here");
        row("digits count", "***\r\n42 items", "42 items");
        row("carriage return and line separator split", "==\rTitle\u2028next", "Title");
        row("cut to 80", a79 + "bcd", a79 + "b");
        row("non-latin letters", "  Привет мир", "Привет мир");
        // An emoji with a skin tone is one character, as is a letter with a combining accent.
        row("cut keeps whole characters", a79 + "👍🏽b", a79 + "👍🏽");
        row("combining accent kept whole", a79 + "e\u0301z", a79 + "e\u0301");
    }

    void defaultTitle()
    {
        QFETCH(QString, text);
        QTEST(OCRLayout::defaultTitle(text), "expected");
    }

    // A lone surrogate once stopped line splitting, and titles came out with line feeds in them.
    void titlesOfTextWithLoneSurrogates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        const QChar high(0xD83D), low(0xDE00);
        QTest::newRow("on a later line") << "Title\nsecond line\n" + QString(high) << QString("Title");
        QTest::newRow("low one in the title") << "Ti" + QString(low) + "tle\nnext" << QString("Ti\uFFFDtle");
        QTest::newRow("pair reversed") << QString(low) + high + "x\r\ny" << QString("\uFFFD\uFFFDx");
    }

    void titlesOfTextWithLoneSurrogates()
    {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QCOMPARE(OCRLayout::defaultTitle(text), title);
        QCOMPARE(AudioSessionTitle::firstSpokenLine(text), std::optional(title));
        const OCRResult result = OCRResult::fromObservations({ word(text, 0, 0, 0.5, 0.1) }, {});
        QVERIFY(result.text.isValidUtf16() && result.observations.first().text.isValidUtf16());
    }

    // Low below a mean confidence of one half; a confidence that is not a number counts as zero.
    void lowConfidence()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (const auto &[confidences, low] : std::initializer_list<std::pair<QList<double>, bool>> {
                 { {}, true }, { { 0.4, 0.6 }, false }, { { 0.49 }, true }, { { 0.1, 0.9, 0.9 }, false },
                 { { nan, 1.0 }, false }, { { nan }, true } }) {
            QCOMPARE(OCRLayout::isLowConfidence(withConfidences(confidences)), low);
            QCOMPARE(OCRResult::fromObservations(withConfidences(confidences), {}).isLowConfidence(), low);
        }
    }

    void readingOrder_data()
    {
        QTest::addColumn<QList<CaptureTextObservation>>("observations");
        QTest::addColumn<QString>("text");

        QTest::newRow("shuffled words of two lines") << QList<CaptureTextObservation> {
            word("line", 0.45, 0.32, 0.2, 0.1), word("world", 0.40, 0.11, 0.2, 0.1),
            word("Second", 0.10, 0.30, 0.3, 0.1), word("Hello", 0.10, 0.10, 0.25, 0.1)
        } << "Hello world\nSecond line";
        QTest::newRow("baseline drift stays on the line") << QList<CaptureTextObservation> {
            word("c", 0.6, 0.14, 0.1, 0.1), word("b", 0.3, 0.12, 0.1, 0.1), word("a", 0.0, 0.10, 0.1, 0.1)
        } << "a b c";
        QTest::newRow("taller word joins the line") << QList<CaptureTextObservation> {
            word("Big", 0.0, 0.05, 0.2, 0.2), word("small", 0.3, 0.12, 0.2, 0.08)
        } << "Big small";
        QTest::newRow("touching lines stay apart") << QList<CaptureTextObservation> {
            word("below", 0.0, 0.19, 0.3, 0.1), word("above", 0.1, 0.10, 0.3, 0.1)
        } << "above\nbelow";
        QTest::newRow("side by side columns share rows") << QList<CaptureTextObservation> {
            word("right2", 0.6, 0.30, 0.2, 0.1), word("left1", 0.0, 0.10, 0.2, 0.1),
            word("right1", 0.6, 0.10, 0.2, 0.1), word("left2", 0.0, 0.30, 0.2, 0.1)
        } << "left1 right1\nleft2 right2";
        QTest::newRow("blank words left out") << QList<CaptureTextObservation> {
            word("  ", 0.0, 0.1, 0.1, 0.1), word(" kept ", 0.2, 0.1, 0.1, 0.1), word("", 0.0, 0.5, 0.1, 0.1)
        } << "kept";
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("box that is not a number")
            << QList<CaptureTextObservation> { word("first", 0.0, 0.1, 0.1, 0.1),
                   CaptureTextObservation { "odd", QRectF(nan, nan, nan, nan), 0.5 },
                   word("second", 0.0, 0.3, 0.1, 0.1) }
            << "first\nsecond\nodd";
        QTest::newRow("nothing") << QList<CaptureTextObservation> {} << "";

        // Lines of several columns, boxes in pixels (x and y in one unit) as the recognizer hands them over
        // for a 1000 x 1000 region, top-down, 16 px tall: columns of running text (three words or more a
        // line) are read one after the other, rows of a table or form across.
        struct Line
        {
            const char *text;
            double left, top, width = 400;
        };
        const auto page = [](const char *name, std::initializer_list<Line> lines, const char *text) {
            QList<CaptureTextObservation> observations;
            for (const Line &l : lines)
                observations.append({ l.text, QRectF(l.left, 1000 - l.top - 16, l.width, 16), 0.9 });
            QTest::newRow(name) << observations << QString(text);
        };
        const char *twoColumns
            = "a1 on the left\na2 on the left\na3 on the left\nb1 on the right\nb2 on the right\n"
              "b3 on the right";
        page("prose columns, rows offset",
            { { "a1 on the left", 0, 100 }, { "b1 on the right", 440, 90 }, { "a2 on the left", 0, 124 },
                { "b2 on the right", 440, 114 }, { "a3 on the left", 0, 148 },
                { "b3 on the right", 440, 138 } },
            twoColumns);
        page("prose columns, rows aligned",
            { { "a1 on the left", 0, 100 }, { "b1 on the right", 440, 100 }, { "a2 on the left", 0, 124 },
                { "b2 on the right", 440, 124 }, { "a3 on the left", 0, 148 },
                { "b3 on the right", 440, 148, 380 } },
            twoColumns);
        page("heading across both columns, left column longer",
            { { "b1 on the right", 440, 100 }, { "Heading over both columns", 0, 50, 840 },
                { "a1 on the left", 0, 100 }, { "a2 on the left", 0, 124 }, { "b2 on the right", 440, 124 },
                { "a3 on the left", 0, 148 }, { "a4 on the left", 0, 172, 300 },
                { "Footer under both columns", 0, 240, 840 } },
            "Heading over both columns\na1 on the left\na2 on the left\na3 on the left\na4 on the left\n"
            "b1 on the right\nb2 on the right\nFooter under both columns");
        page("short heading, columns level below it",
            { { "Heading ends over the right", 0, 50, 600 }, { "a1 on the left", 0, 100 },
                { "b1 on the right", 440, 100, 300 }, { "a2 on the left", 0, 124 },
                { "b2 on the right", 440, 124 }, { "a3 on the left", 0, 148 },
                { "b3 on the right", 440, 148 } },
            "Heading ends over the right\na1 on the left\na2 on the left\na3 on the left\nb1 on the right\n"
            "b2 on the right\nb3 on the right");
        page("paragraphs of two lines side by side",
            { { "a1 on the left", 0, 100 }, { "b1 on the right", 440, 100 }, { "a2 short end", 0, 124, 150 },
                { "b2 short end", 440, 124, 150 }, { "a3 on the left", 0, 160 },
                { "b3 on the right", 440, 160 }, { "a4 short end", 0, 184, 140 },
                { "b4 short end", 440, 184, 140 } },
            "a1 on the left\na2 short end\na3 on the left\na4 short end\nb1 on the right\nb2 short end\n"
            "b3 on the right\nb4 short end");
        page("three prose columns",
            { { "c1 one two three", 600, 100, 260 }, { "b1 one two three", 300, 100, 260 },
                { "a1 one two three", 0, 100, 260 }, { "c2 one two three", 600, 124, 260 },
                { "b2 one two three", 300, 124, 260 }, { "a2 one two three", 0, 124, 260 },
                { "c3 one two three", 600, 148, 260 }, { "b3 one two three", 300, 148, 260 },
                { "a3 one two three", 0, 148, 260 } },
            "a1 one two three\na2 one two three\na3 one two three\nb1 one two three\nb2 one two three\n"
            "b3 one two three\nc1 one two three\nc2 one two three\nc3 one two three");
        page("table rows read across",
            { { "Size", 300, 100, 40 }, { "Name", 0, 100, 50 }, { "report.pdf", 0, 124, 90 },
                { "2.4 MB", 300, 124, 60 }, { "notes.txt", 0, 148, 80 }, { "14 KB", 300, 148, 50 } },
            "Name Size\nreport.pdf 2.4 MB\nnotes.txt 14 KB");
        // Rows of several words on each side of a gutter are no running text when their words are
        // names, numbers and dates: they were read as two columns, one after the other.
        page("table rows of dates and amounts, several words a side",
            { { "Qty City Total", 440, 100, 300 }, { "Due Date Status", 0, 100, 300 },
                { "2019-12-16 6 Jul 2020 Active", 0, 124, 330 }, { "750 Vienna 5,151.50 EUR", 440, 124, 320 },
                { "2021-09-28 10 Dec 2024 Paid", 0, 148, 330 },
                { "550 Lisbon 13,679.29 EUR", 440, 148, 330 } },
            "Due Date Status Qty City Total\n2019-12-16 6 Jul 2020 Active 750 Vienna 5,151.50 EUR\n"
            "2021-09-28 10 Dec 2024 Paid 550 Lisbon 13,679.29 EUR");
        page("table rows of capitalised names, several words a side",
            { { "Coffee Beans Jonas Lisbon", 0, 100, 330 }, { "Olive Oil Sofia Porto Open", 440, 100, 330 },
                { "Green Tea Maria Oslo", 0, 124, 300 }, { "Desk Lamp Erik Bergen Paid", 440, 124, 330 },
                { "Printer Paper Anna Dublin", 0, 148, 330 },
                { "Notebook Peter Vienna Draft", 440, 148, 330 } },
            "Coffee Beans Jonas Lisbon Olive Oil Sofia Porto Open\nGreen Tea Maria Oslo Desk Lamp Erik "
            "Bergen "
            "Paid\nPrinter Paper Anna Dublin Notebook Peter Vienna Draft");
        page("form labels beside long values",
            { { "Name", 0, 100, 60 }, { "The report for the board", 200, 100, 500 }, { "Owner", 0, 124, 60 },
                { "Someone in the finance team", 200, 124, 500 }, { "Due", 0, 148, 60 },
                { "Friday before the review", 200, 148, 500 } },
            "Name The report for the board\nOwner Someone in the finance team\nDue Friday before the review");
        page("indented code keeps its line order",
            { { "if (ready) {", 0, 100, 120 }, { "start(now);", 40, 124, 110 }, { "}", 0, 148, 8 },
                { "while (busy) {", 0, 172, 130 }, { "wait(1);", 40, 196, 80 }, { "}", 0, 220, 8 } },
            "if (ready) {\nstart(now);\n}\nwhile (busy) {\nwait(1);\n}");
        page("words with ordinary gaps stay one line",
            { { "Hello", 0, 100, 60 }, { "wide", 66, 100, 50 }, { "world", 122, 100, 60 },
                { "and", 0, 124, 40 }, { "more", 46, 124, 50 } },
            "Hello wide world\nand more");
    }

    void readingOrder()
    {
        QFETCH(QList<CaptureTextObservation>, observations);
        QFETCH(QString, text);
        QCOMPARE(OCRLayout::text(observations), text);

        const OCRResult result = OCRResult::fromObservations(observations, { "eng" });
        QCOMPARE(result.text, text);
        QCOMPARE(result.languages, QStringList { "eng" });
        QCOMPARE(result.observations.size(), observations.size());
        QStringList ordered;
        for (const auto &o : result.observations) {
            if (!o.text.trimmed().isEmpty())
                ordered << o.text.trimmed();
        }
        QCOMPARE(ordered.join(" "), QString(text).replace('\n', ' '));
    }

    // Two 300-row tiles; the second is recognized with the last 100 rows of the first stacked on top,
    // so its segment starts at document row 200. The first tile's bottom edge cuts "Gamma line".
    void seamCutLineKeptOnce()
    {
        ScrollingTextAccumulator accumulator;
        const QSize first(width, 300);
        accumulator.append(
            {
                line("Alpha line", first, 10, 20, 200, 40, 0.9),
                line("Beta line", first, 10, 120, 180, 140, 0.9),
                line("Delta line", first, 10, 230, 190, 250, 0.8),
                line("Gamma li", first, 10, 285, 150, 300, 0.95), // cut by the bottom edge
            },
            first, 0);

        const QSize joined(width, 400);
        accumulator.append(
            {
                line("Delta line", joined, 12, 30, 192, 50, 0.85), // seen again in the stacked strip
                line("Gamma line", joined, 10, 85, 190, 105, 0.7), // whole across the seam
                line("Epsilon line", joined, 10, 200, 210, 220, 0.9),
                line("Zeta", joined, 10, 385, 90, 400, 0.9), // cut by the new segment's bottom edge
            },
            joined, 200);

        QCOMPARE(accumulator.assembledText(),
            QString("Alpha line\nBeta line\nDelta line\nGamma line\nEpsilon "
                    "line\nZeta"));

        // The next segment starts at document row 410: its top edge cuts "Epsilon line", which is held
        // whole, so the cut copy goes even though it is more confident; "Zeta" is whole in it now.
        accumulator.append(
            {
                line("Epsilcn", joined, 10, 0, 150, 10, 0.99),
                line("Zeta line", joined, 10, 175, 150, 195, 0.6),
                line("Eta", joined, 10, 250, 60, 270, 0.9),
            },
            joined, 410);
        QCOMPARE(accumulator.assembledText(),
            QString("Alpha line\nBeta line\nDelta line\nGamma line\nEpsilon "
                    "line\nZeta line\nEta"));
    }

    // Two 300-row segments, the second from document row 200 (100 rows of the first stacked on top).
    // "Gamma line" (rows 293..313) is cut by the first segment's bottom edge; read there as a junk
    // piece whose box reaches well above it (so no duplicate of the whole line), the piece goes once
    // the second segment reads the line whole; likewise a junk piece of "Beta line" (rows 195..215)
    // at the second segment's top edge, wider than the line, which the first held whole. A piece
    // stays when the other segment cuts it too, or read nothing there.
    void seamPiecesSeenWholeGo_data()
    {
        QTest::addColumn<QList<CaptureTextObservation>>("first");
        QTest::addColumn<int>("secondTop");
        QTest::addColumn<QList<CaptureTextObservation>>("second");
        QTest::addColumn<QString>("text");
        const QSize s(width, 300);
        const auto beta = line("Beta line", s, 10, 195, 180, 215, 0.9);
        const auto cut = line("a Pa ~ w a a", s, 10, 262, 200, 300, 0.4);
        const auto gamma = line("Gamma line", s, 10, 93, 190, 113, 0.8);
        QTest::newRow("piece at the bottom edge, seen whole after")
            << QList { beta, cut } << 200 << QList { gamma } << "Beta line\nGamma line";
        QTest::newRow("piece at the top edge, seen whole before")
            << QList { beta } << 200 << QList { line("u w a", s, 150, 0, 390, 18, 0.5), gamma }
            << "Beta line\nGamma line";
        QTest::newRow("cut by both segments")
            << QList { beta, cut } << 290 << QList { line("mma li", s, 30, 0, 150, 20, 0.3) }
            << "Beta line\na Pa ~ w a a";
        QTest::newRow("nothing read where the piece was")
            << QList { beta, cut } << 200 << QList { line("Epsilon", s, 10, 200, 150, 220, 0.9) }
            << "Beta line\na Pa ~ w a a\nEpsilon";
    }
    void seamPiecesSeenWholeGo()
    {
        QFETCH(QList<CaptureTextObservation>, first);
        QFETCH(int, secondTop);
        QFETCH(QList<CaptureTextObservation>, second);
        QFETCH(QString, text);
        ScrollingTextAccumulator accumulator;
        accumulator.append(first, QSize(width, 300), 0);
        accumulator.append(second, QSize(width, 300), secondTop);
        QCOMPARE(accumulator.assembledText(), text);
    }

    // Held after the first segment: "Status: ready" at rows 100..120, columns 10..210, confidence 0.8,
    // away from the edges; the second segment starts at document row 100. A piece of a line never
    // replaces the line, however sure the engine is of it.
    void duplicateRules_data()
    {
        QTest::addColumn<QList<CaptureTextObservation>>("second");
        QTest::addColumn<QString>("text");
        const QSize s(width, 200);
        const auto row = [&](const char *name, const QList<CaptureTextObservation> &second,
                             const char *text) { QTest::newRow(name) << second << QString(text); };
        row("same box, more confident, replaces", { line("Status: readv", s, 12, 1.5, 212, 21.5, 0.95) },
            "Status: readv");
        row("same box, less confident, dropped", { line("Status: readv", s, 12, 1.5, 212, 21.5, 0.5) },
            "Status: ready");
        row("same text shifted sideways", { line("status:  READY", s, 250, 5, 390, 25, 0.5) },
            "Status: ready");
        row("same text on other rows is another line", { line("Status: ready", s, 10, 60, 210, 80, 0.9) },
            "Status: ready\nStatus: ready");
        row("small overlap is another line", { line("Next", s, 10, 15, 210, 35, 0.99) },
            "Status: ready\nNext");
        row("other column in the same rows", { line("Other", s, 250, 0, 390, 20, 0.99) },
            "Status: ready Other");
        row("a piece of the line, more confident, dropped", { line("ready", s, 140, 1, 210, 21, 0.99) },
            "Status: ready");
        row("the line in two pieces, one more confident",
            { line("Status:", s, 10, 1, 120, 21, 0.7), line("ready", s, 130, 1, 210, 21, 0.95) },
            "Status: ready");
        row("the line whole where it was held in part, less confident",
            { line("Status: ready now", s, 10, 1, 330, 21, 0.5) }, "Status: ready now");
    }

    void duplicateRules()
    {
        QFETCH(QList<CaptureTextObservation>, second);
        QFETCH(QString, text);
        ScrollingTextAccumulator accumulator;
        const QSize s(width, 200);
        accumulator.append({ line("Status: ready", s, 10, 100, 210, 120, 0.8) }, s, 0);
        accumulator.append(second, s, 100);
        QCOMPARE(accumulator.assembledText(), text);
    }

    void wholeLineReplacesCutPieces()
    {
        ScrollingTextAccumulator accumulator;
        const QSize s(width, 200);
        accumulator.append(
            { line("Gam", s, 10, 185, 60, 200, 0.9), line("ma line", s, 70, 186, 190, 200, 0.9) }, s, 0);
        QCOMPARE(accumulator.assembledText(), QString("Gam ma line"));
        accumulator.append({ line("Gamma line", s, 10, 85, 190, 105, 0.6) }, s, 100);
        QCOMPARE(accumulator.assembledText(), QString("Gamma line"));
    }

    // Lines of one segment never remove each other, even with equal texts.
    void repeatsWithinOneSegmentKept()
    {
        ScrollingTextAccumulator accumulator;
        const QSize s(width, 100);
        accumulator.append({ line("Yes", s, 10, 10, 50, 30, 0.9), line("Yes", s, 200, 10, 240, 30, 0.9),
                               line("Yes", s, 10, 40, 50, 60, 0.9) },
            s, 0);
        QCOMPARE(accumulator.assembledText(), QString("Yes Yes\nYes"));
    }

    // Boxes come back normalized to the whole document; a document without pixels keeps the text and
    // drops the geometry; a negative offset is the first row.
    void normalizedToTheDocument()
    {
        ScrollingTextAccumulator accumulator;
        QVERIFY(accumulator.isLowConfidence());
        const QSize s(width, 300);
        accumulator.append({ line("ghost", QSize(1, 1), 0, 0, 1, 1, 0.9) }, QSize(0, 300), 0);
        accumulator.append({ line("second", s, 10, 50, 110, 70, 0.75) }, s, 300);
        accumulator.append({ line("first", s, 100, 20, 300, 40, 0.25) }, s, -50);
        QCOMPARE(accumulator.assembledText(), QString("first\nsecond"));
        QVERIFY(!accumulator.isLowConfidence()); // mean 0.5
        const auto observations = accumulator.normalizedObservations(QSize(width, 600));
        QCOMPARE(observations.size(), 2);
        QCOMPARE(observations[0].confidence, 0.25);
        QCOMPARE(observations[0].boundingBox, QRectF(100.0 / 400, 1.0 - 40.0 / 600, 200.0 / 400, 20.0 / 600));
        QCOMPARE(observations[1].boundingBox, QRectF(10.0 / 400, 1.0 - 370.0 / 600, 100.0 / 400, 20.0 / 600));
        QCOMPARE(accumulator.normalizedObservations(QSize(0, 0))[0].boundingBox, QRectF());
    }
};

QTEST_APPLESS_MAIN(TestOCRLayout)
#include "tst_OCRLayout.moc"
