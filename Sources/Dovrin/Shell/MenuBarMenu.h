#pragma once

#include <QHash>
#include <QMenu>

#include <functional>

class MenuContent;

// The tray icon's menu. It follows the menu content as it changes, in place while its lines stay the same
// (the time in "Stop Recording (…)" ticks while the menu is open) and rebuilt when they do not. While it is
// shown it also runs the menu's window-request routine.
class MenuBarMenu : public QMenu
{
    Q_OBJECT

public:
    explicit MenuBarMenu(MenuContent &content, QWidget *parent = nullptr);

    QAction *action(const QString &id) const { return m_actions.value(id); }
    void sync();

protected:
    void changeEvent(QEvent *event) override;

private:
    MenuContent &m_content;
    QStringList m_layout;
    QHash<QString, QAction *> m_actions;
    QHash<QString, std::function<void()>> m_handlers;
};
