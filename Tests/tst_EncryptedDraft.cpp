#include "DraftKeyStore.h"
#include "EncryptedDraft.h"
#include "ImageNormalization.h"
#include "JsonFields.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/evp.h>

#include <sys/stat.h>
#include <thread>

namespace {

// The sealed layout, written independently of the store: nonce (12) | ciphertext | tag (16), with
// the file's role as associated data.
QByteArray draftRole()
{
    return "com.quorvel.dovrin/draft/v1/active-draft";
}

QByteArray tileRole(const QUuid &draft, int index)
{
    return "com.quorvel.dovrin/draft/v1/tile/" + draft.toByteArray(QUuid::WithoutBraces) + '/'
        + QByteArray::number(index);
}

QByteArray crypt(bool encrypt, const QByteArray &key, const QByteArray &nonce, const QByteArray &role,
    const QByteArray &input, QByteArray *tag)
{
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    auto *n = reinterpret_cast<const unsigned char *>(nonce.constData());
    QByteArray output(input.size() + 16, '\0');
    int length = 0;
    int total = 0;
    bool ok = EVP_CipherInit_ex(context, EVP_aes_256_gcm(), nullptr, k, n, encrypt ? 1 : 0) == 1
        && EVP_CipherUpdate(context, nullptr, &length,
               reinterpret_cast<const unsigned char *>(role.constData()), int(role.size()))
            == 1
        && EVP_CipherUpdate(context, reinterpret_cast<unsigned char *>(output.data()), &length,
               reinterpret_cast<const unsigned char *>(input.constData()), int(input.size()))
            == 1;
    total = length;
    if (ok && !encrypt)
        ok = EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_TAG, 16, tag->data()) == 1;
    ok = ok
        && EVP_CipherFinal_ex(context, reinterpret_cast<unsigned char *>(output.data()) + total, &length)
            == 1;
    total += length;
    if (ok && encrypt) {
        tag->resize(16);
        ok = EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, 16, tag->data()) == 1;
    }
    EVP_CIPHER_CTX_free(context);
    output.truncate(total);
    return ok ? output : QByteArray("<failed>");
}

QByteArray seal(const QByteArray &key, const QByteArray &role, const QByteArray &plaintext)
{
    const QByteArray nonce(12, '\x5a');
    QByteArray tag;
    const QByteArray ciphertext = crypt(true, key, nonce, role, plaintext, &tag);
    return nonce + ciphertext + tag;
}

