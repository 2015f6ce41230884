#include "Rules/CaptureShortcut.h"

#include "Rules/KeyTable.h"

#include <QJsonDocument>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace CaptureShortcutErrors {

std::optional<QString> message(CaptureShortcutError error)
{
    switch (error) {
    case CaptureShortcutError::modifierOnly:
        return std::nullopt;
    case CaptureShortcutError::missingModifier:
        return QStringLiteral("Add Super, Alt or Ctrl — Shift alone is not enough.");
    case CaptureShortcutError::reservedSystemShortcut:
        return QStringLiteral("That shortcut is reserved by the desktop. Choose another.");
    }
    return std::nullopt;
}

} // namespace CaptureShortcutErrors

using namespace KeyTable;

namespace {

constexpr quint32 keyQ = 0x0C, keyT = 0x11, keyL = 0x25, keyTab = 0x30, keySpace = 0x31, keyBackspace = 0x33,
                  keyDelete = 0x75;
constexpr std::array<quint32, 12> functionKeys { 0x7A, 0x78, 0x63, 0x76, 0x60, 0x61, 0x62, 0x64, 0x65, 0x6D,
    0x67, 0x6F };

struct Combination
{
    quint32 modifiers;
    quint32 keyCode;
};

// Combinations the desktop or the X server keep for themselves (quit, window switching, the
// launcher, closing windows, the terminal, the lock screen, leaving the session, switching consoles).
bool isReserved(quint32 modifiers, quint32 keyCode)
{
    constexpr quint32 ctrlAlt = controlBit | optionBit;
    constexpr std::array<Combination, 9> combinations { {
        { commandBit, keyQ },
        { commandBit, keyTab },
        { commandBit, keySpace },
        { optionBit, keyTab },
        { optionBit, functionKeys[3] },
        { ctrlAlt, keyDelete },
        { ctrlAlt, keyBackspace },
        { ctrlAlt, keyT },
        { commandBit, keyL },
    } };
    for (const Combination &c : combinations) {
        if (c.modifiers == modifiers && c.keyCode == keyCode)
            return true;
    }
    if (modifiers == ctrlAlt) {
        for (quint32 f : functionKeys) {
            if (f == keyCode)
                return true;
        }
    }
    return false;
}

QString keySymbol(const CaptureShortcut &shortcut)
{
    const QString text = shortcut.characters.trimmed().toUpper();
    const bool printable
        = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
    if (printable)
        return text;
    if (const auto name = KeyTable::name(shortcut.keyCode))
        return *name;
    return QStringLiteral("Key %1").arg(shortcut.keyCode);
}

std::optional<quint32> uint32Value(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d < 0 || d > double(std::numeric_limits<quint32>::max()) || std::floor(d) != d)
        return std::nullopt;
    return quint32(d);
}

} // namespace

CaptureShortcut CaptureShortcut::defaultShortcut()
{
    return CaptureShortcut { 8, optionBit | shiftBit, QStringLiteral("c") };
}

QString CaptureShortcut::displaySymbols() const
{
    QStringList parts;
    if (carbonModifiers & controlBit)
        parts << QStringLiteral("Ctrl");
    if (carbonModifiers & optionBit)
        parts << QStringLiteral("Alt");
    if (carbonModifiers & shiftBit)
        parts << QStringLiteral("Shift");
    if (carbonModifiers & commandBit)
        parts << QStringLiteral("Super");
    parts << keySymbol(*this);
    return parts.join(QLatin1Char('+'));
}

QString CaptureShortcut::accessibilityLabel() const
{
    QStringList words;
    if (carbonModifiers & controlBit)
        words << QStringLiteral("Control");
    if (carbonModifiers & optionBit)
        words << QStringLiteral("Alt");
    if (carbonModifiers & shiftBit)
        words << QStringLiteral("Shift");
    if (carbonModifiers & commandBit)
        words << QStringLiteral("Super");
    words << keySymbol(*this);
    return words.join(QLatin1Char(' '));
}

const QSet<quint32> &CaptureShortcut::modifierKeyCodes()
{
    static const QSet<quint32> codes { 54, 55, 56, 60, 57, 58, 61, 59, 62, 63 };
    return codes;
}

std::variant<CaptureShortcut, CaptureShortcutError> CaptureShortcut::fromCarbonModifiers(
    quint32 keyCode, quint32 carbonModifiers, const QString &characters)
{
    if (modifierKeyCodes().contains(keyCode))
        return CaptureShortcutError::modifierOnly;
    const quint32 modifiers = carbonModifiers & modifierBits;
    if ((modifiers & (commandBit | optionBit | controlBit)) == 0)
        return CaptureShortcutError::missingModifier;
    if (isReserved(modifiers, keyCode))
        return CaptureShortcutError::reservedSystemShortcut;
    return CaptureShortcut { keyCode, modifiers, characters };
}

QJsonObject CaptureShortcut::toJson() const
{
    return QJsonObject {
        { "keyCode", double(keyCode) },
        { "carbonModifiers", double(carbonModifiers) },
        { "characters", characters },
    };
}

QByteArray CaptureShortcut::toJsonData() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<CaptureShortcut> CaptureShortcut::fromJson(const QJsonObject &object)
{
    const auto keyCode = uint32Value(object.value("keyCode"));
    const auto modifiers = uint32Value(object.value("carbonModifiers"));
    const QJsonValue characters = object.value("characters");
    if (!keyCode || !modifiers || !characters.isString())
        return std::nullopt;
    return CaptureShortcut { *keyCode, *modifiers, characters.toString() };
}

std::optional<CaptureShortcut> CaptureShortcut::fromJsonData(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJson(document.object());
}

namespace HotKeyRegistrationStates {

QString title(HotKeyRegistrationState state, const CaptureShortcut &shortcut)
{
    switch (state) {
    case HotKeyRegistrationState::registered:
        return QStringLiteral("Your capture shortcut is ") + shortcut.displaySymbols();
    case HotKeyRegistrationState::conflict:
        return shortcut.displaySymbols() + QStringLiteral(" is already in use");
    case HotKeyRegistrationState::unavailable:
        return QStringLiteral("Capture from the tray");
    }
    return QString();
}

QString explanation(HotKeyRegistrationState state, const CaptureShortcut &shortcut)
{
    switch (state) {
    case HotKeyRegistrationState::registered:
        return QStringLiteral("Capture Region also remains available in the tray. The shortcut needs no "
                              "extra permission.");
    case HotKeyRegistrationState::conflict:
        return QStringLiteral("Another app already owns ") + shortcut.displaySymbols()
            + QStringLiteral(". Choose a different shortcut, or use Capture Region in the tray. The conflict "
                             "never blocks setup.");
    case HotKeyRegistrationState::unavailable:
        return QStringLiteral("The desktop could not register ") + shortcut.displaySymbols()
            + QStringLiteral(". Capture Region remains available in the tray, and the shortcut failure "
                             "never blocks setup.");
    }
    return QString();
}

} // namespace HotKeyRegistrationStates
