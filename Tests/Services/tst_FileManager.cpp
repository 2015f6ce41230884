// The Trash, on a data folder of the test's own.
#include "ScopedEnvironment.h"
#include "Services/FileManager.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestFileManager : public QObject
{
    Q_OBJECT

private slots:
    // Qt would "trash" into ./files and report success while the data folder does not exist yet.
    void movesToTheUsersTrash()
    {
        QTemporaryDir dir;
        ScopedEnvironment environment;
        environment.set("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        QVERIFY(QDir::setCurrent(dir.path()));
        const QUrl note = QUrl::fromLocalFile(dir.filePath("note.md"));
        QVERIFY(TestSupport::writeFile(note.toLocalFile(), "# note\n"));
        QCOMPARE(FileManager::moveToTrash({ note, QUrl::fromLocalFile(dir.filePath("gone.md")) }), { note });
        QVERIFY(QFile::exists(dir.filePath("data/Trash/files/note.md")) && !QDir("files").exists());
    }
};

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_FileManager.moc"
