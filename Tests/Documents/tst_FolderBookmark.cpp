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

} // namespace

Q_DECLARE_METATYPE(TrashReconciliation::Status)

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

    // A capture folder that leads elsewhere through a link than when it was chosen is refused until it
    // is chosen again; a folder merely recreated at its path is still renewed.
    void linksSinceChosen_data()
    {
        QTest::addColumn<QString>("chosen"); // the path chosen, below the root
        QTest::addColumn<QString>("change"); // what happens at the root before the next save
        QTest::addColumn<bool>("older"); // a bookmark made before it said where the path led
        QTest::addColumn<int>("expected"); // -1: resolves
        const int becameLink = int(FolderBookmarkError::Code::becameLink);
        for (const bool older : { false, true }) {
            const char *kind = older ? "older bookmark" : "bookmark";
            QTest::addRow("%s, folder replaced by a link", kind) << "Notes"
                                                                 << "Notes -> Other" << older << becameLink;
            QTest::addRow("%s, folder above replaced by a link", kind)
                << "Parent/Notes"
                << "Parent -> Elsewhere" << older << becameLink;
            QTest::addRow("%s, link chosen, then pointed elsewhere", kind)
                << "Link"
                << "Link -> Other" << older << becameLink;
            QTest::addRow("%s, link chosen, unchanged", kind) << "Link"
                                                              << "" << older << -1;
            QTest::addRow("%s, folder recreated", kind) << "Notes"
                                                        << "Notes new" << older << -1;
        }
    }

    void linksSinceChosen()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, change);
        QFETCH(bool, older);
        QTemporaryDir root;
        const auto at = [&root](const QString &name) { return root.filePath(name); };
        for (const char *folder : { "Notes", "Parent/Notes", "Other", "Elsewhere/Notes", "Real" })
            QVERIFY(QDir().mkpath(at(folder)));
        QVERIFY(QFile::link(at("Real"), at("Link")));
        FolderAccess access = FolderBookmark::make(QUrl::fromLocalFile(at(chosen)));
        if (older) {
            std::optional<FolderBookmark::Record> record = FolderBookmark::decode(access.bookmarkData);
            QVERIFY(record && record->canonicalPath);
            record->canonicalPath.reset();
            access.bookmarkData = FolderBookmark::encode(*record);
        }
        const QStringList parts = change.split(' ');
        if (parts.value(1) == "->") {
            QVERIFY(QDir().rename(at(parts[0]), at(parts[0] + ".old")) || QFile::remove(at(parts[0])));
            QVERIFY(QFile::link(at(parts[2]), at(parts[0])));
        } else if (parts.value(1) == "new") {
            replaceFolder(at(parts[0]));
        }
        QFETCH(int, expected);
        QCOMPARE(bookmarkError([&] { FolderBookmark::resolve(access); }), expected);
        // Chosen again, the place it leads to now is the capture folder.
        const FolderAccess again = FolderBookmark::make(QUrl::fromLocalFile(at(chosen)));
        const ResolvedFolder resolved = FolderBookmark::resolve(again);
        QVERIFY(!resolved.wasStale);
        QCOMPARE(resolved.url, QUrl::fromLocalFile(at(chosen)));
    }

    void refused()
    {
        for (const char *data : { "", "\x01\x02 bookmark", R"({"path":"Notes","device":"1","inode":"2"})",
                 R"({"path":"/tmp","device":"1","inode":"x"})", R"({"path":"/tmp","device":1,"inode":2})" }) {
            QCOMPARE(bookmarkError([&] {
                FolderBookmark::resolve(FolderAccess { data, "/tmp" });
            }),
                staleAndUnresolvable);
            QCOMPARE(
                bookmarkError([&] { RecentBookmarkService::live().resolve(data); }), staleAndUnresolvable);
        }
        for (const QUrl &url : { QUrl::fromLocalFile("/etc/passwd"),
                 QUrl::fromLocalFile("/nonexistent/quorvel"), QUrl("https://example.com/folder"), QUrl() })
            QCOMPARE(bookmarkError([&] { FolderBookmark::make(url); }),
                int(FolderBookmarkError::Code::notADirectory));
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

    // Which of a note's files reached the trash, judged by their paths however they are spelled.
    void trashOutcome_data()
    {
        using Status = TrashReconciliation::Status;
        QTest::addColumn<QStringList>("companions");
        QTest::addColumn<QStringList>("moved");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<Status>("status");
        const QStringList audio { "a_others.m4a", "a_you.m4a" };
        const auto row = [](const char *name, const QStringList &companions, const QStringList &moved,
                             const QStringList &remaining, Status status) {
            QTest::newRow(name) << companions << moved << remaining << status;
        };
        row("region note moved", {}, { "a.md" }, {}, Status::allMoved);
        row("everything moved", audio, { "a_you.m4a", "a.md", "a_others.m4a" }, {}, Status::allMoved);
        row("one audio file stuck", audio, { "a.md", "a_you.m4a" }, { "a_others.m4a" },
            Status::markdownMovedCompanionsRemain);
        row("only audio moved", audio, { "a_others.m4a" }, { "a_you.m4a" },
            Status::companionsMovedMarkdownRemains);
        row("nothing moved", audio, {}, audio, Status::noneMoved);
        row("a same-named file elsewhere does not count", audio, { "elsewhere/a.md", "elsewhere/a_you.m4a" },
            audio, Status::noneMoved);
        row("paths spelled differently", audio, { "./a.md", "sub/../a_you.m4a" }, { "a_others.m4a" },
            Status::markdownMovedCompanionsRemain);
    }

    void trashOutcome()
    {
        QFETCH(QStringList, companions);
        QFETCH(QStringList, moved);
        const QString folder = QStringLiteral("/home/u/Notes/");
        QList<QUrl> movedURLs;
        for (const QString &name : moved)
            movedURLs.append(QUrl::fromLocalFile(folder + name));
        const auto outcome = TrashReconciliation::outcome(
            QUrl::fromLocalFile(folder + QStringLiteral("a.md")), companions, movedURLs);
        QCOMPARE(outcome.markdownMoved,
            outcome.status == TrashReconciliation::Status::allMoved
                || outcome.status == TrashReconciliation::Status::markdownMovedCompanionsRemain);
        QTEST(outcome.remainingCompanions, "remaining");
        QTEST(outcome.status, "status");
    }
};

QTEST_GUILESS_MAIN(TestFolderBookmark)
#include "tst_FolderBookmark.moc"
