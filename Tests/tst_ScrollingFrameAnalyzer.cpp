#include "ScrollingFrameAnalyzer.h"
#include "SyntheticColumn.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>

using SyntheticColumn::Style;
using SyntheticColumn::Viewport;

Q_DECLARE_METATYPE(Style)
Q_DECLARE_METATYPE(Viewport)

namespace {

ScrollingAlignment alignViews(const QImage &document, Viewport before, Viewport after)
{
    const auto previous = ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, before));
    const auto current = ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, after));
    return ScrollingFrameAnalyzer::alignFrames(*previous, *current);
}

Viewport view(int scroll, int height = 400)
{
    Viewport v;
    v.scroll = scroll;
    v.height = height;
    return v;
}

} // namespace

class TestScrollingFrameAnalyzer : public QObject
{
    Q_OBJECT

private slots:
    // The offset is exact on unchanged content, whatever sits around it.
    void findsTheStep_data()
    {
        QTest::addColumn<Style>("style");
        QTest::addColumn<Viewport>("before");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("scrollbarWidth");

        Style plain;
        Style dark;
        dark.dark = true;
        Style blocks;
        blocks.repeatedFiller = 3;

        QTest::newRow("small step") << plain << view(300) << 37 << 0;
        QTest::newRow("one row") << plain << view(300) << 1 << 0;
        QTest::newRow("step larger than expected") << plain << view(300) << 372 << 0;
        QTest::newRow("dark theme") << dark << view(500) << 66 << 0;
        QTest::newRow("content moved down") << plain << view(900) << -44 << 0;
        QTest::newRow("repeated blocks with numbered lines") << blocks << view(700) << 88 << 0;
        QTest::newRow("repeated blocks, large step") << blocks << view(700) << 350 << 0;
        QTest::newRow("scrollbar inside the region") << plain << view(1200) << 95 << 14;
        QTest::newRow("tall viewport, big step") << plain << view(0, 1000) << 700 << 0;
        Viewport sticky = view(800);
        sticky.header = 48;
        sticky.footer = 30;
        QTest::newRow("sticky header and footer") << plain << sticky << 60 << 0;
        QTest::newRow("sticky bars, step near the moving height") << plain << sticky << 300 << 0;
        Viewport all = sticky;
        all.caret = true;
        all.animationPhase = 0;
        QTest::newRow("bars, scrollbar, caret and animation") << plain << all << 80 << 12;
    }
    void findsTheStep()
    {
        QFETCH(Style, style);
        QFETCH(Viewport, before);
        QFETCH(int, step);
        QFETCH(int, scrollbarWidth);
        const QImage document = SyntheticColumn::document(style);
        before.scrollbarWidth = scrollbarWidth;
        Viewport after = before;
        after.scroll += step;
        if (after.animationPhase >= 0)
            after.animationPhase = 5;
        after.caret = false; // the caret blinked off

        const ScrollingAlignment alignment = alignViews(document, before, after);
        QCOMPARE(alignment.offset, step);
        QVERIFY2(alignment.confidence >= 0.8, qPrintable(QString::number(alignment.confidence)));
        QVERIFY(alignment.isConfident());
        QVERIFY(!alignment.identical);
        if (scrollbarWidth > 0) {
            // The scrollbar's columns are left out, and nothing far from it.
            QVERIFY(!alignment.excludedColumns.isEmpty());
            QCOMPARE(alignment.excludedColumns.last().second, style.width);
            QVERIFY(alignment.excludedColumns.first().first >= style.width - scrollbarWidth - 80);
        }
    }

    // Rows that stay put while the content moves are reported, so new strips leave them out; blank
    // space touching them may be counted with them, text never.
    void findsStickyRows_data()
    {
        QTest::addColumn<int>("header");
        QTest::addColumn<int>("footer");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("clock");
        QTest::newRow("header only") << 56 << 0 << 44 << false;
        QTest::newRow("footer only") << 0 << 40 << 44 << false;
        QTest::newRow("both, large step") << 32 << 32 << 250 << false;
        QTest::newRow("a clock ticks in the footer") << 32 << 32 << 66 << true;
        QTest::newRow("neither") << 0 << 0 << 44 << false;
    }
    void findsStickyRows()
    {
        QFETCH(int, header);
        QFETCH(int, footer);
        QFETCH(int, step);
        QFETCH(bool, clock);
        const QImage document = SyntheticColumn::document(Style {});
        Viewport before = view(600);
        before.header = header;
        before.footer = footer;
        before.footerClock = clock ? 41 : -1;
        Viewport after = before;
        after.scroll += step;
        after.footerClock = clock ? 42 : -1;
        const ScrollingAlignment alignment = alignViews(document, before, after);
        QCOMPARE(alignment.offset, step);
        QVERIFY2(alignment.fixedTop >= header && alignment.fixedTop <= header + 8,
            qPrintable(QString::number(alignment.fixedTop)));
        QVERIFY2(alignment.fixedBottom >= footer && alignment.fixedBottom <= footer + 8,
            qPrintable(QString::number(alignment.fixedBottom)));
    }

