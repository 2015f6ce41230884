#pragma once

#include <QString>

#include <optional>

// The application in front of ours when a capture command came: what a capture names as its source.
struct ForeignApplication
{
    std::optional<QString> name;
    std::optional<QString> bundleID;

    bool operator==(const ForeignApplication &) const = default;

    // The frontmost application window of the X11 display, unless it is this program: both fields
    // none when there is none or it is ours. Reads the display and the .desktop files afresh, so it
    // belongs on a worker thread.
    static ForeignApplication frontmost();
};
