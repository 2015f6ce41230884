#include "Audio/LiveAudioCapture.h"
#include "AudioFileProbe.h"
#include "Documents/AppSettingsStore.h"
#include "Documents/DefaultsStore.h"
#include "Documents/EncryptedDraft.h"
#include "GenerousWaits.h"
#include "Model/AudioReviewSession.h"
#include "ModelHarness.h"
#include "PrivatePulseAudio.h"
#include "ScopedEnvironment.h"
#include "Shell/DovrinApp.h"
#include "Shell/DovrinAppDelegate.h"
#include "Shell/SingleInstance.h"
#include "TestSupport.h"
#include "TonePlayers.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/statvfs.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <thread>

// The whole program recording through a sound server of the test's own, attacked from outside: the
// program paused and killed, the sound server killed and restarted, the capture folder full, a
// termination while a review cannot be saved. What must hold each time is read back from the files.
namespace {

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray oneLine(const QString &text)
{
    return text.toUtf8().replace('\n', ' ');
}

// Says whether an unfinished capture is offered, once the draft store has been read.
Task<> sayOffered(AppModel &model)
{
    co_await model.startDraftStoreIfNeeded();
    say(QByteArray("offered ") + (model.hasRecoverableDraft() ? "yes" : "no"));
}

// The child: the program as main() assembles it, with a transcriber that answers at once. It prints
// "recording", "elapsed <n>" each whole second, "ended <seconds>", "warning <text>", "status <text>",
// and "review <json>" when a review opens; it reads "record" (the tray's record command), "save", "edit
// <title>", "others <transcript>", "you <transcript>", "resume" (the unfinished capture's "Resume Review")
// and "offered" (answered "offered yes" or "offered no" once the draft store was read) from its standard
// input, and says "done <line>" once it handled one.
int recordingChild(
    QApplication &application, const QString &instanceFolder, std::chrono::milliseconds serverWait)
{
    SingleInstance instance(instanceFolder);
    if (instance.claim() != SingleInstance::Claim::primary)
        return 2;
    ModelServices services = ModelServices::live();
    services.makeAudio = [serverWait] {
        AudioSessionCoordinator::Environment environment;
        environment.engines = liveAudioCaptureEngineFactory();
        environment.serverReturnLimit = serverWait;
        return std::make_unique<AudioSessionCoordinator>(std::move(environment));
    };
    services.audioFileTranscriber = [](const QString &path) -> Task<AudioFileTranscriber::FileResult> {
        co_return AudioFileTranscriber::FileResult::ok(
            QStringLiteral("[0:00] heard in ") + QFileInfo(path).fileName());
    };
    DovrinApp app(
        { QApplication::arguments(), nullptr, std::move(services), {}, nullptr, [] { return false; } });
    app.start();
    AppModel &model = app.model();
    AudioSessionCoordinator &audio = model.audio();
    auto previous = std::make_shared<AudioSessionPhase>(audio.phase());
    QObject::connect(
        &audio, &AudioSessionCoordinator::phaseChanged, &app, [&audio, previous](AudioSessionPhase phase) {
            if (phase == AudioSessionPhase::recording)
                say("recording");
            if (*previous == AudioSessionPhase::stopping && phase != AudioSessionPhase::stopping)
                say("ended " + QByteArray::number(audio.elapsed(), 'f', 3));
            *previous = phase;
        });
    auto second = std::make_shared<int>(0);
    QObject::connect(&audio, &AudioSessionCoordinator::elapsedChanged, &app, [second](double seconds) {
        if (int(seconds) > *second)
            say("elapsed " + QByteArray::number(*second = int(seconds)));
    });
    QObject::connect(
        &audio, &AudioSessionCoordinator::warningChanged, &app, [](const std::optional<QString> &warning) {
            say("warning " + oneLine(warning.value_or(QString())));
        });
    QObject::connect(&model, &AppModel::statusMessageChanged, &app,
        [&model] { say("status " + oneLine(model.statusMessage())); });
    QObject::connect(&model, &AppModel::audioReviewChanged, &app, [&model] {
        const std::shared_ptr<AudioReviewSession> review = model.audioReview();
        if (!review)
            return;
        QJsonObject fields;
        fields["title"] = review->title();
        fields["note"] = review->note();
        fields["statusText"] = review->statusText();
        fields["heardOthers"] = review->heardOthers;
        fields["heardYou"] = review->heardYou;
        fields["others"] = review->othersURL ? review->othersURL->toLocalFile() : QString();
        fields["you"] = review->youURL ? review->youURL->toLocalFile() : QString();
        fields["othersText"] = review->othersText();
        fields["youText"] = review->youText();
        say("review " + QJsonDocument(fields).toJson(QJsonDocument::Compact));
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[256];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count <= 0) {
            input.setEnabled(false);
            return;
        }
        pending += QByteArray(chunk, int(count));
        while (pending.contains('\n')) {
            const QByteArray line = pending.left(pending.indexOf('\n'));
            pending.remove(0, line.size() + 1);
            if (line == "record")
                model.handleAudioInvocation();
            else if (line == "save")
                model.saveAudioReview(true);
            else if (line.startsWith("edit ") && model.audioReview())
                model.audioReview()->setTitle(QString::fromUtf8(line.mid(5)));
            else if (line.startsWith("others ") && model.audioReview())
                model.audioReview()->setOthersText(QString::fromUtf8(line.mid(7)));
            else if (line.startsWith("you ") && model.audioReview())
                model.audioReview()->setYouText(QString::fromUtf8(line.mid(4)));
            else if (line == "resume")
                model.resumePendingDraft();
            else if (line == "offered")
                sayOffered(model);
            say("done " + line);
        }
    });
    QTimer::singleShot(0, &app, [&model] { model.handleAudioInvocation(); });
    return application.exec();
}

