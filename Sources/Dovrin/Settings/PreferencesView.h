#pragma once

#include "Async/Task.h"
#include "Audio/AudioCaptureApp.h"
#include "Platform/AudioInputDevice.h"
#include "Settings/PreferencesAudioCatalog.h"
#include "Settings/SettingsEnvironment.h"
#include "Settings/SettingsPane.h"

#include <QWidget>

#include <optional>

class AppModel;
class GeneralPane;
class PermissionsPane;
class QScrollArea;
class QTimer;
class ShortcutRecorder;
class VemiSidebarItem;
class VemiStatusLabel;

// The settings window's content: a rail of three panes (General, Shortcuts, Permissions) with the
// app's name and version at its foot, and the chosen pane beside it. It keeps the lists of
// recordable applications and microphones for the General pane, read off the main thread when the
// window shows, when the app becomes active and, for the applications, every few seconds while it is
// shown (applications start and quit); a catalog replaces all of that with fixed lists. A change that
// could not be written to disk is said below the pane, whichever pane is open, until a later one is.
class PreferencesView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int applicationPollMs = 5000;

    PreferencesView(AppModel &model, SettingsPane initialPane, std::optional<PreferencesAudioCatalog> catalog,
        SettingsEnvironment environment, QWidget *parent = nullptr);
    ~PreferencesView() override;

    SettingsPane pane() const { return m_pane; }
    void setPane(SettingsPane pane);

    const QList<AudioCaptureApp> &listedApps() const { return m_listedApps; }
    const QList<AudioInputDevice> &inputDevices() const { return m_inputDevices; }
    // The saved Others application is known not to run (never before that is known).
    bool othersSourceUnavailable() const;
    Task<> refreshAudioSources();
    Task<> refreshListedApps();

    // "Version 1.2.0 (7)"; "Version 1.0.0 (1)" when either part is unknown.
    static QString versionLine(const QString &version, const QString &build);

    GeneralPane *generalPane() const { return m_general; }
    ShortcutRecorder *shortcutRecorder() const { return m_recorder; }
    PermissionsPane *permissionsPane() const { return m_permissions; }

signals:
    void audioSourcesChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *rail();
    QWidget *detail();
    QWidget *writeFailureLine();
    void refreshWriteFailure();
    Task<> checkOthersRunning();
    // The environment's readers of the system's lists, else the live ones.
    std::function<QList<AudioCaptureApp>()> applicationReader() const;
    std::function<QList<AudioInputDevice>()> inputDeviceReader() const;
    std::function<bool(const QString &)> runningReader() const;
    void othersMaybeChanged();
    // A record command was refused because the saved Others application does not run: the General
    // pane scrolls to its row, with the line that says why, and the row takes the focus.
    void showRefusedOthersSource();

    AppModel &m_model;
    std::optional<PreferencesAudioCatalog> m_catalog;
    SettingsEnvironment m_environment;
    SettingsPane m_pane;
    QList<AudioCaptureApp> m_listedApps;
    QList<AudioInputDevice> m_inputDevices;
    // Whether the saved Others application ran when last asked, and which one was asked about.
    std::optional<std::pair<QString, bool>> m_othersRunning;
    int m_sourcesGeneration = 0;
    int m_appsGeneration = 0;
    int m_runningGeneration = 0;
    QTimer *m_applicationPoll;
    QList<VemiSidebarItem *> m_railItems;
    QScrollArea *m_scroll = nullptr;
    GeneralPane *m_general = nullptr;
    QWidget *m_shortcuts = nullptr;
    ShortcutRecorder *m_recorder = nullptr;
    PermissionsPane *m_permissions = nullptr;
    QWidget *m_writeFailureLine = nullptr;
    VemiStatusLabel *m_writeFailure = nullptr;
};
