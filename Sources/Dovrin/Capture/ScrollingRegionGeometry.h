#pragma once

#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

// The outline of a scrolling region on one display, in global points and in that display's pixels.
struct ScrollingRegionGeometry
{
    QString displayID;
    // The display's frame in global points.
    QRect displayFrame;
    // The outline in global points.
    QRectF globalRect;
    // The outline in the display's pixels (origin at the display's top-left).
    QRect pixelRect;
    // The display's size in pixels.
    QSize displayPixelSize;

    // The outline in the X root window's pixels. Qt keeps each screen's top-left in device pixels
    // and scales only within the screen, so the display's frame origin is its pixel origin.
    QRect rootPixelRect() const { return pixelRect.translated(displayFrame.topLeft()); }

    bool operator==(const ScrollingRegionGeometry &) const = default;
};
