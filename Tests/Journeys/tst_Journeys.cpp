// Six journeys through the installed program on a desktop of the test's own (X server, window manager,
// tray host, session bus, the private sound server), driven only by what a person can do: keys and the
// pointer through XTest, the tray icon and its menu, the window manager's controls, and reading what the
// screen shows. Nothing reaches into the process.
#include "AudioFileProbe.h"
#include "DesktopWindows.h"
#include "Documents/AppPaths.h"
#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "PrivateDesktop.h"
#include "QuorvelInstance.h"
#include "ScreenText.h"
#include "SpeechFixtures.h"
#include "SyntheticKeyboard.h"
#include "SyntheticPointer.h"
#include "TestSupport.h"
#include "TonePlayers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <X11/keysym.h>

#include <memory>
#include <optional>

namespace {

// Generous: the machine may be busy with a parallel build and other tests.
constexpr int windowTimeout = 30000;
constexpr int textTimeout = 45000;

const QString setupTitle = QStringLiteral("Setup");
const QString reviewTitle = QStringLiteral("Review Capture");
// What the review shows once the text is recognized; also proves the review painted itself (a window
// not painted yet still shows what was on screen before it, such as the text being captured).
const QString reviewReady = QStringLiteral("Ready Everything stays on this computer");
const QString folderDialogTitle
    = QStringLiteral("Choose a folder for Markdown captures. Files stay on this computer.");

// A saved note: its front matter as YAML reads it, and its body.
struct Note
{
    QString path;
    QJsonObject front;
    QString body;
    QString problem;
};

Note readNote(const QString &path)
{
    static const char script[] = R"(import json, sys, yaml
text = open(sys.argv[1], encoding="utf-8").read()
if not text.startswith("---\n"):
    sys.exit("the note does not begin with front matter")
front, closed, body = text[4:].partition("\n---\n")
if not closed:
    sys.exit("the front matter is not closed")
fields = yaml.safe_load(front)
if not isinstance(fields, dict):
    sys.exit("the front matter is not a mapping")
print(json.dumps({"front": fields, "body": body}, default=str))
)";
    Note note { path, {}, {}, {} };
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromLatin1(script), path });
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        note.problem = QStringLiteral("the front matter of %1 does not parse: %2")
                           .arg(path, QString::fromUtf8(python.readAllStandardError()).trimmed());
        return note;
    }
    const QJsonObject parsed = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    note.front = parsed.value(QStringLiteral("front")).toObject();
    note.body = parsed.value(QStringLiteral("body")).toString();
    return note;
}

QStringList tagsOf(const Note &note)
{
    QStringList tags;
    for (const QJsonValue &tag : note.front.value(QStringLiteral("tags")).toArray())
        tags << tag.toString();
    return tags;
}

QStringList filesIn(const QString &folder, const QString &pattern)
{
    return QDir(folder).entryList({ pattern }, QDir::Files, QDir::Name);
}

// Polls the condition, the event loop running in between, until it holds or `timeout` ms passed.
template <typename Condition> bool waitUntil(Condition condition, int timeout)
{
    return QTest::qWaitFor(condition, timeout);
}

// A person's own pause in a journey (not a wait for the program): the events keep flowing meanwhile.
void pauseFor(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return clock.elapsed() >= milliseconds; }, milliseconds + 1000);
}

QString quoted(const QString &text)
{
    return QStringLiteral("\"%1\"").arg(text);
}

} // namespace

class TestJourneys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void firstRunSetup();
    void regionCapture();
    void crashAndRecovery();
    void scrollingCapture();
    void audioSession();
    void quitWhileRecording();

private:
    QProcessEnvironment appEnvironment() const;
    QProcessEnvironment helperEnvironment() const;
    bool startApp();
    bool ensureRunning();
    QString shoot(const QString &name) const;
    QString seen(const QString &what) const;

    std::optional<DesktopWindows::Window> waitForWindow(const QString &title, int timeout = windowTimeout);
    bool waitForWindowGone(const QString &title, int timeout = windowTimeout);
    bool waitForRecognition();
    bool bringForward(const QString &title);
    QList<ScreenText::Word> read(const DesktopWindows::Window &window);
    std::optional<QRect> findText(const QString &title, const QStringList &phrases);
    // Where the first phrase stands once the window shows every one of them.
    std::optional<QRect> waitForText(
        const QString &title, const QStringList &phrases, int timeout = textTimeout);
    std::optional<QRect> waitForText(const QString &title, const QString &phrase, int timeout = textTimeout)
    {
        return waitForText(title, QStringList { phrase }, timeout);
    }
    bool clickText(const QString &title, const QString &phrase, int timeout = textTimeout);
    bool clickInPopup(const QString &phrase, int timeout = 10000);
    // Clicks the field to the right of its label, selects what it holds and types the text over it.
    bool typeInto(const QString &title, const QString &label, const QString &text);
    // Turns the wheel over the window until it shows the phrase.
    std::optional<QRect> scrollTo(const QString &title, const QString &phrase);
    bool openTrayMenu();
    bool chooseFromTray(const QString &phrase);
    bool selectRegion(const QRect &area);
    bool advanceSetup(const QString &nextStep);
    std::optional<QString> saveReview(const QStringList &before);
    bool captureToReview(const QRect &target, const QString &firstWords);
    void pressShortcut();
    QRect startTarget(const QRect &rect, const QStringList &lines);
    QProcess *startHelper(const QString &program, const QStringList &arguments, const QByteArray &readyLine);
    void stopHelpers();
    bool installSpeaker();
    bool wakeSinks();
    std::optional<QString> newFile(const QStringList &before, const QString &pattern, int timeout);

    std::unique_ptr<PrivateDesktop> m_desktop;
    std::unique_ptr<DesktopWindows> m_windows;
    std::unique_ptr<SyntheticKeyboard> m_keyboard;
    std::unique_ptr<SyntheticPointer> m_pointer;
    std::unique_ptr<ScreenText> m_reader;
    std::unique_ptr<QuorvelInstance> m_app;
    std::vector<std::unique_ptr<QProcess>> m_helpers;
    TonePlayers m_keepers;
    bool m_sinksAwake = false;
    QTemporaryDir m_root;
    QString m_program;
    QString m_shots;
    QString m_log;
    QString m_notes;
    QString m_speaker;
    QString m_lastSeen;
    QImage m_lastPicture;
    struct
    {
        QPoint origin;
        QList<ScreenText::Word> words;
    } m_lastWords;
    QElapsedTimer m_journeyClock;
};

