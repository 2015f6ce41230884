#include "Documents/AppPaths.h"
#include "Platform/AutostartEntry.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

class TestInstallation : public QObject
{
    Q_OBJECT

private slots:
    void installsADesktopApplication_data()
    {
        QTest::addColumn<QString>("prefixName");
        QTest::newRow("plain") << "local";
        QTest::newRow("space") << "my apps";
        QTest::newRow("shell characters") << "it's \"$HOME\" & `x`";
    }

    void installsADesktopApplication()
    {
        QFETCH(QString, prefixName);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString prefix = dir.filePath(prefixName);
        QProcess install;
        install.start(qEnvironmentVariable("DOVRIN_CMAKE"),
            { "--install", qEnvironmentVariable("DOVRIN_BUILD_ROOT"), "--prefix", prefix });
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());

        const QString id = QLatin1String(AppPaths::bundleIdentifier);
        const QString entry = prefix + "/share/applications/" + id + ".desktop";
        QProcess validate;
        validate.start("desktop-file-validate", { entry });
        QVERIFY(validate.waitForFinished(30000));
        const QByteArray complaints = validate.readAllStandardOutput() + validate.readAllStandardError();
        QVERIFY2(validate.exitCode() == 0 && complaints.isEmpty(), complaints.constData());

        // Launchers and autostart start exactly the installed executable.
        const QString text = QString::fromUtf8(TestSupport::readFile(entry));
        const qsizetype exec = text.indexOf("\nExec=");
        QVERIFY(exec > 0);
        const QString execValue = text.mid(exec + 6).section('\n', 0, 0);
        QCOMPARE(AutostartEntry::parseExecValue(execValue),
            std::optional(QStringList { prefix + "/bin/quorvel" }));
        QVERIFY(QFileInfo(prefix + "/bin/quorvel").isExecutable());

        QSettings desktop(entry, QSettings::IniFormat);
        const QString icon = desktop.value("Desktop Entry/Icon").toString();
        QSvgRenderer svg(prefix + "/share/icons/hicolor/scalable/apps/" + icon + ".svg");
        QVERIFY(svg.isValid());
        QCOMPARE(svg.viewBoxF().width(), svg.viewBoxF().height());
    }
};

QTEST_GUILESS_MAIN(TestInstallation)
#include "tst_Installation.moc"
