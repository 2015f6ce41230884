#include "Platform/PocketSphinxRecognizer.h"

#include "Platform/AudioFileDecoder.h"
#include "Platform/FreedMemory.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>

#include <pocketsphinx.h>
#include <sphinxbase/cmd_ln.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/feat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kSampleRate = AudioFileDecoder::sampleRate;
constexpr int kFrameSamples = kSampleRate / 100; // the recognizer's 10 ms frame shift
// Fed in steps shorter than the 10 frames speech needs to start, so no pause hides inside a step.
constexpr size_t kStepSamples = 5 * kFrameSamples;

// Long speech is cut so a transcript line stays readable: from 9 s on at the first pause of 150 ms;
// from 13 s on after the last word the recognizer is sure of, else at the quietest moment of the next
// second, so no line runs much past 14 s.
constexpr int kSoftSplitFrames = 900;
constexpr int kLateSplitFrames = 1300;
constexpr int kPauseFrames = 15;
// A word counts as sure once it ended this long before the newest audio.
constexpr int kSettledFrames = 30;
constexpr size_t kLookAheadSamples = size_t(kSampleRate);
// Audio already heard that is kept, so a cut after a word can hear what followed it again.
constexpr size_t kHistorySamples = 3 * size_t(kSampleRate);
constexpr size_t kKeptSilence = size_t(kSampleRate) * 3 / 10;

struct LocaleModel
{
    const char *locale;
    const char *folder;
    const char *acoustic;
    const char *languageModel;
    const char *dictionary;
};

// The models Debian packages; only US English exists (pocketsphinx-en-us).
constexpr LocaleModel kModels[] = {
    { "en-US", "en-us", "en-us", "en-us.lm.bin", "cmudict-en-us.dict" },
};

// Quiet recordings are raised so their loudest sample reaches half of full scale, at most by 40 dB so
// a near-silent file does not turn its noise into words; loud ones are left as they are.
constexpr double kLevelledPeak = 16384.0;
constexpr double kMaxGain = 100.0;

// Speech heard before the recognizer's mean cepstrum is set from the file, and how much the model's
// built-in mean still counts against it, in 10 ms frames.
constexpr int kPrimingFrames = 2000;
constexpr int kPriorFrames = CMN_WIN;

// Speech after digital silence (a quiet application, a muted call) is misheard unless the samples are
// dithered: one in four raised by one step. The library can do it, but from one generator that every
// recognizer in the program shares, unguarded, so two files heard at once would race on it and take
// each other's draws. Each recognition dithers for itself instead, from a generator of its own with a
// fixed seed, so the same file always gives the same transcript. It draws as the library did, from
// 31 of the 32 bits, and one stream runs on from the priming pass into the recognition: restarting it
// or taking the lowest bits heard hissy speech worse.
class Dither
{
public:
    void apply(int16_t *samples, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            if ((m_random() >> 1) % 4 == 0 && samples[i] < INT16_MAX)
                ++samples[i];
        }
    }

private:
    std::mt19937 m_random { 1 };
};

void silenceLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

struct DecoderDeleter
{
    void operator()(ps_decoder_t *decoder) const { ps_free(decoder); }
};
using Decoder = std::unique_ptr<ps_decoder_t, DecoderDeleter>;

// Loudness of one 10 ms frame, in dB.
float frameLevel(const int16_t *samples, int count)
{
    double sum = 0.0;
    for (int i = 0; i < count; ++i)
        sum += double(samples[i]) * double(samples[i]);
    return float(10.0 * std::log10(sum / std::max(count, 1) + 1.0));
}

QString wordOf(const char *raw)
{
    // Fillers ("<sil>", "[NOISE]") are not words; "read(2)" is the second pronunciation of "read".
    if (!raw || raw[0] == '<' || raw[0] == '[' || raw[0] == '+')
        return {};
    QString word = QString::fromUtf8(raw);
    const qsizetype paren = word.indexOf(QLatin1Char('('));
    if (paren > 0 && word.endsWith(QLatin1Char(')')))
        word.truncate(paren);
    return word;
}

