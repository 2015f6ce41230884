#pragma once

#include "Capture/ScrollingRegionGeometry.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <optional>

// The region the user accepted: the exact pixels of one display's still under the selection.
struct CapturedRegion
{
    QImage image;
    QString displayID;
    QDateTime observedAt;
    // Set when the selection outlined a scrolling column.
    std::optional<ScrollingRegionGeometry> scrollingGeometry;
};