void TestJourneys::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        QSKIP("needs the private sound server that scripts/test.sh starts");
    m_program = qEnvironmentVariable("DOVRIN_JOURNEYS_PREFIX") + QStringLiteral("/bin/quorvel");
    QVERIFY2(QFileInfo(m_program).isExecutable(),
        qPrintable(
            QStringLiteral("no installed quorvel at %1 (the install step runs first)").arg(m_program)));
    QVERIFY(m_root.isValid());
    m_shots = TestSupport::binaryDir() + QStringLiteral("/journeys");
    QDir(m_shots).removeRecursively();
    QVERIFY(QDir().mkpath(m_shots));
    m_log = m_shots + QStringLiteral("/quorvel.log");
    m_notes = m_root.filePath(QStringLiteral("captures"));
    QVERIFY(QDir().mkpath(m_notes));
    for (const char *folder : { "config", "data", "cache", "home", "share/applications" })
        QVERIFY(QDir().mkpath(m_root.filePath(QString::fromLatin1(folder))));
    QVERIFY(QDir().mkdir(m_root.filePath(QStringLiteral("runtime"))));
    QVERIFY(QFile::setPermissions(
        m_root.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    m_desktop = std::make_unique<PrivateDesktop>();
    QVERIFY2(m_desktop->problem().isEmpty(), qPrintable(m_desktop->problem()));
    m_windows = std::make_unique<DesktopWindows>(m_desktop->display());
    m_keyboard = std::make_unique<SyntheticKeyboard>(m_desktop->display().toLocal8Bit());
    m_pointer = std::make_unique<SyntheticPointer>(m_desktop->display().toLocal8Bit());
    QVERIFY(m_windows->isOpen() && m_keyboard->isOpen() && m_pointer->isOpen());
    m_reader = std::make_unique<ScreenText>();
    QVERIFY2(m_reader->isReady(), "Tesseract's English data is missing");
    QVERIFY(installSpeaker());
}

void TestJourneys::init()
{
    m_lastSeen.clear();
    m_journeyClock.start();
}

void TestJourneys::cleanup()
{
    const QString journey = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentTestFailed()) {
        qWarning("%s failed after %.1f s; the screen then: %s\nquorvel's last words:\n%s",
            qPrintable(journey), m_journeyClock.elapsed() / 1000.0,
            qPrintable(shoot(journey + QStringLiteral("-failed"))),
            m_app ? qPrintable(m_app->logTail()) : "(not started)");
        // The next journey starts from a program of its own.
        if (m_app) {
            m_app->terminate();
            if (!m_app->waitForExit(15000))
                m_app->kill();
            m_app->waitForExit(10000);
            m_app.reset();
        }
        // Nor does a draft the failure left behind turn the next capture into its recovery.
        const QDir drafts(m_root.filePath(QStringLiteral("data/com.quorvel.dovrin")));
        QFile::remove(drafts.filePath(QStringLiteral("active-draft.sealed")));
        QDir(drafts.filePath(QStringLiteral("active-draft-tiles"))).removeRecursively();
    } else {
        qInfo("%s took %.1f s", qPrintable(journey), m_journeyClock.elapsed() / 1000.0);
    }
    stopHelpers();
}

void TestJourneys::cleanupTestCase()
{
    stopHelpers();
    m_keepers.stopAll();
    if (m_app) {
        m_app->terminate();
        if (!m_app->waitForExit(15000))
            m_app->kill();
        m_app->waitForExit(10000);
    }
    m_app.reset();
}

// 1. The first start opens setup; its steps lead through the folder, the screen check and the shortcut to
// a test capture from its own button, and finishing it is remembered.
void TestJourneys::firstRunSetup()
{
    QVERIFY2(startApp(), "the installed quorvel did not start and dock in the tray");
    QVERIFY2(waitForWindow(setupTitle), "no \"Setup\" window at the first start");
    QVERIFY2(waitForText(setupTitle, QStringLiteral("Nothing leaves this computer")),
        qPrintable(seen("the first step of setup")));
    shoot(QStringLiteral("firstRunSetup-1-privacy"));
    QVERIFY2(advanceSetup(QStringLiteral("Choose where Markdown")),
        qPrintable(seen("Continue did not lead to the folder step")));

    QVERIFY2(
        clickText(setupTitle, QStringLiteral("Choose Folder")), qPrintable(seen("no \"Choose Folder…\"")));
    QVERIFY2(waitForWindow(folderDialogTitle), "\"Choose Folder…\" opened no folder dialog");
    // The dialog's name field has the keyboard: the whole path, then Return.
    m_keyboard->chord({ XK_Control_L }, XK_a);
    QVERIFY(m_keyboard->type(m_notes + QLatin1Char('\n')));
    QVERIFY2(waitForWindowGone(folderDialogTitle, 10000), "the folder dialog did not take the typed folder");
    QVERIFY2(waitForText(setupTitle, QFileInfo(m_notes).fileName()),
        qPrintable(seen("setup does not show the chosen folder")));
    shoot(QStringLiteral("firstRunSetup-2-folder"));

    QVERIFY2(advanceSetup(QStringLiteral("Check Screen Recording")), qPrintable(seen("no screen step")));
    QVERIFY2(advanceSetup(QStringLiteral("Choose a capture shortcut")), qPrintable(seen("no shortcut step")));
    QVERIFY2(advanceSetup(QStringLiteral("Try one capture")), qPrintable(seen("no test capture step")));
    shoot(QStringLiteral("firstRunSetup-3-test-capture"));

    const QRect target
        = startTarget(QRect(1300, 640, 520, 90), { QStringLiteral("Orchard lantern pixel 3302") });
    QVERIFY2(!target.isNull(), "the window to capture did not come up");
    QVERIFY2(clickText(setupTitle, QStringLiteral("Start Test Capture")), qPrintable(seen("no test button")));
    QVERIFY2(selectRegion(target), "\"Start Test Capture\" put up no selection overlay");
    QVERIFY2(waitForWindow(reviewTitle), "the test capture opened no \"Review Capture\" window");
    QVERIFY2(waitForText(reviewTitle, { QStringLiteral("Orchard lantern pixel 3302"), reviewReady }),
        qPrintable(seen("the test capture's text is not in the review")));
    const std::optional<QString> saved = saveReview(filesIn(m_notes, QStringLiteral("*.md")));
    QVERIFY2(saved, qPrintable(seen("Ctrl+S saved no note of the test capture")));

    QVERIFY2(bringForward(setupTitle), "the setup window is gone after the test capture");
    QVERIFY2(clickText(setupTitle, QStringLiteral("Finish Setup")), qPrintable(seen("no \"Finish Setup\"")));
    QVERIFY2(waitForWindowGone(setupTitle, 10000), qPrintable(seen("\"Finish Setup\" left setup open")));

    // The settings are written on a thread of their own, maybe still after the window has gone.
    const QString file
        = m_root.filePath(QStringLiteral("config/com.quorvel.dovrin/com.quorvel.dovrin.settings.ini"));
    QJsonObject settings;
    const bool recorded = waitUntil(
        [&] {
            const QSettings stored(file, QSettings::IniFormat);
            settings = QJsonDocument::fromJson(stored.value("app-settings-v1").toByteArray()).object();
            return settings.value(QStringLiteral("setupComplete")).toBool();
        },
        windowTimeout);
    QVERIFY2(recorded, qPrintable(QStringLiteral("%1 does not record setup as complete").arg(file)));
    QVERIFY(settings.value(QStringLiteral("hasRunTestCapture")).toBool());
}

