#include "Settings/PermissionsPane.h"

#include "Model/AppModel.h"
#include "Settings/PermissionCapabilityRow.h"
#include "Settings/SettingsEnvironment.h"
#include "Settings/SettingsLayout.h"

#include <QVBoxLayout>

PermissionsPane::PermissionsPane(AppModel &model, const SettingsEnvironment &environment, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    AppModel *m = &model;
    const std::function<void()> relaunch = [&environment] {
        if (environment.relaunch)
            environment.relaunch();
    };
    const QList<std::pair<PermissionKind, PermissionCapabilityRow::Actions>> rows {
        { PermissionKind::screenRecording,
            { [m] { m->requestPermission(); }, [m] { m->recheckPermission(); }, relaunch,
                [m] { m->openScreenRecordingSettings(); } } },
        { PermissionKind::controlScrolling,
            { [m] { m->requestScrollingPermission(); }, [m] { m->recheckScrollingPermission(); }, relaunch,
                [m] { m->openScrollingSettings(); } } },
        { PermissionKind::systemAudio, { nullptr, nullptr, nullptr, [m] { m->openSystemAudioSettings(); } } },
        { PermissionKind::microphone,
            { [m] { m->requestMicrophoneAccess(); }, [m] { m->recheckMicrophonePermission(); }, nullptr,
                [m] { m->openMicrophoneSettings(); } } },
    };
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    column->addWidget(SettingsLayout::sectionTitle(QStringLiteral("Permissions"), this));
    for (const auto &[kind, actions] : rows) {
        auto *panel = new VemiPanel(0, nullptr, this);
        auto *row = new PermissionCapabilityRow(kind, actions, panel);
        panel->contentLayout()->addWidget(row);
        column->addWidget(panel);
        m_rows.append(row);
        refresh(kind);
    }
    column->addWidget(SettingsLayout::caption(
        QStringLiteral(
            "The desktop session decides these. Screen Recording and Control Scrolling need an X11 "
            "(Xorg) session, and Control Scrolling the X server's XTEST extension. Microphone needs a "
            "sound server with an input device, chosen in the desktop's sound settings, and updates "
            "when the app becomes active. System Audio needs the sound server and is confirmed by "
            "starting a recording."),
        this));
    connect(&m_model.permissions(), &PermissionController::rowChanged, this, &PermissionsPane::refresh);
}

PermissionCapabilityRow *PermissionsPane::row(PermissionKind kind) const
{
    for (PermissionCapabilityRow *row : m_rows) {
        if (row->kind() == kind)
            return row;
    }
    return nullptr;
}

void PermissionsPane::refresh(PermissionKind kind)
{
    if (PermissionCapabilityRow *target = row(kind))
        target->setRow(m_model.permissions().row(kind));
}
