#pragma once

#include "Audio/AudioCaptureApp.h"
#include "Platform/AudioInputDevice.h"

#include <QList>
#include <QSet>
#include <QString>

// A fixed list of audio sources that the settings window shows instead of asking the system; with
// one, the window makes no live query at all.
struct PreferencesAudioCatalog
{
    QList<AudioCaptureApp> apps;
    QList<AudioInputDevice> devices;
    QSet<QString> runningBundleIDs;

    // Whether a running identifier belongs to the family of `bundleID`.
    bool isFamilyRunning(const QString &bundleID) const;
};
