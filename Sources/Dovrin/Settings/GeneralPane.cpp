#include "Settings/GeneralPane.h"

#include "Audio/AudioSessionCoordinator.h"
#include "Model/AppModel.h"
#include "Rules/AudioOthersSelection.h"
#include "Rules/FeedbackMail.h"
#include "Settings/DefaultFolderChoice.h"
#include "Settings/ElidedLabel.h"
#include "Settings/PreferencesView.h"
#include "Settings/SettingsEnvironment.h"
#include "Settings/SettingsLayout.h"
#include "Settings/VemiMenuPopUp.h"
#include "Settings/VemiSettingsFormRow.h"
#include "Settings/VemiSettingsPushButton.h"
#include "Settings/VemiSettingsToggle.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

using SettingsLayout::caption;
using SettingsLayout::divider;
using SettingsLayout::sectionTitle;

namespace {

VemiPanel *panel(QWidget *parent)
{
    auto *panel = new VemiPanel(0, nullptr, parent);
    panel->contentLayout()->setSpacing(0);
    return panel;
}

// A widget around `content` with margins, for the lines of a panel that are not form rows.
QWidget *padded(QWidget *content, int left, int top, int right, int bottom, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(left, top, right, bottom);
    layout->addWidget(content);
    return box;
}

} // namespace

GeneralPane::GeneralPane(
    AppModel &model, PreferencesView &view, const SettingsEnvironment &environment, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_view(view)
    , m_environment(environment)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    column->addWidget(sectionTitle(QStringLiteral("Startup"), this));
    column->addWidget(startupPanel());
    column->addWidget(
        caption(QStringLiteral("Opens in the tray after you log in. Setup does not run again."), this));
    column->addWidget(sectionTitle(QStringLiteral("Updates"), this));
    column->addWidget(updatesPanel());
    column->addWidget(
        caption(QStringLiteral("This build makes no network connections: it checks for no updates "
                               "and downloads no speech model. Captures stay on this computer "
                               "and are never uploaded."),
            this));
    column->addWidget(sectionTitle(QStringLiteral("Feedback"), this));
    column->addWidget(feedbackPanel());
    column->addWidget(
        caption(QStringLiteral("Every draft includes the app version and system version. Captures, "
                               "folder paths, app names, and transcripts stay off. Diagnostics add "
                               "permission and phase state you can edit before sending."),
            this));
    column->addWidget(sectionTitle(QStringLiteral("Capture folder"), this));
    column->addWidget(folderPanel());
    column->addWidget(sectionTitle(QStringLiteral("Audio capture"), this));
    column->addWidget(audioPanel());
    m_othersScope = caption(QString(), this);
    column->addWidget(m_othersScope);
    column->addWidget(audioNote());
    column->addWidget(sectionTitle(QStringLiteral("Tray"), this));
    column->addWidget(menuBarPanel());
    // A tray icon has no room for text: the time goes in its tooltip, and the choice above is drawn only
    // by the stand-in window.
    column->addWidget(caption(QStringLiteral("The tray icon stays small when idle and shows a badge while "
                                             "recording, with the elapsed time in its tooltip. Without a "
                                             "tray, the stand-in window shows a compact badge or the "
                                             "elapsed time."),
        this));

    connect(&m_model, &AppModel::settingsChanged, this, &GeneralPane::refresh);
    connect(&m_model, &AppModel::launchAtLoginChanged, this, &GeneralPane::refresh);
    connect(&m_model, &AppModel::automaticallyChecksForUpdatesChanged, this, &GeneralPane::refresh);
    connect(&m_model, &AppModel::includeFeedbackDiagnosticsChanged, this, &GeneralPane::refresh);
    connect(&m_model.audio(), &AudioSessionCoordinator::phaseChanged, this, &GeneralPane::refresh);
    connect(&m_view, &PreferencesView::audioSourcesChanged, this, &GeneralPane::refresh);
    refresh();
}

