// Real speech through the on-device transcriber: flite voices recorded as session files, decoded by
// FFmpeg and heard by PocketSphinx.
#include "Audio/AACStreamWriter.h"
#include "Audio/AudioFileTranscriber.h"
#include "Platform/PocketSphinxRecognizer.h"
#include "SpeechFixtures.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <QtEndian>

#include <atomic>
#include <cmath>
#include <mutex>

using FileResult = AudioFileTranscriber::FileResult;

namespace {

const QString kPrefix = QStringLiteral("Transcription could not finish: ");

struct Line
{
    int seconds = -1;
    QString text;
};

// "[m:ss] words" lines; a line without the prefix gets seconds -1.
QList<Line> parseLines(const QString &transcript)
{
    static const QRegularExpression pattern(QStringLiteral("^\\[(\\d+):(\\d\\d)\\] (.+)$"));
    QList<Line> lines;
    for (const QString &line : transcript.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = pattern.match(line);
        if (match.hasMatch())
            lines.push_back(
                { match.captured(1).toInt() * 60 + match.captured(2).toInt(), match.captured(3) });
        else
            lines.push_back({ -1, line });
    }
    return lines;
}

// The live recognizer, watched: the test learns of the first result and of when it returned.
class WatchedRecognizer final : public SpeechFileRecognizer
{
public:
    QStringList supportedLocales() const override { return m_live.supportedLocales(); }
    ModelState modelState(const QString &locale) const override { return m_live.modelState(locale); }
    SpeechRecognitionOutcome recognize(
        const QString &path, const QString &locale, const Callbacks &callbacks) const override
    {
        Callbacks watched = callbacks;
        watched.recognized = [this, &callbacks](const RecognizedSpeech &result) {
            {
                std::lock_guard lock(m_mutex);
                m_starts.push_back(result.startSeconds);
            }
            ++results;
            callbacks.recognized(result);
        };
        const SpeechRecognitionOutcome outcome = m_live.recognize(path, locale, watched);
        status = int(outcome.status);
        returned = true;
        return outcome;
    }

    // Where each result's speech begins, in seconds.
    QList<double> starts() const
    {
        std::lock_guard lock(m_mutex);
        return m_starts;
    }

    mutable std::atomic<int> results { 0 };
    mutable std::atomic<int> status { -1 };
    mutable std::atomic<bool> returned { false };

private:
    PocketSphinxRecognizer m_live;
    mutable std::mutex m_mutex;
    mutable QList<double> m_starts;
};

struct Sentence
{
    QString text;
    QString voice;
};

// Stores speech scaled to a peak of `peakDb` dBFS in floating point, so a quiet recording keeps the
// detail a session's writer keeps.
bool writeScaledRecording(const QString &path, const QVector<qint16> &samples, double peakDb)
{
    int peak = 1;
    for (qint16 sample : samples)
        peak = std::max(peak, std::abs(int(sample)));
    const double scale = std::pow(10.0, peakDb / 20.0) / peak;
    const AudioStreamFormat format { double(SpeechFixtures::sampleRate), 1,
        AudioStreamFormat::SampleType::float32, true };
    std::vector<float> scaled(size_t(samples.size()));
    for (qsizetype i = 0; i < samples.size(); ++i)
        scaled[size_t(i)] = float(samples[i] * scale);
    AACStreamWriter writer(path, format);
    const void *planes[] = { scaled.data() };
    writer.append(AudioPCMBuffer(format, planes, samples.size()));
    return !writer.finish().writeFailed;
}

// The payloads of the media data boxes of a fragmented MP4 file, one per fragment, in order.
QList<std::pair<qint64, qint64>> mediaDataPayloads(const QByteArray &file)
{
    QList<std::pair<qint64, qint64>> payloads;
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        qint64 size = qFromBigEndian<quint32>(file.constData() + at);
        qint64 header = 8;
        if (size == 1 && at + 16 <= file.size()) {
            size = qint64(qFromBigEndian<quint64>(file.constData() + at + 8));
            header = 16;
        } else if (size == 0) {
            size = file.size() - at;
        }
        if (size < header)
            break;
        if (file.mid(at + 4, 4) == "mdat")
            payloads.append({ at + header, std::min(at + size, qint64(file.size())) });
        at += size;
    }
    return payloads;
}

} // namespace

