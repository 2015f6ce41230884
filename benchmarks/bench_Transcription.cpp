// Word error rate and real-time factor of on-device transcription, on spoken sentences made with flite
// at run time: 54 sentences in 9 session-like files (6 sentences each, pauses between them, four voices
// taking turns), stored as AAC like a session's recordings. snr_dB:0 is clean, with digital silence
// between the sentences as an application's sound has; snr_dB:38 and snr_dB:29 add steady hiss that
// far below the speech, as a good and a mediocre microphone hear a room. One thread, so one core.
//
// Counters: WER (word errors over reference words, from the transcript lines), RTF (processing time over
// audio time, model loading included), RTF_recognition (without loading), load_s (model loading per
// file), lines_per_sentence (segmentation: 1.0 means one line per spoken sentence).
#include "AudioFileTranscriber.h"
#include "PocketSphinxRecognizer.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 16000;

const char *const kSentences[] = {
    "the weather today is sunny with a light breeze",
    "please send me the report before the meeting on friday",
    "we will need three more chairs for the guests",
    "the train to boston leaves at nine in the morning",
    "my brother bought a new car last week",
    "can you turn off the lights when you leave the room",
    "the children played in the park until it got dark",
    "she reads a book every night before she goes to sleep",
    "our team finished the project two days early",
    "the price of coffee has gone up again this year",
    "i would like to book a table for four people",
    "the library is closed on sundays and holidays",
    "he forgot his umbrella at the office yesterday",
    "the doctor said i should drink more water",
    "they moved to a small house near the river",
    "the store opens at eight and closes at six",
    "we watched a movie about the history of the city",
    "please remember to lock the door when you go out",
    "the garden needs more water during the summer",
    "the new phone has a much better camera",
    "my sister works as a nurse at the hospital",
    "the bus was late because of the heavy traffic",
    "i need to buy some bread and milk on the way home",
    "the teacher asked the students to open their books",
    "the meeting has been moved to next tuesday afternoon",
    "he plays the piano and the guitar very well",
    "the airport was crowded with people going on vacation",
    "we should plan the budget for the next quarter",
    "the cat is sleeping on the chair by the window",
    "it is going to rain later this evening",
    "the company hired ten new engineers this month",
    "please call me back when you have a moment",
    "the restaurant serves fresh fish every day",
    "the old bridge was closed for repairs",
    "she sent an email to all the members of the club",
    "the results of the test will be ready tomorrow",
    "we walked along the beach and watched the sunset",
    "the kitchen table is made of solid wood",
    "the road to the village is very narrow",
    "he has been learning to speak french for two years",
    "the museum has a large collection of paintings",
    "our neighbors are having a party this weekend",
    "the computer needs to be restarted after the update",
    "the farmer grows corn and beans in his fields",
    "the concert starts at seven thirty tonight",
    "i left my keys on the desk in the office",
    "the baby is finally asleep in the other room",
    "the hotel room has a view of the mountains",
    "we need more time to finish the report",
    "the students will take the exam next week",
    "the water in the lake is very cold",
    "the manager will answer your questions after lunch",
    "the flowers in the garden are starting to bloom",
    "he asked for a glass of water and some bread",
};
const char *const kVoices[] = { "kal16", "rms", "slt", "awb" };
constexpr int kPerFile = 6;

struct Recording
{
    QString path;
    QString reference;
    int sentences = 0;
    double seconds = 0;
};

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// 16-bit mono PCM at 16 kHz from a WAV file written by flite.
std::vector<int16_t> readWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    const qsizetype at = data.indexOf("data");
    if (at < 0 || at + 8 > data.size())
        return {};
    const qsizetype count = (data.size() - at - 8) / 2;
    std::vector<int16_t> samples(static_cast<size_t>(count));
    for (qsizetype i = 0; i < count; ++i)
        samples[size_t(i)] = qFromLittleEndian<qint16>(data.constData() + at + 8 + 2 * i);
    return samples;
}

