// The transcription flow around the recognizer: which streams are attempted, the record, the notes,
// the status texts, setup errors, the time-out and cancellation. The recognizer is a stand-in here;
// tst_SpeechTranscription hears real speech.
#include "Audio/AudioFileTranscriber.h"
#include "Platform/SpeechFileRecognizer.h"

#include <QCoreApplication>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using FileResult = AudioFileTranscriber::FileResult;

namespace {

const QString kOthers = QStringLiteral("/sessions/a_others.m4a");
const QString kYou = QStringLiteral("/sessions/a_you.m4a");
const QString kPrefix = QStringLiteral("Transcription could not finish: ");

// A recognizer whose answers the test decides; `recognize` runs on the worker thread.
class FakeRecognizer final : public SpeechFileRecognizer
{
public:
    using Behaviour = std::function<SpeechRecognitionOutcome(const QString &, const Callbacks &)>;

    ModelState state = ModelState::installed;
    Behaviour behaviour = [](const QString &, const Callbacks &) { return SpeechRecognitionOutcome {}; };

    QStringList supportedLocales() const override { return { QStringLiteral("en-US") }; }
    ModelState modelState(const QString &) const override { return state; }
    SpeechRecognitionOutcome recognize(
        const QString &path, const QString &, const Callbacks &callbacks) const override
    {
        SpeechRecognitionOutcome outcome = behaviour(path, callbacks);
        returned = true;
        return outcome;
    }
    mutable std::atomic<bool> returned { false };
};

AudioFileTranscriber::Environment environmentWith(
    std::shared_ptr<FakeRecognizer> recognizer, TaskClock &clock)
{
    return { std::move(recognizer), &clock, QStringLiteral("en-US") };
}

template <typename T> T await(Task<T> task)
{
    if (!QTest::qWaitFor([&] { return task.isFinished(); }, TestSupport::patienceMs))
        qFatal("task did not finish");
    return task.result();
}

} // namespace

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<FileResult>)
Q_DECLARE_METATYPE(AudioTranscripts)

class TestAudioFileTranscriber : public QObject
{
    Q_OBJECT

private slots:
    void sessionRecord_data()
    {
        QTest::addColumn<bool>("heardOthers");
        QTest::addColumn<bool>("heardYou");
        QTest::addColumn<std::optional<QString>>("othersPath");
        QTest::addColumn<std::optional<FileResult>>("othersResult");
        QTest::addColumn<std::optional<FileResult>>("youResult");
        QTest::addColumn<AudioTranscripts>("expected");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("opened");

        const auto ok
            = [](const char *text) { return std::optional(FileResult::ok(QString::fromUtf8(text))); };
        const auto failed = [](const char *text) {
            return std::optional(FileResult::failed(kPrefix + QString::fromUtf8(text)));
        };
        const QString tag = QStringLiteral("pocketsphinx");
        QTest::newRow("neither heard") << false << false << std::optional(kOthers) << ok("x") << ok("y")
                                       << AudioTranscripts {} << QStringList {} << QStringList {};
        QTest::newRow("others heard but no file, you not heard")
            << true << false << std::optional<QString>() << ok("x") << ok("y") << AudioTranscripts {}
            << QStringList {} << QStringList {};
        // Both at once: one status for the two.
        QTest::newRow("others fails, you succeeds")
            << true << true << std::optional(kOthers) << failed("A.") << ok("[0:02] fine")
            << AudioTranscripts { {}, "[0:02] fine", tag, kPrefix + "A.", true, false }
            << QStringList { "Transcribing…" } << QStringList { kOthers, kYou };
        QTest::newRow("both fail: Others' message first")
            << true << true << std::optional(kOthers) << failed("A.") << failed("B.")
            << AudioTranscripts { {}, {}, std::nullopt, kPrefix + "A. " + kPrefix + "B.", true, true }
            << QStringList { "Transcribing…" } << QStringList { kOthers, kYou };
        QTest::newRow("no speech: empty text, tag present")
            << true << false << std::optional(kOthers) << ok("") << ok("unused")
            << AudioTranscripts { {}, {}, tag, {}, false, false } << QStringList { "Transcribing others…" }
            << QStringList { kOthers };
        QTest::newRow("only you heard")
            << false << true << std::optional(kOthers) << ok("x") << failed("B.")
            << AudioTranscripts { {}, {}, std::nullopt, kPrefix + "B.", false, true }
            << QStringList { "Transcribing you…" } << QStringList { kYou };
    }

