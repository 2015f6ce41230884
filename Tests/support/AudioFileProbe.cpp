#include "AudioFileProbe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstring>

namespace AudioFileProbe {

std::optional<Info> probe(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-print_format"),
            QStringLiteral("json"), QStringLiteral("-show_streams"), QStringLiteral("-select_streams"),
            QStringLiteral("a:0"), path });
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return std::nullopt;
    const QJsonArray streams
        = QJsonDocument::fromJson(process.readAllStandardOutput()).object().value(u"streams").toArray();
    if (streams.isEmpty())
        return std::nullopt;
    const QJsonObject stream = streams.first().toObject();
    Info info;
    info.codec = stream.value(u"codec_name").toString();
    info.sampleRate = stream.value(u"sample_rate").toString().toInt();
    info.channels = stream.value(u"channels").toInt();
    info.bitRate = stream.value(u"bit_rate").toString().toLongLong();
    // Time bases are 1/rate for both containers written here, so timestamps count samples.
    const QString timeBase = stream.value(u"time_base").toString();
    const qint64 denominator = timeBase.section(u'/', 1).toLongLong();
    const double scale
        = denominator > 0 && info.sampleRate > 0 ? double(info.sampleRate) / double(denominator) : 1.0;
    info.startSamples = qRound64(stream.value(u"start_pts").toDouble() * scale);
    info.durationSamples = qRound64(stream.value(u"duration_ts").toDouble() * scale);
    return info;
}

QVector<float> decodeChannel(const QString &path, int channel)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
        { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path, QStringLiteral("-af"),
            QStringLiteral("pan=mono|c0=c%1").arg(channel), QStringLiteral("-f"), QStringLiteral("f32le"),
            QStringLiteral("-") });
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    const QByteArray bytes = process.readAllStandardOutput();
    QVector<float> samples(bytes.size() / 4);
    if (!samples.isEmpty())
        std::memcpy(samples.data(), bytes.constData(), std::size_t(samples.size()) * 4);
    return samples;
}

} // namespace AudioFileProbe
