#include "AtomicMarkdownWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(AtomicFile::Method)

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

QStringList entries(const QString &folder)
{
    QStringList names
        = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

void addMethodRows(const char *name, const std::function<void(QTestData &)> &row)
{
    const std::pair<const char *, AtomicFile::Method> methods[] = {
        { "automatic", AtomicFile::Method::automatic },
        { "named temporary", AtomicFile::Method::namedTemporary },
        { "exclusive create", AtomicFile::Method::exclusiveCreate },
    };
    for (const auto &[label, method] : methods) {
        QTestData &data = QTest::addRow("%s, %s", name, label) << method;
        row(data);
    }
}

} // namespace

class TestAtomicMarkdownWriter : public QObject
{
    Q_OBJECT

private slots:
    void clashSuffixes_data()
    {
        QTest::addColumn<AtomicFile::Method>("method");
        QTest::addColumn<QString>("preferred");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("written");
        addMethodRows("free", [](QTestData &d) { d << "note.md" << QStringList {} << "note.md"; });
        addMethodRows(
            "one clash", [](QTestData &d) { d << "note.md" << QStringList { "note.md" } << "note-2.md"; });
        addMethodRows("two clashes", [](QTestData &d) {
            d << "note.md" << QStringList { "note.md", "note-2.md" } << "note-3.md";
        });
        addMethodRows("first free gap", [](QTestData &d) {
            d << "note.md" << QStringList { "note.md", "note-3.md" } << "note-2.md";
        });
        addMethodRows("a folder of that name",
            [](QTestData &d) { d << "note.md" << QStringList { "note.md/" } << "note-2.md"; });
        addMethodRows(
            "no extension", [](QTestData &d) { d << "note" << QStringList { "note" } << "note-2"; });
        addMethodRows("suffix before the last extension",
            [](QTestData &d) { d << "a.b.md" << QStringList { "a.b.md" } << "a.b-2.md"; });
    }

    void clashSuffixes()
    {
        QFETCH(AtomicFile::Method, method);
        QFETCH(QString, preferred);
        QFETCH(QStringList, existing);
        QFETCH(QString, written);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QStringList expectedEntries { written };
        for (const QString &name : existing) {
            if (name.endsWith(QLatin1Char('/'))) {
                QVERIFY(QDir(folder.path()).mkdir(name.chopped(1)));
                expectedEntries.append(name.chopped(1));
            } else {
                writeFile(folder.filePath(name), "original " + name.toUtf8());
                expectedEntries.append(name);
            }
        }
        expectedEntries.sort();

        const QString text = QStringLiteral("# Título 🙂\nbody");
        const QUrl url = AtomicMarkdownWriter::write(text, folder.path(), preferred, method);
        QCOMPARE(url, QUrl::fromLocalFile(folder.filePath(written)));
        QCOMPARE(readFile(url.toLocalFile()), text.toUtf8() + '\n');
        // Nothing overwritten, nothing temporary left.
        for (const QString &name : existing) {
            if (!name.endsWith(QLatin1Char('/')))
                QCOMPARE(readFile(folder.filePath(name)), "original " + name.toUtf8());
        }
        QCOMPARE(entries(folder.path()), expectedEntries);
    }

