#include "Model/ReviewSession.h"
#include "ModelHarness.h"
#include "Settings/SetupStepPanel.h"
#include "Settings/ShortcutRecorder.h"
#include "Shell/CaptureCommands.h"
#include "Shell/MenuBarFallbackWindow.h"
#include "Shell/MenuBarMenu.h"
#include "Shell/MenuContent.h"
#include "Shell/StoredBoolean.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

namespace {

enum class State { idle, selecting, review, recording, transcribing, draftPending, reviewSaving, reviewOCR };

} // namespace

class TestMenus : public QObject
{
    Q_OBJECT

    std::unique_ptr<ModelHarness> m_harness;
    ModelCommands m_commands;
    QStringList m_log;

    void enter(State state)
    {
        ModelContext &context = m_harness->context();
        const CaptureDraft draft = m_harness->storeDraft();
        if (state == State::draftPending || state == State::review)
            context.setPendingDraft(draft);
        if (state == State::review || state == State::reviewSaving || state == State::reviewOCR) {
            auto review = std::make_shared<ReviewSession>(draft, QImage(), context.settings(), "", nullptr);
            review->setDestination(FolderBookmark::make(QUrl::fromLocalFile(m_harness->dir.path())));
            review->setSaving(state == State::reviewSaving);
            review->setOCRRunning(state == State::reviewOCR);
            context.setReviewSession(review);
            context.setPhase(CapturePhase::review);
        }
        if (state == State::selecting)
            context.setPhase(CapturePhase::selecting);
        if (state == State::recording || state == State::transcribing) {
            m_harness->model->audio().setPhase(
                state == State::recording ? AudioSessionPhase::recording : AudioSessionPhase::transcribing);
        }
    }

private slots:
    void init()
    {
        m_harness = std::make_unique<ModelHarness>();
        m_harness->make();
        m_log.clear();
        const std::pair<std::function<void()> *, QString> commands[] = {
            { &m_commands.handleCaptureInvocation, "capture" },
            { &m_commands.startScrollingCapture, "scrolling" }, { &m_commands.cancelVisualCapture, "cancel" },
            { &m_commands.handleAudioInvocation, "audio" }, { &m_commands.cancelOCR, "cancel-ocr" },
            { &m_commands.retryOCR, "retry-ocr" }, { &m_commands.saveOpenReview, "save" },
            { &m_commands.copyReviewedText, "copy-text" }, { &m_commands.openCaptureFolder, "folder" }
        };
        for (const auto &[command, name] : commands) {
            *command = [this, name] {
                // Whether the front application was remembered before the model was called.
                std::optional<QDateTime> &remembered
                    = m_harness->context().visualCapture().rememberedApplicationAt;
                m_log << name + (remembered ? "+" : "");
                remembered.reset();
            };
        }
    }

