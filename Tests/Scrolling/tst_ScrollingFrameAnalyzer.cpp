#include "Scrolling/ScrollingFrameAnalyzer.h"
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

// What an animation shows at `phase`: its colour, a stripe and a bar all move.
void drawAnimation(QImage &frame, const QRect &box, int phase)
{
    QPainter painter(&frame);
    painter.fillRect(box, QColor::fromHsv((phase * 47) % 360, 150, 220));
    painter.fillRect(QRect(box.x() + (phase * 17) % box.width(), box.y(), 8, box.height()), Qt::black);
    painter.fillRect(QRect(box.x(), box.y() + (phase * 13) % box.height(), box.width(), 6), Qt::white);
}

// A round button with an arrow, or a panel of menu entries, drawn where the screen shows it.
void drawFloating(QImage &frame, const QRect &element, bool panel)
{
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::Antialiasing);
    if (panel) {
        painter.fillRect(element, QColor(236, 238, 242));
        painter.setPen(QColor(40, 40, 60));
        for (int y = element.top() + 16; y < element.bottom(); y += 24)
            painter.drawText(element.x() + 8, y, QStringLiteral("Menu entry %1").arg(y));
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(22, 160, 133));
    painter.drawEllipse(element);
    painter.setPen(QPen(Qt::white, 3));
    const QPoint c = element.center();
    painter.drawLine(c + QPoint(-8, 4), c + QPoint(0, -6));
    painter.drawLine(c + QPoint(0, -6), c + QPoint(8, 4));
}

// A scrollbar drawn over one side of a frame, `inset` columns of something else beyond it.
struct Scrollbar
{
    bool left = false;
    int inset = 0;
    int width = 15;
    int thumbHeight = 110;
    bool stippled = false; // a thumb drawn as a grey pattern, every other row alike
    bool rounded = false; // an overlay scrollbar: no track, a rounded thumb
};

void drawScrollbar(QImage &frame, const Scrollbar &bar, int thumbTop, const QColor &thumb)
{
    QPainter painter(&frame);
    const int x = bar.left ? bar.inset : frame.width() - bar.inset - bar.width;
    const QRect beyond = bar.left ? QRect(0, 0, bar.inset, frame.height())
                                  : QRect(x + bar.width, 0, bar.inset, frame.height());
    painter.fillRect(beyond, QColor(58, 70, 90));
    if (thumbTop < 0)
        return;
    const QRect thumbRect(x + 2, thumbTop, bar.width - 4, bar.thumbHeight);
    if (bar.rounded) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(thumb);
        painter.drawRoundedRect(thumbRect, 3, 3);
        return;
    }
    painter.fillRect(QRect(x, 0, bar.width, frame.height()), QColor(241, 241, 241));
    if (!bar.stippled) {
        painter.fillRect(thumbRect, thumb);
        return;
    }
    for (int y = thumbRect.top(); y <= thumbRect.bottom(); ++y) {
        for (int column = thumbRect.left() + (y % 2); column <= thumbRect.right(); column += 2)
            frame.setPixel(column, y, thumb.rgb());
    }
}

} // namespace

