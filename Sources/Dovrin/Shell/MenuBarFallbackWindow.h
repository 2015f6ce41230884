#pragma once

#include "Rules/MenuBarStatusPresentation.h"

#include <QHash>
#include <QWidget>

#include <functional>

class MenuBarRecordingStatus;
class MenuContent;
class QLabel;
class QVBoxLayout;

// Where the desktop has no tray (plain GNOME, a bare window manager) the program would have no door at all:
// this small window stands in for the tray, with the tray label, the menu's status line and every command of
// the menu. Closing it leaves the program running; starting Quorvel again brings it back.
class MenuBarFallbackWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MenuBarFallbackWindow(MenuContent &content, QWidget *parent = nullptr);

    void setPresentation(const MenuBarStatusPresentation &presentation);
    // The button of a command line, for the views' tests.
    QWidget *line(const QString &id) const { return m_lines.value(id); }
    void sync();

protected:
    void changeEvent(QEvent *event) override;

private:
    MenuContent &m_content;
    MenuBarRecordingStatus *m_label;
    QLabel *m_heading;
    QWidget *m_body = nullptr;
    QVBoxLayout *m_layout;
    QStringList m_order;
    QHash<QString, QWidget *> m_lines;
    QHash<QString, QLabel *> m_shortcuts;
    QHash<QString, std::function<void()>> m_handlers;
};
