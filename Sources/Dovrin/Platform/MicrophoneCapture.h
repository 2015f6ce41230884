#pragma once

#include "Platform/AudioCaptureEngine.h"

#include <memory>

// "You": a record stream on a microphone of the sound server, never on the monitor of an output.
// A chosen device is held with PA_STREAM_DONT_MOVE, so when it goes away the recording ends where
// the user can see it (the level drops, nothing more arrives) instead of being moved by the server
// onto another source; without a choice the stream follows the default source.
class MicrophoneCapture final : public MicrophoneCaptureEngine
{
public:
    static QString startFailedText(); // "The microphone could not start"

    MicrophoneCapture();
    ~MicrophoneCapture() override;

    AudioStreamFormat prepare(const std::optional<QString> &deviceUID) override;
    void start(BufferCallback onBuffer) override;
    void stop() override;
    // The server went away: the stream is opened again on a new connection once it is back.
    std::optional<std::chrono::steady_clock::time_point> serverLostSince() const override;

    // The stream ended while running (its device went away, or the server did and is not back).
    bool hasEnded() const;
    // The source being recorded, once prepared.
    QString sourceName() const;

    class Impl;

private:
    std::shared_ptr<Impl> d;
};
