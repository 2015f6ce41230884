#include "Rules/MenuBarStatusPresentation.h"

#include "Rules/AudioLevelMeter.h"

MenuBarStatusPresentation MenuBarStatusPresentation::resolve(
    AudioSessionPhase phase, double elapsed, MenuBarRecordingPresence presence)
{
    const bool running = phase == AudioSessionPhase::recording || phase == AudioSessionPhase::stopping;
    MenuBarStatusPresentation result;
    result.isActive = running || phase == AudioSessionPhase::starting;
    result.elapsedLabel = AudioElapsed::label(running ? elapsed : 0.0);
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
