#include "ModelHarness.h"
#include "PrivateXvfb.h"
#include "Shell/MenuBarExtra.h"

#include <QApplication>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

// On an X server of its own, with a real tray host (trayer) or none: the tray icon docks, a click on
// it opens the menu and choosing "Capture Region…" reaches the capture command; without a tray host
// the stand-in window comes up with the same commands.
class TestTrayHost : public QObject
{
    Q_OBJECT

    // A real click, through the X server, as a person's would be.
    static void click(QPoint at)
    {
        Display *display = XOpenDisplay(nullptr);
        XTestFakeMotionEvent(display, -1, at.x(), at.y(), CurrentTime);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XSync(display, False);
        XCloseDisplay(display);
    }

private slots:
    void theTrayOrItsStandInLeadsToACapture_data()
    {
        QTest::addColumn<bool>("trayHost");
        QTest::newRow("no tray host") << false;
        QTest::newRow("a tray host") << true;
    }

    void theTrayOrItsStandInLeadsToACapture()
    {
        QFETCH(bool, trayHost);
        QProcess trayer;
        if (trayHost) {
            trayer.start("trayer",
                { "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200", "--height",
                    "24" });
            QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        }
        ModelHarness harness;
        harness.make();
        QStringList log;
        ModelCommands commands;
        commands.handleCaptureInvocation = [&] {
            log << (harness.context().visualCapture().rememberedApplicationAt ? "capture, remembered"
                                                                              : "capture");
        };
        MenuBarExtra extra(*harness.model, commands, { [](const QString &) {}, [] {}, [] {}, [] {}, {} });
        extra.show();

        QPoint capture;
        if (trayHost) {
            QTRY_VERIFY(!extra.trayIcon()->geometry().topLeft().isNull());
            QVERIFY(!extra.fallbackWindow());
            click(extra.trayIcon()->geometry().center());
            QTRY_VERIFY(extra.menu()->isVisible());
            QAction *action = extra.menu()->action("capture");
            capture = extra.menu()->mapToGlobal(extra.menu()->actionGeometry(action).center());
        } else {
            QTRY_VERIFY(extra.fallbackWindow() && extra.fallbackWindow()->isVisible());
            QTRY_VERIFY(QTest::qWaitForWindowExposed(extra.fallbackWindow()));
            QWidget *button = extra.fallbackWindow()->line("capture");
            capture = button->mapToGlobal(button->rect().center());
        }
        click(capture);
        QTRY_COMPARE(log, QStringList { "capture, remembered" });
        QVERIFY(!extra.menu()->isVisible());
        if (trayHost) {
            trayer.kill();
            trayer.waitForFinished();
        }
    }
};

int main(int argc, char **argv)
{
    PrivateXvfb display;
    if (!display.isRunning())
        return 1;
    qputenv("DISPLAY", display.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestTrayHost test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_TrayHost.moc"
