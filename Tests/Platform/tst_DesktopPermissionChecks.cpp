#include "Documents/DefaultsStore.h"
#include "Platform/DesktopPermissionChecks.h"
#include "PrivateXvfb.h"
#include "Services/PermissionController.h"

#include <QGuiApplication>
#include <QTest>

#include <xcb/xcb.h>

namespace {

struct Connection
{
    explicit Connection(const QString &display)
        : handle(xcb_connect(display.toLocal8Bit().constData(), nullptr))
    { }
    ~Connection() { xcb_disconnect(handle); }
    bool ok() const { return !xcb_connection_has_error(handle); }
    xcb_connection_t *handle;
};

} // namespace

class TestDesktopPermissionChecks : public QObject
{
    Q_OBJECT

private slots:
    void sharedDisplayAllowsScreenAndScrolling()
    {
        xcb_connection_t *qt = DesktopPermissionChecks::qtConnection();
        QVERIFY(qt);
        QVERIFY(DesktopPermissionChecks::canReadScreen(qt));
        QVERIFY(DesktopPermissionChecks::canPostEvents(qt));
        QVERIFY(!DesktopPermissionChecks::canReadScreen(nullptr));
        QVERIFY(!DesktopPermissionChecks::canPostEvents(nullptr));
    }

    void displayWithoutXTestCannotScroll()
    {
        PrivateXvfb server({ "-extension", "XTEST" });
        QVERIFY(server.isRunning());
        Connection connection(server.display());
        QVERIFY(connection.ok());
        QVERIFY(!DesktopPermissionChecks::canPostEvents(connection.handle));
        QVERIFY(DesktopPermissionChecks::canReadScreen(connection.handle));
    }

    void soundServer_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<int>("expected");
        QTest::newRow("test server with a virtual microphone")
            << true << int(MicrophoneAuthorizationFact::authorized);
        QTest::newRow("no server") << false << int(MicrophoneAuthorizationFact::unknown);
    }

    void soundServer()
    {
        QFETCH(bool, reachable);
        QFETCH(int, expected);
        const QByteArray server = qgetenv("PULSE_SERVER");
        if (!reachable)
            qputenv("PULSE_SERVER", "unix:/nonexistent/quorvel/native");
        QElapsedTimer timer;
        timer.start();
        const auto input = DesktopPermissionChecks::probeSoundInput();
        qputenv("PULSE_SERVER", server);
        QCOMPARE(int(DesktopPermissionChecks::microphoneFact(input)), expected);
        QVERIFY(timer.elapsed() < 2500);
    }

    void controllerOnTheLiveDesktop()
    {
        auto defaults = std::make_shared<InMemoryDefaultsStore>();
        PermissionController controller(defaults, PermissionController::Effects::live(), true);
        QCOMPARE(controller.screen().presentation.status, PermissionStatus::allowed);
        QCOMPARE(controller.scrolling().presentation.status, PermissionStatus::allowed);
        Task<bool> scrolling = controller.requestScrollingAccess();
        QTRY_VERIFY(scrolling.isFinished());
        QVERIFY(scrolling.result());
        // The microphone row follows the check that runs off the UI thread, and so does Check Again.
        QTRY_COMPARE(controller.microphone().presentation.status, PermissionStatus::allowed);
        QTRY_VERIFY(!controller.microphone().isBusy);
        Task<> again = controller.checkAgain(PermissionKind::microphone);
        QTRY_VERIFY(again.isFinished());
        QCOMPARE(controller.microphone().feedback,
            PermissionFeedbackCopy::afterCheck(
                PermissionKind::microphone, PermissionStatus::allowed, PermissionStatus::allowed, false));
    }
};

QTEST_MAIN(TestDesktopPermissionChecks)
#include "tst_DesktopPermissionChecks.moc"
