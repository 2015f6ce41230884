#include "SpeechFixtures.h"

#include "Audio/AACStreamWriter.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <vector>

namespace SpeechFixtures {

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The samples of a 16-bit mono PCM WAV file at `sampleRate`; empty for anything else.
QVector<qint16> readWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    if (data.size() < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE")
        return {};
    qsizetype at = 12;
    bool formatOk = false;
    while (at + 8 <= data.size()) {
        const QByteArray id = data.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(data.constData() + at + 4);
        const qsizetype body = at + 8;
        const qsizetype length = std::min<qsizetype>(qsizetype(size), data.size() - body);
        if (id == "fmt " && length >= 16) {
            const auto *fmt = data.constData() + body;
            formatOk = qFromLittleEndian<quint16>(fmt) == 1 && qFromLittleEndian<quint16>(fmt + 2) == 1
                && qFromLittleEndian<quint32>(fmt + 4) == quint32(sampleRate)
                && qFromLittleEndian<quint16>(fmt + 14) == 16;
        } else if (id == "data" && formatOk) {
            QVector<qint16> samples(length / 2);
            for (qsizetype i = 0; i < samples.size(); ++i)
                samples[i] = qFromLittleEndian<qint16>(data.constData() + body + 2 * i);
            return samples;
        }
        at = body + qsizetype(size) + (size & 1);
    }
    return {};
}

} // namespace

QVector<qint16> speak(const QString &text, const QString &voice)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    if (!run(QStringLiteral("flite"),
            { QStringLiteral("-voice"), voice, QStringLiteral("-t"), text, QStringLiteral("-o"), wav }))
        return {};
    return readWav(wav);
}

QVector<qint16> silence(double seconds)
{
    return QVector<qint16>(qsizetype(std::lround(seconds * sampleRate)), 0);
}

double onsetSeconds(const QVector<qint16> &samples)
{
    const auto loud
        = std::find_if(samples.begin(), samples.end(), [](qint16 s) { return std::abs(s) > 300; });
    return double(loud - samples.begin()) / sampleRate;
}

bool writeWav(const QString &path, const QVector<qint16> &samples)
{
    QByteArray data;
    const auto put32 = [&data](quint32 value) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        data.append(bytes, 4);
    };
    const auto put16 = [&data](quint16 value) {
        char bytes[2];
        qToLittleEndian(value, bytes);
        data.append(bytes, 2);
    };
    const auto byteCount = quint32(samples.size() * 2);
    data.append("RIFF");
    put32(36 + byteCount);
    data.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(1);
    put32(sampleRate);
    put32(sampleRate * 2);
    put16(2);
    put16(16);
    data.append("data");
    put32(byteCount);
    for (qint16 sample : samples)
        put16(quint16(sample));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool writeRecording(const QString &path, const QVector<qint16> &samples)
{
    // Stereo in blocks of 1024 frames, as a sound server delivers them; the writer resamples and encodes.
    const AudioStreamFormat format { double(sampleRate), 2, AudioStreamFormat::SampleType::int16, true };
    try {
        AACStreamWriter writer(path, format);
        constexpr qsizetype block = 1024;
        std::vector<qint16> interleaved(size_t(block) * 2);
        for (qsizetype at = 0; at < samples.size(); at += block) {
            const qsizetype frames = std::min(block, samples.size() - at);
            for (qsizetype i = 0; i < frames; ++i)
                interleaved[size_t(2 * i)] = interleaved[size_t(2 * i + 1)] = samples[at + i];
            const void *planes[] = { interleaved.data() };
            writer.append(AudioPCMBuffer(format, planes, frames));
        }
        const AACStreamWriter::Finished finished = writer.finish();
        return !finished.writeFailed && finished.url == path;
    } catch (const AACStreamWriterError &) {
        return false;
    }
}

QStringList words(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[^a-z']+"));
    return text.toLower().split(separators, Qt::SkipEmptyParts);
}

double wordAccuracy(const QString &reference, const QString &hypothesis)
{
    const QStringList ref = words(reference);
    const QStringList hyp = words(hypothesis);
    if (ref.isEmpty())
        return hyp.isEmpty() ? 1.0 : 0.0;
    std::vector<int> row(size_t(hyp.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= ref.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= hyp.size(); ++j) {
            const int above = row[size_t(j)];
            row[size_t(j)] = std::min(
                { above + 1, row[size_t(j - 1)] + 1, diagonal + (ref[i - 1] == hyp[j - 1] ? 0 : 1) });
            diagonal = above;
        }
    }
    return 1.0 - double(row.back()) / double(ref.size());
}

} // namespace SpeechFixtures
