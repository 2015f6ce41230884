#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <optional>
#include <variant>

// Why a recorded key cannot become the capture shortcut.
enum class CaptureShortcutError {
    modifierOnly, // only modifier keys were pressed: keep listening, say nothing
    missingModifier,
    reservedSystemShortcut,
};

namespace CaptureShortcutErrors {

// The refusal shown under the recorder; none for modifierOnly.
std::optional<QString> message(CaptureShortcutError error);

} // namespace CaptureShortcutErrors

// The global capture shortcut as stored: a virtual key code, modifier bits (see KeyTable) and the
// key's text. Stored as JSON with the keys "keyCode", "carbonModifiers" and "characters".
struct CaptureShortcut
{
    quint32 keyCode = 0;
    quint32 carbonModifiers = 0;
    QString characters;

    bool operator==(const CaptureShortcut &) const = default;

    // Alt+Shift+C.
    static CaptureShortcut defaultShortcut();

    // As Linux desktops show shortcuts: "Ctrl", "Alt", "Shift", "Super" (in that order), then the key (its
    // characters upper-cased, or its name), joined by "+": "Alt+Shift+C".
    QString displaySymbols() const;
    // The same, spoken: modifier words, then the key, joined by single spaces.
    QString accessibilityLabel() const;

    // Virtual key codes of the modifier keys themselves.
    static const QSet<quint32> &modifierKeyCodes();

    // Validates a recorded key. Only the Super, Shift, Alt and Control bits are kept.
    static std::variant<CaptureShortcut, CaptureShortcutError> fromCarbonModifiers(
        quint32 keyCode, quint32 carbonModifiers, const QString &characters);

    QJsonObject toJson() const;
    QByteArray toJsonData() const;
    // None when a key is missing, of the wrong type or out of range. The shortcut is not validated
    // again: what was stored is what the user accepted.
    static std::optional<CaptureShortcut> fromJson(const QJsonObject &object);
    static std::optional<CaptureShortcut> fromJsonData(const QByteArray &data);
};

// The outcome of registering the global shortcut with the desktop.
enum class HotKeyRegistrationState {
    registered,
    conflict,
    unavailable,
};

namespace HotKeyRegistrationStates {

QString title(HotKeyRegistrationState state, const CaptureShortcut &shortcut);
// The text shown under the shortcut.
QString explanation(HotKeyRegistrationState state, const CaptureShortcut &shortcut);

} // namespace HotKeyRegistrationStates
