#pragma once

#include "Platform/AudioCaptureEngine.h"

// The factory an audio session records through on this machine: the sound server's engines
// (ProcessTapEngine, MicrophoneCapture), its applications and devices, and the pidfd exit watch.
AudioCaptureEngineFactory liveAudioCaptureEngineFactory();