QWidget *GeneralPane::startupPanel()
{
    VemiPanel *box = panel(this);
    QVBoxLayout *rows = box->contentLayout();
    m_launchAtLogin = new VemiSettingsToggle(
        QStringLiteral("Launch at login"), QStringLiteral("settings.startup.launch-at-login"), box);
    m_launchRow = new VemiSettingsFormRow(
        QStringLiteral("Launch at login"), m_launchAtLogin, 200, Qt::AlignRight, box);
    rows->addWidget(m_launchRow);
    m_launchDetailDivider = divider(box);
    rows->addWidget(m_launchDetailDivider);
    m_launchDetail
        = SettingsLayout::text(QString(), VemiTextStyle::subheadline, VemiColor::coral, box, QFont::Medium);
    m_launchDetail->setObjectName(QStringLiteral("settings.startup.launch-at-login.detail"));
    m_launchDetail->setContentsMargins(16, 10, 16, 10);
    rows->addWidget(m_launchDetail);
    auto *open = new VemiSettingsPushButton(
        LaunchAtLoginPresentation::openLoginItemsTitle(),
        QStringLiteral("Open System Settings → Startup Applications"),
        QStringLiteral("settings.startup.launch-at-login.open"),
        [this] {
            if (m_model.launchAtLoginService().openLoginItems)
                m_model.launchAtLoginService().openLoginItems();
        },
        box);
    m_loginItemsRow
        = new VemiSettingsFormRow(QStringLiteral("Startup Applications"), open, 200, Qt::AlignRight, box);
    rows->addWidget(m_loginItemsRow);
    m_launchErrorDivider = divider(box);
    rows->addWidget(m_launchErrorDivider);
    m_launchError
        = SettingsLayout::text(QString(), VemiTextStyle::subheadline, VemiColor::coral, box, QFont::Medium);
    m_launchError->setObjectName(QStringLiteral("settings.startup.launch-at-login.error"));
    m_launchError->setContentsMargins(12, 12, 12, 12);
    rows->addWidget(m_launchError);
    connect(m_launchAtLogin, &VemiSettingsToggle::userToggled, this, [this](bool on) {
        m_model.applyLaunchAtLogin(on);
        refresh();
    });
    return box;
}

QWidget *GeneralPane::updatesPanel()
{
    VemiPanel *box = panel(this);
    QVBoxLayout *rows = box->contentLayout();
    m_automaticUpdates = new VemiSettingsToggle(
        QStringLiteral("Check automatically"), QStringLiteral("settings.updates.automatic"), box);
    m_automaticUpdatesRow = new VemiSettingsFormRow(
        QStringLiteral("Check automatically"), m_automaticUpdates, 200, Qt::AlignRight, box);
    rows->addWidget(m_automaticUpdatesRow);
    rows->addWidget(divider(box));
    auto *check = new VemiSettingsPushButton(
        QStringLiteral("Check Now…"), QStringLiteral("Look for a new Quorvel release"),
        QStringLiteral("settings.updates.check-now"), [this] { m_model.checkForUpdates(); }, box);
    m_checkNowRow = new VemiSettingsFormRow(QStringLiteral("Updates"), check, 200, Qt::AlignRight, box);
    rows->addWidget(m_checkNowRow);
    // Without an update feed neither control can do anything; the panel says why, where they are.
    m_updatesUnavailable = new VemiStatusLabel(SoftwareUpdateService::unavailableMessage(),
        VemiColor::secondary, QStringLiteral("info.circle.fill"), box);
    m_updatesUnavailable->setObjectName(QStringLiteral("settings.updates.unavailable"));
    rows->addWidget(padded(m_updatesUnavailable, 16, 0, 16, 12, box));
    connect(m_automaticUpdates, &VemiSettingsToggle::userToggled, this, [this](bool on) {
        m_model.applyAutomaticallyChecksForUpdates(on);
        // The service may refuse: show what it answered, not what was asked.
        refresh();
    });
    return box;
}

QWidget *GeneralPane::feedbackPanel()
{
    VemiPanel *box = panel(this);
    QVBoxLayout *rows = box->contentLayout();
    m_diagnostics = new VemiSettingsToggle(
        QStringLiteral("Include diagnostics"), QStringLiteral("settings.feedback.diagnostics"), box);
    rows->addWidget(new VemiSettingsFormRow(
        QStringLiteral("Include diagnostics"), m_diagnostics, 200, Qt::AlignRight, box));
    rows->addWidget(divider(box));
    auto *send = new VemiSettingsPushButton(
        FeedbackMail::sendActionTitle(), QStringLiteral("Open an email draft to ") + FeedbackMail::address(),
        QStringLiteral("settings.feedback.send"), [this] { m_model.sendFeedback(); }, box);
    auto *sendRow = new VemiSettingsFormRow(QStringLiteral("Feedback"), send, 200, Qt::AlignRight, box);
    // The row speaks for the button too, under an identifier of its own.
    sendRow->setObjectName(QStringLiteral("settings.feedback.send.marker"));
    sendRow->setAccessibleName(FeedbackMail::sendActionTitle());
    rows->addWidget(sendRow);
    connect(m_diagnostics, &VemiSettingsToggle::userToggled, this, [this](bool on) {
        m_model.setIncludeFeedbackDiagnostics(on);
        refresh();
    });
    return box;
}

