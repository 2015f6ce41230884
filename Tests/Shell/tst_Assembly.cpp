#include "Audio/AudioSessionCoordinator.h"
#include "Documents/AppPaths.h"
#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"
#include "FindByText.h"
#include "HeldAnswers.h"
#include "Model/ReviewSession.h"
#include "PrivateXvfb.h"
#include "ScopedEnvironment.h"
#include "Settings/PreferencesView.h"
#include "Settings/SetupView.h"
#include "Shell/DovrinApp.h"
#include "Shell/DovrinAppDelegate.h"
#include "Shell/MenuBarExtra.h"
#include "Shell/StoredBoolean.h"
#include "Shell/WindowRegistry.h"
#include "TestSupport.h"
#include "Vemi/VemiButton.h"
#include "Windows/AudioReviewView.h"
#include "Windows/ReceiptView.h"
#include "Windows/RecentCapturesView.h"
#include "Windows/RecoveryView.h"
#include "Windows/ReviewView.h"
#include "Windows/ReviewWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Long enough for recognition and transcription under the sanitizers; a failing wait costs three times this.
constexpr int slow = 30000;
const QString knownText = QStringLiteral("Harbour lights at seven");

// The live program in a home of its own on the test's X server. Only what a person answers (the folder
// and application choosers, the scrolling introduction, a relaunch) and what the missing desktop would do
// (open files and mail links, check for updates, end the process) are recorded instead.
struct Program
{
    QTemporaryDir home;
    // Back before the home goes: a sound-server client that starts later writes its cookie under
    // XDG_CONFIG_HOME, and would make the removed folder again.
    ScopedEnvironment environment;
    QString captures = home.filePath(QStringLiteral("Captures"));
    QStringList opened;
    QStringList prompts;
    int updateChecks = 0;
    int relaunches = 0;
    int terminations = 0;
    std::unique_ptr<DovrinApp> app;

    // Setup done (or at `step` and not done), the capture folder chosen; a draft left from an earlier run.
    Program(bool setupComplete = true, int step = 4, bool draftLeft = false)
    {
        environment.set("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
        environment.set("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
        QDir().mkpath(captures);
        AppSettings settings;
        settings.setupComplete = setupComplete;
        settings.onboardingStep = step;
        settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(captures));
        AppSettingsStore(SettingsDefaultsStore::openSettingsOrStandard()).save(settings);
        if (draftLeft) {
            const QString folder = AppPaths::dataDirectory();
            QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::white);
            const QDateTime now = QDateTime::currentDateTime();
            EncryptedDraftStore(folder, DraftKeyStore::loadOrCreate(folder))
                .save(CaptureDraft(QUuid::createUuid(), now, now, now, *ImageNormalization::pngData(image),
                    knownText, knownText, {}, {}, {}, std::nullopt, QStringLiteral("Left over"), {}, {},
                    std::nullopt, std::nullopt));
        }
        ModelServices services = ModelServices::live();
        services.openURL = [this](const QUrl &url) {
            opened << url.toString();
            return true;
        };
        services.revealFile = [this](const QUrl &url, std::function<void()>) { opened << url.toString(); };
        // An updater with a feed: its check is what the tray's command reaches.
        services.softwareUpdate.isAvailable = true;
        services.softwareUpdate.checkForUpdates = [this] { ++updateChecks; };
        services.presentPrompt = [this](const ScrollingCapturePrompt &prompt) {
            prompts << prompt.title;
            TaskPromise<bool> declined;
            declined.resolve(false);
            return declined.future();
        };
        app = std::make_unique<DovrinApp>(
            DovrinApp::Options { { QStringLiteral("quorvel") }, nullptr, std::move(services),
                [this](AppModel &model) {
                    SettingsEnvironment environment = SettingsEnvironment::live(model);
                    environment.folderPicker.present
                        = [this](QWidget *, const auto &, const auto &, const auto &) {
                              return answeredAtOnce(std::optional(captures));
                          };
                    environment.pickApplication = [](QWidget *, const QString &) {
                        return answeredAtOnce(std::optional<AudioCaptureApp>());
                    };
                    environment.relaunch = [this] { ++relaunches; };
                    return environment;
                },
                nullptr, {} });
        app->delegate().setTerminateEffect([this] { ++terminations; });
        app->start();
    }
    ~Program() { app.reset(); }

