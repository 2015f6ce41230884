// Others and You against the private sound server: real players under their own identities.
#include "Audio/AudioCaptureApps.h"
#include "Platform/MicrophoneCapture.h"
#include "Platform/ProcessTapEngine.h"
#include "Pactl.h"
#include "Platform/SoundServer.h"
#include "TestSupport.h"
#include "TonePlayers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <mutex>

using ToneAnalysis::energyAt;

namespace {

// Keeps what an engine delivers.
class Recording
{
public:
    AudioCaptureEngine::BufferCallback callback()
    {
        return [this](const AudioPCMBuffer &buffer) {
            std::lock_guard guard(m_lock);
            m_format = buffer.format();
            const auto *samples = reinterpret_cast<const float *>(buffer.plane(0));
            m_samples.insert(
                m_samples.end(), samples, samples + buffer.frameCount() * buffer.format().channelCount);
            m_frames += buffer.frameCount();
            ++m_buffers;
        };
    }
    std::vector<float> mono() const
    {
        std::lock_guard guard(m_lock);
        return ToneAnalysis::downmix(m_samples, std::max(1, m_format.channelCount));
    }
    qint64 frames() const
    {
        std::lock_guard guard(m_lock);
        return m_frames;
    }
    qint64 buffers() const
    {
        std::lock_guard guard(m_lock);
        return m_buffers;
    }
    double sampleRate() const
    {
        std::lock_guard guard(m_lock);
        return m_format.sampleRate;
    }

private:
    mutable std::mutex m_lock;
    std::vector<float> m_samples;
    AudioStreamFormat m_format;
    qint64 m_frames = 0;
    qint64 m_buffers = 0;
};

double ratio(double wanted, double unwanted)
{
    return wanted / std::max(unwanted, 1e-30);
}

} // namespace

