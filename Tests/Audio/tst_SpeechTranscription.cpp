// Real speech through the on-device transcriber: flite voices recorded as session files, decoded by
// FFmpeg and heard by PocketSphinx.
#include "Audio/AACStreamWriter.h"
#include "Audio/AudioFileTranscriber.h"
#include "Platform/FreedMemory.h"
#include "Platform/PocketSphinxRecognizer.h"
#include "SpeechFixtures.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

const QString kPrefix = QStringLiteral("Transcription could not finish: ");

// The second each "[m:ss] words" line begins at; -1 for a line without the prefix.
QList<int> lineSeconds(const QString &transcript)
{
    static const QRegularExpression pattern(QStringLiteral("^\\[(\\d+):(\\d\\d)\\] .+$"));
    QList<int> seconds;
    for (const QString &line : transcript.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = pattern.match(line);
        seconds << (match.hasMatch() ? match.captured(1).toInt() * 60 + match.captured(2).toInt() : -1);
    }
    return seconds;
}

// The live recognizer, watched: where each result begins, and when and how it returned.
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

// Stores speech scaled to a peak of `peakDb` dBFS in floating point, as a session's writer keeps it.
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
    for (qint64 at = 0, size = 0; at + 8 <= file.size(); at += size) {
        size = qFromBigEndian<quint32>(file.constData() + at);
        if (size < 8)
            break;
        if (file.mid(at + 4, 4) == "mdat")
            payloads.append({ at + 8, std::min(at + size, qint64(file.size())) });
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
    // Other voices than above, for the levels.
    QVector<qint16> m_levelSpeech;
    QString m_levelText;
    QList<double> m_levelOnsets;

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    static AudioTranscripts transcribe(std::optional<QString> others, std::optional<QString> you,
        QStringList *statuses = nullptr,
        AudioFileTranscriber::Environment environment = AudioFileTranscriber::Environment::live(),
        QList<double> *shares = nullptr)
    {
        Task<AudioTranscripts> task = AudioFileTranscriber::transcribe(
            others, you, others.has_value(), you.has_value(),
            [statuses](const QString &text) {
                if (statuses)
                    statuses->push_back(text);
            },
            {}, environment,
            [shares](double share) {
                if (shares)
                    shares->push_back(share);
            });
        if (!QTest::qWaitFor([&] { return task.isFinished(); }, 300000))
            qFatal("transcription did not finish");
        return task.result();
    }

    // Sentences after `leading` seconds of silence and between pauses; where each begins, in seconds.
    static QVector<qint16> speakAll(const QList<QStringList> &sentences, double leading, double pause,
        QList<double> *onsets, QString *text)
    {
        QVector<qint16> audio = SpeechFixtures::silence(leading);
        for (const QStringList &sentence : sentences) {
            const QVector<qint16> speech = SpeechFixtures::speak(sentence[0], sentence[1]);
            if (speech.isEmpty())
                qFatal("flite failed");
            onsets->push_back(
                double(audio.size()) / SpeechFixtures::sampleRate + SpeechFixtures::onsetSeconds(speech));
            audio += speech + SpeechFixtures::silence(pause);
            *text += sentence[0] + u' ';
        }
        return audio;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(AudioFileTranscriber::isSupported(), "pocketsphinx-en-us is not installed");
        m_sentences = path("sentences_others.m4a");
        QVERIFY(SpeechFixtures::writeRecording(m_sentences,
            speakAll({ { "the weather today is sunny with a light breeze", "kal16" },
                         { "we will need three more chairs for the guests", "kal16" },
                         { "please send me the report before the meeting on friday", "rms" },
                         { "the train to boston leaves at nine in the morning", "rms" } },
                1.2, 1.5, &m_onsets, &m_sentencesText)));

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
        m_continuousSeconds = double(continuous.size()) / SpeechFixtures::sampleRate;
        m_continuous = path("continuous_you.m4a");
        QVERIFY(SpeechFixtures::writeRecording(m_continuous, continuous));

        m_levelSpeech = speakAll({ { "the store opens at eight and closes at six", "slt" },
                                     { "my sister works as a nurse at the hospital", "awb" },
                                     { "please call me back when you have a moment", "slt" } },
            1.2, 1.5, &m_levelOnsets, &m_levelText);
        QVERIFY(SpeechFixtures::writeRecording(path("silent.m4a"), SpeechFixtures::silence(4.0)));
        QVERIFY(TestSupport::writeFile(path("notes_others.m4a"), "Meeting notes\nnothing to hear here\n"));
        // Cut off inside its header, as by a full disk before the first fragment.
        QVERIFY(
            TestSupport::writeFile(path("truncated_you.m4a"), TestSupport::readFile(m_sentences).left(1000)));
    }

    void speechComesBackAsTimedLinesInOrder()
    {
        QStringList statuses;
        QList<double> shares;
        const int returned = FreedMemory::returnedCount();
        const AudioTranscripts transcripts = transcribe(
            m_sentences, m_continuous, &statuses, AudioFileTranscriber::Environment::live(), &shares);
        // The model each file loaded was given back to the system once freed, not kept in the heaps.
        QVERIFY(FreedMemory::returnedCount() >= returned + 2);

        // Both files at once, under one status; how far they got rises to the end, passing the middle.
        QCOMPARE(statuses, QStringList { "Transcribing…" });
        QVERIFY(std::is_sorted(shares.begin(), shares.end()));
        QCOMPARE(shares.isEmpty() ? 0.0 : shares.last(), 1.0);
        QVERIFY2(std::any_of(
                     shares.begin(), shares.end(), [](double share) { return share > 0.1 && share < 0.9; }),
            qPrintable(QStringLiteral("%1 reports").arg(shares.size())));
        QCOMPARE(transcripts.transcriber, std::optional<QString>(QStringLiteral("pocketsphinx")));
        QCOMPARE(transcripts.note, QString());
        QVERIFY(!transcripts.othersUnavailable && !transcripts.youUnavailable);

        // One line per sentence, in order, each stamped with the second its speech begins.
        const QList<int> seconds = lineSeconds(transcripts.others);
        QCOMPARE(seconds.size(), m_onsets.size());
        for (qsizetype i = 0; i < seconds.size(); ++i)
            QVERIFY2(std::abs(seconds[i] - int(m_onsets[i])) <= 1, qPrintable(transcripts.others));
        QVERIFY2(SpeechFixtures::wordAccuracy(m_sentencesText, transcripts.others) >= 0.8,
            qPrintable(transcripts.others));

        // Continuous speech is cut into readable lines.
        const QList<int> youSeconds = lineSeconds(transcripts.you);
        QVERIFY2(youSeconds.size() >= 2, qPrintable(transcripts.you));
        int previous = -1;
        for (int second : youSeconds) {
            QVERIFY2(second > previous && second - std::max(previous, 0) <= 15, qPrintable(transcripts.you));
            previous = second;
        }
        QVERIFY(m_continuousSeconds - previous <= 15);
        QVERIFY2(SpeechFixtures::wordAccuracy(m_continuousText, transcripts.you) >= 0.8,
            qPrintable(transcripts.you));
    }

    // The files given for Others and You: each fails with a sentence of its own, or is heard (silence as
    // no text).
    void unreadableAndSilentFiles_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::newRow("silence, then a text file") << QStringList { "silent.m4a", "notes_others.m4a" };
        QTest::newRow("truncated, then silence") << QStringList { "truncated_you.m4a", "silent.m4a" };
        QTest::newRow("both unreadable") << QStringList { "notes_others.m4a", "truncated_you.m4a" };
        QTest::newRow("missing file, then a text file")
            << QStringList { "gone_others.m4a", "notes_others.m4a" };
    }
    void unreadableAndSilentFiles()
    {
        QFETCH(QStringList, files);
        const bool othersFails = files[0] != QLatin1String("silent.m4a");
        const bool youFails = files[1] != QLatin1String("silent.m4a");
        const AudioTranscripts transcripts = transcribe(m_dir.filePath(files[0]), m_dir.filePath(files[1]));
        QCOMPARE(transcripts.othersUnavailable, othersFails);
        QCOMPARE(transcripts.youUnavailable, youFails);
        QCOMPARE(transcripts.transcriber.has_value(), !(othersFails && youFails));
        QVERIFY(transcripts.others.isEmpty() && transcripts.you.isEmpty());
        QCOMPARE(transcripts.note.count(kPrefix), int(othersFails) + int(youFails));
        if (othersFails && youFails)
            QVERIFY(transcripts.note.indexOf(QStringLiteral(". ") + kPrefix) > 0);
        QVERIFY2(transcripts.note.startsWith(kPrefix + QStringLiteral("The recording")),
            qPrintable(transcripts.note));
        QVERIFY(transcripts.note.endsWith(u'.'));
    }

    // A quiet application or a distant microphone is heard as well as a loud one, the first sentence too.
    void quietRecordingsAreHeardLikeLoudOnes()
    {
        const QString loud = path("loud_others.m4a");
        const QString quiet = path("quiet_others.m4a");
        QVERIFY(writeScaledRecording(loud, m_levelSpeech, -1.0));
        QVERIFY(writeScaledRecording(quiet, m_levelSpeech, -45.0));
        const AudioTranscripts transcripts = transcribe(loud, quiet);
        const double loudAccuracy = SpeechFixtures::wordAccuracy(m_levelText, transcripts.others);
        const double quietAccuracy = SpeechFixtures::wordAccuracy(m_levelText, transcripts.you);
        QVERIFY2(loudAccuracy >= 0.7 && quietAccuracy >= loudAccuracy - 0.1,
            qPrintable(transcripts.others + " | " + transcripts.you));
        const QList<int> seconds = lineSeconds(transcripts.you);
        QCOMPARE(seconds.size(), m_levelOnsets.size());
        for (qsizetype i = 0; i < seconds.size(); ++i)
            QVERIFY2(std::abs(seconds[i] - int(m_levelOnsets[i])) <= 1, qPrintable(transcripts.you));
    }

    // A crash leaves the fragments written so far; what they hold is still transcribed.
    void recordingCutOffMidwayKeepsItsFirstPart()
    {
        const QByteArray whole = TestSupport::readFile(m_sentences);
        const QString cutOff = path("crashed_others.m4a");
        QVERIFY(TestSupport::writeFile(cutOff, whole.left(whole.size() * 6 / 10)));
        const AudioTranscripts transcripts = transcribe(cutOff, std::nullopt);
        QVERIFY2(!transcripts.othersUnavailable, qPrintable(transcripts.note));
        const qsizetype lines = lineSeconds(transcripts.others).size();
        QVERIFY2(lines >= 2 && lines <= 3, qPrintable(transcripts.others));
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
        const AudioTranscripts transcripts
            = transcribe(damaged, std::nullopt, nullptr, { recognizer, &TaskClock::system(), "en-US" });
        QCOMPARE(transcripts.note, QStringLiteral("Part of the Others recording could not be read."));
        QVERIFY(!transcripts.othersUnavailable);
        const QList<double> starts = recognizer->starts();
        for (qsizetype i = 2; i < m_onsets.size(); ++i) {
            const double nearest = *std::min_element(starts.cbegin(), starts.cend(),
                [&](double a, double b) { return std::abs(a - m_onsets[i]) < std::abs(b - m_onsets[i]); });
            QVERIFY2(std::abs(nearest - m_onsets[i]) <= 0.2,
                qPrintable(QStringLiteral("sentence %1 at %2 s, heard at %3 s")
                               .arg(i)
                               .arg(m_onsets[i])
                               .arg(nearest)));
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
        // Recognizing the rest of the file took 2.6 s on a half-busy machine, and takes longer the busier
        // it is; a recognizer that heeds the stop returned within 0.1 s there.
        constexpr qint64 limitMs = 2000;
        QTRY_VERIFY(task.isFinished() && recognizer->returned);
        QVERIFY2(timer.elapsed() < limitMs, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(recognizer->status.load(), int(SpeechRecognitionOutcome::Status::stopped));
        QVERIFY(task.result().othersUnavailable);
    }

    // A long recording is heard in stretches at once, cut only in pauses, and comes back as it does when
    // heard whole: the same lines at the same seconds, in order.
    void longRecordingIsHeardInStretchesAtOnce_data()
    {
        QTest::addColumn<int>("repeats"); // of the four sentences with pauses; 0: continuous speech, twice
        QTest::addColumn<int>("threads");
        QTest::newRow("pauses to cut at") << 3 << 2;
        QTest::newRow("too short to cut") << 1 << 1;
        QTest::newRow("no pause to cut at") << 0 << 1;
    }
    void longRecordingIsHeardInStretchesAtOnce()
    {
        QFETCH(int, repeats);
        QVector<qint16> audio;
        QString text;
        QList<double> onsets;
        if (repeats == 0) {
            const QVector<qint16> continuous
                = SpeechFixtures::speak(m_continuousText, QStringLiteral("kal16"));
            audio = SpeechFixtures::silence(1.0) + continuous + continuous;
        } else {
            QList<QStringList> sentences;
            for (int i = 0; i < repeats; ++i) {
                sentences << QStringList { "the weather today is sunny with a light breeze", "kal16" }
                          << QStringList { "we will need three more chairs for the guests", "slt" }
                          << QStringList { "please send me the report before the meeting on friday", "rms" }
                          << QStringList { "the train to boston leaves at nine in the morning", "awb" };
            }
            audio = speakAll(sentences, 1.2, 1.5, &onsets, &text);
        }
        const QString file
            = m_dir.filePath(QStringLiteral("stretches %1_others.m4a").arg(QTest::currentDataTag()));
        QVERIFY(SpeechFixtures::writeRecording(file, audio));

        const auto hear = [&](int parallelism, QSet<std::thread::id> *threads) {
            const PocketSphinxRecognizer recognizer(PocketSphinxRecognizer::defaultModelRoot(), parallelism);
            std::mutex mutex;
            AudioFileTranscriber::ResultCollector collector;
            SpeechFileRecognizer::Callbacks callbacks;
            callbacks.progressed = [&] {
                std::lock_guard lock(mutex);
                threads->insert(std::this_thread::get_id());
            };
            callbacks.recognized = [&](const RecognizedSpeech &result) { collector.add(result); };
            const SpeechRecognitionOutcome outcome = recognizer.recognize(file, "en-US", callbacks);
            return outcome.status == SpeechRecognitionOutcome::Status::finished ? collector.text()
                                                                                : QString();
        };
        QSet<std::thread::id> wholeThreads, threads;
        const QString whole = hear(1, &wholeThreads);
        const QString stretched = hear(2, &threads);
        QCOMPARE(wholeThreads.size(), 1);
        QTEST(int(threads.size()), "threads");
        QVERIFY(!whole.isEmpty());
        const QStringList wholeLines = whole.split(u'\n');
        const QStringList lines = stretched.split(u'\n');
        QCOMPARE(lines.size(), wholeLines.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(std::abs(lineSeconds(lines[i]).value(0) - lineSeconds(wholeLines[i]).value(0)) <= 1,
                qPrintable(stretched + "\n--\n" + whole));
        }
        QVERIFY2(
            SpeechFixtures::wordAccuracy(whole, stretched) >= 0.95, qPrintable(stretched + "\n--\n" + whole));
        if (!onsets.isEmpty()) {
            QCOMPARE(lines.size(), onsets.size());
            QVERIFY2(SpeechFixtures::wordAccuracy(text, stretched) >= 0.8, qPrintable(stretched));
        }
    }

    // A model folder without its files is not installed: transcription is not offered.
    void modelStateFollowsTheInstalledFiles()
    {
        QTemporaryDir emptyModels;
        const auto missing = std::make_shared<PocketSphinxRecognizer>(emptyModels.path());
        QCOMPARE(missing->modelState("en-US"), SpeechFileRecognizer::ModelState::notInstalled);
        QVERIFY(!AudioFileTranscriber::isSupported({ missing, &TaskClock::system(), "en-US" }));
    }
};

QTEST_GUILESS_MAIN(TestSpeechTranscription)
#include "tst_SpeechTranscription.moc"