double seconds(const QString &file)
{
    const auto info = AudioFileProbe::probe(file);
    return info && info->sampleRate > 0 ? double(info->playableSamples()) / info->sampleRate : -1;
}

// The file of a session's stream in `folder` ("others" or "you"); empty when there is none.
QString recording(const QString &folder, const QString &stream)
{
    const QStringList files = QDir(folder).entryList({ "*_" + stream + ".m4a" }, QDir::Files);
    return files.size() == 1 ? QDir(folder).filePath(files.first()) : QString();
}

// Where sound first rises above a whisper, in seconds from the file's start.
double onset(const QString &file)
{
    const auto info = AudioFileProbe::probe(file);
    const QVector<float> samples = AudioFileProbe::decodeChannel(file);
    if (!info || info->sampleRate <= 0)
        return -1;
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 0.05f)
            return double(i) / info->sampleRate;
    }
    return -1;
}

// A decoded recording's first channel and its rate.
struct Decoded
{
    std::vector<float> mono;
    double rate = 0;

    explicit Decoded(const QString &file)
    {
        const auto info = AudioFileProbe::probe(file);
        const QVector<float> samples = AudioFileProbe::decodeChannel(file);
        mono.assign(samples.cbegin(), samples.cend());
        rate = info ? info->sampleRate : 0;
        // The decoder hands over the encoder's priming first: it comes before the session's start.
        if (info && info->startSamples < 0)
            mono.erase(mono.begin(),
                mono.begin() + std::min<qsizetype>(-info->startSamples, qsizetype(mono.size())));
    }
    std::vector<float> between(double from, double to) const
    {
        const auto at = [&](double seconds) {
            return mono.begin() + std::clamp<qsizetype>(qsizetype(seconds * rate), 0, qsizetype(mono.size()));
        };
        return std::vector<float>(at(from), at(to));
    }
    double rms(double from, double to) const { return ToneAnalysis::rms(between(from, to)); }
    double energyAt(double from, double to, double hz) const
    {
        return ToneAnalysis::energyAt(between(from, to), rate, hz);
    }
};