Q_DECLARE_METATYPE(Scrollbar)

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

    // A scrollbar inside the region moves its own way: its thumb by more than its height, an
    // overlay one appears or fades. The step is still exact and sure, on either side.
    void scrollbarInsideTheRegion_data()
    {
        QTest::addColumn<Scrollbar>("bar");
        QTest::addColumn<int>("thumbBefore"); // -1: not shown
        QTest::addColumn<int>("thumbAfter");
        QTest::addColumn<QColor>("colourAfter");
        QTest::addColumn<int>("step");

        const QColor grey(193, 193, 193);
        const Scrollbar right;
        QTest::newRow("thumb moves by more than half its height") << right << 100 << 140 << grey << 120;
        QTest::newRow("thumb moves past its height") << right << 100 << 190 << grey << 220;
        QTest::newRow("thumb moves, small step") << right << 100 << 135 << grey << 40;
        QTest::newRow("thumb moves, large step") << right << 40 << 300 << grey << 330;
        Scrollbar beyond = right;
        beyond.inset = 6;
        QTest::newRow("window edge beyond the scrollbar") << beyond << 100 << 150 << grey << 120;
        Scrollbar straddling = right;
        straddling.inset = 10;
        QTest::newRow("scrollbar across two bands") << straddling << 100 << 150 << grey << 120;
        Scrollbar left;
        left.left = true;
        left.width = 14;
        left.stippled = true;
        left.thumbHeight = 90;
        QTest::newRow("stippled scrollbar on the left") << left << 60 << 120 << QColor(90, 90, 90) << 150;
        Scrollbar overlay = right;
        overlay.width = 10;
        overlay.inset = 2;
        overlay.rounded = true;
        QTest::newRow("overlay scrollbar appears") << overlay << -1 << 160 << grey << 120;
        QTest::newRow("overlay scrollbar fades") << overlay << 100 << 150 << QColor(225, 225, 225) << 120;
        Scrollbar wide = right;
        wide.width = 30;
        QTest::newRow("wide scrollbar of a scaled screen") << wide << 100 << 160 << grey << 120;
    }
    void scrollbarInsideTheRegion()
    {
        QFETCH(Scrollbar, bar);
        QFETCH(int, thumbBefore);
        QFETCH(int, thumbAfter);
        QFETCH(QColor, colourAfter);
        QFETCH(int, step);
        // As wide as a browser column, with a column of figures running under the scrollbar.
        Style wide;
        wide.width = 980;
        QImage document = SyntheticColumn::document(wide);
        {
            QPainter painter(&document);
            painter.setPen(QColor(20, 20, 24));
            for (int line = 0; line < wide.lines; ++line)
                painter.drawText(QRect(wide.width - 60, 6 + line * wide.lineHeight, 60, wide.lineHeight),
                    Qt::AlignRight | Qt::AlignVCenter, QString::number(line * 37 % 1000));
        }
        QImage before = SyntheticColumn::viewport(document, view(600));
        drawScrollbar(before, bar, thumbBefore, QColor(193, 193, 193));
        QImage after = SyntheticColumn::viewport(document, view(600 + step));
        drawScrollbar(after, bar, thumbAfter, colourAfter);

        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(
            *ScrollingFrameAnalyzer::prepareFrame(before), *ScrollingFrameAnalyzer::prepareFrame(after));
        QCOMPARE(alignment.offset, step);
        QVERIFY2(alignment.confidence >= 0.8, qPrintable(QString::number(alignment.confidence)));
        // Only columns near the scrollbar are left out (none when the thumb moved outside the
        // rows both frames show).
        const int edge = bar.inset + bar.width + 40;
        for (const auto &[left, right] : alignment.excludedColumns)
            QVERIFY(bar.left ? right <= edge : left >= before.width() - edge);
    }

    // Lines told apart only by numbers in a narrow strip at the edge: a shift by whole lines
    // differs only there, and must not pass for the step.
    void numbersInANarrowStrip_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("scrollbar");
        QTest::newRow("step") << 150 << false;
        QTest::newRow("large step, few lines overlap") << 240 << false;
        QTest::newRow("with a scrollbar on the other side") << 150 << true;
    }
    void numbersInANarrowStrip()
    {
        QFETCH(int, step);
        QFETCH(bool, scrollbar);
        Style same;
        same.identicalLines = true;
        const QImage lines = SyntheticColumn::document(same);
        QImage document(lines.width() + 24, lines.height(), QImage::Format_RGB32);
        document.fill(QColor(250, 250, 248));
        {
            QPainter painter(&document);
            painter.drawImage(24, 0, lines);
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(10);
            painter.setFont(font);
            painter.setPen(QColor(120, 120, 120));
            for (int line = 0; line < same.lines; ++line)
                painter.drawText(QRect(1, 6 + line * same.lineHeight, 22, same.lineHeight),
                    Qt::AlignRight | Qt::AlignVCenter, QString::number(line + 1));
        }
        const auto frameAt = [&](int scroll, int thumbTop) {
            QImage frame = document.copy(0, scroll, document.width(), 400);
            if (scrollbar)
                drawScrollbar(frame, Scrollbar {}, thumbTop, QColor(193, 193, 193));
            return ScrollingFrameAnalyzer::prepareFrame(frame);
        };
        const ScrollingAlignment alignment
            = ScrollingFrameAnalyzer::alignFrames(*frameAt(500, 100), *frameAt(500 + step, 160));
        QCOMPARE(alignment.offset, step);
        QVERIFY2(alignment.confidence >= 0.8, qPrintable(QString::number(alignment.confidence)));
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

    // Something that keeps changing while the page is at rest is learnt from two looks: later looks
    // count as unchanged, and the step aligns on everything else.
    void animationAtRest_data()
    {
        QTest::addColumn<QRect>("box"); // where it is before the step
        QTest::addColumn<bool>("movesWithContent");
        QTest::addColumn<int>("step");
        QTest::newRow("box in the content") << QRect(200, 150, 220, 120) << true << 120;
        QTest::newRow("box in the content, large step") << QRect(200, 150, 220, 120) << true << 250;
        QTest::newRow("wide banner") << QRect(0, 60, 640, 64) << true << 90;
        QTest::newRow("spinner fixed on the screen") << QRect(420, 180, 180, 150) << false << 140;
    }
    void animationAtRest()
    {
        QFETCH(QRect, box);
        QFETCH(bool, movesWithContent);
        QFETCH(int, step);
        const QImage document = SyntheticColumn::document(Style {});
        const auto look = [&](int scroll, int phase) {
            QImage frame = SyntheticColumn::viewport(document, view(scroll));
            drawAnimation(frame, movesWithContent ? box.translated(0, 500 - scroll) : box, phase);
            return ScrollingFrameAnalyzer::prepareFrame(frame);
        };
        const ScrollingFramePtr learnt = ScrollingFrameAnalyzer::restingLook(look(500, 0), look(500, 1));
        const ScrollingFramePtr third = look(500, 2);
        QCOMPARE(ScrollingFrameAnalyzer::frameDifference(*learnt, *third), 0.0);
        const ScrollingFramePtr before = ScrollingFrameAnalyzer::restingLook(learnt, third);
        QVERIFY(before->hasVolatileCells());

        const ScrollingFramePtr after = ScrollingFrameAnalyzer::restingLook(
            ScrollingFrameAnalyzer::restingLook(look(500 + step, 3), look(500 + step, 4)),
            look(500 + step, 5));
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(*before, *after);
        QCOMPARE(alignment.offset, step);
        QVERIFY2(alignment.confidence >= 0.8, qPrintable(QString::number(alignment.confidence)));
        QVERIFY(!alignment.identical);
    }

    // Only what changes again and again while the page is at rest is volatile: not a page still
    // moving or replaced, nor something that changed once (a button that appeared).
    void volatileOnlyAtRest_data()
    {
        QTest::addColumn<QList<int>>("scrolls"); // of three looks
        QTest::addColumn<QList<bool>>("carets");
        QTest::addColumn<bool>("marked");
        const QList<bool> noCaret { false, false, false };
        QTest::newRow("still moving by a row a look") << QList<int> { 500, 501, 502 } << noCaret << false;
        QTest::newRow("still moving by a few rows") << QList<int> { 500, 507, 509 } << noCaret << false;
        QTest::newRow("content replaced") << QList<int> { 500, 2600, 2600 } << noCaret << false;
        QTest::newRow("caret appeared once")
            << QList<int> { 0, 0, 0 } << QList<bool> { false, true, true } << false;
        QTest::newRow("caret blinks") << QList<int> { 0, 0, 0 } << QList<bool> { true, false, true } << true;
        QTest::newRow("nothing changed") << QList<int> { 500, 500, 500 } << noCaret << false;
    }
    void volatileOnlyAtRest()
    {
        QFETCH(QList<int>, scrolls);
        QFETCH(QList<bool>, carets);
        QFETCH(bool, marked);
        const QImage document = SyntheticColumn::document(Style {});
        ScrollingFramePtr look;
        for (int i = 0; i < 3; ++i) {
            Viewport v = view(scrolls[i]);
            v.caret = carets[i];
            const ScrollingFramePtr next
                = ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, v));
            look = look ? ScrollingFrameAnalyzer::restingLook(look, next) : next;
        }
        QCOMPARE(look->hasVolatileCells(), marked);
    }

    // An element floating over the lower part of the content is reported with the rows below it,
    // so new strips never hold it; a fixed side panel or an element high up is no such thing.
    void floatingElement_data()
    {
        QTest::addColumn<QRect>("element");
        QTest::addColumn<bool>("panel");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("floating");
        QTest::newRow("button over the margin") << QRect(668, 320, 56, 56) << false << 120 << true;
        QTest::newRow("button over the text") << QRect(560, 300, 60, 60) << false << 180 << true;
        QTest::newRow("button, small step") << QRect(560, 300, 60, 60) << false << 22 << true;
        QTest::newRow("chat panel") << QRect(420, 232, 200, 150) << true << 150 << true;
        QTest::newRow("side panel") << QRect(0, 0, 120, 400) << true << 150 << false;
        QTest::newRow("button high up") << QRect(560, 30, 60, 60) << false << 150 << false;
    }
    void floatingElement()
    {
        QFETCH(QRect, element);
        QFETCH(bool, panel);
        QFETCH(int, step);
        QFETCH(bool, floating);
        const QImage document = SyntheticColumn::document(Style {});
        const auto frameAt = [&](int scroll) {
            QImage frame(760, 400, QImage::Format_RGB32);
            frame.fill(Qt::white);
            QPainter(&frame).drawImage(0, 0, SyntheticColumn::viewport(document, view(scroll)));
            drawFloating(frame, element, panel);
            return ScrollingFrameAnalyzer::prepareFrame(frame);
        };
        const ScrollingAlignment alignment
            = ScrollingFrameAnalyzer::alignFrames(*frameAt(600), *frameAt(600 + step));
        QCOMPARE(alignment.offset, step);
        QVERIFY2(alignment.isConfident(), qPrintable(QString::number(alignment.confidence)));
        const int least = floating ? 400 - element.top() : 0;
        QVERIFY2(alignment.fixedBottom >= least && alignment.fixedBottom <= least + 8,
            qPrintable(QString::number(alignment.fixedBottom)));
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

    // The step the capture expected settles what the pixels cannot (rows that repeat, rows of one
    // colour) and never stands against pixels that are sure of another offset.
    void expectedStep_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<int>("step");
        QTest::addColumn<QList<int>>("expected");
        QTest::addColumn<int>("offset"); // -1: not confident
        QTest::addColumn<int>("basis");
        const int image = int(ScrollingAlignment::Basis::image);
        const int expectedStep = int(ScrollingAlignment::Basis::expectedStep);
        QTest::newRow("blocks, several notches read as fewer")
            << "blocks" << 200 << QList { 200 } << 200 << expectedStep;
        QTest::newRow("blocks, notches taken for still")
            << "blocks" << 180 << QList { 60, 180 } << 180 << expectedStep;
        QTest::newRow("blocks, stopped short at the end") << "blocks" << 34 << QList { 60 } << 34 << image;
        QTest::newRow("blocks, nothing expected") << "blocks" << 200 << QList<int>() << -1 << image;
        QTest::newRow("blocks, expected step does not fit")
            << "blocks" << 200 << QList { 230 } << -1 << image;
        QTest::newRow("text overrules the expected step") << "text" << 120 << QList { 200 } << 120 << image;
        QTest::newRow("rows of one colour tell nothing")
            << "blank" << 80 << QList { 80 } << 80 << int(ScrollingAlignment::Basis::unchecked);
    }
    void expectedStep()
    {
        QFETCH(QString, content);
        QFETCH(int, step);
        QFETCH(QList<int>, expected);
        QFETCH(int, offset);
        QFETCH(int, basis);
        // Identical blocks of three lines, 70 rows apart; or text, then an empty stretch.
        QImage document = SyntheticColumn::document(Style {});
        if (content == "blocks") {
            const QImage block = document.copy(0, 100, document.width(), 70);
            QPainter painter(&document);
            for (int y = 0; y < document.height(); y += 70)
                painter.drawImage(0, y, block);
        } else if (content == "blank") {
            QPainter(&document).fillRect(0, 400, document.width(), document.height(), Qt::white);
        }
        const int before = content == "blank" ? 340 : 700;
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(
            *ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, view(before))),
            *ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, view(before + step))),
            expected);
        QCOMPARE(alignment.isConfident(), offset >= 0);
        if (offset < 0)
            return;
        QCOMPARE(alignment.offset, offset);
        QCOMPARE(int(alignment.basis), basis);
        QCOMPARE(alignment.period, content == "blocks" ? 70 : 0);
    }

    // A frame whose rows look alike a step apart cannot show that step.
    void hidesStep_data()
    {
        QTest::addColumn<int>("blockHeight"); // 0: text, 1: one colour
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("hides");
        QTest::newRow("one colour") << 1 << 80 << true;
        QTest::newRow("text") << 0 << 80 << false;
        QTest::newRow("blocks moved by their period") << 70 << 140 << true;
        QTest::newRow("blocks moved by less") << 70 << 60 << false;
    }
    void hidesStep()
    {
        QFETCH(int, blockHeight);
        QFETCH(int, step);
        QFETCH(bool, hides);
        const QImage text = SyntheticColumn::viewport(SyntheticColumn::document(Style {}), view(0));
        QImage frame(text.size(), QImage::Format_RGB32);
        frame.fill(Qt::white);
        QPainter painter(&frame);
        for (int y = 0; blockHeight != 1 && y < frame.height();
             y += blockHeight ? blockHeight : frame.height())
            painter.drawImage(0, y, blockHeight ? text.copy(0, 0, text.width(), blockHeight) : text);
        painter.end();
        QCOMPARE(
            ScrollingFrameAnalyzer::hidesStep(*ScrollingFrameAnalyzer::prepareFrame(frame), 0, 400, step),
            hides);
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
