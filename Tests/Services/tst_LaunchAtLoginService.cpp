#include "Platform/AutostartEntry.h"
#include "Rules/LaunchAtLoginPresentation.h"
#include "ScopedEnvironment.h"
#include "Services/LaunchAtLoginService.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using TestSupport::writeFile;

template <typename T> T awaited(Task<T> task)
{
    if (!QTest::qWaitFor([&] { return task.isFinished(); }, TestSupport::patienceMs))
        throw std::runtime_error("task did not finish");
    return task.result();
}

} // namespace

class TestLaunchAtLoginService : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    ScopedEnvironment m_variables;
    LaunchAtLoginService::Environment m_environment;

    QString entryPath() const
    {
        return AutostartEntry(m_environment.configHome, m_environment.desktopId).filePath();
    }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        const QString home = m_root->filePath("home");
        // A path with characters the Exec= line has to quote.
        const QString executable = home + "/.local/opt/Quor vel $1 %u \"x\"/quorvel";
        QVERIFY(writeFile(executable, "#!/bin/sh\n"));
        m_variables.set("XDG_CONFIG_HOME", m_root->filePath("config").toUtf8());
        m_environment = LaunchAtLoginService::Environment::current();
        m_environment.executablePath = executable;
        m_environment.homeDirectory = home;
    }

    void cleanup() { m_variables.restore(); }

    void environmentFollowsXdgConfigHome()
    {
        QCOMPARE(LaunchAtLoginService::Environment::current().configHome, m_root->filePath("config"));
        m_variables.set("XDG_CONFIG_HOME", "relative/config");
        QCOMPARE(LaunchAtLoginService::Environment::current().configHome, QDir::home().filePath(".config"));
    }

    void enableDisableAndStatus()
    {
        const LaunchAtLoginService service = LaunchAtLoginService::live(m_environment);
        QCOMPARE(awaited(service.status()), LaunchAtLoginStatus::notRegistered);

        QCOMPARE(awaited(service.setEnabled(true)), LaunchAtLoginStatus::enabled);
        QCOMPARE(awaited(service.status()), LaunchAtLoginStatus::enabled);
        const QString text = QString::fromUtf8(TestSupport::readFile(entryPath()));
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nType=Application\n"));
        const QString exec = text.section("\nExec=", 1).section('\n', 0, 0);
        QCOMPARE(AutostartEntry::parseExecValue(exec), QStringList { m_environment.executablePath });
        // Turning it on again changes nothing.
        QCOMPARE(awaited(service.setEnabled(true)), LaunchAtLoginStatus::enabled);

        QCOMPARE(awaited(service.setEnabled(false)), LaunchAtLoginStatus::notRegistered);
        QVERIFY(!QFile::exists(entryPath()));
        QCOMPARE(awaited(service.setEnabled(false)), LaunchAtLoginStatus::notRegistered);
    }

    void entrySwitchedOffByTheUserRequiresApproval_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("Hidden") << QByteArray("Hidden=true");
        QTest::newRow("GNOME switch") << QByteArray("X-GNOME-Autostart-enabled=false");
    }

    void entrySwitchedOffByTheUserRequiresApproval()
    {
        QFETCH(QByteArray, line);
        const LaunchAtLoginService service = LaunchAtLoginService::live(m_environment);
        QCOMPARE(awaited(service.setEnabled(true)), LaunchAtLoginStatus::enabled);
        QByteArray text = TestSupport::readFile(entryPath());
        text.replace("X-GNOME-Autostart-enabled=true\n", line + "\n");
        QVERIFY(writeFile(entryPath(), text));
        QCOMPARE(awaited(service.status()), LaunchAtLoginStatus::requiresApproval);
        // Turning it on registers nothing over the user's choice.
        QCOMPARE(awaited(service.setEnabled(true)), LaunchAtLoginStatus::requiresApproval);
        QCOMPARE(TestSupport::readFile(entryPath()), text);
        QCOMPARE(awaited(service.setEnabled(false)), LaunchAtLoginStatus::notRegistered);
        QVERIFY(!QFile::exists(entryPath()));
    }

    void entryOfAnotherCopyIsReplaced()
    {
        QVERIFY(writeFile(entryPath(), "[Desktop Entry]\nType=Application\nExec=/usr/bin/quorvel\n"));
        const LaunchAtLoginService service = LaunchAtLoginService::live(m_environment);
        QCOMPARE(awaited(service.status()), LaunchAtLoginStatus::notRegistered);
        QCOMPARE(awaited(service.setEnabled(true)), LaunchAtLoginStatus::enabled);
    }

    void copyOutsideTheInstallFoldersIsNotFound()
    {
        m_environment.executablePath = m_root->filePath("Downloads/quorvel");
        QVERIFY(writeFile(m_environment.executablePath, "#!/bin/sh\n"));
        const LaunchAtLoginService service = LaunchAtLoginService::live(m_environment);
        QCOMPARE(awaited(service.setEnabled(true)), LaunchAtLoginStatus::notFound);
        QVERIFY(!QFile::exists(entryPath()));
        // The row tells the user where to install instead, and every folder it names would do.
        const QString detail = LaunchAtLoginPresentation::resolve(LaunchAtLoginStatus::notFound, std::nullopt)
                                   .detail.value_or(QString());
        const QString home = m_environment.homeDirectory;
        for (const char *folder : { "/usr", "/usr/local", "/opt", "~/.local" }) {
            QVERIFY2(detail.contains(folder), qPrintable(detail));
            QString inside = QString::fromLatin1(folder) + "/bin/quorvel";
            inside.replace("~", home);
            QVERIFY2(LaunchAtLoginService::isInstalledApplication(inside, home), qPrintable(inside));
        }
    }

    void fileWhereTheAutostartFolderShouldBe()
    {
        QVERIFY(writeFile(m_root->filePath("config/autostart"), "not a folder"));
        const LaunchAtLoginService service = LaunchAtLoginService::live(m_environment);
        QVERIFY_THROWS_EXCEPTION(LaunchAtLoginError, awaited(service.setEnabled(true)));
        QCOMPARE(TestSupport::readFile(m_root->filePath("config/autostart")), QByteArray("not a folder"));
        QCOMPARE(awaited(service.status()), LaunchAtLoginStatus::notRegistered);
    }

    void installedLocations_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("installed");
        QTest::newRow("/usr/bin") << "/usr/bin/quorvel" << true;
        QTest::newRow("deep under /opt") << "/opt/quorvel/tools/bin/quorvel" << true;
        QTest::newRow("~/.local/bin") << "HOME/.local/bin/quorvel" << true;
        QTest::newRow("/opt-old is not /opt") << "/opt-old/quorvel" << false;
        QTest::newRow("/usrx") << "/usrx/bin/quorvel" << false;
        QTest::newRow("build folder") << "HOME/src/quorvel/build/quorvel" << false;
        QTest::newRow("climbing out with ..") << "/usr/../tmp/quorvel" << false;
        QTest::newRow("link in ~/.local/bin to a build") << "HOME/.local/bin/link" << false;
    }

    void installedLocations()
    {
        QFETCH(QString, path);
        const QString home = m_root->filePath("home");
        path.replace("HOME", home);
        QVERIFY(writeFile(m_root->filePath("build/quorvel"), "#!/bin/sh\n"));
        QVERIFY(QDir().mkpath(home + "/.local/bin"));
        QVERIFY(QFile::link(m_root->filePath("build/quorvel"), home + "/.local/bin/link"));
        QTEST(LaunchAtLoginService::isInstalledApplication(path, home), "installed");
    }

    void execValueRoundTrips_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::newRow("plain") << QStringList { "/usr/bin/quorvel" };
        QTest::newRow("space") << QStringList { "/opt/My Apps/quorvel", "--flag" };
        QTest::newRow("shell characters") << QStringList { "/a/$HOME/`x`/\"q\"/'s'/;|&<>*?#()~" };
        QTest::newRow("backslash") << QStringList { "/a\\b/c\\\\d" };
        QTest::newRow("percent") << QStringList { "/a/%u/100%%" };
        QTest::newRow("newline and tab") << QStringList { "/a\nb\tc" };
        QTest::newRow("empty argument") << QStringList { "/bin/x", "" };
    }

    void execValueRoundTrips()
    {
        QFETCH(QStringList, command);
        const QString value = AutostartEntry::execValue(command);
        QVERIFY(!value.contains('\n'));
        QCOMPARE(AutostartEntry::parseExecValue(value), command);
    }

    void execValueFollowsTheDesktopEntryRules()
    {
        // A literal backslash in a quoted argument takes four in the file; '%' takes two.
        QCOMPARE(AutostartEntry::execValue({ "/a b\\c%" }), QString("\"/a b\\\\\\\\c%%\""));
        QCOMPARE(AutostartEntry::parseExecValue("\"/unterminated"), std::nullopt);
        QCOMPARE(AutostartEntry::parseExecValue("/usr/bin/app %U"), (QStringList { "/usr/bin/app", "%U" }));
    }
};

QTEST_GUILESS_MAIN(TestLaunchAtLoginService)
#include "tst_LaunchAtLoginService.moc"
