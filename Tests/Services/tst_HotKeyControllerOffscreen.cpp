#include "Services/HotKeyController.h"

#include <QGuiApplication>
#include <QTest>

// Without an X11 connection there is nothing to grab: the answer is unavailable, never a crash.
class TestHotKeyControllerOffscreen : public QObject
{
    Q_OBJECT

private slots:
    void noX11MeansUnavailable()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("offscreen"));
        HotKeyController controller([] {});
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(controller.registerShortcut(CaptureShortcut::defaultShortcut()),
                HotKeyRegistrationState::unavailable);
            QVERIFY(!controller.isRegistered());
        }
    }
};

QTEST_MAIN(TestHotKeyControllerOffscreen)
#include "tst_HotKeyControllerOffscreen.moc"
