#pragma once

#include "Model/ModelServices.h"
#include "Rules/CaptureShortcut.h"

#include <QObject>

#include <optional>

class DefaultsStore;
class QKeyEvent;

// The global capture shortcut: stored under "capture-shortcut-v1", registered as the hot key, and
// explained under the recorder. A stored shortcut is checked as the recorder checks a new one, so a
// hand-edited settings file cannot make Quorvel take a bare letter or Alt+Tab from every application.
class ShortcutFlow : public QObject
{
    Q_OBJECT

public:
    static inline const QString storageKey = QStringLiteral("capture-shortcut-v1");

    struct Loaded
    {
        CaptureShortcut shortcut;
        // The stored shortcut that was refused, when the default stands in for it.
        std::optional<CaptureShortcut> refused;
    };

    // Registers the stored shortcut (or the default) with the hot key that `registerHotKey` made;
    // without one the shortcut is unavailable.
    ShortcutFlow(
        DefaultsStore &defaults, ModelServices::RegisterHotKey registerHotKey, QObject *parent = nullptr);

    // Absent or undecodable: the default. Decodable but refused by the recorder's rules (no Ctrl, Alt
    // or Super; reserved by the desktop; a key that cannot be grabbed): the default, naming the
    // refused one.
    static Loaded loadShortcut(const DefaultsStore &defaults);
    static void saveShortcut(const CaptureShortcut &shortcut, DefaultsStore &defaults);

    const CaptureShortcut &currentShortcut() const { return m_current; }
    HotKeyRegistrationState registration() const { return m_registration; }
    const QString &message() const { return m_message; }

    // Makes `shortcut` current, stores it (even when registering fails) and registers it.
    void applyShortcut(const CaptureShortcut &shortcut);
    // A key press in the shortcut recorder: none when it was applied or when only modifiers (or a
    // key Quorvel cannot name) were pressed; otherwise why it was refused, and nothing changes.
    std::optional<QString> applyShortcut(const QKeyEvent &event);
    // The hot key registered (or failed) later on its own, as when another program let the shortcut go.
    void noteRegistration(HotKeyRegistrationState state);

signals:
    void currentShortcutChanged();
    void registrationChanged();
    void messageChanged();
    // The shortcut was written to the settings suite (which may have refused it).
    void stored();

private:
    DefaultsStore &m_defaults;
    ModelServices::RegisterHotKey m_register;
    CaptureShortcut m_current = CaptureShortcut::defaultShortcut();
    HotKeyRegistrationState m_registration = HotKeyRegistrationState::unavailable;
    QString m_message;
};