QWidget *GeneralPane::folderPanel()
{
    VemiPanel *box = panel(this);
    auto *line = new QWidget(box);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(14);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(SettingsLayout::text(
        QStringLiteral("Save captures to"), VemiTextStyle::body, VemiColor::primary, line, QFont::Medium));
    m_folderPath = new ElidedLabel(line);
    m_folderPath->setObjectName(QStringLiteral("settings.folder.path"));
    SettingsLayout::setColor(m_folderPath, VemiColor::secondary);
    texts->addWidget(m_folderPath);
    row->addLayout(texts, 1);
    row->addSpacing(12);
    auto *choose = new VemiButton(QStringLiteral("Choose…"), line);
    choose->setObjectName(QStringLiteral("settings.folder.choose"));
    choose->setToolTip(QStringLiteral("Change the default capture folder"));
    VemiButtonStyle::vemiSecondaryAction(choose, VemiControlSize::regular);
    connect(choose, &QAbstractButton::clicked, this,
        [this] { DefaultFolderChoice::choose(m_model, m_environment.folderPicker, window()); });
    row->addWidget(choose);
    box->contentLayout()->addWidget(line);
    return box;
}

QWidget *GeneralPane::audioPanel()
{
    VemiPanel *box = panel(this);
    QVBoxLayout *rows = box->contentLayout();
    m_others
        = new VemiMenuPopUp(QStringLiteral("Others"), QStringLiteral("settings.audio.others"), true, box);
    m_othersRow = new VemiSettingsFormRow(QStringLiteral("Others"), m_others, 200, Qt::Alignment(), box);
    rows->addWidget(m_othersRow);
    rows->addWidget(divider(box));

    m_chooseAppBlock = new QWidget(box);
    auto *block = new QVBoxLayout(m_chooseAppBlock);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(8);
    auto *chooseApp = new VemiSettingsPushButton(
        AudioOthersSelection::chooseAnotherAppTitle(),
        QStringLiteral("Pick an installed app that is not listed automatically"),
        QStringLiteral("settings.audio.choose-another-app"), [this] { chooseAnotherApp(); },
        m_chooseAppBlock);
    block->addWidget(new VemiSettingsFormRow(
        QStringLiteral("Other application"), chooseApp, 200, Qt::AlignRight, m_chooseAppBlock));
    m_othersUnavailable = new VemiStatusLabel(
        QString(), VemiColor::coral, QStringLiteral("exclamationmark.triangle.fill"), m_chooseAppBlock);
    m_othersUnavailable->setObjectName(QStringLiteral("settings.audio.others-unavailable"));
    block->addWidget(padded(m_othersUnavailable, 16, 0, 16, 8, m_chooseAppBlock));
    rows->addWidget(m_chooseAppBlock);
    rows->addWidget(divider(box));

    m_recordYou = new VemiSettingsToggle(
        QStringLiteral("Record my microphone as You"), QStringLiteral("settings.audio.record-you"), box);
    m_recordYouRow = new VemiSettingsFormRow(
        QStringLiteral("Record my microphone as You"), m_recordYou, 200, Qt::AlignRight, box);
    rows->addWidget(m_recordYouRow);
    rows->addWidget(divider(box));
    m_microphone = new VemiMenuPopUp(
        QStringLiteral("Microphone"), QStringLiteral("settings.audio.microphone"), false, box);
    m_microphoneRow
        = new VemiSettingsFormRow(QStringLiteral("Microphone"), m_microphone, 200, Qt::Alignment(), box);
    rows->addWidget(m_microphoneRow);
    m_microphoneMissingDivider = divider(box);
    rows->addWidget(m_microphoneMissingDivider);
    m_microphoneMissing = new VemiStatusLabel(
        QStringLiteral("The saved microphone is not connected. System Default will be used."),
        VemiColor::coral, QStringLiteral("exclamationmark.triangle.fill"), box);
    m_microphoneMissing->setObjectName(QStringLiteral("settings.audio.microphone-missing"));
    m_microphoneMissing->setContentsMargins(12, 12, 12, 12);
    rows->addWidget(m_microphoneMissing);

    connect(m_others, &VemiMenuPopUp::userSelected, this, &GeneralPane::pickOthers);
    connect(m_recordYou, &VemiSettingsToggle::userToggled, this, [this](bool on) {
        m_model.applyRecordYouMicrophone(on);
        refresh();
    });
    connect(m_microphone, &VemiMenuPopUp::userSelected, this, [this](const std::optional<QString> &uid) {
        m_model.applyMicrophoneDeviceUID(uid);
        refresh();
    });
    return box;
}

