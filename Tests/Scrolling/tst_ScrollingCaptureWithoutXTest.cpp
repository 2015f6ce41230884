// A scrolling capture on a display without the XTEST extension cannot post a single step: it fails
// as a revoked permission and leaves nothing behind.
#include "Capture/ScreenCaptureService.h"
#include "PrivateXvfb.h"
#include "ScrollTargetProcess.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

PrivateXvfb *server = nullptr;

} // namespace

class TestScrollingCaptureWithoutXTest : public QObject
{
    Q_OBJECT

private slots:
    void failsAsPermissionRevoked()
    {
        QVERIFY(server && server->isRunning());
        ScrollTargetProcess target;
        QVERIFY(target.start({ "--lines", "80" }));
        QTemporaryDir dir;
        EncryptedDraftStore store(dir.path(), QByteArray(32, '\x11'));
        ScreenCaptureService service;

        const ScrollingRegionGeometry geometry = ScrollTargetProcess::geometryOf(target.region());
        const ScrollingCaptureTarget window = target.captureTarget();
        int recognitions = 0;
        const auto frames = ScrollingCaptureCoordinator::defaultFrameFunctions();
        ScrollingCaptureCoordinator coordinator(
            geometry, window, QUuid::createUuid(), store,
            [&service](ScrollingRegionGeometry g) { return service.scrollingViewport(g); },
            [&recognitions](QImage) -> Task<OCRResult> {
                ++recognitions;
                co_return OCRResult {};
            },
            ScrollingCaptureLimits::production, ScrollingCaptureEnvironment::live(), frames.prepareFrame,
            frames.alignFrames, frames.frameDifference);

        std::optional<ScrollingCaptureError> error;
        bool finished = false;
        Task<void> task = Task<void>::spawn(&coordinator, [&]() -> Task<void> {
            try {
                Task<CaptureDraft> running = coordinator.run();
                co_await running;
            } catch (const ScrollingCaptureFailure &failure) {
                error = failure.error();
            }
            finished = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(finished, 20000);
        QCOMPARE(error, std::optional(ScrollingCaptureError::permissionRevoked));
        QCOMPARE(recognitions, 0);
        QVERIFY(!QFile::exists(store.draftFilePath()));
        QVERIFY(!QDir(store.tileDirectoryPath()).exists());
    }
};

int main(int argc, char **argv)
{
    PrivateXvfb display({ QStringLiteral("-extension"), QStringLiteral("XTEST") });
    server = &display;
    if (display.isRunning()) {
        qputenv("DISPLAY", display.display().toLocal8Bit());
        qunsetenv("QT_QPA_PLATFORM");
    }
    QApplication app(argc, argv);
    TestScrollingCaptureWithoutXTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingCaptureWithoutXTest.moc"
