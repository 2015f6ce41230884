#include "Documents/FolderBookmark.h"
#include "Documents/RecentBookmarkService.h"
#include "Documents/TrashReconciliation.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using TestSupport::writeFile;

template <typename Action> int bookmarkError(Action action)
{
    try {
        action();
    } catch (const FolderBookmarkError &error) {
        return int(error.code());
    }
    return -1;
}

// Puts a new folder at the path while the old one still exists, so the inode must differ.
void replaceFolder(const QString &path)
{
    QVERIFY(QDir().mkdir(path + QStringLiteral(".new")));
    QVERIFY(QDir().rename(path, path + QStringLiteral(".old")));
    QVERIFY(QDir().rename(path + QStringLiteral(".new"), path));
}

constexpr int staleAndUnresolvable = int(FolderBookmarkError::Code::staleAndUnresolvable);
constexpr int inaccessible = int(FolderBookmarkError::Code::inaccessible);
constexpr int notADirectory = int(FolderBookmarkError::Code::notADirectory);

} // namespace

class TestFolderBookmark : public QObject
{
    Q_OBJECT

private slots:
    void folderLifecycle()
    {
        QTemporaryDir root;
        const QString path = root.filePath(QStringLiteral("Notes"));
        QVERIFY(QDir().mkdir(path));

        const FolderAccess access = FolderBookmark::make(QUrl::fromLocalFile(path + QStringLiteral("/./")));
        QCOMPARE(access.displayPath, path);
        ResolvedFolder resolved = FolderBookmark::resolve(access);
        QCOMPARE(resolved.url, QUrl::fromLocalFile(path));
        QVERIFY(!resolved.wasStale);
        QCOMPARE(resolved.refreshed, std::nullopt);
        QVERIFY(FolderBookmark::startAccessing(resolved.url));

        // Another folder at the same path: stale, renewed to the new folder.
        replaceFolder(path);
        resolved = FolderBookmark::resolve(access);
        QVERIFY(resolved.wasStale);
        QVERIFY(resolved.refreshed);
        QCOMPARE(resolved.refreshed->displayPath, path);
        QVERIFY(resolved.refreshed->bookmarkData != access.bookmarkData);
        const ResolvedFolder renewed = FolderBookmark::resolve(*resolved.refreshed);
        QVERIFY(!renewed.wasStale);

        // A file in its place is not a folder; nothing there cannot be resolved.
        QVERIFY(QDir(path).removeRecursively());
        QVERIFY(writeFile(path, "file"));
        QCOMPARE(bookmarkError([&] { FolderBookmark::resolve(access); }), inaccessible);
        QVERIFY(QFile::remove(path));
        QCOMPARE(bookmarkError([&] { FolderBookmark::resolve(access); }), staleAndUnresolvable);
        QVERIFY(!FolderBookmark::startAccessing(QUrl::fromLocalFile(path)));
    }

