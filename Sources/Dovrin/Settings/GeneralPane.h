#pragma once

#include "Async/Task.h"

#include <QWidget>

class AppModel;
class ElidedLabel;
class PreferencesView;
class QLabel;
class QScrollArea;
class VemiMenuPopUp;
class VemiPanel;
class VemiSettingsFormRow;
class VemiSettingsToggle;
class VemiStatusLabel;
struct SettingsEnvironment;

// The first pane of the settings window: launch at login, updates, feedback, the capture folder,
// the audio sources and how a recording shows in the tray. Every control shows the model's state and
// changes it only through the model; refreshes are silent, so only the user's own changes are written.
class GeneralPane : public QWidget
{
    Q_OBJECT
public:
    GeneralPane(AppModel &model, PreferencesView &view, const SettingsEnvironment &environment,
        QWidget *parent = nullptr);

    // Shows the model's and the window's current state.
    void refresh();

    // The saved Others application, when the listed applications do not hold it.
    std::optional<std::pair<QString, QString>> othersOrphan() const;
    // Scrolls `scroll` so the Others row and the line below it are in view, and focuses the row.
    void revealOthers(QScrollArea &scroll);

private:
    QWidget *startupPanel();
    QWidget *updatesPanel();
    QWidget *feedbackPanel();
    QWidget *folderPanel();
    QWidget *audioPanel();
    QWidget *audioNote();
    QWidget *menuBarPanel();
    // Ends with the pane: a pick answered after the window closed changes nothing.
    Task<> chooseAnotherApp();
    void pickOthers(const std::optional<QString> &bundleID);

    AppModel &m_model;
    PreferencesView &m_view;
    const SettingsEnvironment &m_environment;

    VemiSettingsToggle *m_launchAtLogin = nullptr;
    QWidget *m_launchRow = nullptr;
    QWidget *m_launchDetailDivider = nullptr;
    QLabel *m_launchDetail = nullptr;
    QWidget *m_loginItemsRow = nullptr;
    QWidget *m_launchErrorDivider = nullptr;
    QLabel *m_launchError = nullptr;
    VemiSettingsToggle *m_automaticUpdates = nullptr;
    VemiSettingsFormRow *m_automaticUpdatesRow = nullptr;
    VemiSettingsFormRow *m_checkNowRow = nullptr;
    VemiStatusLabel *m_updatesUnavailable = nullptr;
    VemiSettingsToggle *m_diagnostics = nullptr;
    ElidedLabel *m_folderPath = nullptr;
    QWidget *m_othersRow = nullptr;
    VemiMenuPopUp *m_others = nullptr;
    QWidget *m_chooseAppBlock = nullptr;
    VemiStatusLabel *m_othersUnavailable = nullptr;
    QWidget *m_recordYouRow = nullptr;
    VemiSettingsToggle *m_recordYou = nullptr;
    QWidget *m_microphoneRow = nullptr;
    VemiMenuPopUp *m_microphone = nullptr;
    QWidget *m_microphoneMissingDivider = nullptr;
    VemiStatusLabel *m_microphoneMissing = nullptr;
    QLabel *m_othersScope = nullptr;
    QLabel *m_audioNote = nullptr;
    VemiMenuPopUp *m_whileRecording = nullptr;
};
