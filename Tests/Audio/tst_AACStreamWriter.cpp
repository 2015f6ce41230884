#include "Audio/AACStreamWriter.h"
#include "AudioFileProbe.h"
#include "FileSizeLimit.h"
#include "GenerousWaits.h"
#include "SpeechFixtures.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QtEndian>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using SampleType = AudioStreamFormat::SampleType;

AudioStreamFormat floatFormat(double rate, int channels, bool interleaved = true)
{
    return AudioStreamFormat { rate, channels, SampleType::float32, interleaved };
}

// One buffer of a sine (the same on every channel), continuing at `startFrame`.
struct SineBlock
{
    AudioStreamFormat format;
    std::vector<std::vector<float>> planes;
    std::vector<const void *> pointers;
    qint64 frames = 0;

    SineBlock(const AudioStreamFormat &f, qint64 startFrame, qint64 count, double hz, float amplitude = 0.5f)
        : format(f)
        , frames(count)
    {
        const int perPlane = f.interleaved ? f.channelCount : 1;
        planes.assign(std::size_t(f.planeCount()), std::vector<float>(std::size_t(count * perPlane)));
        for (qint64 i = 0; i < count; ++i) {
            const float value
                = amplitude * float(std::sin(2 * M_PI * hz * double(startFrame + i) / f.sampleRate));
            for (auto &plane : planes)
                for (int c = 0; c < perPlane; ++c)
                    plane[std::size_t(i * perPlane + c)] = value;
        }
        for (auto &plane : planes)
            pointers.push_back(plane.data());
    }
    AudioPCMBuffer buffer() const { return AudioPCMBuffer(format, pointers.data(), frames); }
};

void feedSine(AACStreamWriter &writer, const AudioStreamFormat &format, qint64 totalFrames,
    qint64 bufferFrames, double hz = 440)
{
    for (qint64 at = 0; at < totalFrames; at += bufferFrames)
        writer.append(SineBlock(format, at, std::min(bufferFrames, totalFrames - at), hz).buffer());
}

} // namespace

