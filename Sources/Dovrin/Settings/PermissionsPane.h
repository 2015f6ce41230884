#pragma once

#include "Rules/PermissionPresentation.h"

#include <QWidget>

class AppModel;
class PermissionCapabilityRow;
struct SettingsEnvironment;

// The four permission rows, each wired to the model's request, check and settings operations; the
// relaunch only where a new process can change the answer (Screen Recording, Control Scrolling).
class PermissionsPane : public QWidget
{
    Q_OBJECT
public:
    PermissionsPane(AppModel &model, const SettingsEnvironment &environment, QWidget *parent = nullptr);

    PermissionCapabilityRow *row(PermissionKind kind) const;

private:
    void refresh(PermissionKind kind);

    AppModel &m_model;
    QList<PermissionCapabilityRow *> m_rows;
};
