#include "HeldAnswers.h"
#include "ModelHarness.h"

#include "Model/AudioReviewSession.h"
#include "Model/InputDeviceCache.h"
#include "Model/ReviewSession.h"
#include "Rules/AudioOthersSelection.h"
#include "TestAudioCapture.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>
#include <QThreadPool>

using FileResult = AudioFileTranscriber::FileResult;

namespace {

const QString player = QStringLiteral("org.example.Player");

Task<FileResult> answerOf(TaskFuture<FileResult> answer)
{
    co_return co_await answer;
}

// The real model and coordinator over a test sound server, recording into `notes`; transcription
// answers each file with a line naming it, or waits for the test when held.
struct AudioRig : ModelHarness
{
    TestAudioCapture capture;
    QString notes = dir.filePath(QStringLiteral("notes"));
    AppSettings settings;
    std::function<AudioSessionResult()> stopOverride;
    // False: the capture folder refuses this process as one that is not writable does.
    bool folderAccessible = true;
    bool holdTranscription = false;
    QList<TaskPromise<FileResult>> transcriptions;

    AudioRig()
    {
        QDir().mkpath(notes);
        settings.setupComplete = true;
        settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(notes));
        capture.tapRequest = ProcessTapRequest { player, { 4242 }, { player }, QStringLiteral("Player") };
        makeAudio = [this] {
            AudioSessionCoordinator::Environment environment;
            environment.engines = capture.factory();
            environment.stopOverride = stopOverride;
            environment.startAccessingFolder = [this](const ResolvedFolder &folder) {
                return folderAccessible && FolderBookmark::startAccessing(folder.url);
            };
            return std::make_unique<AudioSessionCoordinator>(environment);
        };
        fileTranscriber = [this](const QString &path) {
            transcriptions.append(TaskPromise<FileResult>());
            if (!holdTranscription)
                transcriptions.last().resolve(FileResult::ok("[0:01] heard " + QFileInfo(path).baseName()));
            return answerOf(transcriptions.last().future());
        };
    }

    AppModel &start()
    {
        setSettings(settings);
        if (writes) {
            adjust = [this](ModelServices &services) {
                services.writeMarkdown = [this, write = services.writeMarkdown](const QString &markdown,
                                             const QString &folder, const QString &name) {
                    if (!writes->wait())
                        throw std::runtime_error("the disk is full");
                    return write(markdown, folder, name);
                };
            };
        }
        return make();
    }
    // Notes are written only once the test answers (true writes, false fails the write).
    void holdWrites() { writes = std::make_unique<HeldAnswers<bool>>(); }
    std::unique_ptr<HeldAnswers<bool>> writes;

    bool record()
    {
        return ModelHarness::finish(model->handleAudioInvocation())
            && model->audio().phase() == AudioSessionPhase::recording;
    }
};

} // namespace