// Feeds one file's samples through the recognizer and turns its speech into results. Holds back
// a second of audio so a long utterance can be cut at the best moment ahead.
class Session
{
public:
    // `offsetSeconds`: where the samples fed begin in the file.
    Session(ps_decoder_t *decoder, const SpeechFileRecognizer::Callbacks &callbacks, Dither &dither,
        double offsetSeconds = 0.0)
        : m_decoder(decoder)
        , m_callbacks(callbacks)
        , m_dither(dither)
        , m_offsetSeconds(offsetSeconds)
    { }

    bool start() { return ps_start_stream(m_decoder) >= 0 && ps_start_utt(m_decoder) >= 0; }

    void feed(const int16_t *samples, size_t count)
    {
        m_pending.insert(m_pending.end(), samples, samples + count);
        m_dither.apply(m_pending.data() + m_pending.size() - count, count);
        pump(false);
    }

    void finish()
    {
        pump(true);
        endUtterance(false);
    }

private:
    int utteranceFrames() const { return int((m_fed - m_speechStart) / kFrameSamples); }

    void pump(bool all)
    {
        // Long leading digital silence is not fed: the noise tracker would settle on it and mishear the
        // speech that follows. A short stretch of it is kept ahead of the sound; the skipped length is
        // added back to every time.
        while (m_leadingSilence && m_head + m_silentAhead + kFrameSamples <= m_pending.size()) {
            const int16_t *frame = m_pending.data() + m_head + m_silentAhead;
            if (!std::all_of(frame, frame + kFrameSamples, [](int16_t s) { return std::abs(s) <= 4; })) {
                m_leadingSilence = false;
                break;
            }
            m_silentAhead += kFrameSamples;
            if (m_silentAhead > kKeptSilence) {
                m_head += kFrameSamples;
                m_silentAhead -= kFrameSamples;
                m_skippedFrames += 1;
            }
        }
        if (m_leadingSilence && !all) {
            compact();
            return;
        }
        for (;;) {
            const size_t available = m_pending.size() - m_head;
            if (available == 0 || (!all && available < kLookAheadSamples))
                break;
            if (m_inSpeech && utteranceFrames() >= kLateSplitFrames && cutAfterSettledWord())
                continue;
            const int16_t *next = m_pending.data() + m_head;
            const std::optional<size_t> cut
                = m_inSpeech ? splitPoint(next, std::min(available, kLookAheadSamples)) : std::nullopt;
            if (cut) {
                processInSteps(next, *cut);
                m_head += *cut;
                if (m_inSpeech)
                    endUtterance();
                continue;
            }
            const size_t step = std::min(kStepSamples, available);
            process(next, step);
            m_head += step;
        }
        compact();
    }

    void compact()
    {
        if (m_head > kHistorySamples + kLookAheadSamples) {
            const size_t drop = m_head - kHistorySamples;
            m_pending.erase(m_pending.begin(), m_pending.begin() + qsizetype(drop));
            m_head -= drop;
        }
    }

    // Ends the utterance after the last word that ended a while ago and hears the rest again as the
    // start of the next one, so no word is cut in two. False when no such word is there yet.
    bool cutAfterSettledWord()
    {
        const int newest = int(m_fed / kFrameSamples);
        const int start = int(m_speechStart / kFrameSamples);
        int boundary = -1;
        for (ps_seg_t *seg = ps_seg_iter(m_decoder); seg; seg = ps_seg_next(seg)) {
            int first = 0, last = 0;
            ps_seg_frames(seg, &first, &last);
            if (last < newest - kSettledFrames && !wordOf(ps_seg_word(seg)).isEmpty())
                boundary = last + 1;
        }
        const size_t rewind = size_t(newest - boundary) * kFrameSamples;
        if (boundary < start + 100 || rewind > m_head)
            return false;
        ps_end_utt(m_decoder);
        deliver(boundary);
        m_frameShift += newest - boundary;
        m_head -= rewind;
        m_inSpeech = false;
        m_levels.clear();
        ps_start_utt(m_decoder);
        return true;
    }

