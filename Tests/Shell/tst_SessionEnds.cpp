#include "AudioFileProbe.h"
#include "Documents/AppSettingsStore.h"
#include "Documents/DefaultsStore.h"
#include "ModelHarness.h"
#include "Shell/DovrinApp.h"
#include "Shell/SingleInstance.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>

// The whole program recording through the private sound server, ended every way a session ends: the
// note and both recordings are written, both covering the session from start to stop, and the
// single-instance lock is gone.
namespace {

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The child: the program as main() assembles it, which starts recording at once. It prints
// "recording", "elapsed <n>" each whole second, "ended <seconds>" with the session's length once the
// recording stopped, and stops on a "stop" line on its standard input.
int recordingChild(QApplication &application, const QString &instanceFolder)
{
    SingleInstance instance(instanceFolder);
    if (instance.claim() != SingleInstance::Claim::primary)
        return 2;
    DovrinApp app({ QApplication::arguments(), nullptr, std::nullopt, {}, nullptr, [] { return false; } });
    app.start();
    AudioSessionCoordinator &audio = app.model().audio();
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
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &input] {
        char line[16];
        const ssize_t count = ::read(STDIN_FILENO, line, sizeof line);
        if (count <= 0)
            input.setEnabled(false);
        else if (QByteArray(line, count).startsWith("stop"))
            app.model().handleAudioInvocation();
    });
    QTimer::singleShot(0, &app, [&app] { app.model().handleAudioInvocation(); });
    return application.exec();
}

// The front matter's fields, quoted values unquoted.
QHash<QString, QString> frontMatter(const QString &markdown)
{
    QHash<QString, QString> fields;
    const QStringList parts = markdown.split(QStringLiteral("---\n"));
    for (const QString &line : parts.value(1).split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch field = QRegularExpression("^(\\w+): \"?(.*?)\"?$").match(line);
        if (field.hasMatch())
            fields.insert(field.captured(1), field.captured(2));
    }
    return fields;
}

double seconds(const QString &file)
{
    const auto info = AudioFileProbe::probe(file);
    return info && info->sampleRate > 0 ? double(info->playableSamples()) / info->sampleRate : -1;
}

} // namespace

class TestSessionEnds : public QObject
{
    Q_OBJECT

private slots:
    void recordingEndsWithItsNote_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("stoppedFirst");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGHUP: the terminal hung up") << SIGHUP << false;
        QTest::newRow("SIGQUIT") << SIGQUIT << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("stopped, then SIGTERM") << SIGTERM << true;
    }

    void recordingEndsWithItsNote()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the private sound server that scripts/test.sh starts");
        QFETCH(int, signal);
        QFETCH(bool, stoppedFirst);
        QTemporaryDir home;
        const QString config = home.filePath("config"), notes = home.filePath("notes"),
                      instance = home.filePath("runtime/com.quorvel.dovrin");
        QVERIFY(QDir().mkpath(notes) && QDir().mkpath(home.filePath("runtime")));
        {
            AppSettings settings;
            settings.setupComplete = true;
            settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(notes));
            settings.microphoneDeviceUID = QStringLiteral("mic");
            std::shared_ptr<DefaultsStore> suite
                = SettingsDefaultsStore::open(AppSettingsStore::suiteName(), config + "/com.quorvel.dovrin");
            AppSettingsStore(suite).save(settings);
        }

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.remove("DISPLAY");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), { "--record", instance });
        QStringList lines;
        const auto sawLine = [&](const QString &line) {
            while (child.canReadLine())
                lines << QString::fromUtf8(child.readLine()).trimmed();
            return lines.contains(line);
        };
        const auto endedLine = [&] {
            sawLine({});
            return std::find_if(
                lines.cbegin(), lines.cend(), [](const QString &l) { return l.startsWith("ended "); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(sawLine("recording") || child.state() == QProcess::NotRunning, 30000);
        QVERIFY2(lines.contains("recording"), child.readAllStandardError().constData());
        QTRY_VERIFY_WITH_TIMEOUT(sawLine("elapsed 3"), 30000);
        if (stoppedFirst) {
            child.write("stop\n");
            QTRY_VERIFY_WITH_TIMEOUT(endedLine() != lines.cend(), 30000);
        }
        ::kill(pid_t(child.processId()), signal);
        QVERIFY(child.waitForFinished(60000));
        const QByteArray errors = child.readAllStandardError();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0, errors.constData());
        QVERIFY(!QFileInfo::exists(instance + "/quorvel.lock"));

        const QString note = QString::fromUtf8(ModelHarness::savedNote(notes));
        QVERIFY2(!note.isEmpty(), qPrintable(QDir(notes).entryList().join(", ")));
        const QHash<QString, QString> fields = frontMatter(note);
        const double others = seconds(QDir(notes).filePath(fields.value("othersFilename")));
        const double you = seconds(QDir(notes).filePath(fields.value("youFilename")));
        const auto ended = endedLine();
        QVERIFY(ended != lines.cend());
        const double session = ended->mid(6).toDouble();
        qInfo("session %.3f s, Others %.3f s, You %.3f s", session, others, you);
        QVERIFY(session >= 3);
        QVERIFY2(std::abs(others - session) < 0.1, "Others does not cover the session");
        QVERIFY2(std::abs(you - session) < 0.1, "You does not cover the session");
        QVERIFY(std::abs(others - you) < 0.1);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--record") {
        QApplication application(argc, argv);
        return recordingChild(application, QString::fromLocal8Bit(argv[2]));
    }
    QApplication application(argc, argv);
    TestSessionEnds test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_SessionEnds.moc"