// 2. Shortcut, drag over a window's text, review with the text, title and tag, Ctrl+S: one note with the
// text once and front matter that parses, a receipt naming it, and the recent captures listing it.
void TestJourneys::regionCapture()
{
    QVERIFY2(ensureRunning(), "quorvel is not running");
    const QStringList lines = { QStringLiteral("Harbor granite ledger 4821"),
        QStringLiteral("Violet tunnel beacon 7390"), QStringLiteral("Meadow copper summit 1564") };
    const QRect target = startTarget(QRect(240, 700, 560, 130), lines);
    QVERIFY2(!target.isNull(), "the window to capture did not come up");
    const QStringList before = filesIn(m_notes, QStringLiteral("*.md"));

    pressShortcut();
    QVERIFY2(selectRegion(target), "Alt+Shift+C put up no selection overlay");
    QVERIFY2(waitForWindow(reviewTitle), "no \"Review Capture\" window after the selection");
    QVERIFY2(waitForText(reviewTitle, lines + QStringList { reviewReady }),
        qPrintable(seen("the captured lines are not in the review")));
    QVERIFY2(typeInto(reviewTitle, QStringLiteral("Title"), QStringLiteral("Harbor journey")),
        qPrintable(seen("no title field")));
    QVERIFY2(typeInto(reviewTitle, QStringLiteral("Tags"), QStringLiteral("journeys")),
        qPrintable(seen("no tags field")));
    shoot(QStringLiteral("regionCapture-1-review"));
    const std::optional<QString> saved = saveReview(before);
    QVERIFY2(saved, qPrintable(seen("Ctrl+S saved no note")));
    QCOMPARE(filesIn(m_notes, QStringLiteral("*.md")).size(), before.size() + 1);

    const Note note = readNote(m_notes + QLatin1Char('/') + *saved);
    QVERIFY2(note.problem.isEmpty(), qPrintable(note.problem));
    QCOMPARE(note.front.value(QStringLiteral("title")).toString(), QStringLiteral("Harbor journey"));
    QVERIFY2(
        tagsOf(note).contains(QStringLiteral("journeys")), qPrintable(QJsonDocument(note.front).toJson()));
    for (const QString &line : lines)
        QVERIFY2(
            note.body.count(line) == 1, qPrintable(quoted(line) + " is not once in the body:\n" + note.body));

    // The receipt names the file.
    QVERIFY2(waitForWindow(QStringLiteral("Saved Capture")), "no receipt after saving");
    QVERIFY2(waitForText(QStringLiteral("Saved Capture"), { *saved, QStringLiteral("Markdown saved") }),
        qPrintable(seen("the receipt does not name " + *saved)));
    shoot(QStringLiteral("regionCapture-2-receipt"));

    QVERIFY2(chooseFromTray(QStringLiteral("Recent Captures")), qPrintable(seen("no \"Recent Captures…\"")));
    QVERIFY2(waitForWindow(QStringLiteral("Recent Captures")), "\"Recent Captures…\" opened no window");
    QVERIFY2(waitForText(QStringLiteral("Recent Captures"), { *saved, QStringLiteral("File Saved") }),
        qPrintable(seen("the recent captures do not list the note")));
    shoot(QStringLiteral("regionCapture-3-recents"));
    if (const auto recents = m_windows->window(QStringLiteral("Recent Captures"), m_app->pid()))
        m_windows->close(*recents);
    if (const auto receipt = m_windows->window(QStringLiteral("Saved Capture"), m_app->pid()))
        m_windows->close(*receipt);
}

