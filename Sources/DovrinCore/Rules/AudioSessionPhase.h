#pragma once

#include <QString>

#include <array>
#include <optional>

// Where an audio session stands, from the record command to the saved note. Raw values are the case
// names; they appear in the feedback diagnostics.
enum class AudioSessionPhase {
    idle,
    starting,
    recording,
    stopping,
    transcribing,
    reviewing,
    saved,
    failed,
};

namespace AudioSessionPhases {

inline constexpr std::array<AudioSessionPhase, 8> allCases {
    AudioSessionPhase::idle,
    AudioSessionPhase::starting,
    AudioSessionPhase::recording,
    AudioSessionPhase::stopping,
    AudioSessionPhase::transcribing,
    AudioSessionPhase::reviewing,
    AudioSessionPhase::saved,
    AudioSessionPhase::failed,
};

QString rawValue(AudioSessionPhase phase);
std::optional<AudioSessionPhase> fromRawValue(const QString &raw);

} // namespace AudioSessionPhases
