#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"
#include "Documents/JsonFields.h"
#include "Platform/AutostartEntry.h"
#include "SealedDraftFiles.h"
#include "TestSupport.h"

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

using SealedDraftFiles::draftRole;
using SealedDraftFiles::seal;
using SealedDraftFiles::tileRole;

int modeOf(const QString &path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

QByteArray testPNG(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    image.setPixelColor(1, 1, Qt::white);
    return ImageNormalization::pngData(image).value_or(QByteArray());
}

CaptureDraft fullDraft()
{
    const QDateTime created
        = QDateTime::fromString(QStringLiteral("2024-05-01T09:30:00.125Z"), Qt::ISODateWithMs);
    return CaptureDraft(QUuid::createUuid(), created, created.addSecs(90), created.addMSecs(-250),
        testPNG(64, 48, Qt::darkCyan), QStringLiteral("Recognized\nlines"),
        QStringLiteral("Reviewed «text» 🙂"), { "en-US", "de-DE" },
        { { "Recognized", QRectF(0.1, 0.5, 0.4, 0.1), 0.93 }, { "lines", QRectF(0.1, 0.3, 0.2, 0.1), 0.5 } },
        QStringLiteral("Text Editor"), QStringLiteral("org.example.editor"), QStringLiteral("Title \"q\""),
        QStringLiteral("A note\nwith lines"), { "work", "ünï" },
        ScrollingCaptureManifest { 800, 2400, { { 0, 800, 600, 0 }, { 1, 800, 1800, 600 } } },
        FolderAccess { QByteArray("\x00\x01bookmark", 10), QStringLiteral("/home/u/Notes") });
}

CaptureDraft minimalDraft()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return CaptureDraft(QUuid::createUuid(), now, now, now, QByteArray(), std::nullopt, QString(), {}, {},
        std::nullopt, std::nullopt, QStringLiteral("Untitled capture"), QString(), {}, std::nullopt,
        std::nullopt);
}

// What an action on the store came to: "ok", the error's code, or "system" for a file system error.
QString outcome(const std::function<void()> &action)
{
    try {
        action();
    } catch (const EncryptedDraftError &error) {
        static const char *const names[]
            = { "missing", "corrupt", "imageTooLarge", "tileTooLarge", "deleteFailed", "newerVersion" };
        return QLatin1String(names[int(error.code())]);
    } catch (const DraftKeyStoreError &error) {
        return error.code() == DraftKeyStoreError::Code::wrongLength ? "wrongLength" : "unavailable";
    } catch (const std::system_error &) {
        return "system";
    }
    return "ok";
}

const QByteArray testKey(32, '\x11');
// Places under a test folder and their modes.
using Modes = QMap<QString, int>;
const QUuid tileDraft = QUuid::fromString(QStringLiteral("{6c3d6f56-8a37-4a8c-9b7e-0b5b8d7e2f10}"));

} // namespace

Q_DECLARE_METATYPE(CaptureDraft)

