#include "Audio/AudioSessionCoordinator.h"
#include "AudioFileProbe.h"
#include "Documents/CaptureMarkdown.h"
#include "FileSizeLimit.h"
#include "TestAudioCapture.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using Stream = TestAudioCapture::Stream;
using Kind = AudioSessionStartError::Kind;

namespace {

const QString noSystemAudio = QStringLiteral(
    "No system audio was heard. Check the Others source in Settings if you expected others.");
const QString permissionText
    = QStringLiteral("Microphone permission was not granted. Others audio is still recording.");
const QString micFailedText = QStringLiteral("Microphone could not start. Others audio is still recording.");
const QString writeFailedText = QStringLiteral("The audio file could not be written completely.");

// One coordinator on a manual clock and a test sound server, recording into a temporary folder.
struct Rig
{
    ManualTaskClock clock;
    TestAudioCapture capture;
    QTemporaryDir dir;
    QDateTime wall = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), QTimeZone::utc());
    bool folderAccessible = true;
    int folderOpened = 0;
    int folderClosed = 0;
    std::optional<bool> micAnswer = true; // none: the answer stays pending until micPromise is resolved
    TaskPromise<bool> micPromise;
    int startedCalls = 0;
    int failedCalls = 0;
    QStringList logAtStarted;
    std::function<AudioSessionResult()> stopOverride;
    std::chrono::milliseconds serverReturnLimit = AudioSessionCoordinator::defaultServerReturnLimit;
    std::optional<int> folderProblem; // what the trial of the folder answers
    std::unique_ptr<AudioSessionCoordinator> coordinator;

    // The coordinator goes first and waits for its start: a check that failed while a gate held the
    // start must not leave it waiting.
    ~Rig()
    {
        capture.othersPrepareGate.release();
        capture.microphoneStartGate.release();
    }

    AudioSessionCoordinator &make()
    {
        AudioSessionCoordinator::Environment env;
        capture.clock = &clock;
        env.engines = capture.factory();
        env.clock = &clock;
        env.now = [this] { return wall; };
        env.fileNameTimeZone = QTimeZone::utc();
        env.stopOverride = stopOverride;
        env.startAccessingFolder = [this](const ResolvedFolder &) {
            ++folderOpened;
            return folderAccessible;
        };
        env.stopAccessingFolder = [this](const ResolvedFolder &) { ++folderClosed; };
        env.folderProblem = [this](const QString &) { return folderProblem; };
        env.serverReturnLimit = serverReturnLimit;
        env.microphoneAuthorized = [this] {
            if (!micAnswer)
                return micPromise.future();
            TaskPromise<bool> answer;
            answer.resolve(*micAnswer);
            return answer.future();
        };
        coordinator = std::make_unique<AudioSessionCoordinator>(std::move(env));
        coordinator->onSystemAudioStarted = [this] {
            ++startedCalls;
            logAtStarted = capture.log();
        };
        coordinator->onSystemAudioStartFailed = [this] { ++failedCalls; };
        return *coordinator;
    }

    ResolvedFolder folder() const
    {
        return ResolvedFolder { QUrl::fromLocalFile(dir.path()), false, std::nullopt };
    }

    Task<> start(bool includeYou = true, std::optional<QString> micUID = std::nullopt,
        std::optional<QString> bundleID = std::nullopt, std::optional<QString> storedName = std::nullopt)
    {
        return coordinator->start(folder(), micUID, includeYou, bundleID, storedName);
    }

    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot); }

    // Moves the clock in small steps so the 0.25 s clock ticks where it would in real time.
    void advance(std::chrono::milliseconds total)
    {
        for (auto done = 0ms; done < total; done += 10ms) {
            clock.advance(10ms);
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        }
    }
};

// Waits for the start, then lets the elapsed clock take its first tick at the start instant.
bool finish(const Task<> &task)
{
    const bool finished = QTest::qWaitFor([&] { return task.isFinished(); }, TestSupport::patienceMs);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return finished;
}

// Starts and waits: true when the session records.
bool record(Rig &rig, bool includeYou = true)
{
    const Task<> task = rig.start(includeYou);
    return finish(task) && !task.finishedWithError();
}

AudioSessionResult stopped(AudioSessionCoordinator &audio)
{
    const Task<AudioSessionResult> stop = audio.stop();
    if (!QTest::qWaitFor([&] { return stop.isFinished(); }, TestSupport::patienceMs))
        qFatal("stop did not finish");
    return stop.result();
}

