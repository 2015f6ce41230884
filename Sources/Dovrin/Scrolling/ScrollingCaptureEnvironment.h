#pragma once

#include "Async/TaskClock.h"

#include <QPoint>

class QThreadPool;

#include <functional>

// What a scrolling capture needs from the desktop besides the screen's pixels. The live record
// posts wheel steps through XTest and asks the X server about the target window; tests may put
// their own closures in.
struct ScrollingCaptureEnvironment
{
    // Clicks the wheel down `notches` times at a point of the root window (pixels), putting the
    // pointer back afterwards. False when nothing could be posted.
    std::function<bool(QPoint rootPoint, int notches)> scrollDown;
    // Scroll steps may still be posted (the XTEST extension is there).
    std::function<bool()> canPostScrollSteps;
    // The window that receives the steps still exists and is shown.
    std::function<bool(quint64 windowID)> isTargetAvailable;
    // The steady clock behind every wait; the system clock when none is given.
    TaskClock *clock = nullptr;
    // The one thread that writes and deletes the draft store's files, so a deletion asked for later
    // is never overtaken by a tile written before it; the global pool when none is given.
    QThreadPool *storeThread = nullptr;
    // Show the control panel (Done, Cancel) and the outline around the region.
    bool showsPanel = true;
    // End the capture when a display is added, removed or changes its geometry.
    bool observesDisplayChanges = true;

    static ScrollingCaptureEnvironment live(bool showsPanel = true, bool observesDisplayChanges = true);
};
