#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"
#include "Documents/JsonFields.h"
#include "Platform/AutostartEntry.h"
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

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

// The sealed layout, written independently of the store: nonce (12) | ciphertext | tag (16), with the
// file's role as associated data.
QByteArray draftRole()
{
    return "com.quorvel.dovrin/draft/v1/active-draft";
}

QByteArray tileRole(const QUuid &draft, int index)
{
    return "com.quorvel.dovrin/draft/v1/tile/" + draft.toByteArray(QUuid::WithoutBraces) + '/'
        + QByteArray::number(index);
}

const unsigned char *u(const QByteArray &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.constData());
}

QByteArray seal(const QByteArray &key, const QByteArray &role, const QByteArray &plaintext)
{
    const QByteArray nonce(12, '\x5a');
    QByteArray ciphertext(plaintext.size(), '\0'), tag(16, '\0');
    auto *out = reinterpret_cast<unsigned char *>(ciphertext.data());
    int length = 0;
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr, u(key), u(nonce));
    EVP_EncryptUpdate(context, nullptr, &length, u(role), int(role.size()));
    EVP_EncryptUpdate(context, out, &length, u(plaintext), int(plaintext.size()));
    EVP_EncryptFinal_ex(context, out + length, &length);
    EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, 16, tag.data());
    EVP_CIPHER_CTX_free(context);
    return nonce + ciphertext + tag;
}

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

template <typename Error> int thrownCode(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Error &error) {
        return int(error.code());
    } catch (...) {
        return -2;
    }
    return -1;
}

// What an action on the store came to: "ok", the error's code, or "system" for a file system error.
QString outcome(const std::function<void()> &action)
{
    try {
        action();
    } catch (const EncryptedDraftError &error) {
        static const char *const names[]
            = { "missing", "corrupt", "imageTooLarge", "tileTooLarge", "deleteFailed" };
        return QLatin1String(names[int(error.code())]);
    } catch (const DraftKeyStoreError &error) {
        return error.code() == DraftKeyStoreError::Code::wrongLength ? "wrongLength" : "unavailable";
    } catch (const std::system_error &) {
        return "system";
    }
    return "ok";
}

bool succeeds(const std::function<void()> &action)
{
    try {
        action();
    } catch (...) {
        return false;
    }
    return true;
}

const QByteArray testKey(32, '\x11');
// Places under a test folder and their modes.
using Modes = QMap<QString, int>;
const QUuid tileDraft = QUuid::fromString(QStringLiteral("{6c3d6f56-8a37-4a8c-9b7e-0b5b8d7e2f10}"));
constexpr int corrupt = int(EncryptedDraftError::Code::corrupt);
constexpr int missing = int(EncryptedDraftError::Code::missing);

} // namespace