    AppModel &model() const { return app->model(); }
    QWidget *window(const QString &id) const { return app->windows().window(id); }
    template <typename View> View *shown(const QString &id) const
    {
        QWidget *open = window(id);
        return open && open->isVisible() ? open->findChild<View *>() : nullptr;
    }
    // The stand-in window's line (there is no tray on the test's X server).
    QPushButton *line(const QString &id) const
    {
        MenuBarFallbackWindow *fallback = app->menuBar().fallbackWindow();
        return fallback ? qobject_cast<QPushButton *>(fallback->line(id)) : nullptr;
    }
    QStringList enabledLines() const
    {
        QStringList ids;
        for (const MenuEntry &entry : app->menuBar().content().entries()) {
            if (entry.kind == MenuEntry::Kind::command && entry.enabled)
                ids << entry.id;
        }
        return ids;
    }
    bool choose(const QString &id) const
    {
        QPushButton *button = line(id);
        if (!button || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
    // The stand-in window follows the model's state a moment later: the line is clicked once, as soon as
    // it can be.
    bool chooseOnceEnabled(const QString &id) const
    {
        return QTest::qWaitFor([&] { return choose(id); }, TestSupport::patienceMs);
    }
    // Drags over `area` (global) on the overlay once it shows.
    static bool select(const QRect &area)
    {
        QWidget *overlay = nullptr;
        if (!QTest::qWaitFor(
                [&] {
                    for (QWidget *window : QApplication::topLevelWidgets()) {
                        if (window->objectName() == u"SelectionOverlayWindow" && window->isVisible())
                            overlay = window;
                    }
                    return overlay && QTest::qWaitForWindowExposed(overlay);
                },
                slow))
            return false;
        const QPoint from = overlay->mapFromGlobal(area.topLeft());
        const QPoint to = overlay->mapFromGlobal(area.bottomRight());
        QTest::mousePress(overlay, Qt::LeftButton, {}, from);
        QTest::mouseMove(overlay, to);
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, to);
        return true;
    }
    ReviewWindow *reviewWindow() const
    {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *review = qobject_cast<ReviewWindow *>(window); review && review->isVisible())
                return review;
        }
        return nullptr;
    }
    // A region capture of the known text, from the stand-in window's command to the open review.
    bool reviewKnownText(QWidget &text) const
    {
        return choose(QStringLiteral("capture")) && select(text.geometry().adjusted(-12, -12, 12, 12))
            && QTest::qWaitFor(
                [this] { return reviewWindow() && !model().reviewSession()->isOCRRunning(); }, slow);
    }
    QByteArray note() const
    {
        const QStringList saved = QDir(captures).entryList({ QStringLiteral("*.md") });
        return saved.size() == 1 ? TestSupport::readFile(QDir(captures).filePath(saved.first()))
                                 : QByteArray();
    }
};

// Large dark text on white, for recognition.
std::unique_ptr<QLabel> knownTextWindow()
{
    auto label = std::make_unique<QLabel>(knownText);
    label->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    label->setStyleSheet(QStringLiteral("background: white; color: black; padding: 16px; font-size: 34px;"));
    // Below where the program's windows open.
    label->move(40, 960);
    label->show();
    return label;
}

enum class State { idle, selecting, draftLeft, recording };

struct Line
{
    State state;
    QString id;
    // What the model does: a phase, a window opened, a request to the desktop.
    QString effect;
};

