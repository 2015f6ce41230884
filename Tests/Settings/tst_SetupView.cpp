#include "ModelHarness.h"
#include "TestSupport.h"

#include "Settings/SetupView.h"
#include "Settings/ShortcutRecorder.h"
#include "Vemi/VemiDesign.h"

#include <QAbstractButton>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <climits>

namespace {

// The real model and the setup window over fake services.
struct Rig : ModelHarness
{
    SettingsEnvironment environment;
    AppSettings settings;
    std::unique_ptr<SetupView> view;

    Rig()
    {
        environment.reveal = [](QWidget *) {};
    }

    // `requested`: as when the setup window is asked for explicitly.
    SetupView &open(bool requested = false)
    {
        setSettings(settings);
        make();
        if (requested)
            model->flowContext().setupPresentation().prepareExplicitPresentation();
        view = std::make_unique<SetupView>(*model, environment);
        view->show();
        return *view;
    }
    template <typename T> T *find(const QString &id) const { return view->findChild<T *>(id); }
    QJsonObject stored() const
    {
        return QJsonDocument::fromJson(
            defaults->values.value(QString::fromLatin1(AppSettingsStore::key)).toByteArray())
            .object();
    }
    int storedStep() const { return stored().value(QStringLiteral("onboardingStep")).toInt(); }
    bool shows(const char *id) const
    {
        const auto *widget = find<QWidget>(QString::fromLatin1(id));
        return widget && widget->isVisibleTo(view.get());
    }
};

} // namespace

