#include "AppPaths.h"
#include "AppSettingsStore.h"
#include "DefaultsStore.h"
#include "SetupPresentationState.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

namespace {

RecentCaptureRef entry(int n, const QString &filename = QString())
{
    return RecentCaptureRef {
        QUuid::fromString(QStringLiteral("00000000-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0'))),
        filename.isEmpty() ? QStringLiteral("note-%1.md").arg(n) : filename,
        n % 2 ? std::optional(QByteArray("bookmark-") + QByteArray::number(n)) : std::nullopt,
        QDateTime(QDate(2024, 1, 1), QTime(12, 0), Qt::UTC).addSecs(n),
    };
}

AppSettings fullSettings()
{
    AppSettings settings;
    settings.setupComplete = true;
    settings.onboardingStep = 3;
    settings.hasRunTestCapture = true;
    settings.defaultFolder = FolderAccess { "default-bookmark", QStringLiteral("/home/u/Notes") };
    settings.lastUsedFolder = FolderAccess { "last-bookmark", QStringLiteral("/home/u/Other") };
    settings.recent = { entry(3), entry(2), entry(1) };
    settings.microphoneDeviceUID = QStringLiteral("alsa_input.usb-mic");
    settings.recordYouMicrophone = false;
    settings.othersAudioBundleID = QStringLiteral("org.mozilla.firefox");
    settings.othersAudioDisplayName = QStringLiteral("Firefox");
    settings.menuBarRecordingPresence = MenuBarRecordingPresence::compact;
    return settings;
}

QString folderJson(const char *bookmark, const char *path)
{
    return QStringLiteral("{\"bookmarkData\":\"%1\",\"displayPath\":\"%2\"}")
        .arg(QString::fromLatin1(QByteArray(bookmark).toBase64()), QLatin1String(path));
}

QString entryJson(const RecentCaptureRef &ref)
{
    return QString::fromUtf8(QJsonDocument(ref.toJson()).toJson(QJsonDocument::Compact));
}

std::shared_ptr<DefaultsStore> makeStore(bool ini, const QString &folder)
{
    if (ini)
        return SettingsDefaultsStore::open(AppSettingsStore::suiteName(), folder);
    return std::make_shared<InMemoryDefaultsStore>();
}

} // namespace

class TestAppSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void tolerantDecoding_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<AppSettings>("expected");
        const AppSettings defaults;
        QTest::newRow("not JSON") << QByteArray("{oops") << defaults;
        QTest::newRow("an array") << QByteArray("[1, 2]") << defaults;
        QTest::newRow("empty object") << QByteArray("{}") << defaults;

        AppSettings expected;
        expected.onboardingStep = 2;
        expected.recent = { entry(1) };
        QTest::newRow("wrong-typed flag, rest kept")
            << QStringLiteral(R"({"setupComplete":"yes","onboardingStep":2,"recent":[%1]})")
                   .arg(entryJson(entry(1)))
                   .toUtf8()
            << expected;

        for (const auto &[label, raw, step] : { std::tuple { "step above range kept", "7", 7 },
                 { "negative step kept", "-3", -3 }, { "fractional step", "2.5", 0 },
                 { "huge step", "1e300", 0 }, { "step as text", "\"3\"", 0 }, { "step null", "null", 0 } }) {
            AppSettings stepped;
            stepped.onboardingStep = step;
            stepped.hasRunTestCapture = true;
            QTest::newRow(label) << QStringLiteral(R"({"onboardingStep":%1,"hasRunTestCapture":true})")
                                        .arg(QLatin1String(raw))
                                        .toUtf8()
                                 << stepped;
        }

        AppSettings folders;
        folders.lastUsedFolder = FolderAccess { "last", QStringLiteral("/x") };
        folders.recent = { entry(4) };
        QTest::newRow("bad default folder, last folder and recent kept")
            << QStringLiteral(R"({"defaultFolder":"/x","lastUsedFolder":%1,"recent":[%2]})")
                   .arg(folderJson("last", "/x"), entryJson(entry(4)))
                   .toUtf8()
            << folders;
        QTest::newRow("folder with broken bookmark")
            << QByteArray(R"({"defaultFolder":{"bookmarkData":"***","displayPath":"/x"}})") << defaults;
        QTest::newRow("folder without path")
            << QByteArray(R"({"defaultFolder":{"bookmarkData":""}})") << defaults;

        AppSettings someRecent;
        someRecent.recent = { entry(5), entry(7) };
        QJsonObject noID = entry(6).toJson();
        noID.remove("id");
        QJsonObject badDate = entry(8).toJson();
        badDate.insert("savedAt", "yesterday");
        QTest::newRow("bad recent entries dropped alone")
            << QStringLiteral(R"({"recent":[%1,%2,17,%3,%4]})")
                   .arg(entryJson(entry(5)),
                       QString::fromUtf8(QJsonDocument(noID).toJson(QJsonDocument::Compact)),
                       entryJson(entry(7)),
                       QString::fromUtf8(QJsonDocument(badDate).toJson(QJsonDocument::Compact)))
                   .toUtf8()
            << someRecent;
        QJsonObject badBookmark = entry(9).toJson();
        badBookmark.insert("bookmarkData", 12);
        AppSettings keptWithoutBookmark;
        RecentCaptureRef nine = entry(9);
        nine.bookmarkData = std::nullopt;
        keptWithoutBookmark.recent = { nine };
        QTest::newRow("recent entry with a bad bookmark keeps the entry")
            << QStringLiteral(R"({"recent":[%1]})")
                   .arg(QString::fromUtf8(QJsonDocument(badBookmark).toJson(QJsonDocument::Compact)))
                   .toUtf8()
            << keptWithoutBookmark;

        AppSettings audio;
        audio.recordYouMicrophone = true;
        audio.othersAudioDisplayName = QStringLiteral("Player");
        audio.menuBarRecordingPresence = MenuBarRecordingPresence::elapsed;
        QTest::newRow("audio fields one by one") << QByteArray(
            R"({"microphoneDeviceUID":12,"recordYouMicrophone":"false","othersAudioBundleID":[],)"
            R"("othersAudioDisplayName":"Player","menuBarRecordingPresence":"bogus"})")
                                                 << audio;
        AppSettings compact;
        compact.menuBarRecordingPresence = MenuBarRecordingPresence::compact;
        compact.setupComplete = true;
        QTest::newRow("presence compact")
            << QByteArray(R"({"menuBarRecordingPresence":"compact","setupComplete":true})") << compact;
    }

