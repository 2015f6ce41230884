#include "Services/SoftwareUpdateService.h"

#include <QGuiApplication>

SoftwareUpdateService::BundleInfo SoftwareUpdateService::BundleInfo::main()
{
    BundleInfo bundle;
    const QString desktopId = QGuiApplication::desktopFileName();
    if (!desktopId.isEmpty())
        bundle.identifier = desktopId;
    // No feed is built into this program, so the info holds no "SUFeedURL".
    return bundle;
}

SoftwareUpdateService SoftwareUpdateService::disabled()
{
    SoftwareUpdateService service;
    service.automaticallyChecks = [] { return false; };
    service.setAutomaticallyChecks = [](bool) {};
    service.checkForUpdates = [] {};
    service.isAvailable = false;
    return service;
}

QString SoftwareUpdateService::unavailableTitle()
{
    return QStringLiteral("Quorvel can't check for updates");
}

QString SoftwareUpdateService::unavailableMessage()
{
    return QStringLiteral("This build has no update feed, so it never checks for updates. Get a newer "
                          "version the way you installed this one.");
}

bool SoftwareUpdateService::shouldStartUpdater(const BundleInfo &bundle)
{
    std::optional<QString> feed;
    const QVariant value = bundle.info.value(QStringLiteral("SUFeedURL"));
    if (value.typeId() == QMetaType::QString)
        feed = value.toString();
    return shouldStartUpdater(bundle.identifier, feed);
}

bool SoftwareUpdateService::shouldStartUpdater(
    const std::optional<QString> &bundleIdentifier, const std::optional<QString> &feedURL)
{
    return bundleIdentifier == productBundleIdentifier && feedURL && !feedURL->isEmpty();
}