    void unusableBookmarks_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("\x01\x02 bookmark");
        QTest::newRow("relative path") << QByteArray(R"({"path":"Notes","device":"1","inode":"2"})");
        QTest::newRow("inode not a number") << QByteArray(R"({"path":"/tmp","device":"1","inode":"x"})");
        QTest::newRow("numbers as JSON numbers") << QByteArray(R"({"path":"/tmp","device":1,"inode":2})");
    }

    void unusableBookmarks()
    {
        QFETCH(QByteArray, data);
        QCOMPARE(bookmarkError([&] {
            FolderBookmark::resolve(FolderAccess { data, QStringLiteral("/tmp") });
        }),
            staleAndUnresolvable);
        QCOMPARE(bookmarkError([&] { RecentBookmarkService::live().resolve(data); }), staleAndUnresolvable);
    }

    void makeRefusesNonFolders_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::newRow("a file") << QUrl::fromLocalFile(QStringLiteral("/etc/passwd"));
        QTest::newRow("missing") << QUrl::fromLocalFile(QStringLiteral("/nonexistent/quorvel"));
        QTest::newRow("not a local URL") << QUrl(QStringLiteral("https://example.com/folder"));
        QTest::newRow("empty") << QUrl();
    }

    void makeRefusesNonFolders()
    {
        QFETCH(QUrl, url);
        QCOMPARE(bookmarkError([&] { FolderBookmark::make(url); }), notADirectory);
    }

    void recentFileBookmarks()
    {
        QTemporaryDir root;
        const QString path = root.filePath(QStringLiteral("note.md"));
        QVERIFY(writeFile(path, "v1"));
        const RecentBookmarkService service = RecentBookmarkService::live();
        const QUrl url = QUrl::fromLocalFile(path);
        const QByteArray bookmark = service.makeBookmark(url);

        RecentBookmarkResolution resolution = service.resolve(bookmark);
        QCOMPARE(resolution.url, url);
        QVERIFY(!resolution.isStale);
        QVERIFY(service.fileExists(url));
        QVERIFY(service.startAccessing(url));

        // Replaced by another file under the same name: stale, and a new bookmark is fresh again.
        QVERIFY(writeFile(path + QStringLiteral(".tmp"), "v2"));
        QVERIFY(QFile::rename(path, path + QStringLiteral(".old")));
        QVERIFY(QFile::rename(path + QStringLiteral(".tmp"), path));
        resolution = service.resolve(bookmark);
        QVERIFY(resolution.isStale);
        QVERIFY(!service.resolve(service.makeBookmark(url)).isStale);

        // Deleted: the bookmark still names the place, whose folder can still be reached.
        QVERIFY(QFile::remove(path));
        resolution = service.resolve(bookmark);
        QCOMPARE(resolution.url, url);
        QVERIFY(!service.fileExists(url));
        QVERIFY(service.startAccessing(url));
        QCOMPARE(bookmarkError([&] { service.makeBookmark(url); }), inaccessible);
    }

    void trashOutcome_data()
    {
        QTest::addColumn<QStringList>("companions");
        QTest::addColumn<QStringList>("moved");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QStringList audio { "a_others.m4a", "a_you.m4a" };
        QTest::newRow("region note moved") << QStringList {} << QStringList { "a.md" } << QStringList {}
                                           << int(TrashReconciliation::Status::allMoved) << "Moved to Trash";
        QTest::newRow("everything moved")
            << audio << QStringList { "a_you.m4a", "a.md", "a_others.m4a" } << QStringList {}
            << int(TrashReconciliation::Status::allMoved) << "Moved to Trash";
        QTest::newRow("one audio file stuck")
            << audio << QStringList { "a.md", "a_you.m4a" } << QStringList { "a_others.m4a" }
            << int(TrashReconciliation::Status::markdownMovedCompanionsRemain)
            << "Moved Markdown to Trash. Some audio files could not be moved.";
        QTest::newRow("only audio moved")
            << audio << QStringList { "a_others.m4a" } << QStringList { "a_you.m4a" }
            << int(TrashReconciliation::Status::companionsMovedMarkdownRemains)
            << "Some audio files were moved to Trash. The Markdown is still here.";
        QTest::newRow("nothing moved")
            << audio << QStringList {} << audio << int(TrashReconciliation::Status::noneMoved)
            << "The file could not be moved to Trash";
        QTest::newRow("a same-named file elsewhere does not count")
            << audio << QStringList { "elsewhere/a.md", "elsewhere/a_you.m4a" } << audio
            << int(TrashReconciliation::Status::noneMoved) << "The file could not be moved to Trash";
        QTest::newRow("paths spelled differently")
            << audio << QStringList { "./a.md", "sub/../a_you.m4a" } << QStringList { "a_others.m4a" }
            << int(TrashReconciliation::Status::markdownMovedCompanionsRemain)
            << "Moved Markdown to Trash. Some audio files could not be moved.";
    }

    void trashOutcome()
    {
        QFETCH(QStringList, companions);
        QFETCH(QStringList, moved);
        QFETCH(QStringList, remaining);
        QFETCH(int, status);
        QFETCH(QString, message);
        const QString folder = QStringLiteral("/home/u/Notes/");
        QList<QUrl> movedURLs;
        for (const QString &name : moved)
            movedURLs.append(QUrl::fromLocalFile(folder + name));
        const auto outcome = TrashReconciliation::outcome(
            QUrl::fromLocalFile(folder + QStringLiteral("a.md")), companions, movedURLs);
        QCOMPARE(outcome.markdownMoved,
            outcome.status == TrashReconciliation::Status::allMoved
                || outcome.status == TrashReconciliation::Status::markdownMovedCompanionsRemain);
        QCOMPARE(outcome.remainingCompanions, remaining);
        QCOMPARE(int(outcome.status), status);
        QCOMPARE(TrashReconciliation::statusMessage(outcome.status), message);
    }
};

QTEST_GUILESS_MAIN(TestFolderBookmark)
#include "tst_FolderBookmark.moc"
