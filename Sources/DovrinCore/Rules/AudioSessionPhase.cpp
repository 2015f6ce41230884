#include "Rules/AudioSessionPhase.h"

namespace AudioSessionPhases {

QString rawValue(AudioSessionPhase phase)
{
    switch (phase) {
    case AudioSessionPhase::idle:
        return QStringLiteral("idle");
    case AudioSessionPhase::starting:
        return QStringLiteral("starting");
    case AudioSessionPhase::recording:
        return QStringLiteral("recording");
    case AudioSessionPhase::stopping:
        return QStringLiteral("stopping");
    case AudioSessionPhase::transcribing:
        return QStringLiteral("transcribing");
    case AudioSessionPhase::reviewing:
        return QStringLiteral("reviewing");
    case AudioSessionPhase::saved:
        return QStringLiteral("saved");
    case AudioSessionPhase::failed:
        return QStringLiteral("failed");
    }
    return QStringLiteral("idle");
}

std::optional<AudioSessionPhase> fromRawValue(const QString &raw)
{
    for (AudioSessionPhase phase : allCases) {
        if (rawValue(phase) == raw)
            return phase;
    }
    return std::nullopt;
}

} // namespace AudioSessionPhases
