#include "ModelHarness.h"

#include "Audio/AudioCaptureApps.h"
#include "AudioFileProbe.h"
#include "PrivatePulseAudio.h"
#include "ScopedEnvironment.h"
#include "SpeechFixtures.h"
#include "TestSupport.h"
#include "TonePlayers.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// From the record command to the saved note, on a sound server of the test's own: an installed
// application speaks as Others, the virtual microphone speaks as You.
class TestAudioSessionEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void recordTranscribeSave()
    {
        PrivatePulseAudio server;
        QVERIFY2(server.isRunning(), server.log().constData());
        ScopedEnvironment environment;
        environment.set("PULSE_SERVER", server.address());
        ModelHarness h;
        const QString data = h.dir.filePath(QStringLiteral("share"));
        environment.set("XDG_DATA_DIRS", data.toUtf8());
        const QString speaker = h.dir.filePath(QStringLiteral("speaker/speaker"));
        QVERIFY(QDir().mkpath(QFileInfo(speaker).path())
            && QFile::copy(QStringLiteral("/usr/bin/paplay"), speaker));
        writeDesktopFile(data, QStringLiteral("speaker"),
            QStringLiteral("[Desktop Entry]\nType=Application\nName=Speaker\nExec=%1\n").arg(speaker));
        const QString others = h.dir.filePath(QStringLiteral("others.wav"));
        const QString you = h.dir.filePath(QStringLiteral("you.wav"));
        const QVector<qint16> words = SpeechFixtures::speak(
            QStringLiteral("the weather today is sunny with a light breeze"), "kal16");
        QVERIFY(!words.isEmpty());
        // Said again and again, so a whole sentence falls inside the recording whenever it starts.
        QVector<qint16> sentences;
        for (int i = 0; i < 6; ++i)
            sentences += SpeechFixtures::silence(0.8) + words;
        QVERIFY(SpeechFixtures::writeWav(others, sentences));
        QVERIFY(
            SpeechFixtures::writeWav(you, SpeechFixtures::speak(QStringLiteral("good morning"), "kal16")));

        const QString notes = h.dir.filePath(QStringLiteral("notes"));
        QDir().mkpath(notes);
        AppSettings settings;
        settings.setupComplete = true;
        settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(notes));
        settings.othersAudioBundleID = QStringLiteral("speaker");
        settings.microphoneDeviceUID = QStringLiteral("mic");
        h.setSettings(settings);
        h.makeAudio = [] { return std::make_unique<AudioSessionCoordinator>(); };
        h.transcriptionSupported.reset();
        TonePlayers players;
        QVERIFY(players.keepSinksAwake());
        QProcess app;
        // Under another name the program is pacat: told to read the file as a WAV file.
        app.start(speaker, { QStringLiteral("--file-format=wav"), others });
        QTRY_VERIFY(AudioCaptureApps::isFamilyRunning(QStringLiteral("speaker")));
        h.runningApps << QStringLiteral("speaker");
        AppModel &model = h.make();

        QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
        QCOMPARE(model.audio().phase(), AudioSessionPhase::recording);
        QProcess microphone;
        microphone.start(QStringLiteral("paplay"), { QStringLiteral("-d"), QStringLiteral("micsrc"), you });
        QTRY_VERIFY_WITH_TIMEOUT(model.audio().elapsed() >= 5.0, 20000);
        QVERIFY(ModelHarness::finish(model.handleAudioInvocation()));
        QTRY_VERIFY_WITH_TIMEOUT(model.audioReview(), 120000);
        QVERIFY(ModelHarness::finish(model.saveAudioReview(true)));

        const QString markdown = QString::fromUtf8(ModelHarness::savedNote(notes));
        const QStringList parts = markdown.split(QStringLiteral("---\n"));
        QVERIFY(parts.size() >= 3 && parts.first().isEmpty());
        QHash<QString, QString> frontMatter;
        for (const QString &line : parts.at(1).split(u'\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch field = QRegularExpression("^(\\w+): (.+)$").match(line);
            QVERIFY2(field.hasMatch(), qPrintable(line));
            const QString value = field.captured(2);
            // Quoted values are JSON strings; the rest are numbers, Booleans and dates.
            frontMatter.insert(field.captured(1),
                value.startsWith(u'"') ? QJsonDocument::fromJson("[" + value.toUtf8() + "]")[0].toString()
                                       : value);
        }
        QCOMPARE(frontMatter.value("heardOthers"), QStringLiteral("true"));
        QCOMPARE(frontMatter.value("heardYou"), QStringLiteral("true"));
        QCOMPARE(frontMatter.value("transcriber"), QStringLiteral("pocketsphinx"));
        const QString body = parts.mid(2).join(QStringLiteral("---\n"));
        const QString othersText
            = body.section(QStringLiteral("## Others\n"), 1).section(QStringLiteral("## You\n"), 0, 0);
        const QString youText = body.section(QStringLiteral("## You\n"), 1);
        const QRegularExpression stamped("^\\[\\d:\\d\\d\\] \\w+", QRegularExpression::MultilineOption);
        QVERIFY2(othersText.contains(stamped) && youText.contains(stamped), qPrintable(markdown));
        const QStringList heard = SpeechFixtures::words(othersText);
        QVERIFY2(heard.contains("weather") || heard.contains("sunny") || heard.contains("breeze"),
            qPrintable(markdown));
        const double seconds = frontMatter.value("durationSeconds").toDouble();
        QVERIFY(seconds >= 5);
        for (const char *file : { "othersFilename", "youFilename" }) {
            const auto info = AudioFileProbe::probe(QDir(notes).filePath(frontMatter.value(file)));
            QVERIFY(info && info->sampleRate > 0);
            QVERIFY2(std::abs(double(info->playableSamples()) / info->sampleRate - seconds) < 1.0, file);
        }
    }
};

QTEST_MAIN(TestAudioSessionEndToEnd)
#include "tst_AudioSessionEndToEnd.moc"
