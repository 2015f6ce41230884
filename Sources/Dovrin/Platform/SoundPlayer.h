#pragma once

#include <memory>
#include <vector>

// One playback stream of this program, mono float, that plays queued sounds and silence between
// them, so the stream stays one sink input for as long as it is open.
class SoundPlayer
{
public:
    static constexpr int sampleRate = 48000;

    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer &) = delete;
    SoundPlayer &operator=(const SoundPlayer &) = delete;

    // Connects and waits until the stream plays; blocks briefly, so never on the main thread.
    bool open();
    // Queues samples at sampleRate; any thread.
    void play(const std::vector<float> &sound);
    void close();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
