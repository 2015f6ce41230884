#include "HeldAnswers.h"
#include "ModelHarness.h"
#include "TestAudioCapture.h"
#include "TestSupport.h"

#include "Settings/GeneralPane.h"
#include "Settings/PermissionCapabilityRow.h"
#include "Settings/PermissionsPane.h"
#include "Settings/PreferencesView.h"
#include "Settings/SetupView.h"
#include "Settings/VemiMenuPopUp.h"
#include "Settings/VemiSettingsToggle.h"
#include "Vemi/VemiDesign.h"

#include <QAbstractItemView>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTest>
#include <QThreadPool>

#include <atomic>

using namespace std::chrono_literals;

namespace {

const QString chat = QStringLiteral("org.example.Chat");
const QString player = QStringLiteral("org.example.Player");

enum class Act {
    refresh,
    activation,
    modelChange,
    openMenuRefresh,
    pickThisComputer,
    pickListed,
    pickMicrophone,
    toggleRecordYou,
    pickPresence
};

// Changes a person makes in the settings window; `activation` is the app coming to the front.
enum class Change { recordYou, presence, folder, shortcut, diagnostics, activation };

// The real model and settings window over fake services, with a catalog instead of the system's lists.
struct Rig : ModelHarness
{
    SettingsEnvironment environment;
    PreferencesAudioCatalog catalog;
    AppSettings settings;
    int relaunches = 0;
    std::unique_ptr<PreferencesView> view;

    Rig()
    {
        environment.relaunch = [this] { ++relaunches; };
        environment.reveal = [](QWidget *) {};
        catalog.apps = { { chat, QStringLiteral("Chat"), QString() },
            { player, QStringLiteral("Player"), QString() } };
        catalog.devices = { { 1, QStringLiteral("desk"), QStringLiteral("Desk Mic") },
            { 2, QStringLiteral("usb"), QStringLiteral("USB Mic") } };
        settings.setupComplete = true;
    }

    PreferencesView &open(SettingsPane pane = SettingsPane::general)
    {
        setSettings(settings);
        make();
        view = std::make_unique<PreferencesView>(*model, pane, catalog, environment);
        view->show();
        return *view;
    }
    template <typename T> T *find(const QString &id) const { return view->findChild<T *>(id); }
    int settingsWrites() const
    {
        return defaults->writesByKey.value(QString::fromLatin1(AppSettingsStore::key));
    }
    QJsonObject stored() const
    {
        return QJsonDocument::fromJson(
            defaults->values.value(QString::fromLatin1(AppSettingsStore::key)).toByteArray())
            .object();
    }
};

QStringList titles(const VemiMenuPopUp *popup)
{
    QStringList titles;
    for (const VemiPopUpItem &item : popup->items())
        titles << item.title;
    return titles;
}

// Through the open menu, as a person picks an entry.
void choose(VemiMenuPopUp *popup, const QString &title)
{
    popup->showPopup();
    QVERIFY(popup->view()->isVisible());
    const int row = popup->findText(title);
    QVERIFY(row >= 0);
    popup->view()->setCurrentIndex(popup->model()->index(row, 0));
    QTest::keyClick(popup->view(), Qt::Key_Return);
}

bool shown(const QWidget *widget)
{
    return widget && widget->isVisibleTo(widget->window());
}

} // namespace

class TestPreferencesView : public QObject
{
    Q_OBJECT

private slots:
    // Only the user's own changes are written: refreshes, activation, the model's own changes and an
    // open menu caught by a refresh write nothing; a pick or a click writes once.
    void writesOnlyUserChanges_data()
    {
        QTest::addColumn<Act>("act");
        QTest::addColumn<int>("writes");
        QTest::newRow("audio sources refreshed") << Act::refresh << 0;
        QTest::newRow("app activated") << Act::activation << 0;
        QTest::newRow("settings changed by the model") << Act::modelChange << 0;
        QTest::newRow("refresh while the menu is open") << Act::openMenuRefresh << 0;
        QTest::newRow("This Computer picked") << Act::pickThisComputer << 1;
        QTest::newRow("renamed listed app picked") << Act::pickListed << 1;
        QTest::newRow("microphone picked") << Act::pickMicrophone << 1;
        QTest::newRow("record-you clicked") << Act::toggleRecordYou << 1;
        QTest::newRow("presence picked") << Act::pickPresence << 1;
    }

