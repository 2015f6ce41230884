#include "Settings/PreferencesAudioCatalog.h"

#include "Rules/AudioOthersSelection.h"

bool PreferencesAudioCatalog::isFamilyRunning(const QString &bundleID) const
{
    for (const QString &running : runningBundleIDs) {
        if (AudioOthersSelection::belongsToFamily(running, bundleID))
            return true;
    }
    return false;
}
