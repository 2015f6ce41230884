// Word error rate and real-time factor of on-device transcription, on spoken sentences made with flite
// at run time: 54 sentences in 9 session-like files (6 sentences each, pauses between them, four voices
// taking turns), stored as AAC like a session's recordings. snr_dB:0 is clean, with digital silence
// between the sentences as an application's sound has; snr_dB:38 and snr_dB:29 add steady hiss that
// far below the speech, as a good and a mediocre microphone hear a room. One thread, so one core: a
// file is heard whole, not in stretches at once.
//
// Counters: WER (word errors over reference words, from the transcript lines), RTF (processing time over
// audio time, model loading included), RTF_recognition (without loading), load_s (model loading per
// file), lines_per_sentence (segmentation: 1.0 means one line per spoken sentence).
//
// BM_VariedSpeech measures material the recognizer was not tuned on, one kind per run: espeak-ng voices
// at other rates and pitches, flite's 8 kHz voice, quiet, clipped and offset recordings, music or
// babble under the speech, a minute of silence in the middle, speech from the first sample, single
// words, numbers and dates, and an 11-minute session. Every file is stored through the session's writer
// from a 48 kHz or 44.1 kHz stereo source. Besides WER, RTF and lines_per_sentence it reports
// onset_error_s (mean distance from each sentence's start to the nearest line's start time),
// late_lines (sentences whose line starts more than a second away) and rss_MB (the process's peak
// resident memory while one file is heard, the largest over the files).
//
// BM_StopToTranscripts is what follows Stop in a session of 1 or 10 minutes: both recordings, Others
// and You (different voices and sentences, pauses between them), transcribed through the program's
// own path (AudioFileTranscriber::transcribe, as many workers as it uses). Counters: stop_s (the
// time until both transcripts are there), per_recorded_s (stop_s over the session's length), WER over
// both, and the process's anonymous resident memory (RssAnon) before, right after and 60 s after, the
// event loop running meanwhile.
#include "Audio/AACStreamWriter.h"
#include "Audio/AudioFileTranscriber.h"
#include "Platform/FreedMemory.h"
#include "Platform/PocketSphinxRecognizer.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <map>
#include <numbers>
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
    const PocketSphinxRecognizer recognizer(PocketSphinxRecognizer::defaultModelRoot(), 1);
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

// --- Varied material -------------------------------------------------------------------------------

const char *const kVariedSentences[] = {
    "the meeting was moved to the third of march at ten thirty",
    "she paid forty two dollars for the tickets",
    "please check the numbers in the second table",
    "my flight leaves on june fifth at seven in the evening",
    "we sold nine hundred units in the first quarter",
    "call the front desk if you need more towels",
    "the package should arrive by monday afternoon",
    "turn left at the second light and park behind the bank",
    "the score was three to one at half time",
    "our new address is fifteen oak street",
    "the phone rang twice before anyone answered",
    "she parked the car in front of the old church",
    "the shop on the corner sells fresh bread",
    "they painted the fence white last summer",
    "his sister lives in a small town by the sea",
    "the printer on the second floor is broken",
    "the river rose after three days of rain",
    "please write your name at the top of the page",
};
const char *const kNumberSentences[] = {
    "he was born on the twelfth of october nineteen eighty",
    "the bill came to one hundred and sixty five dollars",
    "call me at four five five two one nine eight",
    "the train leaves at six fifteen on platform nine",
    "we have twenty seven days left until the first of may",
    "the room number is three hundred and twelve",
};
const char *const kWords[] = { "hello", "yes", "seven", "tomorrow", "thanks", "stop" };

using Samples = std::vector<float>; // 16 kHz mono, full scale 1

// `text` as 16 kHz mono from flite (`voice` a flite voice) or espeak-ng ("espeak:<voice>:<rate>:<pitch>").
Samples speak(const QString &text, const QString &voice, const QTemporaryDir &dir)
{
    const QString raw = dir.filePath(QStringLiteral("raw.wav"));
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    bool spoken = false;
    if (voice.startsWith(QLatin1String("espeak:"))) {
        const QStringList parts = voice.split(u':');
        spoken = run(QStringLiteral("espeak-ng"),
            { "-v", parts.value(1), "-s", parts.value(2), "-p", parts.value(3), "-w", raw, text });
    } else {
        spoken = run(QStringLiteral("flite"), { "-voice", voice, "-t", text, "-o", raw });
    }
    if (!spoken
        || !run(QStringLiteral("ffmpeg"),
            { "-y", "-loglevel", "error", "-i", raw, "-ar", QString::number(kRate), "-ac", "1",
                "-map_metadata", "-1", "-fflags", "+bitexact", wav }))
        return {};
    Samples out;
    for (int16_t sample : readWav(wav))
        out.push_back(float(sample) / 32768.0f);
    return out;
}