    void processInSteps(const int16_t *samples, size_t count)
    {
        for (size_t done = 0; done < count; done += kStepSamples)
            process(samples + done, std::min(kStepSamples, count - done));
    }

    void process(const int16_t *samples, size_t count)
    {
        ps_process_raw(m_decoder, samples, count, FALSE, FALSE);
        m_fed += qint64(count);
        const bool speech = ps_get_in_speech(m_decoder);
        if (speech && !m_inSpeech) {
            m_inSpeech = true;
            m_speechStart = m_fed - qint64(count);
            m_levels.clear();
        } else if (!speech && m_inSpeech) {
            endUtterance();
            return;
        }
        if (m_inSpeech) {
            for (size_t i = 0; i + kFrameSamples <= count; i += kFrameSamples)
                m_levels.push_back(frameLevel(samples + i, kFrameSamples));
        }
    }

    // Where to end a long utterance within the samples ahead, or none to go on.
    std::optional<size_t> splitPoint(const int16_t *ahead, size_t count) const
    {
        const int frames = utteranceFrames();
        if (frames < kSoftSplitFrames || m_levels.size() < 100)
            return std::nullopt;
        std::vector<float> levels;
        for (size_t i = 0; i + kFrameSamples <= count; i += kFrameSamples)
            levels.push_back(frameLevel(ahead + i, kFrameSamples));
        if (levels.size() < 3)
            return std::nullopt;

        // Quiet relative to this utterance: the lower part of its range of levels.
        std::vector<float> sorted(m_levels);
        const auto low = sorted.begin() + qsizetype(sorted.size() / 10);
        std::nth_element(sorted.begin(), low, sorted.end());
        const float floor = *low;
        const auto high = sorted.begin() + qsizetype(sorted.size() * 9 / 10);
        std::nth_element(sorted.begin(), high, sorted.end());
        const float threshold = floor + 0.3f * (*high - floor);

        int run = 0;
        for (size_t k = 0; k < levels.size(); ++k) {
            run = levels[k] < threshold ? run + 1 : 0;
            if (run >= kPauseFrames)
                return (k + 1 - size_t(run / 2)) * kFrameSamples;
        }
        if (frames < kLateSplitFrames)
            return std::nullopt;
        // No pause: the middle of the quietest 70 ms ahead, most likely a gap between words.
        constexpr size_t width = 7;
        if (levels.size() < width)
            return std::nullopt;
        float sum = 0.0f;
        for (size_t k = 0; k < width; ++k)
            sum += levels[k];
        float bestSum = sum;
        size_t best = 0;
        for (size_t k = width; k < levels.size(); ++k) {
            sum += levels[k] - levels[k - width];
            if (sum < bestSum) {
                bestSum = sum;
                best = k + 1 - width;
            }
        }
        best += width / 2;
        return best * kFrameSamples;
    }

    void endUtterance(bool restart = true)
    {
        ps_end_utt(m_decoder);
        deliver();
        m_inSpeech = false;
        m_levels.clear();
        if (restart)
            ps_start_utt(m_decoder);
    }

    // Hands on the words of the ended utterance, those centred before `beforeFrame` when given.
    void deliver(std::optional<int> beforeFrame = std::nullopt)
    {
        QStringList words;
        int firstFrame = -1;
        for (ps_seg_t *seg = ps_seg_iter(m_decoder); seg; seg = ps_seg_next(seg)) {
            const QString word = wordOf(ps_seg_word(seg));
            if (word.isEmpty())
                continue;
            int first = 0, last = 0;
            ps_seg_frames(seg, &first, &last);
            if (beforeFrame && (first + last) / 2 >= *beforeFrame) {
                ps_seg_free(seg); // an iterator left before its end is not freed by ps_seg_next
                break;
            }
            if (firstFrame < 0)
                firstFrame = first;
            words.push_back(word);
        }
        if (words.isEmpty() || !m_callbacks.recognized)
            return;
        m_callbacks.recognized(RecognizedSpeech { words.join(QLatin1Char(' ')),
            m_offsetSeconds + (std::max(firstFrame - m_frameShift, 0) + m_skippedFrames) / 100.0, true });
    }

