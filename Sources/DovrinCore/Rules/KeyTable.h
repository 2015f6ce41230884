#pragma once

#include <QString>
#include <Qt>

#include <optional>
#include <span>

// The one table between the stored shortcut format (virtual key codes and modifier bits, kept as
// they are in saved settings) and what the desktop speaks: key names, Qt keys and X keysyms. Keysyms
// are plain numbers here so that the core library needs no X11 headers.
namespace KeyTable {

// Modifier bits of a stored shortcut. Command means the Super key for the global shortcut.
inline constexpr quint32 commandBit = 0x100;
inline constexpr quint32 shiftBit = 0x200;
inline constexpr quint32 optionBit = 0x800;
inline constexpr quint32 controlBit = 0x1000;
inline constexpr quint32 modifierBits = commandBit | shiftBit | optionBit | controlBit;

struct Key
{
    quint32 keyCode;
    // Null for letters, digits, symbols and function keys, whose name and text follow from the key;
    // read both through name() and characters().
    const char *name;
    const char *characters;
    int qtKey; // Qt::Key
    bool keypad; // Qt reports it with Qt::KeypadModifier
    quint32 keysym; // X keysym; 0 when X has none for it
};

std::span<const Key> all();
const Key *find(quint32 keyCode);

// Shown when a shortcut carries no characters.
std::optional<QString> name(quint32 keyCode);
// The key's unshifted text on a US layout; empty for keys without text (and keypad keys, which are
// shown by name).
QString characters(quint32 keyCode);
std::optional<int> qtKey(quint32 keyCode);
std::optional<quint32> keysym(quint32 keyCode);

// The key a Qt key event stands for. Shifted symbols of a US layout ("!" on the 1 key) and Backtab
// give their base key, so Ctrl+Shift+1 records the 1 key.
std::optional<quint32> keyCodeForQtKey(int qtKey, Qt::KeyboardModifiers modifiers = {});
// The key an X keysym stands for; upper-case letters and shifted US symbols give their base key.
std::optional<quint32> keyCodeForKeysym(quint32 keysym);

// Ctrl, Alt, Shift and Super (Qt's Meta on Linux); other modifiers are dropped.
quint32 carbonModifiers(Qt::KeyboardModifiers modifiers);
Qt::KeyboardModifiers qtModifiers(quint32 carbonModifiers);

// X modifier mask for a grab, with the usual server mapping: Shift, Control, Mod1 (Alt), Mod4 (Super).
quint32 xModifierMask(quint32 carbonModifiers);

} // namespace KeyTable
