#include "Platform/DesktopSettingsOpener.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The tools are stand-in scripts on a private PATH that record how they were started.
class TestDesktopSettingsOpener : public QObject
{
    Q_OBJECT

    QTemporaryDir m_bin;
    ScopedEnvironment m_environment;

    void installTool(const QString &name)
    {
        const QString path = m_bin.filePath(name);
        QVERIFY(TestSupport::writeFile(path,
            QStringLiteral("#!/bin/sh\necho \"%1 $*\" >> \"%2\"\n")
                .arg(name, m_bin.filePath("log"))
                .toUtf8()));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private slots:
    void initTestCase()
    {
        m_environment.set("PATH", m_bin.path().toUtf8());
        for (const char *tool : { "gnome-control-center", "systemsettings", "pavucontrol" })
            installTool(tool);
    }

    void cleanupTestCase() { m_environment.restore(); }

    void chosenTool_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("this desktop's tool first")
            << "microphone"
            << "ubuntu:KDE" << QStringList { "systemsettings", "kcm_pulseaudio" };
        QTest::newRow("sound elsewhere: the mixer first") << "sound"
                                                          << "LXQt" << QStringList { "pavucontrol" };
        QTest::newRow("accessibility elsewhere: any desktop's tool")
            << "accessibility"
            << "" << QStringList { "gnome-control-center", "universal-access" };
        QTest::newRow("login items: another desktop's tool before none")
            << "login-items"
            << "GNOME" << QStringList { "systemsettings", "kcm_autostart" };
        QTest::newRow("unknown page") << "nothing"
                                      << "GNOME" << QStringList {};
    }

    void chosenTool()
    {
        QFETCH(QString, page);
        QFETCH(QString, desktop);
        const auto command = DesktopSettingsOpener::command(DesktopSettingsOpener::pageURL(page), desktop);
        QTEST(command.value_or(QStringList {}), "expected");
    }

    void openStartsTheTool()
    {
        ScopedEnvironment environment;
        environment.set("XDG_CURRENT_DESKTOP", "GNOME");
        QVERIFY(DesktopSettingsOpener::open(DesktopSettingsOpener::pageURL("system-audio")));
        QTRY_COMPARE(
            TestSupport::readFile(m_bin.filePath("log")), QByteArray("gnome-control-center sound\n"));
        environment.set("PATH", "/nonexistent");
        QVERIFY(!DesktopSettingsOpener::open(DesktopSettingsOpener::pageURL("system-audio")));
        environment.set("PATH", m_bin.path().toUtf8());
        QVERIFY(!DesktopSettingsOpener::open(QUrl("https://example.invalid/")));
    }
};

QTEST_GUILESS_MAIN(TestDesktopSettingsOpener)
#include "tst_DesktopSettingsOpener.moc"
