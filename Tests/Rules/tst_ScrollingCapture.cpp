#include "Rules/ScrollingCapture.h"

#include <QTest>

namespace {

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

class TestScrollingCapture : public QObject
{
    Q_OBJECT

private slots:
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

    void duplicateRules_data()
    {
        QTest::addColumn<QList<CaptureTextObservation>>("second");
        QTest::addColumn<QString>("text");
        const QSize s(width, 200);
        // Held after the first segment: "Status: ready" at rows 100..120, columns 10..210, confidence 0.8,
        // away from the edges.
        QTest::newRow("same box, more confident, replaces")
            << QList<CaptureTextObservation> { line("Status: readv", s, 12, 1.5, 212, 21.5, 0.95) }
            << "Status: readv";
        QTest::newRow("same box, less confident, dropped")
            << QList<CaptureTextObservation> { line("Status: readv", s, 12, 1.5, 212, 21.5, 0.5) }
            << "Status: ready";
        QTest::newRow("same text shifted sideways in the same rows")
            << QList<CaptureTextObservation> { line("status:  READY", s, 250, 5, 390, 25, 0.5) }
            << "Status: ready";
        QTest::newRow("same text on other rows is another line")
            << QList<CaptureTextObservation> { line("Status: ready", s, 10, 60, 210, 80, 0.9) }
            << "Status: ready\nStatus: ready";
        QTest::newRow("small overlap is another line")
            << QList<CaptureTextObservation> { line("Next", s, 10, 15, 210, 35, 0.99) }
            << "Status: ready\nNext";
        QTest::newRow("other column in the same rows")
            << QList<CaptureTextObservation> { line("Other", s, 250, 0, 390, 20, 0.99) }
            << "Status: ready Other";
    }

    void duplicateRules()
    {
        QFETCH(QList<CaptureTextObservation>, second);
        QFETCH(QString, text);
        ScrollingTextAccumulator accumulator;
        const QSize s(width, 200);
        accumulator.append({ line("Status: ready", s, 10, 100, 210, 120, 0.8) }, s, 0);
        // The second segment starts at document row 100.
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

    void normalizedToTheDocument()
    {
        ScrollingTextAccumulator accumulator;
        const QSize s(width, 300);
        accumulator.append({ line("second", s, 10, 50, 110, 70, 0.75) }, s, 300);
        accumulator.append({ line("first", s, 100, 20, 300, 40, 0.25) }, s, 0);
        const QList<CaptureTextObservation> observations
            = accumulator.normalizedObservations(QSize(width, 600));
        QCOMPARE(observations.size(), 2);
        QCOMPARE(observations[0].text, QString("first"));
        QCOMPARE(observations[0].confidence, 0.25);
        const QRectF first = observations[0].boundingBox;
        QVERIFY(qFuzzyCompare(first.x(), 100.0 / 400));
        QVERIFY(qFuzzyCompare(first.y(), 1.0 - 40.0 / 600));
        QVERIFY(qFuzzyCompare(first.width(), 200.0 / 400));
        QVERIFY(qFuzzyCompare(first.height(), 20.0 / 600));
        const QRectF second = observations[1].boundingBox;
        QVERIFY(qFuzzyCompare(second.y(), 1.0 - 370.0 / 600));
        QVERIFY(qFuzzyCompare(second.height(), 20.0 / 600));
        QVERIFY(!accumulator.isLowConfidence()); // mean 0.5

        // A document without pixels keeps the text and drops the geometry.
        const auto flat = accumulator.normalizedObservations(QSize(0, 0));
        QCOMPARE(flat.size(), 2);
        QCOMPARE(flat[0].boundingBox, QRectF());
    }

    void oddInput()
    {
        ScrollingTextAccumulator accumulator;
        QVERIFY(accumulator.isLowConfidence());
        QCOMPARE(accumulator.assembledText(), QString());
        accumulator.append({ line("ghost", QSize(1, 1), 0, 0, 1, 1, 0.9) }, QSize(0, 300), 0);
        QCOMPARE(accumulator.assembledText(), QString());
        // A negative document offset is the document's first row.
        const QSize s(width, 100);
        accumulator.append({ line("top", s, 10, 10, 50, 30, 0.4) }, s, -50);
        const auto observations = accumulator.normalizedObservations(QSize(width, 100));
        QCOMPARE(observations.size(), 1);
        QVERIFY(qFuzzyCompare(observations[0].boundingBox.y(), 0.7));
        QVERIFY(accumulator.isLowConfidence());
    }
};

QTEST_APPLESS_MAIN(TestScrollingCapture)
#include "tst_ScrollingCapture.moc"