// 3. A capture under review with a typed title, the program killed: the next start offers the draft, and
// resuming it brings back the text and the title, ready to save.
void TestJourneys::crashAndRecovery()
{
    QVERIFY2(ensureRunning(), "quorvel is not running");
    const QStringList lines
        = { QStringLiteral("Falcon marble willow 5518"), QStringLiteral("Ember saddle quartz 2046") };
    const QRect target = startTarget(QRect(300, 660, 520, 100), lines);
    QVERIFY2(!target.isNull(), "the window to capture did not come up");
    const QStringList before = filesIn(m_notes, QStringLiteral("*.md"));
    QVERIFY2(
        captureToReview(target, lines.first()), qPrintable(seen("the capture did not reach its review")));
    const QString title = QStringLiteral("Unsaved falcon notes");
    const QString remark = QStringLiteral("Crash note");
    QVERIFY2(typeInto(reviewTitle, QStringLiteral("Title"), title), qPrintable(seen("no title field")));
    QVERIFY2(typeInto(reviewTitle, QStringLiteral("Note"), remark), qPrintable(seen("no note field")));
    QVERIFY2(typeInto(reviewTitle, QStringLiteral("Tags"), QStringLiteral("recovered")),
        qPrintable(seen("no tags field")));
    QVERIFY2(waitForText(reviewTitle, { title, remark, QStringLiteral("recovered") }, 10000),
        qPrintable(seen("the review does not show what was typed")));
    shoot(QStringLiteral("crashAndRecovery-0-typed"));
    // The program dies once what was typed is in its draft, however long a busy machine took to write it.
    const QString drafts
        = m_root.filePath(QStringLiteral("data/") + QLatin1String(AppPaths::bundleIdentifier));
    const bool drafted = waitUntil(
        [&] {
            // The program makes the key; a key made here would not open its draft.
            if (!QFileInfo::exists(drafts + QLatin1Char('/') + QLatin1String(DraftKeyStore::fileName)))
                return false;
            try {
                const std::optional<CaptureDraft> draft
                    = EncryptedDraftStore(drafts, DraftKeyStore::loadOrCreate(drafts)).load();
                return draft && draft->title == title && draft->note.contains(remark)
                    && draft->tags == QStringList { QStringLiteral("recovered") };
            } catch (const std::exception &) {
                return false;
            }
        },
        windowTimeout);
    QVERIFY2(drafted, "what was typed did not reach the draft");
    m_app->kill();
    QVERIFY2(m_app->waitForExit(10000), "kill -9 did not end quorvel");
    stopHelpers();

    QVERIFY2(startApp(), "quorvel did not start again after the crash");
    QVERIFY2(waitForWindow(QStringLiteral("Unfinished Capture")),
        "no \"Unfinished Capture\" window after the crash");
    shoot(QStringLiteral("crashAndRecovery-1-offer"));
    QVERIFY2(clickText(QStringLiteral("Unfinished Capture"), QStringLiteral("Resume Review")),
        qPrintable(seen("no \"Resume Review\"")));
    QVERIFY2(waitForWindow(reviewTitle), "\"Resume Review\" opened no review");
    QVERIFY2(waitForText(reviewTitle, lines + QStringList { reviewReady }),
        qPrintable(seen("the captured lines are not in the resumed review")));
    const bool titleShown = waitForText(reviewTitle, title, 5000).has_value();
    shoot(QStringLiteral("crashAndRecovery-2-resumed"));
    const std::optional<QString> saved = saveReview(before);
    QVERIFY2(saved, qPrintable(seen("Ctrl+S saved no note of the resumed draft")));
    const Note note = readNote(m_notes + QLatin1Char('/') + *saved);
    QVERIFY2(note.problem.isEmpty(), qPrintable(note.problem));
    for (const QString &line : lines)
        QVERIFY2(
            note.body.count(line) == 1, qPrintable(quoted(line) + " is not once in the body:\n" + note.body));
    // What was typed before the crash survives it.
    QVERIFY2(titleShown && note.front.value(QStringLiteral("title")).toString() == title
            && note.body.count(remark) == 1 && tagsOf(note) == QStringList { QStringLiteral("recovered") },
        qPrintable(QStringLiteral("what was typed before the crash was lost (title shown again: %1):\n%2\n%3")
                       .arg(titleShown ? "yes" : "no", QString::fromUtf8(QJsonDocument(note.front).toJson()),
                           note.body)));
}

// 4. A long numbered column under a header that stays put, captured from the tray menu: it scrolls to
// its end by itself and the note holds every numbered line once, in order.
void TestJourneys::scrollingCapture()
{
    QVERIFY2(ensureRunning(), "quorvel is not running");
    constexpr int lineCount = 60;
    QProcess *column = startHelper(TestSupport::binaryDir() + QStringLiteral("/scroll_target"),
        { QStringLiteral("--sticky"), QStringLiteral("--lines"), QString::number(lineCount),
            QStringLiteral("--pos"), QStringLiteral("260,160"), QStringLiteral("--size"),
            QStringLiteral("700x520") },
        "ready ");
    QVERIFY2(column, "the scrolling window did not come up");
    const QRegularExpressionMatch region
        = QRegularExpression(QStringLiteral("region=(\\d+),(\\d+),(\\d+),(\\d+)"))
              .match(QString::fromLatin1(column->readAll()));
    QVERIFY(region.hasMatch());
    const QRect area(region.captured(1).toInt(), region.captured(2).toInt(), region.captured(3).toInt(),
        region.captured(4).toInt());
    const QStringList before = filesIn(m_notes, QStringLiteral("*.md"));

    // The person works in the window to be scrolled; the introduction still comes to the front, with
    // the keyboard.
    const std::optional<DesktopWindows::Window> worked = m_windows->window(QStringLiteral("Scroll target"));
    QVERIFY(worked);
    m_pointer->click(worked->geometry.center());
    QVERIFY2(waitUntil(
                 [&] {
                     const std::optional<DesktopWindows::Window> active = m_windows->activeWindow();
                     return active && active->id == worked->id;
                 },
                 5000),
        "the scrolling window could not be activated");
    QVERIFY2(chooseFromTray(QStringLiteral("Capture Scrolling Region")),
        qPrintable(seen("\"Capture Scrolling Region…\" could not be chosen in the tray menu")));
    const QString introductionTitle = QStringLiteral("Capture a long scrolling area");
    QVERIFY2(waitForWindow(introductionTitle), qPrintable(seen("no introduction to scrolling capture")));
    const bool introductionInFront = waitUntil(
        [&] {
            const std::optional<DesktopWindows::Window> active = m_windows->activeWindow();
            const QList<DesktopWindows::Window> stack = m_windows->windows();
            const auto place = [&](const QString &title) {
                for (qsizetype i = stack.size() - 1; i >= 0; --i) {
                    if (stack[i].title == title)
                        return i;
                }
                return qsizetype(-1);
            };
            return active && active->title == introductionTitle
                && place(introductionTitle) > place(QStringLiteral("Scroll target"));
        },
        10000);
    QVERIFY2(introductionInFront,
        qPrintable(seen("the introduction did not come in front of the active window with the keyboard")));
    // Then (the first time) the question about scrolling another window.
    QVERIFY2(clickText(introductionTitle, QStringLiteral("Select Region")),
        qPrintable(seen("no introduction to scrolling capture")));
    QElapsedTimer prompts;
    prompts.start();
    bool outlined = false;
    while (!outlined && prompts.elapsed() < windowTimeout) {
        if (findText(QStringLiteral("Allow scrolling capture?"), { QStringLiteral("Continue") }))
            clickText(QStringLiteral("Allow scrolling capture?"), QStringLiteral("Continue"), 5000);
        outlined = selectRegion(area.adjusted(2, 2, -2, -2));
    }
    QVERIFY2(outlined, qPrintable(seen("no outline overlay after the prompts")));
    shoot(QStringLiteral("scrollingCapture-1-scrolling"));
    // It ends by itself at the column's end.
    QVERIFY2(waitForWindow(reviewTitle, 90000), "the scrolling capture did not end in a review");
    // The review opens as the scrolling ends, and fills once the last sections are read.
    QVERIFY2(waitForText(
                 reviewTitle, { QStringLiteral("Review the text, then save Markdown."), reviewReady }, 90000),
        qPrintable(seen("the scrolled column's text was not recognized")));
    shoot(QStringLiteral("scrollingCapture-2-review"));
    const std::optional<QString> saved = saveReview(before);
    QVERIFY2(saved, qPrintable(seen("Ctrl+S saved no note of the scrolling capture")));
    const Note note = readNote(m_notes + QLatin1Char('/') + *saved);
    QVERIFY2(note.problem.isEmpty(), qPrintable(note.problem));
    QList<int> numbers;
    QRegularExpressionMatchIterator found
        = QRegularExpression(QStringLiteral("\\bLine (\\d+)\\b")).globalMatch(note.body);
    while (found.hasNext())
        numbers << found.next().captured(1).toInt();
    QList<int> expected;
    for (int i = 1; i <= lineCount; ++i)
        expected << i;
    // What stays put in the window is not repeated as the column moves under it.
    for (const QString &still : { QStringLiteral("Sticky header"), QStringLiteral("Footer: status line") })
        QVERIFY2(
            note.body.count(still) <= 1, qPrintable(quoted(still) + " repeats in the note:\n" + note.body));
    QVERIFY2(numbers == expected,
        qPrintable(QStringLiteral("the numbered lines in the note are not 1 to %1 once each, in order:\n%2")
                       .arg(lineCount)
                       .arg(note.body)));
}

