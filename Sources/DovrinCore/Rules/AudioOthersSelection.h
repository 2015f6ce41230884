#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The "Others" source of an audio session: the whole computer, or one application named by its
// desktop-file ID (for example "org.mozilla.firefox" or "slack") together with its helper processes.
namespace AudioOthersSelection {

// The name shown for a source: "This Computer" without an application; else the stored name when
// it is not empty; else the application's ID.
QString displayName(const std::optional<QString> &bundleID, const std::optional<QString> &stored);

QString unavailableMessage(const QString &displayName);
QString closedWarning(const QString &displayName);
QString silentWarning(const QString &displayName);

// Whether `candidate` is `primary` itself or one of its helpers ("P.helper", "P.Helper", and anything
// below them such as "P.helper.Renderer"). Nothing belongs to an empty primary.
bool belongsToFamily(const QString &candidate, const QString &primary);

// The whole-computer entry of the Others menu and the captions under it.
QString thisMacTitle();
QString chooseAnotherAppTitle();
QString thisMacCopy();
QString appOnlyCopy();

} // namespace AudioOthersSelection

// Which microphone to open: the preferred one while it is connected, else the default input.
namespace AudioInputSelection {

struct Choice
{
    std::optional<QString> uid; // none = the default input
    bool fellBack = false; // a preferred microphone was set but is not connected

    bool operator==(const Choice &) const = default;
};

Choice resolve(const std::optional<QString> &preferredUID, const QStringList &availableUIDs);

} // namespace AudioInputSelection

struct AudioOthersCatalogApp
{
    QString bundleID; // desktop-file ID without ".desktop"
    QString fallbackName;

    bool operator==(const AudioOthersCatalogApp &) const = default;
};

// Where the list of recordable applications comes from besides the ones playing right now.
namespace AudioOthersCatalog {

// URL schemes whose handlers are offered as Others sources, in this order.
const QStringList &discoverySchemes();

// Meeting, browser and media applications offered when installed, native and Flatpak IDs alike.
const std::vector<AudioOthersCatalogApp> &knownApps();

// Entries never offered: launchers that only forward to another application, and test or preview
// builds recognised by their names.
bool isExcluded(const QString &bundleID, const QString &name);

// The installed application a sounding process belongs to: the candidate itself when installed,
// else the longest installed ID whose family holds it (the first of equally long ones).
std::optional<QString> preferredPrimaryBundleID(
    const QString &candidate, const QStringList &installedPrimaryIDs);

} // namespace AudioOthersCatalog