class TestAACStreamWriter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // 44,100 Hz within 1 Hz of it, else 48,000 Hz; beyond the encoder's eight channels, float PCM at
    // that rate in a .caf beside the .m4a. Half a second of input stays half a second.
    void rateRuleOnProducedFiles_data()
    {
        QTest::addColumn<double>("sourceRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("expectedRate");
        QTest::newRow("44100.9 stereo") << 44100.9 << 2 << 44100;
        QTest::newRow("44101 is 1 Hz away") << 44101.0 << 2 << 48000;
        QTest::newRow("16000 mono mic") << 16000.0 << 1 << 48000;
        QTest::newRow("twelve channels at 16 kHz: .caf") << 16000.0 << 12 << 48000;
        QTest::newRow("twelve channels at 44.1 kHz: .caf") << 44100.0 << 12 << 44100;
    }
    void rateRuleOnProducedFiles()
    {
        QFETCH(double, sourceRate);
        QFETCH(int, channels);
        QFETCH(int, expectedRate);
        const bool compressed = channels <= 8;
        const QString base = path(QStringLiteral("rate-%1-%2_others").arg(sourceRate).arg(channels));
        AACStreamWriter writer(base + QStringLiteral(".m4a"), floatFormat(sourceRate, channels));
        QCOMPARE(writer.sampleRate(), expectedRate);
        QCOMPARE(writer.isCompressed(), compressed);
        feedSine(writer, floatFormat(sourceRate, channels), qint64(sourceRate / 2), 1024);
        const auto done = writer.finish();
        QCOMPARE(done.url, base + (compressed ? QStringLiteral(".m4a") : QStringLiteral(".caf")));
        QVERIFY(!done.writeFailed && done.heard);
        const auto info = AudioFileProbe::probe(done.url);
        QVERIFY(info);
        QCOMPARE(info->codec, compressed ? QStringLiteral("aac") : QStringLiteral("pcm_f32le"));
        QCOMPARE(info->sampleRate, expectedRate);
        QCOMPARE(info->channels, channels);
        QVERIFY(std::abs(info->playableSamples() - expectedRate / 2) <= 1);
    }

    // The file holds as much as came in, at 48 kHz: a converter made afresh for every buffer lost frames
    // at each edge (and clicked), garbage samples must not stop the stream, nor a change of format.
    void theFileHoldsWhatCameIn_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("16 kHz planar, 1024-frame buffers") << "planar";
        QTest::newRow("16 kHz, 333-frame buffers") << "odd";
        QTest::newRow("garbage samples mid-stream") << "garbage";
        QTest::newRow("format change mid-stream") << "change";
    }
    void theFileHoldsWhatCameIn()
    {
        QFETCH(QString, input);
        const QString file = path(QStringLiteral("length-%1_you.m4a").arg(input));
        const auto format = floatFormat(16000, 1, input != "planar");
        AACStreamWriter writer(file, format);
        feedSine(writer, format, 16000, input == "odd" ? 333 : 1024, 1000);
        std::vector<float> junk(1024, 1e30f);
        junk[3] = std::nanf("");
        junk[7] = INFINITY;
        std::vector<int16_t> loudStereo(2 * 48000, 8000);
        if (input == "garbage") {
            const void *planes[] = { junk.data() };
            writer.append(AudioPCMBuffer(format, planes, 1024));
            feedSine(writer, format, 16000, 1024, 1000);
        } else if (input == "change") {
            const void *planes[] = { loudStereo.data() };
            writer.append(AudioPCMBuffer({ 48000, 2, SampleType::int16, true }, planes, 48000));
        }
        const auto done = writer.finish();
        QVERIFY(!done.writeFailed);
        const qint64 expected = input == "garbage" ? 2 * 48000 + 3 * 1024 : input == "change" ? 96000 : 48000;
        QCOMPARE(writer.framesWritten(), expected);
        const auto info = AudioFileProbe::probe(file);
        QVERIFY(info && info->channels == 1);
        QVERIFY(std::abs(info->playableSamples() - expected) <= 1);
        if (input == "garbage")
            QCOMPARE(done.peak, 1e30f);
        if (input != "planar" && input != "odd")
            return;
        // A 1 kHz tone at 0.5 moves at most 0.066 between samples at 48 kHz; a buffer-edge click jumps more.
        const QVector<float> decoded = AudioFileProbe::decodeChannel(file);
        float largestStep = 0;
        for (qsizetype i = 4096; i < decoded.size() - 4096; ++i)
            largestStep = std::max(largestStep, std::fabs(decoded[i] - decoded[i - 1]));
        QVERIFY2(largestStep < 0.1f, qPrintable(QString::number(largestStep)));
    }

    // Set for 192 kb/s, the encoder spends fewer bits where a recording holds less; on speech, what the
    // files mostly hold, the rate stays within a quarter of it (the README says so), whether the speech
    // comes band-limited at the sound server's rate or full-band over a microphone's noise. A coder
    // whose rate control sank to 115 kb/s on plain speech made files much worse than stated.
    void speechIsStoredNearTheStatedBitRate_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("noiseFloor");
        QTest::newRow("16 kHz speech, mono") << 1 << false;
        QTest::newRow("16 kHz speech, stereo") << 2 << false;
        QTest::newRow("48 kHz speech over a microphone's noise, mono") << 1 << true;
        QTest::newRow("48 kHz speech over noise, stereo") << 2 << true;
    }
    void speechIsStoredNearTheStatedBitRate()
    {
        QFETCH(int, channels);
        QFETCH(bool, noiseFloor);
        QVector<qint16> speech = SpeechFixtures::speak(
            QStringLiteral(
                "Welcome to the weekly planning meeting. First, the installer. We need to ship the new "
                "release on Friday, and the documentation has to be reviewed before that. Second, the "
                "audio capture: recordings stay on this computer and the transcripts can be edited."),
            QStringLiteral("kal16"));
        QVERIFY(speech.size() > 8 * SpeechFixtures::sampleRate);
        speech += SpeechFixtures::silence(1.5);
        speech += speech;
        // As the sound server may hand it over: 16 kHz samples the writer resamples, or 48 kHz with
        // a microphone's own noise some 60 dB down.
        const int factor = noiseFloor ? 48000 / SpeechFixtures::sampleRate : 1;
        std::minstd_rand noise(7);
        std::uniform_real_distribution<float> floorNoise(-0.001f, 0.001f);
        std::vector<float> samples(std::size_t(speech.size() * factor * channels));
        for (qsizetype i = 0; i + 1 < speech.size(); ++i) {
            for (int step = 0; step < factor; ++step) {
                const float value
                    = (speech[i] + (speech[i + 1] - speech[i]) * float(step) / factor) / 32768.0f;
                for (int c = 0; c < channels; ++c)
                    samples[std::size_t(((i * factor + step) * channels) + c)]
                        = value + (noiseFloor ? floorNoise(noise) : 0.0f);
            }
        }
        const AudioStreamFormat format = floatFormat(SpeechFixtures::sampleRate * factor, channels);
        const QString file = path(QStringLiteral("speech-%1-%2_you.m4a").arg(channels).arg(noiseFloor));
        AACStreamWriter writer(file, format);
        const qint64 frames = qint64(samples.size()) / channels;
        for (qint64 at = 0; at < frames; at += 1024) {
            const void *planes[] = { samples.data() + at * channels };
            writer.append(AudioPCMBuffer(format, planes, std::min<qint64>(1024, frames - at)));
        }
        QVERIFY(!writer.finish().writeFailed);
        const auto info = AudioFileProbe::probe(file);
        QVERIFY(info && info->bitRate > 0);
        QVERIFY2(std::abs(info->bitRate - AACStreamWriter::bitRate) <= AACStreamWriter::bitRate / 4,
            qPrintable(QStringLiteral("%1 b/s").arg(info->bitRate)));
    }

    // On the session's clock a stream covers the session: silence where its source gave nothing (a late
    // start, a stall, an end it had not delivered yet), nothing added for delivery jitter, nothing cut.
    void sessionClockPlacesTheSound_data()
    {
        QTest::addColumn<bool>("timeline");
        QTest::addColumn<QList<double>>("buffers"); // each 0.1 s, at these host seconds; NaN: no host time
        QTest::addColumn<double>("end"); // padTo() at this second
        QTest::addColumn<double>("length");
        QTest::addColumn<double>("firstSound"); // NaN: silence throughout
        const double none = std::nan("");
        QTest::newRow("late first sound, end padded") << true << QList { 0.5, 0.6, 0.7 } << 1.5 << 1.5 << 0.5;
        QTest::newRow("a stall becomes silence") << true << QList { 0.0, 0.1, 0.9, 1.0 } << 1.1 << 1.1 << 0.0;
        QTest::newRow("jitter is no gap") << true << QList { 0.0, 0.18, 0.2, 0.3 } << 0.4 << 0.4 << 0.0;
        QTest::newRow("no host times: one after another")
            << true << QList { none, none, none } << 1.0 << 1.0 << 0.0;
        QTest::newRow("no timeline: nothing added") << false << QList { 0.5, 0.6, 0.7 } << 1.5 << 0.3 << 0.0;
        QTest::newRow("nothing came: silence") << true << QList<double>() << 0.7 << 0.7 << none;
        QTest::newRow("more than the session: nothing cut")
            << true << QList { 0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9 } << 0.5 << 1.0 << 0.0;
        QTest::newRow("sound from before the start kept")
            << true << QList { -0.3, -0.2 } << 0.5 << 0.5 << 0.0;
    }
    void sessionClockPlacesTheSound()
    {
        QFETCH(bool, timeline);
        QFETCH(QList<double>, buffers);
        QFETCH(double, end);
        QFETCH(double, length);
        QFETCH(double, firstSound);
        const auto format = floatFormat(48000, 1);
        const QString file = path(QStringLiteral("clock-%1_you.m4a").arg(QTest::currentDataTag()));
        AACStreamWriter writer(file, format);
        const auto start = std::chrono::steady_clock::now();
        const auto at = [start](double seconds) {
            return start
                + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(seconds));
        };
        if (timeline)
            writer.startTimeline(start);
        for (qsizetype i = 0; i < buffers.size(); ++i) {
            const SineBlock block(format, i * 4800, 4800, 1000);
            writer.append(std::isnan(buffers[i])
                    ? block.buffer()
                    : AudioPCMBuffer(format, block.pointers.data(), block.frames, at(buffers[i])));
        }
        writer.padTo(at(end));
        const auto done = writer.finish();
        QVERIFY(!done.writeFailed);
        QCOMPARE(done.callbacks, buffers.size());
        const auto info = AudioFileProbe::probe(file);
        QVERIFY(info);
        QCOMPARE(info->playableSamples(), qint64(std::llround(length * 48000)));
        const QVector<float> decoded = AudioFileProbe::decodeChannel(file);
        const auto loud
            = std::find_if(decoded.cbegin(), decoded.cend(), [](float v) { return std::fabs(v) > 0.05f; });
        if (std::isnan(firstSound)) {
            QVERIFY(loud == decoded.cend());
            return;
        }
        QVERIFY(loud != decoded.cend());
        // The decoder hands over the encoder's priming too: it comes before the session's first sample.
        const qint64 priming = -info->startSamples;
        const double heardAt = double(loud - decoded.cbegin() - priming) / 48000;
        QVERIFY2(std::abs(heardAt - firstSound) < 0.005, qPrintable(QString::number(heardAt)));
        if (QTest::currentDataTag() == QByteArray("a stall becomes silence")) {
            const auto gap = decoded.mid(priming + qsizetype(0.21 * 48000), qsizetype(0.68 * 48000));
            QVERIFY(std::all_of(gap.cbegin(), gap.cend(), [](float v) { return std::fabs(v) < 0.01f; }));
        }
    }

    // Two files of one session cut at one moment hold the same stretch of it, whatever each has
    // encoded beyond (what a crash then keeps); a file nobody cuts is written out by itself.
    void cutsKeepTwoFilesEquallyLong_data()
    {
        QTest::addColumn<double>("othersFed"); // seconds appended
        QTest::addColumn<double>("youFed");
        QTest::addColumn<double>("cut"); // NaN: never cut
        QTest::addColumn<double>("kept"); // seconds each file holds before finishing, to one packet
        const double never = std::nan("");
        QTest::newRow("both fed further than the cut") << 2.5 << 2.5 << 2.0 << 2.0;
        QTest::newRow("one fed far ahead") << 2.9 << 1.3 << 1.25 << 1.25;
        QTest::newRow("a cut within a packet") << 1.5 << 1.5 << 1.01 << 1.01;
        QTest::newRow("never cut: written out after the limit")
            << 4.5 << 2.0 << never << double(AACStreamWriter::uncutLimit.count());
    }
    void cutsKeepTwoFilesEquallyLong()
    {
        QFETCH(double, othersFed);
        QFETCH(double, youFed);
        QFETCH(double, cut);
        QFETCH(double, kept);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const auto othersFormat = floatFormat(48000, 2);
        AACStreamWriter others(path("cut-" + tag + "_others.m4a"), othersFormat);
        AACStreamWriter you(path("cut-" + tag + "_you.m4a"), floatFormat(44100, 1));
        const auto start = std::chrono::steady_clock::now();
        others.startTimeline(start);
        you.startTimeline(start);
        feedSine(others, othersFormat, qint64(othersFed * 48000), 480);
        feedSine(you, floatFormat(44100, 1), qint64(youFed * 44100), 441);
        // What was encoded ends a little short of what was fed: the encoder holds its last frames.
        const auto encoded = others.encodedUntil();
        QVERIFY(encoded);
        const double encodedSeconds = std::chrono::duration<double>(*encoded - start).count();
        QVERIFY2(encodedSeconds <= othersFed && encodedSeconds > othersFed - 0.1,
            qPrintable(QString::number(encodedSeconds)));
        if (!std::isnan(cut)) {
            const auto at = start
                + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(cut));
            others.cutAt(at);
            you.cutAt(at);
        }
        const auto held = [](const QString &file) {
            const auto info = AudioFileProbe::probe(file);
            return info ? double(info->playableSamples()) / info->sampleRate : -1.0;
        };
        const double othersKept = held(others.url());
        const double youKept = held(you.url());
        // Packets are 1024 frames: a cut keeps the whole packets before it.
        QVERIFY2(othersKept <= kept + 1e-6 && othersKept > kept - 1024.0 / 48000,
            qPrintable(QString::number(othersKept)));
        if (youFed > kept)
            QVERIFY2(std::abs(youKept - othersKept) < 0.03, qPrintable(QString::number(youKept)));
        QVERIFY(!others.writeFailed() && !you.writeFailed());
        QVERIFY(!others.finish().writeFailed && !you.finish().writeFailed);
        QVERIFY(held(others.url()) >= othersFed - 0.001);
    }

    void peakSeesEveryChannelOfEveryFrame_data()
    {
        QTest::addColumn<int>("sampleType");
        QTest::addColumn<bool>("interleaved");
        QTest::addColumn<int>("channels");
        QTest::newRow("float interleaved stereo") << int(SampleType::float32) << true << 2;
        QTest::newRow("float planar 6") << int(SampleType::float32) << false << 6;
        QTest::newRow("int16 interleaved stereo") << int(SampleType::int16) << true << 2;
    }
    void peakSeesEveryChannelOfEveryFrame()
    {
        QFETCH(int, sampleType);
        QFETCH(bool, interleaved);
        QFETCH(int, channels);
        const AudioStreamFormat format { 48000, channels, SampleType(sampleType), interleaved };
        const int frames = 512;
        const int bytes = format.bytesPerSample();
        std::vector<QByteArray> planes(
            std::size_t(format.planeCount()), QByteArray(frames * format.bytesPerFrameInPlane(), '\0'));
        // Quiet everywhere, loud only in the last frame of the last channel; NaN never wins.
        const qsizetype lastOffset
            = interleaved ? (qsizetype(frames) * channels - 1) * bytes : qsizetype(frames - 1) * bytes;
        QByteArray &lastPlane = planes.back();
        if (format.sampleType == SampleType::float32) {
            const float loud = -0.75f;
            const float nan = std::nanf("");
            std::memcpy(lastPlane.data() + lastOffset, &loud, 4);
            std::memcpy(planes.front().data(), &nan, 4);
        } else {
            const int16_t loud = -24576; // 0.75
            std::memcpy(lastPlane.data() + lastOffset, &loud, 2);
        }
        std::vector<const void *> pointers;
        for (const auto &plane : planes)
            pointers.push_back(plane.constData());
        const AudioPCMBuffer buffer(format, pointers.data(), frames);
        QCOMPARE(AACStreamWriter::peak(buffer), 0.75f);
    }

    void heardThreshold_data()
    {
        QTest::addColumn<float>("level");
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("heard");
        QTest::addColumn<bool>("failed");
        QTest::newRow("digital silence") << 0.0f << 48000.0 << false << false;
        QTest::newRow("exactly 1e-7") << 1e-7f << 48000.0 << false << false;
        QTest::newRow("1.1e-7") << 1.1e-7f << 48000.0 << true << false;
        // Was counted as heard though nothing reached the file, and no failure was reported.
        QTest::newRow("loud but dropped (rate too low to convert)") << 0.5f << 100.0 << false << true;
    }
    void heardThreshold()
    {
        QFETCH(float, level);
        QFETCH(double, rate);
        QFETCH(bool, heard);
        QFETCH(bool, failed);
        const auto format = floatFormat(rate, 1);
        AACStreamWriter writer(
            path(QStringLiteral("heard-%1-%2_others.m4a").arg(double(level)).arg(rate)), format);
        std::vector<float> samples(1024, level);
        const void *planes[] = { samples.data() };
        for (int i = 0; i < 5; ++i)
            writer.append(AudioPCMBuffer(format, planes, 1024));
        QCOMPARE(writer.writeFailed(), failed);
        const auto done = writer.finish();
        QCOMPARE(done.heard, heard);
        QCOMPARE(done.writeFailed, failed);
        QCOMPARE(done.peak, level);
        QCOMPARE(done.callbacks, 5);
        QCOMPARE(writer.nonzeroBuffers(), heard ? 5 : 0);
    }

    // Whatever is already at the file's path, or at the fallback's, stays as it was: the writer fails
    // at once. It used to truncate the file, and discard() then deleted it.
    void existingFilesAreNeverWrittenOver_data()
    {
        QTest::addColumn<QStringList>("takenAndKind"); // the extension in use, and file, link or folder
        QTest::newRow(".m4a file") << QStringList { "m4a", "file" };
        QTest::newRow(".m4a link to a file") << QStringList { "m4a", "link" };
        QTest::newRow(".m4a folder") << QStringList { "m4a", "folder" };
        // Twelve channels: the .m4a cannot be made, the .caf is tried.
        QTest::newRow(".caf file") << QStringList { "caf", "file" };
        QTest::newRow(".caf link to a file") << QStringList { "caf", "link" };
    }
    void existingFilesAreNeverWrittenOver()
    {
        QFETCH(QStringList, takenAndKind);
        const QString taken = takenAndKind[0], kind = takenAndKind[1];
        const int channels = taken == QLatin1String("caf") ? 12 : 2;
        const QString base = path(QStringLiteral("taken-%1-%2_you").arg(taken, kind));
        const QString existing = base + u'.' + taken;
        const QString target = path(QStringLiteral("target-%1-%2.txt").arg(taken, kind));
        QVERIFY(TestSupport::writeFile(target, "someone else's words"));
        if (kind == QLatin1String("file"))
            QVERIFY(QFile::copy(target, existing));
        else if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(target, existing));
        else
            QVERIFY(QDir().mkpath(existing));

        try {
            AACStreamWriter writer(base + QStringLiteral(".m4a"), floatFormat(48000, channels));
            QFAIL(qPrintable(QStringLiteral("wrote %1 instead").arg(writer.url())));
        } catch (const AACStreamWriterError &error) {
            QCOMPARE(error.kind(), AACStreamWriterError::createFile);
        }
        QCOMPARE(TestSupport::readFile(target), QByteArray("someone else's words"));
        if (kind == QLatin1String("file"))
            QCOMPARE(TestSupport::readFile(existing), QByteArray("someone else's words"));
        QVERIFY(QFileInfo(existing).isSymLink() == (kind == QLatin1String("link")));
        QCOMPARE(QFile::exists(base + QStringLiteral(".caf")), taken == QLatin1String("caf"));
    }

    // The file system refuses the writes: while recording (the later buffers are ignored), or only
    // when less than one fragment is flushed at finish().
    void refusedWritesAreAWriteFailure_data()
    {
        QTest::addColumn<qint64>("frames");
        QTest::newRow("three seconds") << qint64(48000 * 3);
        QTest::newRow("less than a fragment") << qint64(4800);
    }
    void refusedWritesAreAWriteFailure()
    {
        QFETCH(qint64, frames);
        const QString file = path(QStringLiteral("full-%1_others.m4a").arg(frames));
        const auto format = floatFormat(48000, 2);
        const FileSizeLimit full(1024);
        QVERIFY(full.isSet());
        AACStreamWriter writer(file, format);
        feedSine(writer, format, frames, 1024);
        const qint64 counted = writer.callbacks();
        writer.append(SineBlock(format, 0, 1024, 440).buffer());
        QCOMPARE(writer.callbacks(), writer.writeFailed() ? counted : counted + 1);
        const auto done = writer.finish();
        QVERIFY(done.writeFailed);
        QVERIFY(!done.heard);
        QVERIFY(done.peak > 0.4f);
    }

    // The disk fills partway through writing a fragment: every whole fragment before it still decodes,
    // however little of the refused one reached the file.
    void diskFullInsideAFragmentKeepsTheWholeOnes_data()
    {
        QTest::addColumn<int>("fragment");
        QTest::addColumn<int>("into");
        QTest::newRow("the third's header begun") << 2 << 8;
        QTest::newRow("the third's header cut short") << 2 << 100;
        QTest::newRow("the fourth's sound cut short") << 3 << 2000;
        QTest::newRow("the second's header cut short") << 1 << 60;
    }
    void diskFullInsideAFragmentKeepsTheWholeOnes()
    {
        QFETCH(int, fragment);
        QFETCH(int, into);
        const auto format = floatFormat(48000, 2);
        const qint64 frames = 48000 * 6;
        const QString whole = path(QStringLiteral("whole-%1-%2_others.m4a").arg(fragment).arg(into));
        {
            AACStreamWriter writer(whole, format);
            feedSine(writer, format, frames, 1024);
            QVERIFY(!writer.finish().writeFailed);
        }
        // Where each fragment starts, from the file's top-level boxes.
        const QByteArray bytes = TestSupport::readFile(whole);
        QList<qint64> fragments;
        for (qint64 at = 0; at + 8 <= bytes.size();) {
            const quint32 size = qFromBigEndian<quint32>(bytes.constData() + at);
            if (bytes.mid(at + 4, 4) == "moof")
                fragments << at;
            if (size < 8)
                break;
            at += size;
        }
        QVERIFY2(fragments.size() > fragment, qPrintable(QString::number(fragments.size())));

        const QString file = path(QStringLiteral("cut-%1-%2_others.m4a").arg(fragment).arg(into));
        {
            const FileSizeLimit full(rlim_t(fragments[fragment] + into));
            QVERIFY(full.isSet());
            AACStreamWriter writer(file, format);
            feedSine(writer, format, frames, 1024);
            QVERIFY(writer.finish().writeFailed);
        }
        const auto info = AudioFileProbe::probe(file);
        QVERIFY2(info, "the file no longer opens");
        const QVector<float> decoded = AudioFileProbe::decodeChannel(file);
        const double kept = double(decoded.size()) / 48000;
        QVERIFY2(kept >= fragment - 0.1, qPrintable(QString::number(kept)));
        QVERIFY(kept <= fragment + 0.1);
    }

    // The encoder printed its statistics on standard error at every finished file; only errors may
    // reach the log.
    void finishedFilesLeaveStandardErrorQuiet()
    {
        QTemporaryFile log;
        QVERIFY(log.open());
        std::fflush(stderr);
        const int saved = ::dup(STDERR_FILENO);
        QVERIFY(saved >= 0 && ::dup2(log.handle(), STDERR_FILENO) >= 0);
        const auto format = floatFormat(48000, 2);
        AACStreamWriter::Finished done;
        {
            AACStreamWriter writer(path(QStringLiteral("quiet_others.m4a")), format);
            feedSine(writer, format, 48000 * 2, 1024);
            done = writer.finish();
        }
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        QVERIFY(done.heard && !done.writeFailed);
        QCOMPARE(TestSupport::readFile(log.fileName()), QByteArray());
    }

    // The process writing the file dies without finishing it: the fragments written so far still decode.
    void killedWriterLeavesADecodableFile()
    {
        const QString file = path(QStringLiteral("killed_others.m4a"));
        QProcess child;
        child.start(
            TestSupport::binaryDir() + QStringLiteral("/aac_writer_child"), { file, QStringLiteral("4") });
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(60000));
        QVERIFY(child.readAllStandardOutput().startsWith("written"));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(TestSupport::patienceMs));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const QVector<float> decoded = AudioFileProbe::decodeChannel(file);
        // Four seconds were appended; at most the last fragment (one second) and the encoder's delay are
        // lost.
        QVERIFY2(decoded.size() >= 48000 * 3 - 2048, qPrintable(QString::number(decoded.size())));
        float loudest = 0;
        for (float sample : decoded)
            loudest = std::max(loudest, std::fabs(sample));
        QVERIFY(loudest > 0.4f && loudest < 0.6f);
    }
};

QTEST_GUILESS_MAIN(TestAACStreamWriter)
#include "tst_AACStreamWriter.moc"
