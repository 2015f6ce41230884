#pragma once

#include "Services/PermissionController.h"

#include <QWidget>

#include <functional>

class PermissionStatusCapsule;
class QLabel;
class VemiButton;
class VemiSymbolView;

// One permission as a settings row: its name and status capsule, what it is for, the feedback of the
// last action, and up to three buttons (request; relaunch or check again; open the settings). What
// it shows is the controller's row state; what the buttons do is the caller's. An absent action
// hides its button.
class PermissionCapabilityRow : public QWidget
{
    Q_OBJECT
public:
    struct Actions
    {
        std::function<void()> onRequest;
        std::function<void()> onCheck;
        std::function<void()> onQuit;
        std::function<void()> onOpenSettings;
    };

    PermissionCapabilityRow(PermissionKind kind, Actions actions, QWidget *parent = nullptr);

    // "settings.permission.screen", "….scrolling", "….system-audio", "….microphone".
    static QString identifierStem(PermissionKind kind);

    PermissionKind kind() const { return m_kind; }
    void setRow(const PermissionController::RowState &row);

private:
    VemiButton *addButton(const QString &suffix, bool prominent, const std::function<void()> &action);

    PermissionKind m_kind;
    Actions m_actions;
    PermissionStatusCapsule *m_capsule;
    QLabel *m_detail;
    QWidget *m_feedbackLine;
    VemiSymbolView *m_feedbackIcon;
    QLabel *m_feedback;
    VemiButton *m_request;
    VemiButton *m_relaunch;
    VemiButton *m_check;
    VemiButton *m_open;
};