std::optional<QByteArray> unseal(const QByteArray &key, const QByteArray &role, const QByteArray &sealed)
{
    if (sealed.size() < 28)
        return std::nullopt;
    QByteArray tag = sealed.right(16);
    const QByteArray plaintext
        = crypt(false, key, sealed.left(12), role, sealed.mid(12, sealed.size() - 28), &tag);
    if (plaintext == "<failed>")
        return std::nullopt;
    return plaintext;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

int modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

QByteArray testPNG(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    QPainter painter(&image);
    painter.fillRect(QRect(2, 2, width / 2, height / 3), Qt::white);
    painter.end();
    return ImageNormalization::pngData(image).value_or(QByteArray());
}

CaptureDraft fullDraft()
{
    const QDateTime created
        = QDateTime::fromString(QStringLiteral("2024-05-01T09:30:00.125Z"), Qt::ISODateWithMs);
    ScrollingCaptureManifest manifest { 800, 2400,
        { { 0, 800, 600, 0 }, { 1, 800, 1000, 600 }, { 2, 800, 800, 1600 } } };
    return CaptureDraft(QUuid::createUuid(), created, created.addSecs(90), created.addMSecs(-250),
        testPNG(64, 48, Qt::darkCyan), QStringLiteral("Recognized\nlines"),
        QStringLiteral("Reviewed «text» 🙂"), { QStringLiteral("en-US"), QStringLiteral("de-DE") },
        { CaptureTextObservation { QStringLiteral("Recognized"), QRectF(0.1, 0.5, 0.4, 0.1), 0.93 },
            CaptureTextObservation { QStringLiteral("lines"), QRectF(0.1, 0.3, 0.2, 0.1), 0.5 } },
        QStringLiteral("Text Editor"), QStringLiteral("org.example.editor"), QStringLiteral("Title \"q\""),
        QStringLiteral("A note\nwith lines"), { QStringLiteral("work"), QStringLiteral("ünï") }, manifest,
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

QByteArray tilePayload()
{
    return QByteArray(64, 'p');
}

constexpr int corrupt = int(EncryptedDraftError::Code::corrupt);
constexpr int missing = int(EncryptedDraftError::Code::missing);

} // namespace

class TestEncryptedDraft : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folderCount = 0;

    QString newFolder() { return m_root.filePath(QStringLiteral("store-%1").arg(++m_folderCount)); }

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
        QCOMPARE(store.load(), draft);

        // A second store over the same folder and key file sees the same draft and tiles.
        const EncryptedDraftStore reopened(folder, DraftKeyStore::loadOrCreate(folder));
        QCOMPARE(reopened.load(), draft);
        for (int i = 0; i < tiles.size(); ++i)
            QCOMPARE(reopened.loadTilePNG(draft.id, i), tiles.at(i));

        // Saving again replaces the draft.
        draft.title = QStringLiteral("Edited");
        draft.updatedAt = draft.updatedAt.addSecs(5);
        store.save(draft);
        QCOMPARE(reopened.load(), draft);
    }

    // The documented layout, opened without the store: the draft's JSON and a tile's PNG.
    void sealedLayout()
    {
        const QString folder = newFolder();
        const QByteArray key = DraftKeyStore::loadOrCreate(folder);
        const EncryptedDraftStore store(folder, key);
        const CaptureDraft draft = fullDraft();
        store.save(draft);
        store.saveTilePNG(draft.id, 7, "png bytes");

        const auto json = unseal(key, draftRole(), readFile(store.draftFilePath()));
        QVERIFY(json);
        const QJsonObject object = QJsonDocument::fromJson(*json).object();
        QCOMPARE(object.value("id").toString(), draft.id.toString(QUuid::WithoutBraces));
        QCOMPARE(QByteArray::fromBase64(object.value("pngData").toString().toLatin1()), draft.pngData);
        QCOMPARE(object.value("title").toString(), draft.title);
        QCOMPARE(object.value("scrollingCapture").toObject().value("pixelHeight").toInt(), 2400);
        QCOMPARE(unseal(key, tileRole(draft.id, 7),
                     readFile(folder + QStringLiteral("/active-draft-tiles/tile-0007.sealed"))),
            QByteArray("png bytes"));
        // Fresh nonces: sealing the same draft twice gives different files.
        const QByteArray first = readFile(store.draftFilePath());
        store.save(draft);
        QVERIFY(readFile(store.draftFilePath()).left(12) != first.left(12));
    }

    void filesArePrivateFromCreation()
    {
        // With an open umask the modes can only come from how the files are created.
        const mode_t previous = ::umask(0);
        const QString base = newFolder();
        const QString folder = base + QStringLiteral("/data/com.quorvel.dovrin");
        QByteArray key;
        try {
            key = DraftKeyStore::loadOrCreate(folder);
            const EncryptedDraftStore store(folder, key);
            store.save(minimalDraft());
            store.saveTilePNG(QUuid::createUuid(), 0, "x");
        } catch (...) {
            ::umask(previous);
            QFAIL("storing failed");
        }
        ::umask(previous);
        QCOMPARE(modeOf(base + QStringLiteral("/data")), 0700);
        QCOMPARE(modeOf(folder), 0700);
        QCOMPARE(modeOf(folder + QStringLiteral("/draft-key.aes")), 0600);
        QCOMPARE(modeOf(folder + QStringLiteral("/active-draft.sealed")), 0600);
        QCOMPARE(modeOf(folder + QStringLiteral("/active-draft-tiles")), 0700);
        QCOMPARE(modeOf(folder + QStringLiteral("/active-draft-tiles/tile-0000.sealed")), 0600);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 3);
    }

    void corruptDraft_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("key");
        const QByteArray key(32, '\x11');
        const QString folder = newFolder();
        const EncryptedDraftStore store(folder, key);
        store.save(fullDraft());
        const QByteArray good = readFile(store.draftFilePath());
        QVERIFY(good.size() > 100);

        for (const auto &[label, position] : { std::pair { "nonce", qsizetype(3) },
                 { "ciphertext", qsizetype(40) }, { "tag", good.size() - 2 } }) {
            QByteArray flipped = good;
            flipped[position] = char(flipped[position] ^ 0x01);
            QTest::addRow("flipped %s byte", label) << flipped << key;
        }
        for (int length = 0; length <= 40; ++length)
            QTest::addRow("truncated to %d bytes", length) << good.left(length) << key;
        QTest::newRow("last byte cut") << good.chopped(1) << key;
        QTest::newRow("wrong key") << good << QByteArray(32, '\x22');
        QTest::newRow("sealed as a tile")
            << seal(key, tileRole(QUuid::createUuid(), 0), fullDraft().encodeJson()) << key;
        const QList<std::pair<const char *, QByteArray>> garbage {
            { "not JSON", "not json at all" },
            { "empty plaintext", "" },
            { "JSON array", "[]" },
            { "empty object", "{}" },
            { "null", "null" },
            { "id missing", QByteArray(fullDraft().encodeJson()).replace("\"id\"", "\"xx\"") },
            { "png not base64",
                QByteArray(fullDraft().encodeJson()).replace("\"pngData\":\"", "\"pngData\":\"*") },
            { "title a number",
                QByteArray(fullDraft().encodeJson())
                    .replace("\"title\":\"Title \\\"q\\\"\"", "\"title\":7") },
            { "bad tile list",
                QByteArray(fullDraft().encodeJson()).replace("\"documentTop\":600", "\"documentTop\":0.5") },
            { "truncated JSON", fullDraft().encodeJson().chopped(2) },
        };
        for (const auto &[label, plaintext] : garbage)
            QTest::addRow("garbage JSON: %s", label) << seal(key, draftRole(), plaintext) << key;
    }

    void corruptDraft()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, key);
        const QString folder = newFolder();
        const EncryptedDraftStore store(folder, key);
        QVERIFY(writeFile(store.draftFilePath(), content));
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.load(); }), corrupt);
        // The file stays for a later attempt.
        QCOMPARE(readFile(store.draftFilePath()), content);
    }

    void corruptTile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("code");
        const QByteArray key(32, '\x11');
        const QUuid draft = QUuid::fromString(QStringLiteral("{6c3d6f56-8a37-4a8c-9b7e-0b5b8d7e2f10}"));
        const QByteArray tile = seal(key, tileRole(draft, 2), tilePayload());
        QTest::newRow("intact") << tile << 2 << -1;
        QTest::newRow("from another draft")
            << seal(key, tileRole(QUuid::createUuid(), 2), tilePayload()) << 2 << corrupt;
        QTest::newRow("moved to another index") << tile << 3 << corrupt;
        QTest::newRow("the draft file") << seal(key, draftRole(), tilePayload()) << 2 << corrupt;
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
        const QString folder = newFolder();
        const EncryptedDraftStore store(folder, QByteArray(32, '\x11'));
        QVERIFY(QDir().mkpath(store.tileDirectoryPath()));
        QVERIFY(writeFile(store.tileFilePath(index), content));
        const QUuid draft = QUuid::fromString(QStringLiteral("{6c3d6f56-8a37-4a8c-9b7e-0b5b8d7e2f10}"));
        QByteArray png;
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { png = store.loadTilePNG(draft, index); }), code);
        if (code == -1)
            QCOMPARE(png, QByteArray(tilePayload()));
    }

    void tileRequestsRefused()
    {
        const QString folder = newFolder();
        const EncryptedDraftStore store(folder, QByteArray(32, '\x11'));
        const QUuid draft = QUuid::createUuid();
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.loadTilePNG(draft, 0); }), missing);
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.loadTilePNG(draft, -1); }), missing);
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.saveTilePNG(draft, -1, "png"); }), missing);
        store.saveTilePNG(draft, 0, "png");
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.loadTilePNG(draft, 1); }), missing);
        QCOMPARE(thrownCode<EncryptedDraftError>(
                     [&] { store.loadTilePNG(draft, std::numeric_limits<int>::min()); }),
            missing);
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

        const QString folder = newFolder();
        const EncryptedDraftStore store(folder, QByteArray(32, '\x11'));
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
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.loadTilePNG(draft.id, 0); }), missing);
        // The key stays: it is not part of the draft.
        QCOMPARE(DraftKeyStore::loadOrCreate(folder), key);
    }

    void deleteReportsWhatRemains()
    {
        const QString folder = newFolder();
        const EncryptedDraftStore store(folder, QByteArray(32, '\x11'));
        // A folder under the draft's name cannot be unlinked.
        QVERIFY(QDir().mkpath(store.draftFilePath() + QStringLiteral("/inside")));
        store.saveTilePNG(QUuid::createUuid(), 0, "tile");
        QCOMPARE(thrownCode<EncryptedDraftError>([&] { store.deleteDraft(); }),
            int(EncryptedDraftError::Code::deleteFailed));
        QVERIFY(!QFile::exists(store.tileDirectoryPath()));
    }

    void shouldResume_data()
    {
        QTest::addColumn<bool>("hasLastSaved");
        QTest::addColumn<bool>("sameID");
        QTest::addColumn<bool>("resume");
        QTest::newRow("nothing saved yet") << false << false << true;
        QTest::newRow("another draft was saved") << true << false << true;
        QTest::newRow("this draft was saved") << true << true << false;
    }

    void shouldResume()
    {
        QFETCH(bool, hasLastSaved);
        QFETCH(bool, sameID);
        QFETCH(bool, resume);
        const QUuid draft = QUuid::createUuid();
        const std::optional<QUuid> last
            = hasLastSaved ? std::optional(sameID ? draft : QUuid::createUuid()) : std::nullopt;
        QCOMPARE(EncryptedDraftStore::shouldResume(draft, last), resume);
    }

    void keyFileOfWrongLengthFails_data()
    {
        QTest::addColumn<int>("length");
        for (int length : { 0, 1, 16, 31, 33, 64 })
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

    // Many starts at once over an empty folder agree on one complete key and leave nothing else.
    void concurrentKeyCreationAgrees()
    {
        const QString folder = newFolder();
        constexpr int starters = 8;
        QByteArray keys[starters];
        std::vector<std::thread> threads;
        for (int i = 0; i < starters; ++i) {
            threads.emplace_back([&, i] {
                try {
                    keys[i] = DraftKeyStore::loadOrCreate(folder);
                } catch (...) { }
            });
        }
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
    void base64RoundTrip()
    {
        QRandomGenerator random(7);
        for (int length = 0; length < 70; ++length) {
            QByteArray data(length, Qt::Uninitialized);
            for (char &byte : data)
                byte = char(random.bounded(256));
            const QByteArray text = JsonFields::encodeBase64(data);
            QCOMPARE(text, data.toBase64());
            QCOMPARE(JsonFields::decodeBase64(text), data);
        }
    }

    void base64Refused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("short group") << QByteArray("QUJD", 3);
        QTest::newRow("padding inside") << QByteArray("QQ==QUJD");
        QTest::newRow("padding only") << QByteArray("====");
        QTest::newRow("three pads") << QByteArray("Q===");
        QTest::newRow("line break") << QByteArray("QUJD\nQUJ");
        QTest::newRow("url alphabet") << QByteArray("QU-_");
        QTest::newRow("quote") << QByteArray("QUJ\"");
        QTest::newRow("high byte") << QByteArray("QUJ\xc3");
    }

    void base64Refused()
    {
        QFETCH(QByteArray, text);
        QCOMPARE(JsonFields::decodeBase64(text), std::nullopt);
    }

    void pngDecoding_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("decodes");
        const QByteArray png = testPNG(20, 10, Qt::blue);
        QTest::newRow("png") << png << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("garbage") << QByteArray("\x89PNG garbage") << false;
        QTest::newRow("truncated") << png.left(png.size() / 2) << false;
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::red);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG");
        QTest::newRow("not a png") << jpeg << false;
    }

    void pngDecoding()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, decodes);
        const auto image = ImageNormalization::image(data);
        QCOMPARE(image.has_value(), decodes);
        if (decodes)
            QCOMPARE(image->size(), QSize(20, 10));
    }

    void normalize_data()
    {
        QTest::addColumn<QImage>("source");
        QImage rgb(6, 4, QImage::Format_RGB888);
        rgb.fill(QColor(10, 200, 30));
        QTest::newRow("rgb888") << rgb;
        QImage indexed = rgb.convertToFormat(QImage::Format_Indexed8);
        QTest::newRow("indexed") << indexed;
        QImage gray(6, 4, QImage::Format_Grayscale8);
        gray.fill(QColor(128, 128, 128));
        QTest::newRow("grayscale") << gray;
        QImage wide(6, 4, QImage::Format_ARGB32);
        wide.fill(QColor(10, 200, 30, 128));
        wide.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        QTest::newRow("display p3 with alpha") << wide;
    }

    void normalize()
    {
        QFETCH(QImage, source);
        const QImage normalized = ImageNormalization::normalize(source);
        QCOMPARE(normalized.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(normalized.colorSpace(), QColorSpace(QColorSpace::SRgb));
        QCOMPARE(normalized.size(), source.size());
        QColor expected = source.pixelColor(1, 1);
        if (source.colorSpace().isValid() && source.colorSpace() != QColorSpace(QColorSpace::SRgb))
            expected = source.convertedToColorSpace(QColorSpace(QColorSpace::SRgb)).pixelColor(1, 1);
        const QColor actual = normalized.pixelColor(1, 1);
        QVERIFY2(qAbs(actual.red() - expected.red()) <= 2 && qAbs(actual.green() - expected.green()) <= 2
                && qAbs(actual.blue() - expected.blue()) <= 2 && qAbs(actual.alpha() - expected.alpha()) <= 1,
            qPrintable(actual.name(QColor::HexArgb) + " vs " + expected.name(QColor::HexArgb)));

        const auto png = ImageNormalization::pngData(normalized);
        QVERIFY(png);
        const auto decoded = ImageNormalization::image(*png);
        QVERIFY(decoded);
        QCOMPARE(decoded->convertToFormat(QImage::Format_ARGB32_Premultiplied).pixel(2, 2),
            normalized.pixel(2, 2));
    }

    void nullImages()
    {
        QVERIFY(ImageNormalization::normalize(QImage()).isNull());
        QCOMPARE(ImageNormalization::pngData(QImage()), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestEncryptedDraft)
#include "tst_EncryptedDraft.moc"