std::optional<AudioSessionStartError> errorOf(const Task<> &task)
{
    try {
        task.result();
    } catch (const AudioSessionStartError &error) {
        return error;
    }
    return std::nullopt;
}

ProcessTapRequest request(const QString &name, QList<qint64> pids = { 4242 })
{
    return ProcessTapRequest { QStringLiteral("org.example.Player"), pids,
        { QStringLiteral("org.example.Player") }, name };
}

} // namespace

class TestAudioSessionCoordinator : public QObject
{
    Q_OBJECT

private slots:
    void startAndStopOrders_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("micLog");
        QTest::addColumn<QString>("startWarning");
        QTest::addColumn<float>("othersAmplitude");
        QTest::addColumn<float>("youAmplitude");
        QTest::addColumn<bool>("youFile");
        QTest::addColumn<QString>("stopWarning");

        const QStringList mic { "mic.make", "mic.prepare(default)", "mic.start" };
        QTest::newRow("both heard") << "plain" << mic << QString() << 0.5f << 0.25f << true << QString();
        QTest::newRow("neither heard") << "plain" << mic << QString() << 0.0f << 0.0f << true
                                       << noSystemAudio + " No microphone audio was heard.";
        QTest::newRow("without You") << "noYou" << QStringList() << QString() << 0.5f << 0.5f << false
                                     << QString();
        QTest::newRow("microphone refused") << "denied" << QStringList() << permissionText << 0.0f << 0.5f
                                            << false << noSystemAudio + " " + permissionText;
        QTest::newRow("chosen microphone missing")
            << "missing" << mic << "The chosen microphone is unavailable. Using the system default." << 0.5f
            << 0.5f << true << QString();
        QTest::newRow("chosen microphone fails")
            << "chosenFails"
            << QStringList { "mic.make", "mic.prepare(usb-1)", "mic.make", "mic.prepare(default)",
                   "mic.start" }
            << "The chosen microphone could not start. Using the system default." << 0.5f << 0.5f << true
            << QString();
        QTest::newRow("no microphone at all")
            << "noMic" << mic.mid(0, 2) << micFailedText << 0.5f << 0.5f << false << micFailedText;
        QTest::newRow("microphone refuses to start")
            << "micStartFails" << mic << micFailedText << 0.5f << 0.5f << false << micFailedText;
    }
    void startAndStopOrders()
    {
        QFETCH(QString, scenario);
        QFETCH(QStringList, micLog);
        QFETCH(QString, startWarning);
        QFETCH(float, othersAmplitude);
        QFETCH(float, youAmplitude);
        QFETCH(bool, youFile);
        QFETCH(QString, stopWarning);

        Rig rig;
        std::optional<QString> micUID;
        rig.capture.deviceUIDs = { QStringLiteral("usb-1") };
        rig.micAnswer = scenario != "denied";
        if (scenario == "missing")
            micUID = QStringLiteral("gone-2");
        if (scenario == "chosenFails") {
            micUID = QStringLiteral("usb-1");
            rig.capture.failingMicrophones = { QStringLiteral("usb-1") };
        }
        if (scenario == "noMic")
            rig.capture.failingMicrophones = { QString() };
        rig.capture.microphoneStartFails = scenario == "micStartFails";
        AudioSessionCoordinator &audio = rig.make();
        QSignalSpy phases(&audio, &AudioSessionCoordinator::phaseChanged);

        Task<> task = rig.start(scenario != "noYou", micUID);
        QVERIFY(finish(task));
        QVERIFY(!errorOf(task));
        QCOMPARE(audio.phase(), AudioSessionPhase::recording);
        QCOMPARE(phases.size(), 2);
        QCOMPARE(phases.at(0).at(0).value<AudioSessionPhase>(), AudioSessionPhase::starting);
        const QStringList others { "others.make", "others.prepare(system)", "others.activate" };
        QCOMPARE(rig.capture.log(), others + micLog);
        QCOMPARE(audio.warning().value_or(QString()), startWarning);
        // System audio counts as started before anything of the microphone happens.
        QCOMPARE(rig.startedCalls, 1);
        QCOMPARE(rig.logAtStarted, others);
        QCOMPARE(rig.capture.runningEngines(), youFile ? 2 : 1);

        // The wall clock may jump; the session's length is what the steady clock measured.
        const QDateTime startedAt = rig.wall;
        rig.wall = rig.wall.addSecs(-3600);
        QCOMPARE(rig.capture.feed(Stream::others, 30, 1024, othersAmplitude), 30);
        QCOMPARE(rig.capture.feed(Stream::you, 20, 320, youAmplitude), youFile ? 20 : 0);
        rig.advance(1000ms);
        const AudioSessionResult result = stopped(audio);

        QCOMPARE(audio.phase(), AudioSessionPhase::stopping);
        QCOMPARE(rig.capture.runningEngines(), 0);
        QCOMPARE(audio.warning().value_or(QString()), stopWarning);
        QCOMPARE(result.heardOthers, othersAmplitude > 0);
        QCOMPARE(result.heardYou, youFile && youAmplitude > 0);
        QCOMPARE(result.othersPeak, othersAmplitude);
        QVERIFY(std::abs(result.youPeak - (youFile ? youAmplitude : 0.0f)) < 1e-4f);
        QCOMPARE(result.startedAt, startedAt);
        QCOMPARE(result.endedAt, startedAt.addMSecs(1000));
        QCOMPARE(audio.elapsed(), 1.0);
        QVERIFY(result.folder);
        QCOMPARE(rig.folderClosed, 0); // the folder travels open in the result

        const QString base = CaptureFilename::make(
            startedAt, QStringLiteral("audio-session"), result.id, QTimeZone::utc(), QStringLiteral("md"))
                                 .chopped(3);
        QCOMPARE(result.othersURL, QUrl::fromLocalFile(rig.dir.filePath(base + "_others.m4a")));
        QCOMPARE(result.youURL.has_value(), youFile);
        QStringList expectedFiles { base + "_others.m4a" };
        if (youFile)
            expectedFiles << base + "_you.m4a";
        QCOMPARE(rig.files(), expectedFiles);
        const auto othersFile = AudioFileProbe::probe(result.othersURL->toLocalFile());
        QVERIFY(othersFile && othersFile->channels == 2);
        // Each file covers the session's second on the steady clock: what the source gave, then silence.
        QVERIFY(std::abs(othersFile->playableSamples() - 48000) <= 1);
        if (youFile) {
            const auto you = AudioFileProbe::probe(result.youURL->toLocalFile());
            QVERIFY(you && std::abs(you->playableSamples() - you->sampleRate) <= 1);
        }
    }

    void othersFailingLeavesNoFileAndNeverStartsTheMicrophone_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("engine refuses to prepare") << "prepare";
        QTest::newRow("engine refuses to activate") << "activate";
        QTest::newRow("file cannot be created") << "file";
    }
    void othersFailingLeavesNoFileAndNeverStartsTheMicrophone()
    {
        QFETCH(QString, failure);
        Rig rig;
        rig.capture.othersPrepareFails = failure == "prepare";
        rig.capture.othersActivateFails = failure == "activate";
        AudioSessionCoordinator &audio = rig.make();
        ResolvedFolder folder = rig.folder();
        if (failure == "file")
            folder.url = QUrl::fromLocalFile(rig.dir.filePath(QStringLiteral("missing")));

        Task<> task = audio.start(folder, std::nullopt, true, std::nullopt, std::nullopt);
        QVERIFY(finish(task));
        QCOMPARE(errorOf(task)->kind(), Kind::systemAudioStartFailed);
        QCOMPARE(audio.phase(), AudioSessionPhase::failed);
        QCOMPARE(rig.failedCalls, 1);
        QCOMPARE(rig.startedCalls, 0);
        QVERIFY(rig.files().isEmpty());
        QCOMPARE(rig.capture.count("mic.make"), 0);
        QCOMPARE(rig.capture.liveEngines(), 0);
        QCOMPARE(rig.folderClosed, 1);
        QVERIFY(!audio.scopedFolder());

        // The next session starts normally.
        rig.capture.othersPrepareFails = rig.capture.othersActivateFails = false;
        QVERIFY(record(rig));
    }

    void refusedStarts_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("failsPhase");
        QTest::newRow("no sound server") << "unsupported" << int(Kind::unsupported) << QString() << false;
        QTest::newRow("folder refused") << "folder" << int(Kind::folderInaccessible) << QString() << false;
        QTest::newRow("application not running, stored name")
            << "notRunning" << int(Kind::appNotRunning) << "Player Deluxe isn't running" << true;
        QTest::newRow("application not running, no stored name")
            << "notRunningNoName" << int(Kind::appNotRunning) << "org.example.Player isn't running" << true;
        QTest::newRow("application without processes")
            << "unreachable" << int(Kind::appUnreachable) << "Couldn't attach to Player's audio" << true;
    }
    void refusedStarts()
    {
        QFETCH(QString, situation);
        QFETCH(int, kind);
        QFETCH(QString, description);
        QFETCH(bool, failsPhase);
        Rig rig;
        rig.capture.supported = situation != "unsupported";
        rig.folderAccessible = situation != "folder";
        if (situation == "unreachable")
            rig.capture.tapRequest = request(QStringLiteral("Player"), {});
        AudioSessionCoordinator &audio = rig.make();
        audio.setPhase(AudioSessionPhase::saved);

        Task<> task = rig.start(true, std::nullopt, QStringLiteral("org.example.Player"),
            situation == "notRunningNoName" ? std::nullopt
                                            : std::optional<QString>(QStringLiteral("Player Deluxe")));
        QVERIFY(finish(task));
        const auto error = errorOf(task);
        QCOMPARE(int(error->kind()), kind);
        if (!description.isEmpty())
            QCOMPARE(error->description(), description);
        QCOMPARE(audio.phase(), failsPhase ? AudioSessionPhase::failed : AudioSessionPhase::saved);
        QCOMPARE(rig.folderOpened, situation == "unsupported" ? 0 : 1);
        QCOMPARE(rig.folderClosed, failsPhase ? 1 : 0);
        QVERIFY(rig.files().isEmpty());
        QCOMPARE(rig.capture.count("others.make"), 0);
    }

    // stop() while the start waits for Others or for the microphone: the stop reports what was installed,
    // the start ends `cancelled` and stops what it made; the phase stays the stop's.
    void stopWhileStartIsPending_data()
    {
        QTest::addColumn<bool>("atMicrophone");
        QTest::newRow("Others preparing") << false;
        QTest::newRow("microphone starting") << true;
    }
    void stopWhileStartIsPending()
    {
        QFETCH(bool, atMicrophone);
        Rig rig;
        TestAudioCapture::Gate &gate
            = atMicrophone ? rig.capture.microphoneStartGate : rig.capture.othersPrepareGate;
        gate.hold();
        AudioSessionCoordinator &audio = rig.make();
        Task<> task = rig.start();
        QVERIFY(QTest::qWaitFor([&] { return gate.isReached(); }, TestSupport::patienceMs));
        QCOMPARE(audio.phase(), AudioSessionPhase::starting);
        if (atMicrophone)
            QCOMPARE(rig.capture.feed(Stream::others, 10, 1024, 0.5f), 10);

        const AudioSessionResult result = stopped(audio);
        QCOMPARE(audio.phase(), AudioSessionPhase::stopping);
        QCOMPARE(result.othersURL.has_value(), atMicrophone);
        QCOMPARE(result.heardOthers, atMicrophone);
        QCOMPARE(result.youURL.has_value(), atMicrophone); // its writer was already in place
        if (!atMicrophone)
            QCOMPARE(
                audio.warning(), std::optional<QString>(noSystemAudio + " Microphone was not recorded."));

        gate.release();
        QVERIFY(finish(task));
        const auto error = errorOf(task);
        QCOMPARE(error->kind(), Kind::cancelled);
        QVERIFY(!error->description());
        QCOMPARE(audio.phase(), AudioSessionPhase::stopping);
        QCOMPARE(rig.capture.runningEngines(), 0);
        QCOMPARE(rig.capture.count("mic.stop"), atMicrophone ? 1 : 0);
        QCOMPARE(rig.startedCalls + rig.failedCalls, atMicrophone ? 1 : 0);
        if (atMicrophone)
            return;
        QVERIFY(rig.files().isEmpty());

        // Once the model moved the phase on, the next session records; a start while it records returns
        // at once and changes nothing.
        audio.setPhase(AudioSessionPhase::idle);
        QVERIFY(record(rig, false));
        const QStringList log = rig.capture.log();
        const QStringList files = rig.files();
        Task<> again = rig.start(true, std::nullopt, QStringLiteral("org.other"));
        QVERIFY(finish(again));
        QVERIFY(!errorOf(again));
        QCOMPARE(rig.capture.log(), log);
        QCOMPARE(rig.files(), files);
        QCOMPARE(rig.folderOpened, 2);
    }

    // Nobody stopped it, but its task was cancelled: the start must not stay `starting` with the folder open.
    void cancelledStartWithoutStopFails()
    {
        Rig rig;
        rig.micAnswer.reset();
        AudioSessionCoordinator &audio = rig.make();
        Task<> task = rig.start();
        QTRY_COMPARE(rig.startedCalls, 1); // waiting for the microphone permission
        task.cancel();
        rig.micPromise.resolve(true);
        QVERIFY(finish(task));
        QCOMPARE(errorOf(task)->kind(), Kind::cancelled);
        QCOMPARE(audio.phase(), AudioSessionPhase::failed);
        QCOMPARE(rig.folderClosed, 1);
        QVERIFY(!audio.scopedFolder());
        QCOMPARE(rig.capture.runningEngines(), 0);
        QVERIFY(rig.files().isEmpty());

        audio.clearTerminalState();
        QVERIFY(record(rig, false));
    }

    void silentApplicationWarning_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("at4900");
        QTest::addColumn<QString>("at5000");
        const QString silent = QStringLiteral("No audio from Player yet.");
        const QString closed = QStringLiteral("Player closed. Others may go silent.");
        QTest::newRow("silent application") << "app" << QString() << silent;
        QTest::newRow("whole system never warns") << "system" << QString() << QString();
        QTest::newRow("application heard early") << "heard" << QString() << QString();
        QTest::newRow("quieter than 0.001") << "quiet" << QString() << silent;
        QTest::newRow("microphone warning stays") << "denied" << permissionText << permissionText;
        // Only the application itself closing is said, not a helper or another application; the silent
        // check then leaves that warning alone.
        QTest::newRow("application closed") << "closed" << closed << closed;
    }
    void silentApplicationWarning()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, at4900);
        QFETCH(QString, at5000);
        Rig rig;
        rig.capture.tapRequest = request(QStringLiteral("Player"));
        rig.micAnswer = scenario != "denied";
        AudioSessionCoordinator &audio = rig.make();
        Task<> task = rig.start(true, std::nullopt,
            scenario == "system" ? std::nullopt
                                 : std::optional<QString>(QStringLiteral("org.example.Player")));
        QVERIFY(finish(task));
        QVERIFY(!errorOf(task));
        if (scenario == "heard" || scenario == "quiet")
            rig.capture.feed(Stream::others, 1, 1024, scenario == "heard" ? 0.001f : 0.0009f);

        if (scenario == "closed") {
            for (const char *exited : { "org.example.Player.helper", "org.other", "org.example.Player" })
                rig.capture.applicationExited(QString::fromLatin1(exited));
        }
        rig.advance(4900ms);
        QCOMPARE(audio.warning().value_or(QString()), at4900);
        rig.advance(100ms);
        QCOMPARE(audio.warning().value_or(QString()), at5000);
        if (scenario == "app") {
            // Sound from the application clears the warning at the next tick.
            rig.capture.feed(Stream::others, 1, 1024, 0.02f);
            rig.advance(250ms);
            QVERIFY(!audio.warning());
        }
        // The watch ends with the session.
        stopped(audio);
        QCOMPARE(
            rig.capture.count(QStringLiteral("unwatch(org.example.Player)")), scenario == "system" ? 0 : 1);
    }

    void levelsArePublishedAndDecay()
    {
        Rig rig;
        AudioSessionCoordinator &audio = rig.make();
        QVERIFY(record(rig));
        QCOMPARE(audio.meterLine(), QStringLiteral("Others —  You —"));

        QCOMPARE(rig.capture.feed(Stream::you, 3, 320, 0.5f), 3); // the first one publishes at once
        QCOMPARE(rig.capture.feed(Stream::others, 1, 1024, 0.1f), 1);
        QTRY_COMPARE(audio.youLevel(), 0.5f);
        QTRY_COMPARE(audio.othersLevel(), 0.1f);
        QCOMPARE(audio.meterLine(), QStringLiteral("Others ▄  You █"));
        rig.advance(250ms); // published 0.25 s ago: fresh
        QCOMPARE(audio.youLevel(), 0.5f);
        rig.advance(250ms); // 0.5 s ago: stale
        QCOMPARE(audio.youLevel(), 0.0f);
        QCOMPARE(audio.othersLevel(), 0.0f);

        // A level on its way to the main thread when the session stops is dropped.
        rig.advance(200ms);
        QCOMPARE(rig.capture.feed(Stream::you, 1, 320, 0.9f), 1);
        stopped(audio);
        QCoreApplication::processEvents(); // delivers what was posted
        QCOMPARE(audio.youLevel(), 0.0f);
    }

    // The file system refuses writes part-way: the recording cannot go on, which is said at the next tick
    // with the folder and the reason, and the files end there. A buffer that never reaches the file is
    // said too, and the recording goes on.
    void writeFailureIsWarnedAtTheNextTick_data()
    {
        QTest::addColumn<bool>("fileTooLarge");
        QTest::addColumn<double>("othersRate");
        QTest::newRow("file size limit") << true << 48000.0;
        // Dropped buffers used to count as heard and went unreported.
        QTest::newRow("buffers dropped (rate too low to convert)") << false << 100.0;
    }
    void writeFailureIsWarnedAtTheNextTick()
    {
        QFETCH(bool, fileTooLarge);
        QFETCH(double, othersRate);
        Rig rig;
        rig.capture.othersFormat.sampleRate = othersRate;
        AudioSessionCoordinator &audio = rig.make();
        QVERIFY(record(rig, false));
        QSignalSpy interrupted(&audio, &AudioSessionCoordinator::interrupted);
        {
            const std::optional<FileSizeLimit> full
                = fileTooLarge ? std::optional<FileSizeLimit>(2048) : std::nullopt;
            // More than a writer keeps before it writes by itself.
            rig.capture.feed(Stream::others, 160, 1024, 0.5f);
        }
        QVERIFY(!audio.warning());
        rig.advance(250ms);
        const QString stoppedText
            = QStringLiteral("The recording stopped at 0:00: “%1” could not be written (file "
                             "too large). What was written until then is kept.")
                  .arg(QFileInfo(rig.dir.path()).fileName());
        const QString expected = fileTooLarge ? stoppedText : writeFailedText;
        QCOMPARE(audio.warning(), std::optional<QString>(expected));
        QCOMPARE(interrupted.count(), fileTooLarge ? 1 : 0);
        // Nothing reaches a file of an interrupted recording any more.
        QCOMPARE(rig.capture.feed(Stream::others, 1, 1024, 0.5f), 1);
        const AudioSessionResult result = stopped(audio);
        QCOMPARE(audio.warning(), std::optional<QString>(expected));
        QVERIFY(result.writeFailed);
        QCOMPARE(result.interruption.has_value(), fileTooLarge);
        if (fileTooLarge) {
            QCOMPARE(result.interruption->errorNumber, EFBIG);
            QCOMPARE(result.recordingNote, stoppedText);
        }
        QVERIFY(!result.heardOthers);
        QVERIFY(result.othersPeak > 0.4f);
    }

    // A folder the recording's files cannot go into is refused at the start, with its name and the
    // reason; nothing is made.
    void folderWithoutRoomIsRefused_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no room") << ENOSPC << "the disk is full";
        QTest::newRow("over quota") << EDQUOT << "the disk is full";
        QTest::newRow("read-only") << EROFS << "the disk is read-only";
    }
    void folderWithoutRoomIsRefused()
    {
        QFETCH(int, error);
        QFETCH(QString, reason);
        Rig rig;
        rig.folderProblem = error;
        AudioSessionCoordinator &audio = rig.make();
        const Task<> start = rig.start();
        QVERIFY(finish(start));
        const std::optional<AudioSessionStartError> refused = errorOf(start);
        QVERIFY(refused);
        QCOMPARE(refused->kind(), Kind::folderNotWritable);
        QCOMPARE(refused->description(),
            std::optional<QString>(QStringLiteral("Can't record in “%1”: %2")
                                       .arg(QFileInfo(rig.dir.path()).fileName(), reason)));
        QCOMPARE(audio.phase(), AudioSessionPhase::failed);
        QCOMPARE(rig.capture.log(), QStringList());
        QCOMPARE(rig.folderClosed, 1);
        QCOMPARE(rig.files(), QStringList());
    }

    // The sound server goes away while recording: said at once; when it comes back the stretch is one
    // of the session's gaps; when it stays away past the limit the recording ends where it went; a stop
    // meanwhile counts the gap to the end.
    void soundServerAbsenceIsFollowed_data()
    {
        QTest::addColumn<QString>("then");
        QTest::newRow("comes back") << "back";
        QTest::newRow("stays away") << "away";
        QTest::newRow("stopped while away") << "stop";
    }
    void soundServerAbsenceIsFollowed()
    {
        QFETCH(QString, then);
        Rig rig;
        rig.serverReturnLimit = 5s;
        AudioSessionCoordinator &audio = rig.make();
        QVERIFY(record(rig));
        QSignalSpy interrupted(&audio, &AudioSessionCoordinator::interrupted);
        QCOMPARE(rig.capture.feed(Stream::others, 10, 4800, 0.5f), 10);
        rig.capture.loseServer();
        QCOMPARE(rig.capture.feed(Stream::others, 10, 4800, 0.5f), 0);
        rig.advance(250ms);
        QVERIFY(audio.warning() && audio.warning()->startsWith("The sound server went away at 0:00."));
        if (then == "back") {
            rig.advance(2s);
            rig.capture.serverBack();
            rig.advance(250ms);
            QVERIFY(audio.warning() && audio.warning()->startsWith("The sound server was away at 0:00 for "));
        } else if (then == "away") {
            rig.advance(4500ms);
            QCOMPARE(interrupted.count(), 0);
            rig.advance(500ms);
            QCOMPARE(interrupted.count(), 1);
            QCOMPARE(audio.interruption()->kind, AudioRecordingInterruption::Kind::serverGone);
            QCOMPARE(audio.interruptionStatus(),
                std::optional<QString>("Recording stopped: the sound server did not come back"));
        } else {
            rig.advance(1s);
        }
        const AudioSessionResult result = stopped(audio);
        QCOMPARE(result.interruption.has_value(), then == "away");
        QCOMPARE(result.serverGaps.size(), then == "away" ? 0 : 1);
        QVERIFY(!result.writeFailed);
        QVERIFY(result.heardOthers);
        if (then == "away") {
            QVERIFY2(
                result.recordingNote.startsWith("The sound server went away at 0:00 and did not come back "
                                                "within 5 s: the recording ends there."),
                qPrintable(result.recordingNote));
            // The files end where the server went.
            QVERIFY(result.startedAt.msecsTo(result.endedAt) < 1000);
        } else {
            QVERIFY2(
                result.recordingNote.contains("silent in both recordings"), qPrintable(result.recordingNote));
        }
        QCOMPARE(audio.warning().value_or(QString()).left(result.recordingNote.size()), result.recordingNote);
    }

    // A stop answered by the override still takes the writers out, so their files are complete and the
    // next session can start; destroying the coordinator mid-session keeps the files too.
    void stopOverrideAndDestructionFinishTheFiles()
    {
        Rig rig;
        AudioSessionResult canned;
        canned.id = QUuid::createUuid();
        canned.startedAt = rig.wall;
        canned.endedAt = rig.wall.addSecs(90);
        rig.stopOverride = [&] { return canned; };
        AudioSessionCoordinator &audio = rig.make();
        QVERIFY(record(rig));
        rig.capture.feed(Stream::others, 50, 1024, 0.5f);
        const AudioSessionResult result = stopped(audio);
        QCOMPARE(result.id, canned.id);
        QCOMPARE(audio.elapsed(), 90.0);
        QCOMPARE(rig.capture.runningEngines(), 0);
        for (const QString &file : rig.files())
            QVERIFY2(AudioFileProbe::probe(rig.dir.filePath(file)), qPrintable(file));

        const QStringList first = rig.files();
        audio.setPhase(AudioSessionPhase::idle);
        QVERIFY(record(rig));
        rig.capture.feed(Stream::others, 50, 1024, 0.5f);
        rig.capture.feed(Stream::you, 50, 320, 0.5f);
        rig.coordinator.reset();
        QCOMPARE(rig.capture.liveEngines(), 0);
        QStringList files = rig.files();
        files.removeIf([&](const QString &file) { return first.contains(file); });
        QCOMPARE(files.size(), 2);
        for (const QString &file : files) {
            const auto info = AudioFileProbe::probe(rig.dir.filePath(file));
            QVERIFY(info && info->playableSamples() > 40000);
        }
    }
};

QTEST_GUILESS_MAIN(TestAudioSessionCoordinator)
#include "tst_AudioSessionCoordinator.moc"