// 5. An application speaking as Others and the microphone as You, recorded for six seconds from the tray:
// the audio review shows both transcripts and saving writes the note beside two whole recordings.
void TestJourneys::audioSession()
{
    QVERIFY2(ensureRunning(), "quorvel is not running");
    QVERIFY(wakeSinks());
    QVERIFY2(startHelper(m_speaker,
                 { QStringLiteral("--file-format=wav"), m_root.filePath(QStringLiteral("others.wav")) }, {}),
        "the speaking application did not start");

    QVERIFY2(
        chooseFromTray(QStringLiteral("Settings")), qPrintable(seen("no \"Settings…\" in the tray menu")));
    QVERIFY2(waitForWindow(QStringLiteral("Settings")), qPrintable(seen("\"Settings…\" opened no window")));
    // The audio settings are further down.
    QVERIFY2(scrollTo(QStringLiteral("Settings"), QStringLiteral("Record my microphone")),
        qPrintable(seen("no audio settings")));
    // The list fills in as the settings find the applications; a list near the screen's edge shows
    // few rows at a time: the person opens it, types the name and presses Return, again until the
    // choice shows.
    bool chosen = false;
    QElapsedTimer listing;
    listing.start();
    while (!chosen && listing.elapsed() < textTimeout) {
        QVERIFY2(clickText(QStringLiteral("Settings"), QStringLiteral("This Computer")),
            qPrintable(seen("no Others choice in the settings")));
        if (!waitUntil([&] { return !m_windows->popups(m_app->pid()).isEmpty(); }, 5000))
            continue;
        QVERIFY(m_keyboard->type(QStringLiteral("Speaker\n")));
        chosen = waitForText(QStringLiteral("Settings"), QStringLiteral("Speaker"), 3000).has_value();
    }
    QVERIFY2(chosen, qPrintable(seen("the Others list does not offer Speaker")));
    QVERIFY2(waitForText(QStringLiteral("Settings"), QStringLiteral("Speaker")),
        qPrintable(seen("Speaker is not chosen")));
    shoot(QStringLiteral("audioSession-1-settings"));
    if (const auto settings = m_windows->window(QStringLiteral("Settings"), m_app->pid()))
        m_windows->close(*settings);

    const QStringList before = filesIn(m_notes, QStringLiteral("*"));
    QVERIFY2(chooseFromTray(QStringLiteral("Record Audio")), qPrintable(seen("no \"Record Audio\"")));
    QVERIFY2(newFile(before, QStringLiteral("*_you.m4a"), windowTimeout), "the recording did not begin");
    QElapsedTimer recording;
    recording.start();
    QVERIFY2(
        startHelper(QStringLiteral("paplay"),
            { QStringLiteral("-d"), QStringLiteral("micsrc"), m_root.filePath(QStringLiteral("you.wav")) },
            {}),
        "the microphone's speech did not start");
    // The person stops after six seconds.
    pauseFor(int(6000 - recording.elapsed()));
    QVERIFY2(chooseFromTray(QStringLiteral("Stop Recording")), qPrintable(seen("no \"Stop Recording\"")));
    // Finding the menu item may take seconds on a busy machine; the recording goes on meanwhile.
    const double stoppedAfter = recording.elapsed() / 1000.0;

    const QString review = QStringLiteral("Review Audio");
    QVERIFY2(waitForWindow(review, 90000), "no \"Review Audio\" window after stopping");
    QVERIFY2(waitForText(review, QStringLiteral("Save Markdown"), 90000),
        qPrintable(seen("the audio review has no Save")));
    QElapsedTimer heard;
    heard.start();
    bool both = false;
    // Both files are transcribed first, which a busy machine takes minutes over.
    while (!both && heard.elapsed() < 4 * textTimeout) {
        const std::optional<DesktopWindows::Window> window = m_windows->window(review, m_app->pid());
        const QStringList words
            = window ? SpeechFixtures::words(ScreenText::text(read(*window))) : QStringList();
        both = (words.contains("weather") || words.contains("sunny") || words.contains("breeze"))
            && (words.contains("good") || words.contains("morning"));
    }
    shoot(QStringLiteral("audioSession-2-review"));
    QVERIFY2(both, qPrintable(seen("the audio review does not show both transcripts")));
    const QStringList notesBefore = filesIn(m_notes, QStringLiteral("*.md"));
    QVERIFY2(clickText(review, QStringLiteral("Save Markdown")), qPrintable(seen("no \"Save Markdown\"")));
    const std::optional<QString> saved = newFile(notesBefore, QStringLiteral("*.md"), windowTimeout);
    QVERIFY2(saved, "\"Save Markdown\" wrote no note");

    const Note note = readNote(m_notes + QLatin1Char('/') + *saved);
    QVERIFY2(note.problem.isEmpty(), qPrintable(note.problem));
    const double seconds = note.front.value(QStringLiteral("durationSeconds")).toDouble();
    // The recording began shortly before its file was seen, and ended once Stop was chosen.
    QVERIFY2(seconds >= 5.5 && seconds <= stoppedAfter + 3,
        qPrintable(QStringLiteral("recorded %1 s, stopped after %2 s").arg(seconds).arg(stoppedAfter)));
    const QString others = note.front.value(QStringLiteral("othersFilename")).toString();
    const QString you = note.front.value(QStringLiteral("youFilename")).toString();
    QVERIFY2(others.endsWith(".m4a") && you.endsWith(".m4a"), qPrintable(QJsonDocument(note.front).toJson()));
    QVERIFY2(note.front.value(QStringLiteral("heardOthers")).toBool()
            && note.front.value(QStringLiteral("heardYou")).toBool(),
        qPrintable(QJsonDocument(note.front).toJson()));
    const QStringList othersWords = SpeechFixtures::words(
        note.body.section(QStringLiteral("## Others\n"), 1).section(QStringLiteral("## You\n"), 0, 0));
    const QStringList youWords = SpeechFixtures::words(note.body.section(QStringLiteral("## You\n"), 1));
    QVERIFY2((othersWords.contains("weather") || othersWords.contains("breeze"))
            && (youWords.contains("good") || youWords.contains("morning")),
        qPrintable("the note does not hold both transcripts:\n" + note.body));
    for (const QString &file : { others, you }) {
        const QString path = m_notes + QLatin1Char('/') + file;
        const std::optional<AudioFileProbe::Info> info = AudioFileProbe::probe(path);
        QVERIFY2(info && info->sampleRate > 0, qPrintable(file + " is not readable audio"));
        const double decoded = double(AudioFileProbe::decodeChannel(path).size()) / info->sampleRate;
        // The note gives whole seconds, cut down: the session ran between that and a second more. A gap
        // left out or filled twice is seconds long.
        QVERIFY2(decoded > seconds - 0.5 && decoded < seconds + 1.5,
            qPrintable(
                QStringLiteral("%1 decodes to %2 s of a %3 s session").arg(file).arg(decoded).arg(seconds)));
    }
}