class TestSetupView : public QObject
{
    Q_OBJECT

private slots:
    // A stored step below 0 is the first step, untouched until Continue stores the folder step; one
    // above 4 (a later version's) is the last step, untouched.
    void invalidStepReadsAsNearest_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("shown");
        QTest::newRow("-1") << -1 << 0;
        QTest::newRow("5") << 5 << 4;
        QTest::newRow("INT_MAX") << INT_MAX << 4;
    }

    void invalidStepReadsAsNearest()
    {
        QFETCH(int, stored);
        QFETCH(int, shown);
        Rig rig;
        rig.settings.onboardingStep = stored;
        rig.open();
        QVERIFY(QTest::qWaitForWindowExposed(rig.view.get()));
        QVERIFY(TestSupport::runPostedHops(4));
        QVERIFY(rig.view->isVisible());
        QVERIFY(rig.shows(QStringLiteral("setup.panel.%1").arg(shown).toLatin1().constData()));
        if (shown != 0) {
            QCOMPARE(rig.storedStep(), stored);
            return;
        }
        QVERIFY(!rig.shows("setup.back"));
        QVERIFY(rig.shows("setup.continue"));
        QVERIFY(rig.find<QWidget>(QStringLiteral("setup.continue"))->isEnabled());
        QCOMPARE(rig.storedStep(), stored);
        rig.find<QAbstractButton>(QStringLiteral("setup.continue"))->click();
        QCOMPARE(rig.storedStep(), 1);
        QVERIFY(rig.shows("setup.panel.1"));
    }

    // The rail goes back or stays, never forward; staying writes the same step again.
    void railTaps_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("tapped");
        QTest::addColumn<int>("after");
        QTest::addColumn<int>("writes");
        QTest::newRow("forward") << 2 << 3 << 2 << 0;
        QTest::newRow("back from a step above the last") << 9 << 1 << 1 << 1;
        QTest::newRow("forward from a step below the first") << -1 << 1 << -1 << 0;
        QTest::newRow("back") << 3 << 0 << 0 << 1;
        QTest::newRow("current") << 2 << 2 << 2 << 1;
    }

    void railTaps()
    {
        QFETCH(int, stored);
        QFETCH(int, tapped);
        QFETCH(int, after);
        QFETCH(int, writes);
        Rig rig;
        rig.settings.onboardingStep = stored;
        rig.open();
        QVERIFY(QTest::qWaitForWindowExposed(rig.view.get()));
        const int before = rig.defaults->writesByKey.value(QString::fromLatin1(AppSettingsStore::key));
        auto *row = rig.find<QWidget>(QStringLiteral("setup.step.%1").arg(tapped));
        QTest::mouseClick(row, Qt::LeftButton);
        QCOMPARE(rig.model->settings().onboardingStep, after);
        QCOMPARE(
            rig.defaults->writesByKey.value(QString::fromLatin1(AppSettingsStore::key)) - before, writes);
    }

    // Return presses the footer's primary button when it is enabled: Continue needs a folder on the
    // folder step; Finish Setup needs a test capture, completes setup, saves it and closes the window.
    void footerReturn_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("closes");
        QTest::newRow("folder, none chosen") << 1 << false << 1 << false;
        QTest::newRow("folder chosen") << 1 << true << 2 << false;
        QTest::newRow("test capture not run") << 4 << false << 4 << false;
        QTest::newRow("test capture run: finish") << 4 << true << 4 << true;
    }

    void footerReturn()
    {
        QFETCH(int, step);
        QFETCH(bool, ready);
        QFETCH(int, after);
        QFETCH(bool, closes);
        Rig rig;
        rig.settings.onboardingStep = step;
        rig.settings.hasRunTestCapture = ready && step == 4;
        if (ready && step == 1)
            rig.settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(rig.dir.path()));
        // A step of 4 with a test capture already counts as complete: the window stays only when asked for.
        rig.open(true);
        QVERIFY(QTest::qWaitForWindowExposed(rig.view.get()));
        QVERIFY(TestSupport::runPostedHops(4));
        rig.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.view.get()));
        QSignalSpy dismissed(rig.view.get(), &SetupView::dismissed);
        QCOMPARE(rig.shows("setup.finish"), step == 4);
        QTest::keyClick(rig.view.get(), Qt::Key_Return);
        QCOMPARE(rig.model->settings().onboardingStep, after);
        QCOMPARE(rig.view->isVisible(), !closes);
        QCOMPARE(dismissed.size(), closes ? 1 : 0);
        QCOMPARE(rig.stored().value(QStringLiteral("setupComplete")).toBool(), closes);
        if (closes) {
            QCOMPARE(rig.storedStep(), 4);
            QCOMPARE(rig.model->statusMessage(), QStringLiteral("Setup complete"));
        }
    }

    // A setup window shown after setup is complete closes itself unless it was asked for; the request
    // is used up, and the audio self-test closes it in any case.
    void presentation_data()
    {
        QTest::addColumn<bool>("complete");
        QTest::addColumn<bool>("requested");
        QTest::addColumn<bool>("selfTest");
        QTest::addColumn<bool>("stays");
        QTest::newRow("setup not complete") << false << false << false << true;
        QTest::newRow("complete") << true << false << false << false;
        QTest::newRow("complete, asked for") << true << true << false << true;
        QTest::newRow("audio self-test") << false << false << true << false;
    }

    void presentation()
    {
        QFETCH(bool, complete);
        QFETCH(bool, requested);
        QFETCH(bool, selfTest);
        QFETCH(bool, stays);
        Rig rig;
        rig.settings.setupComplete = complete;
        rig.environment.audioSelfTest = selfTest;
        rig.setSettings(rig.settings);
        rig.make();
        if (requested)
            rig.model->flowContext().setupPresentation().prepareExplicitPresentation();
        rig.view = std::make_unique<SetupView>(*rig.model, rig.environment);
        QSignalSpy dismissed(rig.view.get(), &SetupView::dismissed);
        rig.view->show();
        QVERIFY(TestSupport::runPostedHops(4));
        QCOMPARE(rig.view->isVisible(), stays);
        QCOMPARE(dismissed.size(), stays ? 0 : 1);
        // Shown again, the same window neither closes nor is revealed again.
        rig.view->hide();
        rig.view->show();
        QVERIFY(TestSupport::runPostedHops(4));
        QCOMPARE(dismissed.size(), stays ? 0 : (selfTest ? 2 : 1));
        if (requested) {
            SetupView second(*rig.model, rig.environment);
            second.show();
            QTRY_VERIFY(!second.isVisible());
        }
    }

    // The recorder takes keys typed anywhere in its own window while it listens, and none typed into
    // another window.
    // The footer's status keeps to one line, says nothing the step's panel already says, and drops a
    // message left over from the step before (a failure on Screen Recording is not news on Shortcut).
    // The Screen Recording step offers no settings page: none can change what its check finds.
    void footerStatus_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("moveOn");
        QTest::addColumn<bool>("shown");
        QTest::newRow("a long message of this step")
            << "The capture folder /home/ada/Documents/Notes/Quorvel captures with a rather long name could "
               "not "
               "be read, so the test capture cannot save its Markdown there"
            << false << true;
        QTest::newRow("what the panel says already") << "" << false << false;
        QTest::newRow("left over from the step before")
            << "System Settings could not be opened" << true << false;
    }
    void footerStatus()
    {
        QFETCH(QString, message);
        QFETCH(bool, moveOn);
        QFETCH(bool, shown);
        Rig rig;
        rig.screenGranted = false;
        rig.settings.onboardingStep = int(OnboardingStep::screenRecording);
        rig.open();
        QVERIFY(QTest::qWaitForWindowExposed(rig.view.get()));
        QVERIFY(!rig.shows("setup.screen.open"));
        QVERIFY(ModelHarness::finish(rig.model->requestPermission()));
        const QString said = message.isEmpty() ? rig.model->permissions().screen().feedback->text : message;
        rig.model->flowContext().setStatusMessage(said);
        if (moveOn)
            rig.model->advanceOnboarding();
        auto *status = rig.find<VemiStatusLabel>(QStringLiteral("setup.status"));
        QVERIFY(TestSupport::runPostedHops(2));
        QCOMPARE(status->text(), shown ? said : QString());
        QLabel *line = status->findChild<QLabel *>();
        QVERIFY(line->height() <= line->fontMetrics().lineSpacing() + 4);
        if (shown) {
            QVERIFY(line->text().endsWith(u'…'));
            QCOMPARE(line->toolTip(), said);
        }
        // Whatever happens next on this step is said again.
        rig.model->flowContext().setStatusMessage(QStringLiteral("Capture folder saved"));
        QTRY_COMPARE(status->text(), QStringLiteral("Capture folder saved"));
    }

    void recorder_data()
    {
        QTest::addColumn<bool>("ownWindow");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("shortcut");
        const int ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
        const QString press = QStringLiteral("Press the new shortcut. Esc cancels.");
        QTest::newRow("Escape cancels")
            << true << int(Qt::Key_Escape) << 0 << false << QString() << "Alt+Shift+C";
        QTest::newRow("Shift and a letter") << true << int(Qt::Key_K) << int(Qt::ShiftModifier) << true
                                            << "Add Super, Alt or Ctrl — Shift alone is not enough."
                                            << "Alt+Shift+C";
        QTest::newRow("reserved") << true << int(Qt::Key_Q) << int(Qt::MetaModifier) << true
                                  << "That shortcut is reserved by the desktop. Choose another."
                                  << "Alt+Shift+C";
        QTest::newRow("a modifier alone")
            << true << int(Qt::Key_Control) << int(Qt::ControlModifier) << true << press << "Alt+Shift+C";
        QTest::newRow("accepted") << true << int(Qt::Key_K) << ctrlAlt << false << QString() << "Ctrl+Alt+K";
        QTest::newRow("typed into another window")
            << false << int(Qt::Key_K) << ctrlAlt << true << press << "Alt+Shift+C";
    }

    void recorder()
    {
        QFETCH(bool, ownWindow);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, listening);
        QFETCH(QString, hint);
        QFETCH(QString, shortcut);
        ModelHarness harness;
        AppModel &model = harness.make();
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *recorder = new ShortcutRecorder(model, false, &window);
        auto *field = new QLineEdit(&window);
        layout->addWidget(recorder);
        layout->addWidget(field);
        QLineEdit other;
        window.show();
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const qsizetype registrations = harness.registered.size();
        recorder->toggleRecording();
        QLineEdit *target = ownWindow ? field : &other;
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(recorder->isRecording(), listening);
        QCOMPARE(recorder->recordHint().value_or(QString()), hint);
        QCOMPARE(model.currentShortcut().displaySymbols(), shortcut);
        // What the recorder takes never reaches the window's own controls; the other window keeps its keys.
        QTest::keyClick(target, Qt::Key_X);
        if (ownWindow)
            QCOMPARE(target->text(), listening ? QString() : QStringLiteral("x"));
        else
            QVERIFY(target->text().endsWith(QLatin1Char('x')));
        const bool applied = shortcut != QStringLiteral("Alt+Shift+C");
        QCOMPARE(harness.registered.size() - registrations, applied ? 1 : 0);
        if (applied) {
            QCOMPARE(harness.registered.last(), model.currentShortcut());
            const auto saved = CaptureShortcut::fromJsonData(
                harness.defaults->values.value(QStringLiteral("capture-shortcut-v1")).toByteArray());
            QCOMPARE(saved, std::optional<CaptureShortcut>(model.currentShortcut()));
        }
    }
};

QTEST_MAIN(TestSetupView)
#include "tst_SetupView.moc"
