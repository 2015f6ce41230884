#include "Services/AppRelaunch.h"
#include "TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct LogLine
{
    QString kind;
    qint64 pid = 0;
    bool previousAlive = false;
    QStringList arguments;
};

QList<LogLine> readLog(const QString &path)
{
    QList<LogLine> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return lines;
    for (const QString &raw :
        QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = raw.split(QLatin1Char(' '));
        LogLine line;
        line.kind = parts.value(0);
        line.pid = parts.value(1).toLongLong();
        if (line.kind == QLatin1String("start")) {
            line.previousAlive = parts.value(2) == QLatin1String("1");
            line.arguments = raw.section(QLatin1Char(' '), 3).split(QChar(0x241F));
        }
        lines << line;
    }
    return lines;
}

int countStarts(const QList<LogLine> &lines)
{
    return int(std::count_if(lines.begin(), lines.end(), [](const LogLine &l) { return l.kind == "start"; }));
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
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitCode(), 0);

        if (instances == 2)
            QTRY_COMPARE_WITH_TIMEOUT(countStarts(readLog(log)), 2, 5000);
        // Long enough for a stray second reopen or a cancelled one to show up.
        QTest::qWait(800);
        const QList<LogLine> lines = readLog(log);
        QCOMPARE(countStarts(lines), instances);
        QCOMPARE(lines.at(0).kind, QString("start"));
        QCOMPARE(lines.at(0).arguments, arguments);
        QCOMPARE(lines.at(1).kind, QString("exit"));
        QCOMPARE(lines.at(1).pid, lines.at(0).pid);
        if (instances == 2) {
            const LogLine &second = lines.at(2);
            QVERIFY(second.pid != lines.at(0).pid);
            QVERIFY2(!second.previousAlive, "the new instance started before the old one had exited");
            QCOMPARE(second.arguments, arguments);
        }
    }
};

QTEST_GUILESS_MAIN(TestAppRelaunch)
#include "tst_AppRelaunch.moc"
