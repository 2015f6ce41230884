#pragma once

#include <QList>

struct _XDisplay;

// Key presses as if typed, through XTest on a connection of its own to $DISPLAY.
// Whatever it leaves pressed or locked is released and unlocked again when it goes away.
class SyntheticKeyboard
{
public:
    SyntheticKeyboard();
    ~SyntheticKeyboard();
    SyntheticKeyboard(const SyntheticKeyboard &) = delete;
    SyntheticKeyboard &operator=(const SyntheticKeyboard &) = delete;

    bool isOpen() const { return m_display != nullptr; }

    // Presses the modifiers, taps the key, releases the modifiers; all are keysyms. Waits until the
    // server has handled it.
    void chord(const QList<unsigned long> &modifiers, unsigned long key);
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
