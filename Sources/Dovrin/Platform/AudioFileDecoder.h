#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Reads any audio file FFmpeg understands as 16 kHz mono 16-bit samples, a packet at a time.
// Blocking; meant for a worker thread. One decoder serves one file and one thread.
class AudioFileDecoder
{
public:
    static constexpr int sampleRate = 16000;

    enum class ReadStatus {
        data, // samples were appended
        end, // the whole file was read
        failed, // see errorDescription()
        interrupted, // the interrupt callback asked to stop
    };

    // `interrupt` is polled from inside blocking reads; answering true ends them soon.
    explicit AudioFileDecoder(std::function<bool()> interrupt = {});
    ~AudioFileDecoder();
    AudioFileDecoder(const AudioFileDecoder &) = delete;
    AudioFileDecoder &operator=(const AudioFileDecoder &) = delete;

    // None when the file is open with an audio stream; otherwise why not, as a sentence.
    std::optional<QString> open(const QString &path);
    // Appends the samples of the next packet (possibly none) to `samples`.
    ReadStatus read(std::vector<int16_t> &samples);
    // Scales every sample read from now on, before it is rounded to 16 bits, so quiet audio keeps its
    // detail; results beyond full scale are clipped. Non-finite or negative gains are refused.
    void setGain(double gain);
    QString errorDescription() const { return m_error; }
    // Packets the decoder refused. Each was read as silence of its own duration, so what follows keeps
    // its time.
    qint64 packetsRejected() const { return m_packetsRejected; }

private:
    struct Context;
    static int interruptCallback(void *opaque);
    ReadStatus fail(const QString &description);
    bool convertFrame(std::vector<int16_t> &samples);
    void flushResampler(std::vector<int16_t> &samples);
    void appendScaled(int count, std::vector<int16_t> &samples) const;
    void silenceRejectedPacket(std::vector<int16_t> &samples);

    std::function<bool()> m_interrupt;
    std::unique_ptr<Context> m_context;
    QString m_error;
    double m_gain = 1.0;
    std::vector<float> m_converted;
    bool m_inputDone = false;
    bool m_finished = false;
    qint64 m_framesDecoded = 0;
    qint64 m_packetsRejected = 0;
};
