// The Trash, on a data folder of the test's own; showing files, on a session bus of the test's own.
#include "ScopedEnvironment.h"
#include "Services/FileManager.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QtDBus/QDBusConnection>

// Stands in for a file manager's org.freedesktop.FileManager1 service.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> shown;

public slots:
    void ShowItems(const QStringList &uris, const QString &) { shown << uris; }
};

class TestFileManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No service directories: nothing on the machine is started to answer for a missing name.
        const QString config = m_busDir.filePath(QStringLiteral("bus.conf"));
        QVERIFY(TestSupport::writeFile(config,
            "<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(m_busDir.path())
                + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                  "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>"));
        m_bus.start(QStringLiteral("dbus-daemon"),
            { "--config-file=" + config, "--nofork", "--nopidfile", "--print-address" });
        QVERIFY(m_bus.waitForReadyRead(10000));
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
        m_environment.set("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    }

    void cleanupTestCase()
    {
        m_environment.restore();
        m_bus.kill();
        m_bus.waitForFinished();
    }

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

    // "Show in Folder": the file manager selects the file where one offers it on the bus; else, and
    // without a session bus at all, the folder opens.
    void showItems_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::newRow("a file manager answers") << "file manager";
        QTest::newRow("no file manager on the bus") << "bus only";
        QTest::newRow("no session bus") << "nothing";
    }
    void showItems()
    {
        QFETCH(QString, desktop);
        const QUrl file = QUrl::fromLocalFile(QStringLiteral("/srv/notes/2026 plan.md"));
        FakeFileManager manager;
        QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("file-manager"));
        ScopedEnvironment environment;
        const auto leave = qScopeGuard([&] {
            service.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
            QDBusConnection::disconnectFromBus(QStringLiteral("file-manager"));
        });
        if (desktop == "file manager") {
            QVERIFY(service.registerObject(
                QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots));
            QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        }
        QTemporaryDir runtime;
        if (desktop == "nothing") {
            environment.unset("DBUS_SESSION_BUS_ADDRESS").set("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        }
        QList<QUrl> opened;
        FileManager::showItems({ file }, [&](const QUrl &folder) {
            opened << folder;
            return true;
        });
        if (desktop == "file manager") {
            QTRY_COMPARE(manager.shown, QList<QStringList> { { file.toString(QUrl::FullyEncoded) } });
            QVERIFY(opened.isEmpty());
        } else {
            QTRY_COMPARE(opened, QList<QUrl> { QUrl::fromLocalFile(QStringLiteral("/srv/notes")) });
            QVERIFY(manager.shown.isEmpty());
        }
    }

private:
    QTemporaryDir m_busDir;
    QProcess m_bus;
    QString m_address;
    ScopedEnvironment m_environment;
};

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_FileManager.moc"