    ps_decoder_t *m_decoder;
    const SpeechFileRecognizer::Callbacks &m_callbacks;
    Dither &m_dither;
    double m_offsetSeconds;
    std::vector<int16_t> m_pending;
    size_t m_head = 0;
    bool m_leadingSilence = true;
    size_t m_silentAhead = 0;
    qint64 m_skippedFrames = 0;
    // Frames heard twice after cuts: the recognizer's frame numbers run ahead of the file by this much.
    int m_frameShift = 0;
    // Everything handed to the recognizer, repeats included; its frame numbers count the same way.
    qint64 m_fed = 0;
    qint64 m_speechStart = 0;
    bool m_inSpeech = false;
    std::vector<float> m_levels;
};

struct Levelling
{
    // Brings the whole file's loudest sample to the levelled peak; none when the file could not be
    // read to its end or the caller stopped.
    std::optional<double> gain;
    // Samples in the file, as far as it could be read.
    qint64 samples = 0;
    // The loudness of each whole 10 ms frame, before the gain.
    std::vector<float> frameLevels;
};

// Reads the whole file once. Reading a long file takes a while: it reports progress.
Levelling levelling(
    const QString &filePath, const std::function<bool()> &shouldStop, const std::function<void()> &progressed)
{
    Levelling result;
    AudioFileDecoder decoder(shouldStop);
    if (decoder.open(filePath))
        return result;
    int peak = 0;
    std::vector<int16_t> samples;
    std::vector<int16_t> frame;
    for (;;) {
        samples.clear();
        const AudioFileDecoder::ReadStatus status = decoder.read(samples);
        for (int16_t sample : samples) {
            peak = std::max(peak, std::abs(int(sample)));
            frame.push_back(sample);
            if (frame.size() == size_t(kFrameSamples)) {
                result.frameLevels.push_back(frameLevel(frame.data(), kFrameSamples));
                frame.clear();
            }
        }
        result.samples += qint64(samples.size());
        progressed();
        if (status == AudioFileDecoder::ReadStatus::end)
            break;
        if (status != AudioFileDecoder::ReadStatus::data)
            return result;
    }
    result.gain = peak == 0 ? 1.0 : std::clamp(kLevelledPeak / peak, 1.0, kMaxGain);
    return result;
}