// 6. SIGTERM during a recording: the program ends only after the recording and its note are saved.
void TestJourneys::quitWhileRecording()
{
    QVERIFY2(ensureRunning(), "quorvel is not running");
    QVERIFY(wakeSinks());
    QVERIFY2(startHelper(m_speaker,
                 { QStringLiteral("--file-format=wav"), m_root.filePath(QStringLiteral("others.wav")) }, {}),
        "the speaking application did not start");
    const QStringList before = filesIn(m_notes, QStringLiteral("*"));
    QVERIFY2(chooseFromTray(QStringLiteral("Record Audio")), qPrintable(seen("no \"Record Audio\"")));
    const std::optional<QString> you = newFile(before, QStringLiteral("*_you.m4a"), windowTimeout);
    QVERIFY2(you, "the recording did not begin");
    const std::optional<QString> others = newFile(before, QStringLiteral("*_others.m4a"), windowTimeout);
    QVERIFY2(others, "the recording of Others did not begin");
    // Some seconds of sound on disk before the session ends.
    QElapsedTimer recording;
    recording.start();
    pauseFor(3000);
    const double recorded = recording.elapsed() / 1000.0;
    m_app->terminate();
    QVERIFY2(m_app->waitForExit(60000), "quorvel did not end within a minute of SIGTERM");
    QVERIFY2(
        m_app->exitedCleanly(), qPrintable("quorvel " + m_app->exitDescription() + "\n" + m_app->logTail()));

    QStringList written;
    for (const QString &name : filesIn(m_notes, QStringLiteral("*.md"))) {
        if (!before.contains(name))
            written << name;
    }
    QVERIFY2(written.size() == 1,
        qPrintable(
            QStringLiteral("not one note of the recording beside %1: %2").arg(*you, written.join(", "))));
    const Note note = readNote(m_notes + QLatin1Char('/') + written.first());
    QVERIFY2(note.problem.isEmpty(), qPrintable(note.problem));
    QCOMPARE(note.front.value(QStringLiteral("youFilename")).toString(), *you);
    QCOMPARE(note.front.value(QStringLiteral("othersFilename")).toString(), *others);
    const double seconds = note.front.value(QStringLiteral("durationSeconds")).toDouble();
    QVERIFY2(seconds >= recorded - 1.0,
        qPrintable(
            QStringLiteral("the note says %1 s of at least %2 s recorded").arg(seconds).arg(recorded)));
    for (const QString &file : { *others, *you }) {
        const QString path = m_notes + QLatin1Char('/') + file;
        const std::optional<AudioFileProbe::Info> info = AudioFileProbe::probe(path);
        QVERIFY2(info && info->sampleRate > 0, qPrintable(file + " is not readable audio"));
        const double decoded = double(AudioFileProbe::decodeChannel(path).size()) / info->sampleRate;
        // The note gives whole seconds, cut down: the session ran between that and a second more. A gap
        // left out or filled twice is seconds long.
        QVERIFY2(decoded > seconds - 0.5 && decoded < seconds + 1.5,
            qPrintable(
                QStringLiteral("%1 decodes to %2 s of a %3 s session").arg(file).arg(decoded).arg(seconds)));
    }
    m_app.reset();
}

QProcessEnvironment TestJourneys::appEnvironment() const
{
    QProcessEnvironment env = m_desktop->environment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("OMP_THREAD_LIMIT"));
    env.insert(QStringLiteral("HOME"), m_root.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_root.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_root.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("XDG_DATA_DIRS"),
        m_root.filePath(QStringLiteral("share")) + QStringLiteral(":/usr/local/share:/usr/share"));
    return env;
}

