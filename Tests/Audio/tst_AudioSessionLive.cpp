// A whole audio session through the live sound-server layer: the coordinator records a real
// application and the virtual microphone into two files.
#include "Audio/AudioSessionCoordinator.h"
#include "Audio/LiveAudioCapture.h"
#include "AudioFileProbe.h"
#include "MainThreadStallProbe.h"
#include "Pactl.h"
#include "TestSupport.h"
#include "TonePlayers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <QScopeGuard>
#include <QTimer>

#include <csignal>
#include <utility>

namespace {

// The file's first channel and its rate.
std::pair<std::vector<float>, double> decode(const QUrl &file)
{
    const auto info = AudioFileProbe::probe(file.toLocalFile());
    const QVector<float> samples = AudioFileProbe::decodeChannel(file.toLocalFile());
    return { std::vector<float>(samples.cbegin(), samples.cend()), info ? double(info->sampleRate) : 0.0 };
}

bool finish(const Task<> &task)
{
    const bool finished = QTest::qWaitFor([&] { return task.isFinished(); }, 15000);
    QCoreApplication::processEvents();
    return finished;
}

} // namespace

class AudioSessionLiveTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the private sound server that scripts/test.sh starts");
        QVERIFY(m_root.isValid());
        m_data = m_root.path() + QStringLiteral("/share");
        qputenv("XDG_DATA_DIRS", m_data.toUtf8());
        m_toneA = installToneApplication(m_root.path(), m_data, "tone-a", "Tone A");
        QVERIFY(m_keepers.keepSinksAwake());
    }

    void cleanupTestCase() { m_keepers.stopAll(); }
    void cleanup() { m_players.stopAll(); }

    // One application and the microphone into two files: the application's tone and not another
    // one's, the spoken words on You; the application's child going leaves no warning, the
    // application going does.
    void recordsAnApplicationAndTheMicrophone()
    {
        QProcess *app = m_players.start(m_toneA,
            { "--name", "Tone A", "--freq", "440", "--child", TonePlayers::toneProgram(), "--name", "Worker",
                "--freq", "660" });
        QVERIFY(app);
        QVERIFY(m_players.start(TonePlayers::toneProgram(), { "--name", "Bystander", "--freq", "1000" }));
        QVERIFY(m_players.start(
            TonePlayers::toneProgram(), { "--name", "Voice", "--freq", "300", "--device", "micsrc" }));
        // Players start slowly on a busy machine: every tone is playing before the session starts.
        QTRY_VERIFY(Pactl::playbackCount() >= 4);

        QTemporaryDir folder;
        AudioSessionCoordinator coordinator; // the live sound-server layer by default
        Task<> start
            = coordinator.start(ResolvedFolder { QUrl::fromLocalFile(folder.path()), false, std::nullopt },
                std::nullopt, true, QStringLiteral("tone-a"), std::nullopt);
        QVERIFY(finish(start));
        start.result();
        QCOMPARE(coordinator.phase(), AudioSessionPhase::recording);

        QTest::qWait(1500);
        QCOMPARE(::kill(pid_t(TonePlayers::childPid(app)), SIGKILL), 0);
        QTest::qWait(500);
        QVERIFY(!coordinator.warning());
        app->kill();
        QTRY_COMPARE(coordinator.warning().value_or(QString()),
            QStringLiteral("Tone A closed. Others may go silent."));
        QTest::qWait(500);
        const Task<AudioSessionResult> stop = coordinator.stop();
        QTRY_VERIFY(stop.isFinished());
        const AudioSessionResult result = stop.result();

        QVERIFY(result.othersURL && result.youURL);
        QVERIFY(result.heardOthers);
        QVERIFY(result.heardYou);
        const auto [others, othersRate] = decode(*result.othersURL);
        const auto [you, youRate] = decode(*result.youURL);
        QVERIFY(othersRate > 0 && youRate > 0);
        const double seconds = double(others.size()) / othersRate;
        QVERIFY2(std::abs(seconds - 2.5) < 0.5, qPrintable(QString::number(seconds)));
        const double bystander = std::max(ToneAnalysis::energyAt(others, othersRate, 1000), 1e-30);
        QVERIFY(ToneAnalysis::energyAt(others, othersRate, 440) > 1000 * bystander);
        QVERIFY(ToneAnalysis::energyAt(others, othersRate, 660) > 1000 * bystander);
        const double spoken = ToneAnalysis::energyAt(you, youRate, 300);
        QVERIFY(spoken > 1000 * std::max(ToneAnalysis::energyAt(you, youRate, 440), 1e-30));
    }

    // No sound server answers: the session fails at once with the System Audio start failure.
    void unreachableServerFailsTheStart()
    {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        const auto restore = qScopeGuard([&] { qputenv("PULSE_SERVER", saved); });
        qputenv("PULSE_SERVER", "unix:/nonexistent/quorvel/native");
        QTemporaryDir folder;
        AudioSessionCoordinator coordinator;
        QElapsedTimer clock;
        clock.start();
        Task<> start
            = coordinator.start(ResolvedFolder { QUrl::fromLocalFile(folder.path()), false, std::nullopt },
                std::nullopt, true, std::nullopt, std::nullopt);
        QVERIFY(finish(start));
        QVERIFY(clock.elapsed() < 2000);
        try {
            start.result();
            QFAIL("started without a sound server");
        } catch (const AudioSessionStartError &error) {
            QCOMPARE(error.kind(), AudioSessionStartError::systemAudioStartFailed);
        }
        QCOMPARE(coordinator.phase(), AudioSessionPhase::failed);
        QVERIFY(QDir(folder.path()).isEmpty());
    }

    // A sound server that stops answering for a second while a session starts keeps the start waiting,
    // never the main thread; nor does the stop. Looking the application up once stalled the main thread
    // for as long as the server.
    void mainThreadAnswersWhileASessionStartsAndStops()
    {
        // A server of this test's own, so holding it disturbs no other test.
        QTemporaryDir runtime;
        QProcess server;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        server.setProcessEnvironment(environment);
        const QString socket = runtime.filePath(QStringLiteral("native"));
        server.start(QStringLiteral("pulseaudio"),
            { "--daemonize=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no", "--system=no",
                "--load=module-native-protocol-unix socket=" + socket,
                "--load=module-null-sink sink_name=spk", "--load=module-null-sink sink_name=micsrc",
                "--load=module-remap-source master=micsrc.monitor source_name=mic" });
        const auto stopServer = qScopeGuard([&] {
            ::kill(pid_t(server.processId()), SIGCONT);
            server.kill();
            server.waitForFinished();
        });
        const QByteArray saved = qgetenv("PULSE_SERVER");
        const auto restore = qScopeGuard([&] { qputenv("PULSE_SERVER", saved); });
        qputenv("PULSE_SERVER", "unix:" + socket.toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(Pactl::run({ "info" }), 10000);
        QVERIFY(m_players.start(m_toneA, { "--name", "Tone A", "--freq", "440" }));

        QTemporaryDir folder;
        AudioSessionCoordinator coordinator;
        MainThreadStallProbe probe;
        QCOMPARE(::kill(pid_t(server.processId()), SIGSTOP), 0);
        QTimer::singleShot(1000, [&] { ::kill(pid_t(server.processId()), SIGCONT); });
        probe.start();
        Task<> start
            = coordinator.start(ResolvedFolder { QUrl::fromLocalFile(folder.path()), false, std::nullopt },
                std::nullopt, true, QStringLiteral("tone-a"), std::nullopt);
        QVERIFY(finish(start));
        const qint64 startStall = probe.longestStallMs();
        start.result();
        QCOMPARE(coordinator.phase(), AudioSessionPhase::recording);
        QTest::qWait(500);

        probe.start();
        const Task<AudioSessionResult> stop = coordinator.stop();
        QTRY_VERIFY(stop.isFinished());
        const qint64 stopStall = probe.longestStallMs();
        QVERIFY(stop.result().othersURL && stop.result().youURL);
        qInfo("longest main-thread stall: %lld ms starting, %lld ms stopping", startStall, stopStall);
        QVERIFY2(startStall <= 50 && stopStall <= 50,
            qPrintable(QStringLiteral("%1 ms, %2 ms").arg(startStall).arg(stopStall)));
    }

private:
    QTemporaryDir m_root;
    QString m_data;
    QString m_toneA;
    TonePlayers m_players;
    TonePlayers m_keepers;
};

QTEST_GUILESS_MAIN(AudioSessionLiveTest)
#include "tst_AudioSessionLive.moc"
