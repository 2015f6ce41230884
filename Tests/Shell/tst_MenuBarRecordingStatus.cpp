#include "AppearancePalettes.h"
#include "Shell/MenuBarRecordingStatus.h"
#include "Vemi/VemiDesign.h"

#include <QApplication>
#include <QPainter>
#include <QTest>

Q_DECLARE_METATYPE(std::optional<double>)

class TestMenuBarRecordingStatus : public QObject
{
    Q_OBJECT

private slots:
    void theLabelGrowsOnceAtOneHour_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<bool>("hourWide");
        QTest::newRow("start") << 0.0 << "Recording audio (0:00)" << false;
        QTest::newRow("last second before the hour") << 3599.9 << "Recording audio (59:59)" << false;
        QTest::newRow("the hour") << 3600.0 << "Recording audio (1:00:00)" << true;
        QTest::newRow("after the hour") << 3725.0 << "Recording audio (1:02:05)" << true;
    }

    void theLabelGrowsOnceAtOneHour()
    {
        QFETCH(double, seconds);
        QFETCH(QString, toolTip);
        QFETCH(bool, hourWide);
        MenuBarRecordingStatus label;
        auto show = [&](double at, MenuBarRecordingPresence presence) {
            label.setPresentation(
                MenuBarStatusPresentation::resolve(AudioSessionPhase::recording, at, presence));
            return label.sizeHint().width();
        };
        const int minuteWidth = show(0, MenuBarRecordingPresence::elapsed);
        const int hourWidth = show(3600, MenuBarRecordingPresence::elapsed);
        QVERIFY(hourWidth > minuteWidth);
        QCOMPARE(show(seconds, MenuBarRecordingPresence::elapsed), hourWide ? hourWidth : minuteWidth);
        QCOMPARE(MenuBarRecordingStatus::toolTip(label.presentation()), toolTip);
        QCOMPARE(label.accessibleName(), QString("Recording audio"));
        // The compact presence keeps the icon's width whatever the time; the tooltip still tells it.
        QVERIFY(show(seconds, MenuBarRecordingPresence::compact) < minuteWidth);
        QCOMPARE(MenuBarRecordingStatus::toolTip(label.presentation()), toolTip);
    }

    // While the recording is transcribed the tooltip says so, with how far it got once that is known.
    void theToolTipSaysTranscriptionProgress_data()
    {
        QTest::addColumn<AudioSessionPhase>("phase");
        QTest::addColumn<std::optional<double>>("transcribed");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("transcribing, not said yet")
            << AudioSessionPhase::transcribing << std::optional<double>() << "Transcribing…";
        QTest::newRow("transcribing, 40%")
            << AudioSessionPhase::transcribing << std::optional(0.404) << "Transcribing… (40%)";
        QTest::newRow("transcribing, done")
            << AudioSessionPhase::transcribing << std::optional(1.0) << "Transcribing… (100%)";
        QTest::newRow("reviewing: a late share is not said")
            << AudioSessionPhase::reviewing << std::optional(0.5) << "Quorvel";
    }

    void theToolTipSaysTranscriptionProgress()
    {
        QFETCH(AudioSessionPhase, phase);
        QFETCH(std::optional<double>, transcribed);
        const auto shown
            = MenuBarStatusPresentation::resolve(phase, 5, MenuBarRecordingPresence::compact, transcribed);
        QTEST(MenuBarRecordingStatus::toolTip(shown), "toolTip");
        QVERIFY(!shown.isActive);
    }

    void theTrayIconCarriesTheDotOnlyWhileLive_data()
    {
        QTest::addColumn<AudioSessionPhase>("phase");
        QTest::addColumn<int>("side");
        QTest::newRow("idle, 22") << AudioSessionPhase::idle << 22;
        QTest::newRow("transcribing, 22") << AudioSessionPhase::transcribing << 22;
        QTest::newRow("starting, 16") << AudioSessionPhase::starting << 16;
        QTest::newRow("recording, 22") << AudioSessionPhase::recording << 22;
        QTest::newRow("stopping, 48") << AudioSessionPhase::stopping << 48;
    }

    void theTrayIconCarriesTheDotOnlyWhileLive()
    {
        QFETCH(AudioSessionPhase, phase);
        QFETCH(int, side);
        const auto shown = MenuBarStatusPresentation::resolve(phase, 5, MenuBarRecordingPresence::compact);
        const QColor ink(250, 250, 250);
        const QImage image
            = MenuBarRecordingStatus::trayIcon(shown.isActive, ink).pixmap(side, side).toImage();
        QCOMPARE(image.size(), QSize(side, side));
        // The dot's centre lies beside the character's head, where the icon alone draws nothing.
        auto inked = [&](QPoint at) {
            const QColor pixel = image.pixelColor(at);
            return pixel.alpha() > 200 && std::abs(pixel.red() - ink.red()) < 12
                && std::abs(pixel.blue() - ink.blue()) < 12;
        };
        QCOMPARE(inked(QPoint(int(side * 18.5 / 22), int(side * 5.0 / 22))), shown.isActive);
        // The character itself is drawn in the ink whatever the phase.
        QVERIFY(inked(QPoint(int(side * 13.75 / 22), int(side * 15.0 / 22))));
    }

    void theInkSuitsThePanel_data()
    {
        QTest::addColumn<std::optional<QColor>>("trayForeground");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<bool>("darkTheme");
        QTest::addColumn<QColor>("ink");
        const QColor lightText = AppearancePalettes::dark().color(QPalette::WindowText);
        const QColor darkText = AppearancePalettes::light().color(QPalette::WindowText);
        QTest::newRow("the tray asks for a colour")
            << std::optional(QColor(0x33, 0x66, 0x99)) << "GNOME" << false << QColor(0x33, 0x66, 0x99);
        QTest::newRow("GNOME's dark bar, light theme")
            << std::optional<QColor>() << "GNOME" << false << QColor(Qt::white);
        QTest::newRow("Ubuntu's session name")
            << std::optional<QColor>() << "ubuntu:GNOME" << false << QColor(Qt::white);
        QTest::newRow("KDE, light theme") << std::optional<QColor>() << "KDE" << false << darkText;
        QTest::newRow("Xfce, dark theme") << std::optional<QColor>() << "XFCE" << true << lightText;
    }

    // Where the panel under the icon is known it decides, over the theme and the desktop's name; only
    // the tray's own request comes first.
    void thePanelUnderTheIconDecides_data()
    {
        QTest::addColumn<std::optional<QColor>>("trayForeground");
        QTest::addColumn<QColor>("panel");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<bool>("darkTheme");
        QTest::newRow("trayer's light grey, dark theme")
            << std::optional<QColor>() << QColor(0xd9, 0xd9, 0xd9) << "" << true;
        QTest::newRow("white panel on GNOME")
            << std::optional<QColor>() << QColor(Qt::white) << "GNOME" << false;
        QTest::newRow("black panel, light theme")
            << std::optional<QColor>() << QColor(0x20, 0x20, 0x20) << "KDE" << false;
        QTest::newRow("mid grey") << std::optional<QColor>() << QColor(0x80, 0x80, 0x80) << "XFCE" << true;
        QTest::newRow("the tray asks")
            << std::optional(QColor(0x33, 0x66, 0x99)) << QColor(Qt::white) << "" << false;
    }

    void thePanelUnderTheIconDecides()
    {
        QFETCH(std::optional<QColor>, trayForeground);
        QFETCH(QColor, panel);
        QFETCH(QString, desktop);
        QFETCH(bool, darkTheme);
        const QColor ink = MenuBarRecordingStatus::panelInk(trayForeground, desktop,
            darkTheme ? AppearancePalettes::dark() : AppearancePalettes::light(), panel);
        if (trayForeground)
            QCOMPARE(ink, *trayForeground);
        else
            QVERIFY2(
                VemiPalette::contrast(ink, panel) >= 4.5, qPrintable(ink.name() + " on " + panel.name()));
    }

    void theInkSuitsThePanel()
    {
        QFETCH(std::optional<QColor>, trayForeground);
        QFETCH(QString, desktop);
        QFETCH(bool, darkTheme);
        QFETCH(QColor, ink);
        const QPalette palette = darkTheme ? AppearancePalettes::dark() : AppearancePalettes::light();
        QCOMPARE(MenuBarRecordingStatus::panelInk(trayForeground, desktop, palette), ink);
    }
};

QTEST_MAIN(TestMenuBarRecordingStatus)
#include "tst_MenuBarRecordingStatus.moc"
