#include "Rules/AudioSessionTitle.h"
#include "Rules/OCRLayout.h"

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

} // namespace

class TestOCRLayout : public QObject
{
    Q_OBJECT

private slots:
    void parseTags_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty") << "" << QStringList {};
        QTest::newRow("only separators") << " , ,\n," << QStringList {};
        QTest::newRow("trim, lower, order")
            << "Work, ideas ,Later" << QStringList { "work", "ideas", "later" };
        QTest::newRow("later duplicates dropped")
            << "Work, ideas ,work,, IDEAS\n, Notes" << QStringList { "work", "ideas", "notes" };
        QTest::newRow("newlines trimmed") << "\talpha\n,\nbeta\r\n" << QStringList { "alpha", "beta" };
        QTest::newRow("inner spaces kept")
            << "New York, new  york" << QStringList { "new york", "new  york" };
        QTest::newRow("non-ascii lower-cased")
            << "Ünïcode, ÜNÏCODE, Straße" << QStringList { "ünïcode", "straße" };
    }

    void parseTags()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, expected);
        QCOMPARE(OCRLayout::parseTags(input), expected);
    }

    void defaultTitle_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString hundred = QString("x").repeated(100);
        QTest::newRow("empty") << ""
                               << "Untitled capture";
        QTest::newRow("no letters or digits") << "  \n---\n“ ”\n***"
                                              << "Untitled capture";
        QTest::newRow("first line with a letter") << "\n  ---  \n  Hello world  \nSecond"
                                                  << "Hello world";
        QTest::newRow("quotes trimmed at both ends") << "  \"“Quoted title”\" "
                                                     << "Quoted title";
        QTest::newRow("inner quotes kept") << "‘It’s here’"
                                           << "It’s here";
        QTest::newRow("guillemets") << "«Titre» "
                                    << "Titre";
        QTest::newRow("digits count") << "***\r\n42 items"
                                      << "42 items";
        QTest::newRow("carriage return splits") << "==\rTitle\rnext"
                                                << "Title";
        QTest::newRow("line separator splits") << QString("…\u2028Title") << "Title";
        QTest::newRow("cut to 80") << hundred << hundred.left(80);
        QTest::newRow("non-latin letters") << "  Привет мир"
                                           << "Привет мир";
        // An emoji with a skin tone is one character and is never split.
        QTest::newRow("cut keeps whole characters")
            << QString("a").repeated(79) + QString::fromUtf8("👍🏽") + "b"
            << QString("a").repeated(79) + QString::fromUtf8("👍🏽");
        QTest::newRow("combining accent kept whole") << QString("b").repeated(79) + QString("e\u0301") + "z"
                                                     << QString("b").repeated(79) + QString("e\u0301");
    }

    void defaultTitle()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(OCRLayout::defaultTitle(text), expected);
    }

    // A lone surrogate once stopped line splitting, and titles came out with line feeds in them.
    void titlesOfTextWithLoneSurrogates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        const QChar high(0xD83D), low(0xDE00);
        QTest::newRow("on a later line") << QStringLiteral("Title\nsecond line\n") + high << "Title";
        QTest::newRow("low one in the title") << QStringLiteral("Ti") + low + "tle\nnext"
                                              << "Ti\uFFFDtle";
        QTest::newRow("pair reversed") << QString(low) + high + "x\r\ny"
                                       << "\uFFFD\uFFFDx";
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

    void lowConfidence_data()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::addColumn<QList<double>>("confidences");
        QTest::addColumn<bool>("low");
        QTest::newRow("nothing recognized") << QList<double> {} << true;
        QTest::newRow("mean exactly one half") << QList<double> { 0.4, 0.6 } << false;
        QTest::newRow("mean just below") << QList<double> { 0.49 } << true;
        QTest::newRow("one weak among strong") << QList<double> { 0.1, 0.9, 0.9 } << false;
        QTest::newRow("not a number counts as zero") << QList<double> { nan, 1.0 } << false;
        QTest::newRow("only not a number") << QList<double> { nan } << true;
    }

    void lowConfidence()
    {
        QFETCH(QList<double>, confidences);
        QFETCH(bool, low);
        QCOMPARE(OCRLayout::isLowConfidence(withConfidences(confidences)), low);
        QCOMPARE(OCRResult::fromObservations(withConfidences(confidences), {}).isLowConfidence(), low);
    }

    void readingOrder_data()
    {
        QTest::addColumn<QList<CaptureTextObservation>>("observations");
        QTest::addColumn<QString>("text");

        QTest::newRow("shuffled words of two lines") << QList<CaptureTextObservation> {
            word("line", 0.45, 0.32, 0.2, 0.1),
            word("world", 0.40, 0.11, 0.2, 0.1),
            word("Second", 0.10, 0.30, 0.3, 0.1),
            word("Hello", 0.10, 0.10, 0.25, 0.1),
        } << "Hello world\nSecond line";
        QTest::newRow("baseline drift stays on the line") << QList<CaptureTextObservation> {
            word("c", 0.6, 0.14, 0.1, 0.1),
            word("b", 0.3, 0.12, 0.1, 0.1),
            word("a", 0.0, 0.10, 0.1, 0.1),
        } << "a b c";
        QTest::newRow("taller word joins the line") << QList<CaptureTextObservation> {
            word("Big", 0.0, 0.05, 0.2, 0.2),
            word("small", 0.3, 0.12, 0.2, 0.08),
        } << "Big small";
        QTest::newRow("touching lines stay apart") << QList<CaptureTextObservation> {
            word("below", 0.0, 0.19, 0.3, 0.1),
            word("above", 0.1, 0.10, 0.3, 0.1),
        } << "above\nbelow";
        QTest::newRow("side by side columns share rows") << QList<CaptureTextObservation> {
            word("right2", 0.6, 0.30, 0.2, 0.1),
            word("left1", 0.0, 0.10, 0.2, 0.1),
            word("right1", 0.6, 0.10, 0.2, 0.1),
            word("left2", 0.0, 0.30, 0.2, 0.1),
        } << "left1 right1\nleft2 right2";
        QTest::newRow("blank words left out") << QList<CaptureTextObservation> {
            word("  ", 0.0, 0.1, 0.1, 0.1),
            word(" kept ", 0.2, 0.1, 0.1, 0.1),
            word("", 0.0, 0.5, 0.1, 0.1),
        } << "kept";
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("box that is not a number") << QList<CaptureTextObservation> {
            word("first", 0.0, 0.1, 0.1, 0.1),
            CaptureTextObservation { "odd", QRectF(nan, nan, nan, nan), 0.5 },
            word("second", 0.0, 0.3, 0.1, 0.1),
        } << "first\nsecond\nodd";
        QTest::newRow("nothing") << QList<CaptureTextObservation> {} << "";
    }

    // Lines of several columns, boxes in pixels (x and y in one unit) as the recognizer hands them
    // over for a 1000 x 1000 region: columns of running text are read one after the other, rows of a
    // table or form across.
    void columns_data()
    {
        QTest::addColumn<QList<CaptureTextObservation>>("observations");
        QTest::addColumn<QString>("text");
        // A line of running text in pixels, top-down, 16 px tall.
        const auto line = [](const QString &text, double left, double top, double width = 400) {
            return CaptureTextObservation { text, QRectF(left, 1000 - top - 16, width, 16), 0.9 };
        };

        QTest::newRow("prose columns, rows offset") << QList<CaptureTextObservation> {
            line("a1 the first line of the left", 0, 100),
            line("b1 the first line of the right", 440, 90),
            line("a2 goes on in the left column", 0, 124),
            line("b2 goes on in the right column", 440, 114),
            line("a3 and ends after three lines", 0, 148),
            line("b3 and ends after three lines", 440, 138),
        } << "a1 the first line of the left\na2 goes on in the left column\na3 and ends after three lines\n"
             "b1 the first line of the right\nb2 goes on in the right column\nb3 and ends after three lines";
        QTest::newRow("prose columns, rows aligned") << QList<CaptureTextObservation> {
            line("a1 the first line of the left", 0, 100),
            line("b1 the first line of the right", 440, 100),
            line("a2 goes on in the left column", 0, 124),
            line("b2 goes on in the right column", 440, 124),
            line("a3 and ends after three lines", 0, 148),
            line("b3 and ends after three lines", 440, 148, 380),
        } << "a1 the first line of the left\na2 goes on in the left column\na3 and ends after three lines\n"
             "b1 the first line of the right\nb2 goes on in the right column\nb3 and ends after three lines";
        QTest::newRow("heading across both columns, left column longer") << QList<CaptureTextObservation> {
            line("b1 the right column starts here", 440, 100),
            line("Heading over both columns of the page", 0, 50, 840),
            line("a1 the left column has more lines", 0, 100),
            line("a2 than the right column has", 0, 124),
            line("b2 and the right column ends", 440, 124),
            line("a3 and it goes on below", 0, 148),
            line("a4 after the right one ended", 0, 172, 300),
            line("Footer under both columns of the page", 0, 240, 840),
        } << "Heading over both columns of the page\na1 the left column has more lines\n"
             "a2 than the right column has\na3 and it goes on below\na4 after the right one ended\n"
             "b1 the right column starts here\nb2 and the right column ends\nFooter under both columns of the page";
        QTest::newRow("short heading, columns level below it") << QList<CaptureTextObservation> {
            line("Heading that ends over the right column", 0, 50, 600),
            line("a1 the left column starts here", 0, 100),
            line("b1 the right one starts", 440, 100, 300),
            line("a2 and goes on for a while", 0, 124),
            line("b2 and the right column goes on", 440, 124),
            line("a3 until it ends down here", 0, 148),
            line("b3 until it ends as well", 440, 148),
        } << "Heading that ends over the right column\na1 the left column starts here\n"
             "a2 and goes on for a while\na3 until it ends down here\n"
             "b1 the right one starts\nb2 and the right column goes on\nb3 until it ends as well";
        QTest::newRow("paragraphs of two lines side by side") << QList<CaptureTextObservation> {
            line("a1 a paragraph of two lines with", 0, 100),
            line("b1 a paragraph of two lines with", 440, 100),
            line("a2 a short end line", 0, 124, 150),
            line("b2 a short end line", 440, 124, 150),
            line("a3 another paragraph of two lines", 0, 160),
            line("b3 another paragraph of two lines", 440, 160),
            line("a4 ends short too", 0, 184, 140),
            line("b4 ends short too", 440, 184, 140),
        } << "a1 a paragraph of two lines with\na2 a short end line\na3 another paragraph of two lines\n"
             "a4 ends short too\nb1 a paragraph of two lines with\nb2 a short end line\n"
             "b3 another paragraph of two lines\nb4 ends short too";
        QTest::newRow("three prose columns") << QList<CaptureTextObservation> {
            line("c1 one two three four", 600, 100, 260),
            line("b1 one two three four", 300, 100, 260),
            line("a1 one two three four", 0, 100, 260),
            line("c2 one two three four", 600, 124, 260),
            line("b2 one two three four", 300, 124, 260),
            line("a2 one two three four", 0, 124, 260),
            line("c3 one two three four", 600, 148, 260),
            line("b3 one two three four", 300, 148, 260),
            line("a3 one two three four", 0, 148, 260),
        } << "a1 one two three four\na2 one two three four\na3 one two three four\n"
             "b1 one two three four\nb2 one two three four\nb3 one two three four\n"
             "c1 one two three four\nc2 one two three four\nc3 one two three four";
        QTest::newRow("table rows read across") << QList<CaptureTextObservation> {
            line("Size", 300, 100, 40),
            line("Name", 0, 100, 50),
            line("report.pdf", 0, 124, 90),
            line("2.4 MB", 300, 124, 60),
            line("notes.txt", 0, 148, 80),
            line("14 KB", 300, 148, 50),
        } << "Name Size\nreport.pdf 2.4 MB\nnotes.txt 14 KB";
        QTest::newRow("form labels beside long values") << QList<CaptureTextObservation> {
            line("Name", 0, 100, 60),
            line("The quarterly report for the board meeting", 200, 100, 500),
            line("Owner", 0, 124, 60),
            line("Someone in the finance team of the company", 200, 124, 500),
            line("Due", 0, 148, 60),
            line("Friday morning before the weekly review", 200, 148, 500),
        } << "Name The quarterly report for the board meeting\nOwner Someone in the finance team of the company\n"
             "Due Friday morning before the weekly review";
        QTest::newRow("indented code keeps its line order") << QList<CaptureTextObservation> {
            line("if (ready) {", 0, 100, 120),
            line("start(now);", 40, 124, 110),
            line("}", 0, 148, 8),
            line("while (busy) {", 0, 172, 130),
            line("wait(1);", 40, 196, 80),
            line("}", 0, 220, 8),
        } << "if (ready) {\nstart(now);\n}\nwhile (busy) {\nwait(1);\n}";
        QTest::newRow("words with ordinary gaps stay one line") << QList<CaptureTextObservation> {
            line("Hello", 0, 100, 60),
            line("wide", 66, 100, 50),
            line("world", 122, 100, 60),
            line("and", 0, 124, 40),
            line("more", 46, 124, 50),
        } << "Hello wide world\nand more";
    }

    void columns()
    {
        QFETCH(QList<CaptureTextObservation>, observations);
        QFETCH(QString, text);
        QCOMPARE(OCRLayout::text(observations), text);
        // The reading order of the boxes matches the text.
        QStringList ordered;
        for (const auto &o : OCRLayout::readingOrder(observations))
            ordered << o.text;
        QCOMPARE(ordered.join(' '), QString(text).replace('\n', ' '));
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
};

QTEST_APPLESS_MAIN(TestOCRLayout)
#include "tst_OCRLayout.moc"
