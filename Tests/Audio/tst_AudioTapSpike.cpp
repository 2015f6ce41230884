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
using AudioTapSpike::SampleStats;

namespace {

const QStringList reportKeys { "aggregateID", "bitsPerChannel", "bundleID", "callbacks", "channels",
    "createAggregateStatus", "createAggregateStatusName", "createIOProcStatus", "createTapStatus",
    "createTapStatusName", "failure", "formatID", "frames", "heardAudio", "inputBuffers", "lastInputBytes",
    "lastOutputBytes", "nonzeroBuffers", "outputBuffers", "outputDeviceID", "outputDeviceUID", "peak",
    "sampleRate", "sandbox", "sandboxHome", "sckCallbacks", "sckFailure", "sckHeard", "sckNonzero", "sckPeak",
    "startStatus", "tapID", "tapUID", "video" };

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
    void verdictLine_data()
    {
        QTest::addColumn<Report>("report");
        QTest::addColumn<QString>("expected");

        Report heard;
        heard.createTapStatus = 0;
        heard.heardAudio = true;
        heard.sckHeard = true;
        heard.callbacks = 600;
        heard.nonzeroBuffers = 240;
        heard.peak = 0.4f;
        heard.sckCallbacks = 598;
        heard.sckPeak = 1e-05f;
        heard.sampleRate = 48000;
        heard.channels = 2;
        QTest::newRow("both heard") << heard
                                    << "AUDIO SPIKE OK: tapHeard sckHeard callbacks=600 nonzero=240 peak=0.4 "
                                       "sckCallbacks=598 sckPeak=1e-05 rate=48000.0 ch=2";

        Report tapSilent = heard;
        tapSilent.heardAudio = false;
        tapSilent.peak = 0;
        tapSilent.failure = QStringLiteral("callbacks fired but every buffer was digital silence");
        QTest::newRow("tap silent")
            << tapSilent
            << "AUDIO SPIKE FAIL: callbacks fired but every buffer was digital silence "
               "tapSilent sckHeard tap=OK callbacks=600 peak=0.0 sckCallbacks=598 "
               "sckPeak=1e-05";

        Report streamOnly = heard;
        streamOnly.sckHeard = false;
        streamOnly.sckFailure = QStringLiteral("audio buffers were digital silence");
        QTest::newRow("stream probe fails")
            << streamOnly
            << "AUDIO SPIKE FAIL: audio buffers were digital silence tapHeard sckSilent tap=OK callbacks=600 "
               "peak=0.4 sckCallbacks=598 sckPeak=1e-05";

        Report nothing;
        nothing.failure = QStringLiteral("sound server connection failed: 6 (Connection refused)");
        nothing.sckFailure = QStringLiteral("System audio tap could not be created (6)");
        QTest::newRow("both fail")
            << nothing
            << "AUDIO SPIKE FAIL: sound server connection failed: 6 (Connection refused); "
               "System audio tap could not be created (6) tapSilent sckSilent "
               "tap=-1 (not attempted) callbacks=0 peak=0.0 sckCallbacks=0 sckPeak=0.0";

        Report refused = nothing;
        refused.failure = std::nullopt;
        refused.createTapStatus = 6;
        refused.heardAudio = true; // heard or not, a failure text decides
        QTest::newRow("failed tap status")
            << refused
            << "AUDIO SPIKE FAIL: System audio tap could not be created (6) tapHeard sckSilent "
               "tap=6 (Connection refused) callbacks=0 peak=0.0 sckCallbacks=0 sckPeak=0.0";
    }

    void verdictLine()
    {
        QFETCH(Report, report);
        QFETCH(QString, expected);
        QCOMPARE(report.rendered(), expected);
    }

