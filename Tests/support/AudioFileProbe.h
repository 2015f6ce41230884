#pragma once

#include <QString>
#include <QVector>

#include <optional>

// Reads back audio files the way another program would: through the ffprobe and ffmpeg commands.
namespace AudioFileProbe {

struct Info
{
    QString codec;
    int sampleRate = 0;
    int channels = 0;
    // The stream's timeline in samples: the first presentation time (negative while encoder priming is
    // hidden by an edit list) and the sum of packet durations.
    qint64 startSamples = 0;
    qint64 durationSamples = 0;
    qint64 bitRate = 0;
    // Samples of the visible timeline: what a player shows as the length.
    qint64 playableSamples() const { return startSamples + durationSamples; }
};

std::optional<Info> probe(const QString &path);
// Every decoded sample of one channel (0 = first) as float, at the file's rate; empty when undecodable.
QVector<float> decodeChannel(const QString &path, int channel = 0);

} // namespace AudioFileProbe
