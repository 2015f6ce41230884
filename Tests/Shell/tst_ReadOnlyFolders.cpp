// What a user sees when a folder refuses Quorvel's writes: a settings folder (the settings window says
// the change was not saved, until one is) and a capture folder (the tray menu's status line says why the
// recording did not start). Root may write anywhere, so the process gives up root before it starts Qt.

#include "Documents/AppSettingsStore.h"
#include "ModelHarness.h"
#include "Settings/PreferencesView.h"
#include "Settings/VemiMenuPopUp.h"
#include "Shell/MenuBarMenu.h"
#include "Shell/MenuContent.h"
#include "TestAudioCapture.h"
#include "TestSupport.h"
#include "Vemi/VemiDesign.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QTest>

#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// Through the open menu, as a person picks an entry.
void choose(VemiMenuPopUp *popup, const QString &title)
{
    popup->showPopup();
    const int row = popup->findText(title);
    QVERIFY(row >= 0);
    popup->view()->setCurrentIndex(popup->model()->index(row, 0));
    QTest::keyClick(popup->view(), Qt::Key_Return);
}

} // namespace

class TestReadOnlyFolders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(::geteuid() != 0); }

    void settingsFolder_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::newRow("read-only settings file") << true;
        QTest::newRow("read-only settings folder, no file yet") << false;
    }

    // The refused change applies and is said under the pane; the file keeps what it held. Once the
    // folder takes writes again, the next change writes both and the line goes.
    void settingsFolder()
    {
        QFETCH(bool, fileExists);
        ModelHarness h;
        const QString folder = h.dir.filePath(QStringLiteral("config"));
        std::shared_ptr<SettingsDefaultsStore> store
            = SettingsDefaultsStore::open(QStringLiteral("suite"), folder);
        QVERIFY(store);
        AppSettings settings;
        settings.setupComplete = true;
        if (fileExists)
            AppSettingsStore(store).save(settings);
        h.adjust = [store](ModelServices &services) { services.defaults = store; };
        AppModel &model = h.make();
        SettingsEnvironment environment;
        environment.reveal = [](QWidget *) {};
        PreferencesView view(model, SettingsPane::general, PreferencesAudioCatalog {}, environment);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto *line = view.findChild<VemiStatusLabel *>(QStringLiteral("settings.write-failure"));
        QVERIFY(line && !line->isVisible());
        QVERIFY(setMode(folder, 0555) && (!fileExists || setMode(store->fileName(), 0444)));
        const QByteArray before = TestSupport::readFile(store->fileName());

        auto *presence = view.findChild<VemiMenuPopUp *>(QStringLiteral("settings.menubar.while-recording"));
        choose(presence, QStringLiteral("Compact icon"));
        QVERIFY(line->isVisible());
        QVERIFY2(
            line->text().startsWith(QStringLiteral("Couldn't save settings: ")), qPrintable(line->text()));
        QVERIFY2(line->text().contains(QStringLiteral(" is read-only. ")), qPrintable(line->text()));
        QCOMPARE(model.settings().menuBarRecordingPresence, MenuBarRecordingPresence::compact);
        QCOMPARE(TestSupport::readFile(store->fileName()), before);

        QVERIFY(setMode(folder, 0700) && (!fileExists || setMode(store->fileName(), 0600)));
        QTest::mouseClick(
            view.findChild<QWidget *>(QStringLiteral("settings.audio.record-you")), Qt::LeftButton);
        QVERIFY(!line->isVisible());
        const AppSettings written
            = AppSettingsStore(SettingsDefaultsStore::open(QStringLiteral("suite"), folder)).load();
        QCOMPARE(written.menuBarRecordingPresence, MenuBarRecordingPresence::compact);
        QCOMPARE(written.recordYouMicrophone, false);
    }

    void captureFolder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("heading");
        QTest::newRow("read-only") << QStringLiteral("notes") << 0555
                                   << QStringLiteral("Can't record: capture folder “notes” is not writable");
        QTest::newRow("closed to this user, a name with an ampersand") << QStringLiteral(
            "R&D") << 0 << QStringLiteral("Can't record: capture folder “R&D” is not writable");
        QTest::newRow("writable, then a file in its place") << QStringLiteral(
            "notes") << -1 << QStringLiteral("Can't record: capture folder “notes” is a file");
    }

    // Record Audio chosen from the tray menu: nothing is recorded, the session ends failed, and the
    // menu's status line, as the menu draws it, says why.
    void captureFolder()
    {
        QFETCH(QString, name);
        QFETCH(int, mode);
        QFETCH(QString, heading);
        TestAudioCapture capture;
        ModelHarness h;
        h.makeAudio = [&] {
            AudioSessionCoordinator::Environment environment;
            environment.engines = capture.factory();
            return std::make_unique<AudioSessionCoordinator>(environment);
        };
        const QString notes = h.dir.filePath(name);
        QVERIFY(QDir().mkpath(notes));
        AppSettings settings;
        settings.setupComplete = true;
        settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(notes));
        h.setSettings(settings);
        AppModel &model = h.make();
        if (mode >= 0)
            QVERIFY(setMode(notes, mode_t(mode)));
        else
            QVERIFY(QDir(notes).removeRecursively() && TestSupport::writeFile(notes, "text"));

        Task<> recording;
        ModelCommands commands;
        commands.handleAudioInvocation = [&] { recording = model.handleAudioInvocation(); };
        MenuContent::Environment environment { [] {}, [](const QString &) {}, [] {}, [] {}, [] {} };
        MenuContent content(model, commands, environment);
        MenuBarMenu menu(content);
        menu.findChild<QAction *>(QStringLiteral("audio"))->trigger();
        QVERIFY(ModelHarness::finish(recording));
        QCOMPARE(model.audio().phase(), AudioSessionPhase::failed);
        QCOMPARE(capture.count(QStringLiteral("others.make")), 0);
        menu.sync();
        // The text the menu shows: mnemonic marks stripped.
        QCOMPARE(menu.findChild<QAction *>(QStringLiteral("heading"))->iconText(),
            QStringLiteral("This Computer · ") + heading);
        setMode(notes, 0700);
    }
};

int main(int argc, char **argv)
{
    if (::geteuid() == 0) {
        constexpr uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0
            || ::setresuid(nobody, nobody, nobody) != 0)
            return 3;
        // Changing identity makes the process undumpable, which the leak checker needs.
        ::prctl(PR_SET_DUMPABLE, 1);
    }
    // Root's home and the test run's folders (its temporary folder too) are closed to this user: a
    // home of its own.
    char home[] = "/tmp/quorvel-unprivileged.XXXXXX";
    if (!::mkdtemp(home))
        return 4;
    for (const char *variable :
        { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR" }) {
        const QByteArray path = QByteArray(home) + '/' + QByteArray(variable).toLower();
        if (::mkdir(path.constData(), 0700) != 0)
            return 4;
        qputenv(variable, path);
    }
    QApplication app(argc, argv);
    TestReadOnlyFolders test;
    const int failed = QTest::qExec(&test, argc, argv);
    QDir(QString::fromLocal8Bit(home)).removeRecursively();
    return failed;
}

#include "tst_ReadOnlyFolders.moc"
