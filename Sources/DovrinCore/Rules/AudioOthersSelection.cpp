#include "Rules/AudioOthersSelection.h"

#include "Documents/AppPaths.h"

#include <QSet>

namespace AudioOthersSelection {

QString displayName(const std::optional<QString> &bundleID, const std::optional<QString> &stored)
{
    if (!bundleID || bundleID->isEmpty())
        return QStringLiteral("This Computer");
    if (stored && !stored->isEmpty())
        return *stored;
    return *bundleID;
}

QString unavailableMessage(const QString &displayName)
{
    return displayName + QStringLiteral(" isn't running");
}

QString closedWarning(const QString &displayName)
{
    return displayName + QStringLiteral(" closed. Others may go silent.");
}

QString silentWarning(const QString &displayName)
{
    return QStringLiteral("No audio from ") + displayName + QStringLiteral(" yet.");
}

bool belongsToFamily(const QString &candidate, const QString &primary)
{
    if (primary.isEmpty())
        return false;
    if (candidate == primary)
        return true;
    for (const QString &helper :
        { primary + QStringLiteral(".helper"), primary + QStringLiteral(".Helper") }) {
        if (candidate == helper || candidate.startsWith(helper + QLatin1Char('.')))
            return true;
    }
    return false;
}

QString thisMacTitle()
{
    return QStringLiteral("This Computer (everything playing)");
}

QString chooseAnotherAppTitle()
{
    return QStringLiteral("Choose Another App\u2026");
}

QString thisMacCopy()
{
    return QStringLiteral("This Computer records everything playing. No video or screen content.");
}

QString appOnlyCopy()
{
    return QStringLiteral("Audio from this app only. No video or screen content.");
}

} // namespace AudioOthersSelection

namespace AudioInputSelection {

Choice resolve(const std::optional<QString> &preferredUID, const QStringList &availableUIDs)
{
    if (!preferredUID || preferredUID->isEmpty())
        return Choice {};
    if (availableUIDs.contains(*preferredUID))
        return Choice { *preferredUID, false };
    return Choice { std::nullopt, true };
}

} // namespace AudioInputSelection

namespace AudioOthersCatalog {

const QStringList &discoverySchemes()
{
    static const QStringList schemes {
        QStringLiteral("https"),
        QStringLiteral("zoommtg"),
        QStringLiteral("slack"),
        QStringLiteral("msteams"),
        QStringLiteral("discord"),
        QStringLiteral("facetime"),
    };
    return schemes;
}

const std::vector<AudioOthersCatalogApp> &knownApps()
{
    // Native package IDs first, then the Flatpak ID of the same application. The vendors' own
    // packages do not agree on the case of some entries, so both spellings are listed.
    static const std::vector<AudioOthersCatalogApp> apps {
        // Meetings and calls
        { QStringLiteral("zoom"), QStringLiteral("Zoom") },
        { QStringLiteral("Zoom"), QStringLiteral("Zoom") },
        { QStringLiteral("us.zoom.Zoom"), QStringLiteral("Zoom") },
        { QStringLiteral("teams-for-linux"), QStringLiteral("Teams for Linux") },
        { QStringLiteral("com.github.IsmaelMartinez.teams_for_linux"), QStringLiteral("Teams for Linux") },
        { QStringLiteral("slack"), QStringLiteral("Slack") },
        { QStringLiteral("com.slack.Slack"), QStringLiteral("Slack") },
        { QStringLiteral("discord"), QStringLiteral("Discord") },
        { QStringLiteral("com.discordapp.Discord"), QStringLiteral("Discord") },
        { QStringLiteral("skypeforlinux"), QStringLiteral("Skype") },
        { QStringLiteral("com.skype.Client"), QStringLiteral("Skype") },
        { QStringLiteral("signal-desktop"), QStringLiteral("Signal") },
        { QStringLiteral("org.signal.Signal"), QStringLiteral("Signal") },
        { QStringLiteral("org.telegram.desktop"), QStringLiteral("Telegram") },
        { QStringLiteral("element-desktop"), QStringLiteral("Element") },
        { QStringLiteral("im.riot.Riot"), QStringLiteral("Element") },
        { QStringLiteral("org.jitsi.jitsi-meet"), QStringLiteral("Jitsi Meet") },
        // Browsers, where most web meetings and videos play
        { QStringLiteral("firefox-esr"), QStringLiteral("Firefox ESR") },
        { QStringLiteral("firefox"), QStringLiteral("Firefox") },
        { QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox") },
        { QStringLiteral("google-chrome"), QStringLiteral("Google Chrome") },
        { QStringLiteral("com.google.Chrome"), QStringLiteral("Google Chrome") },
        { QStringLiteral("chromium"), QStringLiteral("Chromium") },
        { QStringLiteral("org.chromium.Chromium"), QStringLiteral("Chromium") },
        { QStringLiteral("brave-browser"), QStringLiteral("Brave") },
        { QStringLiteral("com.brave.Browser"), QStringLiteral("Brave") },
        { QStringLiteral("microsoft-edge"), QStringLiteral("Microsoft Edge") },
        { QStringLiteral("com.microsoft.Edge"), QStringLiteral("Microsoft Edge") },
        { QStringLiteral("org.gnome.Epiphany"), QStringLiteral("Web") },
        // Music and video players
        { QStringLiteral("spotify"), QStringLiteral("Spotify") },
        { QStringLiteral("com.spotify.Client"), QStringLiteral("Spotify") },
        { QStringLiteral("vlc"), QStringLiteral("VLC") },
        { QStringLiteral("org.videolan.VLC"), QStringLiteral("VLC") },
        { QStringLiteral("mpv"), QStringLiteral("mpv") },
        { QStringLiteral("io.mpv.Mpv"), QStringLiteral("mpv") },
        { QStringLiteral("org.gnome.Totem"), QStringLiteral("Videos") },
        { QStringLiteral("org.gnome.Rhythmbox3"), QStringLiteral("Rhythmbox") },
        { QStringLiteral("org.kde.elisa"), QStringLiteral("Elisa") },
    };
    return apps;
}

bool isExcluded(const QString &bundleID, const QString &name)
{
    // Our own entry, and the desktops' "preferred web browser" launchers, which open another
    // application and never play anything themselves.
    static const QSet<QString> excludedIDs {
        QString::fromLatin1(AppPaths::bundleIdentifier),
        QStringLiteral("exo-web-browser"),
        QStringLiteral("xfce4-web-browser"),
    };
    if (excludedIDs.contains(bundleID))
        return true;
    const QString lower = name.toLower();
    return lower.contains(QLatin1String("for testing")) || lower.contains(QLatin1String("technology preview"))
        || lower.contains(QLatin1String("simulator"));
}

std::optional<QString> preferredPrimaryBundleID(
    const QString &candidate, const QStringList &installedPrimaryIDs)
{
    if (installedPrimaryIDs.contains(candidate))
        return candidate;
    std::optional<QString> best;
    for (const QString &primary : installedPrimaryIDs) {
        if (primary.isEmpty() || !AudioOthersSelection::belongsToFamily(candidate, primary))
            continue;
        if (!best || primary.size() > best->size())
            best = primary;
    }
    return best;
}

} // namespace AudioOthersCatalog