// The recognizer normalises each frame by a running mean cepstrum that starts from a value built into
// the model and settles only after several seconds of speech, so the first sentences of a recording
// whose level or voice differs from the model's average were misheard. The mean of the file's own
// first speech, found by the same front end's voice detection, starts it where it settles.
void primeCepstralMean(ps_decoder_t *recognizer, const QString &filePath, double gain,
    const std::function<bool()> &shouldStop, Dither &dither, qint64 from = 0,
    qint64 to = std::numeric_limits<qint64>::max())
{
    feat_t *features = ps_get_feat(recognizer);
    cmd_ln_t *config = ps_get_config(recognizer);
    if (!features || !features->cmn_struct || !config)
        return;
    fe_t *frontEnd = fe_init_auto_r(config);
    if (!frontEnd)
        return;
    const int width = fe_get_output_size(frontEnd);
    cmn_t *cmn = features->cmn_struct;
    if (width != cmn->veclen) {
        fe_free(frontEnd);
        return;
    }
    std::vector<double> sum(static_cast<size_t>(width), 0.0);
    int frames = 0;
    constexpr int kBlock = 64;
    auto **cepstra = static_cast<mfcc_t **>(ckd_calloc_2d(kBlock, size_t(width), sizeof(mfcc_t)));
    const auto take = [&](int count) {
        for (int f = 0; f < count && frames < kPrimingFrames; ++f, ++frames) {
            for (int k = 0; k < width; ++k)
                sum[size_t(k)] += double(MFCC2FLOAT(cepstra[f][k]));
        }
    };
    AudioFileDecoder decoder(shouldStop);
    decoder.setGain(gain);
    if (!decoder.open(filePath) && fe_start_utt(frontEnd) >= 0) {
        std::vector<int16_t> samples;
        qint64 position = 0;
        AudioFileDecoder::ReadStatus status = AudioFileDecoder::ReadStatus::data;
        while (status == AudioFileDecoder::ReadStatus::data && frames < kPrimingFrames && position < to) {
            samples.clear();
            status = decoder.read(samples);
            const qint64 begin = position;
            position += qint64(samples.size());
            const size_t first = size_t(std::clamp<qint64>(from - begin, 0, qint64(samples.size())));
            const size_t last = size_t(std::clamp<qint64>(to - begin, 0, qint64(samples.size())));
            if (first >= last)
                continue;
            dither.apply(samples.data() + first, last - first);
            const int16 *at = samples.data() + first;
            size_t left = last - first;
            while (left > 0 && frames < kPrimingFrames) {
                const size_t before = left;
                int32 count = kBlock;
                if (fe_process_frames(frontEnd, &at, &left, cepstra, &count, nullptr) < 0)
                    break;
                take(count);
                if (count == 0 && left == before)
                    break;
            }
        }
        int32 count = 0;
        fe_end_utt(frontEnd, cepstra[0], &count);
        take(count);
    }
    ckd_free_2d(cepstra);
    fe_free(frontEnd);
    if (frames == 0)
        return;
    std::vector<mfcc_t> mean(static_cast<size_t>(width));
    for (int k = 0; k < width; ++k) {
        const double prior = double(MFCC2FLOAT(cmn->cmn_mean[k]));
        mean[size_t(k)]
            = FLOAT2MFCC(float((sum[size_t(k)] + prior * kPriorFrames) / (frames + kPriorFrames)));
    }
    cmn_live_set(cmn, mean.data());
}

// A stretch of the file heard by a recognizer of its own, in samples from the file's start.
struct Stretch
{
    qint64 from = 0;
    qint64 to = std::numeric_limits<qint64>::max();
};

// A long file is heard in stretches at once, each at least this long, cut in the middle of a pause
// long enough that the recognizer would have ended its utterance there anyway: nothing said is cut,
// and no stretch starts in the middle of a sentence.
constexpr qint64 kShortestStretch = 20 * qint64(kSampleRate);
constexpr int kCutPauseFrames = 80;
// A frame this far above the file's quietest tenth counts as sound.
constexpr float kPauseMarginDB = 6.0f;
// The recognizer of a later stretch starts with the mean cepstrum of the speech before it, as the one
// that heard the file from its start would have it there.
constexpr qint64 kPrimingLookBack = 30 * qint64(kSampleRate);

// Where to cut a file of `samples`, whose 10 ms frames have `levels`, into at most `parts` stretches:
// near equal parts, each cut in the pause nearest its place within a quarter of a part. A place
// without such a pause is not cut, so the file may come out in fewer stretches.
std::vector<Stretch> stretchesOf(const std::vector<float> &levels, qint64 samples, int parts)
{
    parts = int(std::min<qint64>(parts, samples / kShortestStretch));
    if (parts < 2 || levels.size() < size_t(kCutPauseFrames))
        return { Stretch {} };
    std::vector<float> sorted(levels);
    const auto tenth = sorted.begin() + qsizetype(sorted.size() / 10);
    std::nth_element(sorted.begin(), tenth, sorted.end());
    const float quiet = *tenth + kPauseMarginDB;

    const qint64 frames = qint64(levels.size());
    std::vector<Stretch> stretches { Stretch {} };
    for (int part = 1; part < parts; ++part) {
        const qint64 place = frames * part / parts;
        const qint64 reach = frames / parts / 4;
        std::optional<qint64> best;
        int run = 0;
        for (qint64 f = std::max<qint64>(place - reach, 0); f < std::min(place + reach, frames); ++f) {
            run = levels[size_t(f)] <= quiet ? run + 1 : 0;
            if (run < kCutPauseFrames)
                continue;
            const qint64 middle = f - kCutPauseFrames / 2;
            if (!best || std::abs(middle - place) < std::abs(*best - place))
                best = middle;
        }
        if (!best)
            continue;
        const qint64 cut = *best * kFrameSamples;
        stretches.back().to = cut;
        stretches.push_back(Stretch { cut });
    }
    return stretches;
}

