#pragma once

#include <QPoint>

#include <memory>

// Scroll-wheel steps posted to whatever window is under a point of the X11 screen, through the
// XTEST extension, on a connection of its own to $DISPLAY. Main thread only.
class XTestScrollSteps
{
public:
    // Opens the connection; without a display every call answers false.
    XTestScrollSteps();
    ~XTestScrollSteps();
    XTestScrollSteps(const XTestScrollSteps &) = delete;
    XTestScrollSteps &operator=(const XTestScrollSteps &) = delete;

    bool isConnected() const;
    // The server offers XTEST: scroll steps can be posted.
    bool isAvailable() const;

    // Moves the pointer to `rootPoint` (root window pixels), clicks the wheel down `notches` times
    // there (button 5) and puts the pointer back where it was. False when nothing could be posted.
    bool scrollDown(QPoint rootPoint, int notches);

    // The window exists and is shown (mapped and viewable).
    bool isWindowViewable(quint64 windowID) const;

    // Where the pointer is now, in root window pixels; (-1, -1) without a display.
    QPoint pointerPosition() const;

    // The most notches one call posts.
    static constexpr int maximumNotches = 20;

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};
