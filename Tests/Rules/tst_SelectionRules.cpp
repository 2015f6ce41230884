#include "Rules/SelectionRules.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinite = std::numeric_limits<double>::infinity();

// Every pixel a different colour, so a shifted or scaled crop cannot match by accident.
QImage noise(QSize size, double devicePixelRatio = 1.0)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

} // namespace

class TestSelectionRules : public QObject
{
    Q_OBJECT

private slots:
    void selectionRect_data()
    {
        QTest::addColumn<QPointF>("anchor");
        QTest::addColumn<QPointF>("current");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("down right") << QPointF(10, 20) << QPointF(110, 70) << QRectF(10, 20, 100, 50);
        QTest::newRow("up left") << QPointF(110, 70) << QPointF(10, 20) << QRectF(10, 20, 100, 50);
        QTest::newRow("up right") << QPointF(10, 70) << QPointF(110, 20) << QRectF(10, 20, 100, 50);
        QTest::newRow("past the edges is clipped")
            << QPointF(700, 500) << QPointF(950, -40) << QRectF(700, 0, 100, 500);
        QTest::newRow("click keeps its place") << QPointF(30, 40) << QPointF(30, 40) << QRectF(30, 40, 0, 0);
        QTest::newRow("outside entirely") << QPointF(-50, -50) << QPointF(-10, -10) << QRectF();
        QTest::newRow("not a number") << QPointF(notANumber, 10) << QPointF(100, 100) << QRectF();
        QTest::newRow("infinite end") << QPointF(10, 10) << QPointF(infinite, infinite) << QRectF();
    }

    void selectionRect()
    {
        QFETCH(QPointF, anchor);
        QFETCH(QPointF, current);
        QFETCH(QRectF, expected);
        QCOMPARE(SelectionRules::selectionRect(anchor, current, QRectF(0, 0, 800, 600)), expected);
    }

    void largeEnough_data()
    {
        QTest::addColumn<QRectF>("selection");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("10 x 10") << QRectF(0, 0, 10, 10) << true;
        QTest::newRow("5 x 5") << QRectF(3, 3, 5, 5) << false;
        QTest::newRow("wide but 9.9 tall") << QRectF(0, 0, 500, 9.9) << false;
        QTest::newRow("tall but 9.9 wide") << QRectF(0, 0, 9.9, 500) << false;
        QTest::newRow("click") << QRectF(30, 30, 0, 0) << false;
        QTest::newRow("not a number") << QRectF(0, 0, notANumber, 50) << false;
    }

    void largeEnough()
    {
        QFETCH(QRectF, selection);
        QFETCH(bool, accepted);
        QCOMPARE(SelectionRules::isLargeEnough(selection), accepted);
    }

    void pixelRect_data()
    {
        QTest::addColumn<QRectF>("selection");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QSize>("imageSize");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("1x whole points")
            << QRectF(10, 20, 30, 40) << 1.0 << QSize(800, 600) << QRect(10, 20, 30, 40);
        QTest::newRow("2x doubles") << QRectF(10, 20, 30, 40) << 2.0 << QSize(1600, 1200)
                                    << QRect(20, 40, 60, 80);
        QTest::newRow("1.5x touches partial pixels")
            << QRectF(1, 1, 11, 11) << 1.5 << QSize(1200, 900) << QRect(1, 1, 17, 17);
        QTest::newRow("1.25x at whole pixels")
            << QRectF(4, 8, 16, 8) << 1.25 << QSize(1000, 750) << QRect(5, 10, 20, 10);
        QTest::newRow("float noise does not add a pixel")
            << QRectF(0.1, 0.1, 0.2, 0.2) << 10.0 << QSize(100, 100) << QRect(1, 1, 2, 2);
        QTest::newRow("half points at 2x")
            << QRectF(10.5, 10.5, 10, 10) << 2.0 << QSize(100, 100) << QRect(21, 21, 20, 20);
        QTest::newRow("clamped to the image")
            << QRectF(790, 590, 50, 50) << 1.0 << QSize(800, 600) << QRect(790, 590, 10, 10);
        QTest::newRow("outside the image") << QRectF(900, 700, 50, 50) << 1.0 << QSize(800, 600) << QRect();
        QTest::newRow("huge") << QRectF(-1e300, -1e300, 2e300, 2e300) << 2.0 << QSize(64, 32)
                              << QRect(0, 0, 64, 32);
        QTest::newRow("zero scale") << QRectF(0, 0, 10, 10) << 0.0 << QSize(64, 32) << QRect();
        QTest::newRow("NaN scale") << QRectF(0, 0, 10, 10) << notANumber << QSize(64, 32) << QRect();
        QTest::newRow("infinite scale") << QRectF(0, 0, 10, 10) << infinite << QSize(64, 32) << QRect();
        QTest::newRow("empty selection") << QRectF(5, 5, 0, 0) << 1.0 << QSize(64, 32) << QRect();
        QTest::newRow("empty image") << QRectF(0, 0, 10, 10) << 1.0 << QSize(0, 0) << QRect();
    }