class TestEncryptedDraft : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folders = 0;

    QString newFolder() { return m_root.filePath(QStringLiteral("store-%1").arg(++m_folders)); }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("every field") << true;
        QTest::newRow("optionals absent") << false;
    }

    void roundTrip()
    {
        QFETCH(bool, full);
        const QString folder = newFolder();
        const EncryptedDraftStore store(folder, DraftKeyStore::loadOrCreate(folder));
        QCOMPARE(store.load(), std::nullopt);
        CaptureDraft draft = full ? fullDraft() : minimalDraft();
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
    }

    // With an open umask the modes can only come from how things are created or opened.
    void modesAtAnOpenUmask_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Modes>("modes");
        QTest::newRow("draft store") << "store"
                                     << Modes { { "data", 0700 }, { "data/store", 0700 },
                                            { "data/store/draft-key.aes", 0600 },
                                            { "data/store/active-draft.sealed", 0600 },
                                            { "data/store/active-draft-tiles", 0700 },
                                            { "data/store/active-draft-tiles/tile-0000.sealed", 0600 } };
        QTest::newRow("key file others could read")
            << "loose key" << Modes { { "data/store", 0700 }, { "data/store/draft-key.aes", 0600 } };
        QTest::newRow("autostart entry")
            << "autostart"
            << Modes { { "config/autostart", 0755 }, { "config/autostart/quorvel.desktop", 0644 } };
    }

    void modesAtAnOpenUmask()
    {
        QFETCH(QString, kind);
        QFETCH(Modes, modes);
        const QString base = newFolder();
        const QString folder = base + QStringLiteral("/data/store");
        const mode_t previous = ::umask(0);
        bool done = false;
        if (kind == "store") {
            done = succeeds([&] {
                const EncryptedDraftStore store(folder, DraftKeyStore::loadOrCreate(folder));
                store.save(minimalDraft());
                store.saveTilePNG(QUuid::createUuid(), 0, "x");
            });
        } else if (kind == "loose key") {
            done = writeFile(folder + QStringLiteral("/draft-key.aes"), testKey)
                && ::chmod(QFile::encodeName(folder).constData(), 0755) == 0
                && ::chmod(QFile::encodeName(folder + QStringLiteral("/draft-key.aes")).constData(), 0644)
                    == 0
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

    // A FIFO in a file's place once made start-up wait for a writer forever.
    void fifoFailsAtOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("key") << "draft-key.aes"
                             << "unavailable";
        QTest::newRow("draft") << "active-draft.sealed"
                               << "corrupt";
        QTest::newRow("tile") << "active-draft-tiles/tile-0000.sealed"
                              << "corrupt";
    }

    void fifoFailsAtOnce()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const QString folder = newFolder();
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name);
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/active-draft-tiles")));
        QVERIFY(::mkfifo(path.constData(), 0600) == 0);
        QFutureWatcher<QString> watcher;
        QSignalSpy finished(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(QtConcurrent::run([folder] {
            return outcome([&] {
                const EncryptedDraftStore store(folder, DraftKeyStore::loadOrCreate(folder));
                store.load();
                store.loadTilePNG(tileDraft, 0);
            });
        }));
        const bool inTime = watcher.isFinished() || finished.wait(1000);
        if (!inTime) // let the waiting open go, so the test can fail instead of hanging
            ::close(::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        watcher.waitForFinished();
        QVERIFY2(inTime, "still waiting on the FIFO after a second");
        QCOMPARE(watcher.result(), expected);
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

    void corruptDraft_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("key");
        const QByteArray json = fullDraft().encodeJson();
        const QByteArray good = seal(testKey, draftRole(), json);
        for (const qsizetype position : { qsizetype(3), qsizetype(40), good.size() - 2 }) {
            QByteArray flipped = good;
            flipped[position] = char(flipped[position] ^ 0x01);
            QTest::addRow("flipped byte %lld", qint64(position)) << flipped << testKey;
        }
        for (int length = 0; length <= 40; ++length)
            QTest::addRow("truncated to %d bytes", length) << good.left(length) << testKey;
        QTest::newRow("last byte cut") << good.chopped(1) << testKey;
        QTest::newRow("wrong key") << good << QByteArray(32, '\x22');
        QTest::newRow("sealed as a tile") << seal(testKey, tileRole(tileDraft, 0), json) << testKey;
        const QList<std::pair<const char *, QByteArray>> garbage {
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
            QTest::addRow("garbage JSON: %s", label) << seal(testKey, draftRole(), plaintext) << testKey;
        }
    }

    void corruptDraft()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, key);
        const EncryptedDraftStore store(newFolder(), key);
        QVERIFY(writeFile(store.draftFilePath(), content));
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.load(); }), corrupt);
        QCOMPARE(readFile(store.draftFilePath()), content); // kept for a later attempt
    }

    void corruptTile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("code");
        const QByteArray payload(64, 'p');
        const QByteArray tile = seal(testKey, tileRole(tileDraft, 2), payload);
        QTest::newRow("intact") << tile << 2 << -1;
        QTest::newRow("from another draft")
            << seal(testKey, tileRole(QUuid::createUuid(), 2), payload) << 2 << corrupt;
        QTest::newRow("moved to another index") << tile << 3 << corrupt;
        QTest::newRow("the draft file") << seal(testKey, draftRole(), payload) << 2 << corrupt;
        QByteArray flipped = tile;
        flipped[14] = char(flipped[14] ^ 0x80);
        QTest::newRow("flipped byte") << flipped << 2 << corrupt;
        for (int length = 0; length <= 40; ++length)
            QTest::addRow("truncated to %d bytes", length) << tile.left(length) << 2 << corrupt;
    }

    void corruptTile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, index);
        QFETCH(int, code);
        const EncryptedDraftStore store(newFolder(), testKey);
        QVERIFY(QDir().mkpath(store.tileDirectoryPath()));
        QVERIFY(writeFile(store.tileFilePath(index), content));
        QByteArray png;
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { png = store.loadTilePNG(tileDraft, index); }), code);
        QCOMPARE(png, code == -1 ? QByteArray(64, 'p') : QByteArray());
    }

    void tileRequestsRefused()
    {
        const EncryptedDraftStore store(newFolder(), testKey);
        const QUuid draft = QUuid::createUuid();
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.loadTilePNG(draft, 0); }), missing);
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.loadTilePNG(draft, -1); }), missing);
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.saveTilePNG(draft, -1, "png"); }), missing);
        store.saveTilePNG(draft, 0, "png");
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.loadTilePNG(draft, 1); }), missing);
        const QByteArray tooLarge(CaptureDraft::maximumPNGBytes + 1, 'p');
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.saveTilePNG(draft, 1, tooLarge); }),
            int(EncryptedDraftError::Code::tileTooLarge));
        QVERIFY(!QFile::exists(store.tileFilePath(1)));
        QCOMPARE(
            store.saveTilePNG(draft, 1, tooLarge.chopped(1)), qint64(CaptureDraft::maximumPNGBytes + 28));
    }

    void imageTooLarge()
    {
        const QByteArray tooLarge(CaptureDraft::maximumPNGBytes + 1, 'p');
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCOMPARE(thrownCode<EncryptedDraftError>([&] {
            CaptureDraft(QUuid::createUuid(), now, now, now, tooLarge, std::nullopt, QString(), {}, {},
                std::nullopt, std::nullopt, QString(), QString(), {}, std::nullopt, std::nullopt);
        }),
            int(EncryptedDraftError::Code::imageTooLarge));
        const EncryptedDraftStore store(newFolder(), testKey);
        const CaptureDraft stored = minimalDraft();
        store.save(stored);
        CaptureDraft grown = stored;
        grown.pngData = tooLarge;
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.save(grown); }),
            int(EncryptedDraftError::Code::imageTooLarge));
        QCOMPARE(store.load(), stored);
    }

    void deleteRemovesDraftAndTiles()
    {
        const QString folder = newFolder();
        const QByteArray key = DraftKeyStore::loadOrCreate(folder);
        const EncryptedDraftStore store(folder, key);
        store.deleteDraft(); // nothing stored yet: not an error
        const CaptureDraft draft = fullDraft();
        store.save(draft);
        for (int i = 0; i < 3; ++i)
            store.saveTilePNG(draft.id, i, "tile");
        store.deleteDraft();
        QVERIFY(!QFile::exists(store.draftFilePath()));
        QVERIFY(!QFile::exists(store.tileDirectoryPath()));
        QCOMPARE(store.load(), std::nullopt);
        QCOMPARE(DraftKeyStore::loadOrCreate(folder), key); // the key is not part of the draft

        // Something that cannot be unlinked under the draft's name is reported.
        QVERIFY(QDir().mkpath(store.draftFilePath() + QStringLiteral("/inside")));
        store.saveTilePNG(draft.id, 0, "tile");
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.deleteDraft(); }),
            int(EncryptedDraftError::Code::deleteFailed));
        QVERIFY(!QFile::exists(store.tileDirectoryPath()));
    }

    void shouldResume()
    {
        const QUuid draft = QUuid::createUuid();
        QVERIFY(EncryptedDraftStore::shouldResume(draft, std::nullopt));
        QVERIFY(EncryptedDraftStore::shouldResume(draft, QUuid::createUuid()));
        QVERIFY(!EncryptedDraftStore::shouldResume(draft, draft));
    }

    void keyFileOfWrongLengthFails_data()
    {
        QTest::addColumn<int>("length");
        for (int length : { 0, 1, 31, 33, 64 })
            QTest::addRow("%d bytes", length) << length;
    }

    void keyFileOfWrongLengthFails()
    {
        QFETCH(int, length);
        const QString folder = newFolder();
        QVERIFY(QDir().mkpath(folder));
        const QByteArray content(length, '\x42');
        QVERIFY(writeFile(folder + QStringLiteral("/draft-key.aes"), content));
        QCOMPARE(thrownCode<DraftKeyStoreError>([&] { DraftKeyStore::loadOrCreate(folder); }),
            int(DraftKeyStoreError::Code::wrongLength));
        QCOMPARE(readFile(folder + QStringLiteral("/draft-key.aes")), content);
    }

    // Starts racing over an empty folder agree on one complete key and leave nothing else behind.
    void concurrentKeyCreationAgrees()
    {
        const QString folder = newFolder();
        QByteArray keys[8];
        std::vector<std::thread> threads;
        for (QByteArray &key : keys)
            threads.emplace_back([&] { succeeds([&] { key = DraftKeyStore::loadOrCreate(folder); }); });
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(keys[0].size(), 32);
        for (const QByteArray &key : keys)
            QCOMPARE(key, keys[0]);
        QCOMPARE(readFile(folder + QStringLiteral("/draft-key.aes")), keys[0]);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { "draft-key.aes" });
    }

    // The image travels through its own base64 coder; it must agree with the standard one.
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

    void imageNormalization()
    {
        const QByteArray png = testPNG(20, 10, Qt::blue);
        QCOMPARE(ImageNormalization::image(png).value_or(QImage()).size(), QSize(20, 10));
        for (const QByteArray &bad :
            { QByteArray(), QByteArray("\x89PNG garbage"), png.left(png.size() / 2) })
            QCOMPARE(ImageNormalization::image(bad), std::nullopt);

        QImage indexed = QImage(6, 4, QImage::Format_RGB888).convertToFormat(QImage::Format_Indexed8);
        indexed.fill(0);
        QImage wide(6, 4, QImage::Format_ARGB32);
        wide.fill(QColor(10, 200, 30, 128));
        wide.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        for (const QImage &source : { indexed, wide }) {
            const QImage normalized = ImageNormalization::normalize(source);
            QCOMPARE(normalized.format(), QImage::Format_ARGB32_Premultiplied);
            QCOMPARE(normalized.colorSpace(), QColorSpace(QColorSpace::SRgb));
            QCOMPARE(normalized.size(), source.size());
            const auto decoded
                = ImageNormalization::image(ImageNormalization::pngData(normalized).value_or(""));
            QVERIFY(decoded);
            QCOMPARE(decoded->convertToFormat(QImage::Format_ARGB32_Premultiplied).pixel(2, 2),
                normalized.pixel(2, 2));
        }
        // Display P3 green lies outside sRGB: converted, not relabelled.
        QVERIFY(ImageNormalization::normalize(wide).pixelColor(2, 2).green() > 200);
        QVERIFY(ImageNormalization::normalize(QImage()).isNull());
        QCOMPARE(ImageNormalization::pngData(QImage()), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestEncryptedDraft)
#include "tst_EncryptedDraft.moc"
