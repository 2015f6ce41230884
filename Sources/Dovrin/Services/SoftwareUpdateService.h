#pragma once

#include "Documents/AppPaths.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

// The automatic-update switch and "check now". Our builds carry no update feed, so the model always
// gets the disabled service: checks read as off and every command is ignored.
struct SoftwareUpdateService
{
    std::function<bool()> automaticallyChecks;
    std::function<void(bool)> setAutomaticallyChecks;
    std::function<void()> checkForUpdates;
    // False when there is no feed to check: the switch and "check now" cannot do anything.
    bool isAvailable = false;

    // Where updates come from when this build cannot look for them (the window says it where the user
    // acts, an alert when the tray asks).
    static QString unavailableTitle();
    static QString unavailableMessage();

    // The program's identity and its build information ("SUFeedURL" names the update feed).
    struct BundleInfo
    {
        std::optional<QString> identifier;
        QVariantMap info;

        static BundleInfo main();
    };

    static inline const QString productBundleIdentifier = QString::fromLatin1(AppPaths::bundleIdentifier);

    static SoftwareUpdateService disabled();

    // An updater may only start for the product's own identity with a non-empty feed.
    static bool shouldStartUpdater(const BundleInfo &bundle);
    static bool shouldStartUpdater(
        const std::optional<QString> &bundleIdentifier, const std::optional<QString> &feedURL);
};
