// The overlay's own rules on injected stills and an injected presentation (no X server needed).

#include "Capture/SelectionOverlay.h"

#include <QApplication>
#include <QTest>

using namespace std::chrono_literals;

namespace {

DisplaySnapshot still(QColor fill, QSize points = QSize(320, 200), double scale = 2.0)
{
    QImage image(points * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    image.setDevicePixelRatio(scale);
    return { "virtual-1", QRect(QPoint(0, 0), points), image };
}

int errorOf(const Task<CapturedRegion> &task)
{
    try {
        task.result();
    } catch (const ScreenCaptureError &error) {
        return error.code();
    }
    return -1;
}

void drag(QWidget *window, QPoint from, QPoint to)
{
    QTest::mousePress(window, Qt::LeftButton, {}, from);
    QTest::mouseMove(window, to);
    QTest::mouseRelease(window, Qt::LeftButton, {}, to);
}

} // namespace

class TestSelectionOverlay : public QObject
{
    Q_OBJECT

    int m_presented = 0;
    SelectionOverlayCoordinator::PresentWindows presenter(bool answer)
    {
        return [this, answer](const QList<QWidget *> &windows) {
            ++m_presented;
            for (QWidget *window : windows)
                window->show();
            return answer;
        };
    }

private slots:
    void init() { m_presented = 0; }

    void blankSurface()
    {
        DisplayChangeCenter center;
        SelectionOverlayCoordinator overlay(&center, 120s, CaptureSelectionMode::region, presenter(true));
        overlay.prepareForSnapshotCapture();
        Task<CapturedRegion> task = overlay.select({ still(Qt::transparent) });
        QTRY_COMPARE(overlay.windows().size(), 1);
        drag(overlay.windows().front(), QPoint(10, 10), QPoint(100, 80));
        QTRY_VERIFY(task.isFinished());
        QCOMPARE(errorOf(task), int(ScreenCaptureError::blankSurface));
        QCOMPARE(ScreenCaptureError(ScreenCaptureError::blankSurface).description(),
            QString("The selected surface returned no visible pixels. It may be protected."));
    }

    void scaledStillGivesItsOwnPixels()
    {
        DisplayChangeCenter center;
        SelectionOverlayCoordinator overlay(&center, 120s, CaptureSelectionMode::region, presenter(true));
        overlay.prepareForSnapshotCapture();
        DisplaySnapshot snapshot = still(Qt::white);
        snapshot.image.setPixelColor(21, 21, Qt::red); // point (10.5, 10.5)
        Task<CapturedRegion> task = overlay.select({ snapshot });
        QTRY_COMPARE(overlay.windows().size(), 1);
        drag(overlay.windows().front(), QPoint(40, 30), QPoint(10, 10));
        QTRY_VERIFY(task.isFinished());
        const CapturedRegion region = task.result();
        QCOMPARE(region.displayID, QString("virtual-1"));
        QCOMPARE(region.image.size(), QSize(60, 40));
        QCOMPARE(region.image.pixelColor(1, 1), QColor(Qt::red));
        QCOMPARE(region.image.devicePixelRatio(), 1.0);
    }

    void refusedBeforeShowing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("presentations");
        QTest::newRow("no stills") << "empty" << int(ScreenCaptureError::noDisplays) << 0;
        QTest::newRow("keyboard refused") << "refuse" << int(ScreenCaptureError::overlayUnavailable) << 1;
        QTest::newRow("canceled while the stills were read")
            << "cancelFirst" << int(ScreenCaptureError::canceled) << 0;
        QTest::newRow("stills accepted under an older generation")
            << "stale" << int(ScreenCaptureError::displaysChanged) << 0;
    }

    void refusedBeforeShowing()
    {
        QFETCH(QString, how);
        QFETCH(int, expected);
        QFETCH(int, presentations);
        DisplayChangeCenter center;
        SelectionOverlayCoordinator overlay(
            &center, 120s, CaptureSelectionMode::region, presenter(how != "refuse"));
        overlay.prepareForSnapshotCapture();
        if (how == "cancelFirst")
            overlay.cancel();
        if (how == "stale") {
            overlay.setAcceptedSnapshotGeneration(overlay.screenChangeGeneration());
            emit center.displaysChanged();
        }
        Task<CapturedRegion> task
            = overlay.select(how == "empty" ? QList<DisplaySnapshot>() : QList { still(Qt::white) });
        QTRY_VERIFY(task.isFinished());
        QCOMPARE(errorOf(task), expected);
        QCOMPARE(m_presented, presentations);
        QVERIFY(overlay.windows().isEmpty());
    }

    // A new round after an ended one starts afresh.
    void preparingAgainReopens()
    {
        DisplayChangeCenter center;
        SelectionOverlayCoordinator overlay(&center, 120s, CaptureSelectionMode::region, presenter(true));
        overlay.prepareForSnapshotCapture();
        overlay.cancel();
        emit center.displaysChanged();
        overlay.prepareForSnapshotCapture();
        QVERIFY(!overlay.acceptedSnapshotGeneration());
        Task<CapturedRegion> task = overlay.select({ still(Qt::white) });
        QTRY_COMPARE(overlay.windows().size(), 1);
        QTest::keyClick(overlay.windows().front(), Qt::Key_Escape);
        QTRY_VERIFY(task.isFinished());
        QCOMPARE(errorOf(task), int(ScreenCaptureError::canceled));
    }

    // The time-out counts from the moment the overlay shows, on the injected clock.
    void timeoutOnTheClock()
    {
        DisplayChangeCenter center;
        ManualTaskClock clock;
        SelectionOverlayCoordinator overlay(
            &center, 120s, CaptureSelectionMode::region, presenter(true), clock);
        overlay.prepareForSnapshotCapture();
        Task<CapturedRegion> task = overlay.select({ still(Qt::white) });
        QTRY_COMPARE(clock.pendingTimers(), 1);
        clock.advance(119s);
        QTest::qWait(10);
        QVERIFY(!task.isFinished());
        clock.advance(1s);
        QTRY_VERIFY(task.isFinished());
        QCOMPARE(errorOf(task), int(ScreenCaptureError::selectionTimedOut));
        QCOMPARE(clock.pendingTimers(), 0);
        QVERIFY(overlay.windows().isEmpty());
    }
};

QTEST_MAIN(TestSelectionOverlay)
#include "tst_SelectionOverlay.moc"
