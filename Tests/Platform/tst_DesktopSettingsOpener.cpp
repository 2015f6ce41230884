#include "Platform/DesktopSettingsOpener.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The tools are stand-in scripts on a private PATH that record how they were started.
class TestDesktopSettingsOpener : public QObject
{
    Q_OBJECT

    QTemporaryDir m_bin;
    QByteArray m_path;

    void installTool(const QString &name)
    {
        const QString path = m_bin.filePath(name);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("#!/bin/sh\necho \"%1 $*\" >> \"%2\"\n")
                       .arg(name, m_bin.filePath("log"))
                       .toUtf8());
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private slots:
    void initTestCase()
    {
        m_path = qgetenv("PATH");
        qputenv("PATH", m_bin.path().toUtf8());
        installTool("gnome-control-center");
        installTool("systemsettings");
        installTool("pavucontrol");
    }

    void cleanupTestCase() { qputenv("PATH", m_path); }

    void chosenTool_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("microphone on GNOME")
            << "microphone"
            << "ubuntu:GNOME" << QStringList { "gnome-control-center", "microphone" };
        QTest::newRow("microphone on KDE") << "microphone"
                                           << "KDE" << QStringList { "systemsettings", "kcm_pulseaudio" };
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
        QFETCH(QStringList, expected);
        const auto command = DesktopSettingsOpener::command(DesktopSettingsOpener::pageURL(page), desktop);
        QCOMPARE(command.value_or(QStringList {}), expected);
    }

    void openStartsTheTool()
    {
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        QVERIFY(DesktopSettingsOpener::open(DesktopSettingsOpener::pageURL("system-audio")));
        QTRY_COMPARE(QFile(m_bin.filePath("log")).size() > 0, true);
        QFile log(m_bin.filePath("log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("gnome-control-center sound\n"));
        qputenv("PATH", "/nonexistent");
        QVERIFY(!DesktopSettingsOpener::open(DesktopSettingsOpener::pageURL("system-audio")));
        qputenv("PATH", m_bin.path().toUtf8());
        QVERIFY(!DesktopSettingsOpener::open(QUrl("https://example.invalid/")));
    }
};

QTEST_GUILESS_MAIN(TestDesktopSettingsOpener)
#include "tst_DesktopSettingsOpener.moc"