double onsetOf(const Samples &speech)
{
    const auto loud = std::find_if(speech.begin(), speech.end(), [](float s) { return std::abs(s) > 0.01f; });
    return double(loud - speech.begin()) / kRate;
}

struct Varied
{
    QString path;
    QString reference;
    std::vector<double> onsets;
    double seconds = 0;
};

// Stores 16 kHz mono material the way a session records it: a `rate` Hz stereo float source, handed to
// the session's writer in blocks of 1024 frames.
bool store(const QString &path, const Samples &audio, int rate, const QTemporaryDir &dir)
{
    const QString wav = dir.filePath(QStringLiteral("mono.wav"));
    const QString raw = dir.filePath(QStringLiteral("source.f32"));
    QFile file(wav);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray data("RIFF....WAVEfmt ");
    const auto put = [&data](quint32 value, int bytes) {
        char buffer[4];
        qToLittleEndian(value, buffer);
        data.append(buffer, bytes);
    };
    put(16, 4);
    put(3, 2); // IEEE float
    put(1, 2);
    put(kRate, 4);
    put(kRate * 4, 4);
    put(4, 2);
    put(32, 2);
    data.append("data");
    put(quint32(audio.size() * 4), 4);
    data.append(reinterpret_cast<const char *>(audio.data()), qsizetype(audio.size() * 4));
    qToLittleEndian(quint32(data.size() - 8), data.data() + 4);
    if (file.write(data) != data.size())
        return false;
    file.close();
    if (!run(QStringLiteral("ffmpeg"),
            { "-y", "-loglevel", "error", "-i", wav, "-ar", QString::number(rate), "-ac", "2", "-f", "f32le",
                raw }))
        return false;
    QFile source(raw);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const QByteArray frames = source.readAll();
    const AudioStreamFormat format { double(rate), 2, AudioStreamFormat::SampleType::float32, true };
    try {
        AACStreamWriter writer(path, format);
        constexpr qsizetype block = 1024 * 2 * 4;
        for (qsizetype at = 0; at < frames.size(); at += block) {
            const void *planes[] = { frames.constData() + at };
            writer.append(AudioPCMBuffer(format, planes, std::min(block, frames.size() - at) / 8));
        }
        return !writer.finish().writeFailed;
    } catch (const AACStreamWriterError &) {
        return false;
    }
}

struct Piece
{
    QString text;
    Samples speech;
};

// Sentences with pauses between them, starting after `lead` seconds.
void lay(Varied &varied, Samples &audio, const std::vector<Piece> &pieces, double lead, double gap)
{
    audio.insert(audio.end(), size_t(lead * kRate), 0.0f);
    for (const Piece &piece : pieces) {
        varied.onsets.push_back(double(audio.size()) / kRate + onsetOf(piece.speech));
        audio.insert(audio.end(), piece.speech.begin(), piece.speech.end());
        audio.insert(audio.end(), size_t(gap * kRate), 0.0f);
        varied.reference += piece.text + u' ';
    }
}

double speechRms(const Samples &audio)
{
    double sum = 0;
    size_t count = 0;
    for (float s : audio) {
        if (std::abs(s) > 0.01f) {
            sum += double(s) * s;
            ++count;
        }
    }
    return std::sqrt(sum / double(std::max<size_t>(count, 1)));
}

void scaleToPeak(Samples &audio, double peakDb)
{
    float peak = 1e-9f;
    for (float s : audio)
        peak = std::max(peak, std::abs(s));
    const float scale = float(std::pow(10.0, peakDb / 20.0)) / peak;
    for (float &s : audio)
        s *= scale;
}

enum Kind {
    espeakRates,
    espeakVoices,
    flite8kHz,
    quiet30,
    quiet45,
    clipped,
    dcOffset,
    music,
    babble,
    silenceInMiddle,
    startsAtZero,
    singleWords,
    numbersAndDates,
    longSession,
    kindCount
};
const char *const kKindNames[] = { "espeak_rates", "espeak_voices", "flite_kal_8kHz", "level_-30dBFS",
    "level_-45dBFS", "clipped_x4", "dc_offset_0.2", "music_-15dB", "babble_-12dB", "silence_60s_middle",
    "starts_at_0s", "single_words", "numbers_dates", "long_11min" };