// The callbacks of one file, shared by the threads that hear its stretches: one call at a time.
class SharedCallbacks
{
public:
    SharedCallbacks(const SpeechFileRecognizer::Callbacks &callbacks, qint64 total)
        : m_callbacks(callbacks)
        , m_total(double(std::max<qint64>(total, 1)))
    { }

    bool shouldStop() const
    {
        if (m_abandoned)
            return true;
        std::lock_guard lock(m_mutex);
        return m_callbacks.shouldStop && m_callbacks.shouldStop();
    }
    // Another stretch failed: the rest stop too.
    void abandon() { m_abandoned = true; }
    void heardAll()
    {
        std::lock_guard lock(m_mutex);
        if (m_callbacks.heard)
            m_callbacks.heard(1.0);
    }
    void progressed()
    {
        std::lock_guard lock(m_mutex);
        if (m_callbacks.progressed)
            m_callbacks.progressed();
    }
    void fed(qint64 count)
    {
        const qint64 fed = m_fed += count;
        std::lock_guard lock(m_mutex);
        if (m_callbacks.heard)
            m_callbacks.heard(std::min(double(fed) / m_total, 1.0));
    }

private:
    const SpeechFileRecognizer::Callbacks &m_callbacks;
    const double m_total;
    mutable std::mutex m_mutex;
    std::atomic<bool> m_abandoned { false };
    std::atomic<qint64> m_fed { 0 };
};

// Hears `stretch` of the file with `recognizer`, reading it through `decoder` (open, at the file's
// start, with the gain set), and hands each result to `recognized`.
SpeechRecognitionOutcome hearStretch(ps_decoder_t *recognizer, AudioFileDecoder &decoder,
    const QString &filePath, double gain, Stretch stretch, SharedCallbacks &shared,
    const std::function<void(const RecognizedSpeech &)> &recognized)
{
    using Status = SpeechRecognitionOutcome::Status;
    const auto shouldStop = [&shared] { return shared.shouldStop(); };
    Dither dither;
    primeCepstralMean(recognizer, filePath, gain, shouldStop, dither,
        stretch.from > 0 ? std::max<qint64>(stretch.from - kPrimingLookBack, 0) : 0,
        stretch.from > 0 ? stretch.from : stretch.to);
    shared.progressed();

    SpeechFileRecognizer::Callbacks callbacks;
    callbacks.recognized = recognized;
    Session session(recognizer, callbacks, dither, double(stretch.from) / kSampleRate);
    if (!session.start())
        return { Status::modelUnloadable, QStringLiteral("The speech model could not start.") };

    std::vector<int16_t> samples;
    qint64 position = 0;
    for (;;) {
        if (shouldStop())
            return { Status::stopped, {} };
        samples.clear();
        const AudioFileDecoder::ReadStatus status = decoder.read(samples);
        if (status == AudioFileDecoder::ReadStatus::interrupted)
            return { Status::stopped, {} };
        if (status == AudioFileDecoder::ReadStatus::failed)
            return { Status::fileUnreadable, decoder.errorDescription() };
        const qint64 begin = position;
        position += qint64(samples.size());
        const qint64 first = std::clamp<qint64>(stretch.from - begin, 0, qint64(samples.size()));
        const qint64 last = std::clamp<qint64>(stretch.to - begin, 0, qint64(samples.size()));
        if (first < last) {
            session.feed(samples.data() + first, size_t(last - first));
            shared.fed(last - first);
        }
        shared.progressed();
        if (status == AudioFileDecoder::ReadStatus::end || position >= stretch.to)
            break;
    }
    session.finish();
    return { Status::finished, {}, decoder.packetsRejected() > 0 };
}

} // namespace

