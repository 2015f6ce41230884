// The decoder that feeds transcription: any recording the session writes comes out as 16 kHz mono,
// and a gain is applied before the samples are rounded to 16 bits.
#include "Audio/AACStreamWriter.h"
#include "Platform/AudioFileDecoder.h"
#include "SpeechFixtures.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

// Every sample of a file, or empty when it could not be read to its end.
std::vector<int16_t> decodeAll(const QString &path)
{
    AudioFileDecoder decoder;
    if (decoder.open(path))
        return {};
    std::vector<int16_t> samples;
    for (;;) {
        const AudioFileDecoder::ReadStatus status = decoder.read(samples);
        if (status == AudioFileDecoder::ReadStatus::end)
            return samples;
        if (status != AudioFileDecoder::ReadStatus::data)
            return {};
    }
}

} // namespace

class TestAudioFileDecoder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    // What the session's writer makes of each source comes back at 16 kHz, in place and as high as it was.
    void writerFilesComeOutAt16kHz_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("channels");

        QTest::newRow("44.1 kHz stereo") << 44100.0 << 2;
        QTest::newRow("22.05 kHz mono") << 22050.0 << 1;
    }

    void writerFilesComeOutAt16kHz()
    {
        QFETCH(double, rate);
        QFETCH(int, channels);

        // Half a second of silence, then 1.5 s of 440 Hz at half scale, the same in every channel.
        const QString path = m_dir.filePath(QStringLiteral("tone-%1-%2.m4a").arg(rate).arg(channels));
        const AudioStreamFormat format { rate, channels, AudioStreamFormat::SampleType::float32, true };
        const qint64 frames = qint64(2 * rate);
        const qint64 silent = qint64(rate / 2);
        std::vector<float> interleaved(size_t(frames * channels), 0.0f);
        for (qint64 i = silent; i < frames; ++i) {
            const float value
                = 0.5f * float(std::sin(2 * std::numbers::pi * 440.0 * double(i - silent) / rate));
            for (int c = 0; c < channels; ++c)
                interleaved[size_t(i * channels + c)] = value;
        }
        {
            AACStreamWriter writer(path, format);
            const void *planes[] = { interleaved.data() };
            writer.append(AudioPCMBuffer(format, planes, frames));
            QVERIFY(!writer.finish().writeFailed);
        }

        const std::vector<int16_t> samples = decodeAll(path);
        // The encoder pads the last block: up to 1024 frames more.
        QVERIFY2(samples.size() >= 32000 && samples.size() <= 32000 + 1024 * 16000 / 22050,
            qPrintable(QString::number(samples.size())));
        // The tone starts where it started, late by at most the encoder's delay of 1024 frames, which the
        // file does not say to skip.
        const auto onset
            = std::find_if(samples.begin(), samples.end(), [](int16_t s) { return std::abs(int(s)) > 1000; });
        const qsizetype late = (onset - samples.begin()) - 8000;
        QVERIFY2(late >= -16 && late <= 1024 * 16000 / 44100 + 16, qPrintable(QString::number(late)));
        // Over the second after it, 440 cycles, and channels averaged, not added.
        int crossings = 0;
        int peak = 0;
        for (size_t i = 12001; i < 28000; ++i) {
            crossings += (samples[i - 1] < 0) != (samples[i] < 0);
            peak = std::max(peak, std::abs(int(samples[i])));
        }
        QVERIFY2(std::abs(crossings - 880) <= 4, qPrintable(QString::number(crossings)));
        QVERIFY2(peak > 15000 && peak < 18000, qPrintable(QString::number(peak)));
    }
};

QTEST_GUILESS_MAIN(TestAudioFileDecoder)
#include "tst_AudioFileDecoder.moc"