    void trayMenuFollowsTheState_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("detail");
        const QString rest = " recents folder updates feedback settings quit";
        QTest::newRow("idle") << State::idle << "capture scrolling audio sources" + rest << "Ready";
        QTest::newRow("selecting") << State::selecting << "-capture -scrolling cancel -audio sources" + rest
                                   << "Selecting region";
        QTest::newRow("review open, its draft pending: no resume")
            << State::review << "capture scrolling audio sources" + rest << "Review open";
        QTest::newRow("recording") << State::recording << "audio -capture -scrolling meter" + rest
                                   << "Recording";
        QTest::newRow("transcribing")
            << State::transcribing << "-capture -scrolling -audio sources" + rest << "Ready";
        QTest::newRow("draft pending")
            << State::draftPending << "capture scrolling audio sources resume" + rest << "Unfinished capture";
    }

    void trayMenuFollowsTheState()
    {
        QFETCH(State, state);
        QFETCH(QString, expected);
        QFETCH(QString, detail);
        MenuContent content(*m_harness->model, m_commands,
            { [this] { m_log << "dismiss"; }, [this](const QString &id) { m_log << "open " + id; }, [] {},
                [] {}, [] {} });
        enter(state);
        const MenuEntries entries = content.entries();
        // The lines in order, "-" in front of a disabled command.
        QStringList lines;
        for (const MenuEntry &entry : entries) {
            if (entry.kind == MenuEntry::Kind::command || entry.kind == MenuEntry::Kind::note)
                lines << (entry.enabled || entry.kind == MenuEntry::Kind::note ? "" : "-") + entry.id;
        }
        QCOMPARE(lines.join(' '), expected);
        QVERIFY2(entries.first().title.endsWith(" · " + detail), qPrintable(entries.first().title));

        // Each command: remember the front application (captures), close the menu, call the model.
        const QHash<QString, QStringList> work { { "capture", { "dismiss", "capture+" } },
            { "scrolling", { "dismiss", "scrolling+" } }, { "cancel", { "dismiss", "cancel" } },
            { "audio", { "dismiss", "audio" } }, { "resume", { "open recovery" } },
            { "recents", { "open recents" } }, { "folder", { "folder" } } };
        for (const MenuEntry &entry : entries) {
            if (!entry.enabled || !work.contains(entry.id))
                continue;
            m_log.clear();
            entry.action();
            QCOMPARE(m_log, work.value(entry.id));
        }
    }

    void captureLineShowsTheHotKeyOnlyWhenRegistered_data()
    {
        QTest::addColumn<HotKeyRegistrationState>("registration");
        QTest::addColumn<QString>("characters");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("warning");
        const auto ok = HotKeyRegistrationState::registered;
        QTest::newRow("registered") << ok << " C\n"
                                    << "Meta+Ctrl+Alt+Shift+C"
                                    << "";
        QTest::newRow("no key text") << ok << ""
                                     << ""
                                     << "Your capture shortcut is Ctrl+Alt+Shift+Super+C";
        QTest::newRow("two characters") << ok << "ab"
                                        << ""
                                        << "Your capture shortcut is Ctrl+Alt+Shift+Super+AB";
        QTest::newRow("in use") << HotKeyRegistrationState::conflict << "c"
                                << ""
                                << "Ctrl+Alt+Shift+Super+C is already in use";
        QTest::newRow("unavailable") << HotKeyRegistrationState::unavailable << "c"
                                     << ""
                                     << "Capture from the tray";
    }

    void captureLineShowsTheHotKeyOnlyWhenRegistered()
    {
        QFETCH(HotKeyRegistrationState, registration);
        QFETCH(QString, characters);
        QFETCH(QString, keys);
        QFETCH(QString, warning);
        m_harness->hotKeyAnswer = registration;
        m_harness->model->applyShortcut(CaptureShortcut { 8, 0x1000 | 0x800 | 0x200 | 0x100, characters });
        MenuContent content(*m_harness->model, m_commands, {});
        const MenuEntries entries = content.entries();
        QCOMPARE(entries.at(1).id, QString("capture"));
        QCOMPARE(entries.at(1).shortcut.toString(QKeySequence::PortableText), keys);
        QCOMPARE(entries.at(2).id == "shortcut-warning" ? entries.at(2).title : QString(), warning);
    }

    // One rendering wherever the capture shortcut appears, Linux style: the menu's line, the window
    // standing in for the tray, the recorder's chip, its status and the setup text about the default.
    void theShortcutReadsTheSameEverywhere_data()
    {
        QTest::addColumn<CaptureShortcut>("shortcut");
        QTest::addColumn<HotKeyRegistrationState>("registration");
        QTest::addColumn<QString>("shown");
        QTest::newRow("the default") << CaptureShortcut::defaultShortcut()
                                     << HotKeyRegistrationState::registered << "Alt+Shift+C";
        QTest::newRow("Ctrl and Alt") << CaptureShortcut { 0x28, 0x1000 | 0x800, "k" }
                                      << HotKeyRegistrationState::registered << "Ctrl+Alt+K";
        QTest::newRow("Super on a named key, in use") << CaptureShortcut { 0x31, 0x100 | 0x200,
            " " } << HotKeyRegistrationState::conflict << "Shift+Super+Space";
    }

    void theShortcutReadsTheSameEverywhere()
    {
        QFETCH(CaptureShortcut, shortcut);
        QFETCH(HotKeyRegistrationState, registration);
        QFETCH(QString, shown);
        m_harness->hotKeyAnswer = registration;
        m_harness->model->applyShortcut(shortcut);
        MenuContent content(*m_harness->model, m_commands, {});
        QStringList seen;
        MenuBarMenu menu(content);
        for (QAction *action : menu.actions()) {
            if (action->objectName() == QLatin1String("capture")
                || action->objectName() == "shortcut-warning")
                seen << action->text();
        }
        MenuBarFallbackWindow window(content);
        for (QLabel *label : window.findChildren<QLabel *>())
            seen << label->text();
        ShortcutRecorder recorder(*m_harness->model, true);
        for (QLabel *label : recorder.findChildren<QLabel *>())
            seen << label->text();
        for (QPushButton *button : recorder.findChildren<QPushButton *>())
            seen << button->text() << button->toolTip();
        seen << SetupStepPanel::texts(OnboardingStep::shortcut);
        const QString all = seen.join(u'\n');
        QVERIFY2(all.contains(shown), qPrintable(all));
        if (registration == HotKeyRegistrationState::registered)
            QVERIFY2(all.contains(QStringLiteral("Capture Region…\t") + shown), qPrintable(all));
        // The default is named the same way where setup speaks of it and where it can be restored.
        QVERIFY(all.contains(QStringLiteral("Alt+Shift+C is the default.")));
        if (shortcut != CaptureShortcut::defaultShortcut())
            QVERIFY(all.contains(QStringLiteral("Use Alt+Shift+C"))
                && all.contains(QStringLiteral("Restore the default Alt+Shift+C shortcut")));
        for (const QString &other : { QStringLiteral("⌃"), QStringLiteral("⌥"), QStringLiteral("⇧"),
                 QStringLiteral("⌘"), QStringLiteral("Alt-Shift"), QStringLiteral("Alt Shift C"),
                 QStringLiteral("Meta+"), QStringLiteral("Option") })
            QVERIFY2(!all.contains(other), qPrintable(other));
    }

    // The stand-in window grows with a line that starts to wrap: its text is never cut.
    void standInWindowHoldsItsLines_data()
    {
        QTest::addColumn<QString>("status");
        QTest::newRow("one line") << QStringLiteral("Saved");
        QTest::newRow("several lines") << QStringLiteral(
            "Recording stopped: “Notes of the planning group for the second half of the year, kept "
            "together” could not be written (the disk is full)");
    }
    void standInWindowHoldsItsLines()
    {
        QFETCH(QString, status);
        MenuContent content(*m_harness->model, m_commands, {});
        MenuBarFallbackWindow window(content);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // While a session is transcribed, the heading carries the status.
        enter(State::transcribing);
        m_harness->context().setStatusMessage(status);
        // The lines squeezed below the height their text needs.
        const auto shown = [&window, &status] {
            QStringList cut;
            bool showsStatus = false;
            for (const QWidget *line : window.findChildren<QWidget *>()) {
                const auto *label = qobject_cast<const QLabel *>(line);
                const auto *button = qobject_cast<const QPushButton *>(line);
                showsStatus = showsStatus || (label && label->text().endsWith(status));
                const int needed = line->hasHeightForWidth() ? line->heightForWidth(line->width())
                                                             : line->minimumSizeHint().height();
                if (line->isVisible() && line->height() < needed)
                    cut << (label ? label->text() : button ? button->text() : line->objectName());
            }
            return showsStatus ? cut.join(" | ") : QStringLiteral("(the status is not shown)");
        };
        QTRY_VERIFY2_WITH_TIMEOUT(shown().isEmpty(), qPrintable(shown()), 10000);
    }

    void mainMenuFollowsTheReview_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("chosen");
        // Save, copy text, capture, scrolling, cancel, audio, recognition, delete draft, inspector.
        QTest::newRow("no review") << State::idle << "--++-+---"
                                   << "";
        QTest::newRow("review") << State::review << "++++-++++"
                                << "retry-ocr";
        QTest::newRow("review saving") << State::reviewSaving << "-+++-+--+"
                                       << "";
        QTest::newRow("recognizing") << State::reviewOCR << "-+++-++++"
                                     << "cancel-ocr";
        QTest::newRow("selecting") << State::selecting << "----+----"
                                   << "";
    }

    void mainMenuFollowsTheReview()
    {
        QFETCH(State, state);
        QFETCH(QString, expected);
        QFETCH(QString, chosen);
        StoredBoolean inspector(std::make_shared<InMemoryDefaultsStore>(), "review-show-inspector", true);
        QMenuBar bar;
        CaptureCommands commands(*m_harness->model, m_commands, inspector, &bar);
        enter(state);
        commands.refresh();
        QString enabled;
        for (const char *id : { "save", "copy-text", "capture", "scrolling", "cancel", "audio", "ocr",
                 "delete-draft", "inspector" })
            enabled += commands.action(id)->isEnabled() ? '+' : '-';
        QCOMPARE(enabled, expected);
        QCOMPARE(commands.action("ocr")->text(), state == State::reviewOCR ? "Cancel OCR" : "Retry OCR");
        if (!chosen.isEmpty()) {
            commands.action("ocr")->trigger();
            QCOMPARE(m_log, QStringList { chosen });
            // The View menu flips the stored setting the review window reads.
            commands.action("inspector")->trigger();
            QCOMPARE(inspector.value(), false);
            QCOMPARE(commands.action("inspector")->text(), QString("Show Inspector"));
        }
    }
};

QTEST_MAIN(TestMenus)
#include "tst_Menus.moc"
