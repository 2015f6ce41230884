#include "Documents/DefaultsStore.h"
#include "Platform/DesktopPermissionChecks.h"
#include "PrivateXvfb.h"
#include "ScopedEnvironment.h"
#include "Services/PermissionController.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

using namespace DesktopPermissionChecks;

class TestDesktopPermissionChecks : public QObject
{
    Q_OBJECT

private slots:
    void x11Checks()
    {
        xcb_connection_t *qt = qtConnection();
        QVERIFY(qt);
        QVERIFY(canReadScreen(qt) && canPostEvents(qt));
        QVERIFY(!canReadScreen(nullptr) && !canPostEvents(nullptr));
        // A display without XTEST can be read but not scrolled.
        PrivateXvfb server({ "-extension", "XTEST" });
        QVERIFY(server.isRunning());
        xcb_connection_t *other = xcb_connect(server.display().toLocal8Bit().constData(), nullptr);
        const bool usable = !xcb_connection_has_error(other);
        const bool read = canReadScreen(other);
        const bool scroll = canPostEvents(other);
        xcb_disconnect(other);
        QVERIFY(usable && read && !scroll);
    }

    // The test's sound server and its virtual microphone: controllerOnTheLiveDesktop.
    void noSoundServerIsUnknownNotDenied_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("no socket") << false;
        // Takes the connection and never answers, as a hung server does.
        QTest::newRow("a server that never answers") << true;
    }
    void noSoundServerIsUnknownNotDenied()
    {
        QFETCH(bool, listening);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString socket = folder.filePath(QStringLiteral("native"));
        QLocalServer silent;
        if (listening)
            QVERIFY2(silent.listen(socket), qPrintable(silent.errorString()));
        ScopedEnvironment environment;
        environment.set("PULSE_SERVER", ("unix:" + socket).toLocal8Bit());
        const auto limit = std::chrono::milliseconds(2000);
        QElapsedTimer timer;
        timer.start();
        const SoundInput input = probeSoundInput(limit);
        environment.restore();
        QCOMPARE(microphoneFact(input), MicrophoneAuthorizationFact::unknown);
        // A probe that keeps to its limit ends well within three times it; one without a limit waits on.
        QVERIFY2(timer.elapsed() < 3 * limit.count(), qPrintable(QString::number(timer.elapsed())));
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
