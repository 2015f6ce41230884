// Writes a tone through an AACStreamWriter, says so on stdout, then waits to be killed mid-recording.
// Usage: aac_writer_child <file.m4a> <seconds>

#include "Audio/AACStreamWriter.h"

#include <QCoreApplication>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const double seconds = QString::fromLocal8Bit(argv[2]).toDouble();
    AudioStreamFormat format { 48000, 2, AudioStreamFormat::SampleType::float32, true };
    AACStreamWriter *writer = new AACStreamWriter(QString::fromLocal8Bit(argv[1]), format); // never finished
    std::vector<float> samples(1024 * 2);
    qint64 frame = 0;
    const qint64 total = qint64(seconds * 48000);
    while (frame < total) {
        for (int i = 0; i < 1024; ++i) {
            const float value = 0.5f * float(std::sin(2 * M_PI * 440.0 * double(frame + i) / 48000.0));
            samples[std::size_t(2 * i)] = value;
            samples[std::size_t(2 * i + 1)] = value;
        }
        const void *planes[] = { samples.data() };
        writer->append(AudioPCMBuffer(format, planes, 1024));
        frame += 1024;
    }
    std::printf("written %lld\n", static_cast<long long>(frame));
    std::fflush(stdout);
    for (;;)
        QThread::sleep(60);
}