std::vector<Varied> makeVaried(Kind kind, const QTemporaryDir &dir)
{
    const auto pieces = [&dir](int first, int count, const QStringList &voices) {
        std::vector<Piece> out;
        for (int i = 0; i < count; ++i) {
            const QString text
                = QString::fromLatin1(kVariedSentences[(first + i) % std::size(kVariedSentences)]);
            out.push_back({ text, speak(text, voices[i % voices.size()], dir) });
            if (out.back().speech.empty())
                return std::vector<Piece> {};
        }
        return out;
    };
    const QStringList flite { "slt", "awb", "rms", "kal16" };
    std::vector<std::pair<Samples, Varied>> made;
    const auto session = [&](const std::vector<Piece> &parts, double lead = 1.0, double gap = 1.5) {
        Varied varied;
        Samples audio;
        lay(varied, audio, parts, lead, gap);
        made.emplace_back(std::move(audio), std::move(varied));
        return !parts.empty();
    };

    bool ok = true;
    switch (kind) {
    case espeakRates:
        for (int rate : { 130, 175, 230 })
            ok = ok && session(pieces(rate / 10, 5, { QStringLiteral("espeak:en-us:%1:50").arg(rate) }));
        break;
    case espeakVoices:
        ok = session(pieces(0, 5, { "espeak:en-us+m3:165:20" }))
            && session(pieces(5, 5, { "espeak:en-us+f2:165:80" }))
            && session(pieces(10, 5, { "espeak:en-gb+klatt4:165:50" }));
        break;
    case flite8kHz:
        ok = session(pieces(0, 6, { "kal" })) && session(pieces(6, 6, { "kal" }));
        break;
    case quiet30:
    case quiet45:
    case clipped:
    case dcOffset:
    case music:
    case babble:
        ok = session(pieces(0, 6, flite)) && session(pieces(6, 6, flite));
        break;
    case silenceInMiddle: {
        ok = session(pieces(0, 3, flite));
        const std::vector<Piece> rest = pieces(3, 3, flite);
        if (ok && !rest.empty()) {
            auto &[audio, varied] = made.back();
            lay(varied, audio, rest, 60.0, 1.5);
        }
        ok = ok && !rest.empty();
        break;
    }
    case startsAtZero:
        ok = session(pieces(0, 6, flite), 0.0);
        for (auto &[audio, varied] : made) {
            // The first word from the very first sample.
            const size_t lead = size_t(varied.onsets.front() * kRate);
            audio.erase(audio.begin(), audio.begin() + qsizetype(lead));
            for (double &onset : varied.onsets)
                onset -= double(lead) / kRate;
        }
        break;
    case singleWords:
        for (size_t i = 0; i < std::size(kWords); ++i) {
            const QString word = QString::fromLatin1(kWords[i]);
            std::vector<Piece> one { { word, speak(word, flite[qsizetype(i) % flite.size()], dir) } };
            ok = ok && !one.front().speech.empty() && session(one, 1.0, 1.0);
        }
        break;
    case numbersAndDates: {
        std::vector<Piece> parts;
        for (size_t i = 0; i < std::size(kNumberSentences); ++i) {
            const QString text = QString::fromLatin1(kNumberSentences[i]);
            parts.push_back({ text, speak(text, flite[qsizetype(i) % flite.size()], dir) });
            ok = ok && !parts.back().speech.empty();
        }
        ok = ok && session(parts);
        break;
    }
    case longSession: {
        // Eleven minutes: sentences in turns of three per voice, pauses from a quarter second to three.
        std::vector<Piece> voiced;
        const QStringList voices { "slt", "rms", "awb", "kal16", "espeak:en-us:160:50" };
        for (size_t i = 0; i < std::size(kVariedSentences) * voices.size(); ++i) {
            const QString text = QString::fromLatin1(kVariedSentences[i % std::size(kVariedSentences)]);
            voiced.push_back({ text, speak(text, voices[qsizetype(i / 3) % voices.size()], dir) });
            ok = ok && !voiced.back().speech.empty();
        }
        if (!ok)
            break;
        std::mt19937 random(11);
        const double gaps[] = { 0.25, 0.35, 0.6, 1.0, 1.5, 3.0 };
        Varied varied;
        Samples audio(size_t(0.8 * kRate), 0.0f);
        for (size_t i = 0; audio.size() < size_t(11 * 60 * kRate); ++i)
            lay(varied, audio, { voiced[i % voiced.size()] }, 0.0, gaps[random() % std::size(gaps)]);
        made.emplace_back(std::move(audio), std::move(varied));
        break;
    }
    case kindCount:
        break;
    }
    if (!ok)
        return {};

    std::mt19937 random(5);
    std::vector<Varied> files;
    for (size_t n = 0; n < made.size(); ++n) {
        auto &[audio, varied] = made[n];
        const double rms = speechRms(audio);
        switch (kind) {
        case quiet30:
            scaleToPeak(audio, -30);
            break;
        case quiet45:
            scaleToPeak(audio, -45);
            break;
        case clipped:
            scaleToPeak(audio, 12);
            for (float &s : audio)
                s = std::clamp(s, -1.0f, 1.0f);
            break;
        case dcOffset:
            scaleToPeak(audio, -6);
            for (float &s : audio)
                s += 0.2f;
            break;
        case music: {
            // A slow chord with a pulsing voice, 15 dB below the speech.
            const double level = rms * std::pow(10.0, -15 / 20.0) / 0.9;
            for (size_t i = 0; i < audio.size(); ++i) {
                const double t = double(i) / kRate;
                const double chord = std::sin(2 * std::numbers::pi * 220 * t)
                    + std::sin(2 * std::numbers::pi * 277 * t)
                    + std::sin(2 * std::numbers::pi * 330 * t)
                        * (0.5 + 0.5 * std::sin(2 * std::numbers::pi * 0.5 * t));
                audio[i] += float(level * chord);
            }
            break;
        }
        case babble: {
            // Other voices talking over each other, 12 dB below the speech.
            Samples crowd(audio.size(), 0.0f);
            const QStringList others { "espeak:en-us+m1:170:40", "espeak:en-us+f3:170:60",
                "espeak:en-gb:170:50" };
            for (int k = 0; k < 3 * int(audio.size() / kRate / 2); ++k) {
                const Samples talk
                    = speak(QString::fromLatin1(kVariedSentences[(k + 7) % std::size(kVariedSentences)]),
                        others[k % others.size()], dir);
                const size_t at = random() % audio.size();
                for (size_t i = 0; i < talk.size() && at + i < crowd.size(); ++i)
                    crowd[at + i] += talk[i];
                if (talk.empty())
                    return {};
            }
            double sum = 0;
            for (float s : crowd)
                sum += double(s) * s;
            const double scale
                = rms * std::pow(10.0, -12 / 20.0) / std::sqrt(sum / double(crowd.size()) + 1e-12);
            for (size_t i = 0; i < audio.size(); ++i)
                audio[i] += float(scale * crowd[i]);
            break;
        }
        default:
            break;
        }
        varied.path
            = dir.filePath(QStringLiteral("%1-%2.m4a").arg(QString::fromLatin1(kKindNames[kind])).arg(n));
        varied.seconds = double(audio.size()) / kRate;
        if (!store(varied.path, audio, n % 2 == 0 ? 48000 : 44100, dir))
            return {};
        files.push_back(std::move(varied));
    }
    return files;
}