QProcessEnvironment TestJourneys::helperEnvironment() const
{
    QProcessEnvironment env = m_desktop->environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

bool TestJourneys::startApp()
{
    m_app = std::make_unique<QuorvelInstance>(m_program, appEnvironment(), m_log);
    if (!m_app->start())
        return false;
    // Up once its icon is in the tray.
    waitUntil(
        [&] { return !m_app->isRunning() || m_windows->trayIcon(m_desktop->trayHostPid(), m_app->pid()); },
        windowTimeout);
    return m_app->isRunning() && m_windows->trayIcon(m_desktop->trayHostPid(), m_app->pid());
}

bool TestJourneys::ensureRunning()
{
    return (m_app && m_app->isRunning()) || startApp();
}

QString TestJourneys::shoot(const QString &name) const
{
    const QString path = m_shots + QLatin1Char('/') + name + QStringLiteral(".png");
    return m_windows && m_windows->grab().save(path) ? path : QStringLiteral("(no screenshot)");
}

QString TestJourneys::seen(const QString &what) const
{
    return m_lastSeen.isEmpty() ? what : QStringLiteral("%1; the screen read:\n%2").arg(what, m_lastSeen);
}

std::optional<DesktopWindows::Window> TestJourneys::waitForWindow(const QString &title, int timeout)
{
    std::optional<DesktopWindows::Window> window;
    waitUntil(
        [&] {
            window = m_app ? m_windows->window(title, m_app->pid()) : std::nullopt;
            return window.has_value();
        },
        timeout);
    return window;
}

bool TestJourneys::waitForWindowGone(const QString &title, int timeout)
{
    return waitUntil([&] { return !m_windows->window(title, m_app->pid()); }, timeout);
}

bool TestJourneys::bringForward(const QString &title)
{
    const std::optional<DesktopWindows::Window> window = waitForWindow(title, 5000);
    if (!window)
        return false;
    m_windows->activate(*window);
    return waitUntil(
        [&] {
            const std::optional<DesktopWindows::Window> active = m_windows->activeWindow();
            return active && active->id == window->id;
        },
        5000);
}

QList<ScreenText::Word> TestJourneys::read(const DesktopWindows::Window &window)
{
    // Reading takes a while; a window that shows the same pixels as last time says the same words.
    const QImage picture = m_windows->grab(window.geometry);
    if (picture != m_lastPicture || window.geometry.topLeft() != m_lastWords.origin) {
        m_lastPicture = picture;
        m_lastWords = { window.geometry.topLeft(), m_reader->read(picture, window.geometry.topLeft()) };
    }
    m_lastSeen = QStringLiteral("[%1]\n%2").arg(window.title, ScreenText::text(m_lastWords.words));
    return m_lastWords.words;
}

std::optional<QRect> TestJourneys::findText(const QString &title, const QStringList &phrases)
{
    const std::optional<DesktopWindows::Window> window = m_windows->window(title, m_app->pid());
    if (!window)
        return std::nullopt;
    const QList<ScreenText::Word> words = read(*window);
    std::optional<QRect> first;
    for (const QString &phrase : phrases) {
        const std::optional<QRect> at = ScreenText::find(words, phrase);
        if (!at)
            return std::nullopt;
        if (!first)
            first = at;
    }
    return first;
}

std::optional<QRect> TestJourneys::waitForText(const QString &title, const QStringList &phrases, int timeout)
{
    std::optional<QRect> found;
    waitUntil(
        [&] {
            found = findText(title, phrases);
            return found.has_value();
        },
        timeout);
    return found;
}

bool TestJourneys::clickText(const QString &title, const QString &phrase, int timeout)
{
    const std::optional<QRect> at = waitForText(title, phrase, timeout);
    if (!at)
        return false;
    m_pointer->click(at->center());
    return true;
}

bool TestJourneys::typeInto(const QString &title, const QString &label, const QString &text)
{
    const std::optional<QRect> at = waitForText(title, label);
    if (!at)
        return false;
    m_pointer->click(QPoint(at->right() + 100, at->center().y()));
    // Keys go where the window manager sends them: a busy one gives the window the keyboard late, and a
    // person waits to see it before typing.
    const bool focused = waitUntil(
        [&] {
            const std::optional<DesktopWindows::Window> active = m_windows->activeWindow();
            return active && active->title == title;
        },
        windowTimeout);
    m_keyboard->chord({ XK_Control_L }, XK_a);
    return focused && m_keyboard->type(text);
}

bool TestJourneys::clickInPopup(const QString &phrase, int timeout)
{
    std::optional<QRect> at;
    waitUntil(
        [&] {
            for (const DesktopWindows::Window &popup : m_windows->popups(m_app->pid())) {
                at = ScreenText::find(read(popup), phrase);
                if (at)
                    return true;
            }
            return false;
        },
        timeout);
    if (!at)
        return false;
    m_pointer->click(at->center());
    return true;
}

std::optional<QRect> TestJourneys::scrollTo(const QString &title, const QString &phrase)
{
    for (int turn = 0; turn < 12; ++turn) {
        const std::optional<DesktopWindows::Window> window = waitForWindow(title, 5000);
        if (!window)
            return std::nullopt;
        if (const std::optional<QRect> at = ScreenText::find(read(*window), phrase))
            return at;
        m_pointer->scroll(
            QPoint(window->geometry.left() + window->geometry.width() * 2 / 5, window->geometry.center().y()),
            3);
    }
    return std::nullopt;
}

bool TestJourneys::openTrayMenu()
{
    // The menu is the largest pop-up (a tool tip may be up too).
    const auto menuOpen = [this] {
        for (const DesktopWindows::Window &popup : m_windows->popups(m_app->pid())) {
            if (popup.geometry.height() > 100)
                return true;
        }
        return false;
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::optional<QRect> icon;
        waitUntil(
            [&] {
                icon = m_windows->trayIcon(m_desktop->trayHostPid(), m_app->pid());
                return icon.has_value();
            },
            10000);
        if (!icon) {
            m_lastSeen = QStringLiteral("(no tray icon)");
            return false;
        }
        m_pointer->click(icon->center());
        if (waitUntil(menuOpen, 5000))
            return true;
    }
    m_lastSeen = QStringLiteral("(a click on the tray icon opens no menu)");
    return false;
}

bool TestJourneys::chooseFromTray(const QString &phrase)
{
    if (!openTrayMenu())
        return false;
    if (!clickInPopup(phrase)) {
        m_keyboard->chord({}, XK_Escape);
        return false;
    }
    // A disabled entry leaves the menu open.
    const bool closed = waitUntil(
        [&] {
            for (const DesktopWindows::Window &popup : m_windows->popups(m_app->pid())) {
                if (popup.geometry.height() > 100)
                    return false;
            }
            return true;
        },
        3000);
    if (!closed) {
        m_lastSeen += QStringLiteral("\n(choosing %1 left the menu open: the entry is disabled)")
                          .arg(quoted(phrase));
        m_keyboard->chord({}, XK_Escape);
    }
    return closed;
}

bool TestJourneys::selectRegion(const QRect &area)
{
    // The overlay covers the whole screen with the frozen picture.
    const QRect screen(QPoint(0, 0), m_windows->screenSize());
    const bool overlay = waitUntil(
        [&] {
            for (const DesktopWindows::Window &window : m_windows->windows()) {
                if (window.pid == m_app->pid() && window.geometry.contains(screen))
                    return true;
            }
            return false;
        },
        10000);
    if (!overlay)
        return false;
    m_pointer->drag(area.topLeft(), area.bottomRight());
    return true;
}

bool TestJourneys::advanceSetup(const QString &nextStep)
{
    // A step may still be checking (the screen) when the click comes: Continue is then greyed, and
    // the person clicks again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!clickText(setupTitle, QStringLiteral("Continue")))
            return false;
        if (waitForText(setupTitle, nextStep, 10000))
            return true;
    }
    return false;
}