    void pixelRect()
    {
        QFETCH(QRectF, selection);
        QFETCH(double, scale);
        QFETCH(QSize, imageSize);
        QFETCH(QRect, expected);
        QCOMPARE(SelectionRules::pixelRect(selection, scale, imageSize), expected);
    }

    void displayScale_data()
    {
        QTest::addColumn<QSize>("imageSize");
        QTest::addColumn<double>("imageRatio");
        QTest::addColumn<QSizeF>("displaySize");
        QTest::addColumn<double>("expected");
        QTest::newRow("plain") << QSize(800, 600) << 1.0 << QSizeF(800, 600) << 1.0;
        QTest::newRow("measured 2x") << QSize(1600, 1200) << 1.0 << QSizeF(800, 600) << 2.0;
        // 1.5 of 800 pixels is 533.33 points; the still's own ratio is exact where the sizes are rounded.
        QTest::newRow("carried 1.5x") << QSize(800, 600) << 1.5 << QSizeF(533, 400) << 1.5;
        QTest::newRow("no display size") << QSize(800, 600) << 1.0 << QSizeF(0, 0) << 0.0;
        QTest::newRow("NaN display size") << QSize(800, 600) << 1.0 << QSizeF(notANumber, 600) << 0.0;
    }

    void displayScale()
    {
        QFETCH(QSize, imageSize);
        QFETCH(double, imageRatio);
        QFETCH(QSizeF, displaySize);
        QFETCH(double, expected);
        QImage still(imageSize, QImage::Format_RGB32);
        still.setDevicePixelRatio(imageRatio);
        QCOMPARE(SelectionRules::displayScale(still, displaySize), expected);
    }

    // Selection, scale and crop together: the crop is the still's own pixels, not a resampling.
    void cropIsExactAtAnyScale_data()
    {
        QTest::addColumn<double>("scale");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("1.25x") << 1.25;
        QTest::newRow("1.5x") << 1.5;
        QTest::newRow("2x") << 2.0;
        QTest::newRow("3x") << 3.0;
    }

    void cropIsExactAtAnyScale()
    {
        QFETCH(double, scale);
        const QSize points(400, 300);
        const QImage still = noise(QSize(int(points.width() * scale), int(points.height() * scale)), scale);
        const QRectF selection = SelectionRules::selectionRect(
            QPointF(123.4, 77.7), QPointF(31, 250), QRectF(QPointF(0, 0), QSizeF(points)));
        const QRect pixels = SelectionRules::pixelRect(
            selection, SelectionRules::displayScale(still, QSizeF(points)), still.size());
        const QImage crop = SelectionRules::crop(still, pixels);
        QCOMPARE(crop.size(), pixels.size());
        QCOMPARE(crop.devicePixelRatio(), 1.0);
        // The selection's corners lie inside the crop's outer pixels.
        QVERIFY(pixels.left() <= selection.left() * scale && selection.left() * scale < pixels.left() + 1);
        QVERIFY(
            pixels.right() < selection.right() * scale && selection.right() * scale <= pixels.right() + 1);
        for (int y = 0; y < crop.height(); ++y) {
            for (int x = 0; x < crop.width(); ++x) {
                if (crop.pixel(x, y) != still.pixel(pixels.left() + x, pixels.top() + y))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
            }
        }
    }

    void cropRefusesRectanglesOutsideTheImage()
    {
        const QImage still = noise(QSize(20, 10));
        QVERIFY(SelectionRules::crop(still, QRect(15, 5, 10, 10)).isNull());
        QVERIFY(SelectionRules::crop(still, QRect()).isNull());
        QVERIFY(SelectionRules::crop(QImage(), QRect(0, 0, 1, 1)).isNull());
        QCOMPARE(SelectionRules::crop(still, QRect(0, 0, 20, 10)), still);
    }

    void visiblePixels_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<bool>("visible");
        QImage clear(16, 16, QImage::Format_ARGB32_Premultiplied);
        clear.fill(Qt::transparent);
        QImage onePixel = clear;
        onePixel.setPixel(15, 15, qRgba(0, 0, 0, 1));
        QImage black(16, 16, QImage::Format_RGB32);
        black.fill(Qt::black);
        QTest::newRow("fully transparent") << clear << false;
        QTest::newRow("one faint pixel") << onePixel << true;
        QTest::newRow("opaque black is content") << black << true;
        QTest::newRow("null") << QImage() << false;
    }

    void visiblePixels()
    {
        QFETCH(QImage, image);
        QFETCH(bool, visible);
        QCOMPARE(SelectionRules::hasVisiblePixels(image), visible);
    }
};

QTEST_GUILESS_MAIN(TestSelectionRules)
#include "tst_SelectionRules.moc"
