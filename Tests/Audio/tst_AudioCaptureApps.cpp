// Recordable applications, their families, input devices and the picker, against
// fake .desktop files, real processes and the private sound server.
#include "Audio/ApplicationPicker.h"
#include "Audio/AudioCaptureApps.h"
#include "Pactl.h"
#include "Platform/AudioInputHardware.h"
#include "Platform/DesktopEntries.h"
#include "Platform/ProcessTable.h"
#include "TestSupport.h"
#include "TonePlayers.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList names(const QList<AudioCaptureApp> &apps)
{
    QStringList result;
    for (const AudioCaptureApp &app : apps)
        result << app.name;
    return result;
}

QString entry(const QString &name, const QString &extra = {})
{
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=/nonexistent/program %u\n%2\n")
        .arg(name, extra);
}

} // namespace

class AudioCaptureAppsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_data = m_root.path() + QStringLiteral("/share");
        qputenv("XDG_DATA_DIRS", m_data.toUtf8());
        // The user's own folder comes first: an entry hidden there is gone from the system's too.
        const QString home = m_root.path() + QStringLiteral("/home");
        qputenv("XDG_DATA_HOME", home.toUtf8());
        writeDesktopFile(home, "echo-chat", entry("Echo Chat", "Hidden=true"));
        writeDesktopFile(m_data, "echo-chat", entry("Echo Chat", "MimeType=x-scheme-handler/discord;"));
        writeDesktopFile(m_data, "zed-meet", entry("Zed Meet", "MimeType=x-scheme-handler/zoommtg;"));
        writeDesktopFile(m_data, "bravo", entry("bravo meet", "MimeType=text/html;x-scheme-handler/https;"));
        writeDesktopFile(m_data, "vlc", entry("VLC"));
        writeDesktopFile(m_data, "com.quorvel.dovrin", entry("Quorvel", "MimeType=x-scheme-handler/https;"));
        writeDesktopFile(m_data, "spotify", entry("Spotify", "Hidden=true"));
        writeDesktopFile(m_data, "mpv", entry("mpv", "NoDisplay=true"));
        writeDesktopFile(m_data, "tester", entry("Browser for Testing", "MimeType=x-scheme-handler/https;"));
        writeDesktopFile(m_data, "other", entry("Other"));
        writeDesktopFile(m_data, "named-player", entry("Named Player"));
        m_toneA = installToneApplication(m_root.path(), m_data, "tone-a", "Tone A");
        m_helper = installToneApplication(m_root.path(), m_data, "tone-a.helper", "Tone A Helper");
        m_stranger = installToneApplication(m_root.path(), m_data, "tone-a.helperx", "Not A Helper");
    }

    void cleanup() { m_players.stopAll(); }

    // Handlers of the catalogue's schemes, installed known applications and what plays now; never
    // this program, hidden, menu-less or excluded entries; sorted without regard to case.
    void listsRecordableApplications()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the private sound server that scripts/test.sh starts");
        QVERIFY(m_players.start(m_toneA, { "--name", "Tone A", "--freq", "440" }));
        QVERIFY(m_players.start(TonePlayers::toneProgram(), { "--name", "Named Player", "--freq", "300" }));
        const QList<AudioCaptureApp> apps = AudioCaptureApps::listedApps();
        QCOMPARE(names(apps), QStringList({ "bravo meet", "Named Player", "Tone A", "VLC", "Zed Meet" }));
        QCOMPARE(apps.at(2).bundleID, QStringLiteral("tone-a"));
        QCOMPARE(apps.at(2).iconName, QStringLiteral("audio-x-generic"));
    }

    // A family: the application, its helpers by id, its children, and sound clients that name it.
    void familyOfARunningApplication()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the private sound server that scripts/test.sh starts");
        QProcess *app = m_players.start(m_toneA,
            { "--name", "Tone A", "--freq", "440", "--child", TonePlayers::toneProgram(), "--name",
                "Worker" });
        QProcess *helper = m_players.start(m_helper, { "--name", "Tone A Helper", "--freq", "500" });
        QProcess *stranger = m_players.start(m_stranger, { "--name", "Not A Helper", "--freq", "600" });
        QProcess *named
            = m_players.start(TonePlayers::toneProgram(), { "--name", "Named Player", "--freq", "300" });
        QVERIFY(app && helper && stranger && named);

        QVERIFY(AudioCaptureApps::isFamilyRunning("tone-a"));
        QVERIFY(AudioCaptureApps::isFamilyRunning("named-player")); // known only by its stream's name
        QVERIFY(!AudioCaptureApps::isFamilyRunning("vlc")); // installed, not running
        QVERIFY(!AudioCaptureApps::isFamilyRunning(""));
        QVERIFY(!AudioCaptureApps::tapRequest("vlc", std::nullopt));

        const auto request = AudioCaptureApps::tapRequest("tone-a", QStringLiteral("Stored Name"));
        QVERIFY(request);
        QCOMPARE(request->bundleIDs, QStringList({ "tone-a", "tone-a.helper" }));
        QCOMPARE(request->displayName, QStringLiteral("Stored Name"));
        QVERIFY(request->processIDs.contains(app->processId()));
        QVERIFY(request->processIDs.contains(TonePlayers::childPid(app)));
        QVERIFY(request->processIDs.contains(helper->processId()));
        QVERIFY(!request->processIDs.contains(stranger->processId()));
        QVERIFY(!request->processIDs.contains(named->processId()));
        QVERIFY(std::is_sorted(request->processIDs.cbegin(), request->processIDs.cend()));

        const auto byName = AudioCaptureApps::tapRequest("named-player", std::nullopt);
        QVERIFY(byName);
        QCOMPARE(byName->processIDs, QList<qint64>({ named->processId() }));
    }

    // The chosen .desktop file (none: cancelled) and the application it gives (none: nothing chosen).
    void picker_data()
    {
        QTest::addColumn<QStringList>("fileAndApp");
        QTest::newRow("an application")
            << QStringList { "applications/zed-meet.desktop", "zed-meet", "Zed Meet" };
        QTest::newRow("this program") << QStringList { "applications/com.quorvel.dovrin.desktop" };
        QTest::newRow("not an application") << QStringList { "link.desktop" };
        QTest::newRow("no name") << QStringList { "nameless.desktop", "nameless", "nameless" };
        QTest::newRow("cancelled") << QStringList {};
    }
    void picker()
    {
        QFETCH(QStringList, fileAndApp);
        writeDesktopFile(m_data, "../link", "[Desktop Entry]\nType=Link\nName=Site\nURL=https://x\n");
        writeDesktopFile(m_data, "../nameless", "[Desktop Entry]\nType=Application\nExec=true\n");
        QString seenPrompt;
        const auto chosen = ApplicationPicker::present(
            QStringLiteral("Choose App"), [&](const QString &prompt, const QString &, const QString &) {
                seenPrompt = prompt;
                return fileAndApp.isEmpty() ? std::nullopt : std::optional(m_data + u'/' + fileAndApp[0]);
            });
        QCOMPARE(seenPrompt, QStringLiteral("Choose App"));
        QCOMPARE(chosen.has_value(), fileAndApp.size() == 3);
        if (chosen)
            QCOMPARE(QStringList({ chosen->bundleID, chosen->name }), fileAndApp.mid(1));
    }

    // Microphones only (no monitors), sorted without regard to case; the default unless a monitor.
    void inputDevices()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the private sound server that scripts/test.sh starts");
        QString module;
        QVERIFY(Pactl::run(
            {
                "load-module",
                "module-remap-source",
                "master=micsrc.monitor",
                "source_name=aardvark",
                "source_properties=device.description=aardvark",
            },
            &module));
        const auto unload = qScopeGuard([&] { Pactl::run({ "unload-module", module }); });

        const QList<AudioInputDevice> devices = AudioInputHardware::devices();
        QStringList uids;
        for (const AudioInputDevice &device : devices)
            uids << device.uid;
        QCOMPARE(uids, QStringList({ "aardvark", "mic" }));
        QCOMPARE(devices.constLast().name, QStringLiteral("Virtual-Microphone"));
        QVERIFY(AudioInputHardware::device("mic") == devices.constLast());
        QVERIFY(!AudioInputHardware::device("spk.monitor"));
        QVERIFY(AudioInputHardware::defaultInput() == devices.constLast());

        QVERIFY(Pactl::run({ "set-default-source", "spk.monitor" }));
        const auto restore = qScopeGuard([] { Pactl::run({ "set-default-source", "mic" }); });
        QVERIFY(!AudioInputHardware::defaultInput());
    }

    void descendants_data()
    {
        QTest::addColumn<QList<qint64>>("roots");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::newRow("deep chain") << QList<qint64> { 10 }
                                    << QList<qint64> { 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21 };
        QTest::newRow("sibling branch") << QList<qint64> { 30 } << QList<qint64> { 30, 31 };
        QTest::newRow("loop in the table") << QList<qint64> { 40 } << QList<qint64> { 40 };
    }

    void descendants()
    {
        QFETCH(QList<qint64>, roots);
        QFETCH(QList<qint64>, expected);
        QHash<qint64, qint64> parents { { 10, 1 }, { 30, 1 }, { 31, 30 }, { 32, 1 }, { 50, 51 }, { 51, 50 } };
        for (qint64 pid = 11; pid <= 21; ++pid)
            parents.insert(pid, pid - 1);
        const QSet<qint64> found
            = ProcessTable::descendants(QSet<qint64>(roots.cbegin(), roots.cend()), parents);
        QList<qint64> sorted(found.cbegin(), found.cend());
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(sorted, expected);
    }

private:
    QTemporaryDir m_root;
    QString m_data;
    QString m_toneA;
    QString m_helper;
    QString m_stranger;
    TonePlayers m_players;
};

QTEST_GUILESS_MAIN(AudioCaptureAppsTest)
#include "tst_AudioCaptureApps.moc"
