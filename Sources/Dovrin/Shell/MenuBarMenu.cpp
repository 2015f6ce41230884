#include "Shell/MenuBarMenu.h"

#include "Shell/MenuContent.h"
#include "Vemi/VemiDesign.h"

#include <QEvent>

MenuBarMenu::MenuBarMenu(MenuContent &content, QWidget *parent)
    : QMenu(parent)
    , m_content(content)
{
    setObjectName(QStringLiteral("menu-bar-menu"));
    sync();
    connect(&content, &MenuContent::changed, this, &MenuBarMenu::sync);
    connect(this, &QMenu::aboutToShow, this, [this] {
        sync();
        m_content.presentRequestedWindow();
    });
    connect(&content, &MenuContent::requestedWindowChanged, this, [this] {
        if (isVisible())
            m_content.presentRequestedWindow();
    });
}

void MenuBarMenu::sync()
{
    const MenuEntries entries = m_content.entries();
    QStringList layout;
    for (const MenuEntry &entry : entries)
        layout << entry.id;
    if (layout != m_layout) {
        clear();
        m_actions.clear();
        m_layout = layout;
        for (const MenuEntry &entry : entries) {
            QAction *action
                = entry.kind == MenuEntry::Kind::separator ? addSeparator() : addAction(QString());
            action->setObjectName(entry.id);
            m_actions.insert(entry.id, action);
            const QString id = entry.id;
            connect(action, &QAction::triggered, this, [this, id] {
                // The lines may be rebuilt by what the command does: keep the handler alive meanwhile.
                if (const std::function<void()> handler = m_handlers.value(id))
                    handler();
            });
        }
    }
    const QColor ink = palette().color(QPalette::Active, QPalette::Text);
    m_handlers.clear();
    for (const MenuEntry &entry : entries) {
        if (entry.kind == MenuEntry::Kind::separator)
            continue;
        QAction *action = m_actions.value(entry.id);
        // Names in the status line (folders, applications) may hold "&", which a menu reads as a mnemonic.
        QString text = QString(entry.title).replace(QLatin1Char('&'), QLatin1String("&&"));
        // After a tab the menu shows our own rendering of the shortcut instead of the key sequence's.
        if (!entry.shortcutLabel.isEmpty())
            text += QLatin1Char('\t') + entry.shortcutLabel;
        action->setText(text);
        action->setEnabled(entry.kind == MenuEntry::Kind::command && entry.enabled);
        action->setShortcut(entry.shortcut);
        action->setIcon(entry.symbol.isEmpty() ? QIcon() : VemiSymbols::icon(entry.symbol, ink));
        if (entry.action)
            m_handlers.insert(entry.id, entry.action);
    }
}

void MenuBarMenu::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        sync();
    QMenu::changeEvent(event);
}