    void tolerantDecoding()
    {
        QFETCH(QByteArray, stored);
        QFETCH(AppSettings, expected);
        auto defaults = std::make_shared<InMemoryDefaultsStore>();
        defaults->setData(QStringLiteral("app-settings-v1"), stored);
        QCOMPARE(AppSettingsStore(defaults).load(), expected);
    }

    void missingRecordGivesDefaults()
    {
        auto defaults = std::make_shared<InMemoryDefaultsStore>();
        QCOMPARE(AppSettingsStore(defaults).load(), AppSettings());
        defaults->setBoolean(QStringLiteral("app-settings-v1"), true);
        QCOMPARE(AppSettingsStore(defaults).load(), AppSettings());
    }

    void roundTrip_data()
    {
        QTest::addColumn<bool>("ini");
        QTest::newRow("in memory") << false;
        QTest::newRow("INI file") << true;
    }

    void roundTrip()
    {
        QFETCH(bool, ini);
        QTemporaryDir folder;
        const AppSettings settings = fullSettings();
        {
            AppSettingsStore store(makeStore(ini, folder.path()));
            store.save(settings);
            QCOMPARE(store.load(), settings);
            AppSettings cleared = settings;
            cleared.defaultFolder = std::nullopt;
            cleared.microphoneDeviceUID = std::nullopt;
            store.save(cleared);
            QCOMPARE(store.load(), cleared);
            store.save(settings);
        }
        if (ini) {
            // Written through: a new store over the same file reads it back.
            QVERIFY(QFile::exists(folder.filePath(QStringLiteral("com.quorvel.dovrin.settings.ini"))));
            QCOMPARE(AppSettingsStore(makeStore(true, folder.path())).load(), settings);
        }
    }

    void typedDefaults_data() { roundTrip_data(); }

