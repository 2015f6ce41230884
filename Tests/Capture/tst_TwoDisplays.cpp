// Two displays at a fractional scale, on an X server of this test's own: one still per display,
// one overlay window per display, and a crop from the second display equal to the server's pixels.

#include "Capture/ScreenCaptureService.h"
#include "Capture/SelectionOverlay.h"
#include "PrivateXvfb.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

// The server's own pixels of one X screen, read without Qt.
QImage serverPixels(int screenNumber, QRect rect)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    xcb_get_image_reply_t *reply = xcb_get_image_reply(c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, it.data->root, int16_t(rect.x()), int16_t(rect.y()),
            uint16_t(rect.width()), uint16_t(rect.height()), ~0u),
        nullptr);
    QImage image;
    if (reply && xcb_get_image_data_length(reply) == rect.width() * rect.height() * 4)
        image = QImage(xcb_get_image_data(reply), rect.width(), rect.height(), QImage::Format_RGB32).copy();
    std::free(reply);
    xcb_disconnect(c);
    return image;
}

bool sameImage(const QImage &a, const QImage &b)
{
    return a.size() == b.size()
        && a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

template <typename T> T finished(const Task<T> &task)
{
    [&] { QTRY_VERIFY(task.isFinished()); }();
    return task.result();
}

} // namespace

class TestTwoDisplays : public QObject
{
    Q_OBJECT

    QList<QWidget *> m_windows;

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::screens().size(), 2);
        const QList<QColor> colors { QColor(0x1b, 0x5e, 0x20), QColor(0xbf, 0x36, 0x0c) };
        for (int i = 0; i < 2; ++i) {
            auto *window = new QWidget(nullptr, Qt::FramelessWindowHint);
            window->setPalette(QPalette(colors[i]));
            window->setAutoFillBackground(true);
            window->setScreen(QGuiApplication::screens()[i]);
            window->setGeometry(
                QRect(QGuiApplication::screens()[i]->geometry().topLeft() + QPoint(40, 40), QSize(300, 200)));
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            m_windows << window;
            // On screen once the server shows its colour (40 points in, at 1.5 pixels a point).
            QTRY_COMPARE(serverPixels(i, QRect(90, 90, 1, 1)).pixelColor(0, 0), colors[i]);
        }
    }

    void cleanupTestCase() { qDeleteAll(m_windows); }

    // One still per display, equal to the server's pixels; a drag in points on the second display
    // crops exactly the server's pixels under it.
    void selectionOnTheSecondDisplay()
    {
        ScreenCaptureService service;
        SelectionOverlayCoordinator overlay(
            DisplayChangeCenter::defaultCenter(), 120s, CaptureSelectionMode::scrolling);
        overlay.prepareForSnapshotCapture();
        const QList<DisplaySnapshot> stills
            = finished(service.snapshots([&] { return overlay.screenChangeGeneration(); },
                [&](quint64 generation) { overlay.setAcceptedSnapshotGeneration(generation); }));
        QCOMPARE(stills.size(), 2);
        const QList<QSize> sizes { QSize(900, 600), QSize(750, 450) };
        for (int i = 0; i < 2; ++i) {
            QScreen *screen = QGuiApplication::screens()[i];
            QCOMPARE(stills[i].displayID, ScreenCaptureService::displayID(screen));
            QCOMPARE(stills[i].screenFrame, screen->geometry());
            QCOMPARE(stills[i].image.devicePixelRatio(), 1.5);
            QVERIFY(sameImage(stills[i].image, serverPixels(i, QRect(QPoint(0, 0), sizes[i]))));
        }
        QVERIFY(stills[0].displayID != stills[1].displayID);
        Task<CapturedRegion> selection = overlay.select(stills);
        QTRY_COMPARE(overlay.windows().size(), 2);
        QTRY_VERIFY(overlay.windows()[1]->isVisible());
        QCOMPARE(overlay.windows()[1]->screen(), QGuiApplication::screens()[1]);

        QPointer<QWidget> second = overlay.windows()[1];
        QTest::mousePress(second, Qt::LeftButton, {}, QPoint(21, 15));
        QTest::mouseMove(second, QPoint(140, 101));
        QTest::mouseRelease(second, Qt::LeftButton, {}, QPoint(140, 101));
        const CapturedRegion region = finished(selection);
        QCOMPARE(region.displayID, stills[1].displayID);
        QVERIFY(region.scrollingGeometry);
        // 21..140 points at 1.5 are pixels 31.5..210: every touched pixel, from 31 to 209.
        const QRect pixels(31, 22, 179, 130);
        QCOMPARE(region.scrollingGeometry->pixelRect, pixels);
        QVERIFY(sameImage(region.image, stills[1].image.copy(pixels)));
        // What the overlay covered is drawn again once it has gone.
        QTRY_VERIFY(!second || !second->isVisible());
        QTRY_VERIFY(sameImage(region.image, serverPixels(1, pixels)));
    }
};

int main(int argc, char **argv)
{
    PrivateXvfb server({ "-screen", "0", "900x600x24", "-screen", "1", "750x450x24" });
    if (!server.isRunning()) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // A fractional scale: every point is 1.5 pixels. (Per-screen factors are mixed up by Qt 6.4
    // across separate X screens, so both displays share one.)
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    TestTwoDisplays test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TwoDisplays.moc"
