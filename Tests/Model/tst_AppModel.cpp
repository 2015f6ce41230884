#include "ModelHarness.h"

#include "Documents/EncryptedDraft.h"
#include "Model/DraftFlow.h"
#include "Services/LaunchAtLoginService.h"
#include "TestSupport.h"

#include <QDir>

#include <QTest>

#include <sys/utsname.h>

using Status = LaunchAtLoginStatus;

namespace {

enum StoredDraft { noDraft, resumableDraft, alreadySavedDraft, corruptDraft };

QByteArray shortcutJson(quint32 keyCode, quint32 modifiers, const char *characters)
{
    return CaptureShortcut { keyCode, modifiers, QString::fromUtf8(characters) }.toJsonData();
}

// Launch at login with its first status read answered.
AppModel &madeWithLoginStatus(ModelHarness &h, Status status)
{
    AppModel &model = h.make();
    if (QTest::qWaitFor([&] { return h.statusCalls.size() == 1; }))
        h.statusCalls[0].resolve(status);
    if (!QTest::qWaitFor([&] { return model.launchAtLogin().status == status; }))
        qWarning("launch at login never read its status");
    return model;
}

void settle()
{
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
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
        QTest::newRow("first launch")
            << false << int(noDraft) << false << "setup" << false << "Ready" << false;
        QTest::newRow("draft offered")
            << true << int(resumableDraft) << false << "recovery" << true << "Ready" << true;
        QTest::newRow("setup before recovery")
            << false << int(resumableDraft) << false << "setup" << true << "Ready" << true;
        QTest::newRow("draft already saved")
            << true << int(alreadySavedDraft) << false << "" << false << "Ready" << false;
        QTest::newRow("corrupt draft") << true << int(corruptDraft) << false << "" << false
                                       << "An unfinished draft could not be opened" << true;
        QTest::newRow("audio self-test")
            << false << int(resumableDraft) << true << "" << true << "Ready" << true;
    }