// A small file system of its own mounted on a folder (as root), so that a test can fill a disk.
class SmallDisk
{
public:
    SmallDisk(const QString &folder, const QString &size)
        : m_folder(folder)
    {
        m_mounted = ::geteuid() == 0
            && QProcess::execute("mount", { "-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder }) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            QProcess::execute("umount", { "-l", m_folder });
    }
    bool isMounted() const { return m_mounted; }
    // Fills it up with a file of its own, leaving about `leave` bytes (none at all for 0: not even
    // the last page a small note would fit in).
    bool fill(qint64 leave = 0)
    {
        QFile filler(m_folder + "/.filler");
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        const QByteArray block(4096, 'x');
        for (;;) {
            struct statvfs space
            {
            };
            if (::statvfs(QFile::encodeName(m_folder).constData(), &space) != 0)
                return false;
            if (qint64(space.f_bavail) * qint64(space.f_frsize) <= leave + block.size())
                break;
            if (filler.write(block) != block.size() || !filler.flush())
                return leave == 0;
        }
        if (leave > 0)
            return filler.flush();
        while (filler.write(block.first(256)) == 256 && filler.flush()) { }
        return true;
    }
    // Gives the room back.
    void empty() { QFile::remove(m_folder + "/.filler"); }

private:
    QString m_folder;
    bool m_mounted = false;
};

// One run of the program as the child above, on the test's sound server, with a home of its own.
class RecordingChild
{
public:
    explicit RecordingChild(const QByteArray &pulseServer)
    {
        m_valid = m_home.isValid() && QDir().mkpath(notes()) && QDir().mkpath(m_home.filePath("runtime"));
        AppSettings settings;
        settings.setupComplete = true;
        settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(notes()));
        settings.microphoneDeviceUID = QStringLiteral("mic");
        std::shared_ptr<DefaultsStore> suite = SettingsDefaultsStore::open(
            AppSettingsStore::suiteName(), m_home.filePath("config/com.quorvel.dovrin"));
        AppSettingsStore(suite).save(settings);
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert("HOME", m_home.path());
        m_environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        m_environment.insert("XDG_DATA_HOME", m_home.filePath("data"));
        m_environment.insert("PULSE_SERVER", QString::fromLocal8Bit(pulseServer));
        m_environment.remove("DISPLAY");
        m_environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    ~RecordingChild()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGCONT);
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool isValid() const { return m_valid; }
    QString notes() const { return m_home.filePath("notes"); }
    QString home() const { return m_home.path(); }

    // `serverWait`: how long a lost sound server may take to come back.
    bool start(std::chrono::milliseconds serverWait = AudioSessionCoordinator::defaultServerReturnLimit)
    {
        m_lines.clear();
        m_process.setProcessEnvironment(m_environment);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        TestSupport::endWithTest(m_process);
        m_process.start(QCoreApplication::applicationFilePath(),
            { "--record", m_home.filePath("runtime/com.quorvel.dovrin"),
                QString::number(serverWait.count()) });
        return m_process.waitForStarted(10000);
    }
    qint64 pid() const { return m_process.processId(); }
    QProcess &process() { return m_process; }
    void send(const QByteArray &line) { m_process.write(line + '\n'); }

    // The first line that starts with `prefix` (the rest of it), once it came; none until then.
    std::optional<QString> line(const QString &prefix)
    {
        while (m_process.canReadLine())
            m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
        for (const QString &seen : std::as_const(m_lines)) {
            if (seen.startsWith(prefix))
                return seen.mid(prefix.size());
        }
        return std::nullopt;
    }
    bool waitFor(const QString &prefix, int milliseconds = 30000)
    {
        return QTest::qWaitFor(
                   [&] { return line(prefix) || m_process.state() == QProcess::NotRunning; }, milliseconds)
            && line(prefix);
    }
    QJsonObject review()
    {
        return QJsonDocument::fromJson(line("review ").value_or(QString()).toUtf8()).object();
    }
    // An encrypted draft is stored in the program's data folder.
    bool keepsDraft() const
    {
        QDirIterator files(m_home.filePath("data"), { EncryptedDraftStore::draftFileName }, QDir::Files,
            QDirIterator::Subdirectories);
        return files.hasNext();
    }
    // The review opened last.
    QJsonObject lastReview()
    {
        line({});
        for (auto seen = m_lines.crbegin(); seen != m_lines.crend(); ++seen) {
            if (seen->startsWith("review "))
                return QJsonDocument::fromJson(seen->mid(7).toUtf8()).object();
        }
        return {};
    }
    QString transcript() const { return m_lines.join(u'\n') + '\n' + QString::fromUtf8(m_errors); }
    void collectErrors() { m_errors += m_process.readAllStandardError(); }

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    QProcess m_process;
    QStringList m_lines;
    QByteArray m_errors;
    bool m_valid = false;
};

} // namespace