    // A header that moves by other rows than the content (it sticks only once the page has moved,
    // slides in, shrinks or goes away) is left out above the content, and the step is still exact.
    void headerThatChangesWhileScrolling_data()
    {
        QTest::addColumn<QRect>("headerBefore"); // x unused: top and height of the header band
        QTest::addColumn<QRect>("headerAfter");
        QTest::addColumn<int>("step");
        QTest::newRow("sticks after the first step") << QRect(0, 20, 1, 48) << QRect(0, 0, 1, 48) << 60;
        QTest::newRow("sticks, large step") << QRect(0, 32, 1, 56) << QRect(0, 0, 1, 56) << 220;
        QTest::newRow("slides in") << QRect() << QRect(0, 0, 1, 56) << 80;
        QTest::newRow("shrinks") << QRect(0, 0, 1, 90) << QRect(0, 0, 1, 48) << 100;
        QTest::newRow("goes away") << QRect(0, 0, 1, 56) << QRect() << 80;
    }
    void headerThatChangesWhileScrolling()
    {
        QFETCH(QRect, headerBefore);
        QFETCH(QRect, headerAfter);
        QFETCH(int, step);
        const QImage document = SyntheticColumn::document(Style {});
        const auto withHeader = [&](int scroll, const QRect &header) {
            QImage frame = SyntheticColumn::viewport(document, view(scroll));
            if (!header.isEmpty()) {
                QPainter painter(&frame);
                painter.fillRect(QRect(0, header.y(), frame.width(), header.height()), QColor(44, 62, 80));
                painter.setPen(Qt::white);
                painter.drawText(QRect(14, header.y(), 400, header.height()), Qt::AlignVCenter,
                    QStringLiteral("Header: Documentation"));
            }
            return ScrollingFrameAnalyzer::prepareFrame(frame);
        };
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(
            *withHeader(500, headerBefore), *withHeader(500 + step, headerAfter));
        QCOMPARE(alignment.offset, step);
        QVERIFY2(alignment.isConfident(), qPrintable(QString::number(alignment.confidence)));
        const int headerBottom = headerAfter.isEmpty() ? 0 : headerAfter.bottom() + 1;
        QVERIFY2(alignment.fixedTop >= headerBottom && alignment.fixedTop <= headerBottom + 8,
            qPrintable(QString::number(alignment.fixedTop)));
    }

    // When the step cannot be told, or there is nothing to align on, the analyzer says so.
    void lowConfidence_data()
    {
        QTest::addColumn<Style>("style");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("blank");
        Style same;
        same.identicalLines = true;
        QTest::newRow("every line identical") << same << 44 << false;
        QTest::newRow("step beyond the viewport") << Style {} << 420 << false;
    }
    void lowConfidence()
    {
        QFETCH(Style, style);
        QFETCH(int, step);
        QFETCH(bool, blank);
        QImage document = SyntheticColumn::document(style);
        if (blank)
            document.fill(Qt::white);
        const ScrollingAlignment alignment = alignViews(document, view(200), view(200 + step));
        QVERIFY2(!alignment.isConfident(), qPrintable(QString::number(alignment.confidence)));
    }

    // A caret that blinks or a corner that animates is no movement.
    void noMovement_data()
    {
        QTest::addColumn<bool>("caret");
        QTest::addColumn<bool>("animation");
        QTest::newRow("identical") << false << false;
        QTest::newRow("caret blinked") << true << false;
        QTest::newRow("corner animated") << false << true;
    }
    void noMovement()
    {
        QFETCH(bool, caret);
        QFETCH(bool, animation);
        const QImage document = SyntheticColumn::document(Style {});
        Viewport before = view(0);
        before.caret = caret;
        before.animationPhase = animation ? 0 : -1;
        Viewport after = before;
        after.caret = false;
        after.animationPhase = animation ? 3 : -1;
        const ScrollingAlignment alignment = alignViews(document, before, after);
        QCOMPARE(alignment.offset, 0);
        QVERIFY(alignment.isConfident());
        QCOMPARE(alignment.identical, !caret && !animation);

        const auto previous
            = ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, before));
        const auto current = ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, after));
        const double difference = ScrollingFrameAnalyzer::frameDifference(*previous, *current);
        if (caret || animation)
            QVERIFY(difference > 0 && difference < 0.01);
        else
            QCOMPARE(difference, 0.0);
    }

    void differenceOfMovedAndMismatchedFrames()
    {
        const QImage document = SyntheticColumn::document(Style {});
        const auto top = ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, view(0)));
        const auto moved
            = ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, view(40)));
        const auto narrow = ScrollingFrameAnalyzer::prepareFrame(document.copy(0, 0, 320, 400));
        QVERIFY(ScrollingFrameAnalyzer::frameDifference(*top, *moved) > 0.2);
        QCOMPARE(ScrollingFrameAnalyzer::frameDifference(*top, *narrow), 1.0);
        QCOMPARE(ScrollingFrameAnalyzer::alignFrames(*top, *narrow).confidence, 0.0);
        const auto empty = ScrollingFrameAnalyzer::prepareFrame(QImage());
        QVERIFY(empty->isNull());
        QCOMPARE(ScrollingFrameAnalyzer::alignFrames(*empty, *empty).confidence, 0.0);
    }

    // The analyzer's own thread gives the same answers, in order.
    void worksOffTheCallingThread()
    {
        const QImage document = SyntheticColumn::document(Style {});
        ScrollingFrameAnalyzer analyzer;
        QFuture<ScrollingFramePtr> first = analyzer.prepare(SyntheticColumn::viewport(document, view(100)));
        QFuture<ScrollingFramePtr> second = analyzer.prepare(SyntheticColumn::viewport(document, view(153)));
        const ScrollingFramePtr previous = first.result();
        const ScrollingFramePtr current = second.result();
        QCOMPARE(analyzer.align(previous, current).result().offset, 53);
        QVERIFY(analyzer.difference(previous, current).result() > 0.1);
        QCOMPARE(analyzer.align(nullptr, current).result().confidence, 0.0);
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestScrollingFrameAnalyzer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingFrameAnalyzer.moc"
