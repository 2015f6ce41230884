#pragma once

#include <QImage>
#include <QRect>

#include <memory>
#include <mutex>

// Rectangles of the X11 root window read through shared memory (MIT-SHM) on a connection of its
// own to $DISPLAY, so a viewport of a scrolling capture is read in a millisecond or two on any
// thread. Calls are serialized; one segment, sized for the last rectangle, is kept between them.
class X11RootGrab
{
public:
    X11RootGrab();
    ~X11RootGrab();
    X11RootGrab(const X11RootGrab &) = delete;
    X11RootGrab &operator=(const X11RootGrab &) = delete;

    // The server is local and offers shared memory for 32-bit true-colour pixels.
    bool isAvailable() const;

    // The root window's pixels in `rootRect` as RGB32, exactly that size; null when the rectangle
    // is not wholly on the root window or the server refused.
    QImage grab(const QRect &rootRect);

private:
    struct Private;
    std::unique_ptr<Private> d;
    std::mutex m_mutex;
};
