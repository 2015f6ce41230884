#pragma once

#include <QImage>
#include <QRect>
#include <QString>

// One display frozen as a still. `screenFrame` is the display in global points (Qt's logical
// coordinates); `image` holds the display's own pixels, so its size is the frame's size times the
// display's scale.
struct DisplaySnapshot
{
    QString displayID;
    QRect screenFrame;
    QImage image;
};
