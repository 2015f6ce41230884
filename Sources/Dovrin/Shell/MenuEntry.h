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

    static MenuEntry separatorLine() { return { Kind::separator, {}, {}, {}, false, {}, {} }; }
};

using MenuEntries = QList<MenuEntry>;
