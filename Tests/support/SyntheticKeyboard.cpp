#include "SyntheticKeyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

SyntheticKeyboard::SyntheticKeyboard(const QByteArray &displayName)
    : m_display(XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData()))
{
    if (m_display) {
        m_capsWasOn = capsLock();
        m_numWasOn = numLock();
    }
}

SyntheticKeyboard::~SyntheticKeyboard()
{
    if (!m_display)
        return;
    setCapsLock(m_capsWasOn);
    setNumLock(m_numWasOn);
    XCloseDisplay(m_display);
}

void SyntheticKeyboard::key(unsigned long keysym, bool press, unsigned long delayMs)
{
    const KeyCode code = XKeysymToKeycode(m_display, keysym);
    if (code == 0)
        return;
    XTestFakeKeyEvent(m_display, code, press ? True : False, delayMs);
}

void SyntheticKeyboard::tap(unsigned long keysym)
{
    key(keysym, true);
    key(keysym, false);
    XSync(m_display, False);
}

void SyntheticKeyboard::chord(const QList<unsigned long> &modifiers, unsigned long keysym)
{
    if (!m_display)
        return;
    for (unsigned long modifier : modifiers)
        key(modifier, true);
    // No hand presses a key in the millisecond it released one: a grab takes that for a repeat.
    key(keysym, true, 2);
    key(keysym, false);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        key(*it, false);
    XSync(m_display, False);
}

void SyntheticKeyboard::press(const QList<unsigned long> &keys)
{
    if (!m_display)
        return;
    // Apart by a millisecond or two, as by hand (see chord()).
    for (unsigned long keysym : keys)
        key(keysym, true, 2);
    XSync(m_display, False);
}

void SyntheticKeyboard::release(const QList<unsigned long> &keys)
{
    if (!m_display)
        return;
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        key(*it, false);
    XSync(m_display, False);
}

bool SyntheticKeyboard::type(const QString &text)
{
    if (!m_display)
        return false;
    for (const QChar c : text) {
        // Latin-1 characters are their own keysyms.
        const unsigned long keysym = c == u'\n' ? XK_Return : c.unicode() < 0x100 ? c.unicode() : NoSymbol;
        const KeyCode code = keysym == NoSymbol ? 0 : XKeysymToKeycode(m_display, keysym);
        if (code == 0)
            return false;
        const bool shifted = XkbKeycodeToKeysym(m_display, code, 0, 0) != keysym
            && XkbKeycodeToKeysym(m_display, code, 0, 1) == keysym;
        if (shifted)
            key(XK_Shift_L, true);
        key(keysym, true, 2);
        key(keysym, false);
        if (shifted)
            key(XK_Shift_L, false);
        XSync(m_display, False);
    }
    return true;
}

unsigned int SyntheticKeyboard::modifierState() const
{
    XkbStateRec state;
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) != Success)
        return 0;
    return state.locked_mods | state.mods;
}

unsigned int SyntheticKeyboard::numLockMask() const
{
    return XkbKeysymToModifiers(m_display, XK_Num_Lock);
}

bool SyntheticKeyboard::capsLock() const
{
    return m_display && (modifierState() & LockMask);
}

bool SyntheticKeyboard::numLock() const
{
    return m_display && (modifierState() & numLockMask());
}

void SyntheticKeyboard::setCapsLock(bool on)
{
    if (m_display && capsLock() != on)
        tap(XK_Caps_Lock);
}

void SyntheticKeyboard::setNumLock(bool on)
{
    if (m_display && numLock() != on)
        tap(XK_Num_Lock);
}
