#pragma once

#include "Async/Task.h"
#include "Rules/PermissionPresentation.h"

#include <QObject>

class ModelContext;

// The permission buttons of the setup and settings windows: each runs the permission controller's
// flow and then repeats the row's feedback as the model's status, with a fixed line when the row has
// none. Requests and settings trips run as tasks and return at once.
class PermissionActions : public QObject
{
    Q_OBJECT

public:
    explicit PermissionActions(ModelContext &context, QObject *parent = nullptr);

    Task<> requestPermission();
    void recheckPermission();
    Task<> openScreenRecordingSettings();
    Task<> requestScrollingPermission();
    void recheckScrollingPermission();
    Task<> openScrollingSettings();
    Task<> requestMicrophoneAccess();
    Task<> recheckMicrophonePermission();
    Task<> openSystemAudioSettings();
    Task<> openMicrophoneSettings();

    // A capture held for Screen Recording goes back to idle once the screen can be read.
    void clearPermissionHoldIfGranted();

private:
    Task<> openSettings(PermissionKind kind);
    void reportRow(PermissionKind kind, const QString &fallback);

    ModelContext &m_context;
};
