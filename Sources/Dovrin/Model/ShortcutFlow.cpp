#include "Model/ShortcutFlow.h"

#include "Documents/DefaultsStore.h"
#include "Rules/KeyTable.h"

#include <QKeyEvent>

ShortcutFlow::ShortcutFlow(
    DefaultsStore &defaults, ModelServices::RegisterHotKey registerHotKey, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_register(std::move(registerHotKey))
{
    const Loaded loaded = loadShortcut(m_defaults);
    const HotKeyRegistrationState state
        = m_register ? m_register(loaded.shortcut) : HotKeyRegistrationState::unavailable;
    m_current = loaded.shortcut;
    m_registration = state;
    QString message = HotKeyRegistrationStates::explanation(state, loaded.shortcut);
    if (loaded.refused) {
        message = QStringLiteral("The saved shortcut %1 can't be used, so Quorvel uses %2 instead. ")
                      .arg(loaded.refused->displaySymbols(), loaded.shortcut.displaySymbols())
            + message;
    }
    m_message = message;
}

ShortcutFlow::Loaded ShortcutFlow::loadShortcut(const DefaultsStore &defaults)
{
    const CaptureShortcut fallback = CaptureShortcut::defaultShortcut();
    const std::optional<QByteArray> data = defaults.data(storageKey);
    const std::optional<CaptureShortcut> stored = data ? CaptureShortcut::fromJsonData(*data) : std::nullopt;
    if (!stored)
        return { fallback, std::nullopt };
    const auto checked
        = CaptureShortcut::fromCarbonModifiers(stored->keyCode, stored->carbonModifiers, stored->characters);
    const std::optional<quint32> keysym = KeyTable::keysym(stored->keyCode);
    if (!std::holds_alternative<CaptureShortcut>(checked) || !keysym || *keysym == 0)
        return { fallback, stored };
    return { std::get<CaptureShortcut>(checked), std::nullopt };
}

void ShortcutFlow::saveShortcut(const CaptureShortcut &shortcut, DefaultsStore &defaults)
{
    defaults.replaceUnreadable();
    defaults.setData(storageKey, shortcut.toJsonData());
}

void ShortcutFlow::applyShortcut(const CaptureShortcut &shortcut)
{
    if (m_current != shortcut) {
        m_current = shortcut;
        emit currentShortcutChanged();
    }
    saveShortcut(shortcut, m_defaults);
    emit stored();
    noteRegistration(m_register ? m_register(shortcut) : HotKeyRegistrationState::unavailable);
}

void ShortcutFlow::noteRegistration(HotKeyRegistrationState state)
{
    if (m_registration != state) {
        m_registration = state;
        emit registrationChanged();
    }
    const QString message = HotKeyRegistrationStates::explanation(state, m_current);
    if (m_message != message) {
        m_message = message;
        emit messageChanged();
    }
}

std::optional<QString> ShortcutFlow::applyShortcut(const QKeyEvent &event)
{
    const std::optional<quint32> keyCode = KeyTable::keyCodeForQtKey(event.key(), event.modifiers());
    if (!keyCode)
        return std::nullopt;
    const auto checked = CaptureShortcut::fromCarbonModifiers(
        *keyCode, KeyTable::carbonModifiers(event.modifiers()), KeyTable::characters(*keyCode));
    if (const auto *error = std::get_if<CaptureShortcutError>(&checked))
        return CaptureShortcutErrors::message(*error);
    applyShortcut(std::get<CaptureShortcut>(checked));
    return std::nullopt;
}