class TestRecordingSurvives : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_server = std::make_unique<PrivatePulseAudio>();
        QVERIFY2(m_server->isRunning(), m_server->log().constData());
        m_environment.set("PULSE_SERVER", m_server->address());
        m_players = std::make_unique<TonePlayers>();
        QVERIFY(m_players->keepSinksAwake());
    }
    void cleanup()
    {
        m_players.reset();
        m_environment.restore();
        m_server.reset();
    }

    // A program killed at once keeps both recordings up to about the same moment, whenever in a second
    // the kill comes.
    void killedWhileRecording_data()
    {
        QTest::addColumn<int>("afterMs");
        QTest::newRow("2.2 s") << 2200;
        QTest::newRow("3.05 s") << 3050;
        QTest::newRow("5.6 s") << 5600;
        QTest::newRow("7.95 s") << 7950;
    }
    void killedWhileRecording()
    {
        QFETCH(int, afterMs);
        QVERIFY(startTones());
        RecordingChild child(m_server->address());
        QVERIFY(child.isValid() && child.start());
        QVERIFY2(child.waitFor("recording"), qPrintable(child.transcript()));
        QTest::qWait(afterMs);
        ::kill(pid_t(child.pid()), SIGKILL);
        QVERIFY(child.process().waitForFinished(TestSupport::patienceMs));

        const double others = seconds(recording(child.notes(), "others"));
        const double you = seconds(recording(child.notes(), "you"));
        qInfo("killed after %.2f s: Others %.3f s, You %.3f s", afterMs / 1000.0, others, you);
        QVERIFY2(others > 0 && you > 0, "a recording is unreadable after the kill");
        QVERIFY2(std::abs(others - you) < 0.1, "the two recordings end apart");
        // Written a second behind, it loses about the last second, a busy machine nearly two; a writer
        // that kept more in memory would lose whole seconds more, one that never let go all of it.
        QVERIFY2(others > afterMs / 1000.0 - 2.5, "more than the last seconds of the recording are lost");
    }

    // A program killed while a recording runs, or while its review is open, leaves it offered at the
    // next start: resumed, it is transcribed as far as its files go and saved beside them, with a note
    // that says where it ended. A saved session is offered no more.
    void killedRecordingIsOffered_data()
    {
        QTest::addColumn<QString>("killedWhile");
        QTest::newRow("recording") << "recording";
        QTest::newRow("reviewing") << "reviewing";
        QTest::newRow("saved") << "saved";
    }
    void killedRecordingIsOffered()
    {
        QFETCH(QString, killedWhile);
        QVERIFY(startTones());
        RecordingChild child(m_server->address());
        QVERIFY(child.isValid() && child.start());
        QVERIFY2(child.waitFor("recording"), qPrintable(child.transcript()));
        QVERIFY(child.waitFor("elapsed 3"));
        // Kept from the start of the recording until its review is saved.
        QTRY_VERIFY(child.keepsDraft());
        if (killedWhile != u"recording") {
            child.send("record");
            QVERIFY2(child.waitFor("review "), qPrintable(child.transcript()));
        }
        if (killedWhile == u"saved") {
            child.send("save");
            QVERIFY2(child.waitFor("status Saved audio session"), qPrintable(child.transcript()));
            QTRY_VERIFY(!child.keepsDraft());
        }
        ::kill(pid_t(child.pid()), SIGKILL);
        QVERIFY(child.process().waitForFinished(TestSupport::patienceMs));
        const QString others = recording(child.notes(), "others");
        const QString you = recording(child.notes(), "you");
        QVERIFY(seconds(others) > 1 && seconds(you) > 1);
        const QByteArray before = ModelHarness::savedNote(child.notes());

        QVERIFY(child.start());
        child.send("offered");
        QVERIFY2(child.waitFor("offered "), qPrintable(child.transcript()));
        const bool offered = killedWhile != u"saved";
        QCOMPARE(*child.line("offered "), offered ? QStringLiteral("yes") : QStringLiteral("no"));
        if (!offered)
            return;
        QVERIFY(before.isEmpty());
        // The new start's own recording ends first, its review saved as the resumed one opens.
        QVERIFY2(child.waitFor("recording"), qPrintable(child.transcript()));
        child.send("record");
        QVERIFY2(child.waitFor("review "), qPrintable(child.transcript()));
        const QString newOthers = child.review()["others"].toString();
        QVERIFY(newOthers != others);
        child.send("resume");
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return child.lastReview()["others"].toString() == others
                             || child.process().state() == QProcess::NotRunning;
                     },
                     TestSupport::patienceMs),
            qPrintable(child.transcript()));
        const QJsonObject resumed = child.lastReview();
        QCOMPARE(resumed["you"].toString(), you);
        QCOMPARE(resumed["othersText"].toString(), "[0:00] heard in " + QFileInfo(others).fileName());
        QCOMPARE(resumed["youText"].toString(), "[0:00] heard in " + QFileInfo(you).fileName());
        const QRegularExpressionMatch ended
            = QRegularExpression("The program ended while recording, at 0:(\\d\\d)\\. What was written "
                                 "until then is kept\\.")
                  .match(resumed["note"].toString());
        QVERIFY2(ended.hasMatch(), qPrintable(resumed["note"].toString()));
        QVERIFY2(std::abs(ended.captured(1).toInt() - seconds(others)) <= 2.5, qPrintable(ended.captured(0)));
        child.send("save");
        const auto savedWithOthers = [&] {
            for (const QString &name : QDir(child.notes()).entryList({ "*.md" }, QDir::Files)) {
                if (TestSupport::readFile(QDir(child.notes()).filePath(name))
                        .contains(QFileInfo(others).fileName().toUtf8()))
                    return true;
            }
            return false;
        };
        QVERIFY2(QTest::qWaitFor(savedWithOthers, TestSupport::patienceMs), qPrintable(child.transcript()));
    }

    // A paused program (SIGSTOP, then SIGCONT) records on one clock: both files cover the session from
    // start to stop, and a sound heard by both after the pause is at the same place in both. A program
    // that gets only a sliver of the processor once it runs again takes seconds to read what the
    // server kept for it.
    void pausedWhileRecording_data()
    {
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<int>("starvedMs");
        QTest::newRow("6 s") << 6000 << 0;
        QTest::newRow("1.5 s") << 1500 << 0;
        QTest::newRow("6 s, then starved for 3 s") << 6000 << 3000;
    }
    void pausedWhileRecording()
    {
        QFETCH(int, pauseMs);
        QFETCH(int, starvedMs);
        RecordingChild child(m_server->address());
        QVERIFY(child.isValid() && child.start());
        QVERIFY2(child.waitFor("recording"), qPrintable(child.transcript()));
        QVERIFY(child.waitFor("elapsed 2"));
        ::kill(pid_t(child.pid()), SIGSTOP);
        QTest::qWait(pauseMs);
        QElapsedTimer starved;
        starved.start();
        while (starved.elapsed() < starvedMs) {
            ::kill(pid_t(child.pid()), SIGCONT);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            ::kill(pid_t(child.pid()), SIGSTOP);
            std::this_thread::sleep_for(std::chrono::milliseconds(48));
        }
        ::kill(pid_t(child.pid()), SIGCONT);
        QTest::qWait(1000);
        // One sound for each: where it lands in each file is compared with when each player said it
        // would be heard.
        const auto bell = [&](const QStringList &where) -> qint64 {
            QProcess *player = m_players->start(TonePlayers::toneProgram(),
                QStringList { "--name", "Bell", "--freq", "1000", "--silence", "0.3", "--seconds", "0.4" }
                    + where);
            if (!player || !QTest::qWaitFor([&] { return player->peek(4096).contains("\nonset "); }, 10000))
                return 0;
            const QByteArray said = player->peek(4096);
            return said.mid(said.indexOf("\nonset ") + 7).split('\n').first().toLongLong();
        };
        const qint64 othersBell = bell({});
        const qint64 youBell = bell({ "--device", "micsrc" });
        QVERIFY(othersBell > 0 && youBell > 0);
        QTest::qWait(2500);
        child.send("record");
        QVERIFY2(child.waitFor("ended "), qPrintable(child.transcript()));
        const double session = child.line("ended ")->toDouble();

        const QString othersFile = recording(child.notes(), "others");
        const QString youFile = recording(child.notes(), "you");
        QTRY_VERIFY(seconds(othersFile) > 0 && seconds(youFile) > 0);
        const double others = seconds(othersFile);
        const double you = seconds(youFile);
        qInfo("session %.3f s, Others %.3f s, You %.3f s", session, others, you);
        QVERIFY(session >= 2 + pauseMs / 1000.0);
        QVERIFY2(std::abs(others - session) < 0.1, "Others does not cover the session");
        QVERIFY2(std::abs(you - session) < 0.1, "You does not cover the session");
        const double heardByOthers = onset(othersFile);
        const double heardByYou = onset(youFile);
        const double apart = double(youBell - othersBell) / 1e9;
        qInfo("the bells: Others %.3f s, You %.3f s, played %.3f s apart", heardByOthers, heardByYou, apart);
        QVERIFY(heardByOthers > 0 && heardByYou > 0);
        QVERIFY2(std::abs(heardByYou - heardByOthers - apart) < 0.1, "the two recordings are out of step");
    }

    // The sound server killed while recording: when it comes back the recording goes on, the stretch
    // without it is silent in both files and the note says when and how long; when it does not come back
    // in time, the recording ends where the server went and is kept as far as it got.
    void soundServerLostWhileRecording_data()
    {
        QTest::addColumn<bool>("comesBack");
        QTest::newRow("back after 2 s") << true;
        QTest::newRow("not back within the limit") << false;
    }
    void soundServerLostWhileRecording()
    {
        QFETCH(bool, comesBack);
        QVERIFY(startTones());
        RecordingChild child(m_server->address());
        QVERIFY(child.isValid() && child.start(std::chrono::seconds(comesBack ? 30 : 5)));
        QVERIFY2(child.waitFor("recording"), qPrintable(child.transcript()));
        QVERIFY(child.waitFor("elapsed 3"));
        m_players->stopAll();
        m_server->kill();
        QVERIFY2(
            child.waitFor("warning The sound server went away at 0:03."), qPrintable(child.transcript()));
        if (comesBack) {
            QTest::qWait(2000);
            QVERIFY2(m_server->restart(), m_server->log().constData());
            QVERIFY(m_players->keepSinksAwake() && startTones());
            QVERIFY2(child.waitFor("warning The sound server was away at 0:03 for "),
                qPrintable(child.transcript()));
            QTest::qWait(3000);
            child.send("record");
        }
        QVERIFY2(child.waitFor("review ", 60000), qPrintable(child.transcript()));
        const QJsonObject review = child.review();
        const QString note = review["note"].toString();
        const double session = child.line("ended ")->toDouble();
        qInfo("session %.3f s; note: %s", session, qPrintable(note));
        QVERIFY(review["heardOthers"].toBool() && review["heardYou"].toBool());
        QVERIFY2(!note.contains("No system audio"), qPrintable(note));
        const QString othersFile = review["others"].toString();
        const QString youFile = review["you"].toString();
        QVERIFY(QFileInfo::exists(othersFile) && QFileInfo::exists(youFile));
        const Decoded others(othersFile);
        const Decoded you(youFile);
        for (const Decoded *file : { &others, &you }) {
            const double length = double(file->mono.size()) / file->rate;
            QVERIFY2(std::abs(length - session) < 0.15, qPrintable(QString::number(length)));
        }
        // Before the loss, both heard their tone.
        QVERIFY(others.energyAt(1.5, 2.9, 440) > 1e-3 && you.energyAt(1.5, 2.9, 300) > 1e-3);
        if (!comesBack) {
            QVERIFY2(note.contains("The sound server went away at 0:03 and did not come back within 5 s"),
                qPrintable(note));
            QVERIFY2(child.line("status Recording stopped: the sound server did not come back"),
                qPrintable(child.transcript()));
            QVERIFY2(session >= 3 && session < 4.2, "the recording does not end where the server went");
            return;
        }
        const QRegularExpressionMatch gap = QRegularExpression(
            "The sound server was away at 0:03 for (\\d+) s: that stretch is silent in both "
            "recordings\\.")
                                                .match(note);
        QVERIFY2(gap.hasMatch(), qPrintable(note));
        QVERIFY2(gap.captured(1).toInt() >= 2 && gap.captured(1).toInt() <= 6, qPrintable(note));
        // Silence while the server was away, the tones again once it was back.
        QVERIFY(others.rms(4.3, 5.0) < 1e-4 && you.rms(4.3, 5.0) < 1e-4);
        QVERIFY(others.energyAt(session - 1.5, session - 0.2, 440) > 1e-3);
        QVERIFY(you.energyAt(session - 1.5, session - 0.2, 300) > 1e-3);
    }

    // A capture folder without room: a start is refused with the folder and the reason; a folder that
    // fills while recording ends the recording at once, and the review keeps what was written and says
    // why, never that it was saved or that nothing was heard.
    void captureFolderFull_data()
    {
        QTest::addColumn<bool>("fullAtStart");
        QTest::newRow("full at the start") << true;
        QTest::newRow("fills while recording") << false;
    }
    void captureFolderFull()
    {
        QFETCH(bool, fullAtStart);
        QVERIFY(m_players->start(TonePlayers::toneProgram(), { "--name", "Speaker", "--freq", "440" }));
        RecordingChild child(m_server->address());
        QVERIFY(child.isValid());
        SmallDisk disk(child.notes(), "3m");
        if (!disk.isMounted())
            QSKIP("needs root to mount a small file system");
        if (fullAtStart) {
            QVERIFY(disk.fill(64 * 1024));
            QVERIFY(child.start());
            QVERIFY2(child.waitFor("status Can't record in “notes”: the disk is full"),
                qPrintable(child.transcript()));
            QTest::qWait(1000);
            QVERIFY(!child.line("recording"));
            QCOMPARE(QDir(child.notes()).entryList(QDir::Files), QStringList());
            return;
        }
        QVERIFY(child.start());
        QVERIFY2(child.waitFor("recording"), qPrintable(child.transcript()));
        // The disk fills only once seconds of sound are in the file, however late a busy machine
        // writes them: those must all be kept.
        const auto durableOthers = [&] {
            const QStringList files = QDir(child.notes()).entryList({ "*_others.m4a" }, QDir::Files);
            if (files.isEmpty())
                return 0.0;
            const Decoded decoded(QDir(child.notes()).filePath(files.first()));
            return decoded.rate > 0 ? double(decoded.mono.size()) / decoded.rate : 0.0;
        };
        QTRY_VERIFY2(durableOthers() >= 2, qPrintable(child.transcript()));
        const double before = durableOthers();
        QVERIFY(disk.fill());
        QElapsedTimer sinceFull;
        sinceFull.start();
        QVERIFY2(child.waitFor("status Recording stopped: “notes” could not be written (the disk is full)"),
            qPrintable(child.transcript()));
        // A program that records on into the full disk never says so; a fragment's write shows it.
        QVERIFY2(sinceFull.elapsed() < 10000, "the recording went on into a full disk");
        QVERIFY2(child.waitFor("review ", 60000), qPrintable(child.transcript()));
        const QJsonObject review = child.review();
        const QString note = review["note"].toString();
        qInfo("in the file before the disk filled: %.2f s; status: %s; note: %s", before,
            qPrintable(review["statusText"].toString()), qPrintable(note));
        const QRegularExpressionMatch stopped
            = QRegularExpression("The recording stopped at 0:(\\d\\d): “notes” could not be written "
                                 "\\(the disk is full\\)\\. What was written until then is kept\\.")
                  .match(note);
        QVERIFY2(stopped.hasMatch(), qPrintable(note));
        QVERIFY2(stopped.captured(1).toInt() >= int(before), qPrintable(note));
        QVERIFY2(!note.contains("No system audio"), qPrintable(note));
        QVERIFY(!review["statusText"].toString().contains("saved", Qt::CaseInsensitive));
        QVERIFY(review["heardOthers"].toBool());
        const Decoded others(review["others"].toString());
        QVERIFY(others.rate > 0);
        const double kept = double(others.mono.size()) / others.rate;
        QVERIFY2(kept >= before - 0.05, qPrintable(QString("kept %1 s of %2 s").arg(kept).arg(before)));
        QVERIFY(others.energyAt(0.5, 2.0, 440) > 1e-3);
    }

    // A termination signal while the review cannot be saved (the capture folder full) ends the program
    // within seconds, and the next start offers the review as it was, with the edits made before and
    // after the failed save: resumed and saved once there is room, its note holds them beside both
    // recordings.
    void terminatedWhileReviewCannotBeSaved_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void terminatedWhileReviewCannotBeSaved()
    {
        QFETCH(int, signal);
        QVERIFY(m_players->start(TonePlayers::toneProgram(), { "--name", "Speaker", "--freq", "440" }));
        RecordingChild child(m_server->address());
        QVERIFY(child.isValid());
        SmallDisk disk(child.notes(), "3m");
        if (!disk.isMounted())
            QSKIP("needs root to mount a small file system");
        QVERIFY(child.start());
        QVERIFY2(child.waitFor("recording"), qPrintable(child.transcript()));
        QVERIFY(child.waitFor("elapsed 2"));
        child.send("record");
        QVERIFY2(child.waitFor("review ", 60000), qPrintable(child.transcript()));
        const QJsonObject first = child.review();
        QVERIFY(disk.fill());
        child.send("edit Budget call");
        child.send("others [0:00] the speaker, corrected");
        child.send("save");
        QVERIFY2(child.waitFor("status Audio recording could not be saved"), qPrintable(child.transcript()));
        child.send("you [0:01] my words, corrected after the failed save");
        child.send("edit Budget call, second pass");
        QVERIFY2(child.waitFor("done edit Budget call, second pass"), qPrintable(child.transcript()));
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        ::kill(pid_t(child.pid()), signal);
        const bool ended = child.process().waitForFinished(
            int(std::chrono::milliseconds(DovrinAppDelegate::signalEndLimit).count()) + 3000);
        child.collectErrors();
        QVERIFY2(ended, "the program outlived the signal");
        qInfo("ended %.2f s after the signal", sinceSignal.elapsed() / 1000.0);
        QCOMPARE(child.process().exitStatus(), QProcess::NormalExit);
        QVERIFY(ModelHarness::savedNote(child.notes()).isEmpty());

        // Still no room: the start's recording is refused, and the draft is offered.
        QVERIFY(child.start());
        QVERIFY2(child.waitFor("status Can't record in “notes”: the disk is full"),
            qPrintable(child.transcript()));
        child.send("resume");
        QVERIFY2(child.waitFor("review "), qPrintable(child.transcript()));
        const QJsonObject resumed = child.review();
        QCOMPARE(resumed["title"].toString(), QStringLiteral("Budget call, second pass"));
        QCOMPARE(resumed["othersText"].toString(), QStringLiteral("[0:00] the speaker, corrected"));
        QCOMPARE(resumed["youText"].toString(),
            QStringLiteral("[0:01] my words, corrected after the failed save"));
        for (const char *field : { "note", "others", "you" })
            QCOMPARE(resumed[field].toString(), first[field].toString());
        disk.empty();
        child.send("save");
        QVERIFY2(child.waitFor("status Saved audio session"), qPrintable(child.transcript()));
        const QByteArray note = ModelHarness::savedNote(child.notes());
        QVERIFY2(note.contains("Budget call, second pass"), note.constData());
        QVERIFY(note.contains("the speaker, corrected"));
        QVERIFY(note.contains("my words, corrected after the failed save"));
        QVERIFY(note.contains(QFileInfo(first["others"].toString()).fileName().toUtf8()));
        QVERIFY(note.contains(QFileInfo(first["you"].toString()).fileName().toUtf8()));
        QVERIFY(seconds(first["others"].toString()) > 1.5);
    }

private:
    // The application's sound (440 Hz) and the microphone's (300 Hz), playing until the test ends.
    bool startTones()
    {
        return m_players->start(TonePlayers::toneProgram(), { "--name", "Speaker", "--freq", "440" })
            && m_players->start(
                TonePlayers::toneProgram(), { "--name", "Voice", "--freq", "300", "--device", "micsrc" });
    }

    std::unique_ptr<PrivatePulseAudio> m_server;
    std::unique_ptr<TonePlayers> m_players;
    ScopedEnvironment m_environment;
};

int main(int argc, char **argv)
{
    if (argc == 4 && QByteArray(argv[1]) == "--record") {
        QApplication application(argc, argv);
        return recordingChild(application, QString::fromLocal8Bit(argv[2]),
            std::chrono::milliseconds(QByteArray(argv[3]).toInt()));
    }
    QApplication application(argc, argv);
    TestRecordingSurvives test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_RecordingSurvives.moc"