// Each state with every line it enables, in menu order, and what choosing it does.
const QList<Line> &lines()
{
    static const QList<Line> rest { { State::idle, "recents", "window recents" },
        { State::idle, "folder", "opens the folder" }, { State::idle, "updates", "checks for updates" },
        { State::idle, "feedback", "opens a mail" }, { State::idle, "settings", "window settings" },
        { State::idle, "quit", "ends" } };
    static const QList<Line> table = [] {
        QList<Line> all;
        const auto add = [&all](State state, QList<Line> first) {
            for (Line line : first + rest) {
                line.state = state;
                all << line;
            }
        };
        add(State::idle,
            { { {}, "capture", "selecting" }, { {}, "scrolling", "asks first" },
                { {}, "audio", "records" } });
        add(State::selecting, { { {}, "cancel", "cancels" } });
        // A new capture would replace the draft: the recovery window comes first.
        add(State::draftLeft,
            { { {}, "capture", "window recovery" }, { {}, "scrolling", "window recovery" },
                { {}, "audio", "records" }, { {}, "resume", "window recovery" } });
        add(State::recording, { { {}, "audio", "stops" } });
        return all;
    }();
    return table;
}

} // namespace

class TestAssembly : public QObject
{
    Q_OBJECT

    static void enter(Program &p, State state)
    {
        QVERIFY(QTest::qWaitFor(
            [&] { return p.line(QStringLiteral("quit")) != nullptr; }, TestSupport::patienceMs));
        if (state == State::draftLeft) {
            // Offered at start; put aside for now.
            QTRY_VERIFY(p.shown<RecoveryView>(QStringLiteral("recovery")));
            p.window(QStringLiteral("recovery"))->close();
            QTRY_VERIFY(!p.window(QStringLiteral("recovery")));
        } else if (state == State::selecting) {
            QVERIFY(p.choose(QStringLiteral("capture")));
            QTRY_COMPARE(p.model().phase(), CapturePhase::selecting);
        } else if (state == State::recording) {
            QVERIFY(p.choose(QStringLiteral("audio")));
            QTRY_COMPARE_WITH_TIMEOUT(p.model().audio().phase(), AudioSessionPhase::recording, slow);
        }
        QTRY_VERIFY(p.app->menuBar().fallbackWindow()->isVisible());
    }

private slots:
    void init() { QApplication::clipboard()->clear(); }

