// Settings changed 50 times in a row on a slow disk: every sync of the settings file waits 200 ms
// (strace delays each fdatasync of the helper that makes the changes). The main thread must keep
// answering while the suite is written behind; written through on the main thread, it does not,
// which shows the disk is slow indeed and that the check catches it.
#include "TestSupport.h"

#include "Documents/AppSettingsStore.h"
#include "Documents/DefaultsStore.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestSettingsWriteStall : public QObject
{
    Q_OBJECT

private slots:
    void stall_data()
    {
        QTest::addColumn<bool>("direct");
        QTest::newRow("every settings change syncs the slow disk on the main thread") << false;
        QTest::newRow("a write through on the main thread stalls it: the disk is slow") << true;
    }
    void stall()
    {
        QFETCH(bool, direct);
        constexpr int syncMs = 200;
        const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
        if (strace.isEmpty())
            QSKIP("strace slows the disk down here, and it is not installed");
        QProcess probe;
        probe.start(strace, { QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("true") });
        if (!probe.waitForFinished() || probe.exitCode() != 0)
            QSKIP("strace cannot trace processes here");
        QTemporaryDir folder;
        QProcess helper;
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The leak checker cannot run under a tracer.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
            environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        helper.setProcessEnvironment(environment);
        // Only the syncs stop the helper: stopping it at every call would stall it on a busy machine.
        QStringList arguments { QStringLiteral("-f"), QStringLiteral("--seccomp-bpf"), QStringLiteral("-qq"),
            QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-e"),
            QStringLiteral("trace=fdatasync,fsync"), QStringLiteral("-e"),
            QStringLiteral("inject=fdatasync,fsync:delay_enter=%1").arg(syncMs * 1000),
            TestSupport::binaryDir() + QStringLiteral("/settings_stall"), folder.path() };
        if (direct)
            arguments << QStringLiteral("--direct");
        helper.start(strace, arguments);
        QVERIFY(helper.waitForFinished(120000));
        QCOMPARE(helper.exitCode(), 0);
        const QRegularExpressionMatch stall = QRegularExpression(QStringLiteral("stall-ms=(\\d+)"))
                                                  .match(QString::fromUtf8(helper.readAllStandardOutput()));
        QVERIFY(stall.hasMatch());
        const int stallMs = stall.captured(1).toInt();
        qInfo("longest stall of the main thread: %d ms", stallMs);
        // A write through waits for two syncs; a busy machine alone stalls the thread for less than one.
        const int overOneSync = syncMs * 3 / 2;
        if (direct)
            QVERIFY2(stallMs >= overOneSync, qPrintable(QString::number(stallMs)));
        else
            QVERIFY2(stallMs < overOneSync, qPrintable(QString::number(stallMs)));
        // Every change reached the file, the last one last.
        const AppSettings written
            = AppSettingsStore(SettingsDefaultsStore::open(QStringLiteral("suite"), folder.path())).load();
        QCOMPARE(written.othersAudioDisplayName, std::optional(QStringLiteral("Change 50")));
    }
};

QTEST_GUILESS_MAIN(TestSettingsWriteStall)
#include "tst_SettingsWriteStall.moc"