    void writesOnlyUserChanges()
    {
        QFETCH(Act, act);
        QFETCH(int, writes);
        Rig rig;
        rig.settings.othersAudioBundleID = chat;
        rig.settings.othersAudioDisplayName = QStringLiteral("Old Chat");
        rig.open();
        auto *others = rig.find<VemiMenuPopUp>(QStringLiteral("settings.audio.others"));
        QVERIFY(QTest::qWaitForWindowExposed(rig.view.get()));
        QVERIFY(TestSupport::runPostedHops(4));
        const int before = rig.settingsWrites();
        const int rebuilds = others->rebuildCount();
        AppSettings changed = rig.model->settings();
        switch (act) {
        case Act::refresh:
            QVERIFY(ModelHarness::finish(rig.view->refreshAudioSources()));
            QCOMPARE(others->rebuildCount(), rebuilds);
            break;
        case Act::activation:
            rig.model->applicationDidBecomeActive();
            QVERIFY(TestSupport::runPostedHops(4));
            break;
        case Act::modelChange:
            changed.recordYouMicrophone = false;
            changed.menuBarRecordingPresence = MenuBarRecordingPresence::compact;
            rig.model->flowContext().setSettings(changed);
            QVERIFY(!rig.find<VemiSettingsToggle>(QStringLiteral("settings.audio.record-you"))->isOn());
            QCOMPARE(
                rig.find<VemiMenuPopUp>(QStringLiteral("settings.menubar.while-recording"))->currentText(),
                QStringLiteral("Compact icon"));
            break;
        case Act::openMenuRefresh:
            others->showPopup();
            changed.othersAudioBundleID = QStringLiteral("org.example.Gone");
            rig.model->flowContext().setSettings(changed);
            QVERIFY(TestSupport::runPostedHops(2));
            QVERIFY(others->view()->isVisible());
            QCOMPARE(others->rebuildCount(), rebuilds);
            others->hidePopup();
            QTRY_COMPARE(titles(others).last(), QStringLiteral("Old Chat"));
            break;
        case Act::pickThisComputer:
            choose(others, QStringLiteral("This Computer (everything playing)"));
            QVERIFY(!rig.stored().contains(QStringLiteral("othersAudioBundleID")));
            QVERIFY(!rig.stored().contains(QStringLiteral("othersAudioDisplayName")));
            break;
        case Act::pickListed:
            choose(others, QStringLiteral("Chat"));
            QCOMPARE(rig.stored().value(QStringLiteral("othersAudioDisplayName")).toString(),
                QStringLiteral("Chat"));
            break;
        case Act::pickMicrophone:
            choose(rig.find<VemiMenuPopUp>(QStringLiteral("settings.audio.microphone")),
                QStringLiteral("USB Mic"));
            QCOMPARE(rig.model->settings().microphoneDeviceUID, QStringLiteral("usb"));
            break;
        case Act::toggleRecordYou:
            QTest::mouseClick(
                rig.find<VemiSettingsToggle>(QStringLiteral("settings.audio.record-you")), Qt::LeftButton);
            QVERIFY(!rig.model->settings().recordYouMicrophone);
            break;
        case Act::pickPresence:
            choose(rig.find<VemiMenuPopUp>(QStringLiteral("settings.menubar.while-recording")),
                QStringLiteral("Compact icon"));
            QCOMPARE(rig.model->settings().menuBarRecordingPresence, MenuBarRecordingPresence::compact);
            break;
        }
        QVERIFY(TestSupport::runPostedHops(2));
        QCOMPARE(rig.settingsWrites() - before, writes);
    }