QWidget *GeneralPane::audioNote()
{
    auto *note = new VemiPanel(12, nullptr, this);
    auto *line = new QWidget(note);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto *vemi = new VemiStateView(VemiState::idle, 18, true, line);
    vemi->setFixedWidth(24);
    row->addWidget(vemi);
    m_audioNote = SettingsLayout::text(QString(), VemiTextStyle::caption, VemiColor::secondary, line);
    row->addWidget(m_audioNote, 1);
    note->contentLayout()->addWidget(line);
    return note;
}

QWidget *GeneralPane::menuBarPanel()
{
    VemiPanel *box = panel(this);
    m_whileRecording = new VemiMenuPopUp(
        QStringLiteral("While recording"), QStringLiteral("settings.menubar.while-recording"), false, box);
    box->contentLayout()->addWidget(new VemiSettingsFormRow(
        QStringLiteral("While recording"), m_whileRecording, 200, Qt::Alignment(), box));
    connect(m_whileRecording, &VemiMenuPopUp::userSelected, this, [this](const std::optional<QString> &raw) {
        const std::optional<MenuBarRecordingPresence> presence
            = raw ? MenuBarRecordingPresences::fromRawValue(*raw) : std::nullopt;
        if (!presence)
            return;
        AppSettings settings = m_model.settings();
        settings.menuBarRecordingPresence = *presence;
        m_model.updateSettings(settings);
    });
    return box;
}

void GeneralPane::pickOthers(const std::optional<QString> &bundleID)
{
    if (!bundleID) {
        m_model.applyOthersAudioSource(std::nullopt, std::nullopt);
    } else {
        std::optional<QString> name = m_model.settings().othersAudioDisplayName;
        for (const AudioCaptureApp &app : m_view.listedApps()) {
            if (app.bundleID == *bundleID) {
                name = app.name;
                break;
            }
        }
        m_model.applyOthersAudioSource(bundleID, name);
    }
    refresh();
}

Task<> GeneralPane::chooseAnotherApp()
{
    if (!m_environment.pickApplication)
        co_return;
    Task<std::optional<AudioCaptureApp>> picking
        = m_environment.pickApplication(window(), QStringLiteral("Choose App"));
    const std::optional<AudioCaptureApp> chosen = co_await picking;
    if (!chosen)
        co_return;
    m_model.applyOthersAudioSource(chosen->bundleID, chosen->name);
    // So an application the list now knows shows at its own place.
    m_view.refreshListedApps();
}

std::optional<std::pair<QString, QString>> GeneralPane::othersOrphan() const
{
    const AppSettings &settings = m_model.settings();
    if (!settings.othersAudioBundleID || settings.othersAudioBundleID->isEmpty())
        return std::nullopt;
    for (const AudioCaptureApp &app : m_view.listedApps()) {
        if (app.bundleID == *settings.othersAudioBundleID)
            return std::nullopt;
    }
    return std::make_pair(*settings.othersAudioBundleID,
        AudioOthersSelection::displayName(settings.othersAudioBundleID, settings.othersAudioDisplayName));
}

void GeneralPane::revealOthers(QScrollArea &scroll)
{
    // The line first, then the row above it: both end up in view, the row not hidden under the top.
    QWidget *line = m_othersUnavailable->parentWidget();
    if (line->isVisibleTo(this))
        scroll.ensureWidgetVisible(line, 0, 16);
    scroll.ensureWidgetVisible(m_othersRow, 0, 16);
    m_others->setFocus(Qt::OtherFocusReason);
}

