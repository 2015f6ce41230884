#pragma once

#include "Documents/MenuBarRecordingPresence.h"
#include "Rules/AudioSessionPhase.h"

#include <QString>

#include <optional>

// What the tray item shows for the audio session: a dot while a session is live and, when the user
// chose so, the elapsed time beside the icon.
struct MenuBarStatusPresentation
{
    bool isActive = false; // starting, recording or stopping
    bool showsElapsed = false; // active and the presence is `elapsed`
    QString elapsedLabel;
    QString accessibilityLabel;
    QString accessibilityValue;

    bool operator==(const MenuBarStatusPresentation &) const = default;

    // `transcribed`: how far the transcription of the stopped recording got, from 0 to 1, once known.
    static MenuBarStatusPresentation resolve(AudioSessionPhase phase, double elapsed,
        MenuBarRecordingPresence presence, std::optional<double> transcribed = std::nullopt);
};