std::optional<QString> TestJourneys::saveReview(const QStringList &before)
{
    if (!bringForward(reviewTitle) || !waitForRecognition())
        return std::nullopt;
    m_keyboard->chord({ XK_Control_L }, XK_s);
    return newFile(before, QStringLiteral("*.md"), windowTimeout);
}

// The captured image's own words show in the preview before recognition has read them, and Save
// waits for the reading: a person sees the text pane fill before saving.
bool TestJourneys::waitForRecognition()
{
    const QStringList reading { QStringLiteral("Recognizing text") };
    return waitUntil(
        [&] { return !findText(reviewTitle, reading) && !findText(reviewTitle, reading); }, textTimeout);
}

bool TestJourneys::captureToReview(const QRect &target, const QString &firstWords)
{
    pressShortcut();
    return selectRegion(target) && waitForWindow(reviewTitle)
        && waitForText(reviewTitle, { firstWords, reviewReady });
}

void TestJourneys::pressShortcut()
{
    m_keyboard->chord({ XK_Alt_L, XK_Shift_L }, XK_c);
}

QRect TestJourneys::startTarget(const QRect &rect, const QStringList &lines)
{
    const QString geometry
        = QStringLiteral("%1,%2,%3,%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
    QProcess *target = startHelper(TestSupport::binaryDir() + QStringLiteral("/region_target"),
        { QStringLiteral("--rect"), geometry, QStringLiteral("--color"), QStringLiteral("#f6f3ea"),
            QStringLiteral("--class"), QStringLiteral("Notebook"), QStringLiteral("--text"),
            lines.join(u'|') },
        "ready ");
    if (!target)
        return {};
    // Where the window manager let it stand.
    std::optional<DesktopWindows::Window> window;
    waitUntil(
        [&] {
            for (const DesktopWindows::Window &candidate : m_windows->windows()) {
                if (candidate.pid == target->processId())
                    window = candidate;
            }
            return window.has_value();
        },
        windowTimeout);
    if (!window)
        return {};
    // The text stands at its left, a line every 30 pixels from 40 down: the selection takes it with a margin.
    return QRect(window->geometry.topLeft() + QPoint(6, 14),
        QSize(std::min(window->geometry.width() - 12, 460),
            std::min(window->geometry.height() - 20, 30 * int(lines.size()) + 20)));
}

QProcess *TestJourneys::startHelper(
    const QString &program, const QStringList &arguments, const QByteArray &readyLine)
{
    auto process = std::make_unique<QProcess>();
    TestSupport::endWithTest(*process);
    process->setProcessEnvironment(helperEnvironment());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    if (!process->waitForStarted(10000))
        return nullptr;
    QProcess *raw = process.get();
    m_helpers.push_back(std::move(process));
    if (readyLine.isEmpty())
        return raw;
    const bool ready = waitUntil(
        [&] { return raw->state() != QProcess::Running || raw->peek(1 << 16).contains(readyLine); },
        windowTimeout);
    return ready && raw->state() == QProcess::Running ? raw : nullptr;
}

void TestJourneys::stopHelpers()
{
    for (auto &helper : m_helpers) {
        if (helper->state() != QProcess::NotRunning) {
            helper->kill();
            helper->waitForFinished(5000);
        }
    }
    m_helpers.clear();
}

bool TestJourneys::installSpeaker()
{
    // An installed application of its own (a copy of paplay under another name) that speaks as Others,
    // and the sentence the microphone says as You.
    m_speaker = m_root.filePath(QStringLiteral("speaker/speaker"));
    if (!QDir().mkpath(QFileInfo(m_speaker).path())
        || !QFile::copy(QStringLiteral("/usr/bin/paplay"), m_speaker))
        return false;
    writeDesktopFile(m_root.filePath(QStringLiteral("share")), QStringLiteral("speaker"),
        QStringLiteral("[Desktop Entry]\nType=Application\nName=Speaker\nExec=%1\n").arg(m_speaker));
    const QVector<qint16> others
        = SpeechFixtures::speak(QStringLiteral("the weather today is sunny with a light breeze"), "kal16");
    const QVector<qint16> you = SpeechFixtures::speak(QStringLiteral("good morning"), "kal16");
    if (others.isEmpty() || you.isEmpty())
        return false;
    // Said again and again, so whole sentences fall inside the recording whenever it starts.
    QVector<qint16> sentences;
    for (int i = 0; i < 10; ++i)
        sentences += SpeechFixtures::silence(0.8) + others;
    return SpeechFixtures::writeWav(m_root.filePath(QStringLiteral("others.wav")), sentences)
        && SpeechFixtures::writeWav(m_root.filePath(QStringLiteral("you.wav")),
            SpeechFixtures::silence(0.5) + you + SpeechFixtures::silence(1.0) + you);
}

bool TestJourneys::wakeSinks()
{
    // The private server's null sinks answer a new listener only every two seconds while idle; a sound
    // card answers at once. Silent players keep them as quick as one.
    if (!m_sinksAwake)
        m_sinksAwake = m_keepers.keepSinksAwake();
    return m_sinksAwake;
}

std::optional<QString> TestJourneys::newFile(const QStringList &before, const QString &pattern, int timeout)
{
    std::optional<QString> found;
    waitUntil(
        [&] {
            for (const QString &name : filesIn(m_notes, pattern)) {
                if (!before.contains(name))
                    found = name;
            }
            return found.has_value();
        },
        timeout);
    return found;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TestJourneys test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Journeys.moc"
