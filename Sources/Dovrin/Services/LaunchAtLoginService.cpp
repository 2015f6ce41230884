#include "Services/LaunchAtLoginService.h"

#include "Documents/AppPaths.h"
#include "Platform/AutostartEntry.h"
#include "Platform/DesktopSettingsOpener.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace {

QString resolved(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

} // namespace

LaunchAtLoginError::LaunchAtLoginError(const QString &detail)
    : std::runtime_error(LaunchAtLoginPresentation::updateFailedMessage().toStdString())
    , m_detail(detail)
{ }

LaunchAtLoginService::Environment LaunchAtLoginService::Environment::current()
{
    Environment environment;
    environment.executablePath = QCoreApplication::applicationFilePath();
    const QString deleted = QStringLiteral(" (deleted)");
    if (environment.executablePath.endsWith(deleted))
        environment.executablePath.chop(deleted.size());
    environment.homeDirectory = QDir::homePath();
    environment.configHome = AppPaths::configHome();
    environment.desktopId = QLatin1String(AppPaths::bundleIdentifier);
    return environment;
}

bool LaunchAtLoginService::isInstalledApplication(const QString &executablePath, const QString &homeDirectory)
{
    if (executablePath.isEmpty())
        return false;
    const QString path = resolved(executablePath);
    const QStringList folders { QStringLiteral("/usr"), QStringLiteral("/usr/local"), QStringLiteral("/opt"),
        QDir(homeDirectory).filePath(QStringLiteral(".local")) };
    for (const QString &folder : folders) {
        // The slash keeps /opt-old out of /opt.
        if (path.startsWith(resolved(folder) + u'/'))
            return true;
    }
    return false;
}

LaunchAtLoginStatus LaunchAtLoginService::currentStatus(const Environment &environment)
{
    const AutostartEntry entry(environment.configHome, environment.desktopId);
    switch (entry.state(environment.executablePath)) {
    case AutostartEntry::State::enabled:
        return LaunchAtLoginStatus::enabled;
    case AutostartEntry::State::disabled:
        return LaunchAtLoginStatus::requiresApproval;
    case AutostartEntry::State::absent:
        break;
    }
    return isInstalledApplication(environment.executablePath, environment.homeDirectory)
        ? LaunchAtLoginStatus::notRegistered
        : LaunchAtLoginStatus::notFound;
}

LaunchAtLoginService LaunchAtLoginService::live(const Environment &environment)
{
    LaunchAtLoginService service;
    service.status = [environment] {
        return Task<LaunchAtLoginStatus>::spawn(
            nullptr, [environment]() -> Task<LaunchAtLoginStatus> { co_return currentStatus(environment); });
    };
    service.setEnabled = [environment](bool on) {
        return Task<LaunchAtLoginStatus>::spawn(nullptr, [environment, on]() -> Task<LaunchAtLoginStatus> {
            const LaunchAtLoginStatus status = currentStatus(environment);
            const AutostartEntry entry(environment.configHome, environment.desktopId);
            QString error;
            if (on && LaunchAtLoginMutation::shouldRegister(status)) {
                if (!entry.write(environment.executablePath, QStringLiteral("Quorvel"), &error))
                    throw LaunchAtLoginError(error);
            } else if (!on && LaunchAtLoginMutation::shouldUnregister(status)) {
                if (!entry.remove(&error))
                    throw LaunchAtLoginError(error);
            }
            co_return currentStatus(environment);
        });
    };
    service.openLoginItems = [environment] {
        if (DesktopSettingsOpener::open(DesktopSettingsOpener::pageURL(QStringLiteral("login-items"))))
            return;
        // No startup tool installed: show the entries themselves.
        const AutostartEntry entry(environment.configHome, environment.desktopId);
        if (QFileInfo(entry.folderPath()).isDir())
            QDesktopServices::openUrl(QUrl::fromLocalFile(entry.folderPath()));
    };
    return service;
}