PocketSphinxRecognizer::PocketSphinxRecognizer(QString modelRoot, int parallelism)
    : m_modelRoot(std::move(modelRoot))
    , m_parallelism(std::max(parallelism, 1))
{ }

int PocketSphinxRecognizer::defaultParallelism()
{
    // Two files are heard at once after a recording: a quarter of the cores each leaves half free.
    return std::clamp(QThread::idealThreadCount() / 4, 1, 4);
}

QString PocketSphinxRecognizer::defaultModelRoot()
{
    return QStringLiteral("/usr/share/pocketsphinx/model");
}

QStringList PocketSphinxRecognizer::supportedLocales() const
{
    QStringList locales;
    for (const LocaleModel &model : kModels)
        locales.push_back(QString::fromLatin1(model.locale));
    return locales;
}

std::optional<PocketSphinxRecognizer::ModelFiles> PocketSphinxRecognizer::modelFiles(
    const QString &locale) const
{
    for (const LocaleModel &model : kModels) {
        if (locale.compare(QLatin1String(model.locale), Qt::CaseInsensitive) != 0)
            continue;
        const QDir folder(QDir(m_modelRoot).filePath(QString::fromLatin1(model.folder)));
        return ModelFiles { folder.filePath(QString::fromLatin1(model.acoustic)),
            folder.filePath(QString::fromLatin1(model.languageModel)),
            folder.filePath(QString::fromLatin1(model.dictionary)) };
    }
    return std::nullopt;
}

SpeechFileRecognizer::ModelState PocketSphinxRecognizer::modelState(const QString &locale) const
{
    const std::optional<ModelFiles> files = modelFiles(locale);
    if (!files)
        return ModelState::unsupported;
    const auto isFile = [](const QString &path) {
        const QFileInfo info(path);
        return info.isFile() && info.isReadable() && info.size() > 0;
    };
    const QDir acoustic(files->acoustic);
    for (const char *part : { "mdef", "means", "variances", "transition_matrices", "noisedict" }) {
        if (!isFile(acoustic.filePath(QString::fromLatin1(part))))
            return ModelState::notInstalled;
    }
    if (!isFile(files->languageModel) || !isFile(files->dictionary))
        return ModelState::notInstalled;
    return ModelState::installed;
}

