#include "Documents/AtomicMarkdownWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(AtomicFile::Method)

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

const std::pair<const char *, AtomicFile::Method> methods[] = {
    { "unnamed", AtomicFile::Method::automatic },
    { "named temporary", AtomicFile::Method::namedTemporary },
    { "exclusive create", AtomicFile::Method::exclusiveCreate },
};

} // namespace

class TestAtomicMarkdownWriter : public QObject
{
    Q_OBJECT

private slots:
    void clashSuffixes_data()
    {
        QTest::addColumn<AtomicFile::Method>("method");
        QTest::addColumn<QString>("preferred");
        QTest::addColumn<QStringList>("existing"); // a trailing "/" makes a folder
        QTest::addColumn<QString>("written");
        for (const auto &[label, method] : methods) {
            const auto row = [&](const char *name, const char *preferred, const QStringList &existing,
                                 const char *written) {
                QTest::addRow("%s, %s", label, name)
                    << method << QString(preferred) << existing << QString(written);
            };
            row("free", "note.md", {}, "note.md");
            row("two clashes", "note.md", { "note.md", "note-2.md" }, "note-3.md");
            row("first free gap", "note.md", { "note.md", "note-3.md" }, "note-2.md");
            row("a folder of that name", "note.md", { "note.md/" }, "note-2.md");
            row("no extension", "note", { "note" }, "note-2");
            row("before the last extension", "a.b.md", { "a.b.md" }, "a.b-2.md");
        }
    }

    void clashSuffixes()
    {
        QFETCH(AtomicFile::Method, method);
        QFETCH(QString, preferred);
        QFETCH(QStringList, existing);
        QFETCH(QString, written);
        QTemporaryDir folder;
        QStringList expected { written };
        for (const QString &name : existing) {
            if (name.endsWith(QLatin1Char('/')))
                QVERIFY(QDir(folder.path()).mkdir(name.chopped(1)));
            else
                QVERIFY(writeFile(folder.filePath(name), "original " + name.toUtf8()));
            expected.append(name.endsWith(QLatin1Char('/')) ? name.chopped(1) : name);
        }
        expected.sort();
        const QString text = QStringLiteral("# Título 🙂\nbody");
        const QUrl url = AtomicMarkdownWriter::write(text, folder.path(), preferred, method);
        QCOMPARE(url, QUrl::fromLocalFile(folder.filePath(written)));
        QCOMPARE(readFile(url.toLocalFile()), text.toUtf8() + '\n'); // UTF-8 with a final newline
        for (const QString &name : existing) {
            if (!name.endsWith(QLatin1Char('/')))
                QCOMPARE(readFile(folder.filePath(name)), "original " + name.toUtf8());
        }
        QCOMPARE(entries(folder.path()), expected); // nothing temporary left
        // A final newline that is there is not doubled.
        const QUrl second = AtomicMarkdownWriter::write("a\n", folder.path(), preferred, method);
        QCOMPARE(readFile(second.toLocalFile()), QByteArray("a\n"));
    }

