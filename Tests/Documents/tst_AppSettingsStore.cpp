#include "Documents/AppPaths.h"
#include "Documents/AppSettingsStore.h"
#include "Documents/DefaultsStore.h"
#include "Documents/SetupPresentationState.h"
#include "ScopedEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

namespace {

RecentCaptureRef entry(int n, const QString &filename = QString())
{
    return { QUuid::fromString(QStringLiteral("00000000-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0'))),
        filename.isEmpty() ? QStringLiteral("note-%1.md").arg(n) : filename,
        n % 2 ? std::optional(QByteArray("bookmark-") + QByteArray::number(n)) : std::nullopt,
        QDateTime(QDate(2024, 1, 1), QTime(12, 0), Qt::UTC).addSecs(n) };
}

QString json(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

AppSettings settingsWith(const std::function<void(AppSettings &)> &change)
{
    AppSettings settings;
    change(settings);
    return settings;
}

} // namespace

class TestAppSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void tolerantDecoding_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<AppSettings>("expected");
        QTest::newRow("not JSON") << "{oops" << AppSettings();
        QTest::newRow("an array") << "[1, 2]" << AppSettings();
        QTest::newRow("every key missing") << "{}" << AppSettings();
        const FolderAccess folder { "bookmark", "/home/u/Notes" };
        QTest::newRow("wrong-typed fields fall back alone")
            << QStringLiteral(R"({"setupComplete":"yes","onboardingStep":2,"hasRunTestCapture":1,
                "defaultFolder":"/x","lastUsedFolder":%1,"recent":[%2],"microphoneDeviceUID":12,
                "recordYouMicrophone":"false","othersAudioBundleID":[],"othersAudioDisplayName":"Player",
                "menuBarRecordingPresence":"bogus"})")
                   .arg(json(folder.toJson()), json(entry(1).toJson()))
            << settingsWith([&](AppSettings &s) {
                   s.onboardingStep = 2;
                   s.lastUsedFolder = folder;
                   s.recent = { entry(1) };
                   s.othersAudioDisplayName = "Player";
               });
        for (const auto &[raw, step] :
            { std::pair { "7", 7 }, { "-3", -3 }, { "2.5", 0 }, { "1e300", 0 }, { "\"3\"", 0 } })
            QTest::addRow("step %s", raw)
                << QStringLiteral(R"({"onboardingStep":%1,"setupComplete":true})").arg(raw)
                << settingsWith([&](AppSettings &s) {
                       s.onboardingStep = step;
                       s.setupComplete = true;
                   });
        QJsonObject noID = entry(6).toJson();
        noID.remove("id");
        QJsonObject badDate = entry(8).toJson();
        badDate.insert("savedAt", "yesterday");
        QJsonObject badBookmark = entry(9).toJson();
        badBookmark.insert("bookmarkData", "***");
        RecentCaptureRef nine = entry(9);
        nine.bookmarkData = std::nullopt;
        QTest::newRow("bad recent entries dropped alone")
            << QStringLiteral(
                   R"({"recent":[%1,%2,17,%3,%4,%5],"defaultFolder":{"bookmarkData":"***","displayPath":"/x"},
                "menuBarRecordingPresence":"compact"})")
                   .arg(json(entry(5).toJson()), json(noID), json(entry(7).toJson()), json(badDate),
                       json(badBookmark))
            << settingsWith([&](AppSettings &s) {
                   s.recent = { entry(5), entry(7), nine };
                   s.menuBarRecordingPresence = MenuBarRecordingPresence::compact;
               });
    }

    void tolerantDecoding()
    {
        QFETCH(QString, stored);
        QFETCH(AppSettings, expected);
        auto defaults = std::make_shared<InMemoryDefaultsStore>();
        defaults->setData(QStringLiteral("app-settings-v1"), stored.toUtf8());
        QCOMPARE(AppSettingsStore(defaults).load(), expected);
    }

    void roundTrip_data()
    {
        QTest::addColumn<bool>("ini");
        QTest::newRow("in memory") << false;
        QTest::newRow("INI file") << true;
    }

    // Both backends give back what was stored, with its type; the INI file is read by a new store.
    void roundTrip()
    {
        QFETCH(bool, ini);
        QTemporaryDir folder;
        const auto open = [&]() -> std::shared_ptr<DefaultsStore> {
            if (ini)
                return SettingsDefaultsStore::open(AppSettingsStore::suiteName(), folder.path());
            static auto memory = std::make_shared<InMemoryDefaultsStore>();
            return memory;
        };
        AppSettings settings = settingsWith([](AppSettings &s) {
            s.setupComplete = s.hasRunTestCapture = true;
            s.onboardingStep = 3;
            s.defaultFolder = FolderAccess { "default", "/home/u/Notes" };
            s.recent = { entry(3), entry(2) };
            s.microphoneDeviceUID = "alsa_input.usb-mic";
            s.recordYouMicrophone = false;
            s.othersAudioBundleID = "org.mozilla.firefox";
            s.menuBarRecordingPresence = MenuBarRecordingPresence::compact;
        });
        {
            auto store = open();
            AppSettingsStore(store).save(settings);
            store->setBoolean("flag-on", true);
            store->setBoolean("flag-off", false);
            store->setString("last-saved-draft-id-v1", "@not bytes, \"quoted\"");
            store->setData("capture-shortcut-v1", QByteArray("{\"keyCode\":8}\n\0x", 16));
            store->setString("gone", "x");
            store->remove("gone");
        }
        const auto store = open();
        QCOMPARE(AppSettingsStore(store).load(), settings);
        QCOMPARE(store->boolean("flag-on"), true);
        QCOMPARE(store->boolean("flag-off", true), false);
        QCOMPARE(store->boolean("absent", true), true);
        QCOMPARE(store->boolean("last-saved-draft-id-v1", true), true);
        QCOMPARE(store->string("last-saved-draft-id-v1"), QStringLiteral("@not bytes, \"quoted\""));
        QCOMPARE(store->data("capture-shortcut-v1"), QByteArray("{\"keyCode\":8}\n\0x", 16));
        QVERIFY(!store->contains("gone"));
        if (ini)
            QVERIFY(QFile::exists(folder.filePath("com.quorvel.dovrin.settings.ini")));
    }

    void unreadableSettingsSuiteGivesWayToStandard()
    {
        QTemporaryDir config;
        ScopedEnvironment environment;
        environment.set("XDG_CONFIG_HOME", config.path().toUtf8());
        const QString folder = config.filePath(QStringLiteral("com.quorvel.dovrin"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/com.quorvel.dovrin.settings.ini")));
        SettingsDefaultsStore::openSettingsOrStandard()->setBoolean("k", true);
        environment.restore();
        QVERIFY(QFile::exists(folder + QStringLiteral("/com.quorvel.dovrin.ini")));
    }

    void remember_data()
    {
        QTest::addColumn<QList<RecentCaptureRef>>("before");
        QTest::addColumn<RecentCaptureRef>("added");
        QTest::addColumn<QList<RecentCaptureRef>>("after");
        const QList<RecentCaptureRef> three { entry(3), entry(2), entry(1) };
        QList<RecentCaptureRef> full;
        for (int n = 20; n >= 1; --n)
            full.append(entry(n));
        const RecentCaptureRef sameID = entry(2, "renamed.md"), sameName = entry(9, "note-1.md"),
                               both = entry(3, "note-1.md");
        QTest::newRow("newest first")
            << three << entry(4) << QList { entry(4), entry(3), entry(2), entry(1) };
        QTest::newRow("same id") << three << sameID << QList { sameID, entry(3), entry(1) };
        QTest::newRow("same filename") << three << sameName << QList { sameName, entry(3), entry(2) };
        QTest::newRow("id of one, filename of another") << three << both << QList { both, entry(2) };
        QTest::newRow("keeps 20") << full << entry(21) << QList { entry(21) } + full.mid(0, 19);
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
        settings.removeRecent(added.id);
        QCOMPARE(settings.recent, after.mid(1));
    }

    void appPaths()
    {
        ScopedEnvironment environment;
        environment.set("HOME", "/home/tester").set("XDG_DATA_HOME", "/x/data/");
        environment.set("XDG_CONFIG_HOME", "relative/config"); // invalid by the XDG rules: ignored
        const QStringList paths { AppPaths::dataDirectory(), AppPaths::configDirectory() };
        environment.unset("XDG_DATA_HOME");
        const QString defaultData = AppPaths::dataDirectory();
        environment.restore();
        QCOMPARE(
            paths, (QStringList { "/x/data/com.quorvel.dovrin", "/home/tester/.config/com.quorvel.dovrin" }));
        QCOMPARE(defaultData, QStringLiteral("/home/tester/.local/share/com.quorvel.dovrin"));
    }

    // Complete when stored, or at the last step with a test capture. Shown every time while incomplete; an
    // explicit request is shown once, even when complete, and survives a refresh.
    void setupPresentation()
    {
        for (const auto &[stored, step, ranTest, complete] :
            { std::tuple { false, 0, false, false }, { true, 0, false, true }, { false, 4, true, true },
                { false, 4, false, false }, { false, 3, true, false } }) {
            SetupPresentationState state(stored, step, ranTest);
            QCOMPARE(state.isComplete, complete);
            QVERIFY(!state.explicitPresentationPending);
            QCOMPARE(state.consumePresentation(), !complete);
            QCOMPARE(state.consumePresentation(), !complete);
            state.prepareExplicitPresentation();
            state.refreshCompletion(stored, step, ranTest);
            QCOMPARE(state.consumePresentation(), true);
            QCOMPARE(state.consumePresentation(), !complete);
            state.prepareExplicitPresentation();
            state.complete();
            QCOMPARE(state.consumePresentation(), false);
            state.refreshCompletion(stored, step, ranTest);
            QCOMPARE(state.isComplete, complete);
        }
    }
};

QTEST_GUILESS_MAIN(TestAppSettingsStore)
#include "tst_AppSettingsStore.moc"