// The process's peak resident memory starts again from what it holds now (Linux).
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double peakMemoryMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

void BM_VariedSpeech(benchmark::State &state)
{
    const Kind kind = Kind(state.range(0));
    state.SetLabel(kKindNames[kind]);
    static QTemporaryDir dir;
    const std::vector<Varied> files = makeVaried(kind, dir);
    if (files.empty()) {
        state.SkipWithError("flite, espeak-ng or ffmpeg failed");
        return;
    }
    const PocketSphinxRecognizer recognizer(PocketSphinxRecognizer::defaultModelRoot(), 1);
    double audioSeconds = 0, totalSeconds = 0, onsetError = 0, peakMB = 0;
    int errors = 0, referenceWords = 0, lines = 0, sentences = 0, late = 0;
    for (auto _ : state) {
        for (const Varied &file : files) {
            AudioFileTranscriber::ResultCollector collector;
            std::vector<double> starts;
            SpeechFileRecognizer::Callbacks callbacks;
            callbacks.recognized = [&](const RecognizedSpeech &result) {
                collector.add(result);
                starts.push_back(result.startSeconds);
            };
            resetPeakMemory();
            const auto start = std::chrono::steady_clock::now();
            const SpeechRecognitionOutcome outcome = recognizer.recognize(file.path, "en-US", callbacks);
            totalSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            peakMB = std::max(peakMB, peakMemoryMB());
            if (outcome.status != SpeechRecognitionOutcome::Status::finished) {
                state.SkipWithError(qPrintable(outcome.detail));
                return;
            }
            const QString text = collector.text();
            const QStringList reference = words(file.reference);
            errors += wordErrors(reference, words(text));
            referenceWords += int(reference.size());
            lines += int(starts.size());
            for (double onset : file.onsets) {
                double nearest = file.seconds;
                for (double s : starts)
                    nearest = std::min(nearest, std::abs(s - onset));
                onsetError += nearest;
                late += nearest > 1.0;
            }
            sentences += int(file.onsets.size());
            audioSeconds += file.seconds;
        }
    }
    state.counters["WER"] = double(errors) / referenceWords;
    state.counters["RTF"] = totalSeconds / audioSeconds;
    state.counters["lines_per_sentence"] = double(lines) / sentences;
    state.counters["onset_error_s"] = onsetError / sentences;
    state.counters["late_lines"] = late;
    state.counters["audio_s"] = audioSeconds / double(state.iterations());
    state.counters["rss_MB"] = peakMB;
}

double anonymousMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

void runEventsFor(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

// One side of a conversation of `minutes`: sentences in `voices`' turns with pauses of 1 to 4 s, as
// many as fit whole, then silence.
Varied conversation(int minutes, int first, const QStringList &voices, const QTemporaryDir &dir)
{
    std::vector<Piece> spoken;
    for (size_t i = 0; i < std::size(kSentences); ++i) {
        const QString text = QString::fromLatin1(kSentences[(size_t(first) + i) % std::size(kSentences)]);
        spoken.push_back({ text, speak(text, voices[qsizetype(i / 2) % voices.size()], dir) });
        if (spoken.back().speech.empty())
            return {};
    }
    std::mt19937 random(unsigned(first) + 3);
    const size_t length = size_t(minutes) * 60 * kRate;
    Varied varied;
    Samples audio(size_t(1.0 * kRate), 0.0f);
    for (size_t i = 0;; ++i) {
        const Piece &next = spoken[i % spoken.size()];
        const double gap = 1.0 + double(random() % 300) / 100.0;
        if (audio.size() + next.speech.size() + size_t(gap * kRate) > length)
            break;
        lay(varied, audio, { next }, 0.0, gap);
    }
    audio.resize(length, 0.0f);
    varied.seconds = double(audio.size()) / kRate;
    varied.path = dir.filePath(QStringLiteral("conversation-%1-%2.m4a").arg(minutes).arg(first));
    if (!store(varied.path, audio, 48000, dir))
        return {};
    return varied;
}

void BM_StopToTranscripts(benchmark::State &state)
{
    const int minutes = int(state.range(0));
    static QTemporaryDir dir;
    const Varied others = conversation(minutes, 0, { "slt", "rms", "awb" }, dir);
    const Varied you = conversation(minutes, 27, { "kal16", "awb" }, dir);
    if (others.path.isEmpty() || you.path.isEmpty()) {
        state.SkipWithError("flite or ffmpeg failed");
        return;
    }
    // What the program holds once a session is heard, after its pool threads went idle.
    runEventsFor(std::chrono::seconds(1));
    const double idle = anonymousMiB();
    double stopSeconds = 0, after = 0;
    AudioTranscripts transcripts;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Task<AudioTranscripts> task
            = AudioFileTranscriber::transcribe(others.path, you.path, true, true, [](const QString &) {});
        while (!task.isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        stopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        transcripts = task.result();
        after = anonymousMiB();
    }
    runEventsFor(std::chrono::seconds(60));
    const QStringList othersWords = words(others.reference), youWords = words(you.reference);
    const int errors
        = wordErrors(othersWords, words(transcripts.others)) + wordErrors(youWords, words(transcripts.you));
    state.counters["stop_s"] = stopSeconds;
    state.counters["per_recorded_s"] = stopSeconds / others.seconds;
    state.counters["WER"] = double(errors) / double(othersWords.size() + youWords.size());
    state.counters["anon_MiB_idle"] = idle;
    state.counters["anon_MiB_after"] = after;
    state.counters["anon_MiB_60s"] = anonymousMiB();
    state.counters["audio_s"] = others.seconds;
}

} // namespace

BENCHMARK(BM_StopToTranscripts)->ArgName("minutes")->Arg(1)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK(BM_VariedSpeech)
    ->ArgName("kind")
    ->DenseRange(0, kindCount - 1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK(BM_Transcription)
    ->ArgName("snr_dB")
    ->Arg(0)
    ->Arg(38)
    ->Arg(29)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    // The heaps as the program keeps them.
    FreedMemory::keepHeapsSmall();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
