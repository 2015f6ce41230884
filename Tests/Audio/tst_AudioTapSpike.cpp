// The audio self-test: its verdict line and report, and the real executable run against the private
// sound server, against none, and with nowhere to keep its report.
#include "Audio/AudioTapSpike.h"
#include "TonePlayers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using AudioTapSpike::Report;

namespace {

// The keys in the order the file lists them.
QStringList keysAsWritten(const QByteArray &json)
{
    QStringList keys;
    static const QRegularExpression key(
        QStringLiteral("^    \"(\\w+)\":"), QRegularExpression::MultilineOption);
    for (auto it = key.globalMatch(QString::fromUtf8(json)); it.hasNext();)
        keys << it.next().captured(1);
    return keys;
}

struct SpikeRun
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    qint64 milliseconds = 0;
    QString verdict;
    QString reportLine;
    int verdictLines = 0;
};

SpikeRun runSpike(const QMap<QString, QString> &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    QProcess process;
    process.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(DOVRIN_QUORVEL_EXECUTABLE), { QStringLiteral("--audio-spike") });
    SpikeRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.milliseconds = clock.elapsed();
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    const QStringList lines = QString::fromUtf8(process.readAllStandardError()).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines.at(i).startsWith(QLatin1String("AUDIO SPIKE ")))
            continue;
        ++run.verdictLines;
        run.verdict = lines.at(i);
        run.reportLine = lines.value(i + 1);
    }
    if (run.verdictLines == 0)
        qWarning().noquote() << "standard error:" << lines.join(QLatin1Char('\n'));
    return run;
}

QJsonObject readReport(const QString &path, QByteArray *raw)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    *raw = file.readAll();
    return QJsonDocument::fromJson(*raw).object();
}

} // namespace

class AudioTapSpikeTest : public QObject
{
    Q_OBJECT

private slots:
    // JSON cannot hold an infinite number: then the file holds the verdict line.
    void reportWithoutJsonIsTheVerdict()
    {
        Report report;
        report.peak = std::numeric_limits<float>::infinity();
        QVERIFY(!report.json());
        QCOMPARE(report.fileContents(), report.rendered().toUtf8());
        QVERIFY(report.rendered().contains(QLatin1String(" peak=inf ")));
    }

    // The whole run under the private sound server, with another program playing a tone throughout:
    // the whole-system probe hears it on top of the program's own sound, the application probe does not.
    void hearsTheSystemAndItsOwnPlayback()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the private sound server that scripts/test.sh starts");
        QTemporaryDir data;
        QVERIFY(data.isValid());
        TonePlayers players;
        QVERIFY(players.start(TonePlayers::toneProgram(), { "--name", "Background", "--freq", "200" }));

