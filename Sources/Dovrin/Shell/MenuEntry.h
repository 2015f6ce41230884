#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

#include <functional>

// One line of the tray menu, as both the menu and the window that stands in for it draw it.
struct MenuEntry
{
    enum class Kind {
        heading, // the first section's status line
        command, // something to choose
        note, // plain text in the secondary style: sources, meter, warnings
        separator,
    };

    Kind kind = Kind::command;
    // Stable name of the line ("capture", "audio", "sources", ...), for views that keep their items.
    QString id;
    QString title;
    // A symbol of the design system; empty for text only.
    QString symbol;
    bool enabled = true;
    QKeySequence shortcut;
    std::function<void()> action;
    // How the shortcut is shown when the key sequence would show it otherwise (the global shortcut,
    // whose Super key a key sequence calls "Meta"); empty: as the key sequence reads.
    QString shortcutLabel;

    QString shownShortcut() const
    {
        return shortcutLabel.isEmpty() ? shortcut.toString(QKeySequence::NativeText) : shortcutLabel;
    }

    static MenuEntry separatorLine() { return { Kind::separator, {}, {}, {}, false, {}, {}, {} }; }
};

using MenuEntries = QList<MenuEntry>;