class TestSpeechTranscription : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_sentences;
    QString m_sentencesText;
    QList<double> m_onsets;
    QString m_continuous;
    QString m_continuousText;
    double m_continuousSeconds = 0;
    QString m_silent;
    QString m_notAudio;
    QString m_truncated;
    // Other voices than above, at several levels.
    QVector<qint16> m_levelSpeech;
    QString m_levelText;
    QList<double> m_levelOnsets;

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    static AudioTranscripts transcribe(std::optional<QString> others, std::optional<QString> you,
        bool heardOthers, bool heardYou, QStringList *statuses = nullptr)
    {
        Task<AudioTranscripts> task = AudioFileTranscriber::transcribe(
            others, you, heardOthers, heardYou, [statuses](const QString &text) {
                if (statuses)
                    statuses->push_back(text);
            });
        if (!QTest::qWaitFor([&] { return task.isFinished(); }, 120000))
            qFatal("transcription did not finish");
        return task.result();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(AudioFileTranscriber::isSupported(), "pocketsphinx-en-us is not installed");

        // Sentences with pauses between them, two voices, the first one after 1.2 s of silence.
        const QList<Sentence> sentences {
            { "the weather today is sunny with a light breeze", "kal16" },
            { "we will need three more chairs for the guests", "kal16" },
            { "please send me the report before the meeting on friday", "rms" },
            { "the train to boston leaves at nine in the morning", "rms" },
        };
        QVector<qint16> audio = SpeechFixtures::silence(1.2);
        for (const Sentence &sentence : sentences) {
            const QVector<qint16> speech = SpeechFixtures::speak(sentence.text, sentence.voice);
            QVERIFY2(!speech.isEmpty(), "flite failed");
            m_onsets.push_back(
                double(audio.size()) / SpeechFixtures::sampleRate + SpeechFixtures::onsetSeconds(speech));
            audio += speech;
            audio += SpeechFixtures::silence(1.5);
            m_sentencesText += sentence.text + u' ';
        }
        m_sentences = path("sentences_others.m4a");
        QVERIFY(SpeechFixtures::writeRecording(m_sentences, audio));

        // Half a minute of speech without a pause to end it.
        m_continuousText = QStringLiteral("the committee met on tuesday to discuss the budget for the coming "
                                          "year and after a long debate about "
                                          "the costs of the new building the members agreed that the project "
                                          "should go ahead but only if the "
                                          "city would pay for half of the repairs to the old road that leads "
                                          "from the station to the market and "
                                          "the mayor promised to bring the question to the council at the "
                                          "next meeting which will take place in "
                                          "the town hall on the first monday of the month");
        const QVector<qint16> continuous = SpeechFixtures::speak(m_continuousText, QStringLiteral("kal16"));
        QVERIFY(!continuous.isEmpty());
        m_continuousSeconds = double(continuous.size()) / SpeechFixtures::sampleRate;
        m_continuous = path("continuous_you.m4a");
        QVERIFY(SpeechFixtures::writeRecording(m_continuous, continuous));

        for (const Sentence &sentence : QList<Sentence> {
                 { "the store opens at eight and closes at six", "slt" },
                 { "my sister works as a nurse at the hospital", "awb" },
                 { "please call me back when you have a moment", "slt" },
             }) {
            m_levelSpeech += SpeechFixtures::silence(m_levelSpeech.isEmpty() ? 1.2 : 1.5);
            const QVector<qint16> speech = SpeechFixtures::speak(sentence.text, sentence.voice);
            QVERIFY(!speech.isEmpty());
            m_levelOnsets.push_back(double(m_levelSpeech.size()) / SpeechFixtures::sampleRate
                + SpeechFixtures::onsetSeconds(speech));
            m_levelSpeech += speech;
            m_levelText += sentence.text + u' ';
        }
        m_levelSpeech += SpeechFixtures::silence(1.0);

        m_silent = path("silent.m4a");
        QVERIFY(SpeechFixtures::writeRecording(m_silent, SpeechFixtures::silence(4.0)));

        m_notAudio = path("notes_others.m4a");
        QFile text(m_notAudio);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("Meeting notes\nnothing to hear here\n");
        text.close();

        // Cut off inside its header, as by a full disk before the first fragment.
        QFile whole(m_sentences);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        m_truncated = path("truncated_you.m4a");
        QFile cut(m_truncated);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(whole.read(1000));
    }

    void speechComesBackAsTimedLinesInOrder()
    {
        QStringList statuses;
        const AudioTranscripts transcripts = transcribe(m_sentences, m_continuous, true, true, &statuses);

        QCOMPARE(statuses,
            (QStringList { "Transcribing others…", "Transcribing…", "Transcribing you…", "Transcribing…" }));
        QCOMPARE(transcripts.transcriber, std::optional<QString>(QStringLiteral("pocketsphinx")));
        QCOMPARE(transcripts.note, QString());
        QVERIFY(!transcripts.othersUnavailable && !transcripts.youUnavailable);

        // One line per sentence, in order, each stamped with the second its speech begins.
        const QList<Line> lines = parseLines(transcripts.others);
        QCOMPARE(lines.size(), m_onsets.size());
        QVERIFY2(transcripts.others.startsWith(QStringLiteral("[0:01] ")), qPrintable(transcripts.others));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(std::abs(lines[i].seconds - int(m_onsets[i])) <= 1,
                qPrintable(QStringLiteral("line %1 at %2 s, speech at %3 s")
                               .arg(i)
                               .arg(lines[i].seconds)
                               .arg(m_onsets[i])));
        }
        const double accuracy = SpeechFixtures::wordAccuracy(m_sentencesText, transcripts.others);
        QVERIFY2(accuracy >= 0.8,
            qPrintable(QStringLiteral("%1 right: %2").arg(accuracy).arg(transcripts.others)));

        // Continuous speech is cut into readable lines.
        const QList<Line> youLines = parseLines(transcripts.you);
        QVERIFY2(youLines.size() >= 2, qPrintable(transcripts.you));
        int previous = -1;
        for (const Line &line : youLines) {
            QVERIFY2(line.seconds > previous && line.seconds - std::max(previous, 0) <= 15,
                qPrintable(transcripts.you));
            previous = line.seconds;
        }
        QVERIFY(m_continuousSeconds - previous <= 15);
        const double youAccuracy = SpeechFixtures::wordAccuracy(m_continuousText, transcripts.you);
        QVERIFY2(youAccuracy >= 0.8,
            qPrintable(QStringLiteral("%1 right: %2").arg(youAccuracy).arg(transcripts.you)));
    }

    void unreadableAndSilentFiles_data()
    {
        QTest::addColumn<QString>("others");
        QTest::addColumn<QString>("you");
        QTest::addColumn<bool>("othersFails");
        QTest::addColumn<bool>("youFails");

        QTest::newRow("silence, then a text file") << "silent"
                                                   << "notAudio" << false << true;
        QTest::newRow("truncated, then silence") << "truncated"
                                                 << "silent" << true << false;
        QTest::newRow("both unreadable") << "notAudio"
                                         << "truncated" << true << true;
        QTest::newRow("missing file, then a text file") << "missing"
                                                        << "notAudio" << true << true;
    }

    void unreadableAndSilentFiles()
    {
        QFETCH(QString, others);
        QFETCH(QString, you);
        QFETCH(bool, othersFails);
        QFETCH(bool, youFails);
        const QHash<QString, QString> files { { "silent", m_silent }, { "notAudio", m_notAudio },
            { "truncated", m_truncated }, { "missing", path("gone_others.m4a") } };

        const AudioTranscripts transcripts = transcribe(files[others], files[you], true, true);
        QCOMPARE(transcripts.othersUnavailable, othersFails);
        QCOMPARE(transcripts.youUnavailable, youFails);
        QCOMPARE(transcripts.transcriber.has_value(), !(othersFails && youFails));
        if (othersFails)
            QCOMPARE(transcripts.others, QString());
        if (youFails)
            QCOMPARE(transcripts.you, QString());
        if (!othersFails && others == QLatin1String("silent"))
            QCOMPARE(transcripts.others, QString());
        if (!youFails)
            QCOMPARE(transcripts.you.isEmpty(), you == QLatin1String("silent"));

        // One message per failed file, each a whole sentence, joined by one space.
        QCOMPARE(transcripts.note.count(kPrefix), int(othersFails) + int(youFails));
        if (othersFails && youFails)
            QVERIFY(transcripts.note.indexOf(QStringLiteral(". ") + kPrefix) > 0);
        QVERIFY2(transcripts.note.startsWith(kPrefix + QStringLiteral("The recording")),
            qPrintable(transcripts.note));
        QVERIFY(transcripts.note.endsWith(u'.'));
    }

    // A quiet application or a distant microphone is heard as well as a loud one, the first sentence too.
    void quietRecordingsAreHeardLikeLoudOnes_data()
    {
        QTest::addColumn<double>("peakDb");
        QTest::newRow("-30 dBFS") << -30.0;
        QTest::newRow("-45 dBFS") << -45.0;
    }

    void quietRecordingsAreHeardLikeLoudOnes()
    {
        QFETCH(double, peakDb);
        static double loudAccuracy = -1;
        if (loudAccuracy < 0) {
            const QString loud = path("loud_others.m4a");
            QVERIFY(writeScaledRecording(loud, m_levelSpeech, -1.0));
            loudAccuracy = SpeechFixtures::wordAccuracy(
                m_levelText, transcribe(loud, std::nullopt, true, false).others);
            QVERIFY2(loudAccuracy >= 0.7, qPrintable(QString::number(loudAccuracy)));
        }
        const QString quiet = path("quiet_others.m4a");
        QVERIFY(writeScaledRecording(quiet, m_levelSpeech, peakDb));
        const QString text = transcribe(quiet, std::nullopt, true, false).others;

        const QList<Line> lines = parseLines(text);
        QCOMPARE(lines.size(), m_levelOnsets.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(std::abs(lines[i].seconds - int(m_levelOnsets[i])) <= 1, qPrintable(text));
        const double accuracy = SpeechFixtures::wordAccuracy(m_levelText, text);
        QVERIFY2(accuracy >= loudAccuracy - 0.1,
            qPrintable(
                QStringLiteral("%1 right, %2 at full scale: %3").arg(accuracy).arg(loudAccuracy).arg(text)));
    }

    void recordingCutOffMidwayKeepsItsFirstPart()
    {
        // A crash leaves the fragments written so far; what they hold is still transcribed.
        QFile whole(m_sentences);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QString cutOff = path("crashed_others.m4a");
        QFile cut(cutOff);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(whole.read(whole.size() * 6 / 10));
        cut.close();

        const AudioTranscripts transcripts = transcribe(cutOff, std::nullopt, true, false);
        QVERIFY2(!transcripts.othersUnavailable, qPrintable(transcripts.note));
        const QList<Line> lines = parseLines(transcripts.others);
        QVERIFY2(lines.size() >= 2 && lines.size() <= 3, qPrintable(transcripts.others));
        QVERIFY(transcripts.others.startsWith(QStringLiteral("[0:01] ")));
    }

    // Four one-second fragments whose packets the decoder refuses: the speech after them keeps its time
    // (it came out seconds early) and the note says part of the recording was lost.
    void damagedFragmentsKeepTheLaterStamps()
    {
        QByteArray file = TestSupport::readFile(m_sentences);
        const auto payloads = mediaDataPayloads(file);
        const int first = int(m_onsets[2]) - 5; // ends a second before the third sentence
        QVERIFY(first >= 1 && first + 4 < payloads.size());
        for (int i = first; i < first + 4; ++i) {
            // An LFE element, which a stereo stream cannot hold, at every byte a packet may start on.
            for (qint64 at = payloads[i].first; at < payloads[i].second; ++at)
                file[at] = char(0x60);
        }
        const QString damaged = path("damaged_others.m4a");
        QVERIFY(TestSupport::writeFile(damaged, file));

        auto recognizer = std::make_shared<WatchedRecognizer>();
        Task<AudioTranscripts> task = AudioFileTranscriber::transcribe(
            damaged, std::nullopt, true, false, {}, {}, { recognizer, &TaskClock::system(), "en-US" });
        QTRY_VERIFY_WITH_TIMEOUT(task.isFinished(), 120000);
        const AudioTranscripts transcripts = task.result();
        QCOMPARE(transcripts.note, QStringLiteral("Part of the Others recording could not be read."));
        QVERIFY(!transcripts.othersUnavailable);
        const QList<double> starts = recognizer->starts();
        for (qsizetype i = 2; i < m_onsets.size(); ++i) {
            const double nearest = *std::min_element(starts.cbegin(), starts.cend(),
                [&](double a, double b) { return std::abs(a - m_onsets[i]) < std::abs(b - m_onsets[i]); });
            QVERIFY2(std::abs(nearest - m_onsets[i]) <= 0.2,
                qPrintable(QStringLiteral("sentence %1 at %2 s, heard at %3 s; %4")
                               .arg(i)
                               .arg(m_onsets[i])
                               .arg(nearest)
                               .arg(transcripts.others)));
        }
    }

    void cancellingMidFileEndsWithinASecond()
    {
        auto recognizer = std::make_shared<WatchedRecognizer>();
        Task<AudioTranscripts> task = AudioFileTranscriber::transcribe(
            m_sentences, m_sentences, true, true, {}, {}, { recognizer, &TaskClock::system(), "en-US" });
        QTRY_VERIFY_WITH_TIMEOUT(recognizer->results > 0, 60000);
        QVERIFY(!recognizer->returned);

        QElapsedTimer timer;
        timer.start();
        task.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(task.isFinished() && recognizer->returned, 5000);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(recognizer->status.load(), int(SpeechRecognitionOutcome::Status::stopped));
        QVERIFY(task.result().othersUnavailable);
    }

    void modelStateFollowsTheInstalledFiles()
    {
        QTemporaryDir emptyModels;
        const auto missing = std::make_shared<PocketSphinxRecognizer>(emptyModels.path());
        QCOMPARE(missing->modelState("en-US"), SpeechFileRecognizer::ModelState::notInstalled);
        QVERIFY(!AudioFileTranscriber::isSupported({ missing, &TaskClock::system(), "en-US" }));
        QCOMPARE(PocketSphinxRecognizer().modelState("en-US"), SpeechFileRecognizer::ModelState::installed);
        QCOMPARE(PocketSphinxRecognizer().modelState("fr-FR"), SpeechFileRecognizer::ModelState::unsupported);
    }
};

QTEST_GUILESS_MAIN(TestSpeechTranscription)
#include "tst_SpeechTranscription.moc"
