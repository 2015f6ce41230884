#include "Rules/KeyTable.h"

#include <array>

namespace KeyTable {

namespace {

// X keysyms used below (their values are fixed by the X protocol).
constexpr quint32 xkReturn = 0xff0d, xkTab = 0xff09, xkBackSpace = 0xff08, xkEscape = 0xff1b,
                  xkDelete = 0xffff, xkHome = 0xff50, xkLeft = 0xff51, xkUp = 0xff52, xkRight = 0xff53,
                  xkDown = 0xff54, xkPageUp = 0xff55, xkPageDown = 0xff56, xkEnd = 0xff57, xkInsert = 0xff63,
                  xkF1 = 0xffbe, xkKpEnter = 0xff8d, xkKpMultiply = 0xffaa, xkKpAdd = 0xffab,
                  xkKpSubtract = 0xffad, xkKpDecimal = 0xffae, xkKpDivide = 0xffaf, xkKp0 = 0xffb0,
                  xkKpEqual = 0xffbd, xkShiftL = 0xffe1, xkShiftR = 0xffe2, xkControlL = 0xffe3,
                  xkControlR = 0xffe4, xkCapsLock = 0xffe5, xkAltL = 0xffe9, xkAltR = 0xffea,
                  xkSuperL = 0xffeb, xkSuperR = 0xffec, xkIsoLeftTab = 0xfe20;

constexpr Key letter(quint32 code, char upper)
{
    // Qt keys and keysyms of Latin letters and ASCII symbols are their character codes.
    return Key { code, nullptr, nullptr, upper, false, quint32(upper - 'A' + 'a') };
}

constexpr Key symbol(quint32 code, char c)
{
    return Key { code, nullptr, nullptr, c, false, quint32(c) };
}

constexpr Key fKey(quint32 code, int n)
{
    return Key { code, nullptr, "", Qt::Key_F1 + n - 1, false, xkF1 + quint32(n - 1) };
}

constexpr std::array<const char *, 10> kKeypadDigitNames { "Keypad 0", "Keypad 1", "Keypad 2", "Keypad 3",
    "Keypad 4", "Keypad 5", "Keypad 6", "Keypad 7", "Keypad 8", "Keypad 9" };

constexpr Key keypadDigit(quint32 code, int n)
{
    return Key { code, kKeypadDigitNames[size_t(n)], "", Qt::Key_0 + n, true, xkKp0 + quint32(n) };
}

constexpr std::array kKeys {
    letter(0x00, 'A'),
    letter(0x01, 'S'),
    letter(0x02, 'D'),
    letter(0x03, 'F'),
    letter(0x04, 'H'),
    letter(0x05, 'G'),
    letter(0x06, 'Z'),
    letter(0x07, 'X'),
    letter(0x08, 'C'),
    letter(0x09, 'V'),
    letter(0x0B, 'B'),
    letter(0x0C, 'Q'),
    letter(0x0D, 'W'),
    letter(0x0E, 'E'),
    letter(0x0F, 'R'),
    letter(0x10, 'Y'),
    letter(0x11, 'T'),
    symbol(0x12, '1'),
    symbol(0x13, '2'),
    symbol(0x14, '3'),
    symbol(0x15, '4'),
    symbol(0x16, '6'),
    symbol(0x17, '5'),
    symbol(0x18, '='),
    symbol(0x19, '9'),
    symbol(0x1A, '7'),
    symbol(0x1B, '-'),
    symbol(0x1C, '8'),
    symbol(0x1D, '0'),
    symbol(0x1E, ']'),
    letter(0x1F, 'O'),
    letter(0x20, 'U'),
    symbol(0x21, '['),
    letter(0x22, 'I'),
    letter(0x23, 'P'),
    Key { 0x24, "Return", "", Qt::Key_Return, false, xkReturn },
    letter(0x25, 'L'),
    letter(0x26, 'J'),
    symbol(0x27, '\''),
    letter(0x28, 'K'),
    symbol(0x29, ';'),
    symbol(0x2A, '\\'),
    symbol(0x2B, ','),
    symbol(0x2C, '/'),
    letter(0x2D, 'N'),
    letter(0x2E, 'M'),
    symbol(0x2F, '.'),
    Key { 0x30, "Tab", "", Qt::Key_Tab, false, xkTab },
    Key { 0x31, "Space", " ", Qt::Key_Space, false, 0x20 },
    symbol(0x32, '`'),
    Key { 0x33, "Backspace", "", Qt::Key_Backspace, false, xkBackSpace },
    Key { 0x35, "Esc", "", Qt::Key_Escape, false, xkEscape },
    Key { 0x36, "Right Super", "", Qt::Key_Super_R, false, xkSuperR },
    Key { 0x37, "Super", "", Qt::Key_Super_L, false, xkSuperL },
    Key { 0x38, "Shift", "", Qt::Key_Shift, false, xkShiftL },
    Key { 0x39, "Caps Lock", "", Qt::Key_CapsLock, false, xkCapsLock },
    Key { 0x3A, "Alt", "", Qt::Key_Alt, false, xkAltL },
    Key { 0x3B, "Control", "", Qt::Key_Control, false, xkControlL },
    Key { 0x3C, "Right Shift", "", Qt::Key_Shift, false, xkShiftR },
    Key { 0x3D, "Right Alt", "", Qt::Key_AltGr, false, xkAltR },
    Key { 0x3E, "Right Control", "", Qt::Key_Control, false, xkControlR },
    Key { 0x3F, "Fn", "", Qt::Key_unknown, false, 0 },
    fKey(0x40, 17),
    Key { 0x41, "Keypad .", "", Qt::Key_Period, true, xkKpDecimal },
    Key { 0x43, "Keypad *", "", Qt::Key_Asterisk, true, xkKpMultiply },
    Key { 0x45, "Keypad +", "", Qt::Key_Plus, true, xkKpAdd },
    Key { 0x4B, "Keypad /", "", Qt::Key_Slash, true, xkKpDivide },
    Key { 0x4C, "Keypad Enter", "", Qt::Key_Enter, true, xkKpEnter },
    Key { 0x4E, "Keypad -", "", Qt::Key_Minus, true, xkKpSubtract },
    fKey(0x4F, 18),
    fKey(0x50, 19),
    Key { 0x51, "Keypad =", "", Qt::Key_Equal, true, xkKpEqual },
    keypadDigit(0x52, 0),
    keypadDigit(0x53, 1),
    keypadDigit(0x54, 2),
    keypadDigit(0x55, 3),
    keypadDigit(0x56, 4),
    keypadDigit(0x57, 5),
    keypadDigit(0x58, 6),
    keypadDigit(0x59, 7),
    fKey(0x5A, 20),
    keypadDigit(0x5B, 8),
    keypadDigit(0x5C, 9),
    fKey(0x60, 5),
    fKey(0x61, 6),
    fKey(0x62, 7),
    fKey(0x63, 3),
    fKey(0x64, 8),
    fKey(0x65, 9),
    fKey(0x67, 11),
    fKey(0x69, 13),
    fKey(0x6A, 16),
    fKey(0x6B, 14),
    fKey(0x6D, 10),
    fKey(0x6F, 12),
    fKey(0x71, 15),
    // The key in the Help position is Insert on PC keyboards.
    Key { 0x72, "Insert", "", Qt::Key_Insert, false, xkInsert },
    Key { 0x73, "Home", "", Qt::Key_Home, false, xkHome },
    Key { 0x74, "Page Up", "", Qt::Key_PageUp, false, xkPageUp },
    Key { 0x75, "Delete", "", Qt::Key_Delete, false, xkDelete },
    fKey(0x76, 4),
    Key { 0x77, "End", "", Qt::Key_End, false, xkEnd },
    fKey(0x78, 2),
    Key { 0x79, "Page Down", "", Qt::Key_PageDown, false, xkPageDown },
    fKey(0x7A, 1),
    Key { 0x7B, "Left Arrow", "", Qt::Key_Left, false, xkLeft },
    Key { 0x7C, "Right Arrow", "", Qt::Key_Right, false, xkRight },
    Key { 0x7D, "Down Arrow", "", Qt::Key_Down, false, xkDown },
    Key { 0x7E, "Up Arrow", "", Qt::Key_Up, false, xkUp },
};

// Shifted symbols of a US layout and the base key they sit on.
constexpr std::array<std::pair<char, char>, 21> kShifted { {
    { '!', '1' },
    { '@', '2' },
    { '#', '3' },
    { '$', '4' },
    { '%', '5' },
    { '^', '6' },
    { '&', '7' },
    { '*', '8' },
    { '(', '9' },
    { ')', '0' },
    { '_', '-' },
    { '+', '=' },
    { '{', '[' },
    { '}', ']' },
    { '|', '\\' },
    { ':', ';' },
    { '"', '\'' },
    { '<', ',' },
    { '>', '.' },
    { '?', '/' },
    { '~', '`' },
} };

QString nameOf(const Key &key)
{
    if (key.name)
        return QString::fromUtf8(key.name);
    if (key.qtKey >= Qt::Key_F1 && key.qtKey <= Qt::Key_F35)
        return QStringLiteral("F%1").arg(key.qtKey - Qt::Key_F1 + 1);
    return QString(QChar(key.qtKey)); // letters and symbols: their upper-case character
}

QString charactersOf(const Key &key)
{
    if (key.characters)
        return QString::fromUtf8(key.characters);
    return QString(QChar(key.qtKey)).toLower();
}

std::optional<quint32> baseOfShifted(quint32 code)
{
    for (const auto &[shifted, base] : kShifted) {
        if (code == quint32(shifted))
            return quint32(base);
    }
    return std::nullopt;
}

} // namespace

std::span<const Key> all()
{
    return kKeys;
}

const Key *find(quint32 keyCode)
{
    for (const Key &key : kKeys) {
        if (key.keyCode == keyCode)
            return &key;
    }
    return nullptr;
}

std::optional<QString> name(quint32 keyCode)
{
    if (const Key *key = find(keyCode))
        return nameOf(*key);
    return std::nullopt;
}

QString characters(quint32 keyCode)
{
    if (const Key *key = find(keyCode))
        return charactersOf(*key);
    return QString();
}

std::optional<int> qtKey(quint32 keyCode)
{
    const Key *key = find(keyCode);
    if (!key || key->qtKey == Qt::Key_unknown)
        return std::nullopt;
    return key->qtKey;
}

std::optional<quint32> keysym(quint32 keyCode)
{
    const Key *key = find(keyCode);
    if (!key || key->keysym == 0)
        return std::nullopt;
    return key->keysym;
}

std::optional<quint32> keyCodeForQtKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (qtKey == Qt::Key_unknown || qtKey == 0)
        return std::nullopt;
    if (qtKey == Qt::Key_Backtab)
        qtKey = Qt::Key_Tab;
    if (qtKey == Qt::Key_Meta)
        qtKey = Qt::Key_Super_L;
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    // Keypad keys without a key of their own here (keypad Home with Num Lock off) fall back to the
    // main key.
    for (const Key &key : kKeys) {
        if (key.qtKey == qtKey && key.keypad == keypad)
            return key.keyCode;
    }
    for (const Key &key : kKeys) {
        if (key.qtKey == qtKey)
            return key.keyCode;
    }
    if (const auto base = baseOfShifted(quint32(qtKey)))
        return keyCodeForQtKey(int(*base));
    return std::nullopt;
}

