#include "Documents/AppPaths.h"
#include "Documents/AppSettingsStore.h"
#include "Documents/DefaultsStore.h"
#include "Documents/SetupPresentationState.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <cstring>

#include <sys/stat.h>

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

    // Entries another program could have written: one per id and per file name, the newest kept, and
    // only names of files inside the capture folder.
    void recentEntriesRefusedWhereRead_data()
    {
        QTest::addColumn<QList<RecentCaptureRef>>("stored");
        QTest::addColumn<QList<RecentCaptureRef>>("expected");
        const RecentCaptureRef one = entry(1), two = entry(2), three = entry(3);
        QTest::newRow("same entry twice") << QList { one, two, one } << QList { one, two };
        QTest::newRow("same id, other name") << QList { two, entry(2, "other.md") } << QList { two };
        QTest::newRow("same name, other id")
            << QList { three, entry(4, "note-3.md"), one } << QList { three, one };
        QList<RecentCaptureRef> many;
        for (int n = 0; n < 50; ++n)
            many << entry(n % 2 ? 1 : 100 + n);
        QList<RecentCaptureRef> kept { entry(100), entry(1) };
        for (int n = 102; kept.size() < 20; n += 2)
            kept << entry(n);
        QTest::newRow("duplicates do not count toward 20") << many << kept;
        const QStringList paths { "../escape.md", "sub/note.md", "/etc/passwd", "note.md/", ".", "..", "",
            QString::fromUtf16(u"a\0b.md", 6) };
        for (const QString &name : paths) {
            RecentCaptureRef path = entry(9);
            path.filename = name;
            QTest::addRow("file name \"%s\"", qPrintable(QString(name).replace(QChar(0), "<NUL>")))
                << QList { one, path, two } << QList { one, two };
        }
        QTest::newRow("dots inside a name are fine") << QList { entry(5, "..hidden"), entry(6, "a..b.md"),
            entry(7, "...") } << QList { entry(5, "..hidden"), entry(6, "a..b.md"), entry(7, "...") };
    }

    void recentEntriesRefusedWhereRead()
    {
        QFETCH(QList<RecentCaptureRef>, stored);
        QJsonArray array;
        for (const RecentCaptureRef &ref : stored)
            array.append(ref.toJson());
        QTEST(AppSettings::fromJson(QJsonObject { { "recent", array } }).recent, "expected");
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

    // A settings file that cannot be read is never swapped for another file, never opened when it is not
    // a regular file (a FIFO blocked start-up for good) and stays byte for byte until the user changes a
    // setting; then a readable file takes its place, holding what was set meanwhile.
    void unreadableSuiteIsKept_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const QByteArray record = "app-settings-v1=\"{\\\"setupComplete\\\":true}\"";
        QTest::newRow("section never closed") << "file"
                                              << "[General\n" + record + "\n"
                                              << "has a format error";
        QTest::newRow("a line that is no key") << "file"
                                               << "[General]\n" + record + "\nkey without a value\n"
                                               << "has a format error";
        QTest::newRow("a folder") << "folder" << QByteArray() << "is a folder";
        QTest::newRow("a FIFO") << "fifo" << QByteArray() << "is not a regular file";
        QTest::newRow("a link to a FIFO") << "link" << QByteArray() << "is not a regular file";
    }

    void unreadableSuiteIsKept()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QTemporaryDir config;
        ScopedEnvironment environment;
        environment.set("XDG_CONFIG_HOME", config.path().toUtf8());
        const QString folder = config.filePath(QStringLiteral("com.quorvel.dovrin"));
        const QString path = folder + QStringLiteral("/com.quorvel.dovrin.settings.ini");
        QVERIFY(QDir().mkpath(folder));
        const QByteArray name = QFile::encodeName(path);
        if (kind == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else {
            QCOMPARE(::mkfifo(QFile::encodeName(config.filePath("elsewhere")).constData(), 0600), 0);
            QVERIFY(QFile::link(config.filePath("elsewhere"), path));
        }
        const auto untouched = [&] {
            struct stat info
            {
            };
            if (::lstat(name.constData(), &info) != 0)
                return false;
            if (kind == "file")
                return S_ISREG(info.st_mode) && TestSupport::readFile(path) == content;
            return kind == "folder" ? S_ISDIR(info.st_mode)
                : kind == "fifo"    ? S_ISFIFO(info.st_mode)
                                    : S_ISLNK(info.st_mode);
        };

        const std::shared_ptr<DefaultsStore> store = SettingsDefaultsStore::openSettingsOrStandard();
        environment.restore();
        QVERIFY(store);
        QFETCH(QString, reason);
        QCOMPARE(store->readFailure().value_or(QString()), path + QLatin1Char(' ') + reason);
        QCOMPARE(AppSettingsStore(store).load(), AppSettings());
        // The program's own bookkeeping stays in memory.
        store->setBoolean("flag", true);
        store->remove("absent");
        QCOMPARE(store->boolean("flag"), true);
        QVERIFY(untouched());
        QVERIFY(!QFile::exists(folder + QStringLiteral("/com.quorvel.dovrin.ini")));

        AppSettings changed;
        changed.onboardingStep = 2;
        store->replaceUnreadable();
        AppSettingsStore(store).save(changed);
        QCOMPARE(AppSettingsStore(store).load(), changed);
        // What could not be read stays beside the new file, as it was.
        QStringList left
            = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left,
            QStringList({ "com.quorvel.dovrin.settings.ini", "com.quorvel.dovrin.settings.ini.unreadable" }));
        const auto move = [](const QString &from, const QString &to) {
            return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
        };
        QVERIFY(move(path, path + ".new") && move(path + ".unreadable", path));
        QVERIFY(untouched());
        QVERIFY(move(path, path + ".unreadable") && move(path + ".new", path));
        QCOMPARE(store->writeFailure(), std::nullopt);
        QCOMPARE(store->readFailure(), std::nullopt);
        const std::shared_ptr<DefaultsStore> reopened
            = SettingsDefaultsStore::open(AppSettingsStore::suiteName(), folder);
        QCOMPARE(reopened->readFailure(), std::nullopt);
        QCOMPARE(AppSettingsStore(reopened).load(), changed);
        QCOMPARE(reopened->boolean("flag"), true);
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

    // Complete when stored, or at the last step with a test capture; a stored step below 0 reads as the
    // first step, one above 4 as the last. Shown every time while incomplete; an
    // explicit request is shown once, even when complete, and survives a refresh.
    void setupPresentation()
    {
        for (const auto &[stored, step, ranTest, complete] :
            { std::tuple { false, 0, false, false }, { true, 0, false, true }, { false, 4, true, true },
                { false, 4, false, false }, { false, 3, true, false }, { false, 5, true, true },
                { false, 99, true, true }, { false, INT_MAX, true, true }, { false, 99, false, false },
                { false, -4, true, false }, { true, 99, false, true } }) {
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