    void statusNames_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("success") << 0 << "OK";
        QTest::newRow("not attempted") << -1 << "-1 (not attempted)";
        QTest::newRow("refused") << 6 << "6 (Connection refused)";
        QTest::newRow("no entity") << 5 << "5 (No such entity)";
        QTest::newRow("unknown code") << 9999 << "9999";
        QTest::newRow("negative") << -7 << "-7";
    }

    void statusNames()
    {
        QFETCH(int, status);
        QFETCH(QString, expected);
        QCOMPARE(AudioTapSpike::statusName(status), expected);
    }

    void reportFileHasEveryKeySorted()
    {
        Report report;
        report.peak = 0.3f;
        report.sampleRate = 44100;
        report.frames = 288000;
        const QByteArray raw = report.fileContents();
        QCOMPARE(keysAsWritten(raw), reportKeys);
        const QJsonObject json = QJsonDocument::fromJson(raw).object();
        QCOMPARE(json.keys(), reportKeys);
        for (const char *key : { "bundleID", "tapUID", "outputDeviceUID", "failure", "sckFailure" })
            QVERIFY2(json.value(QLatin1String(key)).isNull(), key);
        for (const char *key :
            { "createTapStatus", "createAggregateStatus", "createIOProcStatus", "startStatus" })
            QCOMPARE(json.value(QLatin1String(key)).toInt(), -1);
        QCOMPARE(json.value("createTapStatusName").toString(), QStringLiteral("-1 (not attempted)"));
        QCOMPARE(json.value("video").toBool(true), false);
        QCOMPARE(json.value("frames").toInteger(), qint64(288000));
        QVERIFY(raw.contains("\"peak\": 0.3,")); // as the float prints, not its double expansion
    }

    // JSON cannot hold an infinite number: the file holds the verdict line instead.
    void reportWithoutJsonIsTheVerdict()
    {
        Report report;
        report.heardAudio = true;
        report.peak = std::numeric_limits<float>::infinity();
        report.failure = QStringLiteral("x");
        QVERIFY(!report.json());
        QCOMPARE(report.fileContents(), report.rendered().toUtf8());
        QVERIFY(report.rendered().contains(QLatin1String(" peak=inf ")));
    }

    void sampleStats_data()
    {
        QTest::addColumn<int>("sampleType");
        QTest::addColumn<bool>("output");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("callbacks");
        QTest::addColumn<int>("nonzero");
        QTest::addColumn<int>("frames");
        QTest::addColumn<float>("peak");

        const auto floats = [](std::initializer_list<float> samples) {
            return QByteArray(
                reinterpret_cast<const char *>(std::data(samples)), qsizetype(samples.size() * 4));
        };
        const int f32 = int(AudioStreamFormat::SampleType::float32);
        const int s16 = int(AudioStreamFormat::SampleType::int16);
        QTest::newRow("stereo float")
            << f32 << false << floats({ 0.5f, -0.75f, 0.f, 0.25f }) << 1 << 1 << 2 << 0.75f;
        QTest::newRow("below the silence floor")
            << f32 << false << floats({ 1e-8f, -5e-8f, 0.f, 0.f }) << 1 << 0 << 2 << 5e-8f;
        QTest::newRow("nan is not a peak")
            << f32 << false << floats({ std::nanf(""), 0.125f }) << 1 << 1 << 1 << 0.125f;
        QTest::newRow("integer samples")
            << s16 << false << QByteArray("\0\0\0\0\0\1\0\0", 8) << 1 << 1 << 2 << 0.0f;
        QTest::newRow("integer silence") << s16 << false << QByteArray(8, '\0') << 1 << 0 << 2 << 0.0f;
        QTest::newRow("output side") << f32 << true << floats({ 0.5f, 0.5f }) << 0 << 1 << 0 << 0.5f;
    }

    void sampleStats()
    {
        QFETCH(int, sampleType);
        QFETCH(bool, output);
        QFETCH(QByteArray, bytes);
        QFETCH(int, callbacks);
        QFETCH(int, nonzero);
        QFETCH(int, frames);
        QFETCH(float, peak);

        const AudioStreamFormat format { 48000, 2, AudioStreamFormat::SampleType(sampleType), true };
        const void *planes[] = { bytes.constData() };
        const AudioPCMBuffer buffer(format, planes, bytes.size() / format.bytesPerFrameInPlane());
        SampleStats stats;
        stats.ingest(nullptr, SampleStats::Role::input);
        stats.ingest(&buffer, output ? SampleStats::Role::output : SampleStats::Role::input);
        const SampleStats::Counts counts = stats.counts();
        QCOMPARE(counts.callbacks, qint64(callbacks));
        QCOMPARE(counts.nonzeroBuffers, qint64(nonzero));
        QCOMPARE(counts.frames, quint64(frames));
        QCOMPARE(counts.peak, peak);
        QCOMPARE(output ? counts.lastOutputBytes : counts.lastInputBytes, qint64(bytes.size()));
        QCOMPARE(output ? counts.lastInputBytes : counts.lastOutputBytes, qint64(0));
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
        QCOMPARE(keysAsWritten(raw), reportKeys);
        QVERIFY(report.value("failure").isNull());
        QVERIFY(report.value("sckFailure").isNull());
        for (const char *key :
            { "createTapStatus", "createAggregateStatus", "createIOProcStatus", "startStatus" })
            QCOMPARE(report.value(QLatin1String(key)).toInt(-1), 0);
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
        QTest::addColumn<QString>("dataHome");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("temporary");
        QTest::addColumn<QString>("reportFolder");

        // "file" is a plain file: no folder can be made below it, whatever the user's rights.
        QTest::newRow("data folder") << "data"
                                     << "home"
                                     << "tmp"
                                     << "data/com.quorvel.dovrin";
        QTest::newRow("temporary folder") << "file/data"
                                          << "file/home"
                                          << "tmp"
                                          << "tmp/com.quorvel.dovrin";
        QTest::newRow("nowhere") << "file/data"
                                 << "file/home"
                                 << "file" << QString();
    }

    // No server at all: a quick FAIL line, and the report wherever it can go, or a plain word that it
    // went nowhere.
    void withoutASoundServer()
    {
        QFETCH(QString, dataHome);
        QFETCH(QString, home);
        QFETCH(QString, temporary);
        QFETCH(QString, reportFolder);
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
        QCOMPARE(keysAsWritten(raw), reportKeys);
        QVERIFY(
            report.value("failure").toString().startsWith(QLatin1String("sound server connection failed: ")));
        QVERIFY(!report.value("sckFailure").toString().isEmpty());
        QCOMPARE(report.value("createTapStatus").toInt(), -1);
        QCOMPARE(report.value("sandboxHome").toString(), root.filePath(home));
    }
};

QTEST_GUILESS_MAIN(AudioTapSpikeTest)
#include "tst_AudioTapSpike.moc"
