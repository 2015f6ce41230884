#include "OCRLayout.h"

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