    void sessionRecord()
    {
        QFETCH(bool, heardOthers);
        QFETCH(bool, heardYou);
        QFETCH(std::optional<QString>, othersPath);
        QFETCH(std::optional<FileResult>, othersResult);
        QFETCH(std::optional<FileResult>, youResult);
        QFETCH(AudioTranscripts, expected);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, opened);

        QStringList sent;
        QStringList asked;
        auto fileTranscriber = [&](const QString &path) -> Task<FileResult> {
            asked.push_back(path);
            co_return path == kOthers ? *othersResult : *youResult;
        };
        const AudioTranscripts transcripts = await(AudioFileTranscriber::transcribe(
            othersPath, kYou, heardOthers, heardYou, [&](const QString &text) { sent.push_back(text); },
            fileTranscriber));

        QCOMPARE(transcripts, expected);
        QCOMPARE(sent, statuses);
        // Only heard files are opened.
        QCOMPARE(asked, opened);
    }

    // The two files are heard at the same time, each on its own worker, and the progress said is
    // how far both got together.
    void bothFilesAtOnce()
    {
        auto recognizer = std::make_shared<FakeRecognizer>();
        std::atomic<int> inside { 0 };
        std::atomic<bool> release { false };
        recognizer->behaviour = [&](const QString &path, const SpeechFileRecognizer::Callbacks &callbacks) {
            ++inside;
            callbacks.heard(path == kOthers ? 0.5 : 0.25);
            while (!release && !callbacks.shouldStop()) {
                callbacks.progressed();
                std::this_thread::sleep_for(5ms);
            }
            callbacks.heard(1.0);
            callbacks.recognized({ path == kOthers ? "them" : "me", 1.0, true });
            return SpeechRecognitionOutcome {};
        };
        QList<double> shares;
        QStringList sent;
        Task<AudioTranscripts> task = AudioFileTranscriber::transcribe(
            kOthers, kYou, true, true, [&](const QString &text) { sent.push_back(text); }, {},
            environmentWith(recognizer, TaskClock::system()), [&](double share) { shares.push_back(share); });
        QTRY_COMPARE(inside.load(), 2);
        QTRY_VERIFY(!shares.isEmpty() && shares.last() == 0.375);
        release = true;
        const AudioTranscripts transcripts = await(task);
        QCOMPARE(transcripts.others, QStringLiteral("[0:01] them"));
        QCOMPARE(transcripts.you, QStringLiteral("[0:01] me"));
        QCOMPARE(shares.last(), 1.0);
        QVERIFY(std::is_sorted(shares.begin(), shares.end()));
        QCOMPARE(sent, QStringList { "Transcribing…" });
    }

    void fileFailures_data()
    {
        QTest::addColumn<int>("modelState");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("statusSent");

        using Model = SpeechFileRecognizer::ModelState;
        using Status = SpeechRecognitionOutcome::Status;
        const QString unloadable = QStringLiteral(
            "The on-device speech model could not be loaded. Check that the pocketsphinx-en-us package is "
            "installed and try again; your audio stays on this computer.");
        QTest::newRow("no model for the language")
            << int(Model::unsupported) << int(Status::finished) << QString()
            << "No on-device speech model is available for this language." << false;
        QTest::newRow("unreadable file")
            << int(Model::installed) << int(Status::fileUnreadable) << "The recording has no audio."
            << "The recording has no audio." << true;
    }

    void fileFailures()
    {
        QFETCH(int, modelState);
        QFETCH(int, outcome);
        QFETCH(QString, detail);
        QFETCH(QString, message);
        QFETCH(bool, statusSent);

        auto recognizer = std::make_shared<FakeRecognizer>();
        recognizer->state = SpeechFileRecognizer::ModelState(modelState);
        recognizer->behaviour = [&](const QString &, const SpeechFileRecognizer::Callbacks &callbacks) {
            callbacks.recognized({ "partial words", 0.5, true });
            return SpeechRecognitionOutcome { SpeechRecognitionOutcome::Status(outcome), detail };
        };
        QStringList sent;
        const FileResult result = await(AudioFileTranscriber::transcribeFile(
            kOthers, [&](const QString &text) { sent.push_back(text); },
            environmentWith(recognizer, TaskClock::system())));

        QCOMPARE(result, FileResult::failed(kPrefix + message));
        QCOMPARE(sent, statusSent ? QStringList { "Transcribing…" } : QStringList {});
    }

    // Given up only after 300 s without progress, never while the recognizer moves on, however long the
    // file: (seconds of progress, then of silence) in turns.
    void stallLimit_data()
    {
        QTest::addColumn<QList<int>>("turns");
        QTest::addColumn<bool>("timesOut");
        QTest::newRow("stalled from the start") << QList<int> { 0, 305 } << true;
        QTest::newRow("long file, short pauses") << QList<int> { 200, 250, 200, 0 } << false;
    }
    void stallLimit()
    {
        QFETCH(QList<int>, turns);
        QFETCH(bool, timesOut);
        ManualTaskClock clock;
        auto recognizer = std::make_shared<FakeRecognizer>();
        std::atomic<bool> progressing { false };
        std::atomic<bool> finish { false };
        std::atomic<int> reported { 0 };
        recognizer->behaviour = [&](const QString &, const SpeechFileRecognizer::Callbacks &callbacks) {
            while (!finish && !callbacks.shouldStop()) {
                if (progressing) {
                    callbacks.progressed();
                    ++reported;
                }
                std::this_thread::sleep_for(1ms);
            }
            callbacks.recognized({ "still here", 3599.0, true });
            return SpeechRecognitionOutcome {};
        };
        Task<FileResult> task
            = AudioFileTranscriber::transcribeFile(kOthers, {}, environmentWith(recognizer, clock));
        for (qsizetype turn = 0; turn < turns.size(); ++turn) {
            progressing = turn % 2 == 0;
            for (int step = 0; step < turns[turn] / 5; ++step) {
                QTRY_VERIFY(clock.pendingTimers() == 1 || task.isFinished());
                // The recognizer reports progress in this step, however late a busy machine runs it.
                const int before = reported;
                if (progressing)
                    QTRY_VERIFY(reported > before);
                clock.advance(5s);
            }
        }
        QTRY_VERIFY(clock.pendingTimers() == 1 || task.isFinished());
        QCOMPARE(task.isFinished(), timesOut);
        finish = true;
        QTRY_VERIFY(task.isFinished() && recognizer->returned);
        QCOMPARE(task.result(),
            timesOut ? FileResult::failed(kPrefix + "Transcription timed out.")
                     : FileResult::ok("[59:59] still here"));
    }

    void cancellationReachesAGivenFileTranscriber()
    {
        bool sawCancel = false;
        bool called = false;
        auto fileTranscriber = [&](const QString &) -> Task<FileResult> {
            called = true;
            co_await sleepFor(1h);
            sawCancel = CurrentTask::isCancelled();
            co_return FileResult::failed("stopped");
        };
        Task<AudioTranscripts> task
            = AudioFileTranscriber::transcribe(kOthers, kYou, true, true, {}, fileTranscriber);
        QTRY_VERIFY(called);
        task.cancel();
        QTRY_VERIFY(task.isFinished());
        QVERIFY(sawCancel);
        QCOMPARE(task.result(), (AudioTranscripts { {}, {}, std::nullopt, "stopped stopped", true, true }));
    }
};

QTEST_GUILESS_MAIN(TestAudioFileTranscriber)
#include "tst_AudioFileTranscriber.moc"