    void typedDefaults()
    {
        QFETCH(bool, ini);
        QTemporaryDir folder;
        auto store = makeStore(ini, folder.path());
        store->setBoolean(QStringLiteral("flag-on"), true);
        store->setBoolean(QStringLiteral("flag-off"), false);
        store->setString(
            QStringLiteral("last-saved-draft-id-v1"), QStringLiteral("@not a byte array, \"quoted\""));
        store->setData(QStringLiteral("capture-shortcut-v1"), QByteArray("{\"keyCode\":8}\n\0x", 16));
        store->setString(QStringLiteral("gone"), QStringLiteral("x"));
        store->remove(QStringLiteral("gone"));
        // The INI file is read back by a new store; values must come back with their types.
        if (ini)
            store = makeStore(true, folder.path());
        QCOMPARE(store->boolean(QStringLiteral("flag-on")), true);
        QCOMPARE(store->boolean(QStringLiteral("flag-off"), true), false);
        QCOMPARE(store->boolean(QStringLiteral("absent"), true), true);
        QCOMPARE(store->boolean(QStringLiteral("last-saved-draft-id-v1"), true), true);
        QCOMPARE(store->string(QStringLiteral("last-saved-draft-id-v1")),
            QStringLiteral("@not a byte array, \"quoted\""));
        QCOMPARE(store->data(QStringLiteral("capture-shortcut-v1")), QByteArray("{\"keyCode\":8}\n\0x", 16));
        QCOMPARE(store->string(QStringLiteral("capture-shortcut-v1")), std::nullopt);
        QVERIFY(!store->contains(QStringLiteral("gone")));
    }

    void settingsSuiteFallsBackToStandard()
    {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        const QString folder = config.filePath(QStringLiteral("com.quorvel.dovrin"));
        {
            auto store = SettingsDefaultsStore::openSettingsOrStandard();
            QVERIFY(store);
            store->setBoolean(QStringLiteral("k"), true);
            QVERIFY(QFile::exists(folder + QStringLiteral("/com.quorvel.dovrin.settings.ini")));
        }
        QVERIFY(QFile::remove(folder + QStringLiteral("/com.quorvel.dovrin.settings.ini")));
        // A settings suite that cannot be read gives way to the standard suite.
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/com.quorvel.dovrin.settings.ini")));
        {
            auto store = SettingsDefaultsStore::openSettingsOrStandard();
            QVERIFY(store);
            store->setBoolean(QStringLiteral("k"), true);
        }
        QVERIFY(QFile::exists(folder + QStringLiteral("/com.quorvel.dovrin.ini")));
        qunsetenv("XDG_CONFIG_HOME");
    }

    void remember_data()
    {
        QTest::addColumn<QList<RecentCaptureRef>>("before");
        QTest::addColumn<RecentCaptureRef>("added");
        QTest::addColumn<QList<RecentCaptureRef>>("after");
        QTest::newRow("first") << QList<RecentCaptureRef> {} << entry(1) << QList { entry(1) };
        QTest::newRow("newest first")
            << QList { entry(2), entry(1) } << entry(3) << QList { entry(3), entry(2), entry(1) };
        RecentCaptureRef sameID = entry(2);
        sameID.filename = QStringLiteral("renamed.md");
        QTest::newRow("same id replaced")
            << QList { entry(3), entry(2), entry(1) } << sameID << QList { sameID, entry(3), entry(1) };
        const RecentCaptureRef sameName = entry(9, QStringLiteral("note-1.md"));
        QTest::newRow("same filename replaced")
            << QList { entry(3), entry(2), entry(1) } << sameName << QList { sameName, entry(3), entry(2) };
        RecentCaptureRef both = entry(3, QStringLiteral("note-1.md"));
        QTest::newRow("id and filename of two entries")
            << QList { entry(3), entry(2), entry(1) } << both << QList { both, entry(2) };
        QList<RecentCaptureRef> full;
        for (int n = 20; n >= 1; --n)
            full.append(entry(n));
        QList<RecentCaptureRef> kept = full.mid(0, 19);
        kept.prepend(entry(21));
        QTest::newRow("keeps 20") << full << entry(21) << kept;
    }

    void remember()
    {
        QFETCH(QList<RecentCaptureRef>, before);
        QFETCH(RecentCaptureRef, added);
        QFETCH(QList<RecentCaptureRef>, after);
        AppSettings settings;
        settings.recent = before;
        settings.remember(added);
        QCOMPARE(settings.recent, after);
    }

