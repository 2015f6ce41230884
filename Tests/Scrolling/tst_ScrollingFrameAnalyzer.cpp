#include "Scrolling/ScrollingFrameAnalyzer.h"
#include "SyntheticColumn.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>

using SyntheticColumn::Style;
using SyntheticColumn::Viewport;

namespace {

Viewport view(int scroll, int height = 400)
{
    Viewport v;
    v.scroll = scroll;
    v.height = height;
    return v;
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

// Two frames one step apart, and what the analyzer must answer about them.
struct Step
{
    // "text", "dark", "filler" (numbered lines, each with three alike filler lines), "alike" (every
    // line the same), "numbers" (alike lines told apart by numbers in a narrow strip), "figures" (as
    // wide as a browser, figures at the right edge), "blocks" (identical blocks 70 rows apart),
    // "blank" (text, then nothing), "panel" (text, then a flat framed panel).
    QString column = QStringLiteral("text");
    Viewport before = view(600);
    int step = 0;
    QList<int> expected;
    QRect headerBefore, headerAfter; // a header band over the frames: its top and height
    QRect element; // a round button, or a panel of menu entries, fixed over the frames
    bool panel = false;
    int margin = 0; // empty columns right of the column
    // A scrollbar over one side, its thumb at these rows before and after the step (-1: not shown).
    std::optional<Scrollbar> bar;
    int thumbBefore = 100;
    int thumbAfter = -1;
    QColor thumbAfterColour { 193, 193, 193 };
    // The answer.
    bool confident = true;
    ScrollingAlignment::Basis basis = ScrollingAlignment::Basis::image;
    bool shorter = false; // a shorter step fits the pixels as well
    bool sure = true; // a confidence of 0.8 at least
    int fixedTop = -1; // at least this many rows, at most 8 more; -1: not checked
    int fixedBottom = -1;
};

QImage documentOf(const QString &column)
{
    Style style;
    style.dark = column == "dark";
    style.repeatedFiller = column == "filler" ? 3 : 0;
    style.identicalLines = column == "alike" || column == "numbers";
    style.width = column == "figures" ? 980 : 640;
    QImage document = SyntheticColumn::document(style);
    QPainter painter(&document);
    for (int line = 0; column == "figures" && line < style.lines; ++line)
        painter.drawText(QRect(style.width - 60, 6 + line * style.lineHeight, 60, style.lineHeight),
            Qt::AlignRight | Qt::AlignVCenter, QString::number(line * 37 % 1000));
    if (column == "blocks") {
        const QImage block = document.copy(0, 100, document.width(), 70);
        for (int y = 0; y < document.height(); y += 70)
            painter.drawImage(0, y, block);
    } else if (column == "blank") {
        painter.fillRect(0, 400, document.width(), document.height(), Qt::white);
    } else if (column == "panel") {
        // Its sides fall inside bands, so no row of it is of one colour there.
        painter.fillRect(0, 400, document.width(), document.height(), QColor(250, 250, 248));
        painter.fillRect(17, 400, 597, document.height(), QColor(214, 221, 229));
        painter.fillRect(17, 400, 1, document.height(), QColor(150, 160, 172));
        painter.fillRect(613, 400, 1, document.height(), QColor(150, 160, 172));
        painter.fillRect(21, 400, 2, document.height(), QColor(240, 244, 248));
    } else if (column == "numbers") {
        painter.fillRect(0, 0, 24, document.height(), QColor(250, 250, 248));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(10);
        painter.setFont(font);
        painter.setPen(QColor(120, 120, 120));
        for (int line = 0; line < style.lines; ++line)
            painter.drawText(QRect(1, 6 + line * style.lineHeight, 22, style.lineHeight),
                Qt::AlignRight | Qt::AlignVCenter, QString::number(line + 1));
    }
    return document;
}

ScrollingFramePtr frameOf(const QImage &document, const Step &s, bool after)
{
    Viewport v = s.before;
    if (after) {
        v.scroll += s.step;
        v.caret = false; // the caret blinked off
        v.animationPhase = v.animationPhase >= 0 ? 5 : -1;
        v.footerClock = v.footerClock >= 0 ? v.footerClock + 1 : -1;
    }
    QImage frame(document.width() + s.margin, v.height, QImage::Format_RGB32);
    frame.fill(Qt::white);
    QPainter painter(&frame);
    painter.drawImage(0, 0, SyntheticColumn::viewport(document, v));
    const QRect header = after ? s.headerAfter : s.headerBefore;
    if (!header.isEmpty()) {
        painter.fillRect(QRect(0, header.y(), frame.width(), header.height()), QColor(44, 62, 80));
        painter.setPen(Qt::white);
        painter.drawText(
            QRect(14, header.y(), 400, header.height()), Qt::AlignVCenter, QStringLiteral("Header"));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    if (!s.element.isNull() && s.panel) {
        painter.fillRect(s.element, QColor(236, 238, 242));
        painter.setPen(QColor(40, 40, 60));
        for (int y = s.element.top() + 16; y < s.element.bottom(); y += 24)
            painter.drawText(s.element.x() + 8, y, QStringLiteral("Menu entry %1").arg(y));
    } else if (!s.element.isNull()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(22, 160, 133));
        painter.drawEllipse(s.element);
        painter.setPen(QPen(Qt::white, 3));
        painter.drawLine(s.element.center() + QPoint(-8, 4), s.element.center() + QPoint(0, -6));
        painter.drawLine(s.element.center() + QPoint(0, -6), s.element.center() + QPoint(8, 4));
    }
    painter.end();
    if (s.bar)
        drawScrollbar(frame, *s.bar, after ? s.thumbAfter : s.thumbBefore,
            after ? s.thumbAfterColour : QColor(193, 193, 193));
    return ScrollingFrameAnalyzer::prepareFrame(frame);
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestScrollingFrameAnalyzer : public QObject
{
    Q_OBJECT

private slots:
    // The offset is exact on unchanged content, whatever sits around or over it; rows that stay put
    // are reported so new strips leave them out; the step the capture expected settles what the
    // pixels cannot (rows that repeat, rows of one colour) and never stands against sure pixels.
    void aligns_data()
    {
        QTest::addColumn<Step>("s");
        const auto add = [](const char *name, int step, const std::function<void(Step &)> &change = {}) {
            Step s;
            s.step = step;
            if (change)
                change(s);
            QTest::newRow(name) << s;
        };
        add("small step", 37);
        add("one row", 1);
        add("step larger than expected", 372);
        add("dark theme", 66, [](Step &s) { s.column = "dark"; });
        add("content moved down", -44);
        add("filler lines between numbered ones", 88, [](Step &s) { s.column = "filler"; });
        add("filler lines, large step", 350, [](Step &s) { s.column = "filler"; });
        add("scrollbar inside the region", 95, [](Step &s) { s.before.scrollbarWidth = 14; });
        add("tall viewport, big step", 700, [](Step &s) { s.before = view(0, 1000); });
        const auto bars = [](int header, int footer, int step) {
            return [=](Step &s) {
                s.before.header = header;
                s.before.footer = footer;
                s.fixedTop = header;
                s.fixedBottom = footer;
                s.sure = step != 66;
            };
        };
        add("sticky header and footer", 60, bars(48, 30, 60));
        add("sticky bars, step near the moving height", 300, bars(48, 30, 300));
        add("header only", 44, bars(56, 0, 44));
        add("footer only", 44, bars(0, 40, 44));
        add("neither", 44, bars(0, 0, 44));
        add("both, large step", 250, bars(32, 32, 250));
        add("a clock ticks in the footer", 66, [&](Step &s) {
            bars(32, 32, 66)(s);
            s.before.footerClock = 41;
        });
        add("bars, scrollbar, caret and animation", 80, [](Step &s) {
            s.before.header = 48;
            s.before.footer = 30;
            s.before.scrollbarWidth = 12;
            s.before.caret = true;
            s.before.animationPhase = 0;
        });
        // Lines told apart only by numbers in a narrow strip: a shift by whole lines differs only there.
        add("numbers in a narrow strip", 150, [](Step &s) { s.column = "numbers"; });
        add("numbers, few lines overlap", 240, [](Step &s) { s.column = "numbers"; });
        add("numbers, scrollbar on the other side", 150, [](Step &s) {
            s.column = "numbers";
            s.before.scrollbarWidth = 15;
        });
        // A header that moves by other rows than the content is left out above it.
        const auto header = [](QRect before, QRect after) {
            return [=](Step &s) {
                s.headerBefore = before;
                s.headerAfter = after;
                s.fixedTop = after.isEmpty() ? 0 : after.bottom() + 1;
                s.sure = false;
            };
        };
        add("header sticks after the first step", 60, header(QRect(0, 20, 1, 48), QRect(0, 0, 1, 48)));
        add("header sticks, large step", 220, header(QRect(0, 32, 1, 56), QRect(0, 0, 1, 56)));
        add("header slides in", 80, header(QRect(), QRect(0, 0, 1, 56)));
        add("header shrinks", 100, header(QRect(0, 0, 1, 90), QRect(0, 0, 1, 48)));
        add("header goes away", 80, header(QRect(0, 0, 1, 56), QRect()));
        // An element floating over the lower part of the content is left out with the rows below it;
        // a fixed side panel or an element high up is no such thing.
        const auto floating = [](QRect element, bool panel, bool below) {
            return [=](Step &s) {
                s.element = element;
                s.panel = panel;
                s.margin = 120;
                s.fixedBottom = below ? 400 - element.top() : 0;
                s.sure = false;
            };
        };
        add("button over the margin", 120, floating(QRect(668, 320, 56, 56), false, true));
        add("button over the text", 180, floating(QRect(560, 300, 60, 60), false, true));
        add("button, small step", 22, floating(QRect(560, 300, 60, 60), false, true));
        // Nothing the button covers in one frame is in view in the other: only the rows it spans,
        // taller than a line of text, tell it from text that stands at the same place.
        const auto overColumn = [=](QRect element) {
            return [=](Step &s) {
                floating(element, false, true)(s);
                s.margin = 0;
            };
        };
        add("button, a step past the rows above it", 340, overColumn(QRect(560, 300, 60, 60)));
        add("small button, a step past the rows above it", 340, overColumn(QRect(572, 320, 36, 36)));
        add("chat panel", 150, floating(QRect(420, 232, 200, 150), true, true));
        add("side panel", 150, floating(QRect(0, 0, 120, 400), true, false));
        add("button high up", 150, floating(QRect(560, 30, 60, 60), false, false));
        // A scrollbar inside the region moves its own way: its thumb by more than its height, an
        // overlay one appears or fades; only columns near it are left out.
        const auto scrollbar
            = [](Scrollbar bar, int before, int after, QColor colour = QColor(193, 193, 193)) {
                  return [=](Step &s) {
                      s.column = "figures";
                      s.bar = bar;
                      s.thumbBefore = before;
                      s.thumbAfter = after;
                      s.thumbAfterColour = colour;
                  };
              };
        Scrollbar right;
        add("thumb moves by more than half its height", 120, scrollbar(right, 100, 140));
        add("thumb moves past its height", 220, scrollbar(right, 100, 190));
        add("thumb moves, small step", 40, scrollbar(right, 100, 135));
        add("thumb moves, large step", 330, scrollbar(right, 40, 300));
        right.width = 30;
        add("wide scrollbar of a scaled screen", 120, scrollbar(right, 100, 160));
        right.width = 15;
        right.inset = 6;
        add("window edge beyond the scrollbar", 120, scrollbar(right, 100, 150));
        right.inset = 10;
        add("scrollbar across two bands", 120, scrollbar(right, 100, 150));
        Scrollbar overlay { false, 2, 10, 110, false, true };
        add("overlay scrollbar appears", 120, scrollbar(overlay, -1, 160));
        add("overlay scrollbar fades", 120, scrollbar(overlay, 100, 150, QColor(225, 225, 225)));
        add("stippled scrollbar on the left", 150,
            scrollbar(Scrollbar { true, 0, 14, 90, true, false }, 60, 120, QColor(90, 90, 90)));
        // The pixels alone cannot tell these.
        add("every line alike", 44, [](Step &s) {
            s.column = "alike";
            s.confident = false;
        });
        add("step beyond the viewport", 420, [](Step &s) { s.confident = false; });
        // Identical blocks: the multi-notch step the capture asked for was read as one backwards.
        // A step longer than their period fits a shorter one as well: where the content ended, that
        // shorter step would look the same.
        const auto blocks
            = [](QList<int> expected, bool confident, ScrollingAlignment::Basis basis, bool shorter = false) {
                  return [=](Step &s) {
                      s.column = "blocks";
                      s.before = view(700);
                      s.expected = expected;
                      s.confident = confident;
                      s.basis = basis;
                      s.shorter = shorter;
                  };
              };
        using Basis = ScrollingAlignment::Basis;
        add("blocks, nothing expected", 200, blocks({}, false, Basis::image));
        add("blocks, several notches", 200, blocks({ 200 }, true, Basis::expectedStep, true));
        add("blocks, notches taken for still", 180, blocks({ 60, 180 }, true, Basis::expectedStep, true));
        add("blocks, a step under one period", 50, blocks({ 50 }, true, Basis::expectedStep));
        add("blocks, a step a row short of the period", 69, blocks({ 69 }, true, Basis::expectedStep));
        add("blocks, stopped short at the end", 34, blocks({ 60 }, true, Basis::image));
        add("blocks, the expected step does not fit", 200, blocks({ 230 }, false, Basis::image));
        // Over rows that repeat, an overlay thumb that faded where it stood says the view did not
        // move, though the expected step fits as well; one that moved a row with it, lit up or not,
        // leaves the step standing.
        const auto thumbOverBlocks = [overlay](int after, QColor colour, Basis basis) {
            return [=](Step &s) {
                s.column = "blocks";
                s.before = view(700);
                s.expected = { 70 };
                s.basis = basis;
                s.bar = overlay;
                s.thumbBefore = 100;
                s.thumbAfter = after;
                s.thumbAfterColour = colour;
            };
        };
        add("blocks, thumb faded where it stood", 0,
            thumbOverBlocks(100, QColor(225, 225, 225), Basis::image));
        add("blocks, thumb moved a row", 70,
            thumbOverBlocks(101, QColor(193, 193, 193), Basis::expectedStep));
        add("blocks, thumb lit up and moved a row", 70,
            thumbOverBlocks(101, QColor(120, 120, 120), Basis::expectedStep));
        add("text overrules the expected step", 120, [](Step &s) { s.expected = { 200 }; });
        // Rows of one colour, or a flat panel whose frame falls inside bands, neither confirm nor
        // refute the expected step; rows with text still do.
        const auto flat = [](const char *column, int scroll, QList<int> expected, Basis basis) {
            return [=](Step &s) {
                s.column = column;
                s.before = view(scroll);
                s.expected = expected;
                s.basis = basis;
            };
        };
        add("rows of one colour tell nothing", 80, flat("blank", 340, { 80 }, Basis::unchecked));
        add("into a framed panel", 80, flat("panel", 340, { 80 }, Basis::unchecked));
        add("framed panel, the text left overrules", 40, flat("panel", 300, { 80 }, Basis::image));
    }
    void aligns()
    {
        QFETCH(Step, s);
        const QImage document = documentOf(s.column);
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(
            *frameOf(document, s, false), *frameOf(document, s, true), s.expected);
        const QString answer = QString::asprintf("offset %d, confidence %.2f, fixed %d/%d", alignment.offset,
            alignment.confidence, alignment.fixedTop, alignment.fixedBottom);
        QVERIFY2(alignment.isConfident() == s.confident, qPrintable(answer));
        if (!s.confident)
            return;
        QCOMPARE(alignment.offset, s.step);
        QCOMPARE(alignment.basis, s.basis);
        QCOMPARE(alignment.fitsShorterStep, s.shorter);
        QVERIFY(!alignment.identical);
        QVERIFY2(!s.sure || s.basis != ScrollingAlignment::Basis::image || alignment.confidence >= 0.8,
            qPrintable(answer));
        QVERIFY2(s.fixedTop < 0 || (alignment.fixedTop >= s.fixedTop && alignment.fixedTop <= s.fixedTop + 8),
            qPrintable(answer));
        QVERIFY2(s.fixedBottom < 0
                || (alignment.fixedBottom >= s.fixedBottom && alignment.fixedBottom <= s.fixedBottom + 8),
            qPrintable(answer));
        QCOMPARE(alignment.period, s.column == "blocks" ? 70 : 0);
        const int edge = s.bar ? s.bar->inset + s.bar->width + 40 : 0;
        for (const auto &[left, right] : s.bar ? alignment.excludedColumns : QList<std::pair<int, int>>())
            QVERIFY(s.bar->left ? right <= edge : left >= document.width() - edge);
        if (s.before.scrollbarWidth > 0 && s.column != "numbers") {
            // The scrollbar's columns are left out, and nothing far from it.
            QVERIFY(!alignment.excludedColumns.isEmpty());
            QCOMPARE(alignment.excludedColumns.last().second, document.width());
            QVERIFY(
                alignment.excludedColumns.first().first >= document.width() - s.before.scrollbarWidth - 80);
        }
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
    // A still view tells a step of `shift` rows apart only where its rows, moved by it, would not
    // look the same: one colour hides any step, lines that repeat hide a step of their period,
    // and a step that leaves only a gap between lines in view hides nothing.
    void hidesStep_data()
    {
        QTest::addColumn<int>("lines"); // 0: one colour; else distinct lines, repeating after so many
        QTest::addColumn<int>("shift");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("one colour") << 0 << 60 << true;
        QTest::newRow("one colour, a step as tall as the view") << 0 << 240 << true;
        QTest::newRow("lines repeating, a step of their period") << 2 << 40 << true;
        QTest::newRow("lines repeating, a step of half their period") << 2 << 20 << false;
        QTest::newRow("distinct lines") << 12 << 60 << false;
        QTest::newRow("distinct lines, a gap between them left in view") << 12 << 235 << false;
        QTest::newRow("lines repeating, a gap between them left in view") << 2 << 235 << false;
    }
    void hidesStep()
    {
        QFETCH(int, lines);
        QFETCH(int, shift);
        QFETCH(bool, hidden);
        // Lines of 10 rows every 20, each its own length, beginning after a gap of 5 rows.
        QImage image(320, 240, QImage::Format_RGB32);
        image.fill(QColor(250, 248, 240));
        QPainter painter(&image);
        for (int line = 0; lines > 0 && line < 12; ++line)
            painter.fillRect(QRect(8, 5 + 20 * line, 40 + 20 * (line % lines), 10), QColor(30, 30, 30));
        painter.end();
        const ScrollingFramePtr frame = ScrollingFrameAnalyzer::prepareFrame(image);
        QCOMPARE(ScrollingFrameAnalyzer::hidesStep(*frame, 0, image.height(), shift), hidden);
    }

    // A caret that blinks or a corner that animates is no movement; frames of another size never
    // align.
    void noMovement_data()
    {
        QTest::addColumn<bool>("caret");
        QTest::addColumn<bool>("animation");
        QTest::addColumn<int>("width"); // of the second frame
        QTest::newRow("identical") << false << false << 640;
        QTest::newRow("caret blinked") << true << false << 640;
        QTest::newRow("corner animated") << false << true << 640;
        QTest::newRow("narrower frame") << false << false << 320;
    }
    void noMovement()
    {
        QFETCH(bool, caret);
        QFETCH(bool, animation);
        QFETCH(int, width);
        const QImage document = SyntheticColumn::document(Style {});
        Viewport before = view(0);
        before.caret = caret;
        before.animationPhase = animation ? 0 : -1;
        Viewport after = before;
        after.caret = false;
        after.animationPhase = animation ? 3 : -1;
        const auto previous
            = ScrollingFrameAnalyzer::prepareFrame(SyntheticColumn::viewport(document, before));
        const auto current = ScrollingFrameAnalyzer::prepareFrame(
            SyntheticColumn::viewport(document, after).copy(0, 0, width, 400));
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(*previous, *current);
        const double difference = ScrollingFrameAnalyzer::frameDifference(*previous, *current);
        if (width != document.width()) {
            QCOMPARE(alignment.confidence, 0.0);
            QCOMPARE(difference, 1.0);
            return;
        }
        QCOMPARE(alignment.offset, 0);
        QVERIFY(alignment.isConfident());
        QCOMPARE(alignment.identical, !caret && !animation);
        QVERIFY(caret || animation ? difference > 0 && difference < 0.01 : difference == 0.0);
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
