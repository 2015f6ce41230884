#pragma once

#include "Async/Task.h"
#include "Rules/LaunchAtLoginPresentation.h"
#include "Services/LaunchAtLoginService.h"

#include <QObject>

// The launch-at-login row of the settings. Changes reach the autostart entry one at a time, in the
// order the switch moved, so the last position wins on disk as in the row; a refresh that a newer
// change overtook leaves the row alone.
class LaunchAtLoginFlow : public QObject
{
    Q_OBJECT

public:
    explicit LaunchAtLoginFlow(LaunchAtLoginService service, QObject *parent = nullptr);

    const LaunchAtLoginPresentation &presentation() const { return m_presentation; }

    // Reads the status again once the change in flight (if any) is done. An error text stays only
    // while the status stays the same.
    Task<> refresh();
    // Shows the expected outcome at once and then makes the change after the one before it. While the
    // status is pending or the copy cannot be registered the switch does nothing.
    Task<> applyLaunchAtLogin(bool enabled);

signals:
    void presentationChanged();

private:
    Task<> completeRefresh(Task<> previous, int generation);
    Task<> completeApply(Task<> previous, bool enabled, int generation);
    void setPresentation(const LaunchAtLoginPresentation &presentation);

    LaunchAtLoginService m_service;
    LaunchAtLoginPresentation m_presentation
        = LaunchAtLoginPresentation::resolve(LaunchAtLoginStatus::pending, std::nullopt);
    int m_generation = 0;
    Task<> m_applyTask;
};
