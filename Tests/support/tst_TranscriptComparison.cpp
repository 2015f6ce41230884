// The judge of the real-application captures: recognized text against the document's lines, where a
// missing or repeated line must be found however the words around it read, and a recognizer's
// misreadings must not count as either.
#include "ScrollingTestDocument.h"
#include "TranscriptComparison.h"

#include <QTest>

#include <functional>

namespace {

using Edit = std::function<void(QStringList &)>;
using Lines = QList<std::pair<int, int>>;

ScrollingTestDocument documentOf(ScrollingTestDocument::Content content, int records)
{
    ScrollingTestDocument::Options options;
    options.content = content;
    options.records = records;
    return ScrollingTestDocument(options);
}

// Replaces every `every`th word of the lines from `from` on by a misreading.
Edit misread(int from, int every)
{
    return [=](QStringList &lines) {
        int n = 0;
        for (qsizetype i = from; i < lines.size(); ++i) {
            QStringList words = lines[i].split(u' ');
            for (QString &word : words) {
                if (++n % every == 0)
                    word = word.left(2) + QStringLiteral("rn") + word.mid(3);
            }
            lines[i] = words.join(u' ');
        }
    };
}

} // namespace

Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(Lines)
Q_DECLARE_METATYPE(ScrollingTestDocument::Content)

class TestTranscriptComparison : public QObject
{
    Q_OBJECT

private slots:
    void findsWhatIsMissingOrRepeated_data()
    {
        QTest::addColumn<ScrollingTestDocument::Content>("content");
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<int>("linesReached"); // -1: all
        // Where each stretch found starts: a line from the first to the second (from 1). Among
        // lines alike, which of them went missing cannot be told.
        QTest::addColumn<Lines>("holes");
        QTest::addColumn<Lines>("doubles");
        using C = ScrollingTestDocument::Content;
        const Lines none;
        const auto at = [](int first, int last) { return Lines { { first, last } }; };
        QTest::newRow("read as written") << C::lines << Edit([](QStringList &) {}) << -1 << none << none;
        QTest::newRow("a word in ten misread") << C::lines << misread(0, 10) << -1 << none << none;
        QTest::newRow("record numbers read with letters") << C::lines << Edit([](QStringList &lines) {
            for (QString &line : lines)
                line.replace(0, 2, QStringLiteral("O0"));
        }) << -1 << none << none;
        QTest::newRow("a line read as other words") << C::lines << Edit([](QStringList &lines) {
            lines[12] = QStringLiteral("xq zzv wrr ppq mmn tty vvb kkj");
        }) << -1 << none << none;
        QTest::newRow("one line missing")
            << C::lines << Edit([](QStringList &lines) { lines.removeAt(17); }) << -1 << at(17, 19) << none;
        QTest::newRow("one line missing among misreadings") << C::lines << Edit([](QStringList &lines) {
            lines.removeAt(20);
            misread(0, 7)(lines);
        }) << -1 << at(20, 22) << none;
        QTest::newRow("the first lines missing")
            << C::lines << Edit([](QStringList &lines) { lines.remove(0, 3); }) << -1 << at(1, 1) << none;
        QTest::newRow("six lines read twice")
            << C::lines << Edit([](QStringList &lines) { lines = lines.mid(0, 30) + lines.mid(24); }) << -1
            << none << at(24, 31);
        QTest::newRow("lines read twice, the first copy cut") << C::lines << Edit([](QStringList &lines) {
            lines = lines.mid(0, 20) + QStringList { lines[17].left(12) } + lines.mid(18);
        }) << -1 << none << at(18, 22);
        QTest::newRow("the last lines missing")
            << C::lines << Edit([](QStringList &lines) { lines = lines.mid(0, 31); }) << 31 << none << none;
        QTest::newRow("the end missing and a hole above it")
            << C::lines << Edit([](QStringList &lines) { lines = lines.mid(0, 10) + lines.mid(14, 10); })
            << 24 << at(10, 12) << none;
        // Lines 11 to 30 are one block of identical lines.
        QTest::newRow("identical lines: one missing")
            << C::identicalBlocks << Edit([](QStringList &lines) { lines.removeAt(15); }) << -1 << at(11, 31)
            << none;
        QTest::newRow("identical lines: one too many")
            << C::identicalBlocks << Edit([](QStringList &lines) { lines.insert(15, lines[15]); }) << -1
            << none << at(11, 31);
        QTest::newRow("look-alike rows: one missing")
            << C::lookAlikeRows << Edit([](QStringList &lines) { lines.removeAt(25); }) << -1 << at(25, 27)
            << none;
        QTest::newRow("look-alike rows: numbers misread") << C::lookAlikeRows << Edit([](QStringList &lines) {
            lines[7].replace(QStringLiteral("0008"), QStringLiteral("0006"));
            lines[30].replace(QStringLiteral("0031"), QStringLiteral("003I"));
        }) << -1 << none << none;
    }
    void findsWhatIsMissingOrRepeated()
    {
        QFETCH(ScrollingTestDocument::Content, content);
        QFETCH(Edit, edit);
        QFETCH(int, linesReached);
        QFETCH(Lines, holes);
        QFETCH(Lines, doubles);
        const ScrollingTestDocument document = documentOf(content, 40);
        QStringList read = document.truth();
        edit(read);
        const TranscriptComparison comparison(document.truth(), read.join(u'\n'));
        QCOMPARE(comparison.linesReached(), linesReached < 0 ? int(document.truth().size()) : linesReached);
        const auto within = [](const QList<TranscriptComparison::Stretch> &found, const Lines &expected) {
            if (found.size() != expected.size())
                return false;
            for (qsizetype i = 0; i < found.size(); ++i) {
                if (found[i].firstLine + 1 < expected[i].first || found[i].firstLine + 1 > expected[i].second)
                    return false;
            }
            return true;
        };
        QVERIFY2(within(comparison.holes(), holes), qPrintable(comparison.summary()));
        QVERIFY2(within(comparison.doubles(), doubles), qPrintable(comparison.summary()));
    }

    // A bar fixed over the column is read once in a stitched capture; more often, it was stitched
    // again with the rows under it.
    void countsAFixedBar_data()
    {
        QTest::addColumn<int>("times");
        QTest::newRow("once") << 1;
        QTest::newRow("three times") << 3;
    }
    void countsAFixedBar()
    {
        QFETCH(int, times);
        ScrollingTestDocument::Options options;
        options.records = 30;
        options.fixedFooter = true;
        const ScrollingTestDocument document(options);
        QStringList read = document.truth();
        for (int i = 0; i < times; ++i)
            read.insert(5 + 8 * i, document.decorations().constFirst());
        const TranscriptComparison comparison(document.truth(), read.join(u'\n'), document.decorations());
        QCOMPARE(comparison.mostDecorationReadings(), times);
        QVERIFY2(
            comparison.doubles().isEmpty() && comparison.holes().isEmpty(), qPrintable(comparison.summary()));
    }
};

QTEST_GUILESS_MAIN(TestTranscriptComparison)

#include "tst_TranscriptComparison.moc"
