// The audio self-test: the real executable run against the private sound server, against none, and with
// nowhere to keep its report.
#include "Audio/AudioTapSpike.h"
#include "TestSupport.h"
#include "TonePlayers.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

struct SpikeRun
{
    bool exitedCleanly = false;
    qint64 milliseconds = 0;
    QStringList verdicts; // the "AUDIO SPIKE" lines
    QString reportLine; // the line after the verdict
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
    run.exitedCleanly = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QStringList lines = QString::fromUtf8(process.readAllStandardError()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(QLatin1String("AUDIO SPIKE "))) {
            run.verdicts << lines.at(i);
            run.reportLine = lines.value(i + 1);
        }
    }
    return run;
}

// The report, after checking that the file lists every key in sorted order.
QJsonObject readReport(const QString &path)
{
    const QByteArray raw = TestSupport::readFile(path);
    const QJsonObject report = QJsonDocument::fromJson(raw).object();
    QStringList keys;
    static const QRegularExpression key(
        QStringLiteral("^    \"(\\w+)\":"), QRegularExpression::MultilineOption);
    for (auto it = key.globalMatch(QString::fromUtf8(raw)); it.hasNext();)
        keys << it.next().captured(1);
    return !keys.isEmpty() && keys == report.keys() ? report : QJsonObject(); // QJsonObject keeps keys sorted
}

} // namespace

class AudioTapSpikeTest : public QObject
{
    Q_OBJECT

private slots:
    // JSON cannot hold an infinite number: then the file holds the verdict line.
    void reportWithoutJsonIsTheVerdict()
    {
        AudioTapSpike::Report report;
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
        TonePlayers players;
        QVERIFY(players.start(TonePlayers::toneProgram(), { "--name", "Background", "--freq", "200" }));

        const SpikeRun run = runSpike({ { QStringLiteral("XDG_DATA_HOME"), data.path() } });
        players.stopAll();
        QVERIFY(run.exitedCleanly && run.milliseconds < 30000);
        QCOMPARE(run.verdicts.size(), 1);
        const QString verdict = run.verdicts.constFirst();
        QVERIFY2(verdict.startsWith(QLatin1String("AUDIO SPIKE OK: tapHeard sckHeard callbacks="))
                && verdict.endsWith(QLatin1String(" rate=48000.0 ch=2")),
            qPrintable(verdict));
        const QString path = data.path() + QStringLiteral("/com.quorvel.dovrin/audio-spike-report.json");
        QCOMPARE(run.reportLine, QStringLiteral("report=") + path);

        const QJsonObject report = readReport(path);
        QVERIFY(report.value("failure").isNull() && report.value("sckFailure").isNull());
        QCOMPARE(report.value("startStatus").toInt(-1), 0);
        QCOMPARE(report.value("tapUID").toString(), QStringLiteral("spk.monitor"));
        QCOMPARE(report.value("formatID").toString(), QStringLiteral("float32le"));
        QVERIFY(verdict.contains(QStringLiteral(" callbacks=%1 nonzero=%2 ")
                                     .arg(report.value("callbacks").toInteger())
                                     .arg(report.value("nonzeroBuffers").toInteger())));
        // Six seconds of capture at 48 kHz; the system louder than the program's own sound alone.
        const double seconds = report.value("frames").toDouble() / 48000;
        const double ownPeak = report.value("sckPeak").toDouble();
        QVERIFY2(seconds > 5.5 && seconds < 7 && ownPeak > 0.3 && ownPeak < 0.5
                && report.value("peak").toDouble() > ownPeak + 0.1,
            qPrintable(QJsonDocument(report).toJson()));
    }

    // No server at all: a quick FAIL line, and the report in the data folder, else the temporary one,
    // else a plain word that it went nowhere. "file" is a plain file: no folder can be made below it.
    void withoutASoundServer_data()
    {
        QTest::addColumn<QStringList>("homeDataTemporaryReport");
        QTest::newRow("data folder") << QStringList { "home", "data", "tmp", "data/com.quorvel.dovrin" };
        QTest::newRow("temporary folder")
            << QStringList { "file/home", "file/data", "tmp", "tmp/com.quorvel.dovrin" };
        QTest::newRow("nowhere") << QStringList { "file/home", "file/data", "file", "" };
    }
    void withoutASoundServer()
    {
        QFETCH(QStringList, homeDataTemporaryReport);
        QTemporaryDir root;
        QVERIFY(TestSupport::writeFile(root.filePath(QStringLiteral("file")), {}));
        const auto at = [&](int i) { return root.filePath(homeDataTemporaryReport[i]); };
        const SpikeRun run
            = runSpike({ { "PULSE_SERVER", "unix:" + root.filePath(QStringLiteral("dead/native")) },
                { "HOME", at(0) }, { "XDG_DATA_HOME", at(1) }, { "TMPDIR", at(2) } });
        QVERIFY(run.exitedCleanly && run.milliseconds < 10000);
        QCOMPARE(run.verdicts.size(), 1);
        QVERIFY2(
            run.verdicts[0].startsWith(QLatin1String("AUDIO SPIKE FAIL: sound server connection failed: "))
                && run.verdicts[0].contains(
                    QLatin1String(" tapSilent sckSilent tap=-1 (not attempted) callbacks=0 ")),
            qPrintable(run.verdicts[0]));

        if (homeDataTemporaryReport[3].isEmpty()) {
            QVERIFY2(run.reportLine.startsWith(QLatin1String("report=not written: "))
                    && run.reportLine.contains(root.filePath(QStringLiteral("file/com.quorvel.dovrin"))),
                qPrintable(run.reportLine));
            return;
        }
        const QString path = at(3) + QStringLiteral("/audio-spike-report.json");
        QCOMPARE(run.reportLine, QStringLiteral("report=") + path);
        const QJsonObject report = readReport(path);
        QVERIFY(
            report.value("failure").toString().startsWith(QLatin1String("sound server connection failed: ")));
        QVERIFY(!report.value("sckFailure").toString().isEmpty());
        QCOMPARE(report.value("createTapStatus").toInt(), -1);
        QCOMPARE(report.value("sandboxHome").toString(), at(0));
    }
};

QTEST_GUILESS_MAIN(AudioTapSpikeTest)
#include "tst_AudioTapSpike.moc"
