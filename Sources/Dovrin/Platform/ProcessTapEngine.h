#pragma once

#include "Platform/AudioCaptureEngine.h"

#include <chrono>
#include <memory>

// "Others" through the sound server: for an application, a monitor stream on each of its family's
// playback streams (joined as they appear, ended as they end); for the whole system, the monitor of
// the default output, following it when the default changes. The streams are mixed on the engine's
// own steady clock in fixed ticks, and silence fills every gap, so the recording lasts exactly as
// long as the capture ran, also while the sound server restarts. Nothing of the user's routing is ever
// changed.
class ProcessTapEngine final : public OthersCaptureEngine
{
public:
    enum class EngineError { createTap, createAggregate, createIOProc, start, format };

    // The texts a failure carries, with the sound server's error code.
    static AudioCaptureError error(EngineError kind, int code = 0);
    // What every buffer holds: 48 kHz stereo, interleaved 32-bit float.
    static AudioStreamFormat captureFormat();

    struct Timing
    {
        std::chrono::milliseconds tick { 10 };
        // Audio a stream gathers before it joins the mix, to ride out the server's delivery jitter.
        std::chrono::milliseconds prebuffer { 30 };
        // A stream further behind than this is brought back to the prebuffer by dropping its oldest audio.
        std::chrono::milliseconds maximumBacklog { 250 };
    };

    ProcessTapEngine();
    explicit ProcessTapEngine(Timing timing);
    ~ProcessTapEngine() override;

    AudioStreamFormat prepare(const std::optional<ProcessTapRequest> &request) override;
    void activate(BufferCallback onBuffer) override;
    void stop() override;
    // The server went away: the mix goes on with silence, and the streams are set up again on a new
    // connection once the server is back.
    std::optional<std::chrono::steady_clock::time_point> serverLostSince() const override;

    // Sound streams recorded at this moment.
    int liveStreamCount() const;

    class Impl;

private:
    std::shared_ptr<Impl> d;
};
