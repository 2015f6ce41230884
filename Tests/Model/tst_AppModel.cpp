#include "ModelHarness.h"

#include "Documents/EncryptedDraft.h"
#include "Model/DraftFlow.h"
#include "Model/WriteBehindDefaultsStore.h"
#include "Services/LaunchAtLoginService.h"
#include "TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/utsname.h>

using Status = LaunchAtLoginStatus;

namespace {

enum StoredDraft { noDraft, resumableDraft, alreadySavedDraft, corruptDraft, newerDraft };

QByteArray shortcutJson(quint32 keyCode, quint32 modifiers, const char *characters)
{
    return CaptureShortcut { keyCode, modifiers, QString::fromUtf8(characters) }.toJsonData();
}

// Launch at login with its first status read answered.
AppModel &madeWithLoginStatus(ModelHarness &h, Status status)
{
    AppModel &model = h.make();
    if (QTest::qWaitFor([&] { return h.statusCalls.size() == 1; }, TestSupport::patienceMs))
        h.statusCalls[0].resolve(status);
    ModelHarness::settle();
    return model;
}

} // namespace

class TestAppModel : public QObject
{
    Q_OBJECT

private slots:
    void startUp_data()
    {
        QTest::addColumn<bool>("setupComplete");
        QTest::addColumn<int>("draft");
        QTest::addColumn<bool>("audioSelfTest");
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("fileKept");
        QTest::addColumn<bool>("alerted");
        const QString unreadable = QStringLiteral("An unfinished draft could not be opened");
        QTest::newRow("first launch")
            << false << int(noDraft) << false << "setup" << false << "Ready" << false << false;
        QTest::newRow("draft offered")
            << true << int(resumableDraft) << false << "recovery" << true << "Ready" << true << false;
        QTest::newRow("setup before recovery")
            << false << int(resumableDraft) << false << "setup" << true << "Ready" << true << false;
        QTest::newRow("draft already saved")
            << true << int(alreadySavedDraft) << false << "" << false << "Ready" << false << false;
        QTest::newRow("corrupt draft")
            << true << int(corruptDraft) << false << "" << false << unreadable << true << true;
        QTest::newRow("corrupt draft, setup first")
            << false << int(corruptDraft) << false << "setup" << false << unreadable << true << true;
        QTest::newRow("corrupt draft, audio self-test")
            << true << int(corruptDraft) << true << "" << false << unreadable << true << false;
        QTest::newRow("audio self-test")
            << false << int(resumableDraft) << true << "" << true << "Ready" << true << false;
        const QString newer = QStringLiteral("An unfinished draft was written by a newer version of Quorvel");
        QTest::newRow("draft of a newer version")
            << true << int(newerDraft) << false << "" << false << newer << true << true;
        QTest::newRow("draft of a newer version, setup first")
            << false << int(newerDraft) << false << "setup" << false << newer << true << true;
    }

    void startUp()
    {
        QFETCH(bool, setupComplete);
        QFETCH(int, draft);
        QFETCH(bool, audioSelfTest);
        QFETCH(QString, window);
        ModelHarness h;
        AppSettings settings;
        settings.setupComplete = true;
        if (setupComplete)
            h.setSettings(settings);
        if (draft != noDraft) {
            const CaptureDraft stored = h.storeDraft();
            if (draft == alreadySavedDraft)
                h.defaults->values.insert(
                    DraftFlow::lastSavedDraftIDKey, stored.id.toString(QUuid::WithoutBraces));
        }
        const QString draftFile = QDir(h.draftFolder()).filePath(EncryptedDraftStore::draftFileName);
        if (draft == corruptDraft)
            QVERIFY(TestSupport::writeFile(draftFile, QByteArray(64, 'x')));
        if (draft == newerDraft)
            QVERIFY(!h.storeNewerDraft().isEmpty());
        const QByteArray stored = TestSupport::readFile(draftFile);
        if (audioSelfTest)
            h.arguments << QStringLiteral("--audio-spike");

        AppModel &model = h.make();
        // The store starts after the model is made; recovery is offered only once it has.
        QVERIFY(model.requestedWindow() != QStringLiteral("recovery"));
        QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
        QCOMPARE(model.requestedWindow().value_or(QString()), window);
        QTEST(model.pendingDraft().has_value(), "offered");
        QTEST(model.statusMessage(), "status");
        QFETCH(bool, fileKept);
        QCOMPARE(QFile::exists(draftFile), fileKept);
        if (fileKept && draft != resumableDraft)
            QCOMPARE(TestSupport::readFile(draftFile), stored);
        // Said once, naming the file that stays, however often the app becomes active again.
        model.applicationDidBecomeActive();
        model.applicationDidBecomeActive();
        QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
        QFETCH(bool, alerted);
        QFETCH(QString, status);
        QCOMPARE(h.alerts, alerted ? QStringList { status } : QStringList());
        if (alerted)
            QVERIFY(h.alertMessages.value(0).contains(draftFile));
        // Where the next capture will move it, so that it can be found there.
        if (draft == newerDraft)
            QVERIFY(h.alertMessages.value(0).contains(draftFile.chopped(7) + ".newer-1.sealed"));
        QCOMPARE(h.activationInstalls, audioSelfTest ? 0 : 1);
        QCOMPARE(h.registered, QList<CaptureShortcut> { CaptureShortcut::defaultShortcut() });
    }