    void finalNewline_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("added") << "a" << QByteArray("a\n");
        QTest::newRow("kept") << "a\n" << QByteArray("a\n");
        QTest::newRow("empty") << "" << QByteArray("\n");
    }

    void finalNewline()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, content);
        QTemporaryDir folder;
        const QUrl url = AtomicMarkdownWriter::write(text, folder.path(), QStringLiteral("n.md"));
        QCOMPARE(readFile(url.toLocalFile()), content);
    }

    // Writers of every kind race for one name with a creator that takes names directly: every file
    // ends up under its own name with its own content.
    void racingCreatorsNeverLoseAFile()
    {
        QTemporaryDir folder;
        constexpr int writers = 3;
        constexpr int writesEach = 15;
        const AtomicFile::Method methods[writers] = { AtomicFile::Method::automatic,
            AtomicFile::Method::namedTemporary, AtomicFile::Method::exclusiveCreate };
        QList<QUrl> results[writers];
        QStringList rawCreated;
        std::vector<std::thread> threads;
        std::atomic<bool> failed = false;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                for (int i = 0; i < writesEach; ++i) {
                    try {
                        results[w].append(
                            AtomicMarkdownWriter::write(QStringLiteral("writer %1 note %2").arg(w).arg(i),
                                folder.path(), QStringLiteral("race.md"), methods[w]));
                    } catch (const std::exception &) {
                        failed = true;
                    }
                }
            });
        }
        threads.emplace_back([&] {
            for (int n = 2; n < 40; ++n) {
                const QString name = AtomicMarkdownWriter::candidateName(QStringLiteral("race.md"), n);
                const int fd = ::open(QFile::encodeName(folder.filePath(name)).constData(),
                    O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
                if (fd < 0)
                    continue;
                const QByteArray mark = "raw " + name.toUtf8() + '\n';
                if (::write(fd, mark.constData(), size_t(mark.size())) != ssize_t(mark.size()))
                    failed = true;
                ::close(fd);
                rawCreated.append(name);
            }
        });
        for (std::thread &thread : threads)
            thread.join();
        QVERIFY(!failed);

        QSet<QString> names;
        for (int w = 0; w < writers; ++w) {
            QCOMPARE(results[w].size(), writesEach);
            for (int i = 0; i < writesEach; ++i) {
                const QString path = results[w].at(i).toLocalFile();
                QCOMPARE(readFile(path), QStringLiteral("writer %1 note %2\n").arg(w).arg(i).toUtf8());
                names.insert(QFileInfo(path).fileName());
            }
        }
        for (const QString &name : rawCreated) {
            QVERIFY(!names.contains(name));
            QCOMPARE(readFile(folder.filePath(name)), "raw " + name.toUtf8() + '\n');
            names.insert(name);
        }
        QCOMPARE(names.size(), writers * writesEach + rawCreated.size());
        QCOMPARE(entries(folder.path()).size(), names.size());
    }

    void refusedPlaces_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("a file") << "file.txt"
                                << "n.md" << int(AtomicMarkdownWriterError::Code::notADirectory);
        QTest::newRow("missing") << "missing"
                                 << "n.md" << int(AtomicMarkdownWriterError::Code::notADirectory);
        QTest::newRow("name with a slash") << "."
                                           << "../n.md" << int(AtomicMarkdownWriterError::Code::writeFailed);
        QTest::newRow("dot-dot") << "."
                                 << ".." << int(AtomicMarkdownWriterError::Code::writeFailed);
        QTest::newRow("empty name") << "."
                                    << "" << int(AtomicMarkdownWriterError::Code::writeFailed);
        QTest::newRow("name too long")
            << "." << QString(300, QLatin1Char('x')) << int(AtomicMarkdownWriterError::Code::writeFailed);
    }

    void refusedPlaces()
    {
        QFETCH(QString, place);
        QFETCH(QString, name);
        QFETCH(int, code);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkdir(QStringLiteral("inner")));
        const QString inner = root.filePath(QStringLiteral("inner"));
        writeFile(inner + QStringLiteral("/file.txt"), "x");
        const QStringList before = entries(inner);
        try {
            AtomicMarkdownWriter::write(QStringLiteral("text"), inner + QLatin1Char('/') + place, name);
            QFAIL("the write should have failed");
        } catch (const AtomicMarkdownWriterError &error) {
            QCOMPARE(int(error.code()), code);
        }
        QCOMPARE(entries(inner), before);
        QCOMPARE(entries(root.path()), QStringList { "inner" });
    }

    // Run as an unprivileged user, since root may write anywhere.
    void readOnlyFolderFailsWithoutLitter_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("writable");
        for (const char *method : { "automatic", "namedTemporary", "exclusiveCreate" }) {
            QTest::addRow("%s, read-only", method) << method << false;
            QTest::addRow("%s, writable", method) << method << true;
        }
    }

    void readOnlyFolderFailsWithoutLitter()
    {
        QFETCH(QString, method);
        QFETCH(bool, writable);
        QTemporaryDir root(QDir::tempPath() + QStringLiteral("/quorvel-writer-XXXXXX"));
        QVERIFY(QFile::setPermissions(root.path(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
                | QFile::ReadGroup | QFile::ExeGroup));
        const QString folder = root.filePath(QStringLiteral("notes"));
        QVERIFY(QDir().mkdir(folder));
        writeFile(folder + QStringLiteral("/note.md"), "original");
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), writable ? 0777 : 0555) == 0);

        QProcess helper;
        helper.start(TestSupport::binaryDir() + QStringLiteral("/unprivileged_markdown_write"),
            { method, folder, QStringLiteral("note.md"), QStringLiteral("new text") });
        QVERIFY(helper.waitForFinished(30000));
        QCOMPARE(helper.exitCode(), 0);
        const QString answer = QString::fromUtf8(helper.readAllStandardOutput()).trimmed();
        if (writable) {
            QCOMPARE(answer, QStringLiteral("ok ") + folder + QStringLiteral("/note-2.md"));
            QCOMPARE(entries(folder), (QStringList { "note-2.md", "note.md" }));
            QCOMPARE(readFile(folder + QStringLiteral("/note-2.md")), QByteArray("new text\n"));
        } else {
            QCOMPARE(answer, QStringLiteral("error writeFailed %1").arg(EACCES));
            QCOMPARE(entries(folder), QStringList { "note.md" });
        }
        QCOMPARE(readFile(folder + QStringLiteral("/note.md")), QByteArray("original"));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
    }
};

QTEST_GUILESS_MAIN(TestAtomicMarkdownWriter)
#include "tst_AtomicMarkdownWriter.moc"