    // A change the disk refused is said below the pane, whichever pane it was made in, and stays in
    // force; the line goes with the next write that reaches the disk, or when the app comes to the front
    // and finds the settings written meanwhile. A change kept only in memory writes nothing to refuse.
    void failedWriteShown_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("said");
        QTest::addColumn<Change>("then");
        QTest::newRow("record-you, then presence") << Change::recordYou << true << Change::presence;
        QTest::newRow("presence, then folder") << Change::presence << true << Change::folder;
        QTest::newRow("folder, then shortcut") << Change::folder << true << Change::shortcut;
        QTest::newRow("shortcut, then record-you") << Change::shortcut << true << Change::recordYou;
        QTest::newRow("presence, then written meanwhile") << Change::presence << true << Change::activation;
        QTest::newRow("diagnostics, kept in memory") << Change::diagnostics << false << Change::activation;
    }

    void failedWriteShown()
    {
        QFETCH(Change, change);
        QFETCH(bool, said);
        QFETCH(Change, then);
        Rig rig;
        const QString chosen = rig.dir.filePath(QStringLiteral("chosen"));
        QVERIFY(QDir().mkpath(chosen));
        rig.environment.folderPicker.present
            = [&](QWidget *, const std::optional<QString> &, const QString &, const QString &) {
                  return answeredAtOnce(std::optional(chosen));
              };
        rig.defaults->values.insert(
            QStringLiteral("capture-shortcut-v1"), CaptureShortcut { 0x28, 0x1800, "k" }.toJsonData());
        rig.open();
        QVERIFY(QTest::qWaitForWindowExposed(rig.view.get()));
        auto *line = rig.find<VemiStatusLabel>(QStringLiteral("settings.write-failure"));
        QVERIFY(!shown(line));
        const auto make = [&](Change what) {
            const auto click = [&](const char *id) {
                QTest::mouseClick(rig.find<QWidget>(QString::fromLatin1(id)), Qt::LeftButton);
            };
            switch (what) {
            case Change::recordYou:
                click("settings.rail.general");
                click("settings.audio.record-you");
                return rig.model->settings().recordYouMicrophone == false;
            case Change::presence:
                click("settings.rail.general");
                choose(rig.find<VemiMenuPopUp>(QStringLiteral("settings.menubar.while-recording")),
                    QStringLiteral("Compact icon"));
                return rig.model->settings().menuBarRecordingPresence == MenuBarRecordingPresence::compact;
            case Change::folder:
                click("settings.rail.general");
                click("settings.folder.choose");
                return QTest::qWaitFor(
                    [&] {
                        const std::optional<FolderAccess> &folder = rig.model->settings().defaultFolder;
                        return folder && folder->displayPath == chosen;
                    },
                    TestSupport::patienceMs);
            case Change::shortcut:
                click("settings.rail.shortcuts");
                click("settings.shortcuts.use-default");
                return rig.model->currentShortcut() == CaptureShortcut::defaultShortcut();
            case Change::diagnostics:
                click("settings.rail.general");
                click("settings.feedback.diagnostics");
                return rig.model->includeFeedbackDiagnostics();
            case Change::activation:
                rig.model->applicationDidBecomeActive();
                return true;
            }
            return false;
        };
        rig.defaults->refuseWrites = QStringLiteral("the folder /home/ada/.config is read-only");
        QVERIFY(make(change));
        QCOMPARE(shown(line), said);
        if (said) {
            QCOMPARE(line->text(),
                QStringLiteral("Couldn't save settings: the folder /home/ada/.config is read-only. "
                               "Your change applies until Quorvel quits."));
            // Still there on the other panes.
            for (const SettingsPane pane : SettingsPanes::allCases) {
                rig.view->setPane(pane);
                QVERIFY(shown(line));
            }
        }
        rig.defaults->refuseWrites.reset();
        QVERIFY(make(then));
        QVERIFY(!shown(line));
    }

    // The Others menu: the whole computer first, the listed applications, and a saved application the
    // list lacks as a last entry named by what was stored; the warning only for a saved one not running.
    void othersEntries_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("savedName");
        QTest::addColumn<QStringList>("running");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("warns");
        const QString computer = QStringLiteral("This Computer (everything playing)");
        const QStringList listed { computer, QStringLiteral("Chat"), QStringLiteral("Player") };
        QTest::newRow("nothing saved") << QString() << QString() << QStringList() << listed << false;
        QTest::newRow("listed, not running")
            << player << QStringLiteral("Player") << QStringList() << listed << true;
        QTest::newRow("listed, a helper runs")
            << player << QStringLiteral("Player") << QStringList { player + QStringLiteral(".helper") }
            << listed << false;
        QTest::newRow("orphan with a name")
            << QStringLiteral("org.example.Gone") << QStringLiteral("Gone App") << QStringList()
            << (QStringList(listed) << QStringLiteral("Gone App")) << true;
        QTest::newRow("orphan without a name")
            << QStringLiteral("org.example.Gone") << QString()
            << QStringList { QStringLiteral("org.example.Gone") }
            << (QStringList(listed) << QStringLiteral("org.example.Gone")) << false;
    }

    void othersEntries()
    {
        QFETCH(QString, saved);
        QFETCH(QString, savedName);
        QFETCH(QStringList, running);
        QFETCH(QStringList, entries);
        QFETCH(bool, warns);
        Rig rig;
        if (!saved.isEmpty())
            rig.settings.othersAudioBundleID = saved;
        rig.settings.othersAudioDisplayName = savedName;
        rig.catalog.runningBundleIDs = QSet<QString>(running.begin(), running.end());
        rig.open();
        auto *others = rig.find<VemiMenuPopUp>(QStringLiteral("settings.audio.others"));
        QCOMPARE(titles(others), entries);
        QCOMPARE(others->selectedID(), saved.isEmpty() ? std::nullopt : std::optional<QString>(saved));
        QCOMPARE(shown(rig.find<QWidget>(QStringLiteral("settings.audio.others-unavailable"))), warns);
        // Every entry, "This Computer (everything playing)" too, reads whole in the closed pop-up: the
        // row makes room for the widest rather than cut it.
        QTRY_COMPARE(others->width(), std::max(200, others->sizeHint().width()));
        for (const QString &entry : entries)
            QVERIFY2(others->fontMetrics().horizontalAdvance(entry) + 8 + 24 <= others->width(),
                qPrintable(entry));
    }

    // The missing-microphone warning needs record-you on, a saved microphone and none of that name.
    void microphoneWarning_data()
    {
        QTest::addColumn<bool>("recordYou");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<bool>("warns");
        QTest::newRow("connected") << true << QStringLiteral("usb") << false;
        QTest::newRow("not connected") << true << QStringLiteral("gone") << true;
        QTest::newRow("not connected, record-you off") << false << QStringLiteral("gone") << false;
        QTest::newRow("system default") << true << QString() << false;
    }

    void microphoneWarning()
    {
        QFETCH(bool, recordYou);
        QFETCH(QString, saved);
        QFETCH(bool, warns);
        Rig rig;
        rig.settings.recordYouMicrophone = recordYou;
        if (!saved.isEmpty())
            rig.settings.microphoneDeviceUID = saved;
        rig.open();
        QCOMPARE(shown(rig.find<QWidget>(QStringLiteral("settings.audio.microphone-missing"))), warns);
        auto *microphone = rig.find<VemiMenuPopUp>(QStringLiteral("settings.audio.microphone"));
        QCOMPARE(microphone->isEnabledTo(rig.view.get()), recordYou);
        QCOMPARE(microphone->currentText(),
            saved == QLatin1String("usb") ? QStringLiteral("USB Mic") : QStringLiteral("System Default"));
    }

    // While a session records, the audio rows are disabled and the other rows are not; the recording's
    // ticks write nothing and rebuild nothing.
    void recordingDisablesAudioRows()
    {
        TestAudioCapture capture;
        ManualTaskClock clock;
        Rig rig;
        const QString notes = rig.dir.filePath(QStringLiteral("notes"));
        QDir().mkpath(notes);
        rig.settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(notes));
        rig.makeAudio = [&] {
            AudioSessionCoordinator::Environment environment;
            environment.engines = capture.factory();
            environment.clock = &clock;
            return std::make_unique<AudioSessionCoordinator>(environment);
        };
        rig.open();
        QVERIFY(ModelHarness::finish(rig.model->handleAudioInvocation()));
        QTRY_VERIFY(rig.model->audio().isRecording());
        const int before = rig.settingsWrites();
        auto *others = rig.find<VemiMenuPopUp>(QStringLiteral("settings.audio.others"));
        const int rebuilds = others->rebuildCount();
        for (int tick = 0; tick < 8; ++tick) {
            clock.advance(250ms);
            QVERIFY(TestSupport::runPostedHops(2));
        }
        QVERIFY(rig.model->audio().elapsed() >= 1.0);
        QCOMPARE(rig.settingsWrites(), before);
        QCOMPARE(others->rebuildCount(), rebuilds);
        for (const char *id : { "settings.audio.others", "settings.audio.choose-another-app",
                 "settings.audio.record-you", "settings.audio.microphone" })
            QVERIFY2(!rig.find<QWidget>(QString::fromLatin1(id))->isEnabledTo(rig.view.get()), id);
        for (const char *id :
            { "settings.feedback.send", "settings.folder.choose", "settings.menubar.while-recording" })
            QVERIFY2(rig.find<QWidget>(QString::fromLatin1(id))->isEnabledTo(rig.view.get()), id);
        QVERIFY(ModelHarness::finish(rig.model->handleAudioInvocation()));
        QTRY_VERIFY(!rig.model->audio().isRecording());
        QTRY_VERIFY(others->isEnabledTo(rig.view.get()));
    }

    // Record Audio refused because the saved Others application does not run: the menu's status says
    // why instead of "Ready", and the settings window, new or already open on another pane, shows the
    // General pane scrolled to the Others row and the line that says why, the row's choice focused.
    void refusedRecordingShowsOthersRow_data()
    {
        QTest::addColumn<bool>("recordAnother");
        QTest::addColumn<bool>("alreadyOpen");
        QTest::newRow("record command, settings closed") << false << false;
        QTest::newRow("record command, settings open on Permissions") << false << true;
        QTest::newRow("record another, settings closed") << true << false;
    }

    void refusedRecordingShowsOthersRow()
    {
        QFETCH(bool, recordAnother);
        QFETCH(bool, alreadyOpen);
        Rig rig;
        rig.settings.othersAudioBundleID = player;
        rig.settings.othersAudioDisplayName = QStringLiteral("Player");
        rig.settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(rig.dir.path()));
        rig.setSettings(rig.settings);
        rig.make();
        // As the shell opens a requested window: made when there is none, at the window's size.
        const auto openRequested = [&rig] {
            if (!rig.model->requestedWindow())
                return;
            if (!rig.view) {
                rig.view = std::make_unique<PreferencesView>(
                    *rig.model, SettingsPane::general, rig.catalog, rig.environment);
                rig.view->resize(700, 500);
            }
            rig.view->show();
            rig.model->clearRequestedWindow();
        };
        QObject::connect(rig.model.get(), &AppModel::requestedWindowChanged, rig.model.get(), openRequested);
        if (alreadyOpen) {
            rig.view = std::make_unique<PreferencesView>(
                *rig.model, SettingsPane::permissions, rig.catalog, rig.environment);
            rig.view->resize(700, 500);
            rig.view->show();
        }
        QCOMPARE(rig.model->menuStatusDetail(), QStringLiteral("Ready"));

        QVERIFY(ModelHarness::finish(
            recordAnother ? rig.model->startAudioRecording() : rig.model->handleAudioInvocation()));
        QCOMPARE(rig.model->menuStatusDetail(), QStringLiteral("Player isn't running"));
        QTRY_VERIFY(rig.view && rig.view->isVisible());
        QCOMPARE(rig.view->pane(), SettingsPane::general);
        auto *scroll = rig.view->findChild<QScrollArea *>();
        auto *line = rig.find<VemiStatusLabel>(QStringLiteral("settings.audio.others-unavailable"));
        auto *others = rig.find<VemiMenuPopUp>(QStringLiteral("settings.audio.others"));
        QVERIFY(scroll && line && others);
        QCOMPARE(line->text(), QStringLiteral("Player isn't running"));
        const auto inView = [scroll](const QWidget *widget) {
            const QRect shown(widget->mapTo(scroll->viewport(), QPoint(0, 0)), widget->size());
            return shown.height() > 0 && scroll->viewport()->rect().contains(shown);
        };
        QTRY_VERIFY(inView(line) && inView(others));
        QTRY_COMPARE(rig.view->focusWidget(), others);
        QVERIFY(!rig.model->refusedOthersSource());
    }

    // Without an update feed the switch cannot turn on and "Check Now…" cannot find anything: both are
    // off, with the reason beside them; asked from the tray, the check answers with the same reason.
    // With a feed both work as usual and nothing is said.
    void updatesSayWhetherTheyCanWork_data()
    {
        QTest::addColumn<bool>("feed");
        QTest::newRow("no update feed") << false;
        QTest::newRow("an update feed") << true;
    }

    void updatesSayWhetherTheyCanWork()
    {
        QFETCH(bool, feed);
        Rig rig;
        int checks = 0;
        bool automatic = false;
        rig.adjust = [&](ModelServices &services) {
            if (!feed)
                return;
            services.softwareUpdate.isAvailable = true;
            services.softwareUpdate.automaticallyChecks = [&] { return automatic; };
            services.softwareUpdate.setAutomaticallyChecks = [&](bool on) { automatic = on; };
            services.softwareUpdate.checkForUpdates = [&] { ++checks; };
        };
        rig.open();
        auto *toggle = rig.find<VemiSettingsToggle>(QStringLiteral("settings.updates.automatic"));
        auto *checkNow = rig.find<QAbstractButton>(QStringLiteral("settings.updates.check-now"));
        auto *reason = rig.find<VemiStatusLabel>(QStringLiteral("settings.updates.unavailable"));
        QCOMPARE(toggle->isEnabledTo(rig.view.get()), feed);
        QCOMPARE(checkNow->isEnabledTo(rig.view.get()), feed);
        QCOMPARE(shown(reason), !feed);
        QVERIFY(reason->text().contains(QStringLiteral("no update feed")));
        if (feed) {
            toggle->click();
            QVERIFY(toggle->isChecked());
            checkNow->click();
            QCOMPARE(checks, 1);
        }
        rig.model->checkForUpdates();
        QCOMPARE(rig.alerts.contains(SoftwareUpdateService::unavailableTitle()), !feed);
        QCOMPARE(rig.alertMessages.contains(SoftwareUpdateService::unavailableMessage()), !feed);
    }

    // Which buttons a row shows follows its flags and the actions the pane gives it: System Audio gets
    // only Open Settings, the Microphone never a relaunch, and Request and Check Again never show together.
    void permissionButtons_data()
    {
        QTest::addColumn<PermissionKind>("kind");
        QTest::addColumn<bool>("request");
        QTest::addColumn<bool>("check");
        QTest::addColumn<bool>("relaunch");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QStringList>("buttons");
        using K = PermissionKind;
        QTest::newRow("screen: request yields nothing to check")
            << K::screenRecording << true << true << false << false << QStringList { "request", "open" };
        QTest::newRow("screen: request and relaunch") << K::screenRecording << true << false << true << false
                                                      << QStringList { "request", "quit", "open" };
        QTest::newRow("screen: check again")
            << K::screenRecording << false << true << false << false << QStringList { "check", "open" };
        QTest::newRow("scrolling: relaunch over check")
            << K::controlScrolling << false << true << true << true << QStringList { "quit", "open" };
        QTest::newRow("system audio: settings only")
            << K::systemAudio << true << true << true << false << QStringList { "open" };
        QTest::newRow("microphone: no relaunch")
            << K::microphone << false << true << true << false << QStringList { "check", "open" };
        QTest::newRow("microphone: request")
            << K::microphone << true << false << false << true << QStringList { "request", "open" };
    }

    void permissionButtons()
    {
        QFETCH(PermissionKind, kind);
        QFETCH(bool, request);
        QFETCH(bool, check);
        QFETCH(bool, relaunch);
        QFETCH(bool, busy);
        QFETCH(QStringList, buttons);
        Rig rig;
        rig.open(SettingsPane::permissions);
        QTRY_VERIFY(!rig.model->permissions().microphone().isBusy);
        QVERIFY(TestSupport::runPostedHops(4));
        PermissionCapabilityRow *row = rig.view->permissionsPane()->row(kind);
        PermissionController::RowState state = rig.model->permissions().row(kind);
        state.presentation.showsRequestAccess = request;
        state.presentation.showsCheckAgain = check;
        state.presentation.mayNeedRelaunch = relaunch;
        state.presentation.showsOpenSettings = true;
        state.isBusy = busy;
        row->setRow(state);
        const QString stem = PermissionCapabilityRow::identifierStem(kind);
        QStringList visible;
        for (const char *suffix : { "request", "quit", "check", "open" }) {
            auto *button = row->findChild<QAbstractButton *>(stem + QLatin1Char('.') + QLatin1String(suffix));
            if (shown(button)) {
                visible << QLatin1String(suffix);
                QCOMPARE(button->isEnabled(), !busy);
            }
        }
        QCOMPARE(visible, buttons);
        if (buttons.contains(QLatin1String("quit")) && !busy) {
            row->findChild<QAbstractButton *>(stem + QStringLiteral(".quit"))->click();
            QCOMPARE(rig.relaunches, 1);
        }
    }

    // No two controls of the settings window share an identifier, even with every button showing.
    void identifiersAreUnique()
    {
        Rig rig;
        rig.open(SettingsPane::permissions);
        for (const PermissionKind kind : PermissionKinds::allCases) {
            PermissionController::RowState state = rig.model->permissions().row(kind);
            state.presentation.showsRequestAccess = state.presentation.mayNeedRelaunch = true;
            state.feedback
                = PermissionFeedback { QStringLiteral("Checking…"), PermissionFeedbackTone::checking };
            rig.view->permissionsPane()->row(kind)->setRow(state);
        }
        QStringList seen;
        for (const QWidget *widget : rig.view->findChildren<QWidget *>()) {
            if (!widget->objectName().startsWith(QLatin1String("settings.")))
                continue;
            QVERIFY2(!seen.contains(widget->objectName()), qPrintable(widget->objectName()));
            seen << widget->objectName();
        }
        QVERIFY(seen.contains(QStringLiteral("settings.permission.scrolling.quit")));
        QVERIFY(seen.contains(QStringLiteral("settings.feedback.send")));
    }

    // What the permission rows and the setup's permission step say on Linux, in each state a desktop
    // session can be in and after each action, names no other system and sends nobody to a privacy
    // list that does not exist.
    void permissionTextsTrueOnLinux_data()
    {
        QTest::addColumn<bool>("x11");
        QTest::addColumn<bool>("xtest");
        QTest::addColumn<MicrophoneAuthorizationFact>("microphone");
        QTest::addColumn<bool>("audioFailed");
        QTest::newRow("everything works") << true << true << MicrophoneAuthorizationFact::authorized << false;
        QTest::newRow("no X11") << false << false << MicrophoneAuthorizationFact::authorized << true;
        QTest::newRow("no XTEST, no microphone")
            << true << false << MicrophoneAuthorizationFact::denied << false;
        QTest::newRow("no sound server") << true << true << MicrophoneAuthorizationFact::unknown << true;
    }

    void permissionTextsTrueOnLinux()
    {
        QFETCH(bool, x11);
        QFETCH(bool, xtest);
        QFETCH(MicrophoneAuthorizationFact, microphone);
        QFETCH(bool, audioFailed);
        Rig rig;
        rig.requestsOnlyRecheck = true;
        rig.screenGranted = x11;
        rig.scrollingGranted = xtest;
        rig.microphone = microphone;
        rig.defaults->setBoolean(PermissionController::systemAudioAttemptedKey, audioFailed);
        rig.open(SettingsPane::permissions);
        SetupView setup(*rig.model, rig.environment);
        rig.model->flowContext().setSettings([&] {
            AppSettings settings = rig.model->settings();
            settings.onboardingStep = int(OnboardingStep::screenRecording);
            return settings;
        }());
        const QRegularExpression untrue(
            QStringLiteral("macOS|\\bMac\\b|Accessibility|allow Quorvel|Quorvel is on|"
                           "permission was denied|let the desktop ask|prompt|Open Settings to change"),
            QRegularExpression::CaseInsensitiveOption);
        QStringList said;
        const auto collect = [&] {
            for (QWidget *root :
                { static_cast<QWidget *>(rig.view->permissionsPane()), static_cast<QWidget *>(&setup) })
                for (const QWidget *widget : root->findChildren<QWidget *>()) {
                    if (!shown(widget))
                        continue;
                    if (const auto *label = qobject_cast<const QLabel *>(widget))
                        said << label->text();
                    said << widget->toolTip() << widget->accessibleName();
                }
        };
        QTRY_VERIFY(!rig.model->permissions().microphone().isBusy);
        collect();
        // Every action a row offers, and what each one leaves behind.
        for (const char *id : { "settings.permission.screen.request", "settings.permission.scrolling.request",
                 "settings.permission.screen.check", "settings.permission.scrolling.check",
                 "settings.permission.microphone.check", "settings.permission.system-audio.open" }) {
            if (auto *button = rig.find<QAbstractButton>(QString::fromLatin1(id)); shown(button)) {
                button->click();
                QTRY_VERIFY(!rig.model->permissions().screen().isBusy
                    && !rig.model->permissions().scrolling().isBusy
                    && !rig.model->permissions().microphone().isBusy);
                QVERIFY(TestSupport::runPostedHops(4));
                collect();
            }
        }
        for (const QString &text : said)
            QVERIFY2(!untrue.match(text).hasMatch(), qPrintable(text));
    }
    // The lists the window reads on workers answer in any order: an older read never replaces
    // what a newer one already showed.
    void olderListsAnswerLate_data()
    {
        QTest::addColumn<QString>("list");
        QTest::newRow("an older application list overwrites a newer one") << "apps";
        QTest::newRow("an older microphone list overwrites a newer one") << "devices";
        QTest::newRow("an older answer about the Others application overwrites a newer one") << "running";
    }
    void olderListsAnswerLate()
    {
        QFETCH(QString, list);
        HeldAnswers<QList<AudioCaptureApp>> apps;
        HeldAnswers<QList<AudioInputDevice>> devices;
        HeldAnswers<bool> running;
        // Until set, the readers answer at once with nothing listed and nothing running, so that a
        // newer answer that the application runs shows.
        std::atomic<bool> holding = false;
        Rig rig;
        const QList<AudioCaptureApp> older { { chat, QStringLiteral("Chat"), QString() } };
        const QList<AudioCaptureApp> newer = rig.catalog.apps;
        const QList<AudioInputDevice> olderDevices { rig.catalog.devices.first() };
        const QList<AudioInputDevice> newerDevices = rig.catalog.devices;
        rig.settings.othersAudioBundleID = chat;
        rig.environment.listApplications = [&] { return holding ? apps.wait() : QList<AudioCaptureApp>(); };
        rig.environment.listInputDevices
            = [&] { return holding ? devices.wait() : QList<AudioInputDevice>(); };
        rig.environment.isFamilyRunning = [&](const QString &) { return holding ? running.wait() : false; };
        rig.setSettings(rig.settings);
        rig.make();
        rig.view = std::make_unique<PreferencesView>(
            *rig.model, SettingsPane::general, std::nullopt, rig.environment);
        PreferencesView &view = *rig.view;
        view.show();
        // The reads of showing and activating the window are done before the race begins.
        QVERIFY(QTest::qWaitForWindowActive(&view));
        ModelHarness::settle();
        QThreadPool::globalInstance()->waitForDone();
        ModelHarness::settle();
        holding = true;
        if (list == "apps") {
            running.answerAll(true);
            view.refreshAudioSources();
            QVERIFY(devices.waitForCalls(1));
            devices.answer(0, newerDevices);
            QVERIFY(apps.waitForCalls(1));
            // Two looks at the applications alone after the whole read; the last one answers first.
            view.refreshListedApps();
            QVERIFY(apps.waitForCalls(2));
            view.refreshListedApps();
            QVERIFY(apps.waitForCalls(3));
            apps.answer(2, newer);
            QTRY_COMPARE(view.listedApps(), newer);
            apps.answer(1, older);
            apps.answer(0, older);
        } else if (list == "devices") {
            apps.answerAll(newer);
            running.answerAll(true);
            view.refreshAudioSources();
            QVERIFY(devices.waitForCalls(1));
            view.refreshAudioSources();
            QVERIFY(devices.waitForCalls(2));
            devices.answer(1, newerDevices);
            QTRY_COMPARE(view.inputDevices(), newerDevices);
            devices.answer(0, olderDevices);
        } else {
            devices.answerAll(newerDevices);
            view.refreshAudioSources();
            QVERIFY(apps.waitForCalls(1));
            apps.answer(0, older);
            QVERIFY(running.waitForCalls(1));
            // Each changed list asks again whether the application runs; the last one answers first.
            view.refreshListedApps();
            QVERIFY(apps.waitForCalls(2));
            apps.answer(1, older);
            QVERIFY(running.waitForCalls(2));
            view.refreshListedApps();
            QVERIFY(apps.waitForCalls(3));
            apps.answer(2, newer);
            QVERIFY(running.waitForCalls(3));
            running.answer(2, true);
            QTRY_VERIFY(view.listedApps() == newer && !view.othersSourceUnavailable());
            running.answer(1, false);
            running.answer(0, false);
        }
        QThreadPool::globalInstance()->waitForDone();
        ModelHarness::settle();
        QCOMPARE(view.listedApps(), newer);
        QCOMPARE(view.inputDevices(), newerDevices);
        QVERIFY(!view.othersSourceUnavailable());
    }
};

QTEST_MAIN(TestPreferencesView)
#include "tst_PreferencesView.moc"
