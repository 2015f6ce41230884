#include "AppearancePalettes.h"
#include "ModelHarness.h"
#include "PrivateXvfb.h"
#include "Shell/MenuBarExtra.h"
#include "Vemi/VemiDesign.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

// On an X server of its own, with a real tray host (trayer) or none: the tray icon docks, a click on
// it opens the menu and choosing "Capture Region…" reaches the capture command; without a tray host
// the stand-in window comes up with the same commands. A tray host that goes away and comes back takes
// the stand-in window with it.
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

    static bool startTrayer(QProcess &trayer)
    {
        trayer.start("trayer",
            { "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200", "--height",
                "24" });
        return trayer.waitForStarted();
    }

    // Docked in trayer's strip at the top right of the 1920 pixel wide screen.
    static bool docked(const MenuBarExtra &extra)
    {
        return QRect(1720, 0, 200, 24).contains(extra.trayIcon()->geometry().center());
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
            // On a loaded machine the host may map the icon a moment after it reports its place, and a
            // click that lands before goes nowhere: click again, as a person would.
            bool opened = false;
            for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
                click(extra.trayIcon()->geometry().center());
                opened = QTest::qWaitFor([&] { return extra.menu()->isVisible(); }, 10000);
            }
            QVERIFY2(opened, "the tray icon's menu did not open after three clicks");
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

    // The icon takes the colour that shows on the panel it docks in, whatever the desktop theme:
    // dark on trayer's light grey panel even under a dark theme, light on a dark panel.
    void theIconShowsOnItsPanel_data()
    {
        QTest::addColumn<QStringList>("panel");
        QTest::addColumn<bool>("darkTheme");
        const QStringList light;
        const QStringList dark { "--transparent", "true", "--tint", "0x202020", "--alpha", "0" };
        QTest::newRow("trayer's own panel, light theme") << light << false;
        QTest::newRow("trayer's own panel, dark theme") << light << true;
        QTest::newRow("a dark panel, light theme") << dark << false;
        QTest::newRow("a dark panel, dark theme") << dark << true;
    }
    void theIconShowsOnItsPanel()
    {
        QFETCH(QStringList, panel);
        QFETCH(bool, darkTheme);
        const QPalette before = QApplication::palette();
        QApplication::setPalette(darkTheme ? AppearancePalettes::dark() : AppearancePalettes::light());
        QProcess trayer;
        trayer.start("trayer",
            QStringList { "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "200",
                "--height", "24" }
                + panel);
        QVERIFY(trayer.waitForStarted());
        QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        ModelHarness harness;
        harness.make();
        ModelCommands commands;
        MenuBarExtra extra(*harness.model, commands, { [](const QString &) {}, [] {}, [] {}, [] {}, {} });
        extra.show();
        QTRY_VERIFY(docked(extra));
        QTRY_VERIFY(extra.panelColour().has_value());
        // The panel as the screen shows it, beside the icon.
        const QRect icon = extra.trayIcon()->geometry();
        const QImage strip = QGuiApplication::primaryScreen()->grabWindow(0, 1720, 0, 200, 24).toImage();
        const QColor beside = strip.pixelColor(icon.left() - 1720 - 2 > 0 ? icon.left() - 1720 - 2 : 2, 12);
        QVERIFY2(std::abs(extra.panelColour()->lightness() - beside.lightness()) < 24,
            qPrintable(extra.panelColour()->name() + " " + beside.name()));
        QVERIFY2(VemiPalette::contrast(extra.iconInk(), *extra.panelColour()) >= VemiPalette::shapeContrast,
            qPrintable(extra.iconInk().name() + " on " + extra.panelColour()->name()));
        trayer.kill();
        trayer.waitForFinished();
        QApplication::setPalette(before);
    }

    void theStandInFollowsTheTrayHost_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("the panel ends") << false;
        QTest::newRow("the panel crashes") << true;
    }

    // A panel restart: the tray host goes away while the program runs, and the stand-in window is up
    // within a second; the host comes back, the icon docks again and the stand-in steps back. Twice,
    // so the watch follows the new host too.
    void theStandInFollowsTheTrayHost()
    {
        QFETCH(bool, killed);
        QProcess trayer;
        QVERIFY(startTrayer(trayer));
        QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        ModelHarness harness;
        harness.make();
        ModelCommands commands;
        MenuBarExtra extra(*harness.model, commands, { [](const QString &) {}, [] {}, [] {}, [] {}, {} });
        extra.show();
        QTRY_VERIFY(docked(extra));
        QVERIFY(!extra.fallbackWindow());
        for (int round = 0; round < 2; ++round) {
            if (killed)
                trayer.kill();
            else
                trayer.terminate();
            QVERIFY(trayer.waitForFinished());
            QTRY_VERIFY(extra.fallbackWindow() && extra.fallbackWindow()->isVisible());
            QVERIFY(!docked(extra));
            QVERIFY(startTrayer(trayer));
            QTRY_VERIFY(docked(extra));
            QTRY_VERIFY(!extra.fallbackWindow());
        }
        trayer.kill();
        trayer.waitForFinished();
    }
};

int main(int argc, char **argv)
{
    return runOnPrivateDisplay<TestTrayHost>(argc, argv);
}
#include "tst_TrayHost.moc"