bool writeWav(const QString &path, const std::vector<int16_t> &samples)
{
    QByteArray data("RIFF....WAVEfmt ");
    const auto put = [&data](quint32 value, int bytes) {
        char buffer[4];
        qToLittleEndian(value, buffer);
        data.append(buffer, bytes);
    };
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(kRate, 4);
    put(kRate * 2, 4);
    put(2, 2);
    put(16, 2);
    data.append("data");
    put(quint32(samples.size() * 2), 4);
    for (int16_t sample : samples)
        put(quint16(sample), 2);
    qToLittleEndian(quint32(data.size() - 8), data.data() + 4);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The session-like files, made once per run.
const std::vector<Recording> &recordings(int snr)
{
    static QTemporaryDir dir;
    static std::map<int, std::vector<Recording>> made;
    std::vector<Recording> &files = made[snr];
    if (!files.empty())
        return files;
    std::mt19937 random(42);
    const int count = int(std::size(kSentences));
    for (int first = 0; first < count; first += kPerFile) {
        Recording recording;
        std::vector<int16_t> audio(size_t(kRate * 1.2), 0);
        for (int i = first; i < std::min(first + kPerFile, count); ++i) {
            const QString wav = dir.filePath(QStringLiteral("sentence.wav"));
            const QString voice = QString::fromLatin1(kVoices[(i + i / kPerFile) % std::size(kVoices)]);
            if (!run(QStringLiteral("flite"),
                    { "-voice", voice, "-t", QString::fromLatin1(kSentences[i]), "-o", wav }))
                return files;
            const std::vector<int16_t> speech = readWav(wav);
            audio.insert(audio.end(), speech.begin(), speech.end());
            audio.insert(audio.end(), size_t(kRate * 1.5), 0);
            recording.reference += QString::fromLatin1(kSentences[i]) + u' ';
            ++recording.sentences;
        }
        if (snr > 0) {
            // Relative to the loudness of the speech frames (10 ms frames above -38 dBFS).
            double energy = 0;
            size_t frames = 0;
            for (size_t at = 0; at + 160 <= audio.size(); at += 160) {
                double sum = 0;
                for (size_t k = at; k < at + 160; ++k)
                    sum += double(audio[k]) * audio[k];
                if (sum / 160 > 1e4) {
                    energy += sum / 160;
                    ++frames;
                }
            }
            std::normal_distribution<double> hiss(
                0.0, std::sqrt(energy / std::max<size_t>(frames, 1)) / std::pow(10.0, snr / 20.0));
            for (int16_t &sample : audio)
                sample = int16_t(std::clamp(std::lround(sample + hiss(random)), -32768L, 32767L));
        }
        const QString wav = dir.filePath(QStringLiteral("session.wav"));
        recording.path = dir.filePath(QStringLiteral("session-%1-%2.m4a").arg(snr).arg(first / kPerFile));
        recording.seconds = double(audio.size()) / kRate;
        if (!writeWav(wav, audio)
            || !run(QStringLiteral("ffmpeg"),
                { "-y", "-loglevel", "error", "-i", wav, "-ar", "48000", "-ac", "2", "-c:a", "aac",
                    recording.path }))
            return files;
        files.push_back(recording);
    }
    return files;
}

QStringList words(const QString &text)
{
    static const QRegularExpression stamps(QStringLiteral("\\[\\d+:\\d\\d\\] "));
    static const QRegularExpression separators(QStringLiteral("[^a-z']+"));
    return QString(text).remove(stamps).toLower().split(separators, Qt::SkipEmptyParts);
}

int wordErrors(const QStringList &reference, const QStringList &hypothesis)
{
    std::vector<int> row(size_t(hypothesis.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= reference.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= hypothesis.size(); ++j) {
            const int above = row[size_t(j)];
            row[size_t(j)] = std::min({ above + 1, row[size_t(j - 1)] + 1,
                diagonal + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1) });
            diagonal = above;
        }
    }
    return row.back();
}

void BM_Transcription(benchmark::State &state)
{
    const std::vector<Recording> &files = recordings(int(state.range(0)));
    if (files.size() * kPerFile < std::size(kSentences)) {
        state.SkipWithError("flite or ffmpeg failed");
        return;
    }
    const PocketSphinxRecognizer recognizer;
    double audioSeconds = 0, totalSeconds = 0, loadSeconds = 0;
    int errors = 0, referenceWords = 0, lines = 0, sentences = 0;
    for (auto _ : state) {
        for (const Recording &recording : files) {
            using Clock = std::chrono::steady_clock;
            AudioFileTranscriber::ResultCollector collector;
            int progress = 0;
            const Clock::time_point start = Clock::now();
            Clock::time_point loaded = start;
            SpeechFileRecognizer::Callbacks callbacks;
            // The second progress report comes once the model is loaded.
            callbacks.progressed = [&] {
                if (++progress == 2)
                    loaded = Clock::now();
            };
            callbacks.recognized = [&](const RecognizedSpeech &result) { collector.add(result); };
            const SpeechRecognitionOutcome outcome = recognizer.recognize(recording.path, "en-US", callbacks);
            const Clock::time_point end = Clock::now();
            if (outcome.status != SpeechRecognitionOutcome::Status::finished) {
                state.SkipWithError(qPrintable(outcome.detail));
                return;
            }
            const QString text = collector.text();
            const QStringList reference = words(recording.reference);
            errors += wordErrors(reference, words(text));
            referenceWords += int(reference.size());
            lines += int(text.count(u'\n') + (text.isEmpty() ? 0 : 1));
            sentences += recording.sentences;
            audioSeconds += recording.seconds;
            totalSeconds += std::chrono::duration<double>(end - start).count();
            loadSeconds += std::chrono::duration<double>(loaded - start).count();
        }
    }
    state.counters["WER"] = double(errors) / referenceWords;
    state.counters["RTF"] = totalSeconds / audioSeconds;
    state.counters["RTF_recognition"] = (totalSeconds - loadSeconds) / audioSeconds;
    state.counters["load_s"] = loadSeconds / double(files.size() * state.iterations());
    state.counters["lines_per_sentence"] = double(lines) / sentences;
    state.counters["audio_s"] = audioSeconds / double(state.iterations());
}

} // namespace

BENCHMARK(BM_Transcription)
    ->ArgName("snr_dB")
    ->Arg(0)
    ->Arg(38)
    ->Arg(29)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