    // Each line of the tray menu, shown by the stand-in window where there is no tray, that a state
    // enables does its work in the model.
    void everyEnabledLineReachesTheModel_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("effect");
        const char *names[] = { "idle", "selecting", "draft left", "recording" };
        for (const Line &line : lines()) {
            QTest::addRow("%s: %s", names[int(line.state)], qPrintable(line.id))
                << line.state << line.id << line.effect;
        }
    }

    void everyEnabledLineReachesTheModel()
    {
        QFETCH(State, state);
        QFETCH(QString, line);
        QFETCH(QString, effect);
        Program p(true, 4, state == State::draftLeft);
        enter(p, state);
        AppModel &model = p.model();
        AudioSessionCoordinator &audio = model.audio();
        QStringList enabled;
        for (const Line &listed : lines()) {
            if (listed.state == state)
                enabled << listed.id;
        }
        QCOMPARE(p.enabledLines(), enabled);

        QVERIFY(p.chooseOnceEnabled(line));
        if (effect.startsWith(u"window ")) {
            const QString id = effect.mid(7);
            const QHash<QString, std::function<bool()>> viewShown {
                { "recents", [&] { return p.shown<RecentCapturesView>(id); } },
                { "settings", [&] { return p.shown<PreferencesView>(id); } },
                { "recovery", [&] { return p.shown<RecoveryView>(id); } },
            };
            QTRY_VERIFY(viewShown.value(id)());
        } else if (effect == u"selecting") {
            QTRY_COMPARE(model.phase(), CapturePhase::selecting);
            QVERIFY(p.chooseOnceEnabled(QStringLiteral("cancel")));
        } else if (effect == u"asks first") {
            QTRY_COMPARE(p.prompts.size(), 1);
        } else if (effect == u"records") {
            QTRY_COMPARE_WITH_TIMEOUT(audio.phase(), AudioSessionPhase::recording, slow);
            QVERIFY(p.choose(QStringLiteral("audio")));
        } else if (effect == u"stops" || effect == u"cancels") {
            QTRY_VERIFY(!audio.isRecording() && !model.isVisualCaptureActive());
        } else if (effect == u"opens the folder") {
            QTRY_COMPARE(p.opened, QStringList { QUrl::fromLocalFile(p.captures).toString() });
        } else if (effect == u"checks for updates") {
            QTRY_COMPARE(p.updateChecks, 1);
        } else if (effect == u"opens a mail") {
            QTRY_COMPARE(p.opened.size(), 1);
            QVERIFY(p.opened.first().startsWith(u"mailto:"));
        } else if (effect == u"ends") {
            QTRY_COMPARE(p.terminations, 1);
        } else {
            QFAIL("an effect this test does not know");
        }
        // A recording ends in its review, shown in the real view.
        if (line == u"audio")
            QTRY_VERIFY_WITH_TIMEOUT(p.shown<AudioReviewView>(QStringLiteral("audio-review")), slow);
    }

    // Each window the model asks for opens with its real content, reached the way a user reaches it.
    void requestedWindowsShowTheirViews_data()
    {
        QTest::addColumn<QString>("journey");
        QTest::addColumn<QString>("window");
        QTest::newRow("first start") << "start, setup not done"
                                     << "setup";
        QTest::newRow("a draft left") << "start, draft left"
                                      << "recovery";
        QTest::newRow("Resume Review") << "resume the draft left"
                                       << "review";
        QTest::newRow("region capture") << "capture"
                                        << "review";
        QTest::newRow("saved from the review's menu bar") << "capture, save"
                                                          << "receipt";
        QTest::newRow("setup's test capture") << "test capture"
                                              << "review";
        QTest::newRow("no capture folder to open") << "folder gone"
                                                   << "settings";
        QTest::newRow("a recording stopped") << "record"
                                             << "audio-review";
        QTest::newRow("an audio review saved") << "record, save"
                                               << "receipt";
    }

    void requestedWindowsShowTheirViews()
    {
        QFETCH(QString, journey);
        QFETCH(QString, window);
        const std::unique_ptr<QLabel> text = knownTextWindow();
        QVERIFY(QTest::qWaitForWindowExposed(text.get()));
        const bool setupDone = !journey.contains(u"setup") && journey != u"test capture";
        Program p(setupDone, journey == u"test capture" ? 4 : 0, journey.contains(u"draft"));
        if (journey == u"folder gone")
            QVERIFY(QDir(p.captures).removeRecursively());
        if (journey == u"resume the draft left") {
            QTRY_VERIFY(p.shown<RecoveryView>(QStringLiteral("recovery")));
            findByText<QPushButton>(p.window(QStringLiteral("recovery")), QStringLiteral("Resume Review"))
                ->click();
        } else if (journey.startsWith(u"capture")) {
            enter(p, State::idle);
            QVERIFY(p.reviewKnownText(*text));
            QVERIFY2(p.model().reviewSession()->reviewedText().contains(knownText),
                qPrintable(p.model().reviewSession()->reviewedText()));
        } else if (journey == u"test capture") {
            QTRY_VERIFY(p.shown<SetupView>(QStringLiteral("setup")));
            QWidget *setup = p.window(QStringLiteral("setup"));
            auto *start = findByText<QPushButton>(setup, QStringLiteral("Start Test Capture"));
            QVERIFY(start && start->isEnabled());
            start->click();
            QVERIFY(Program::select(text->geometry()));
            QTRY_VERIFY_WITH_TIMEOUT(p.reviewWindow(), slow);
            QTRY_VERIFY(findByText<QPushButton>(setup, QStringLiteral("Finish Setup"))->isEnabled());
        } else if (journey == u"folder gone") {
            enter(p, State::idle);
            QVERIFY(p.choose(QStringLiteral("folder")));
        } else if (journey.startsWith(u"record")) {
            enter(p, State::recording);
            QVERIFY(p.choose(QStringLiteral("audio")));
        }
        if (journey == u"capture, save") {
            QAction *save = p.reviewWindow()->menuBar()->findChild<QAction *>(QStringLiteral("save"));
            QTRY_VERIFY(save->isEnabled());
            save->trigger();
            QTRY_VERIFY(p.note().contains(knownText.toUtf8()));
        } else if (journey == u"record, save") {
            QTRY_VERIFY_WITH_TIMEOUT(p.shown<AudioReviewView>(QStringLiteral("audio-review")), slow);
            auto *view = p.shown<AudioReviewView>(QStringLiteral("audio-review"));
            view->saveButton()->click();
            // The user saved what the review showed.
            QTRY_VERIFY(p.note().contains("reviewedByUser: true"));
            QCOMPARE(QDir(p.captures).entryList({ QStringLiteral("*.m4a") }).size(), 2);
        }

        if (window == u"review") {
            QTRY_VERIFY_WITH_TIMEOUT(p.reviewWindow() && p.reviewWindow()->findChild<ReviewView *>(), slow);
            return;
        }
        const QHash<QString, std::function<bool()>> viewShown {
            { "setup", [&] { return p.shown<SetupView>(window); } },
            { "recovery", [&] { return p.shown<RecoveryView>(window); } },
            { "receipt", [&] { return p.shown<ReceiptView>(window); } },
            { "settings", [&] { return p.shown<PreferencesView>(window); } },
            { "audio-review", [&] { return p.shown<AudioReviewView>(window); } },
        };
        QTRY_VERIFY_WITH_TIMEOUT(viewShown.value(window)(), slow);
    }

    // The review window's menu bar carries the program's commands, and each reaches the open review.
    void reviewMenuBarCarriesTheCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("keys");
        QTest::newRow("Save Markdown") << "save"
                                       << "Ctrl+S";
        QTest::newRow("Close") << "close"
                               << "Ctrl+W";
        QTest::newRow("Copy Captured Text") << "copy-text"
                                            << "";
        QTest::newRow("Retry OCR") << "ocr"
                                   << "";
        QTest::newRow("Delete Draft…") << "delete-draft"
                                       << "";
        QTest::newRow("Hide Inspector") << "inspector"
                                        << "";
        QTest::newRow("Capture Region… while reviewing") << "capture"
                                                         << "";
        QTest::newRow("Send Feedback…") << "feedback"
                                        << "";
    }

    void reviewMenuBarCarriesTheCommands()
    {
        QFETCH(QString, command);
        QFETCH(QString, keys);
        const std::unique_ptr<QLabel> text = knownTextWindow();
        QVERIFY(QTest::qWaitForWindowExposed(text.get()));
        Program p;
        enter(p, State::idle);
        QVERIFY(p.reviewKnownText(*text));
        ReviewWindow *review = p.reviewWindow();
        QVERIFY(QTest::qWaitForWindowActive(review));
        QAction *action = review->menuBar()->findChild<QAction *>(command);
        QVERIFY(action);
        QCOMPARE(action->shortcut().toString(), keys);
        QTRY_VERIFY(action->isEnabled());
        AppModel &model = p.model();
        action->trigger();
        if (command == u"save") {
            QTRY_VERIFY(p.note().contains(knownText.toUtf8()));
            QTRY_VERIFY(!review->isVisible());
        } else if (command == u"close") {
            QTRY_VERIFY(!review->isVisible());
            QCOMPARE(model.statusMessage(), QStringLiteral("Draft saved for later"));
        } else if (command == u"copy-text") {
            QTRY_VERIFY(QApplication::clipboard()->text().contains(knownText));
        } else if (command == u"ocr") {
            QTRY_VERIFY_WITH_TIMEOUT(!model.reviewSession()->isOCRRunning(), slow);
            QVERIFY(model.reviewSession()->reviewedText().contains(knownText));
        } else if (command == u"delete-draft") {
            QVERIFY(model.presentsDraftDeleteAlert());
        } else if (command == u"inspector") {
            QVERIFY(!p.app->showReviewInspector().value());
            QTRY_VERIFY(!review->findChild<ReviewView *>()->inspectorColumn()->isVisible());
        } else if (command == u"capture") {
            // One capture at a time: the open review comes forward instead.
            QTRY_COMPARE(model.phase(), CapturePhase::review);
            QVERIFY(review->isVisible());
        } else if (command == u"feedback") {
            QTRY_COMPARE(p.opened.size(), 1);
        }
    }
};

int main(int argc, char **argv)
{
    return runOnPrivateDisplay<TestAssembly>(argc, argv);
}
#include "tst_Assembly.moc"
