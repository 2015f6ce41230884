#include "Rules/MenuBarStatusPresentation.h"

#include "Rules/AudioLevelMeter.h"

#include <algorithm>

MenuBarStatusPresentation MenuBarStatusPresentation::resolve(AudioSessionPhase phase, double elapsed,
    MenuBarRecordingPresence presence, std::optional<double> transcribed)
{
    const bool running = phase == AudioSessionPhase::recording || phase == AudioSessionPhase::stopping;
    MenuBarStatusPresentation result;
    result.isActive = running || phase == AudioSessionPhase::starting;
    result.elapsedLabel = AudioElapsed::label(running ? elapsed : 0.0);
    // The transcripts take a while after a long recording: the tray's tooltip says how far they got.
    if (phase == AudioSessionPhase::transcribing) {
        result.accessibilityLabel = QStringLiteral("Transcribing…");
        if (transcribed)
            result.accessibilityValue
                = QStringLiteral("%1%").arg(int(std::clamp(*transcribed, 0.0, 1.0) * 100.0));
        return result;
    }
    if (!result.isActive) {
        result.accessibilityLabel = QStringLiteral("Quorvel");
        return result;
    }
    result.showsElapsed = presence == MenuBarRecordingPresence::elapsed;
    result.accessibilityLabel
        = running ? QStringLiteral("Recording audio") : QStringLiteral("Starting recording");
    result.accessibilityValue = result.elapsedLabel;
    return result;
}
