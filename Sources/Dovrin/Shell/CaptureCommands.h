#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

#include "Shell/ModelCommands.h"

class AppModel;
class QAction;
class QMenu;
class QMenuBar;
class ReviewSession;
class StoredBoolean;

// The program's commands in a window's menu bar (the review window installs it): Save Markdown, Close and
// Quit; the editing commands and Copy Captured Text; the Capture menu; the inspector toggle; the feedback
// command. Like the tray menu it decides nothing: each command calls one model operation or flips the
// inspector setting, and titles and enable rules follow the model.
//
// Only Ctrl+S, Ctrl+W and Ctrl+Q are bound here, and the last two are the program's own: Ctrl+W closes
// whatever window is in front and Ctrl+Q quits from any window, each through one handler.
class CaptureCommands : public QObject
{
    Q_OBJECT

public:
    // Fills `menuBar` and keeps it current for as long as it exists. `commands` must outlive the menu bar.
    CaptureCommands(
        AppModel &model, const ModelCommands &commands, StoredBoolean &showInspector, QMenuBar *menuBar);

    // "save", "close", "quit", "cut", "copy", "paste", "select-all", "copy-text", "capture", "scrolling",
    // "cancel", "audio", "ocr", "delete-draft", "inspector", "feedback".
    QAction *action(const QString &id) const { return m_actions.value(id); }
    // Titles and enable rules from the model as it is now.
    void refresh();

private:
    QAction *add(QMenu *menu, const QString &id, const QString &title);
    void followReview();

    AppModel &m_model;
    const ModelCommands &m_commands;
    StoredBoolean &m_showInspector;
    QHash<QString, QAction *> m_actions;
    QPointer<ReviewSession> m_followed;
};