std::optional<quint32> keyCodeForKeysym(quint32 sym)
{
    if (sym == 0)
        return std::nullopt;
    if (sym == xkIsoLeftTab)
        sym = xkTab;
    if (sym >= 'A' && sym <= 'Z')
        sym = sym - 'A' + 'a';
    for (const Key &key : kKeys) {
        if (key.keysym == sym)
            return key.keyCode;
    }
    if (const auto base = baseOfShifted(sym))
        return keyCodeForKeysym(*base);
    return std::nullopt;
}

quint32 carbonModifiers(Qt::KeyboardModifiers modifiers)
{
    quint32 bits = 0;
    if (modifiers.testFlag(Qt::MetaModifier))
        bits |= commandBit;
    if (modifiers.testFlag(Qt::ShiftModifier))
        bits |= shiftBit;
    if (modifiers.testFlag(Qt::AltModifier))
        bits |= optionBit;
    if (modifiers.testFlag(Qt::ControlModifier))
        bits |= controlBit;
    return bits;
}

Qt::KeyboardModifiers qtModifiers(quint32 carbon)
{
    Qt::KeyboardModifiers modifiers;
    if (carbon & commandBit)
        modifiers |= Qt::MetaModifier;
    if (carbon & shiftBit)
        modifiers |= Qt::ShiftModifier;
    if (carbon & optionBit)
        modifiers |= Qt::AltModifier;
    if (carbon & controlBit)
        modifiers |= Qt::ControlModifier;
    return modifiers;
}

quint32 xModifierMask(quint32 carbon)
{
    constexpr quint32 shiftMask = 1u << 0, controlMask = 1u << 2, mod1Mask = 1u << 3, mod4Mask = 1u << 6;
    quint32 mask = 0;
    if (carbon & shiftBit)
        mask |= shiftMask;
    if (carbon & controlBit)
        mask |= controlMask;
    if (carbon & optionBit)
        mask |= mod1Mask;
    if (carbon & commandBit)
        mask |= mod4Mask;
    return mask;
}

} // namespace KeyTable
