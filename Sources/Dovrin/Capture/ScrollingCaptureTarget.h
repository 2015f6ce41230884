#pragma once

#include <QString>

#include <optional>

// The window of another application that receives the scroll steps. `bundleID` is the
// application's identity: its desktop-file ID where one is known, else its window class.
struct ScrollingCaptureTarget
{
    std::optional<QString> name;
    QString bundleID;
    quint64 windowID = 0;

    bool operator==(const ScrollingCaptureTarget &) const = default;
};
