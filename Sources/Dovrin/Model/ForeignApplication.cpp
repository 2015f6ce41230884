#include "Model/ForeignApplication.h"

#include "Capture/ScreenCaptureService.h"
#include "Documents/AppPaths.h"

ForeignApplication ForeignApplication::frontmost()
{
    const ScreenCaptureService::Backend backend = ScreenCaptureService::Backend::live();
    for (const ApplicationWindow &window : backend.applicationWindows()) {
        if (window.window.hidden || X11Windows::isDesktopChrome(window.window))
            continue;
        if (window.window.pid == backend.ownPid
            || window.bundleID == QLatin1String(AppPaths::bundleIdentifier))
            return {};
        ForeignApplication application;
        application.name = window.name;
        if (!window.bundleID.isEmpty())
            application.bundleID = window.bundleID;
        return application;
    }
    return {};
}
