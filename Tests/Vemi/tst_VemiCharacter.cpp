#include "AppearancePalettes.h"
#include "Vemi/VemiCharacter.h"

#include <QPainter>
#include <QTest>

namespace {

bool near(const QColor &a, const QColor &b, int tolerance = 4)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class TestVemiCharacter : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        VemiMotion::setSystemReduceMotion(false);
        VemiMotion::setApplicationReduceMotionOverride(std::nullopt);
    }

    void geometryKeepsItsMinimums_data()
    {
        QTest::addColumn<qreal>("size");
        QTest::addColumn<qreal>("cornerLine");
        QTest::addColumn<qreal>("dotDiameter");
        QTest::addColumn<qreal>("dotSpacing");
        QTest::addColumn<qreal>("waveLine"); // for the state view's own waveform frame
        QTest::newRow("10") << 10.0 << 2.0 << 4.0 << 2.0 << 1.5;
        QTest::newRow("16") << 16.0 << 2.0 << 4.0 << 2.0 << 1.5;
        QTest::newRow("40") << 40.0 << 2.0 << 5.0 << 2.5 << 1.5;
        QTest::newRow("100") << 100.0 << 5.0 << 12.5 << 6.25 << 0.42 * 55 / 9;
        QTest::newRow("104") << 104.0 << 5.2 << 13.0 << 6.5 << 0.42 * 0.55 * 104 / 9;
    }

    void geometryKeepsItsMinimums()
    {
        QFETCH(qreal, size);
        QFETCH(qreal, cornerLine);
        QFETCH(qreal, dotDiameter);
        QFETCH(qreal, dotSpacing);
        QFETCH(qreal, waveLine);
        const auto layout = VemiStateView::layout(size, QPointF(0, 0), true);
        QCOMPARE(layout.cornerLineWidth, cornerLine);
        QCOMPARE(layout.cornerLength, 16.0);
        const auto dots = VemiReadingDots::geometry(size);
        QCOMPARE(dots.diameter, dotDiameter);
        QCOMPARE(dots.spacing, dotSpacing);
        const auto wave = VemiWaveform::geometry(layout.waveform.size());
        QVERIFY(qFuzzyCompare(wave.lineWidth, waveLine));
        for (int i = 0; i < 9; ++i) {
            const QLineF bar = wave.bars[i];
            QVERIFY(bar.length() >= 2.0 - 1e-9);
            QVERIFY(qFuzzyCompare(
                bar.length(), std::max(layout.waveform.height() * VemiWaveform::barFractions[i], 2.0)));
            // Centred vertically, one pitch apart.
            QVERIFY(qFuzzyCompare(bar.center().y() + 1, layout.waveform.height() / 2 + 1));
            QVERIFY(qFuzzyCompare(bar.x1(), (i + 0.5) * layout.waveform.width() / 9));
        }
        // Everything is a fraction of s, around the one centre.
        QCOMPARE(layout.frame.size(), QSizeF(1.7 * size, 1.2 * size));
        QCOMPARE(layout.character.size(), QSizeF(1.08 * size, size));
        QCOMPARE(layout.badge.center(), QPointF(0.66 * size, 0.36 * size));
        QCOMPARE(layout.badge.size(), QSizeF(0.4 * size, 0.4 * size));
        // Without the artwork the symbol fills an s square and the badge stays where it was.
        const auto fallback = VemiStateView::layout(size, QPointF(0, 0), false);
        QCOMPARE(fallback.character.size(), QSizeF(size, size));
        QCOMPARE(fallback.badge, layout.badge);
        // The natural size leaves room for every overlay.
        VemiStateView view(VemiState::reading, size);
        const qreal half = view.sizeHint().width() / 2.0;
        QVERIFY(half >= layout.dotsCentre.x() + 1.5 * dots.diameter + dots.spacing - 0.5);
        QVERIFY(half >= layout.waveform.right() - 0.5);
        QVERIFY(half >= layout.badge.right() - 0.5);
    }

    void thinWaveformAndShortBars()
    {
        const auto wave = VemiWaveform::geometry(QSizeF(9, 4));
        QCOMPARE(wave.lineWidth, 1.5);
        // 0.3 × 4 = 1.2 points: drawn 2 points tall.
        QCOMPARE(wave.bars[0].length(), 2.0);
        QCOMPARE(wave.bars[4].length(), 4.0);
    }

    void cornersAreDrawnAtTheirWidth()
    {
        // A 2-point stroke inside the frame: two pixels of coral along the left arm, none beyond.
        QImage image(60, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        VemiCaptureCorners::paint(painter, QRectF(0, 0, 60, 40), VemiPalette::vemiCoral(), 2, 16);
        painter.end();
        QVERIFY(near(image.pixelColor(0, 8), VemiPalette::vemiCoral()));
        QVERIFY(near(image.pixelColor(1, 8), VemiPalette::vemiCoral()));
        QVERIFY(near(image.pixelColor(2, 8), Qt::white));
        // Arms end at the length; the middle of each edge is empty.
        QVERIFY(near(image.pixelColor(8, 0), VemiPalette::vemiCoral()));
        QVERIFY(near(image.pixelColor(30, 0), Qt::white));
        QVERIFY(near(image.pixelColor(0, 20), Qt::white));
        QVERIFY(near(image.pixelColor(59, 39), VemiPalette::vemiCoral()));
    }

    void readingDotsBobOrStayStill()
    {
        for (int i = 0; i < 3; ++i) {
            for (const qreal t : { 0.0, 0.2, 0.5, 3.3 }) {
                const auto still = VemiReadingDots::look(i, t, true);
                QCOMPARE(still.opacity, 1.0);
                QCOMPARE(still.offset, 0.0);
            }
            // They start dim and low, each 0.1 s after the one before.
            const auto start = VemiReadingDots::look(i, 0.1 * i, false);
            QCOMPARE(start.opacity, 0.5);
            QCOMPARE(start.offset, 1.5);
            const auto top = VemiReadingDots::look(i, 0.1 * i + 0.42, false);
            QCOMPARE(top.opacity, 1.0);
            QCOMPARE(top.offset, -1.5);
            const auto back = VemiReadingDots::look(i, 0.1 * i + 0.84, false);
            QVERIFY(qAbs(back.offset - 1.5) < 1e-9);
        }
        const auto wave = VemiReadingDots::look(0, 0.3, false);
        const auto later = VemiReadingDots::look(2, 0.3, false);
        QVERIFY(wave.offset < later.offset);
    }

    void reducedMotionFadesAndStills_data()
    {
        QTest::addColumn<bool>("reduce");
        QTest::newRow("full motion") << false;
        QTest::newRow("reduced motion") << true;
    }

    void reducedMotionFadesAndStills()
    {
        QFETCH(bool, reduce);
        VemiMotion::setSystemReduceMotion(!reduce);
        QWidget window;
        VemiMotion::setReduceMotionOverride(&window, reduce);
        auto *view = new VemiStateView(VemiState::idle, 64, false, &window);
        view->resize(view->sizeHint());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        view->setState(VemiState::reading);
        QVERIFY(view->isTransitioning());
        QCOMPARE(view->transitionDuration(), reduce ? 120 : 200);
        QCOMPARE(view->incomingScale(), reduce ? 1.0 : 0.86);
        QCOMPARE(view->readingDotsAnimating(), !reduce);
        QTRY_VERIFY(!view->isTransitioning());
        QCOMPARE(view->incomingScale(), 1.0);

        // Repeating motion renders differently over time only with full motion.
        const QImage first = view->grab().toImage();
        QTest::qWait(230);
        const QImage second = view->grab().toImage();
        QCOMPARE(first == second, reduce);

        view->setState(VemiState::saved);
        QTRY_VERIFY(!view->isTransitioning());
        QVERIFY(!view->readingDotsAnimating());
    }

    void badgeIsReplacedNotMorphed()
    {
        QWidget window;
        window.setPalette(AppearancePalettes::light());
        auto *view = new VemiStateView(VemiState::saved, 80, false, &window);
        view->resize(view->sizeHint());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto layout = VemiStateView::layout(80, QRectF(view->rect()).center(), true);
        const QPoint inBadge = (layout.badge.center() + QPointF(0, layout.badge.height() * 0.38)).toPoint();
        QVERIFY(near(view->grab().toImage().pixelColor(inBadge), VemiPalette::vemiTeal()));
        view->setState(VemiState::needsAttention);
        // At the start of the change the old badge is still fully there.
        QVERIFY(near(view->grab().toImage().pixelColor(inBadge), VemiPalette::vemiTeal()));
        QTRY_VERIFY(!view->isTransitioning());
        QVERIFY(near(view->grab().toImage().pixelColor(inBadge), VemiPalette::vemiCoral()));
    }

    void nonsenseSizesAreTamed_data()
    {
        QTest::addColumn<qreal>("size");
        QTest::addColumn<qreal>("expected");
        QTest::newRow("NaN") << qQNaN() << 104.0;
        QTest::newRow("infinite") << qInf() << 104.0;
        QTest::newRow("negative") << -5.0 << 104.0;
        QTest::newRow("zero") << 0.0 << 104.0;
        QTest::newRow("huge") << 1e12 << 4096.0;
        QTest::newRow("ordinary") << 28.0 << 28.0;
    }

    void nonsenseSizesAreTamed()
    {
        QFETCH(qreal, size);
        QFETCH(qreal, expected);
        VemiStateView view(VemiState::reading, size);
        QCOMPARE(view.characterSize(), expected);
        QVERIFY(view.sizeHint().isValid());
        view.setCharacterSize(qQNaN());
        QCOMPARE(view.characterSize(), expected);
        VemiSymbolView symbol(QStringLiteral("checkmark"), VemiColor::teal, size);
        QVERIFY(symbol.sizeHint().width() >= 0 && symbol.sizeHint().width() <= 4096);
        VemiCaptureCorners corners(VemiColor::coral, size, size);
        corners.resize(40, 30);
        QVERIFY(!corners.grab().isNull());
    }

    void sentencesAndScene()
    {
        QStringList sentences;
        for (const VemiState state : VemiStates::all())
            sentences << VemiStates::sentence(state);
        QCOMPARE(sentences,
            QStringList({ "Vemi is ready", "Vemi is framing the capture", "Vemi is listening",
                "Vemi is reading the selection", "Vemi is ready for review", "Vemi saved the capture",
                "Vemi needs attention" }));
        VemiKomaScene scene(VemiState::idle);
        QCOMPARE(scene.stateView()->characterSize(), 104.0);
        QVERIFY(scene.stateView()->isDecorative());
        VemiKomaScene small(VemiState::needsAttention, 64);
        QCOMPARE(small.stateView()->characterSize(), 64.0);
        small.setState(VemiState::saved);
        QCOMPARE(small.state(), VemiState::saved);
    }

    void sceneIsFilledOutlinedAndClipped()
    {
        QWidget window;
        window.setPalette(AppearancePalettes::dark());
        auto *scene = new VemiKomaScene(VemiState::framing, std::nullopt, &window);
        // Smaller than the character's frame: the corners are cut off at the edge.
        scene->setGeometry(0, 0, 112, 96);
        window.resize(120, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage image = scene->grab().toImage();
        QCOMPARE(image.size(), QSize(112, 96));
        QVERIFY(near(image.pixelColor(3, 48), VemiPalette::vemiPanel(VemiAppearance::dark)));
        QVERIFY(!near(image.pixelColor(0, 48), VemiPalette::vemiPanel(VemiAppearance::dark), 1));
    }
};

QTEST_MAIN(TestVemiCharacter)
#include "tst_VemiCharacter.moc"
