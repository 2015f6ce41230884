// Rectangles of the root window read through shared memory: the same pixels Qt's own grab reads,
// at any size one after another, and nothing for rectangles off the screen or a server without
// shared memory.
#include "Platform/X11RootGrab.h"
#include "PrivateXvfb.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

// A window of colour stripes and diagonal lines, so that any shift or swapped channel shows.
class Pattern : public QWidget
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        for (int y = 0; y < height(); y += 7)
            painter.fillRect(0, y, width(), 7, QColor::fromHsv((y * 5) % 360, 200, 230));
        painter.setPen(QPen(Qt::black, 2));
        for (int x = -height(); x < width(); x += 23)
            painter.drawLine(x, 0, x + height(), height());
    }
};

} // namespace

class TestX11RootGrab : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatIsOnScreen_data()
    {
        QTest::addColumn<QList<QRect>>("rects"); // read one after another with one reader
        QTest::addColumn<bool>("readable");
        QTest::newRow("inside the window") << QList { QRect(130, 140, 300, 200) } << true;
        QTest::newRow("sizes one after another")
            << QList { QRect(110, 110, 64, 48), QRect(101, 150, 611, 401), QRect(140, 120, 33, 500) } << true;
        QTest::newRow("the whole screen") << QList { QRect(0, 0, 1920, 1080) } << true;
        QTest::newRow("partly off the screen") << QList { QRect(1800, 1000, 200, 200) } << false;
        QTest::newRow("empty") << QList { QRect(100, 100, 0, 40) } << false;
    }
    void readsWhatIsOnScreen()
    {
        QFETCH(QList<QRect>, rects);
        QFETCH(bool, readable);
        Pattern window;
        window.setWindowFlag(Qt::FramelessWindowHint);
        window.setGeometry(100, 100, 640, 560);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        X11RootGrab reader;
        QVERIFY(reader.isAvailable());
        QScreen *screen = QGuiApplication::primaryScreen();
        for (const QRect &rect : rects) {
            // Drawn once Qt's own grab of the window's middle shows the pattern.
            QTRY_VERIFY(screen->grabWindow(0, 300, 300, 1, 1).toImage().pixelColor(0, 0) != Qt::black
                || screen->grabWindow(0, 301, 300, 1, 1).toImage().pixelColor(0, 0) != Qt::black);
            const QImage read = reader.grab(rect);
            QCOMPARE(!read.isNull(), readable);
            if (!readable)
                continue;
            QCOMPARE(read.size(), rect.size());
            const QImage truth = screen->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
                                     .toImage()
                                     .convertToFormat(QImage::Format_RGB32);
            QCOMPARE(read.convertToFormat(QImage::Format_RGB32), truth);
        }
    }

    // Reads share buffers a reader recycles: what the caller holds must never change under it,
    // whether later reads come, reads let go of are read into again, or the reader goes first.
    void heldReadsKeepTheirPixels_data()
    {
        QTest::addColumn<int>("laterReads");
        QTest::addColumn<bool>("letLaterReadsGo");
        QTest::addColumn<bool>("readerGoesFirst");
        QTest::newRow("one later read") << 1 << false << false;
        QTest::newRow("reads let go and read into again") << 12 << true << false;
        QTest::newRow("many held at once") << 9 << false << false;
        QTest::newRow("the reader goes first") << 6 << true << true;
    }
    void heldReadsKeepTheirPixels()
    {
        QFETCH(int, laterReads);
        QFETCH(bool, letLaterReadsGo);
        QFETCH(bool, readerGoesFirst);
        QWidget window;
        window.setWindowFlag(Qt::FramelessWindowHint);
        window.setGeometry(200, 200, 300, 240);
        window.setAutoFillBackground(true);
        const auto paint = [&window](const QColor &colour) {
            QPalette palette = window.palette();
            palette.setColor(QPalette::Window, colour);
            window.setPalette(palette);
            window.update();
        };
        paint(Qt::red);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect rect(210, 210, 200, 150);
        auto reader = std::make_unique<X11RootGrab>();
        QVERIFY(reader->isAvailable());
        QImage held;
        QTRY_VERIFY((held = reader->grab(rect)).pixelColor(5, 5) == QColor(Qt::red));
        const QImage truth = held.copy();

        paint(Qt::blue);
        QList<QImage> later;
        for (int i = 0; i < laterReads; ++i) {
            QImage read;
            QTRY_VERIFY((read = reader->grab(rect)).pixelColor(5, 5) == QColor(Qt::blue));
            // Written into, as a caller may: its own pixels only.
            read.setPixelColor(0, 0, Qt::green);
            if (!letLaterReadsGo)
                later << read;
        }
        if (readerGoesFirst)
            reader.reset();
        QCOMPARE(held, truth);
        for (const QImage &read : later) {
            QCOMPARE(read.pixelColor(0, 0), QColor(Qt::green));
            QCOMPARE(read.pixelColor(5, 5), QColor(Qt::blue));
        }
        if (reader) {
            const QImage fresh = reader->grab(rect);
            QCOMPARE(fresh.pixelColor(0, 0), QColor(Qt::blue));
        }
    }

    void withoutSharedMemoryNothingIsRead()
    {
        PrivateXvfb bare({ QStringLiteral("-extension"), QStringLiteral("MIT-SHM") });
        QVERIFY(bare.isRunning());
        const QByteArray own = qgetenv("DISPLAY");
        qputenv("DISPLAY", bare.display().toLocal8Bit());
        X11RootGrab reader;
        qputenv("DISPLAY", own);
        QVERIFY(!reader.isAvailable());
        QVERIFY(reader.grab(QRect(0, 0, 100, 100)).isNull());
    }
};

int main(int argc, char **argv)
{
    return runOnPrivateDisplay<TestX11RootGrab>(argc, argv);
}

#include "tst_X11RootGrab.moc"