    // An unreadable settings file is said once at start, and only a change the user makes may replace it.
    void unreadableSettingsSaidOnce_data()
    {
        QTest::addColumn<QString>("unreadable");
        QTest::addColumn<bool>("audioSelfTest");
        QTest::addColumn<QString>("change");
        QTest::newRow("readable") << "" << false << "advance";
        QTest::newRow("format error, setup step") << "s.ini has a format error" << false << "advance";
        QTest::newRow("a folder, shortcut") << "s.ini is a folder" << false << "shortcut";
        QTest::newRow("a FIFO, audio self-test") << "s.ini is not a regular file" << true << "advance";
    }

    void unreadableSettingsSaidOnce()
    {
        QFETCH(QString, unreadable);
        QFETCH(bool, audioSelfTest);
        QFETCH(QString, change);
        ModelHarness h;
        if (!unreadable.isEmpty())
            h.defaults->unreadable = unreadable;
        if (audioSelfTest)
            h.arguments << QStringLiteral("--audio-spike");
        AppModel &model = h.make();
        QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
        model.applicationDidBecomeActive();
        model.applicationDidBecomeActive();
        ModelHarness::settle();
        const bool said = !unreadable.isEmpty() && !audioSelfTest;
        QCOMPARE(h.alerts, said ? QStringList { "The settings could not be read" } : QStringList());
        if (said)
            QVERIFY(h.alertMessages.value(0).startsWith(unreadable + ". "));
        QCOMPARE(model.requestedWindow().value_or(QString()), audioSelfTest ? "" : "setup");
        // What the program writes by itself (permission rows on activation) replaces nothing.
        QVERIFY(!h.defaults->replaceAllowed);
        if (change == "advance")
            model.advanceOnboarding();
        else
            model.applyShortcut(CaptureShortcut::defaultShortcut());
        QVERIFY(h.defaults->replaceAllowed);
    }