void GeneralPane::refresh()
{
    const AppSettings &settings = m_model.settings();
    const bool recording = m_model.audio().isRecording();

    const LaunchAtLoginPresentation launch = m_model.launchAtLogin();
    m_launchAtLogin->setOn(launch.isEnabled);
    m_launchRow->setEnabled(!launch.isUnavailable);
    m_launchDetailDivider->setVisible(launch.detail.has_value());
    m_launchDetail->setVisible(launch.detail.has_value());
    m_launchDetail->setText(launch.detail.value_or(QString()));
    m_launchDetail->setAccessibleName(launch.detail.value_or(QString()));
    SettingsLayout::setColor(m_launchDetail, launch.isUnavailable ? VemiColor::secondary : VemiColor::coral);
    m_launchDetail->setContentsMargins(16, 10, 16, launch.showsOpenLoginItems ? 4 : 10);
    m_loginItemsRow->setVisible(launch.showsOpenLoginItems);
    m_launchErrorDivider->setVisible(launch.errorMessage.has_value());
    m_launchError->setVisible(launch.errorMessage.has_value());
    m_launchError->setText(launch.errorMessage.value_or(QString()));
    m_launchError->setAccessibleName(launch.errorMessage.value_or(QString()));

    m_automaticUpdates->setOn(m_model.automaticallyChecksForUpdates());
    const bool updates = m_model.softwareUpdate().isAvailable;
    m_automaticUpdatesRow->setEnabled(updates);
    m_checkNowRow->setEnabled(updates);
    m_updatesUnavailable->parentWidget()->setVisible(!updates);
    m_diagnostics->setOn(m_model.includeFeedbackDiagnostics());
    m_folderPath->setText(
        settings.defaultFolder ? settings.defaultFolder->displayPath : QStringLiteral("No default folder"));

    QList<VemiPopUpItem> others { { std::nullopt, AudioOthersSelection::thisMacTitle(), QIcon() } };
    for (const AudioCaptureApp &app : m_view.listedApps())
        others.append({ app.bundleID, app.name, app.icon() });
    if (const auto orphan = othersOrphan())
        others.append({ orphan->first, orphan->second, QIcon() });
    m_others->setItems(others, settings.othersAudioBundleID);
    m_othersRow->setEnabled(!recording);
    m_chooseAppBlock->setEnabled(!recording);
    const QString savedName
        = AudioOthersSelection::displayName(settings.othersAudioBundleID, settings.othersAudioDisplayName);
    const QString unavailable = AudioOthersSelection::unavailableMessage(savedName);
    m_othersUnavailable->setText(unavailable);
    m_othersUnavailable->setAccessibleName(unavailable);
    m_othersUnavailable->parentWidget()->setVisible(m_view.othersSourceUnavailable());

    m_recordYou->setOn(settings.recordYouMicrophone);
    m_recordYouRow->setEnabled(!recording);
    QList<VemiPopUpItem> microphones { { std::nullopt, QStringLiteral("System Default"), QIcon() } };
    bool savedConnected = false;
    for (const AudioInputDevice &device : m_view.inputDevices()) {
        microphones.append({ device.uid, device.name, QIcon() });
        savedConnected = savedConnected || device.uid == settings.microphoneDeviceUID;
    }
    m_microphone->setItems(microphones, settings.microphoneDeviceUID);
    m_microphoneRow->setEnabled(!recording && settings.recordYouMicrophone);
    const bool missing = settings.recordYouMicrophone && settings.microphoneDeviceUID && !savedConnected;
    m_microphoneMissingDivider->setVisible(missing);
    m_microphoneMissing->setVisible(missing);

    const bool appOnly = settings.othersAudioBundleID && !settings.othersAudioBundleID->isEmpty();
    m_othersScope->setText(
        appOnly ? AudioOthersSelection::appOnlyCopy() : AudioOthersSelection::thisMacCopy());
    m_audioNote->setText(settings.recordYouMicrophone
            ? QStringLiteral("Audio stays on this computer in separate Others and You files.")
            : QStringLiteral("Audio stays on this computer. Only Others will be recorded."));

    QList<VemiPopUpItem> presences;
    for (const MenuBarRecordingPresence presence : MenuBarRecordingPresences::allCases)
        presences.append({ MenuBarRecordingPresences::rawValue(presence),
            MenuBarRecordingPresences::settingsTitle(presence), QIcon() });
    m_whileRecording->setItems(
        presences, MenuBarRecordingPresences::rawValue(settings.menuBarRecordingPresence));
}
