#pragma once

#include "Rules/CaptureShortcut.h"
#include "Shell/MenuEntry.h"
#include "Shell/ModelCommands.h"

#include <QObject>

#include <optional>

class AppModel;

// The tray menu: the user's main door into the program. It decides nothing: each command calls one operation
// of the model, and titles, status lines and enable rules are read from the model and its audio coordinator.
// changed() tells the views to redraw, at most once per turn of the event loop.
class MenuContent : public QObject
{
    Q_OBJECT

public:
    // What the menu does outside the model.
    struct Environment
    {
        // Closes the menu.
        std::function<void()> dismiss;
        // Opens the window with that id.
        std::function<void(const QString &id)> openWindow;
        std::function<void()> openSettings;
        // Brings the program's windows forward.
        std::function<void()> reveal;
        // Asks the program to quit (the quit path decides).
        std::function<void()> quit;
    };

    // `commands` must outlive the menu content.
    MenuContent(
        AppModel &model, const ModelCommands &commands, Environment environment, QObject *parent = nullptr);

    MenuEntries entries() const;

    // The menu's own window-request routine: opens every request except the settings window, which it leaves
    // for the tray label's routine.
    void presentRequestedWindow();

    // The capture command's keyboard shortcut: the global shortcut's single character with its modifiers,
    // while it is registered; none otherwise.
    static std::optional<QKeySequence> captureKeySequence(
        HotKeyRegistrationState registration, const CaptureShortcut &shortcut);

signals:
    void changed();
    // The model asks for another window (or none).
    void requestedWindowChanged();

private:
    void scheduleChanged();
    MenuEntry command(const QString &id, const QString &title, const QString &symbol, bool enabled,
        std::function<void()> action) const;
    void appendCaptureCommand(MenuEntries &entries, bool enabled) const;

    AppModel &m_model;
    const ModelCommands &m_commands;
    Environment m_environment;
    bool m_changePending = false;
};