SpeechRecognitionOutcome PocketSphinxRecognizer::recognize(
    const QString &filePath, const QString &locale, const Callbacks &callbacks) const
{
    using Status = SpeechRecognitionOutcome::Status;
    // The model is tens of megabytes in hundreds of thousands of small blocks, in the heap of a pool
    // thread that lives on: freed with the recognizer, they would stay in that heap for as long as
    // the program runs. Given back once it is gone, and again once the thread's own cache of small
    // blocks went back to its heap (the pool ends idle threads after half a minute).
    const auto giveBack = qScopeGuard([] {
        FreedMemory::returnToSystem();
        FreedMemory::returnToSystemAfter(std::chrono::seconds(35));
    });
    const auto shouldStop = [&callbacks] { return callbacks.shouldStop && callbacks.shouldStop(); };
    const auto progressed = [&callbacks] {
        if (callbacks.progressed)
            callbacks.progressed();
    };

    AudioFileDecoder decoder(shouldStop);
    if (std::optional<QString> error = decoder.open(filePath))
        return { shouldStop() ? Status::stopped : Status::fileUnreadable, *error };
    progressed();
    if (shouldStop())
        return { Status::stopped, {} };

    const std::optional<ModelFiles> files = modelFiles(locale);
    if (!files || modelState(locale) != ModelState::installed)
        return { Status::modelUnloadable, QStringLiteral("The speech model's files are missing.") };
    silenceLibraryLog();
    const QByteArray acoustic = QFile::encodeName(files->acoustic);
    const QByteArray languageModel = QFile::encodeName(files->languageModel);
    const QByteArray dictionary = QFile::encodeName(files->dictionary);
    // Dithered by the session itself (Dither). The cap on active states per frame bounds the work on
    // noisy audio (real-time factor 0.41 to 0.23 at 29 dB SNR) at no cost on clean speech.
    const auto load = [&]() -> Decoder {
        std::vector<QByteArray> arguments { "recognizer", "-hmm", acoustic, "-lm", languageModel, "-dict",
            dictionary, "-dither", "no", "-maxhmmpf", "5000" };
        std::vector<char *> argv;
        for (QByteArray &argument : arguments)
            argv.push_back(argument.data());
        cmd_ln_t *config = cmd_ln_parse_r(nullptr, ps_args(), int32(argv.size()), argv.data(), TRUE);
        if (!config)
            return nullptr;
        Decoder loaded(ps_init(config));
        cmd_ln_free_r(config);
        return loaded;
    };
    Decoder recognizer(load());
    if (!recognizer)
        return { Status::modelUnloadable, QStringLiteral("The speech model could not be loaded.") };
    // A file unreadable to its end is still heard as far as it goes, at its own level.
    const Levelling level = levelling(filePath, shouldStop, progressed);
    const double gain = level.gain.value_or(1.0);
    if (shouldStop())
        return { Status::stopped, {} };
    SharedCallbacks shared(callbacks, level.samples);
    shared.fed(0);
    decoder.setGain(gain);
    const std::vector<Stretch> stretches = level.gain
        ? stretchesOf(level.frameLevels, level.samples, m_parallelism)
        : std::vector { Stretch {} };

    // The later stretches on threads of their own, their results handed on in order once the first
    // stretch, heard here as it goes, is done.
    struct Later
    {
        Stretch stretch;
        SpeechRecognitionOutcome outcome;
        std::vector<RecognizedSpeech> results;
    };
    std::vector<Later> later;
    for (size_t k = 1; k < stretches.size(); ++k)
        later.push_back({ stretches[k], {}, {} });
    std::vector<std::thread> threads;
    for (Later &part : later) {
        threads.emplace_back([&part, &shared, &load, &filePath, gain] {
            AudioFileDecoder reader([&shared] { return shared.shouldStop(); });
            const Decoder own = reader.open(filePath) ? nullptr : load();
            if (!own) {
                part.outcome
                    = { Status::modelUnloadable, QStringLiteral("The speech model could not be loaded.") };
            } else {
                reader.setGain(gain);
                part.outcome = hearStretch(own.get(), reader, filePath, gain, part.stretch, shared,
                    [&part](const RecognizedSpeech &result) { part.results.push_back(result); });
            }
            if (part.outcome.status != Status::finished)
                shared.abandon();
        });
    }
    SpeechRecognitionOutcome outcome = hearStretch(recognizer.get(), decoder, filePath, gain,
        stretches.front(), shared, [&callbacks](const RecognizedSpeech &result) {
            if (callbacks.recognized)
                callbacks.recognized(result);
        });
    if (outcome.status != Status::finished)
        shared.abandon();
    for (std::thread &thread : threads)
        thread.join();
    recognizer.reset();
    // A stop asked for wins; else the stretch that failed of itself, the others having stopped with it.
    if (shouldStop())
        return { Status::stopped, {} };
    std::vector<const SpeechRecognitionOutcome *> outcomes { &outcome };
    for (const Later &part : later)
        outcomes.push_back(&part.outcome);
    for (const Status kind : { Status::fileUnreadable, Status::modelUnloadable, Status::stopped }) {
        for (const SpeechRecognitionOutcome *heard : outcomes) {
            if (heard->status == kind)
                return *heard;
        }
    }
    for (const Later &part : later) {
        outcome.partlyUnreadable = outcome.partlyUnreadable || part.outcome.partlyUnreadable;
        for (const RecognizedSpeech &result : part.results) {
            if (callbacks.recognized)
                callbacks.recognized(result);
        }
    }
    shared.heardAll();
    return outcome;
}

std::shared_ptr<const SpeechFileRecognizer> SpeechFileRecognizer::live()
{
    static const std::shared_ptr<const SpeechFileRecognizer> recognizer
        = std::make_shared<PocketSphinxRecognizer>();
    return recognizer;
}