class TestAudioSessionFlow : public QObject
{
    Q_OBJECT

private slots:
    void recordCommand_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("tapped");
        const auto row = [](const char *name, const char *scenario, const QString &status, bool failed,
                             const char *window = "", const QString &tapped = {}) {
            QTest::newRow(name) << QString(scenario) << status << failed << QString(window) << tapped;
        };
        const QString folder = QStringLiteral("Can't record: capture folder “notes” ");
        row("visual capture", "selecting, unsupported",
            "Finish or cancel the visual capture before recording audio", false);
        row("no sound server", "unsupported, no setup",
            "Audio recording needs a PulseAudio or PipeWire sound server", false);
        row("setup first", "no setup, no folder", "Finish setup to record audio", false, "setup");
        row("folder first", "no folder, review", "Choose a capture folder", true, "preferences");
        row("screen review open", "review, player", "Finish the screen review before recording audio", false);
        row("source not running", "player", AudioOthersSelection::unavailableMessage("Player"), true,
            "preferences");
        row("source running", "player, running", "Recording audio", false, "", player);
        row("empty source", "empty source", "Recording audio", false, "", "system");
        row("folder gone", "folder gone", folder + "not found", true);
        row("folder is a file", "folder gone, file", folder + "is a file", true);
        row("folder not writable", "folder locked", folder + "is not writable", true);
        row("folder not writable, after a saved session", "folder locked, saved", folder + "is not writable",
            true);
        row("engine fails", "engine fails", PermissionFeedbackCopy::systemAudioStartFailed().text, true);
        row("start cancelled", "cancelled", "Ready", false);
    }

    void recordCommand()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, status);
        QFETCH(bool, failed);
        QFETCH(QString, tapped);
        const auto is = [&](const char *part) { return scenario.contains(QLatin1String(part)); };
        AudioRig rig;
        rig.recordingSupported = !is("unsupported");
        rig.settings.setupComplete = !is("no setup");
        if (is("no folder"))
            rig.settings.defaultFolder.reset();
        if (is("player")) {
            rig.settings.othersAudioBundleID = player;
            rig.settings.othersAudioDisplayName = QStringLiteral("Player");
        }
        if (is("empty source"))
            rig.settings.othersAudioBundleID = QString();
        if (is("running"))
            rig.runningApps << player;
        rig.capture.othersPrepareFails = is("engine fails");
        if (is("cancelled"))
            rig.capture.othersPrepareGate.hold();
        AppModel &model = rig.start();
        model.clearRequestedWindow();
        if (is("saved"))
            model.audio().setPhase(AudioSessionPhase::saved);
        if (is("folder gone"))
            QDir(rig.notes).removeRecursively();
        if (is("file"))
            QVERIFY(TestSupport::writeFile(rig.notes, "not a folder"));
        rig.folderAccessible = !is("locked");
        if (is("selecting"))
            rig.context().setPhase(CapturePhase::selecting);
        if (is("review"))
            rig.context().setReviewSession(std::make_shared<ReviewSession>(
                rig.storeDraft(), QImage(), model.settings(), QString(), ReviewSession::TileLoader()));

        const Task<> command = model.handleAudioInvocation();
        if (is("cancelled")) {
            QTRY_VERIFY(rig.capture.othersPrepareGate.isReached());
            model.audio().stop();
            rig.capture.othersPrepareGate.release();
        }
        QVERIFY(ModelHarness::finish(command));
        QCOMPARE(model.statusMessage(), status);
        QTEST(model.requestedWindow().value_or(QString()), "window");
        QCOMPARE(model.audio().phase() == AudioSessionPhase::recording, !tapped.isEmpty());
        QCOMPARE(rig.capture.count("others.prepare(" + tapped + ")"), tapped.isEmpty() ? 0 : 1);
        // A start that failed says why where the user chose Record Audio: the menu's status line.
        QCOMPARE(model.audio().phase() == AudioSessionPhase::failed, failed);
        if (failed)
            QCOMPARE(model.menuStatusDetail(), status);
    }

    // A folder problem met by "Record Another" while an earlier recording is still being transcribed
    // is said, and leaves that session's phase (and its transcription) alone.
    void folderProblemLeavesEarlierSession()
    {
        AudioRig rig;
        rig.transcriptionSupported = true;
        rig.holdTranscription = true;
        rig.stopOverride = [&] { return ModelHarness::recording(rig.notes); };
        AppModel &model = rig.start();
        QVERIFY(rig.record());
        QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
        // Both files at once.
        QTRY_COMPARE(rig.transcriptions.size(), 2);
        QCOMPARE(model.audio().phase(), AudioSessionPhase::transcribing);
        QVERIFY(QDir(rig.notes).removeRecursively());
        QVERIFY(ModelHarness::finish(model.startAudioRecording()));
        const QString gone = QStringLiteral("Can't record: capture folder “notes” not found");
        QCOMPARE(model.statusMessage(), gone);
        QCOMPARE(model.audio().phase(), AudioSessionPhase::transcribing);
        QCOMPARE(model.menuStatusDetail(), gone);
        QCOMPARE(rig.capture.count("others.prepare(system)"), 1);
    }

    // A folder whose bookmark went stale is renewed in the setting that held it, and only there.
    void staleFolderRenewed_data()
    {
        QTest::addColumn<bool>("asDefault");
        QTest::newRow("default folder") << true;
        QTest::newRow("last used folder") << false;
    }

    void staleFolderRenewed()
    {
        QFETCH(bool, asDefault);
        AudioRig rig;
        const FolderAccess stale = *rig.settings.defaultFolder;
        // Another folder takes its place (made while it exists, so it cannot share its inode).
        QVERIFY(QDir().mkpath(rig.notes + QStringLiteral("-new")) && QDir(rig.notes).removeRecursively());
        QVERIFY(QDir().rename(rig.notes + QStringLiteral("-new"), rig.notes));
        const FolderAccess other = FolderBookmark::make(QUrl::fromLocalFile(rig.dir.path()));
        rig.settings.defaultFolder = asDefault ? std::optional(stale) : std::nullopt;
        rig.settings.lastUsedFolder = asDefault ? other : stale;
        AppModel &model = rig.start();
        QVERIFY(rig.record());
        const FolderAccess renewed = FolderBookmark::make(QUrl::fromLocalFile(rig.notes));
        QVERIFY(renewed != stale);
        QCOMPARE(model.settings().defaultFolder, asDefault ? std::optional(renewed) : std::nullopt);
        QCOMPARE(model.settings().lastUsedFolder, asDefault ? other : renewed);
        QCOMPARE(AppSettingsStore(rig.defaults).load(), model.settings());
    }

    void finishedSession_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<AudioSessionPhase>("phase");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("you");
        // A session saved at once: -1 none, 1 unreviewed, 2 reviewed.
        QTest::addColumn<int>("savedAtOnce");
        const auto row = [](const char *name, const char *scenario, AudioSessionPhase phase,
                             const QString &note, const char *you = "", int savedAtOnce = -1) {
            QTest::newRow(name) << QString(scenario) << phase << note << QString(you) << savedAtOnce;
        };
        using P = AudioSessionPhase;
        row("no folder", "no folder", P::failed, "");
        row("transcription missing", "unsupported", P::reviewing, AudioFileTranscriber::unavailableNote());
        row("transcribed", "", P::reviewing, "", "[0:01] heard session_you");
        row("speaker bleed", "bleed", P::reviewing,
            "You was recorded but not transcribed — the microphone looked like speaker playback.");
        row("quit while recording", "quit recording", P::saved, "Quit before transcription started.", "", 1);
        row("quit while transcribing", "quit, held", P::saved, "Quit before transcription finished.", "", 1);
        row("replaced while transcribing", "replaced, held", P::transcribing,
            "A newer recording ended before transcription finished.", "", 1);
        row("open review replaced", "unsupported, replaced review", P::reviewing,
            AudioFileTranscriber::unavailableNote(), "", 2);
    }

    void finishedSession()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, note);
        QFETCH(int, savedAtOnce);
        const auto is = [&](const char *part) { return scenario.contains(QLatin1String(part)); };
        AudioRig rig;
        rig.transcriptionSupported = !is("unsupported");
        rig.holdTranscription = is("held");
        rig.stopOverride = [&] {
            AudioSessionResult result = ModelHarness::recording(rig.notes, 3000, is("bleed") ? 0.05f : 0.5f);
            if (is("no folder"))
                result.folder.reset();
            return result;
        };
        AppModel &model = rig.start();
        QVERIFY(rig.record());
        if (is("quit recording"))
            QVERIFY(ModelHarness::finish(model.finalizeOpenSessionsForQuit()));
        else
            QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
        // "Record Another" while a review is open: the record command stops the new recording.
        if (is("replaced review") && ModelHarness::finish(model.startAudioRecording()))
            QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
        if (is("held")) {
            // Both files at once.
            QTRY_COMPARE(rig.transcriptions.size(), 2);
            if (is("quit")) {
                QVERIFY(ModelHarness::finish(model.finalizeOpenSessionsForQuit()));
            } else {
                QVERIFY(ModelHarness::finish(model.startAudioRecording()));
                QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
                QTRY_COMPARE(model.audio().phase(), AudioSessionPhase::transcribing);
            }
            // The interrupted transcription answers late: its result is dropped.
            QTRY_COMPARE(rig.transcriptions.size(), is("quit") ? 2 : 4);
            rig.transcriptions[0].resolve(FileResult::ok(QStringLiteral("late")));
            rig.transcriptions[1].resolve(FileResult::ok(QStringLiteral("late")));
            ModelHarness::settle();
            QCOMPARE(rig.transcriptions.size(), is("quit") ? 2 : 4);
            QVERIFY(!model.audioReview());
        }
        QFETCH(AudioSessionPhase, phase);
        QTRY_COMPARE(model.audio().phase(), phase);
        const QByteArray saved = ModelHarness::savedNote(rig.notes);
        QCOMPARE(saved.isEmpty(), savedAtOnce < 0);
        if (savedAtOnce > 0) {
            QVERIFY(saved.contains(note.toUtf8()));
            QVERIFY(saved.contains(savedAtOnce == 2 ? "reviewedByUser: true" : "reviewedByUser: false"));
            return;
        }
        QCOMPARE(model.audioReview() != nullptr, scenario != QLatin1String("no folder"));
        if (!model.audioReview()) {
            QCOMPARE(model.statusMessage(), QStringLiteral("Audio recording could not be saved"));
            return;
        }
        QCOMPARE(model.audioReview()->note(), note);
        QTEST(model.audioReview()->youText(), "you");
        QCOMPARE(model.audioReview()->youTranscriptionUnavailable, is("bleed") || is("unsupported"));
        QCOMPARE(model.requestedWindow(), QStringLiteral("audio-review"));
    }

    void savedDocument_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<qint64>("milliseconds");
        QTest::addColumn<QString>("savedTitle");
        QTest::addColumn<QString>("slug");
        QTest::addColumn<int>("seconds");
        QTest::newRow("only spaces") << "   " << qint64(2999) << "Audio session"
                                     << "_audio-session_" << 2;
        QTest::newRow("ends before it starts") << " Standup " << qint64(-5000) << "Standup"
                                               << "_standup_" << 0;
        QTest::newRow("under a second") << "Q&A" << qint64(999) << "Q&A"
                                        << "_q-a_" << 0;
    }

    // Saved once, under its title, for its whole seconds, listed at the time the recording ended.
    void savedDocument()
    {
        QFETCH(QString, title);
        QFETCH(qint64, milliseconds);
        AudioRig rig;
        AppModel &model = rig.start();
        const AudioSessionResult result = ModelHarness::recording(rig.notes, milliseconds);
        QVERIFY(ModelHarness::finish(model.presentAudioReview(result, *result.folder, {}, false)));
        model.audioReview()->setTitle(title);
        const Task<bool> first = model.saveAudioReview(true);
        const Task<bool> second = model.saveAudioReview(true);
        QVERIFY(ModelHarness::finish(first) && ModelHarness::finish(second));
        QVERIFY(first.result());
        QVERIFY(!second.result());
        const QStringList saved = QDir(rig.notes).entryList({ QStringLiteral("*.md") });
        QCOMPARE(saved.size(), 1);
        QFETCH(QString, slug);
        QVERIFY(saved.first().contains(slug));
        const QByteArray markdown = ModelHarness::savedNote(rig.notes);
        QFETCH(QString, savedTitle);
        QVERIFY(markdown.contains("title: \"" + savedTitle.toUtf8() + "\"\n"));
        QFETCH(int, seconds);
        QVERIFY(markdown.contains("durationSeconds: " + QByteArray::number(seconds) + "\n"));
        QCOMPARE(model.settings().recent.first().savedAt, result.endedAt);
        QCOMPARE(
            model.receipt()->companionFilenames, QStringList({ "session_others.m4a", "session_you.m4a" }));
        QCOMPARE(model.requestedWindow(), QStringLiteral("receipt"));
    }

    // "Record Another" on a receipt records another session, whatever an earlier one is doing.
    // While the two files are transcribed the model says how far they got, for the tray's tooltip;
    // once the review opens it says nothing any more.
    void transcriptionProgress()
    {
        AudioRig rig;
        rig.transcriptionSupported = true;
        rig.holdTranscription = true;
        rig.stopOverride = [&] { return ModelHarness::recording(rig.notes); };
        AppModel &model = rig.start();
        QVERIFY(rig.record());
        QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
        QTRY_COMPARE(rig.transcriptions.size(), 2);
        QCOMPARE(model.transcriptionProgress(), std::nullopt);
        rig.transcriptions.last().resolve(FileResult::ok(QStringLiteral("[0:02] you")));
        QTRY_COMPARE(model.transcriptionProgress(), std::optional(0.5));
        QCOMPARE(model.audio().phase(), AudioSessionPhase::transcribing);
        rig.transcriptions.first().resolve(FileResult::ok(QStringLiteral("[0:01] them")));
        QTRY_VERIFY(model.audioReview());
        QCOMPARE(model.transcriptionProgress(), std::nullopt);
        QCOMPARE(model.audioReview()->othersText(), QStringLiteral("[0:01] them"));
        QCOMPARE(model.audioReview()->youText(), QStringLiteral("[0:02] you"));
    }

    void recordAnother_data()
    {
        QTest::addColumn<bool>("transcribing");
        QTest::newRow("Record Another while an earlier session is transcribing does nothing") << true;
        QTest::newRow("Record Another while a session records stops it") << false;
    }
    void recordAnother()
    {
        QFETCH(bool, transcribing);
        AudioRig rig;
        rig.transcriptionSupported = true;
        rig.holdTranscription = true;
        rig.stopOverride = [&] { return ModelHarness::recording(rig.notes); };
        AppModel &model = rig.start();
        QVERIFY(rig.record());
        if (transcribing) {
            QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
            QTRY_COMPARE(rig.transcriptions.size(), 2);
        }
        rig.context().setReceipt(SavedReceipt { QUuid::createUuid(), QUrl::fromLocalFile(rig.notes + "/a.md"),
            QByteArray(), std::nullopt, SavedReceipt::Kind::audio, {}, {}, true, {}, {} });
        QVERIFY(ModelHarness::finish(model.captureAnother()));
        QVERIFY(!model.receipt());
        QCOMPARE(model.audio().phase(), AudioSessionPhase::recording);
        QCOMPARE(model.statusMessage(), QStringLiteral("Recording audio"));
        QCOMPARE(rig.capture.count("others.prepare(system)"), transcribing ? 2 : 1);
        if (!transcribing)
            return;
        // The earlier session's transcription goes on and its review opens beside the recording.
        rig.transcriptions.first().resolve(FileResult::ok(QStringLiteral("[0:01] earlier")));
        rig.transcriptions.last().resolve(FileResult::ok(QStringLiteral("[0:02] you")));
        QTRY_VERIFY(model.audioReview());
        QCOMPARE(model.audioReview()->othersText(), QStringLiteral("[0:01] earlier"));
        QCOMPARE(model.audio().phase(), AudioSessionPhase::recording);
    }

    // A start that ends by a throw lets the next one start.
    void startThatThrows_data()
    {
        QTest::addColumn<int>("throws");
        QTest::newRow("a start whose running check throws blocks recording for good") << 1;
    }
    void startThatThrows()
    {
        QFETCH(int, throws);
        AudioRig rig;
        rig.settings.othersAudioBundleID = player;
        int asked = 0;
        rig.adjust = [&](ModelServices &services) {
            services.isFamilyRunning = [&asked, throws](const QString &) {
                if (asked++ < throws)
                    throw std::runtime_error("the sound server went away");
                return true;
            };
        };
        AppModel &model = rig.start();
        const Task<> first = model.startAudioRecording();
        QVERIFY(ModelHarness::finish(first) && first.finishedWithError());
        QVERIFY(ModelHarness::finish(model.startAudioRecording()));
        QCOMPARE(model.audio().phase(), AudioSessionPhase::recording);
        QCOMPARE(rig.capture.count("others.prepare(" + player + ")"), 1);
    }

    // Discard leaves the files of a review whose note is being written; once the note failed,
    // discarding the review removes them.
    void discardWhileSaving_data()
    {
        QTest::addColumn<bool>("written");
        QTest::newRow("discarding a review while it is saved deletes the files being saved") << true;
        QTest::newRow("discarding a review whose save failed keeps its files") << false;
    }
    void discardWhileSaving()
    {
        QFETCH(bool, written);
        AudioRig rig;
        rig.holdWrites();
        AppModel &model = rig.start();
        const AudioSessionResult result = ModelHarness::recording(rig.notes);
        for (const QUrl &file : { *result.othersURL, *result.youURL })
            QVERIFY(TestSupport::writeFile(file.toLocalFile(), "audio"));
        QVERIFY(ModelHarness::finish(model.presentAudioReview(result, *result.folder, {}, false)));
        const Task<bool> saving = model.saveAudioReview(true);
        QVERIFY(rig.writes->waitForCalls(1));
        model.discardAudioReview();
        QVERIFY(model.audioReview());
        rig.writes->answer(0, written);
        QVERIFY(ModelHarness::finish(saving));
        QCOMPARE(saving.result(), written);
        if (!written)
            model.discardAudioReview();
        QThreadPool::globalInstance()->waitForDone();
        const QStringList audio = QDir(rig.notes).entryList({ QStringLiteral("*.m4a") });
        QCOMPARE(audio, written ? QStringList({ "session_others.m4a", "session_you.m4a" }) : QStringList());
        QVERIFY(!model.audioReview());
        QCOMPARE(model.receipt().has_value(), written);
    }

    // A transcription that answers after its session was saved another way (at a quit, or when a
    // newer recording ended) opens no review and saves nothing more.
    void lateTranscription_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("a transcription of an older generation is accepted at a quit") << "quit";
        QTest::newRow("a transcription answering while a quit stops the next recording is accepted")
            << "quit while recording";
        QTest::newRow("a transcription of another pending session is accepted") << "newer session";
    }
    void lateTranscription()
    {
        QFETCH(QString, when);
        AudioRig rig;
        rig.transcriptionSupported = true;
        rig.holdTranscription = true;
        int stops = 0;
        rig.stopOverride = [&] {
            AudioSessionResult result = ModelHarness::recording(rig.notes);
            result.othersURL
                = QUrl::fromLocalFile(rig.notes + QStringLiteral("/session%1_others.m4a").arg(++stops));
            result.youURL.reset();
            result.heardYou = false;
            // The earlier session's transcription answers, in full, once the quit has begun.
            if (stops == 2 && when == "quit while recording")
                rig.transcriptions.first().resolve(FileResult::ok(QStringLiteral("[0:01] late")));
            return result;
        };
        AppModel &model = rig.start();
        QVERIFY(rig.record());
        QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
        QTRY_COMPARE(rig.transcriptions.size(), 1);
        if (when == "quit while recording") {
            QVERIFY(ModelHarness::finish(model.startAudioRecording()));
            QCOMPARE(model.audio().phase(), AudioSessionPhase::recording);
            QVERIFY(ModelHarness::finish(model.finalizeOpenSessionsForQuit()));
            ModelHarness::settle();
            QVERIFY(!model.audioReview());
            QStringList saved;
            for (const QString &name : QDir(rig.notes).entryList({ QStringLiteral("*.md") }))
                saved << QString::fromUtf8(TestSupport::readFile(QDir(rig.notes).filePath(name)));
            QCOMPARE(saved.size(), 2);
            QCOMPARE(saved.filter(QStringLiteral("Quit before transcription finished.")).size(), 1);
            QCOMPARE(saved.filter(QStringLiteral("[0:01] late")).size(), 0);
            return;
        }
        const bool quit = when == "quit";
        if (quit) {
            QVERIFY(ModelHarness::finish(model.finalizeOpenSessionsForQuit()));
        } else {
            QVERIFY(ModelHarness::finish(model.startAudioRecording()));
            QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
            QTRY_COMPARE(rig.transcriptions.size(), 2);
        }
        QCOMPARE(QDir(rig.notes).entryList({ QStringLiteral("*.md") }).size(), 1);
        rig.transcriptions.first().resolve(FileResult::ok(QStringLiteral("[0:01] late")));
        ModelHarness::settle();
        QVERIFY(!model.audioReview());
        QCOMPARE(QDir(rig.notes).entryList({ QStringLiteral("*.md") }).size(), 1);
        QCOMPARE(model.audio().phase(), quit ? AudioSessionPhase::saved : AudioSessionPhase::transcribing);
        if (quit)
            return;
        rig.transcriptions.last().resolve(FileResult::ok(QStringLiteral("[0:02] newer")));
        QTRY_VERIFY(model.audioReview());
        QCOMPARE(model.audioReview()->othersText(), QStringLiteral("[0:02] newer"));
        QVERIFY(model.audioReview()->othersURL->fileName().startsWith(QStringLiteral("session2")));
    }

    void discardRemovesBothFiles()
    {
        AudioRig rig;
        AppModel &model = rig.start();
        const AudioSessionResult result = ModelHarness::recording(rig.notes);
        for (const QUrl &file : { *result.othersURL, *result.youURL })
            QVERIFY(TestSupport::writeFile(file.toLocalFile(), "audio"));
        QVERIFY(ModelHarness::finish(model.presentAudioReview(result, *result.folder, {}, false)));
        model.discardAudioReview();
        QTRY_VERIFY(QDir(rig.notes).isEmpty());
        QVERIFY(!model.audioReview());
        QCOMPARE(model.audio().phase(), AudioSessionPhase::idle);
        QCOMPARE(model.statusMessage(), QStringLiteral("Audio review discarded"));
    }

    // Each audio setting is stored and said: a device by its name, the system default for none or for
    // one that is not there; an application by its name, its identifier when it has no name, nothing
    // after "Others: " for an empty name, the whole computer for no or an empty identifier.
    // The stop's warning is about that session: it goes once the session is saved or discarded, and
    // stays while its review is open.
    void warningEndsWithTheSession_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<bool>("warned");
        QTest::newRow("saved") << "save" << false;
        QTest::newRow("discarded") << "discard" << false;
        QTest::newRow("still under review") << "" << true;
    }
    void warningEndsWithTheSession()
    {
        QFETCH(QString, end);
        AudioRig rig;
        AppModel &model = rig.start();
        QVERIFY(rig.record());
        // Nothing plays: the stop warns that no system audio was heard.
        QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
        QTRY_VERIFY(model.audioReview());
        QCOMPARE(model.audio().warning().has_value(), true);
        if (end == u"save")
            QVERIFY(ModelHarness::finish(model.saveAudioReview(true)));
        else if (end == u"discard")
            model.discardAudioReview();
        QTEST(model.audio().warning().has_value(), "warned");
    }

    void audioSettingsSay_data()
    {
        QTest::addColumn<QString>("change"); // "you:on|off", "mic:<uid>", "others:<id>[|<name>]"
        QTest::addColumn<QString>("status");
        QTest::newRow("microphone off") << "you:off"
                                        << "You (microphone) is off";
        QTest::newRow("microphone on") << "you:on"
                                       << "You (microphone) is on";
        QTest::newRow("a device") << "mic:usb"
                                  << "Microphone: USB Mic";
        QTest::newRow("a device not there") << "mic:gone"
                                            << "Microphone: System Default";
        QTest::newRow("the default device") << "mic:"
                                            << "Microphone: System Default";
        QTest::newRow("an application") << "others:org.example.Player|Player"
                                        << "Others: Player";
        QTest::newRow("an application without a name") << "others:org.example.Player"
                                                       << "Others: org.example.Player";
        QTest::newRow("an application with an empty name") << "others:org.example.Player|"
                                                           << "Others: ";
        QTest::newRow("an empty identifier") << "others:|Player"
                                             << "Others: This Computer";
        QTest::newRow("the whole computer") << "others:"
                                            << "Others: This Computer";
    }

    void audioSettingsSay()
    {
        QFETCH(QString, change);
        AudioRig rig;
        rig.adjust = [](ModelServices &services) {
            services.readInputDevices = [] {
                return ModelServices::InputDevices {
                    { { 7, QStringLiteral("usb"), QStringLiteral("USB Mic") } }, std::nullopt
                };
            };
        };
        AppModel &model = rig.start();
        QTRY_VERIFY(model.flowContext().inputDevices().device(QStringLiteral("usb")));
        const QString kind = change.section(u':', 0, 0);
        const QString value = change.section(u':', 1);
        if (kind == u"you")
            model.applyRecordYouMicrophone(value == u"on");
        else if (kind == u"mic")
            model.applyMicrophoneDeviceUID(value.isEmpty() ? std::nullopt : std::optional(value));
        else if (value.isEmpty())
            model.applyOthersAudioSource(std::nullopt, std::nullopt);
        else
            model.applyOthersAudioSource(value.section(u'|', 0, 0),
                value.contains(u'|') ? std::optional(value.section(u'|', 1)) : std::nullopt);
        QTEST(model.statusMessage(), "status");
        QCOMPARE(AppSettingsStore(rig.defaults).load(), model.settings());
        if (kind == u"you")
            QCOMPARE(model.settings().recordYouMicrophone, value == u"on");
    }
};

QTEST_MAIN(TestAudioSessionFlow)
#include "tst_AudioSessionFlow.moc"