        const SpikeRun run = runSpike({ { QStringLiteral("XDG_DATA_HOME"), data.path() } });
        players.stopAll();
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.verdictLines, 1);
        QVERIFY2(run.verdict.startsWith(QLatin1String("AUDIO SPIKE OK: tapHeard sckHeard callbacks=")),
            qPrintable(run.verdict));
        QVERIFY2(run.verdict.endsWith(QLatin1String(" rate=48000.0 ch=2")), qPrintable(run.verdict));
        const QString path = data.path() + QStringLiteral("/com.quorvel.dovrin/audio-spike-report.json");
        QCOMPARE(run.reportLine, QStringLiteral("report=") + path);

        QByteArray raw;
        const QJsonObject report = readReport(path, &raw);
        QCOMPARE(keysAsWritten(raw), report.keys());
        QVERIFY(report.value("failure").isNull());
        QVERIFY(report.value("sckFailure").isNull());
        QCOMPARE(report.value("startStatus").toInt(-1), 0);
        QCOMPARE(report.value("outputDeviceUID").toString(), QStringLiteral("spk"));
        QCOMPARE(report.value("tapUID").toString(), QStringLiteral("spk.monitor"));
        QCOMPARE(report.value("formatID").toString(), QStringLiteral("float32le"));
        QVERIFY(report.value("heardAudio").toBool());
        QVERIFY(report.value("sckHeard").toBool());
        QVERIFY(run.verdict.contains(QStringLiteral(" callbacks=%1 nonzero=%2 ")
                                         .arg(report.value("callbacks").toInteger())
                                         .arg(report.value("nonzeroBuffers").toInteger())));

        // Six seconds of capture at 48 kHz.
        const double seconds = report.value("frames").toDouble() / 48000;
        QVERIFY2(seconds > 5.5 && seconds < 7, qPrintable(QString::number(seconds)));
        const double ownPeak = report.value("sckPeak").toDouble();
        const double systemPeak = report.value("peak").toDouble();
        QVERIFY2(ownPeak > 0.3 && ownPeak < 0.5, qPrintable(QString::number(ownPeak)));
        QVERIFY2(
            systemPeak > ownPeak + 0.1, qPrintable(QStringLiteral("%1 %2").arg(systemPeak).arg(ownPeak)));
        QVERIFY2(run.milliseconds < 30000, qPrintable(QString::number(run.milliseconds)));
    }

    void withoutASoundServer_data()
    {
        // The data home, the home, the temporary folder, and where the report goes (none: nowhere).
        // "file" is a plain file: no folder can be made below it, whatever the user's rights.
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("data folder") << QStringList { "data", "home", "tmp", "data/com.quorvel.dovrin" };
        QTest::newRow("temporary folder")
            << QStringList { "file/data", "file/home", "tmp", "tmp/com.quorvel.dovrin" };
        QTest::newRow("nowhere") << QStringList { "file/data", "file/home", "file", "" };
    }

    // No server at all: a quick FAIL line, and the report wherever it can go, or a plain word that it
    // went nowhere.
    void withoutASoundServer()
    {
        QFETCH(QStringList, folders);
        const QString dataHome = folders[0], home = folders[1], temporary = folders[2];
        const QString reportFolder = folders[3];
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QFile file(root.filePath(QStringLiteral("file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        const SpikeRun run = runSpike({
            { QStringLiteral("PULSE_SERVER"),
                QStringLiteral("unix:") + root.filePath(QStringLiteral("dead/native")) },
            { QStringLiteral("XDG_DATA_HOME"), root.filePath(dataHome) },
            { QStringLiteral("HOME"), root.filePath(home) },
            { QStringLiteral("TMPDIR"), root.filePath(temporary) },
        });
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.verdictLines, 1);
        QVERIFY2(run.verdict.startsWith(QLatin1String("AUDIO SPIKE FAIL: sound server connection failed: ")),
            qPrintable(run.verdict));
        QVERIFY2(
            run.verdict.contains(QLatin1String(" tapSilent sckSilent tap=-1 (not attempted) callbacks=0 ")),
            qPrintable(run.verdict));
        QVERIFY2(run.milliseconds < 10000, qPrintable(QString::number(run.milliseconds)));

        if (reportFolder.isEmpty()) {
            QVERIFY2(
                run.reportLine.startsWith(QLatin1String("report=not written: ")), qPrintable(run.reportLine));
            QVERIFY(run.reportLine.contains(root.filePath(QStringLiteral("file/com.quorvel.dovrin"))));
            return;
        }
        const QString path = root.filePath(reportFolder) + QStringLiteral("/audio-spike-report.json");
        QCOMPARE(run.reportLine, QStringLiteral("report=") + path);
        QByteArray raw;
        const QJsonObject report = readReport(path, &raw);
        QCOMPARE(keysAsWritten(raw), report.keys());
        QVERIFY(
            report.value("failure").toString().startsWith(QLatin1String("sound server connection failed: ")));
        QVERIFY(!report.value("sckFailure").toString().isEmpty());
        QCOMPARE(report.value("createTapStatus").toInt(), -1);
        QCOMPARE(report.value("sandboxHome").toString(), root.filePath(home));
    }
};

QTEST_GUILESS_MAIN(AudioTapSpikeTest)
#include "tst_AudioTapSpike.moc"
