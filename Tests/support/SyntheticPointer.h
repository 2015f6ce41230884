#pragma once

#include <QByteArray>
#include <QPoint>

struct _XDisplay;

// The mouse, moved and pressed through XTest on a connection of its own to $DISPLAY (or the display
// named), the way a hand moves it: every step reaches the server before the next one is sent, and a
// press returns once the window manager has let it through to the window, so keys typed next follow
// it there. A button it leaves pressed is released when it goes away.
class SyntheticPointer
{
public:
    explicit SyntheticPointer(const QByteArray &displayName = {});
    ~SyntheticPointer();
    SyntheticPointer(const SyntheticPointer &) = delete;
    SyntheticPointer &operator=(const SyntheticPointer &) = delete;

    bool isOpen() const { return m_display != nullptr; }

    void moveTo(QPoint at);
    void press(int button = 1);
    void release(int button = 1);
    void click(QPoint at, int button = 1);
    // Presses at `from`, moves to `to` through `steps` positions in between, releases there.
    void drag(QPoint from, QPoint to, int steps = 12);
    // Turns the wheel at `at` by `notches`, downward when positive.
    void scroll(QPoint at, int notches);
    QPoint position() const;

private:
    void waitUntilLetThrough();

    _XDisplay *m_display = nullptr;
    int m_pressed = 0;
};
