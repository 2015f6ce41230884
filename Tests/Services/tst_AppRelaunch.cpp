#include "GenerousWaits.h"
#include "Platform/ProcessTable.h"
#include "Services/AppRelaunch.h"
#include "TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Every process of one run (the waiting reopen and each instance) names the run's log.
bool anyStillRunning(const QString &log)
{
    const QList<qint64> pids = ProcessTable::allProcessIDs();
    return std::any_of(
        pids.begin(), pids.end(), [&](qint64 pid) { return ProcessTable::commandLine(pid).contains(log); });
}

} // namespace

class TestAppRelaunch : public QObject
{
    Q_OBJECT

private slots:
    void relaunchStartsOnceAfterTheOldProcessHasExited_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("instances");
        QTest::newRow("relaunch, then commit at quit") << "relaunch" << 2;
        QTest::newRow("pending, spawned only at commit") << "commit" << 2;
        QTest::newRow("quit refused, relaunch cancelled") << "cancel" << 1;
        QTest::newRow("nothing pending") << "nothing" << 1;
    }

    void relaunchStartsOnceAfterTheOldProcessHasExited()
    {
        QFETCH(QString, mode);
        QFETCH(int, instances);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString log = dir.filePath("log");
        const QStringList arguments { log, mode, "two words", "--title=it's \"quoted\"", "$HOME", "" };

        QProcess first;
        first.setWorkingDirectory(dir.path());
        first.start(TestSupport::binaryDir() + "/relaunch_probe", arguments);
        QVERIFY(first.waitForFinished(TestSupport::patienceMs));
        QCOMPARE(first.exitCode(), 0);

        // Once nothing of the run is left, a stray or cancelled reopen would have shown in the log.
        QTRY_VERIFY(!anyStillRunning(log));
        // Each line: "start <pid> <previous instance still alive: 0/1> <arguments>" or "exit <pid>".
        const QStringList lines
            = QString::fromUtf8(TestSupport::readFile(log)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), instances + 1);
        const auto started = [&](int i) {
            return "start " + lines.at(i).section(' ', 1, 1) + " 0 " + arguments.join(QChar(0x241F));
        };
        QCOMPARE(lines.at(0), started(0));
        QCOMPARE(lines.at(1), "exit " + lines.at(0).section(' ', 1, 1));
        if (instances == 2) {
            QCOMPARE(lines.at(2), started(2)); // "0": it started only after the old one had exited
            QVERIFY(lines.at(2).section(' ', 1, 1) != lines.at(0).section(' ', 1, 1));
        }
    }
};

QTEST_GUILESS_MAIN(TestAppRelaunch)
#include "tst_AppRelaunch.moc"
