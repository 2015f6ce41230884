#pragma once

#include "Platform/AudioCaptureEngine.h"
#include "Platform/AudioFileEncoder.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

// Why a writer could not be made.
class AACStreamWriterError : public std::exception
{
public:
    enum Kind { format, createFile };

    explicit AACStreamWriterError(Kind kind)
        : m_kind(kind)
    { }
    Kind kind() const { return m_kind; }
    QString description() const;
    const char *what() const noexcept override;

    friend bool operator==(const AACStreamWriterError &a, const AACStreamWriterError &b)
    {
        return a.m_kind == b.m_kind;
    }

private:
    Kind m_kind;
};

// Writes one stream of an audio session through an AudioFileEncoder: AAC at 192 kb/s in a fragmented
// .m4a, or, when that cannot be created, 32-bit float PCM in a .caf beside it. Every buffer is converted
// to one processing format (float, the source's channel count, 44,100 Hz when the source is within 1 Hz
// of it, else 48,000 Hz). The writer keeps what the session needs to know: the counts, the peaks,
// whether anything was heard and whether a write failed.
//
// append() runs on one audio callback thread at a time; finish() and discard() on any thread. One lock
// guards the file, held through the conversion and the write of a buffer; the failure flag and the
// peaks are also kept in atomics, so the live level and warnings never wait for the encoder.
class AACStreamWriter
{
public:
    static constexpr int bitRate = 192000;
    static constexpr int fragmentMicroseconds = 1000000;
    // A written buffer louder than this counts as heard.
    static constexpr float audibleThreshold = 1e-7f;

    struct Finished
    {
        QString url;
        // Sound above audibleThreshold is in the file.
        bool heard = false;
        float peak = 0;
        qint64 callbacks = 0;
        // Audio is missing from the file: a buffer was dropped, or the file failed.
        bool writeFailed = false;
        // The system's error code of the failed write that ended the file; 0 while it is whole.
        int fileError = 0;

        friend bool operator==(const Finished &, const Finished &) = default;
    };

    // Creates and opens the file at `url` for buffers in `source`; throws AACStreamWriterError, also
    // when anything is already at `url` or at the fallback's path.
    AACStreamWriter(const QString &url, const AudioStreamFormat &source);
    ~AACStreamWriter();
    AACStreamWriter(const AACStreamWriter &) = delete;
    AACStreamWriter &operator=(const AACStreamWriter &) = delete;

    // 44,100 Hz when `sourceRate` is strictly less than 1 Hz away from it, else 48,000 Hz.
    static int processingRate(double sourceRate);
    // The largest absolute sample of every channel of every frame; NaN and infinities are skipped.
    static float peak(const AudioPCMBuffer &buffer);

    // A gap longer than this between where the source's buffers belong (by their host times) and what was
    // written becomes silence; shorter ones are delivery jitter.
    static constexpr std::chrono::milliseconds gapTolerance { 200 };

    // How long encoded audio may wait for cutAt() before the writer puts it in the file by itself.
    static constexpr std::chrono::seconds uncutLimit { 3 };

    // Puts the file on the session's clock from `start` (a steady-clock time): silence before the first
    // buffer and in every gap of the source longer than gapTolerance. Without it (and for buffers that
    // carry no host time) buffers follow one another as they come. On the clock, the file's fragments
    // are cut by the caller (cutAt()), up to uncutLimit apart.
    void startTimeline(AudioPCMBuffer::HostTime start);
    // Where the encoded audio ends on the session's clock; none without a timeline or once finished.
    std::optional<AudioPCMBuffer::HostTime> encodedUntil() const;
    // Puts what was encoded up to `time` on the session's clock into the file now, so that two files cut
    // at one moment keep the same stretch through a crash. A failed write fails the stream.
    void cutAt(AudioPCMBuffer::HostTime time);
    // Silence from the end of what was written up to `end` on the session's clock, so a source that
    // started late, stalled or still held its last moments covers the whole session; nothing without a
    // timeline or when that time is covered.
    void padTo(AudioPCMBuffer::HostTime end);

    // A buffer that cannot be converted or queued is a write failure, as a failed write is; only a
    // failed write ends the stream.
    void append(const AudioPCMBuffer &buffer);
    // Closes the file (flushing the resampler and the encoder) and reports; later calls report the same.
    Finished finish();
    // Finishes, then deletes the file; a file that is already gone is fine.
    void discard();

    // The file actually written: the requested .m4a or the .caf fallback.
    QString url() const;
    int sampleRate() const { return m_rate; }
    int channelCount() const { return m_channels; }
    bool isCompressed() const;
    // Lock-free.
    float sessionPeak() const;
    bool writeFailed() const;
    // The system's error code of the write that ended the stream; 0 while the file takes what comes.
    int fileError() const;
    float lastBufferPeak() const;
    qint64 framesWritten() const;
    qint64 nonzeroBuffers() const;
    qint64 callbacks() const;

private:
    void fail();
    // Frames of the source's rate from the timeline's start to `time`.
    qint64 framesAt(AudioPCMBuffer::HostTime time) const;
    // Writes that many frames of silence in the source's format; false when the file failed.
    bool writeSilence(qint64 frames);

    mutable std::mutex m_lock;
    QString m_url;
    AudioStreamFormat m_source;
    int m_rate = 0;
    int m_channels = 0;
    bool m_compressed = false;
    std::unique_ptr<AudioFileEncoder> m_encoder; // none once finished

    bool m_finished = false;
    std::atomic<bool> m_writeFailed { false };
    std::atomic<int> m_fileError { 0 };
    std::optional<Finished> m_result;
    qint64 m_framesWritten = 0;
    std::optional<AudioPCMBuffer::HostTime> m_timelineStart;
    // Source frames placed on the timeline so far: buffers and silence.
    qint64 m_framesPlaced = 0;
    qint64 m_nonzeroBuffers = 0;
    // Where the first audible buffer ends among the frames written, and how many frames are in the file.
    std::optional<qint64> m_firstAudibleEnd;
    qint64 m_durableFrames = 0;
    qint64 m_callbacks = 0;
    std::atomic<float> m_peak { 0 };
    std::atomic<float> m_lastBufferPeak { 0 };
};
