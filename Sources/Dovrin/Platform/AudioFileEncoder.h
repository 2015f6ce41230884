#pragma once

#include "Platform/AudioCaptureEngine.h"

#include <QString>

#include <memory>

// Encodes PCM buffers into one file: AAC in a fragmented .m4a (so a crash keeps what was written up to
// the last fragment), or 32-bit float PCM in a .caf. Every buffer is converted to the file's rate and
// channel count by one resampler that lives as long as the encoder, so no frames are lost between
// buffers. Encoded audio reaches the file in fragments: cut by the owner (cutFragment()), and by the
// encoder itself once fragmentMicroseconds of it waits. Not thread-safe: its owner serialises every call.
class AudioFileEncoder
{
public:
    enum class Container { fragmentedM4A, caf };

    struct Settings
    {
        Container container = Container::fragmentedM4A;
        int sampleRate = 48000;
        int channelCount = 2;
        int bitRate = 192000; // AAC only
        // How much encoded audio may wait before the encoder writes it out by itself.
        int fragmentMicroseconds = 1000000;
    };

    enum class Outcome {
        written, // converted and queued for the encoder (an empty buffer writes nothing)
        dropped, // the buffer could not be converted or queued; the file is still good
        failed, // the encoder or the file failed: nothing more can be written
    };

    // Creates the file at `path`, which must not exist yet (an existing file or link is never opened),
    // and writes its header; none when any of that fails, and then no file made by this call is left
    // behind. `error` gets the system's error code when the file could not be created (EEXIST for a clash).
    static std::unique_ptr<AudioFileEncoder> create(
        const QString &path, const Settings &settings, int *error = nullptr);
    // Closes the file without its trailer when finish() was not called.
    ~AudioFileEncoder();
    AudioFileEncoder(const AudioFileEncoder &) = delete;
    AudioFileEncoder &operator=(const AudioFileEncoder &) = delete;

    // `sanitize` clamps float samples to [-1, 1] and turns non-finite ones into silence first.
    Outcome write(const AudioPCMBuffer &buffer, bool sanitize);
    // Pushes out what the resampler and the encoder still hold, writes the trailer and closes the file;
    // false when any of that failed. Later calls answer false and do nothing.
    bool finish();

    // Frames handed to the encoder so far, at the file's rate.
    qint64 framesWritten() const { return m_framesWritten; }
    // Frames from the file's start that the encoder has turned into packets.
    qint64 encodedFrames() const;
    // Frames from the file's start that are in the file: what a crash now would keep.
    qint64 durableFrames() const;
    // Writes what was encoded up to `frame` (from the file's start, at its rate) into the file now, as
    // one fragment; false when the file failed.
    bool cutFragment(qint64 frame);
    void setFragmentMicroseconds(qint64 microseconds);
    // The system's error code of the write that failed; 0 while none did.
    int lastError() const;

private:
    struct Codec;
    AudioFileEncoder();
    bool open(const QString &path, const Settings &settings, int *error);
    void close(bool writeTrailer, bool *failed);

    std::unique_ptr<Codec> d;
    qint64 m_framesWritten = 0;
    qint64 m_durableFrames = 0;
    int m_lastError = 0;
};
