// Wheel steps through XTest against a real window, a capture that cannot post a single step, and
// the control panel and outline kept outside the captured rectangle. Runs on an X server of its
// own, so moving the pointer disturbs no other test.
#include "Capture/ScreenCaptureService.h"
#include "Platform/XTestScrollSteps.h"
#include "PrivateXvfb.h"
#include "ScrollTargetProcess.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"
#include "Scrolling/ScrollingControlPanel.h"
#include "Scrolling/ScrollingFrameAnalyzer.h"
#include "Scrolling/ScrollingOutlineChrome.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

PrivateXvfb *server = nullptr;

QImage grab(const QRect &rect)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
        .toImage();
}

} // namespace

class TestScrollingCaptureChrome : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(server && server->isRunning()); }

    // The wheel reaches the window under the region, moves its content by the window's own step,
    // and the pointer ends where it was.
    void scrollsTheWindowAndPutsThePointerBack()
    {
        ScrollTargetProcess target;
        QVERIFY(target.start({}));
        XTestScrollSteps steps;
        QVERIFY(steps.isAvailable());
        QVERIFY(steps.isWindowViewable(target.window()));

        const QPoint rest(5, 1070);
        QCursor::setPos(rest);
        QTRY_COMPARE(steps.pointerPosition(), rest);
        QVERIFY(!steps.scrollDown(target.region().center(), 0));

        const QImage before = grab(target.region());
        QVERIFY(steps.scrollDown(target.region().center(), 2));
        QCOMPARE(steps.pointerPosition(), rest);
        // Moved, and drawn: two grabs in a row agree.
        QImage after = before;
        const auto drawn = [&] {
            const QImage next = grab(target.region());
            const bool done = next != before && next == after;
            after = next;
            return done;
        };
        QTRY_VERIFY_WITH_TIMEOUT(drawn(), 3000);

        const auto previous = ScrollingFrameAnalyzer::prepareFrame(before);
        const auto current = ScrollingFrameAnalyzer::prepareFrame(after);
        const ScrollingAlignment alignment = ScrollingFrameAnalyzer::alignFrames(*previous, *current);
        QCOMPARE(alignment.offset, 2 * 3 * 20); // two notches of three 20-pixel lines
        QVERIFY(alignment.isConfident());

        target.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!steps.isWindowViewable(target.window()), 3000);
        QVERIFY(!steps.isWindowViewable(0));
        QVERIFY(!steps.isWindowViewable(0x7ffffff0));
    }

    // A server without XTEST offers no scroll steps, and a capture that would need them fails as a
    // revoked permission before it reads anything, leaving nothing behind.
    void withoutXTestNothingIsPosted()
    {
        PrivateXvfb bare({ QStringLiteral("-extension"), QStringLiteral("XTEST") });
        QVERIFY(bare.isRunning());
        const QByteArray own = qgetenv("DISPLAY");
        qputenv("DISPLAY", bare.display().toLocal8Bit());
        XTestScrollSteps steps;
        qputenv("DISPLAY", own);
        QVERIFY(steps.isConnected());
        QVERIFY(!steps.isAvailable());
        QVERIFY(!steps.scrollDown(QPoint(100, 100), 1));

        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "80" }));
        XTestScrollSteps windows;
        ScrollingCaptureEnvironment environment;
        environment.scrollDown
            = [&steps](QPoint point, int notches) { return steps.scrollDown(point, notches); };
        environment.canPostScrollSteps = [&steps] { return steps.isAvailable(); };
        environment.isTargetAvailable = [&windows](quint64 id) { return windows.isWindowViewable(id); };
        QTemporaryDir dir;
        EncryptedDraftStore store(dir.path(), QByteArray(32, '\x11'));
        ScreenCaptureService service;
        int looks = 0;
        const auto frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
        ScrollingCaptureCoordinator coordinator(
            ScrollTargetProcess::geometryOf(target.region()), target.captureTarget(), QUuid::createUuid(),
            store,
            [&](ScrollingRegionGeometry g) {
                ++looks;
                return service.scrollingViewport(g);
            },
            [](QImage) -> Task<OCRResult> { co_return OCRResult {}; }, ScrollingCaptureLimits::production,
            environment, frames.prepareFrame, frames.alignFrames, frames.frameDifference);
        std::optional<ScrollingCaptureError> error;
        Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
            try {
                Task<ScrollingCaptureResult> running = coordinator.run();
                co_await running;
            } catch (const ScrollingCaptureFailure &failure) {
                error = failure.error();
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(task.isFinished(), 20000);
        QCOMPARE(error, std::optional(ScrollingCaptureError::permissionRevoked));
        QCOMPARE(looks, 0);
        QVERIFY(!QFile::exists(store.draftFilePath()) && !QDir(store.tileDirectoryPath()).exists());
    }

    void panelPlacement_data()
    {
        QTest::addColumn<QRect>("region");
        QTest::addColumn<QRect>("expected");
        // A 300x60 panel on a 1920x1080 screen.
        QTest::newRow("room below") << QRect(100, 100, 600, 400) << QRect(400, 510, 300, 60);
        QTest::newRow("room above only") << QRect(100, 300, 600, 760) << QRect(400, 230, 300, 60);
        QTest::newRow("full height, room right") << QRect(100, 0, 600, 1080) << QRect(710, 1020, 300, 60);
        QTest::newRow("full height, room left") << QRect(1400, 0, 520, 1080) << QRect(1090, 1020, 300, 60);
        QTest::newRow("whole screen") << QRect(0, 0, 1920, 1080) << QRect(1620, 1020, 300, 60);
        QTest::newRow("near the left edge") << QRect(0, 100, 200, 300) << QRect(0, 410, 300, 60);
    }
    void panelPlacement()
    {
        QFETCH(QRect, region);
        QFETCH(QRect, expected);
        const QRect placed
            = ScrollingControlPanel::placement(region, QRect(0, 0, 1920, 1080), QSize(300, 60));
        QCOMPARE(placed, expected);
        if (region != QRect(0, 0, 1920, 1080))
            QVERIFY(!placed.intersects(region));
    }

    // On screen, the panel and the outline sit outside the region and the buttons answer.
    void panelAndOutlineStayOutside()
    {
        const QRect region(400, 200, 700, 500);
        ScrollingControlPanel panel;
        panel.placeOutside(region);
        panel.show();
        ScrollingOutlineChrome outline;
        outline.show(region);
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY(!panel.frameGeometry().intersects(region));
        for (QWidget *edge : outline.edges()) {
            QVERIFY(edge->isVisible());
            QVERIFY(!edge->geometry().intersects(region));
            QVERIFY(edge->geometry().intersects(region.adjusted(-3, -3, 3, 3)));
        }
        // Nothing of ours shows inside the region's pixels (a blank root window stays blank there)
        // once the outline is drawn around it.
        const QColor blank = grab(region).pixelColor(0, 0);
        QTRY_VERIFY(grab(outline.edges().first()->geometry()).pixelColor(1, 1) != blank);
        const QImage inside = grab(region);
        QCOMPARE(inside.pixelColor(0, 0), inside.pixelColor(inside.width() - 1, inside.height() - 1));

        QSignalSpy done(&panel, &ScrollingControlPanel::doneRequested);
        QSignalSpy cancel(&panel, &ScrollingControlPanel::cancelRequested);
        QTest::mouseClick(panel.doneButton(), Qt::LeftButton);
        QTest::mouseClick(panel.cancelButton(), Qt::LeftButton);
        QCOMPARE(done.count(), 1);
        QCOMPARE(cancel.count(), 1);
        QVERIFY(!panel.doneButton()->hasFocus());
        outline.hide();
        for (QWidget *edge : outline.edges())
            QVERIFY(!edge->isVisible());
    }
};

int main(int argc, char **argv)
{
    PrivateXvfb display;
    server = &display;
    if (display.isRunning()) {
        qputenv("DISPLAY", display.display().toLocal8Bit());
        qunsetenv("QT_QPA_PLATFORM");
    }
    QApplication app(argc, argv);
    TestScrollingCaptureChrome test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingCaptureChrome.moc"
