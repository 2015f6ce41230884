// The Trash and the file manager's ShowItems, on a data folder and a session bus of the test's own.
#include "Services/FileManager.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public slots:
    void ShowItems(const QStringList &uris, const QString &) { shown += uris; }

public:
    QStringList shown;
};

class TestFileManager : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_bus.start("dbus-daemon", { "--session", "--nofork", "--print-address=1" });
        QVERIFY(m_bus.waitForReadyRead(10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
    }
    void cleanupTestCase() { m_bus.kill(), m_bus.waitForFinished(); }

    // Qt would "trash" into ./files and report success while the data folder does not exist yet.
    void movesToTheUsersTrash()
    {
        const QUrl note = QUrl::fromLocalFile(m_dir.filePath("note.md"));
        QVERIFY(TestSupport::writeFile(note.toLocalFile(), "# note\n"));
        QCOMPARE(
            FileManager::moveToTrash({ note, QUrl::fromLocalFile(m_dir.filePath("gone.md")) }), { note });
        QVERIFY(QFile::exists(m_dir.filePath("data/Trash/files/note.md")) && !QDir("files").exists());
    }

    void showItems_data()
    {
        QTest::addColumn<bool>("offered");
        QTest::newRow("a file manager on the bus") << true;
        QTest::newRow("none: the folder opens") << false;
    }
    void showItems()
    {
        QFETCH(bool, offered);
        FakeFileManager fake;
        QDBusConnection bus
            = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "fake");
        QVERIFY(!offered
            || (bus.registerObject("/org/freedesktop/FileManager1", &fake, QDBusConnection::ExportAllSlots)
                && bus.registerService("org.freedesktop.FileManager1")));
        const QUrl file = QUrl::fromLocalFile(m_dir.filePath("a folder/a note.md"));
        QList<QUrl> opened;
        FileManager::showItems({ file }, [&](const QUrl &folder) { return opened << folder, true; });
        QTRY_VERIFY(fake.shown.size() + opened.size() == 1);
        QCOMPARE(fake.shown, offered ? QStringList { file.toString(QUrl::FullyEncoded) } : QStringList());
        QCOMPARE(opened,
            offered ? QList<QUrl>() : QList<QUrl> { QUrl::fromLocalFile(m_dir.filePath("a folder")) });
        bus.unregisterService("org.freedesktop.FileManager1");
        bus.unregisterObject("/org/freedesktop/FileManager1");
        QDBusConnection::disconnectFromBus("fake");
    }
};

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_FileManager.moc"