class ProcessTapEngineTest : public QObject
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
        m_toneA = installToneApplication(
            m_root.path(), m_data, QStringLiteral("tone-a"), QStringLiteral("Tone A"));
        m_toneB = installToneApplication(
            m_root.path(), m_data, QStringLiteral("tone-b"), QStringLiteral("Tone B"));
        QVERIFY(m_keepers.keepSinksAwake());
    }

    void cleanupTestCase() { m_keepers.stopAll(); }

    void cleanup() { m_players.stopAll(); }

    // The chosen application's tones, including its child process and a stream that starts while
    // recording, and not another application's.
    void recordsOnlyTheChosenFamily()
    {
        QProcess *a = m_players.start(m_toneA,
            { "--name", "Tone A", "--freq", "440", "--child", TonePlayers::toneProgram(), "--name",
                "Renderer", "--freq", "660" });
        QVERIFY(a);
        QProcess *b = m_players.start(m_toneB, { "--name", "Tone B", "--freq", "1000" });
        QVERIFY(b);
        const qint64 child = TonePlayers::childPid(a);
        QVERIFY(child > 0);
        QTRY_VERIFY(Pactl::playbackCount() >= 3);

        const auto request = AudioCaptureApps::tapRequest(QStringLiteral("tone-a"), std::nullopt);
        QVERIFY(request);
        QVERIFY(request->processIDs.contains(a->processId()));
        QVERIFY(request->processIDs.contains(child));
        QVERIFY(!request->processIDs.contains(b->processId()));
        QCOMPARE(request->displayName, QStringLiteral("Tone A"));

        ProcessTapEngine engine;
        Recording recording;
        QCOMPARE(engine.prepare(request), ProcessTapEngine::captureFormat());
        engine.activate(recording.callback());
        QTRY_COMPARE(engine.liveStreamCount(), 2);
        QVERIFY(m_players.start(m_toneA, { "--name", "Tone A", "--freq", "880" }));
        QTRY_COMPARE(engine.liveStreamCount(), 3);
        QTest::qWait(1500);
        engine.stop();

        const std::vector<float> mono = recording.mono();
        const double other = energyAt(mono, 48000, 1000);
        for (double frequency : { 440.0, 660.0, 880.0 }) {
            const double own = energyAt(mono, 48000, frequency);
            QVERIFY2(ratio(own, other) > 1000,
                qPrintable(QStringLiteral("%1 Hz: %2 against %3").arg(frequency).arg(own).arg(other)));
        }
    }

    // A five-second capture of an application that plays for one second of it: five seconds of
    // Others, the sound where it was played, silence after its stream ended, and no error.
    void silenceFillsTheGaps()
    {
        QVERIFY(m_players.start(
            m_toneA, { "--name", "Tone A", "--freq", "440", "--silence", "1", "--seconds", "1" }));
        const auto request = AudioCaptureApps::tapRequest(QStringLiteral("tone-a"), std::nullopt);
        QVERIFY(request);
        ProcessTapEngine engine;
        Recording recording;
        engine.prepare(request);
        QElapsedTimer clock;
        clock.start();
        engine.activate(recording.callback());
        QTest::qWait(5000);
        const qint64 elapsedMs = clock.elapsed();
        engine.stop();
        const qint64 framesAfterStop = recording.frames();
        QTest::qWait(100);
        QCOMPARE(recording.frames(), framesAfterStop); // nothing after stop()

        const double seconds = double(recording.frames()) / 48000;
        QVERIFY2(std::abs(seconds - double(elapsedMs) / 1000) < 0.1, qPrintable(QString::number(seconds)));
        // The player may start late on a loaded machine: the tone is looked for where it landed.
        const std::vector<float> mono = recording.mono();
        const auto onset
            = std::find_if(mono.begin(), mono.end(), [](float v) { return std::abs(v) > 0.05f; });
        QVERIFY(onset != mono.end());
        const qsizetype start = onset - mono.begin();
        QVERIFY2(start >= 48000 * 0.8 && start + 48000 * 2 < qsizetype(mono.size()),
            qPrintable(QString::number(start)));
        QVERIFY(ToneAnalysis::rms(mono, 0, start - 48) < 1e-4); // the sine rises over its first samples
        QVERIFY(ToneAnalysis::rms(mono, start + 48000 * 0.2, start + 48000 * 0.8) > 0.1);
        QVERIFY(ToneAnalysis::rms(mono, start + 48000 * 1.3, qsizetype(mono.size())) < 1e-4);
    }

    // The user moves the recorded stream to another output: it is followed there, and left there.
    void followsAStreamTheUserMoves()
    {
        // A name of its own: a session manager may remember the move for later streams of that name.
        QProcess *a = m_players.start(m_toneA, { "--name", "Tone A Moved", "--freq", "440" });
        QVERIFY(a);
        ProcessTapEngine engine;
        Recording recording;
        engine.prepare(AudioCaptureApps::tapRequest(QStringLiteral("tone-a"), std::nullopt));
        engine.activate(recording.callback());
        QTRY_COMPARE(engine.liveStreamCount(), 1);
        const QString playback = playbackOf(a->processId());
        QVERIFY(!playback.isEmpty());
        QVERIFY(Pactl::run({ "move-sink-input", playback, "micsrc" }));
        QTest::qWait(300);
        const qint64 movedAt = recording.frames();
        QTRY_COMPARE(engine.liveStreamCount(), 1);
        QTest::qWait(700);
        engine.stop();
        std::vector<float> after = recording.mono();
        after.erase(after.begin(), after.begin() + std::ptrdiff_t(movedAt));
        QVERIFY(energyAt(after, 48000, 440) > 1e-3);
        QString sinks;
        QVERIFY(Pactl::run({ "list", "short", "sink-inputs" }, &sinks));
        QString outputs;
        QVERIFY(Pactl::run({ "list", "short", "sinks" }, &outputs));
        const QString micsrc
            = outputs.section(QStringLiteral("\tmicsrc\t"), 0, 0).section(QLatin1Char('\n'), -1);
        QVERIFY(sinks.contains(
            playback + QLatin1Char('\t') + micsrc + QLatin1Char('\t'))); // where the user put it
    }

    // Everything that plays, also after the default output changed.
    void wholeSystemFollowsTheDefaultOutput()
    {
        QVERIFY(m_players.start(m_toneA, { "--name", "Tone A", "--freq", "440" }));
        QVERIFY(m_players.start(m_toneB, { "--name", "Tone B", "--freq", "1000" }));
        ProcessTapEngine engine;
        Recording before;
        engine.prepare(std::nullopt);
        engine.activate(before.callback());
        QTest::qWait(800);
        const double a = energyAt(before.mono(), 48000, 440);
        const double b = energyAt(before.mono(), 48000, 1000);
        QVERIFY2(a > 1e-3 && b > 1e-3, qPrintable(QStringLiteral("%1 %2").arg(a).arg(b)));

        QString module;
        QVERIFY(Pactl::run({ "load-module", "module-null-sink", "sink_name=spk2" }, &module));
        const auto restore = qScopeGuard([&] {
            Pactl::run({ "set-default-sink", "spk" });
            Pactl::run({ "unload-module", module });
        });
        QVERIFY(Pactl::run({ "set-default-sink", "spk2" }));
        QTest::qWait(300);
        const qint64 switchedAt = before.frames();
        // One player on the new default output, one left on the old one: only the first is heard.
        QVERIFY(m_players.start(
            TonePlayers::toneProgram(), { "--name", "New", "--freq", "1500", "--device", "spk2" }));
        QVERIFY(m_players.start(
            TonePlayers::toneProgram(), { "--name", "Old", "--freq", "2000", "--device", "spk" }));
        const auto afterSwitch = [&] {
            std::vector<float> late = before.mono();
            late.erase(late.begin(), late.begin() + std::ptrdiff_t(switchedAt));
            return late;
        };
        QTRY_VERIFY_WITH_TIMEOUT(energyAt(afterSwitch(), 48000, 1500) > 1e-3, 4000);
        QTest::qWait(500);
        engine.stop();
        const std::vector<float> late = afterSwitch();
        QVERIFY(ratio(energyAt(late, 48000, 1500), energyAt(late, 48000, 2000)) > 1000);
    }

    void unreachableServerFailsQuickly_data()
    {
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<bool>("socketFile");
        QTest::newRow("address that answers nothing")
            << QByteArray("unix:/nonexistent/quorvel/native") << false;
        QTest::newRow("no address, a dead socket") << QByteArray() << true;
    }

    // No server: a quick failure with the server's code, and no daemon started in its place.
    void unreachableServerFailsQuickly()
    {
        QFETCH(QByteArray, server);
        QFETCH(bool, socketFile);
        QTemporaryDir runtime;
        const QByteArray savedServer = qgetenv("PULSE_SERVER");
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] {
            qputenv("PULSE_SERVER", savedServer);
            qputenv("XDG_RUNTIME_DIR", savedRuntime);
        });
        if (server.isEmpty())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", server);
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        if (socketFile) {
            QDir(runtime.path()).mkpath(QStringLiteral("pulse"));
            QFile dead(runtime.path() + QStringLiteral("/pulse/native"));
            QVERIFY(dead.open(QIODevice::WriteOnly));
        }
        QVERIFY(SoundServer::isConfigured());

        QElapsedTimer clock;
        clock.start();
        ProcessTapEngine engine;
        try {
            engine.prepare(std::nullopt);
            QFAIL("prepared without a server");
        } catch (const AudioCaptureError &error) {
            QVERIFY2(QRegularExpression(QStringLiteral("^System audio tap could not be created \\(\\d+\\)$"))
                         .match(error.description())
                         .hasMatch(),
                qPrintable(error.description()));
        }
        MicrophoneCapture microphone;
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, microphone.prepare(std::nullopt));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(200);
        QVERIFY(!QFile::exists(runtime.path() + QStringLiteral("/pulse/pid")));
    }

    // Out-of-order calls: no setup twice, nothing after stop, and stop at any time.
    void engineLifecycle()
    {
        ProcessTapEngine engine;
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, engine.activate([](const AudioPCMBuffer &) {}));
        engine.prepare(std::nullopt);
        QCOMPARE(engine.prepare(std::nullopt), ProcessTapEngine::captureFormat()); // prepared once
        std::atomic<int> calls { 0 };
        engine.activate([&](const AudioPCMBuffer &) { ++calls; });
        engine.activate([](const AudioPCMBuffer &) { QFAIL("a second callback was installed"); });
        QTRY_VERIFY(calls > 3);
        engine.stop();
        const int stoppedAt = calls;
        engine.stop();
        QTest::qWait(50);
        QCOMPARE(calls.load(), stoppedAt);
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, engine.activate([](const AudioPCMBuffer &) {}));
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, engine.prepare(std::nullopt));

        MicrophoneCapture microphone;
        microphone.stop(); // before anything: nothing to do, and the capture is done
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, microphone.start([](const AudioPCMBuffer &) {}));
    }

    // The microphone records what is spoken into it: the speech's loudness follows the original.
    void microphoneRecordsSpeech()
    {
        const QString speech = m_root.path() + QStringLiteral("/speech.wav");
        QProcess flite;
        flite.start(QStringLiteral("flite"),
            { "-voice", "kal16", "-t", "hello world this is a test of the microphone", "-o", speech });
        QVERIFY(flite.waitForFinished(20000) && flite.exitCode() == 0);

        MicrophoneCapture microphone;
        Recording recording;
        const AudioStreamFormat format = microphone.prepare(std::nullopt);
        QVERIFY(format.isValid());
        QCOMPARE(microphone.sourceName(), QStringLiteral("mic"));
        microphone.start(recording.callback());
        QTest::qWait(300);
        QProcess player;
        player.start(QStringLiteral("paplay"), { "-d", "micsrc", speech });
        QVERIFY(player.waitForFinished(20000) && player.exitCode() == 0);
        QTest::qWait(300);
        microphone.stop();

        const std::vector<float> heard = recording.mono();
        const std::vector<float> spoken = readWave(speech);
        QVERIFY(!spoken.empty());
        const double rate = recording.sampleRate();
        QVERIFY(ToneAnalysis::rms(heard) > 0.01);
        QVERIFY2(envelopeCorrelation(heard, rate, spoken, 16000) > 0.8,
            "the recording does not follow the speech");
    }

    void microphoneRefusesWhatIsNoMicrophone_data()
    {
        QTest::addColumn<QString>("uid");
        QTest::newRow("monitor of an output") << QStringLiteral("spk.monitor");
        QTest::newRow("unknown source") << QStringLiteral("no-such-source");
    }

    void microphoneRefusesWhatIsNoMicrophone()
    {
        QFETCH(QString, uid);
        MicrophoneCapture microphone;
        try {
            microphone.prepare(uid);
            QFAIL("prepared");
        } catch (const AudioCaptureError &error) {
            QCOMPARE(error.description(), QStringLiteral("The microphone could not start"));
        }
    }

    // A chosen microphone that goes away ends the recording; nothing else is recorded in its place.
    void chosenMicrophoneEndsWhenRemoved()
    {
        QString module;
        QVERIFY(Pactl::run(
            { "load-module", "module-remap-source", "master=micsrc.monitor", "source_name=mic2" }, &module));
        auto unload = qScopeGuard([&] { Pactl::run({ "unload-module", module }); });
        // One player feeds the microphone's source, the other keeps playing on the speakers.
        QVERIFY(m_players.start(
            TonePlayers::toneProgram(), { "--name", "Feed", "--freq", "500", "--device", "micsrc" }));
        QVERIFY(m_players.start(TonePlayers::toneProgram(), { "--name", "Speaker", "--freq", "700" }));

        MicrophoneCapture microphone;
        Recording recording;
        microphone.prepare(QStringLiteral("mic2"));
        microphone.start(recording.callback());
        QTRY_VERIFY(recording.frames() > 24000);
        QVERIFY(energyAt(recording.mono(), recording.sampleRate(), 500) > 1e-3);

        QVERIFY(Pactl::run({ "unload-module", module }));
        unload.dismiss();
        QTRY_VERIFY(microphone.hasEnded());
        const qint64 frames = recording.frames();
        QTest::qWait(700);
        QCOMPARE(recording.frames(), frames);
        microphone.stop();
    }