    void startUp()
    {
        QFETCH(bool, setupComplete);
        QFETCH(int, draft);
        QFETCH(bool, audioSelfTest);
        QFETCH(QString, window);
        ModelHarness h;
        if (setupComplete) {
            AppSettings settings;
            settings.setupComplete = true;
            h.setSettings(settings);
        }
        if (draft != noDraft) {
            const CaptureDraft stored = h.storeDraft();
            if (draft == alreadySavedDraft)
                h.defaults->values.insert(
                    DraftFlow::lastSavedDraftIDKey, stored.id.toString(QUuid::WithoutBraces));
        }
        const QString draftFile = QDir(h.draftFolder()).filePath(EncryptedDraftStore::draftFileName);
        if (draft == corruptDraft)
            QVERIFY(TestSupport::writeFile(draftFile, QByteArray(64, 'x')));
        if (audioSelfTest)
            h.arguments << QStringLiteral("--audio-spike");

        AppModel &model = h.make();
        // The store starts after the model is made; recovery is offered only once it has.
        QVERIFY(model.requestedWindow() != QStringLiteral("recovery"));
        QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
        QVERIFY(h.context().drafts().store());
        QCOMPARE(model.requestedWindow().value_or(QString()), window);
        QTEST(model.pendingDraft().has_value(), "offered");
        QTEST(model.statusMessage(), "status");
        QTEST(QFile::exists(draftFile), "fileKept");
        QCOMPARE(h.activationInstalls, audioSelfTest ? 0 : 1);
        QCOMPARE(h.registered, QList<CaptureShortcut> { CaptureShortcut::defaultShortcut() });
        QCOMPARE(model.shortcutRegistration(), HotKeyRegistrationState::registered);
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

    void settingsWriteFailure_data()
    {
        QTest::addColumn<std::optional<QString>>("refusal");
        QTest::addColumn<QString>("status");
        QTest::newRow("written") << std::optional<QString>() << "Ready";
        QTest::newRow("disk full") << std::optional<QString>("no space is left on the disk")
                                   << "Settings could not be saved: no space is left on the disk";
    }

    void settingsWriteFailure()
    {
        QFETCH(std::optional<QString>, refusal);
        ModelHarness h;
        AppModel &model = h.make();
        h.defaults->refuseWrites = refusal;
        AppSettings settings = model.settings();
        settings.menuBarRecordingPresence = MenuBarRecordingPresence::compact;
        model.updateSettings(settings);
        QTEST(model.statusMessage(), "status");
        QCOMPARE(model.settings(), settings);
    }

    void launchAtLoginSwitchedTwice()
    {
        ModelHarness h;
        AppModel &model = madeWithLoginStatus(h, Status::notRegistered);
        model.applyLaunchAtLogin(true);
        QTRY_COMPARE(h.setCalls.size(), 1);
        model.applyLaunchAtLogin(false);
        QCOMPARE(model.launchAtLogin().status, Status::notRegistered);
        settle();
        // One change at a time: the second waits for the first.
        QCOMPARE(h.setCalls.size(), 1);
        h.setCalls[0].second.resolve(Status::enabled);
        QTRY_COMPARE(h.setCalls.size(), 2);
        QCOMPARE(h.setCalls[1].first, false);
        QCOMPARE(model.launchAtLogin().status, Status::notRegistered);
        h.setCalls[1].second.resolve(Status::requiresApproval);
        QTRY_COMPARE(model.launchAtLogin().status, Status::requiresApproval);
    }

    void launchAtLoginStaleRefresh()
    {
        ModelHarness h;
        AppModel &model = madeWithLoginStatus(h, Status::notRegistered);
        model.applicationDidBecomeActive();
        QTRY_COMPARE(h.statusCalls.size(), 2);
        model.applyLaunchAtLogin(true);
        h.statusCalls[1].resolve(Status::notRegistered);
        settle();
        QCOMPARE(model.launchAtLogin(), LaunchAtLoginPresentation::resolve(Status::enabled, std::nullopt));
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
            settle();
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
        QTest::newRow("above range") << 7 << false << false << 1;
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
        using A = AudioSessionPhase;
        using C = CapturePhase;
        constexpr auto ok = HotKeyRegistrationState::registered;
        constexpr auto taken = HotKeyRegistrationState::conflict;
        QTest::newRow("transcribing") << A::transcribing << C::review << false << taken << true << "status";
        QTest::newRow("audio failed, idle") << A::failed << C::idle << false << ok << false << "status";
        QTest::newRow("audio failed, review")
            << A::failed << C::review << true << ok << false << "Review open";
        QTest::newRow("reviewing audio")
            << A::reviewing << C::selecting << false << ok << false << "Review audio";
        QTest::newRow("recording") << A::recording << C::needsPermission << true << ok << false
                                   << "Recording";
        QTest::newRow("stopping") << A::stopping << C::idle << true << ok << false << "Recording";
        QTest::newRow("starting") << A::starting << C::idle << true << ok << false << "Starting recording";
        QTest::newRow("screen check failed")
            << A::saved << C::selecting << false << taken << true << "Screen Recording needed";
        QTest::newRow("held for permission")
            << A::idle << C::needsPermission << true << ok << false << "Screen Recording needed";
        QTest::newRow("selecting") << A::idle << C::selecting << true << taken << true << "Selecting region";
        QTest::newRow("recognizing") << A::idle << C::ocrProcessing << true << ok << false
                                     << "Recognizing text";
        QTest::newRow("needs OCR") << A::idle << C::needsOCR << true << ok << false << "Recognizing text";
        QTest::newRow("save failed") << A::idle << C::saveFailed << true << taken << false << "Review open";
        QTest::newRow("shortcut taken")
            << A::idle << C::saved << true << taken << true << "Shortcut unavailable";
        QTest::newRow("unfinished capture")
            << A::idle << C::canceled << true << ok << true << "Unfinished capture";
        QTest::newRow("ready") << A::idle << C::idle << true << ok << false << "Ready";
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

    void feedback_data()
    {
        QTest::addColumn<bool>("builds");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<bool>("diagnostics");
        QTest::addColumn<QStringList>("alerts");
        QTest::newRow("opened with diagnostics") << true << true << true << QStringList();
        QTest::newRow("opened without") << true << true << false << QStringList();
        QTest::newRow("no link") << false << true << true << QStringList { "Could not create Mail draft" };
        QTest::newRow("no mail client") << true << false << false << QStringList { "Could not open Mail" };
    }

    void feedback()
    {
        QFETCH(bool, diagnostics);
        ModelHarness h;
        QFETCH(bool, builds);
        h.mailLinkBuilds = builds;
        QFETCH(bool, opens);
        h.mailOpens = opens;
        AppModel &model = h.make();
        model.setIncludeFeedbackDiagnostics(diagnostics);
        model.sendFeedback();
        QTEST(h.alerts, "alerts");
        const FeedbackMail::Snapshot snapshot = model.feedbackSnapshot();
        QCOMPARE(snapshot.diagnostics.has_value(), diagnostics);
        if (diagnostics) {
            utsname machine {};
            QCOMPARE(::uname(&machine), 0);
            const QString arch = QString::fromLatin1(machine.machine);
            QCOMPARE(snapshot.diagnostics->architecture, arch == QLatin1String("aarch64") ? "arm64" : arch);
        }
    }
};

QTEST_MAIN(TestAppModel)
#include "tst_AppModel.moc"