    // The real suite over a file it cannot read: said once; the user's change is saved, survives a new
    // start, and the unreadable file stays beside it as it was.
    void unreadableSettingsFileReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        const QByteArray record = "app-settings-v1=\"{\\\"setupComplete\\\":true}\"";
        QTest::newRow("section never closed") << "file"
                                              << "[General\n" + record + "\n";
        QTest::newRow("a line that is no key") << "file"
                                               << "[General]\n" + record + "\nno value\n";
        QTest::newRow("a folder") << "folder" << QByteArray();
        QTest::newRow("a FIFO") << "fifo" << QByteArray();
    }

    void unreadableSettingsFileReplaced()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QTemporaryDir config;
        const QString suite = AppSettingsStore::suiteName(), path = config.filePath(suite + ".ini"),
                      aside = path + ".unreadable";
        if (kind == "file")
            QVERIFY(TestSupport::writeFile(path, content));
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(path + "/inside"));
        else
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        std::shared_ptr<WriteBehindDefaultsStore> store;
        {
            ModelHarness h;
            h.adjust = [&](ModelServices &services) {
                store = WriteBehindDefaultsStore::open(suite, config.path());
                services.defaults = store;
            };
            AppModel &model = h.make();
            QVERIFY(store);
            QCOMPARE(h.alerts, QStringList { "The settings could not be read" });
            QVERIFY(h.alertMessages.value(0).startsWith(path + ' '));
            model.advanceOnboarding();
            // Waited for, not run here: a wait on the future would take its turn ahead of the writes.
            const QFuture<void> written = store->written();
            QTRY_VERIFY(written.isFinished());
            QCOMPARE(store->readFailure(), std::nullopt);
            QCOMPARE(store->writeFailure(), std::nullopt);
            QCOMPARE(model.settingsWriteFailure(), std::nullopt);
        }
        store.reset();
        const std::shared_ptr<DefaultsStore> reopened = SettingsDefaultsStore::open(suite, config.path());
        QCOMPARE(reopened->readFailure(), std::nullopt);
        QCOMPARE(AppSettingsStore(reopened).load().onboardingStep, 1);
        const QFileInfo kept(aside);
        if (kind == "file")
            QCOMPARE(TestSupport::readFile(aside), content);
        else if (kind == "folder")
            QVERIFY(QFileInfo(aside + "/inside").isDir());
        else
            QVERIFY(kept.exists() && !kept.isFile() && !kept.isDir());
    }

    // A shortcut another program held is said to be unavailable until the hot key registers it on its
    // own; then the menu and the settings say so at once.
    void shortcutRegisteredLater_data()
    {
        QTest::addColumn<HotKeyRegistrationState>("later");
        QTest::addColumn<QString>("menuLine");
        QTest::newRow("the other program let go") << HotKeyRegistrationState::registered << "Ready";
        QTest::newRow("the display went away")
            << HotKeyRegistrationState::unavailable << "Shortcut unavailable";
    }

    void shortcutRegisteredLater()
    {
        QFETCH(HotKeyRegistrationState, later);
        ModelHarness h;
        h.hotKeyAnswer = HotKeyRegistrationState::conflict;
        AppModel &model = h.make();
        QCOMPARE(model.shortcutRegistration(), HotKeyRegistrationState::conflict);
        QCOMPARE(model.menuStatusDetail(), QStringLiteral("Shortcut unavailable"));
        QSignalSpy changed(&model, &AppModel::shortcutRegistrationChanged);
        QVERIFY(h.hotKeyChanged);
        h.hotKeyChanged(later);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(model.shortcutRegistration(), later);
        QCOMPARE(model.shortcutMessage(),
            HotKeyRegistrationStates::explanation(later, CaptureShortcut::defaultShortcut()));
        QTEST(model.menuStatusDetail(), "menuLine");
    }

    void storedShortcut_data()
    {
        const CaptureShortcut fallback = CaptureShortcut::defaultShortcut();
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<CaptureShortcut>("expected");
        QTest::addColumn<bool>("refused");
        QTest::newRow("absent") << QByteArray() << fallback << false;
        QTest::newRow("not JSON") << QByteArray("{\"keyCode\": 8,") << fallback << false;
        QTest::newRow("bare letter") << shortcutJson(8, 0, "c") << fallback << true;
        QTest::newRow("Space alone") << shortcutJson(0x31, 0, " ") << fallback << true;
        QTest::newRow("Alt+Tab") << shortcutJson(0x30, 0x800, "") << fallback << true;
        QTest::newRow("Shift+C") << shortcutJson(8, 0x200, "c") << fallback << true;
        QTest::newRow("unknown key") << shortcutJson(250, 0x1000, "") << fallback << true;
        QTest::newRow("Ctrl+Alt+K") << shortcutJson(0x28, 0x1800, "k")
                                    << CaptureShortcut { 0x28, 0x1800, "k" } << false;
    }

    void storedShortcut()
    {
        QFETCH(QByteArray, stored);
        QFETCH(CaptureShortcut, expected);
        QFETCH(bool, refused);
        ModelHarness h;
        if (!stored.isEmpty())
            h.defaults->values.insert(QStringLiteral("capture-shortcut-v1"), stored);
        AppModel &model = h.make();
        QCOMPARE(model.currentShortcut(), expected);
        // A refused shortcut is never grabbed, not even once.
        QCOMPARE(h.registered, QList<CaptureShortcut> { expected });
        QCOMPARE(model.shortcutMessage().startsWith(QStringLiteral("The saved shortcut ")), refused);
        QVERIFY(model.shortcutMessage().endsWith(
            HotKeyRegistrationStates::explanation(HotKeyRegistrationState::registered, expected)));
    }

    // A write the disk refuses is reported and published until a later write reaches the disk; what
    // the user chose stays in force meanwhile.
    void settingsWriteFailure_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("menuLine"); // the tray menu's status line while the write fails
        QTest::newRow("settings record") << "record"
                                         << "Settings could not be saved";
        QTest::newRow("shortcut") << "shortcut"
                                  << "Settings could not be saved";
        QTest::newRow("recent list") << "recent"
                                     << "The recent list could not be saved";
    }

    void settingsWriteFailure()
    {
        QFETCH(QString, change);
        const bool shortcut = change == "shortcut";
        ModelHarness h;
        AppModel &model = h.make();
        QSignalSpy published(&model, &AppModel::settingsWriteFailureChanged);
        const CaptureShortcut chosen { 0x28, 0x1800, "k" };
        int saved = 0;
        const auto makeChange = [&] {
            if (shortcut) {
                model.applyShortcut(chosen);
                return;
            }
            AppSettings settings = model.settings();
            if (change == "recent")
                settings.remember({ QUuid::createUuid(), QStringLiteral("note-%1.md").arg(++saved),
                    std::nullopt, QDateTime::currentDateTime() });
            else
                settings.menuBarRecordingPresence = MenuBarRecordingPresence::compact;
            model.updateSettings(settings);
        };
        QCOMPARE(model.menuStatusDetail(), QStringLiteral("Ready"));
        h.defaults->refuseWrites = QStringLiteral("no space is left on the disk");
        makeChange();
        QCOMPARE(model.statusMessage(),
            QStringLiteral("Settings could not be saved: no space is left on the disk"));
        QCOMPARE(model.settingsWriteFailure(), h.defaults->refuseWrites);
        QTEST(model.menuStatusDetail(), "menuLine");
        if (shortcut)
            QCOMPARE(model.currentShortcut(), chosen);
        else if (change == "record")
            QCOMPARE(model.settings().menuBarRecordingPresence, MenuBarRecordingPresence::compact);
        else
            QCOMPARE(model.settings().recent.size(), 1);
        // Activation while the disk still refuses changes nothing.
        model.applicationDidBecomeActive();
        QCOMPARE(published.size(), 1);
        QTEST(model.menuStatusDetail(), "menuLine");
        h.defaults->refuseWrites.reset();
        makeChange();
        QCOMPARE(model.settingsWriteFailure(), std::nullopt);
        QCOMPARE(published.size(), 2);
        QCOMPARE(model.menuStatusDetail(), QStringLiteral("Ready"));
    }

    // Changes reach the system one at a time and the last switch wins; a refresh that a change
    // overtook leaves the row alone.
    void launchAtLoginSwitchedTwice()
    {
        ModelHarness h;
        AppModel &model = madeWithLoginStatus(h, Status::notRegistered);
        model.applicationDidBecomeActive();
        QTRY_COMPARE(h.statusCalls.size(), 2);
        model.applyLaunchAtLogin(true);
        QTRY_COMPARE(h.setCalls.size(), 1);
        h.statusCalls[1].resolve(Status::notRegistered);
        ModelHarness::settle();
        QCOMPARE(model.launchAtLogin(), LaunchAtLoginPresentation::resolve(Status::enabled, std::nullopt));
        model.applyLaunchAtLogin(false);
        QCOMPARE(model.launchAtLogin().status, Status::notRegistered);
        ModelHarness::settle();
        QCOMPARE(h.setCalls.size(), 1);
        h.setCalls[0].second.resolve(Status::enabled);
        QTRY_COMPARE(h.setCalls.size(), 2);
        QCOMPARE(h.setCalls[1].first, false);
        QCOMPARE(model.launchAtLogin().status, Status::notRegistered);
        h.setCalls[1].second.resolve(Status::requiresApproval);
        QTRY_COMPARE(model.launchAtLogin().status, Status::requiresApproval);
    }

    void launchAtLoginErrorText()
    {
        ModelHarness h;
        AppModel &model = madeWithLoginStatus(h, Status::notRegistered);
        model.applyLaunchAtLogin(true);
        QTRY_COMPARE(h.setCalls.size(), 1);
        h.setCalls[0].second.reject(std::make_exception_ptr(LaunchAtLoginError(QStringLiteral("read-only"))));
        QTRY_COMPARE(h.statusCalls.size(), 2);
        h.statusCalls[1].resolve(Status::notRegistered);
        const auto failed = LaunchAtLoginPresentation::resolve(
            Status::notRegistered, LaunchAtLoginPresentation::updateFailedMessage());
        QTRY_COMPARE(model.launchAtLogin(), failed);
        for (const Status status : { Status::notRegistered, Status::enabled }) {
            model.applicationDidBecomeActive();
            QTRY_VERIFY(h.statusCalls.size() == (status == Status::enabled ? 4 : 3));
            h.statusCalls.last().resolve(status);
            ModelHarness::settle();
            QCOMPARE(model.launchAtLogin().errorMessage.has_value(), status == Status::notRegistered);
        }
    }

    void advanceOnboarding_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("testCapture");
        QTest::addColumn<int>("expected");
        QTest::newRow("privacy") << 0 << false << false << 1;
        QTest::newRow("folder chosen") << 1 << true << false << 2;
        QTest::newRow("folder missing") << 1 << false << false << 1;
        QTest::newRow("screen recording") << 2 << false << false << 3;
        QTest::newRow("shortcut") << 3 << false << false << 4;
        QTest::newRow("test capture done") << 4 << true << true << 4;
        QTest::newRow("test capture missing") << 4 << true << false << 4;
        QTest::newRow("below range") << -1 << false << false << 1;
        // A later version's step reads as the last one: it still waits for a test capture.
        QTest::newRow("above range") << 7 << false << false << 7;
        QTest::newRow("above range, test capture done") << 7 << true << true << 7;
    }

    void advanceOnboarding()
    {
        QFETCH(int, step);
        QFETCH(int, expected);
        ModelHarness h;
        AppSettings settings;
        settings.onboardingStep = step;
        if (QFETCH(bool, folder); folder)
            settings.defaultFolder = FolderAccess { QByteArray("bookmark"), h.dir.path() };
        QFETCH(bool, testCapture);
        settings.hasRunTestCapture = testCapture;
        h.setSettings(settings);
        AppModel &model = h.make();
        const int writes = h.defaults->writes;
        model.advanceOnboarding();
        QCOMPARE(model.settings().onboardingStep, expected);
        QCOMPARE(h.defaults->writes > writes, expected != step);
        QCOMPARE(AppSettingsStore(h.defaults).load().onboardingStep, expected);
    }

    void menuStatusDetail_data()
    {
        QTest::addColumn<AudioSessionPhase>("audio");
        QTest::addColumn<CapturePhase>("phase");
        QTest::addColumn<bool>("screen");
        QTest::addColumn<HotKeyRegistrationState>("hotKey");
        QTest::addColumn<bool>("draft");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, AudioSessionPhase audio, CapturePhase phase, bool screen,
                             bool hotKey, bool draft, const char *expected) {
            QTest::newRow(name) << audio << phase << screen
                                << (hotKey ? HotKeyRegistrationState::registered
                                           : HotKeyRegistrationState::conflict)
                                << draft << QString(expected);
        };
        using A = AudioSessionPhase;
        using C = CapturePhase;
        row("transcribing", A::transcribing, C::review, false, false, true, "status");
        row("audio failed, idle", A::failed, C::idle, false, true, false, "status");
        row("audio failed, review", A::failed, C::review, true, true, false, "Review open");
        row("reviewing audio", A::reviewing, C::selecting, false, true, false, "Review audio");
        row("recording", A::recording, C::needsPermission, true, true, false, "Recording");
        row("stopping", A::stopping, C::idle, true, true, false, "Recording");
        row("starting", A::starting, C::idle, true, true, false, "Starting recording");
        row("screen check failed", A::saved, C::selecting, false, false, true, "Screen Recording needed");
        row("held for permission", A::idle, C::needsPermission, true, true, false, "Screen Recording needed");
        row("selecting", A::idle, C::selecting, true, false, true, "Selecting region");
        row("recognizing", A::idle, C::ocrProcessing, true, true, false, "Recognizing text");
        row("needs OCR", A::idle, C::needsOCR, true, true, false, "Recognizing text");
        row("save failed", A::idle, C::saveFailed, true, false, false, "Review open");
        row("shortcut taken", A::idle, C::saved, true, false, true, "Shortcut unavailable");
        row("unfinished capture", A::idle, C::canceled, true, true, true, "Unfinished capture");
        row("ready", A::idle, C::idle, true, true, false, "Ready");
    }

    void menuStatusDetail()
    {
        QFETCH(AudioSessionPhase, audio);
        QFETCH(CapturePhase, phase);
        QFETCH(bool, draft);
        ModelHarness h;
        QFETCH(bool, screen);
        h.screenGranted = screen;
        QFETCH(HotKeyRegistrationState, hotKey);
        h.hotKeyAnswer = hotKey;
        AppModel &model = h.make();
        if (draft)
            h.context().drafts().setCurrentDraft(h.storeDraft());
        model.audio().setPhase(audio);
        h.context().setPhase(phase);
        if (audio != AudioSessionPhase::idle)
            h.context().setStatusMessage(QStringLiteral("status"));
        QTEST(model.menuStatusDetail(), "expected");
    }

    // The setup and settings windows' permission buttons, pressed while a capture waits for Screen
    // Recording: the status line repeats what the row found (or says the row was updated), and the
    // capture is let go once the screen can be read.
    void permissionActions_data()
    {
        for (const char *column : { "action", "status", "phase" })
            QTest::addColumn<QString>(column);
        QTest::addColumn<bool>("screen");
        const auto add
            = [](const char *name, const char *action, bool screen, const char *status, const char *phase) {
                  QTest::newRow(name) << QString(action) << QString(status) << QString(phase) << screen;
              };
        add("Request Access, the screen can be read", "request screen", true, "Screen Recording is allowed",
            "idle");
        add("Request Access on X11, still nothing to read", "request screen, x11", false,
            "Screen Recording is not available. Quorvel needs an X11 (Xorg) session to read the screen.",
            "needsPermission");
        add("Check Again, the screen can be read", "recheck screen", true,
            "Screen Recording is still allowed", "idle");
        add("Check Again on a row that offers none", "recheck screen", false, "Screen Recording updated",
            "needsPermission");
        add("Open Settings, nothing opens", "open screen settings", false,
            "System Settings could not be opened", "needsPermission");
        // It once said "Checking…" for good: the look answers after the button returns.
        add("Check Again, a microphone connected meanwhile", "recheck microphone", false,
            "Microphone is allowed", "needsPermission");
    }
    void permissionActions()
    {
        QFETCH(QString, action);
        QFETCH(bool, screen);
        ModelHarness h;
        // Request Access shows only while the screen cannot be read, Check Again only once it can.
        h.screenGranted = screen && action.startsWith("recheck");
        h.requestsOnlyRecheck = action.endsWith("x11");
        h.microphone = MicrophoneAuthorizationFact::denied;
        AppModel &model = h.make();
        QTRY_VERIFY(!model.permissions().microphone().isBusy);
        h.context().setPhase(CapturePhase::needsPermission);
        h.microphone = MicrophoneAuthorizationFact::authorized;
        h.screenGranted = screen;
        if (action.startsWith("request screen"))
            QVERIFY(ModelHarness::finish(model.requestPermission()));
        else if (action == "recheck screen")
            model.recheckPermission();
        else if (action == "open screen settings")
            QVERIFY(ModelHarness::finish(model.openScreenRecordingSettings()));
        else
            model.recheckMicrophonePermission();
        QFETCH(QString, status);
        QTRY_COMPARE(model.statusMessage(), status);
        QVERIFY(!model.permissions().microphone().isBusy);
        QTEST(CapturePhases::rawValue(model.phase()), "phase");
    }

    // No mail client: an alert says so. Diagnostics only when asked for, with this machine's own
    // architecture.
    void feedback_data()
    {
        QTest::addColumn<bool>("builds");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QStringList>("alerts");
        QTest::newRow("an email app opens the draft") << true << true << QStringList();
        QTest::newRow("no email app opens")
            << true << false << QStringList { "Could not open your email app" };
        QTest::newRow("the link cannot be built")
            << false << true << QStringList { "Could not create an email draft" };
    }
    void feedback()
    {
        QFETCH(bool, builds);
        QFETCH(bool, opens);
        ModelHarness h;
        h.mailLinkBuilds = builds;
        h.mailOpens = opens;
        AppModel &model = h.make();
        model.sendFeedback();
        QTEST(h.alerts, "alerts");
        QCOMPARE(h.opened.size(), builds ? 1 : 0);
        QVERIFY(!model.feedbackSnapshot().diagnostics);
        model.setIncludeFeedbackDiagnostics(true);
        utsname machine {};
        QCOMPARE(::uname(&machine), 0);
        const QString arch = QString::fromLatin1(machine.machine);
        QCOMPARE(model.feedbackSnapshot().diagnostics->architecture, arch == "aarch64" ? "arm64" : arch);
    }
};

QTEST_MAIN(TestAppModel)
#include "tst_AppModel.moc"