    // Writers of every kind race for one name with a creator that takes the "-N" names directly:
    // every file ends up under its own name with its own content.
    void racingCreatorsNeverLoseAFile()
    {
        QTemporaryDir folder;
        constexpr int writesEach = 15;
        QList<QUrl> results[std::size(methods)];
        QStringList rawCreated;
        std::atomic<bool> failed = false;
        std::vector<std::thread> threads;
        for (size_t w = 0; w < std::size(methods); ++w) {
            threads.emplace_back([&, w] {
                for (int i = 0; i < writesEach; ++i) {
                    try {
                        results[w].append(
                            AtomicMarkdownWriter::write(QStringLiteral("writer %1 note %2").arg(w).arg(i),
                                folder.path(), "race.md", methods[w].second));
                    } catch (const std::exception &) {
                        failed = true;
                    }
                }
            });
        }
        threads.emplace_back([&] {
            for (int n = 2; n < 40; ++n) {
                const QString name = AtomicMarkdownWriter::candidateName("race.md", n);
                const int fd = ::open(QFile::encodeName(folder.filePath(name)).constData(),
                    O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
                if (fd < 0)
                    continue;
                const QByteArray mark = "raw " + name.toUtf8();
                failed = failed || ::write(fd, mark.constData(), size_t(mark.size())) != ssize_t(mark.size());
                ::close(fd);
                rawCreated.append(name);
            }
        });
        for (std::thread &thread : threads)
            thread.join();
        QVERIFY(!failed);

        QSet<QString> names;
        for (size_t w = 0; w < std::size(methods); ++w) {
            QCOMPARE(results[w].size(), writesEach);
            for (int i = 0; i < writesEach; ++i) {
                QCOMPARE(readFile(results[w].at(i).toLocalFile()),
                    QStringLiteral("writer %1 note %2\n").arg(w).arg(i).toUtf8());
                names.insert(results[w].at(i).fileName());
            }
        }
        for (const QString &name : rawCreated) {
            QCOMPARE(readFile(folder.filePath(name)), "raw " + name.toUtf8());
            names.insert(name);
        }
        QCOMPARE(names.size(), int(std::size(methods)) * writesEach + rawCreated.size());
        QCOMPARE(entries(folder.path()).size(), names.size());
    }

    // Refused without a trace: no file appears in the folder or beside it.
    void refused()
    {
        using Code = AtomicMarkdownWriterError::Code;
        QTemporaryDir root;
        const QString inner = root.filePath(QStringLiteral("inner"));
        QVERIFY(QDir().mkdir(inner) && writeFile(inner + QStringLiteral("/file.txt"), "x"));
        for (const auto &[place, name, code] :
            { std::tuple { "file.txt", QString("n.md"), Code::notADirectory },
                { "missing", QString("n.md"), Code::notADirectory },
                { ".", QString("../n.md"), Code::writeFailed }, { ".", QString(".."), Code::writeFailed },
                { ".", QString(300, QLatin1Char('x')), Code::writeFailed } }) {
            try {
                AtomicMarkdownWriter::write("text", inner + QLatin1Char('/') + place, name);
                QFAIL(qPrintable("written: " + name));
            } catch (const AtomicMarkdownWriterError &error) {
                QCOMPARE(error.code(), code);
            }
        }
        QCOMPARE(entries(inner), QStringList { "file.txt" });
        QCOMPARE(entries(root.path()), QStringList { "inner" });
    }

    // Run as an unprivileged user by a helper, since root may write anywhere.
    void readOnlyFolderFailsWithoutLitter_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("writable");
        for (const char *method : { "automatic", "namedTemporary", "exclusiveCreate" }) {
            for (bool writable : { false, true })
                QTest::addRow("%s, %s", method, writable ? "writable" : "read-only") << method << writable;
        }
    }

    void readOnlyFolderFailsWithoutLitter()
    {
        QFETCH(QString, method);
        QFETCH(bool, writable);
        QTemporaryDir root(QDir::tempPath() + QStringLiteral("/quorvel-writer-XXXXXX"));
        const QString folder = root.filePath(QStringLiteral("notes"));
        QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0755) == 0 && QDir().mkdir(folder));
        QVERIFY(writeFile(folder + QStringLiteral("/note.md"), "original"));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), writable ? 0777 : 0555) == 0);
        QProcess helper;
        helper.start(TestSupport::binaryDir() + QStringLiteral("/unprivileged_markdown_write"),
            { method, folder, QStringLiteral("note.md"), QStringLiteral("new text") });
        QVERIFY(helper.waitForFinished(30000));
        const QString answer = QString::fromUtf8(helper.readAllStandardOutput()).trimmed();
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        if (writable) {
            QCOMPARE(answer, QStringLiteral("ok ") + folder + QStringLiteral("/note-2.md"));
            QCOMPARE(readFile(folder + QStringLiteral("/note-2.md")), QByteArray("new text\n"));
        } else {
            QCOMPARE(answer, QStringLiteral("error writeFailed %1").arg(EACCES));
            QCOMPARE(entries(folder), QStringList { "note.md" });
        }
        QCOMPARE(readFile(folder + QStringLiteral("/note.md")), QByteArray("original"));
    }
};

QTEST_GUILESS_MAIN(TestAtomicMarkdownWriter)
#include "tst_AtomicMarkdownWriter.moc"
