#include "Shell/MenuContent.h"

#include "Audio/AudioSessionCoordinator.h"
#include "Model/AppModel.h"
#include "Model/ReviewSession.h"
#include "Rules/FeedbackMail.h"
#include "Rules/KeyTable.h"
#include "Services/PermissionController.h"

#include <QTimer>

namespace {

MenuEntry note(const QString &id, const QString &title, const QString &symbol = {})
{
    return { MenuEntry::Kind::note, id, title, symbol, false, {}, {}, {} };
}

MenuEntry separator(int number)
{
    MenuEntry entry = MenuEntry::separatorLine();
    entry.id = QStringLiteral("separator-%1").arg(number);
    return entry;
}

} // namespace

MenuContent::MenuContent(
    AppModel &model, const ModelCommands &commands, Environment environment, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_commands(commands)
    , m_environment(std::move(environment))
{
    for (auto signal : { &AppModel::phaseChanged, &AppModel::statusMessageChanged, &AppModel::settingsChanged,
             &AppModel::shortcutRegistrationChanged, &AppModel::currentShortcutChanged,
             &AppModel::reviewSessionChanged, &AppModel::pendingDraftChanged, &AppModel::audioReviewChanged,
             &AppModel::settingsWriteFailureChanged })
        connect(&model, signal, this, &MenuContent::scheduleChanged);
    connect(&model, &AppModel::requestedWindowChanged, this, &MenuContent::requestedWindowChanged);
    AudioSessionCoordinator &audio = model.audio();
    connect(&audio, &AudioSessionCoordinator::phaseChanged, this, &MenuContent::scheduleChanged);
    connect(&audio, &AudioSessionCoordinator::elapsedChanged, this, &MenuContent::scheduleChanged);
    connect(&audio, &AudioSessionCoordinator::othersLevelChanged, this, &MenuContent::scheduleChanged);
    connect(&audio, &AudioSessionCoordinator::youLevelChanged, this, &MenuContent::scheduleChanged);
    connect(&audio, &AudioSessionCoordinator::warningChanged, this, &MenuContent::scheduleChanged);
    connect(&model.permissions(), &PermissionController::rowChanged, this, &MenuContent::scheduleChanged);
}

void MenuContent::scheduleChanged()
{
    if (m_changePending)
        return;
    m_changePending = true;
    QTimer::singleShot(0, this, [this] {
        m_changePending = false;
        emit changed();
    });
}

std::optional<QKeySequence> MenuContent::captureKeySequence(
    HotKeyRegistrationState registration, const CaptureShortcut &shortcut)
{
    if (registration != HotKeyRegistrationState::registered)
        return std::nullopt;
    const QString key = shortcut.characters.trimmed().toLower();
    if (key.size() != 1)
        return std::nullopt;
    QString text;
    const quint32 bits = shortcut.carbonModifiers;
    if (bits & KeyTable::controlBit)
        text += QStringLiteral("Ctrl+");
    if (bits & KeyTable::optionBit)
        text += QStringLiteral("Alt+");
    if (bits & KeyTable::shiftBit)
        text += QStringLiteral("Shift+");
    if (bits & KeyTable::commandBit)
        text += QStringLiteral("Meta+");
    const QKeySequence sequence = QKeySequence::fromString(text + key.toUpper(), QKeySequence::PortableText);
    if (sequence.isEmpty() || sequence[0].key() == Qt::Key_unknown)
        return std::nullopt;
    return sequence;
}

MenuEntry MenuContent::command(const QString &id, const QString &title, const QString &symbol, bool enabled,
    std::function<void()> action) const
{
    return { MenuEntry::Kind::command, id, title, symbol, enabled, {}, std::move(action), {} };
}

void MenuContent::appendCaptureCommand(MenuEntries &entries, bool enabled) const
{
    AppModel *model = &m_model;
    const Environment environment = m_environment;
    const std::function<void()> start = m_commands.handleCaptureInvocation;
    MenuEntry capture = command(QStringLiteral("capture"), QStringLiteral("Capture Region…"),
        QStringLiteral("viewfinder"), enabled && start, [model, environment, start] {
            model->rememberFrontmostApplication();
            environment.dismiss();
            start();
        });
    const HotKeyRegistrationState registration = m_model.shortcutRegistration();
    const CaptureShortcut shortcut = m_model.currentShortcut();
    const std::optional<QKeySequence> keys = captureKeySequence(registration, shortcut);
    if (keys) {
        capture.shortcut = *keys;
        capture.shortcutLabel = shortcut.displaySymbols();
    }
    entries << capture;
    if (!keys) {
        entries << note(QStringLiteral("shortcut-warning"),
            HotKeyRegistrationStates::title(registration, shortcut),
            QStringLiteral("exclamationmark.triangle"));
    }
}

MenuEntries MenuContent::entries() const
{
    AppModel *model = &m_model;
    const Environment environment = m_environment;
    const ModelCommands &commands = m_commands;
    const AudioSessionCoordinator &audio = m_model.audio();
    const bool visualActive = m_model.isVisualCaptureActive();
    const bool captureEnabled = !audio.isBusy() && !visualActive;
    const bool recording = audio.isRecording();

    MenuEntries entries;
    entries << MenuEntry { MenuEntry::Kind::heading, QStringLiteral("heading"),
        m_model.othersSourceTitle() + QStringLiteral(" · ") + m_model.menuStatusDetail(), {}, false, {}, {},
        {} };

    const MenuEntry audioCommand = command(QStringLiteral("audio"), m_model.audioMenuTitle(),
        recording ? QStringLiteral("stop.circle") : QStringLiteral("waveform"),
        audio.phase() != AudioSessionPhase::transcribing && !visualActive && commands.handleAudioInvocation,
        [environment, run = commands.handleAudioInvocation] {
            environment.dismiss();
            run();
        });
    const MenuEntry scrolling = command(QStringLiteral("scrolling"),
        QStringLiteral("Capture Scrolling Region…"), QStringLiteral("rectangle.arrowtriangle.2.outward"),
        captureEnabled && commands.startScrollingCapture,
        [model, environment, run = commands.startScrollingCapture] {
            model->rememberFrontmostApplication();
            environment.dismiss();
            run();
        });
    const MenuEntry cancel = command(QStringLiteral("cancel"), QStringLiteral("Cancel Capture"), {},
        bool(commands.cancelVisualCapture), [environment, run = commands.cancelVisualCapture] {
            environment.dismiss();
            run();
        });

    if (recording)
        entries << audioCommand;
    appendCaptureCommand(entries, captureEnabled);
    entries << scrolling;
    if (visualActive)
        entries << cancel;
    if (recording) {
        entries << note(QStringLiteral("meter"), audio.meterLine());
    } else {
        entries << audioCommand;
        entries << note(QStringLiteral("sources"),
            QStringLiteral("Sources: ") + m_model.othersSourceTitle() + QStringLiteral(" · ")
                + m_model.youSourceTitle());
    }
    if (audio.warning())
        entries << note(QStringLiteral("audio-warning"), *audio.warning());
    if (m_model.hasRecoverableDraft() && !m_model.reviewSession()) {
        entries << command(QStringLiteral("resume"), QStringLiteral("Resume Unfinished Capture…"),
            QStringLiteral("clock.arrow.circlepath"), true, [environment] {
                environment.openWindow(QStringLiteral("recovery"));
                environment.reveal();
            });
    }

    entries << separator(1);
    entries << command(QStringLiteral("recents"), QStringLiteral("Recent Captures…"), QStringLiteral("clock"),
        true, [environment] {
            environment.openWindow(QStringLiteral("recents"));
            environment.reveal();
        });
    entries << command(QStringLiteral("folder"), QStringLiteral("Open Capture Folder"),
        QStringLiteral("folder"), bool(commands.openCaptureFolder), commands.openCaptureFolder);

    entries << separator(2);
    entries << command(QStringLiteral("updates"), QStringLiteral("Check for Updates…"),
        QStringLiteral("arrow.down.circle"), true, [model, environment] {
            environment.dismiss();
            model->checkForUpdates();
            environment.reveal();
        });
    entries << command(QStringLiteral("feedback"), FeedbackMail::sendActionTitle(),
        QStringLiteral("envelope"), true, [model, environment] {
            environment.dismiss();
            model->sendFeedback();
        });
    MenuEntry settings = command(QStringLiteral("settings"), QStringLiteral("Settings…"),
        QStringLiteral("gearshape"), true, [environment] { environment.openSettings(); });
    settings.shortcut = QKeySequence(Qt::CTRL | Qt::Key_Comma);
    entries << settings;

    entries << separator(3);
    MenuEntry quit = command(QStringLiteral("quit"), QStringLiteral("Quit Quorvel"), {}, true,
        [environment] { environment.quit(); });
    quit.shortcut = QKeySequence(Qt::CTRL | Qt::Key_Q);
    entries << quit;
    return entries;
}

void MenuContent::presentRequestedWindow()
{
    const std::optional<QString> request = m_model.requestedWindow();
    if (!request || *request == QLatin1String("preferences") || *request == QLatin1String("settings"))
        return;
    m_environment.openWindow(*request);
    m_environment.reveal();
    m_model.clearRequestedWindow();
}