class TestEncryptedDraft : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folders = 0;

    QString newFolder() { return m_root.filePath(QStringLiteral("store-%1").arg(++m_folders)); }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<CaptureDraft>("draft");
        QTest::newRow("every field") << fullDraft();
        QTest::newRow("optionals absent") << minimalDraft();
    }

    void roundTrip()
    {
        QFETCH(CaptureDraft, draft);
        const QString folder = newFolder();
        const EncryptedDraftStore store(folder, DraftKeyStore::loadOrCreate(folder));
        QCOMPARE(store.load(), std::nullopt);
        store.save(draft);
        const QList<QByteArray> tiles { testPNG(40, 30, Qt::red), testPNG(40, 50, Qt::green), QByteArray() };
        for (int i = 0; i < tiles.size(); ++i)
            QCOMPARE(store.saveTilePNG(draft.id, i, tiles.at(i)), qint64(tiles.at(i).size() + 28));

        // A second store over the same folder and key file sees the same draft and tiles.
        const EncryptedDraftStore reopened(folder, DraftKeyStore::loadOrCreate(folder));
        QCOMPARE(reopened.load(), draft);
        for (int i = 0; i < tiles.size(); ++i)
            QCOMPARE(reopened.loadTilePNG(draft.id, i), tiles.at(i));
        draft.title = QStringLiteral("Edited");
        store.save(draft);
        QCOMPARE(reopened.load(), draft);

        // The documented layout, sealed without the store, opens as the same draft.
        const QByteArray key = readFile(folder + QStringLiteral("/draft-key.aes"));
        QVERIFY(writeFile(store.draftFilePath(), seal(key, draftRole(), draft.encodeJson())));
        QCOMPARE(store.load(), draft);

        // Deleting takes the draft and its tiles and leaves the key; nothing stored is not an error.
        store.deleteDraft();
        store.deleteDraft();
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { "draft-key.aes" });
        QCOMPARE(DraftKeyStore::loadOrCreate(folder), key);
    }

    // With an open umask the modes can only come from how things are created or opened.
    void modesAtAnOpenUmask_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Modes>("modes");
        QTest::newRow("draft store") << "store"
                                     << Modes { { "d", 0700 }, { "d/s", 0700 }, { "d/s/draft-key.aes", 0600 },
                                            { "d/s/active-draft.sealed", 0600 },
                                            { "d/s/active-draft-tiles", 0700 },
                                            { "d/s/active-draft-tiles/tile-0000.sealed", 0600 } };
        QTest::newRow("key file others could read")
            << "loose key" << Modes { { "d/s", 0700 }, { "d/s/draft-key.aes", 0600 } };
        QTest::newRow("autostart entry")
            << "autostart"
            << Modes { { "config/autostart", 0755 }, { "config/autostart/quorvel.desktop", 0644 } };
    }

    void modesAtAnOpenUmask()
    {
        QFETCH(QString, kind);
        QFETCH(Modes, modes);
        const QString base = newFolder();
        const QString folder = base + QStringLiteral("/d/s");
        const mode_t previous = ::umask(0);
        bool done = false;
        if (kind == "store") {
            done = outcome([&] {
                const EncryptedDraftStore store(folder, DraftKeyStore::loadOrCreate(folder));
                store.save(minimalDraft());
                store.saveTilePNG(QUuid::createUuid(), 0, "x");
            }) == "ok";
        } else if (kind == "loose key") {
            const QString key = folder + QStringLiteral("/draft-key.aes");
            done = writeFile(key, testKey) && QFile::setPermissions(folder, QFileDevice::Permissions(0x7755))
                && QFile::setPermissions(key, QFileDevice::Permissions(0x6644))
                && DraftKeyStore::loadOrCreate(folder) == testKey;
        } else {
            done = AutostartEntry(base + QStringLiteral("/config"), QStringLiteral("quorvel"))
                       .write(QStringLiteral("/usr/bin/quorvel"), QStringLiteral("Quorvel"), nullptr);
        }
        ::umask(previous);
        QVERIFY(done);
        for (auto it = modes.cbegin(); it != modes.cend(); ++it)
            QVERIFY2(modeOf(base + QLatin1Char('/') + it.key()) == it.value(), qPrintable(it.key()));
    }

    // A link anywhere in the store, pointing outside it: nothing outside is read as the store's, written,
    // tightened or deleted, and the store says so. Outcomes of: making the store, load, loadTilePNG,
    // deleteDraft, saveTilePNG.
    void linksAreNeverFollowed_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QStringList>("outcomes");
        QTest::newRow("store folder") << "" << QStringList { "system" };
        QTest::newRow("tile folder, deleted through the link before")
            << "active-draft-tiles" << QStringList { "ok", "ok", "corrupt", "deleteFailed", "system" };
        QTest::newRow("draft file") << "active-draft.sealed"
                                    << QStringList { "ok", "corrupt", "missing", "deleteFailed", "ok" };
        QTest::newRow("tile file") << "active-draft-tiles/tile-0000.sealed"
                                   << QStringList { "ok", "ok", "corrupt", "deleteFailed", "ok" };
    }

    void linksAreNeverFollowed()
    {
        QFETCH(QString, link);
        QFETCH(QStringList, outcomes);
        const QString folder = newFolder();
        const QString outside = folder + QStringLiteral("-outside");
        QVERIFY(writeFile(outside + QStringLiteral("/precious"), "precious"));
        QVERIFY(::chmod(QFile::encodeName(outside).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(outside + QStringLiteral("/precious")).constData(), 0644) == 0);
        const QString at = link.isEmpty() ? folder : folder + QLatin1Char('/') + link;
        QVERIFY(QDir().mkpath(QFileInfo(at).path()));
        QVERIFY(QFile::link(link.endsWith(".sealed") ? outside + QStringLiteral("/precious") : outside, at));

        std::optional<EncryptedDraftStore> store;
        QStringList seen { outcome([&] { store.emplace(folder, testKey); }) };
        if (store) {
            seen << outcome([&] { store->load(); }) << outcome([&] { store->loadTilePNG(tileDraft, 0); })
                 << outcome([&] { store->deleteDraft(); })
                 << outcome([&] { store->saveTilePNG(tileDraft, 0, "png"); });
        }
        QCOMPARE(seen, outcomes);
        QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { "precious" });
        QCOMPARE(readFile(outside + QStringLiteral("/precious")), QByteArray("precious"));
        QCOMPARE(modeOf(outside), 0755);
        QCOMPARE(modeOf(outside + QStringLiteral("/precious")), 0644);
    }

    // Temporary files of saves cut short by a crash go when a store is made; nothing else does.
    void staleTemporariesSwept_data()
    {
        QTest::addColumn<QString>("name"); // a trailing "/" makes a folder
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("swept");
        QTest::newRow("crash leftover") << ".quorvel-1f2e3d4c5b6a7980.tmp" << 3600 << true;
        QTest::newRow("in the tile folder") << "active-draft-tiles/.quorvel-ab.tmp" << 120 << true;
        QTest::newRow("a save under way") << ".quorvel-ab.tmp" << 5 << false;
        QTest::newRow("not a name the store writes") << ".quorvel-notes.tmp" << 3600 << false;
        QTest::newRow("someone's file") << "notes.tmp" << 3600 << false;
        QTest::newRow("a folder of that name") << ".quorvel-ab.tmp/" << 3600 << false;
    }

    void staleTemporariesSwept()
    {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, swept);
        const QString folder = newFolder();
        const QString path = folder + QLatin1Char('/') + name;
        QVERIFY(name.endsWith('/') ? QDir().mkpath(path) : writeFile(path, QByteArray(4096, 't')));
        const timespec then { ::time(nullptr) - ageSeconds, 0 };
        const timespec times[] = { then, then };
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
        const EncryptedDraftStore store(folder, testKey);
        QCOMPARE(QFileInfo::exists(path), !swept);
    }

    // The decoder takes the image off the end by hand; no cut or flipped byte may make it slice
    // outside the text (a negative length once aborted Debug builds).
    void decoderSurvivesMalformedJson()
    {
        const QByteArray json = fullDraft().encodeJson();
        QList<QByteArray> malformed { "{\"a\":1,\"pngData\":\"}", ",\"pngData\":\"}",
            "{\"pngData\":\"QQ==\",\"pngData\":\"QQ==\"}" };
        for (qsizetype length = 0; length < json.size(); ++length)
            malformed << json.left(length);
        for (const QByteArray &text : malformed)
            QVERIFY2(!CaptureDraft::decodeJson(text), text.constData());
        // Whatever else decodes is a draft that encodes to itself.
        QList<QByteArray> odd;
        for (qsizetype length = 0; length < json.size(); ++length)
            odd << json.left(length) + "\"}";
        QRandomGenerator random(17);
        for (int i = 0; i < 3000; ++i) {
            odd << json;
            odd.last()[random.bounded(int(json.size()))] = char(random.bounded(256));
        }
        for (const QByteArray &text : odd) {
            if (const auto draft = CaptureDraft::decodeJson(text))
                QCOMPARE(CaptureDraft::decodeJson(draft->encodeJson()), draft);
        }
    }

    // Any damage to the key, the draft or a tile, a FIFO in their place included (which once made
    // start-up wait for a writer forever), fails at once and leaves the file for a later attempt.
    void unreadableFiles_data()
    {
        QTest::addColumn<int>("file"); // -2: the key, -1: the draft, else the tile of that index
        QTest::addColumn<QByteArray>("content"); // "fifo" makes a FIFO
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("expected");
        const QByteArray json = fullDraft().encodeJson(), payload(64, 'p');
        const QByteArray draft = seal(testKey, draftRole(), json),
                         tile = seal(testKey, tileRole(tileDraft, 2), payload);
        for (const auto &[name, sealed, index] : { std::tuple { "draft", draft, -1 }, { "tile", tile, 2 } }) {
            for (const qsizetype position : { qsizetype(3), qsizetype(40), sealed.size() - 2 }) {
                QByteArray flipped = sealed;
                flipped[position] = char(flipped[position] ^ 0x01);
                QTest::addRow("%s, flipped byte %lld", name, qint64(position))
                    << index << flipped << testKey << "corrupt";
            }
            for (int length = 0; length <= 40; ++length)
                QTest::addRow("%s, truncated to %d bytes", name, length)
                    << index << sealed.left(length) << testKey << "corrupt";
            QTest::addRow("%s, last byte cut", name) << index << sealed.chopped(1) << testKey << "corrupt";
            QTest::addRow("%s, wrong key", name) << index << sealed << QByteArray(32, '\x22') << "corrupt";
        }
        QTest::newRow("draft sealed as a tile")
            << -1 << seal(testKey, tileRole(tileDraft, -1), json) << testKey << "corrupt";
        QTest::newRow("tile of another draft")
            << 2 << seal(testKey, tileRole(QUuid::createUuid(), 2), payload) << testKey << "corrupt";
        QTest::newRow("tile moved to another index") << 3 << tile << testKey << "corrupt";
        QTest::newRow("draft file as a tile")
            << 2 << seal(testKey, draftRole(), payload) << testKey << "corrupt";
        const auto withImage = [&json](const QByteArray &image) {
            return json.left(json.indexOf(",\"pngData\":\"")) + ",\"pngData\":\"" + image.toBase64() + "\"}";
        };
        const QByteArray png = testPNG(4, 4, Qt::red);
        const QList<std::pair<const char *, QByteArray>> garbage {
            { "image a GIF", withImage("GIF89a\x04\0\x04\0\x80\0\0\xff\0\0\0\0\0;") },
            { "image is text", withImage("<svg xmlns='http://www.w3.org/2000/svg'/>") },
            { "image a PNG signature alone", withImage(png.left(8)) },
            { "image a PNG without its header chunk", withImage(png.left(8) + png.mid(33)) },
            { "not JSON", "not json at all" },
            { "empty", "" },
            { "array", "[]" },
            { "empty object", "{}" },
            { "id missing", QByteArray(json).replace("\"id\"", "\"xx\"") },
            { "png not base64", QByteArray(json).replace("\"pngData\":\"", "\"pngData\":\"*") },
            { "title a number", QByteArray(json).replace("\"title\":\"Title \\\"q\\\"\"", "\"title\":7") },
            { "fractional tile row", QByteArray(json).replace("\"documentTop\":600", "\"documentTop\":0.5") },
            { "cut short", json.chopped(2) },
            { "image marker at the very end", "{\"a\":1,\"pngData\":\"}" },
        };
        for (const auto &[label, plaintext] : garbage) {
            QVERIFY2(plaintext != json, label);
            QTest::addRow("garbage JSON: %s", label)
                << -1 << seal(testKey, draftRole(), plaintext) << testKey << "corrupt";
        }
        for (int length : { 0, 1, 31, 33, 64 })
            QTest::addRow("key of %d bytes", length)
                << -2 << QByteArray(length, '\x42') << testKey << "wrongLength";
        QTest::newRow("key is a FIFO") << -2 << QByteArray("fifo") << testKey << "unavailable";
        QTest::newRow("draft is a FIFO") << -1 << QByteArray("fifo") << testKey << "corrupt";
        QTest::newRow("tile is a FIFO") << 0 << QByteArray("fifo") << testKey << "corrupt";
    }

    void unreadableFiles()
    {
        QFETCH(int, file);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, key);
        const QString folder = newFolder();
        const QString path = folder
            + (file == -2      ? QStringLiteral("/draft-key.aes")
                    : file < 0 ? QStringLiteral("/active-draft.sealed")
                               : QStringLiteral("/active-draft-tiles/tile-%1.sealed")
                                     .arg(file, 4, 10, QLatin1Char('0')));
        QVERIFY(file == -2 || writeFile(folder + QStringLiteral("/draft-key.aes"), key));
        const bool fifo = content == "fifo";
        QVERIFY(fifo ? QDir().mkpath(QFileInfo(path).path())
                    && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0
                     : writeFile(path, content));
        QFutureWatcher<QString> watcher;
        QSignalSpy finished(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(QtConcurrent::run([folder, file] {
            return outcome([&] {
                const EncryptedDraftStore store(folder, DraftKeyStore::loadOrCreate(folder));
                store.load();
                if (file >= 0)
                    store.loadTilePNG(tileDraft, file);
            });
        }));
        const bool inTime = watcher.isFinished() || finished.wait(1000);
        if (!inTime) // let the waiting open go, so the test can fail instead of hanging
            ::close(::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        watcher.waitForFinished();
        QVERIFY2(inTime, "still waiting after a second");
        QTEST(watcher.result(), "expected");
        QVERIFY(fifo || readFile(path) == content);
    }

    // A draft that a later version wrote is told from a damaged one, and neither is changed by reading.
    void draftsOfOtherVersions_data()
    {
        QTest::addColumn<QByteArray>("plaintext");
        QTest::addColumn<QString>("expected");
        const QByteArray json = fullDraft().encodeJson(), format = "\"formatVersion\":1";
        QVERIFY(json.contains(format));
        const auto withFormat
            = [&](const QByteArray &text) { return QByteArray(json).replace(format, text); };
        QTest::newRow("this version's") << json << "ok";
        QTest::newRow("an earlier version's, without a format") << withFormat("\"unused\":0") << "ok";
        QTest::newRow("newer, with a field this version does not know")
            << withFormat("\"formatVersion\":3,\"pages\":[1,2]") << "newerVersion";
        QTest::newRow("newer, a field changed shape")
            << withFormat("\"formatVersion\":3").replace("\"title\":\"Title \\\"q\\\"\"", "\"title\":{}")
            << "newerVersion";
        QTest::newRow("newer, none of this version's fields")
            << QByteArray("{\"formatVersion\":30}") << "newerVersion";
        QTest::newRow("format not a number") << withFormat("\"formatVersion\":\"2\"") << "corrupt";
        QTest::newRow("format zero") << withFormat("\"formatVersion\":0") << "corrupt";
    }

    void draftsOfOtherVersions()
    {
        QFETCH(QByteArray, plaintext);
        QFETCH(QString, expected);
        const QString folder = newFolder();
        const QString path = folder + QStringLiteral("/active-draft.sealed");
        const QByteArray sealed = seal(testKey, draftRole(), plaintext);
        QVERIFY(writeFile(folder + QStringLiteral("/draft-key.aes"), testKey) && writeFile(path, sealed));
        const EncryptedDraftStore store(folder, testKey);
        std::optional<CaptureDraft> loaded;
        QCOMPARE(outcome([&] { loaded = store.load(); }), expected);
        QCOMPARE(readFile(path), sealed);
        if (expected != "ok")
            return;
        CaptureDraft original = fullDraft();
        QVERIFY(loaded);
        original.id = loaded->id;
        QCOMPARE(*loaded, original);
    }

    // A newer version's draft and its tiles go aside under the first names both free, private, as they
    // were, and the next draft of this version takes the place without touching them.
    void setAside_data()
    {
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<bool>("tiles");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a draft alone") << QStringList() << false << "active-draft.newer-1.sealed";
        QTest::newRow("a draft and its tiles") << QStringList() << true << "active-draft.newer-1.sealed";
        QTest::newRow("an earlier one set aside")
            << QStringList { "active-draft.newer-1.sealed" } << true << "active-draft.newer-2.sealed";
        QTest::newRow("earlier tiles set aside")
            << QStringList { "active-draft-tiles.newer-1/tile-0000.sealed" } << false
            << "active-draft.newer-2.sealed";
        QTest::newRow("nothing stored") << QStringList() << false << "";
        QTest::newRow("a folder in the draft's place")
            << QStringList { "active-draft.sealed/x" } << true << "system";
    }

    void setAside()
    {
        QFETCH(QStringList, taken);
        QFETCH(bool, tiles);
        QFETCH(QString, expected);
        const QString folder = newFolder();
        const QDir dir(folder);
        const QByteArray sealed = seal(testKey, draftRole(), "{\"formatVersion\":3}");
        const QByteArray tile = seal(testKey, tileRole(tileDraft, 0), testPNG(8, 4, Qt::red));
        QVERIFY(writeFile(dir.filePath("draft-key.aes"), testKey));
        for (const QString &name : taken)
            QVERIFY(writeFile(dir.filePath(name), name.toUtf8()));
        if (!expected.isEmpty() && !taken.contains("active-draft.sealed/x")) {
            QVERIFY(writeFile(dir.filePath("active-draft.sealed"), sealed));
            QVERIFY(::chmod(QFile::encodeName(dir.filePath("active-draft.sealed")).constData(), 0644) == 0);
        }
        if (tiles)
            QVERIFY(writeFile(dir.filePath("active-draft-tiles/tile-0000.sealed"), tile));
        const EncryptedDraftStore store(folder, testKey);
        const QString announced = store.draftAsidePath();
        QString aside;
        QCOMPARE(outcome([&] { aside = store.setDraftAside(); }), expected == "system" ? "system" : "ok");
        for (const QString &name : taken)
            QCOMPARE(readFile(dir.filePath(name)), name.toUtf8());
        if (expected == "system") {
            QCOMPARE(readFile(dir.filePath("active-draft-tiles/tile-0000.sealed")), tile);
            return;
        }
        QCOMPARE(aside, expected.isEmpty() ? QString() : dir.filePath(expected));
        if (expected.isEmpty())
            return;
        QCOMPARE(aside, announced);
        QCOMPARE(readFile(aside), sealed);
        QCOMPARE(modeOf(aside), 0600);
        QVERIFY(!QFile::exists(dir.filePath("active-draft.sealed")));
        const QString asideTiles
            = dir.filePath(QString(expected).replace("active-draft.", "active-draft-tiles.").chopped(7));
        QCOMPARE(readFile(asideTiles + "/tile-0000.sealed"), tiles ? tile : QByteArray());
        QVERIFY(!QFile::exists(dir.filePath("active-draft-tiles")));

        const CaptureDraft next = fullDraft();
        store.save(next);
        QVERIFY(store.saveTilePNG(next.id, 0, testPNG(8, 4, Qt::blue)) > 0);
        QCOMPARE(store.load()->id, next.id);
        store.deleteDraft();
        QCOMPARE(readFile(aside), sealed);
        QCOMPARE(readFile(asideTiles + "/tile-0000.sealed"), tiles ? tile : QByteArray());
        QVERIFY(store.draftAsidePath() != aside);
    }

    // Requests the store refuses, and sizes on both sides of the limit.
    void limits()
    {
        const EncryptedDraftStore store(newFolder(), testKey);
        const QUuid draft = QUuid::createUuid();
        QCOMPARE(outcome([&] { store.loadTilePNG(draft, 0); }), "missing");
        QCOMPARE(outcome([&] { store.loadTilePNG(draft, -1); }), "missing");
        QCOMPARE(outcome([&] { store.saveTilePNG(draft, -1, "png"); }), "missing");
        store.saveTilePNG(draft, 0, "png");
        QCOMPARE(outcome([&] { store.loadTilePNG(draft, 1); }), "missing");
        const QByteArray tooLarge(CaptureDraft::maximumPNGBytes + 1, 'p');
        QCOMPARE(outcome([&] { store.saveTilePNG(draft, 1, tooLarge); }), "tileTooLarge");
        QVERIFY(!QFile::exists(store.tileFilePath(1)));
        QCOMPARE(
            store.saveTilePNG(draft, 1, tooLarge.chopped(1)), qint64(CaptureDraft::maximumPNGBytes + 28));

        const CaptureDraft stored = minimalDraft();
        QCOMPARE(outcome([&] {
            CaptureDraft(draft, {}, {}, {}, tooLarge, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {});
        }),
            "imageTooLarge");
        store.save(stored);
        CaptureDraft grown = stored;
        grown.pngData = tooLarge;
        QCOMPARE(outcome([&] { store.save(grown); }), "imageTooLarge");
        QCOMPARE(store.load(), stored);

        // Something that cannot be unlinked under the draft's name is reported; the tiles still go.
        QVERIFY(QFile::remove(store.draftFilePath())
            && QDir().mkpath(store.draftFilePath() + QStringLiteral("/inside")));
        QCOMPARE(outcome([&] { store.deleteDraft(); }), "deleteFailed");
        QVERIFY(!QFile::exists(store.tileDirectoryPath()));
    }

    // Starts racing over an empty folder agree on one complete key and leave nothing else behind.
    void concurrentKeyCreationAgrees()
    {
        const QString folder = newFolder();
        QByteArray keys[8];
        std::vector<std::thread> threads;
        for (QByteArray &key : keys)
            threads.emplace_back([&] { outcome([&] { key = DraftKeyStore::loadOrCreate(folder); }); });
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(keys[0].size(), 32);
        for (const QByteArray &key : keys)
            QCOMPARE(key, keys[0]);
        QCOMPARE(readFile(folder + QStringLiteral("/draft-key.aes")), keys[0]);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { "draft-key.aes" });
    }

    void base64()
    {
        QRandomGenerator random(7);
        for (int length = 0; length < 70; ++length) {
            QByteArray data(length, Qt::Uninitialized);
            for (char &byte : data)
                byte = char(random.bounded(256));
            QCOMPARE(JsonFields::encodeBase64(data), data.toBase64());
            QCOMPARE(JsonFields::decodeBase64(data.toBase64()), data);
        }
        for (const char *bad : { "QUJ", "QQ==QUJD", "====", "Q===", "QUJD\nQUJ", "QU-_", "QUJ\"", "QUJ\xc3" })
            QVERIFY2(!JsonFields::decodeBase64(QByteArray(bad)), bad);
    }

    // Undecodable data is none; a wide-gamut image is converted to sRGB, not relabelled.
    void imageNormalization()
    {
        const QByteArray png = testPNG(20, 10, Qt::blue);
        QCOMPARE(ImageNormalization::image(png).value_or(QImage()).size(), QSize(20, 10));
        for (const QByteArray &bad :
            { QByteArray(), QByteArray("\x89PNG garbage"), png.left(png.size() / 2) })
            QCOMPARE(ImageNormalization::image(bad), std::nullopt);
        QImage wide(6, 4, QImage::Format_ARGB32);
        wide.fill(QColor(10, 200, 30, 128));
        wide.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        const QImage normalized = ImageNormalization::normalize(wide);
        QCOMPARE(normalized.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(normalized.colorSpace(), QColorSpace(QColorSpace::SRgb));
        QVERIFY(normalized.pixelColor(2, 2).green() > 200);
        QVERIFY(ImageNormalization::normalize(QImage()).isNull());
        QCOMPARE(ImageNormalization::pngData(QImage()), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestEncryptedDraft)
#include "tst_EncryptedDraft.moc"