    void removeRecent()
    {
        AppSettings settings;
        settings.recent = { entry(4), entry(3), entry(2), entry(3, QStringLiteral("dup.md")), entry(1) };
        settings.removeRecent(entry(3).id);
        QCOMPARE(settings.recent, (QList { entry(4), entry(2), entry(1) }));
        settings.removeRecent(QUuid::createUuid());
        QCOMPARE(settings.recent.size(), 3);
    }

    void appPaths_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("dataDirectory");
        QTest::addColumn<QString>("configDirectory");
        QTest::newRow("set") << QByteArray("/x/data") << QByteArray("/x/config/")
                             << "/x/data/com.quorvel.dovrin"
                             << "/x/config/com.quorvel.dovrin";
        QTest::newRow("unset") << QByteArray() << QByteArray() << "HOME/.local/share/com.quorvel.dovrin"
                               << "HOME/.config/com.quorvel.dovrin";
        QTest::newRow("relative values ignored")
            << QByteArray("data") << QByteArray("./config") << "HOME/.local/share/com.quorvel.dovrin"
            << "HOME/.config/com.quorvel.dovrin";
    }

    void appPaths()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, config);
        QFETCH(QString, dataDirectory);
        QFETCH(QString, configDirectory);
        const QByteArray savedHome = qgetenv("HOME");
        const QByteArray savedData = qgetenv("XDG_DATA_HOME");
        const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", "/home/tester");
        qputenv("XDG_DATA_HOME", data);
        qputenv("XDG_CONFIG_HOME", config);
        const QString actualData = AppPaths::dataDirectory();
        const QString actualConfig = AppPaths::configDirectory();
        qputenv("HOME", savedHome);
        qputenv("XDG_DATA_HOME", savedData);
        qputenv("XDG_CONFIG_HOME", savedConfig);
        QCOMPARE(actualData, dataDirectory.replace(QStringLiteral("HOME"), QStringLiteral("/home/tester")));
        QCOMPARE(
            actualConfig, configDirectory.replace(QStringLiteral("HOME"), QStringLiteral("/home/tester")));
    }

    void setupPresentation_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("ranTest");
        QTest::addColumn<bool>("complete");
        QTest::newRow("fresh") << false << 0 << false << false;
        QTest::newRow("stored flag") << true << 0 << false << true;
        QTest::newRow("last step with a test capture") << false << 4 << true << true;
        QTest::newRow("last step without a test capture") << false << 4 << false << false;
        QTest::newRow("test capture before the last step") << false << 3 << true << false;
        QTest::newRow("step beyond range with a test capture") << false << 9 << true << true;
        QTest::newRow("negative step") << false << -1 << true << false;
    }

    void setupPresentation()
    {
        QFETCH(bool, stored);
        QFETCH(int, step);
        QFETCH(bool, ranTest);
        QFETCH(bool, complete);
        SetupPresentationState state(stored, step, ranTest);
        QCOMPARE(state.isComplete, complete);
        QCOMPARE(state.explicitPresentationPending, false);
        // Shown while incomplete, every time it is asked.
        QCOMPARE(state.consumePresentation(), !complete);
        QCOMPARE(state.consumePresentation(), !complete);
        // An explicit request is shown once even when complete, and survives a refresh.
        state.prepareExplicitPresentation();
        state.refreshCompletion(stored, step, ranTest);
        QCOMPARE(state.explicitPresentationPending, true);
        QCOMPARE(state.consumePresentation(), true);
        QCOMPARE(state.explicitPresentationPending, false);
        QCOMPARE(state.consumePresentation(), !complete);
        // complete() settles it and drops a pending request; a refresh recomputes from the record.
        state.prepareExplicitPresentation();
        state.complete();
        QCOMPARE(state, (SetupPresentationState(true, 0, false)));
        QCOMPARE(state.consumePresentation(), false);
        state.refreshCompletion(stored, step, ranTest);
        QCOMPARE(state.isComplete, complete);
    }
};

QTEST_GUILESS_MAIN(TestAppSettingsStore)
#include "tst_AppSettingsStore.moc"
