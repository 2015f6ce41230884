#include "SyntheticPointer.h"

#include <QDeadlineTimer>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>

SyntheticPointer::SyntheticPointer(const QByteArray &displayName)
    : m_display(XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData()))
{ }

SyntheticPointer::~SyntheticPointer()
{
    if (!m_display)
        return;
    if (m_pressed)
        release(m_pressed);
    XCloseDisplay(m_display);
}

void SyntheticPointer::moveTo(QPoint at)
{
    if (!m_display)
        return;
    XTestFakeMotionEvent(m_display, -1, at.x(), at.y(), CurrentTime);
    XSync(m_display, False);
}

void SyntheticPointer::press(int button)
{
    if (!m_display)
        return;
    XTestFakeButtonEvent(m_display, unsigned(button), True, CurrentTime);
    XSync(m_display, False);
    m_pressed = button;
    waitUntilLetThrough();
}

void SyntheticPointer::waitUntilLetThrough()
{
    // A window manager that focuses windows on a click holds the pointer frozen until it has decided
    // what the click does; keys sent meanwhile reach the window before the click, and land wherever
    // its focus was. A grab of our own answers GrabFrozen for as long as that lasts.
    for (QDeadlineTimer deadline(30000); !deadline.hasExpired(); QThread::msleep(5)) {
        const int answer = XGrabPointer(m_display, DefaultRootWindow(m_display), False, 0, GrabModeAsync,
            GrabModeAsync, None, None, CurrentTime);
        if (answer == GrabSuccess) {
            XUngrabPointer(m_display, CurrentTime);
            XSync(m_display, False);
        }
        if (answer != GrabFrozen)
            return;
    }
}

void SyntheticPointer::release(int button)
{
    if (!m_display)
        return;
    // No hand lets go in the same millisecond it pressed.
    XTestFakeButtonEvent(m_display, unsigned(button), False, 2);
    XSync(m_display, False);
    m_pressed = 0;
}

void SyntheticPointer::click(QPoint at, int button)
{
    moveTo(at);
    press(button);
    release(button);
}

void SyntheticPointer::drag(QPoint from, QPoint to, int steps)
{
    moveTo(from);
    press();
    for (int i = 1; i <= steps; ++i) {
        const QPoint step = from + (to - from) * i / (steps + 1);
        XTestFakeMotionEvent(m_display, -1, step.x(), step.y(), 5);
        XSync(m_display, False);
    }
    XTestFakeMotionEvent(m_display, -1, to.x(), to.y(), 5);
    XSync(m_display, False);
    release();
}

void SyntheticPointer::scroll(QPoint at, int notches)
{
    moveTo(at);
    const unsigned int button = notches > 0 ? 5 : 4;
    for (int i = 0; i < std::abs(notches); ++i) {
        XTestFakeButtonEvent(m_display, button, True, CurrentTime);
        XTestFakeButtonEvent(m_display, button, False, 2);
        XSync(m_display, False);
    }
}

QPoint SyntheticPointer::position() const
{
    if (!m_display)
        return {};
    Window root = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    int wx = 0;
    int wy = 0;
    unsigned int mask = 0;
    XQueryPointer(m_display, DefaultRootWindow(m_display), &root, &child, &x, &y, &wx, &wy, &mask);
    return { x, y };
}
