#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct _XDisplay;

// Key presses as if typed, through XTest on a connection of its own to $DISPLAY (or the display
// named). Whatever it leaves pressed or locked is released and unlocked again when it goes away.
class SyntheticKeyboard
{
public:
    explicit SyntheticKeyboard(const QByteArray &displayName = {});
    ~SyntheticKeyboard();
    SyntheticKeyboard(const SyntheticKeyboard &) = delete;
    SyntheticKeyboard &operator=(const SyntheticKeyboard &) = delete;

    bool isOpen() const { return m_display != nullptr; }

    // Presses the modifiers, taps the key, releases the modifiers; all are keysyms. Waits until the
    // server has handled it.
    void chord(const QList<unsigned long> &modifiers, unsigned long key);
    // Presses the keys in order and leaves them down, or releases them in reverse order; waits
    // until the server has handled it.
    void press(const QList<unsigned long> &keys);
    void release(const QList<unsigned long> &keys);
    // Types the text key by key, with Shift where the keyboard needs it; a newline is Return. False
    // when a character has no key on this keyboard (nothing after it is typed).
    bool type(const QString &text);
    void setCapsLock(bool on);
    void setNumLock(bool on);
    bool capsLock() const;
    bool numLock() const;

private:
    unsigned int modifierState() const;
    unsigned int numLockMask() const;
    void tap(unsigned long keysym);
    void key(unsigned long keysym, bool press, unsigned long delayMs = 0);

    _XDisplay *m_display = nullptr;
    bool m_capsWasOn = false;
    bool m_numWasOn = false;
};
