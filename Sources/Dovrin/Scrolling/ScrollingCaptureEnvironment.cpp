#include "Scrolling/ScrollingCaptureEnvironment.h"

#include "Platform/XTestScrollSteps.h"

#include <memory>

ScrollingCaptureEnvironment ScrollingCaptureEnvironment::live(bool showsPanel, bool observesDisplayChanges)
{
    // One connection for the capture's lifetime, opened on first use.
    auto steps = std::make_shared<std::unique_ptr<XTestScrollSteps>>();
    auto connection = [steps]() -> XTestScrollSteps & {
        if (!*steps)
            *steps = std::make_unique<XTestScrollSteps>();
        return **steps;
    };
    ScrollingCaptureEnvironment environment;
    environment.scrollDown
        = [connection](QPoint point, int notches) { return connection().scrollDown(point, notches); };
    environment.canPostScrollSteps = [connection] { return connection().isAvailable(); };
    environment.isTargetAvailable
        = [connection](quint64 windowID) { return connection().isWindowViewable(windowID); };
    environment.clock = &TaskClock::system();
    environment.showsPanel = showsPanel;
    environment.observesDisplayChanges = observesDisplayChanges;
    return environment;
}
