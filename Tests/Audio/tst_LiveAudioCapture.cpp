// The live sound-server layer against the private sound server, real players under their own
// identities and fake .desktop files: recordable applications and input devices, the engines for
// Others and You, and whole sessions recorded through them.
#include "Audio/AudioCaptureApps.h"
#include "Audio/AudioSessionCoordinator.h"
#include "AudioFileProbe.h"
#include "MainThreadStallProbe.h"
#include "Pactl.h"
#include "Platform/AudioInputHardware.h"
#include "Platform/MicrophoneCapture.h"
#include "Platform/ProcessTapEngine.h"
#include "Platform/SoundServer.h"
#include "PrivatePulseAudio.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"
#include "TonePlayers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <mutex>

using ToneAnalysis::energyAt;

namespace {

// Keeps what an engine delivers (float samples).
struct Recording
{
    AudioCaptureEngine::BufferCallback callback()
    {
        return [this](const AudioPCMBuffer &buffer) {
            std::lock_guard guard(lock);
            format = buffer.format();
            const auto *data = reinterpret_cast<const float *>(buffer.plane(0));
            samples.insert(samples.end(), data, data + buffer.frameCount() * format.channelCount);
        };
    }
    // One channel, from frame `from` on.
    std::vector<float> mono(qint64 from = 0) const
    {
        std::lock_guard guard(lock);
        std::vector<float> all = ToneAnalysis::downmix(samples, std::max(1, format.channelCount));
        all.erase(all.begin(), all.begin() + std::ptrdiff_t(std::min<qint64>(from, qint64(all.size()))));
        return all;
    }
    qint64 frames() const
    {
        std::lock_guard guard(lock);
        return qint64(samples.size()) / std::max(1, format.channelCount);
    }

    mutable std::mutex lock;
    std::vector<float> samples;
    AudioStreamFormat format;
};

QStringList names(const QList<AudioCaptureApp> &apps)
{
    QStringList result;
    for (const AudioCaptureApp &app : apps)
        result << app.name;
    return result;
}

QString entry(const QString &name, const QString &extra = {})
{
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=/nonexistent/program %u\n%2\n")
        .arg(name, extra);
}

// A session's file: its first channel and its rate.
std::pair<std::vector<float>, double> decode(const QUrl &file)
{
    const auto info = AudioFileProbe::probe(file.toLocalFile());
    const QVector<float> samples = AudioFileProbe::decodeChannel(file.toLocalFile());
    return { std::vector<float>(samples.cbegin(), samples.cend()), info ? double(info->sampleRate) : 0.0 };
}

bool finish(const Task<> &task)
{
    return QTest::qWaitFor([&] { return task.isFinished(); }, TestSupport::patienceMs);
}

} // namespace

class LiveAudioCaptureTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the private sound server that scripts/test.sh starts");
        QVERIFY(m_root.isValid());
        m_data = m_root.path() + QStringLiteral("/share");
        m_environment.set("XDG_DATA_DIRS", m_data.toUtf8());
        m_toneA = installToneApplication(
            m_root.path(), m_data, QStringLiteral("tone-a"), QStringLiteral("Tone A"));
        m_toneB = installToneApplication(
            m_root.path(), m_data, QStringLiteral("tone-b"), QStringLiteral("Tone B"));
        m_helper = installToneApplication(m_root.path(), m_data, "tone-a.helper", "Tone A Helper");
        m_stranger = installToneApplication(m_root.path(), m_data, "tone-a.helperx", "Not A Helper");
        // The user's own folder comes first: an entry hidden there is gone from the system's too.
        const QString home = m_root.path() + QStringLiteral("/home");
        m_environment.set("XDG_DATA_HOME", home.toUtf8());
        writeDesktopFile(home, "echo-chat", entry("Echo Chat", "Hidden=true"));
        writeDesktopFile(m_data, "echo-chat", entry("Echo Chat", "MimeType=x-scheme-handler/discord;"));
        writeDesktopFile(m_data, "zed-meet", entry("Zed Meet", "MimeType=x-scheme-handler/zoommtg;"));
        writeDesktopFile(m_data, "bravo", entry("bravo meet", "MimeType=text/html;x-scheme-handler/https;"));
        writeDesktopFile(m_data, "vlc", entry("VLC"));
        writeDesktopFile(m_data, "com.quorvel.dovrin", entry("Quorvel", "MimeType=x-scheme-handler/https;"));
        writeDesktopFile(m_data, "spotify", entry("Spotify", "Hidden=true"));
        writeDesktopFile(m_data, "mpv", entry("mpv", "NoDisplay=true"));
        writeDesktopFile(m_data, "tester", entry("Browser for Testing", "MimeType=x-scheme-handler/https;"));
        writeDesktopFile(m_data, "named-player", entry("Named Player"));
        QVERIFY(m_keepers.keepSinksAwake());
    }

    void cleanupTestCase()
    {
        m_keepers.stopAll();
        m_environment.restore();
    }

    void cleanup() { m_players.stopAll(); }

    // Handlers of the catalogue's schemes, installed known applications and what plays now; never
    // this program, hidden, menu-less or excluded entries; sorted without regard to case.
    void listsRecordableApplications()
    {
        QVERIFY(m_players.start(m_toneA, { "--name", "Tone A", "--freq", "440" }));
        QVERIFY(m_players.start(TonePlayers::toneProgram(), { "--name", "Named Player", "--freq", "300" }));
        const QList<AudioCaptureApp> apps = AudioCaptureApps::listedApps();
        QCOMPARE(names(apps), QStringList({ "bravo meet", "Named Player", "Tone A", "VLC", "Zed Meet" }));
        QCOMPARE(apps.at(2).bundleID, QStringLiteral("tone-a"));
        QCOMPARE(apps.at(2).iconName, QStringLiteral("audio-x-generic"));
    }

    // A family: the application, its helpers by id, its children, and sound clients that name it.
    void familyOfARunningApplication()
    {
        QProcess *app = m_players.start(m_toneA,
            { "--name", "Tone A", "--freq", "440", "--child", TonePlayers::toneProgram(), "--name",
                "Worker" });
        QProcess *helper = m_players.start(m_helper, { "--name", "Tone A Helper", "--freq", "500" });
        QProcess *stranger = m_players.start(m_stranger, { "--name", "Not A Helper", "--freq", "600" });
        QProcess *named
            = m_players.start(TonePlayers::toneProgram(), { "--name", "Named Player", "--freq", "300" });
        QVERIFY(app && helper && stranger && named);

        QVERIFY(AudioCaptureApps::isFamilyRunning("tone-a"));
        QVERIFY(AudioCaptureApps::isFamilyRunning("named-player")); // known only by its stream's name
        QVERIFY(!AudioCaptureApps::isFamilyRunning("vlc")); // installed, not running
        QVERIFY(!AudioCaptureApps::isFamilyRunning(""));
        QVERIFY(!AudioCaptureApps::tapRequest("vlc", std::nullopt));

        const auto request = AudioCaptureApps::tapRequest("tone-a", QStringLiteral("Stored Name"));
        QVERIFY(request);
        QCOMPARE(request->bundleIDs, QStringList({ "tone-a", "tone-a.helper" }));
        QCOMPARE(request->displayName, QStringLiteral("Stored Name"));
        QVERIFY(request->processIDs.contains(app->processId()));
        QVERIFY(request->processIDs.contains(TonePlayers::childPid(app)));
        QVERIFY(request->processIDs.contains(helper->processId()));
        QVERIFY(!request->processIDs.contains(stranger->processId()));
        QVERIFY(!request->processIDs.contains(named->processId()));
        QVERIFY(std::is_sorted(request->processIDs.cbegin(), request->processIDs.cend()));

        const auto byName = AudioCaptureApps::tapRequest("named-player", std::nullopt);
        QVERIFY(byName);
        QCOMPARE(byName->processIDs, QList<qint64>({ named->processId() }));
    }

    // Microphones only (no monitors), sorted without regard to case; the default unless a monitor.
    void inputDevices()
    {
        QString module;
        QVERIFY(Pactl::run({ "load-module", "module-remap-source", "master=micsrc.monitor",
                               "source_name=aardvark", "source_properties=device.description=aardvark" },
            &module));
        const auto unload = qScopeGuard([&] { Pactl::run({ "unload-module", module }); });

        const QList<AudioInputDevice> devices = AudioInputHardware::devices();
        QCOMPARE(devices.size(), 2);
        QCOMPARE(devices.constFirst().uid, QStringLiteral("aardvark"));
        QCOMPARE(devices.constLast().name, QStringLiteral("Virtual-Microphone"));
        QVERIFY(AudioInputHardware::device("mic") == devices.constLast());
        QVERIFY(!AudioInputHardware::device("spk.monitor"));
        QVERIFY(AudioInputHardware::defaultInput() == devices.constLast());

        QVERIFY(Pactl::run({ "set-default-source", "spk.monitor" }));
        const auto restore = qScopeGuard([] { Pactl::run({ "set-default-source", "mic" }); });
        QVERIFY(!AudioInputHardware::defaultInput());
    }

    // A seven-second capture of an application that plays for one second of it: seven seconds of
    // Others, the sound where it was played, silence after its stream ended, and no error. The tone
    // comes three seconds in, so a busy machine that starts the capture late still hears it whole.
    void silenceFillsTheGaps()
    {
        QVERIFY(m_players.start(
            m_toneA, { "--name", "Tone A", "--freq", "440", "--silence", "3", "--seconds", "1" }));
        const auto request = AudioCaptureApps::tapRequest(QStringLiteral("tone-a"), std::nullopt);
        QVERIFY(request);
        ProcessTapEngine engine;
        Recording recording;
        engine.prepare(request);
        QElapsedTimer clock;
        clock.start();
        engine.activate(recording.callback());
        QTRY_VERIFY_WITH_TIMEOUT(recording.frames() >= 48000 * 7, 60000);
        const qint64 elapsedMs = clock.elapsed();
        engine.stop();

        const double seconds = double(recording.frames()) / 48000;
        // A gap left unfilled, or filled twice, is seconds long; a busy machine starts the stream and
        // notices the count late by a good part of a second at times.
        QVERIFY2(std::abs(seconds - double(elapsedMs) / 1000) < 0.5,
            qPrintable(QStringLiteral("%1 s recorded in %2 ms").arg(seconds).arg(elapsedMs)));
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
        const qint64 movedAt = recording.frames();
        QTRY_COMPARE(engine.liveStreamCount(), 1);
        // Followed, the tone goes on in the recording, whenever a busy machine gets round to it; left
        // behind, only silence comes.
        QTRY_VERIFY(recording.frames() > movedAt + 48000 * 7 / 10
            && energyAt(recording.mono(recording.frames() - 48000 / 2), 48000, 440) > 1e-3);
        engine.stop();
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
        QTRY_VERIFY(before.frames() > 48000 * 8 / 10);
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
        QTRY_VERIFY_WITH_TIMEOUT(energyAt(before.mono(switchedAt), 48000, 1500) > 1e-3, 4000);
        const qint64 heardAt = before.frames();
        QTRY_VERIFY(before.frames() > heardAt + 24000);
        engine.stop();
        const std::vector<float> late = before.mono(switchedAt);
        QVERIFY(energyAt(late, 48000, 1500) > 1000 * std::max(energyAt(late, 48000, 2000), 1e-30));
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
        ScopedEnvironment environment;
        if (server.isEmpty())
            environment.unset("PULSE_SERVER");
        else
            environment.set("PULSE_SERVER", server);
        environment.set("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        if (socketFile)
            QVERIFY(TestSupport::writeFile(runtime.path() + QStringLiteral("/pulse/native"), {}));
        QVERIFY(SoundServer::isConfigured());

        QElapsedTimer clock;
        clock.start();
        try {
            ProcessTapEngine().prepare(std::nullopt);
            QFAIL("prepared without a server");
        } catch (const AudioCaptureError &error) {
            QVERIFY(error.description().contains(
                QRegularExpression("^System audio tap could not be created \\(\\d+\\)$")));
        }
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, MicrophoneCapture().prepare(std::nullopt));
        QVERIFY(clock.elapsed() < 1000);
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
        // Never the monitor of an output, nor a source that is not there.
        for (const char *uid : { "spk.monitor", "no-such-source" })
            QVERIFY_THROWS_EXCEPTION(
                AudioCaptureError, MicrophoneCapture().prepare(QString::fromLatin1(uid)));
    }

    // A chosen microphone records its source; when it goes away the recording ends, and nothing else is
    // recorded in its place.
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

        MicrophoneCapture defaultSource;
        QVERIFY(defaultSource.prepare(std::nullopt).isValid());
        QCOMPARE(defaultSource.sourceName(), QStringLiteral("mic"));
        MicrophoneCapture microphone;
        Recording recording;
        const double rate = microphone.prepare(QStringLiteral("mic2")).sampleRate;
        microphone.start(recording.callback());
        QTRY_VERIFY(recording.frames() > 24000);
        QVERIFY(energyAt(recording.mono(), rate, 500) > 1e-3);

        QVERIFY(Pactl::run({ "unload-module", module }));
        unload.dismiss();
        QTRY_VERIFY(microphone.hasEnded());
        const qint64 frames = recording.frames();
        QTest::qWait(700);
        QCOMPARE(recording.frames(), frames);
        microphone.stop();
    }

    // One application and the microphone into two files: the application's tones (its child's and a
    // stream that starts while recording too) and not another one's, the spoken words on You; the
    // application's child going leaves no warning, the application going does.
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
        QElapsedTimer sinceAsked; // the session begins after this, and before its start returns
        sinceAsked.start();
        Task<> start
            = coordinator.start(ResolvedFolder { QUrl::fromLocalFile(folder.path()), false, std::nullopt },
                std::nullopt, true, QStringLiteral("tone-a"), std::nullopt);
        QVERIFY(finish(start));
        start.result();
        QCOMPARE(coordinator.phase(), AudioSessionPhase::recording);
        QElapsedTimer recording;
        recording.start();
        // A stream of the application that starts while recording is joined.
        QVERIFY(m_players.start(m_toneA, { "--name", "Tone A", "--freq", "880" }));

        QTest::qWait(1500);
        QCOMPARE(::kill(pid_t(TonePlayers::childPid(app)), SIGKILL), 0);
        QTest::qWait(500);
        QVERIFY(!coordinator.warning());
        app->kill();
        QTRY_COMPARE(coordinator.warning().value_or(QString()),
            QStringLiteral("Tone A closed. Others may go silent."));
        QTest::qWait(500);
        const double recorded = double(recording.elapsed()) / 1000;
        const double asked = double(sinceAsked.elapsed()) / 1000;
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
        // A gap left unfilled, or filled twice, is seconds long.
        QVERIFY2(seconds > recorded - 0.5 && seconds < asked + 0.5,
            qPrintable(QStringLiteral("%1 s in the file, %2 to %3 s recorded")
                           .arg(seconds)
                           .arg(recorded)
                           .arg(asked)));
        const double bystander = std::max(ToneAnalysis::energyAt(others, othersRate, 1000), 1e-30);
        QVERIFY(ToneAnalysis::energyAt(others, othersRate, 440) > 1000 * bystander);
        QVERIFY(ToneAnalysis::energyAt(others, othersRate, 660) > 1000 * bystander);
        QVERIFY(ToneAnalysis::energyAt(others, othersRate, 880) > 1000 * bystander);
        const double spoken = ToneAnalysis::energyAt(you, youRate, 300);
        QVERIFY(spoken > 1000 * std::max(ToneAnalysis::energyAt(you, youRate, 440), 1e-30));
    }

    // A sound server that stops answering for a second while a session starts keeps the start waiting,
    // never the main thread; nor does the stop. Looking the application up once stalled the main thread
    // for as long as the server.
    void mainThreadAnswersWhileASessionStartsAndStops()
    {
        // A server of this test's own, so holding it disturbs no other test.
        PrivatePulseAudio server;
        QVERIFY2(server.isRunning(), server.log().constData());
        ScopedEnvironment environment;
        environment.set("PULSE_SERVER", server.address());
        QVERIFY(m_players.start(m_toneA, { "--name", "Tone A", "--freq", "440" }));

        QTemporaryDir folder;
        AudioSessionCoordinator coordinator;
        MainThreadStallProbe probe;
        constexpr int frozenMs = 1000;
        QCOMPARE(::kill(pid_t(server.pid()), SIGSTOP), 0);
        QTimer::singleShot(frozenMs, [pid = pid_t(server.pid())] { ::kill(pid, SIGCONT); });
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
        // Waiting on the frozen server stalls for most of the freeze; a busy machine alone stalls the
        // thread for a tenth of it at times.
        QVERIFY2(startStall < frozenMs / 3 && stopStall < frozenMs / 3,
            qPrintable(QStringLiteral("%1 ms, %2 ms").arg(startStall).arg(stopStall)));
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

    QTemporaryDir m_root;
    ScopedEnvironment m_environment;
    QString m_data;
    QString m_toneA;
    QString m_toneB;
    QString m_helper;
    QString m_stranger;
    TonePlayers m_players;
    TonePlayers m_keepers;
};

QTEST_GUILESS_MAIN(LiveAudioCaptureTest)
#include "tst_LiveAudioCapture.moc"