private:
    // The index of the playback stream a process plays.
    static QString playbackOf(qint64 pid)
    {
        QString list;
        Pactl::run({ "list", "sink-inputs" }, &list);
        QString current;
        for (const QString &line : list.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("Sink Input #")))
                current = line.mid(12).trimmed();
            if (line.contains(QStringLiteral("application.process.id = \"%1\"").arg(pid)))
                return current;
        }
        return {};
    }

    // 16-bit mono PCM from a WAV file.
    static std::vector<float> readWave(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = file.readAll();
        const qsizetype data = bytes.indexOf("data");
        if (data < 0)
            return {};
        std::vector<float> samples;
        for (qsizetype i = data + 8; i + 1 < bytes.size(); i += 2)
            samples.push_back(float(qint16(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8))) / 32768.0f);
        return samples;
    }

    static std::vector<double> envelope(const std::vector<float> &mono, double rate)
    {
        const auto window = qsizetype(rate * 0.02);
        std::vector<double> result;
        for (qsizetype start = 0; start + window <= qsizetype(mono.size()); start += window)
            result.push_back(ToneAnalysis::rms(mono, start, start + window));
        return result;
    }

    // The best normalised correlation of the two loudness envelopes over delays up to two seconds.
    static double envelopeCorrelation(const std::vector<float> &heard, double heardRate,
        const std::vector<float> &spoken, double spokenRate)
    {
        const std::vector<double> h = envelope(heard, heardRate);
        const std::vector<double> s = envelope(spoken, spokenRate);
        double best = 0;
        for (std::size_t lag = 0; lag < 100 && lag + s.size() <= h.size(); ++lag) {
            double hs = 0, hh = 0, ss = 0, hm = 0, sm = 0;
            for (std::size_t i = 0; i < s.size(); ++i) {
                hm += h[lag + i];
                sm += s[i];
            }
            hm /= double(s.size());
            sm /= double(s.size());
            for (std::size_t i = 0; i < s.size(); ++i) {
                hs += (h[lag + i] - hm) * (s[i] - sm);
                hh += (h[lag + i] - hm) * (h[lag + i] - hm);
                ss += (s[i] - sm) * (s[i] - sm);
            }
            if (hh > 0 && ss > 0)
                best = std::max(best, hs / std::sqrt(hh * ss));
        }
        return best;
    }

    QTemporaryDir m_root;
    QString m_data;
    QString m_toneA;
    QString m_toneB;
    TonePlayers m_players;
    TonePlayers m_keepers;
};

QTEST_GUILESS_MAIN(ProcessTapEngineTest)
#include "tst_ProcessTapEngine.moc"
