#include "HeldAnswers.h"
#include "ModelHarness.h"
#include "TestSupport.h"

#include "Documents/DraftKeyStore.h"
#include "Documents/EncryptedDraft.h"
#include "Documents/ImageNormalization.h"
#include "Model/ReviewSession.h"
#include "Platform/FreedMemory.h"
#include "Services/WindowActivation.h"
#include "Vemi/VemiButton.h"
#include "Windows/FramedTextEditor.h"
#include "Windows/MiddleElidedLabel.h"
#include "Windows/ReviewEditorPane.h"
#include "Windows/ReviewInspector.h"
#include "Windows/ReviewPreviewPane.h"
#include "Windows/ReviewToolbar.h"
#include "Windows/ReviewView.h"
#include "Windows/ReviewWindow.h"
#include "Windows/ReviewWindowController.h"
#include "Windows/ScrollingCapturePreview.h"
#include "Windows/ScrollingCaptureTileView.h"
#include "Windows/TextLabel.h"
#include "Windows/ToggleSwitch.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>

#include <csignal>

namespace {

// A folder in the draft file's place (breakDraftFile) is the reason the drafts below cannot be written.
const QString draftNotSaved = QStringLiteral("The encrypted draft could not be saved: a folder is in its "
                                             "place. Keep Review Capture open and try again.");

// The real model over fake services, its stored draft resumed into the real review window.
struct Review
{
    ModelHarness h;
    std::shared_ptr<DefaultsStore> standard = std::make_shared<InMemoryDefaultsStore>();
    ReviewWindowController *controller = nullptr;
    QTemporaryDir captures;

    EncryptedDraftStore store() const
    {
        return EncryptedDraftStore(h.draftFolder(), DraftKeyStore::loadOrCreate(h.draftFolder()));
    }

    // A scrolling capture of `tiles` tiles of 600 by 400 pixels when `tiles` is above 0; without a
    // capture folder when `folder` is false.
    bool open(int tiles = 0, bool folder = true)
    {
        if (folder)
            h.readyToCapture(captures.path());
        CaptureDraft draft = h.storeDraft();
        if (tiles > 0) {
            ScrollingCaptureManifest manifest { 600, 400 * tiles, {} };
            QImage tile(600, 400, QImage::Format_ARGB32_Premultiplied);
            for (int index = 0; index < tiles; ++index) {
                manifest.tiles.append({ index, 600, 400, 400 * index });
                tile.fill(QColor::fromHsv(index * 30, 160, 220));
                store().saveTilePNG(draft.id, index, *ImageNormalization::pngData(tile));
            }
            draft.scrollingCapture = manifest;
            store().save(draft);
        }
        h.adjust = [this](ModelServices &services) {
            services.makeReviewWindow = [this] {
                auto made = std::make_unique<ReviewWindowController>(standard);
                controller = made.get();
                return made;
            };
        };
        AppModel &model = h.make();
        if (!ModelHarness::finish(model.startDraftStoreIfNeeded())
            || !ModelHarness::finish(model.resumePendingDraft()))
            return false;
        return controller && window()->isVisible() && QTest::qWaitForWindowExposed(window());
    }
    AppModel &model() { return *h.model; }
    ReviewWindow *window() const { return controller->window(); }
    ReviewView *view() const { return controller->view(); }
    QPlainTextEdit *editor() const { return view()->editorPane()->editor()->editor(); }
    bool activate() const
    {
        window()->activateWindow();
        return QTest::qWaitForWindowActive(window());
    }
};

} // namespace

class TestReviewWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { WindowActivation::installIfNeeded(); }

    void keepEdits_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("closes");
        QTest::newRow("close button") << "close" << true << true;
        QTest::newRow("Ctrl+W") << "ctrl-w" << true << true;
        QTest::newRow("menu's Close") << "menu" << true << true;
        QTest::newRow("Escape") << "escape" << true << false;
        QTest::newRow("close, draft cannot be written") << "close" << false << false;
        QTest::newRow("Ctrl+W, draft cannot be written") << "ctrl-w" << false << false;
    }

    // Every way out of the window writes the edits into the encrypted draft first; Escape writes
    // them and stays; a draft that cannot be written keeps the window open and says why.
    void keepEdits()
    {
        QFETCH(QString, way);
        QFETCH(bool, writable);
        QFETCH(bool, closes);
        Review r;
        QVERIFY(r.open());
        QVERIFY(r.activate());
        // As a click at the end of the field would; an unfocused value shows its start.
        r.view()->inspector()->titleField()->end(false);
        QTest::keyClicks(r.view()->inspector()->titleField(), QStringLiteral(" edited"));
        r.editor()->moveCursor(QTextCursor::End);
        QTest::keyClicks(r.editor(), QStringLiteral(" more"));
        if (!writable)
            r.h.breakDraftFile();
        auto *bar = new QMenuBar;
        QAction *close = bar->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Close"));
        connect(close, &QAction::triggered, r.window(), &QWidget::close);
        r.controller->setMenuBar(bar);

        if (way == u"close")
            r.window()->close();
        else if (way == u"menu")
            close->trigger();
        else
            QTest::keyClick(r.editor(), way == u"escape" ? Qt::Key_Escape : Qt::Key_W,
                way == u"escape" ? Qt::NoModifier : Qt::ControlModifier);

        if (closes) {
            QTRY_VERIFY(!r.window()->isVisible());
            QVERIFY(!r.model().reviewSession());
        } else if (writable) {
            QTRY_COMPARE(r.store().load()->reviewedText, QStringLiteral("text more"));
        } else {
            QTRY_COMPARE(r.view()->editorPane()->statusLabel()->toolTip(), draftNotSaved);
            QVERIFY(!r.window()->isAskingToClose());
        }
        QCOMPARE(r.window()->isVisible(), !closes);
        if (writable) {
            const std::optional<CaptureDraft> stored = r.store().load();
            QCOMPARE(stored->title, QStringLiteral("Title edited"));
            QCOMPARE(stored->reviewedText, QStringLiteral("text more"));
        }
    }

    void aClickKeysOvertookKeepsThem_data()
    {
        QTest::addColumn<bool>("overtaken");
        QTest::newRow("held back by the window manager: keys first, the click stamped before them") << true;
        QTest::newRow("clicked after the keys") << false;
    }

    // A click into the title, Ctrl+A and typing, with the click reaching the field after Ctrl+A:
    // stamped before it, the click leaves the selection alone and the typing replaces the title. A
    // click that truly came later moves the cursor, and the typing goes where it points.
    void aClickKeysOvertookKeepsThem()
    {
        QFETCH(bool, overtaken);
        Review r;
        QVERIFY(r.open());
        QVERIFY(r.activate());
        const QString recognized = QStringLiteral("Harbor granite ledger 4821");
        const QString typed = QStringLiteral("Harbor journey");
        r.model().reviewSession()->setTitle(recognized);
        QLineEdit *title = r.view()->inspector()->titleField();
        QCOMPARE(title->text(), recognized);
        title->setFocus();

        const quint64 pressed = 50000;
        QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
        selectAll.setTimestamp(overtaken ? pressed + 40 : pressed - 40);
        const QPoint at = title->rect().center();
        const auto click = [&](QEvent::Type type, quint64 stamp) {
            QMouseEvent event(type, at, title->mapToGlobal(at), Qt::LeftButton,
                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            event.setTimestamp(stamp);
            QApplication::sendEvent(title, &event);
        };
        QApplication::sendEvent(title, &selectAll);
        click(QEvent::MouseButtonPress, pressed);
        click(QEvent::MouseButtonRelease, pressed + 30);
        QTest::keyClicks(title, typed);

        if (overtaken) {
            QCOMPARE(title->text(), typed);
        } else {
            // Wherever the click put the cursor, the typing went in there, replacing nothing.
            const qsizetype in = title->text().indexOf(typed);
            QVERIFY2(in >= 0 && QString(title->text()).remove(in, typed.size()) == recognized,
                qPrintable(title->text()));
        }
        QCOMPARE(r.model().reviewSession()->title(), title->text());
    }

    // Killed after the user stops typing, with no Escape, close or quit: the edits were written while
    // the window stayed open, and the next start resumes them.
    void editsSurviveAKill()
    {
        ModelHarness h;
        h.storeDraft();
        const EncryptedDraftStore store(h.draftFolder(), DraftKeyStore::loadOrCreate(h.draftFolder()));
        QProcess typist;
        typist.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        typist.start(TestSupport::binaryDir() + QStringLiteral("/review_typist"), { h.draftFolder() });
        QVERIFY(typist.waitForStarted());
        QVERIFY(typist.waitForReadyRead(60000));
        const QByteArray typed = typist.readLine().trimmed();
        QVERIFY(typed.startsWith("typed "));
        // Its own folder outlives the kill.
        const QString typistFolder = QString::fromLocal8Bit(typed.mid(6));
        const auto removeTypistFolder = qScopeGuard([&] { QDir(typistFolder).removeRecursively(); });
        // Edits kept only on screen never reach the draft, however long the wait.
        QTRY_VERIFY(store.load()->title == u"Title typed");
        ::kill(pid_t(typist.processId()), SIGKILL);
        QTRY_COMPARE(typist.state(), QProcess::NotRunning);
        QCOMPARE(typist.exitStatus(), QProcess::CrashExit);

        AppSettings settings;
        settings.setupComplete = true;
        h.setSettings(settings);
        AppModel &restarted = h.make();
        QVERIFY(ModelHarness::finish(restarted.startDraftStoreIfNeeded()));
        QVERIFY(ModelHarness::finish(restarted.resumePendingDraft()));
        const std::shared_ptr<ReviewSession> resumed = restarted.reviewSession();
        QCOMPARE(resumed->title(), QStringLiteral("Title typed"));
        QCOMPARE(resumed->note(), QStringLiteral("a note"));
        QCOMPARE(resumed->tagsText(), QStringLiteral("crash, test"));
        QCOMPARE(resumed->reviewedText(), QStringLiteral("text typed"));
    }

    void deleteDraft_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("confirmed") << true;
        QTest::newRow("cancelled") << false;
    }

    // Delete Draft… asks first; only the confirmation removes the draft and hides the window.
    void deleteDraft()
    {
        QFETCH(bool, confirm);
        Review r;
        QVERIFY(r.open());
        const QString draftFile = r.store().draftFilePath();
        QVERIFY(QFile::exists(draftFile));
        r.view()->toolbar()->deleteDraftAction()->trigger();
        QTRY_VERIFY(r.view()->deleteAlert() && r.view()->deleteAlert()->isVisible());
        const QString answer = confirm ? QStringLiteral("Delete Draft") : QStringLiteral("Cancel");
        for (QAbstractButton *button : r.view()->deleteAlert()->buttons()) {
            if (button->text() == answer)
                button->click();
        }
        QVERIFY(!r.model().presentsDraftDeleteAlert());
        QTRY_COMPARE(r.window()->isVisible(), !confirm);
        QCOMPARE(QFile::exists(draftFile), !confirm);
        QCOMPARE(r.model().reviewSession() != nullptr, !confirm);
    }

    void document_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("include");
        QTest::addColumn<QString>("application");
        QTest::addColumn<QString>("tags");
        QTest::addColumn<QString>("savedTitle");
        QTest::addColumn<std::optional<QString>>("savedApplication");
        QTest::addColumn<QStringList>("savedTags");
        const QStringList none;
        QTest::newRow("blank title") << "   " << true << "Editor"
                                     << ""
                                     << "Untitled capture" << std::optional<QString>(QStringLiteral("Editor"))
                                     << none;
        QTest::newRow("title trimmed") << "  Notes  " << true << " Editor "
                                       << ""
                                       << "Notes" << std::optional<QString>(QStringLiteral("Editor")) << none;
        QTest::newRow("application left out") << "T" << false << "Editor"
                                              << ""
                                              << "T" << std::optional<QString>() << none;
        QTest::newRow("blank application") << "T" << true << "   "
                                           << ""
                                           << "T" << std::optional<QString>() << none;
        QTest::newRow("tags") << "T" << true << "Editor"
                              << "Work, work , , Research"
                              << "T" << std::optional<QString>(QStringLiteral("Editor"))
                              << QStringList { QStringLiteral("work"), QStringLiteral("research") };
    }

    // What the inspector's fields and switch say is what Save writes; hidden rows keep their text.
    void document()
    {
        QFETCH(QString, title);
        QFETCH(bool, include);
        QFETCH(QString, application);
        QFETCH(QString, tags);
        Review r;
        QVERIFY(r.open());
        ReviewInspector *inspector = r.view()->inspector();
        const auto type = [](QLineEdit *field, const QString &text) {
            field->selectAll();
            QTest::keyClick(field, Qt::Key_Backspace);
            QTest::keyClicks(field, text);
        };
        type(inspector->titleField(), title);
        type(inspector->applicationField(), application);
        type(inspector->tagsField(), tags);
        if (!include)
            inspector->includeApplicationSwitch()->click();
        QCOMPARE(inspector->applicationField()->isVisibleTo(inspector), include);
        const CaptureMarkdownDocument document = r.model().reviewSession()->document();
        QTEST(document.title, "savedTitle");
        QTEST(document.sourceApplication, "savedApplication");
        QTEST(document.tags, "savedTags");
        QVERIFY(inspector->savesAsLabel()->fullText().contains(CaptureFilename::sanitizedTitle(title)));
        inspector->includeApplicationSwitch()->setChecked(true);
        QCOMPARE(inspector->applicationField()->text(), application);
    }

    void saveAvailability_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("canSave");
        QTest::newRow("ready") << "ready" << true;
        QTest::newRow("empty text") << "empty" << true;
        QTest::newRow("recognizing") << "ocr" << false;
        QTest::newRow("saving") << "saving" << false;
        QTest::newRow("saved") << "saved" << false;
        QTest::newRow("no destination") << "nowhere" << false;
    }

    // The toolbar follows the review: Save only when it may run, Copy only with text, the editor
    // locked and the More menu offering Cancel OCR while recognition runs.
    void saveAvailability()
    {
        QFETCH(QString, state);
        QFETCH(bool, canSave);
        Review r;
        QVERIFY(r.open(0, state != u"nowhere"));
        const std::shared_ptr<ReviewSession> session = r.model().reviewSession();
        if (state == u"empty")
            session->setReviewedText(QString());
        session->setOCRRunning(state == u"ocr");
        session->setSaving(state == u"saving");
        if (state == u"saved") {
            QVERIFY(session->saveGate.begin());
            session->saveGate.succeed();
            session->setStatusText(QStringLiteral("Saved"));
        }
        ReviewToolbar *toolbar = r.view()->toolbar();
        QCOMPARE(toolbar->saveButton()->isEnabled(), canSave);
        QCOMPARE(toolbar->copyButton()->isEnabled(), state != u"empty");
        QCOMPARE(r.view()->editorPane()->editor()->isEnabled(), state != u"ocr");
        QCOMPARE(toolbar->ocrAction()->text(), state == u"ocr" ? "Cancel OCR" : "Retry OCR");
        QCOMPARE(toolbar->deleteDraftAction()->isEnabled(), state != u"saving");
        if (state == u"nowhere")
            QCOMPARE(r.view()->inspector()->folderLabel()->shownText(), QStringLiteral("Choose a folder"));
    }

    void saveOnce_data()
    {
        QTest::addColumn<bool>("menuBar");
        QTest::newRow("window's own Ctrl+S") << false;
        QTest::newRow("menu bar's Ctrl+S") << true;
    }

    // Ctrl+S twice in a row writes one file, whether the window or its menu bar binds the key.
    void saveOnce()
    {
        QFETCH(bool, menuBar);
        Review r;
        QVERIFY(r.open());
        if (menuBar) {
            auto *bar = new QMenuBar;
            QAction *save = bar->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Save Markdown"));
            save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
            connect(save, &QAction::triggered, &r.model(), [&r] { r.model().saveOpenReview(); });
            r.controller->setMenuBar(bar);
            QTRY_VERIFY(bar->isVisible());
        }
        QVERIFY(r.activate());
        QTest::keyClick(r.editor(), Qt::Key_S, Qt::ControlModifier);
        QTest::keyClick(r.editor(), Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY(!r.window()->isVisible());
        QTRY_COMPARE(QDir(r.captures.path()).entryList({ QStringLiteral("*.md") }).size(), 1);
        QTRY_VERIFY(!QFile::exists(r.store().draftFilePath()));
    }

    // Hiding the inspector lowers the window's minimum width to 700; the choice is kept for the
    // next review, and the menu's command reaches an open window.
    void inspector()
    {
        Review r;
        QVERIFY(r.open());
        ReviewView *view = r.view();
        QVERIFY(view->inspectorColumn()->isVisible());
        QCOMPARE(view->minimumWidth(), 980);
        // Under reduced motion the column only fades: it keeps its width until it is gone.
        VemiMotion::setReduceMotionOverride(view, true);
        const int columnWidth = view->inspectorColumn()->width();
        view->toolbar()->inspectorButton()->click();
        QCOMPARE(view->minimumWidth(), 700);
        QVERIFY(view->inspectorColumn()->findChild<QScrollArea *>()->graphicsEffect());
        QCOMPARE(view->inspectorColumn()->width(), columnWidth);
        QTRY_VERIFY(!view->inspectorColumn()->isVisible());
        r.window()->resize(700, 600);
        QTRY_COMPARE(r.window()->width(), 700);
        QCOMPARE(r.standard->boolean(ReviewWindowController::showInspectorKey, true), false);

        r.window()->close();
        QTRY_VERIFY(!r.window()->isVisible());
        QVERIFY(ModelHarness::finish(r.model().resumePendingDraft()));
        QTRY_VERIFY(r.window()->isVisible());
        QVERIFY(r.view() != view);
        QVERIFY(!r.view()->isInspectorShown());
        r.controller->inspectorSettingChanged(true);
        QTRY_VERIFY(r.view()->inspectorColumn()->isVisible());
        QVERIFY(r.window()->width() >= 980);
    }

    // A status longer than the row wraps and is shown whole: the sentence saying why a scrolling
    // capture stopped keeps its end however narrow the window.
    void statusShownWhole_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("narrowest window") << 700;
        QTest::newRow("wide window") << 1400;
    }
    void statusShownWhole()
    {
        QFETCH(int, width);
        Review r;
        QVERIFY(r.open(2));
        r.view()->toolbar()->inspectorButton()->click();
        r.window()->resize(width, 600);
        const QString status = QStringLiteral("The capture stopped where the next view could not be placed; "
                                              "there may be more below. Review the scrolling capture, then "
                                              "save Markdown.");
        r.model().reviewSession()->setStatusText(status);
        TextLabel *label = r.view()->editorPane()->statusLabel();
        QTRY_COMPARE(label->text(), status);
        QTRY_VERIFY(label->width() > 0 && label->height() >= label->heightForWidth(label->width()));
        QVERIFY(label->wordWrap() || QFontMetrics(label->font()).horizontalAdvance(status) <= label->width());
        QVERIFY(label->isVisible());
    }

    void scale_data()
    {
        QTest::addColumn<qreal>("available");
        QTest::addColumn<int>("pixelWidth");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<qreal>("shown");
        QTest::newRow("narrow pane: a tenth") << 108.0 << 2000 << 1.0 << 200.0;
        QTest::newRow("fits: never enlarged") << 1000.0 << 300 << 1.0 << 300.0;
        QTest::newRow("fits, zoomed") << 1000.0 << 300 << 2.0 << 600.0;
        QTest::newRow("shrunk to fit") << 408.0 << 800 << 0.5 << 200.0;
        QTest::newRow("no pixels") << 400.0 << 0 << 1.0 << 0.0;
        QTest::newRow("no pixels, no room") << 8.0 << 0 << 1.0 << 0.0;
    }

    void scale()
    {
        QFETCH(qreal, available);
        QFETCH(int, pixelWidth);
        QFETCH(double, zoom);
        const qreal shown = ScrollingCapturePreview::displayWidth(available, pixelWidth, zoom);
        QTEST(shown, "shown");
        QCOMPARE(ScrollingCapturePreview::tileHeight(shown, { 0, pixelWidth, 50, 0 }),
            pixelWidth ? shown * 50 / pixelWidth : 0.0);
    }

    // Only tiles in view hold an image; scrolling away drops them and loads the ones that come in.
    // Each review has a close veto of its own: the answer of an earlier review's veto closes
    // nothing, and a close of the new review asks the new veto.
    void lateCloseAnswer_data()
    {
        QTest::addColumn<bool>("closeAgain");
        QTest::newRow("a late close answer from an earlier review closes the window of a new one") << false;
        QTest::newRow("a close of the new review is dropped while the earlier answer is on its way") << true;
    }
    void lateCloseAnswer()
    {
        QFETCH(bool, closeAgain);
        HeldAnswers<bool> answers;
        ReviewWindow window;
        window.setCloseVeto([&answers] { return answers.task(); });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.close();
        QVERIFY(answers.waitForCalls(1));
        QVERIFY(window.isAskingToClose());
        // The next review is presented while the first one's answer is on its way.
        window.setCloseVeto([&answers] { return answers.task(); });
        if (closeAgain) {
            window.close();
            QVERIFY(answers.waitForCalls(2));
            answers.answer(0, false);
            ModelHarness::settle();
            QVERIFY(window.isVisible());
            answers.answer(1, true);
            QTRY_VERIFY(!window.isVisible());
        } else {
            answers.answer(0, true);
            ModelHarness::settle();
            QVERIFY(window.isVisible());
            QCOMPARE(answers.calls(), 1);
        }
    }

    void hiddenReviewLetsGo_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<int>("tiles");
        QTest::newRow("closed, draft kept, then resumed") << "close" << 0;
        QTest::newRow("scrolling capture closed, then resumed") << "close" << 3;
        QTest::newRow("saved") << "save" << 0;
        QTest::newRow("scrolling capture saved") << "save" << 3;
        QTest::newRow("hidden and shown again at once") << "again" << 3;
    }

    // A review that leaves the screen leaves memory too: its content and the window's native
    // window and backing store go. The next review shows afresh where the window was.
    void hiddenReviewLetsGo()
    {
        QFETCH(QString, way);
        QFETCH(int, tiles);
        Review r;
        QVERIFY(r.open(tiles));
        const QPointer<ReviewView> shown = r.view();
        r.window()->move(r.window()->pos() + QPoint(37, 23));
        QTRY_VERIFY(r.window()->backingStore());
        const QRect frame = r.window()->geometry();

        if (way == u"again") {
            r.controller->orderOut();
            r.controller->present(r.model().reviewSession(), &r.model(), nullptr);
            ModelHarness::settle();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(r.window()->isVisible());
            QVERIFY(r.view());
            QVERIFY(r.window()->backingStore());
            QVERIFY(r.window()->windowHandle());
            return;
        }
        // Asked once the content is gone entirely: a trim while its children (the text's document among
        // them) are still being freed gives back little of them.
        const QPlainTextEdit *editor = shown->findChild<QPlainTextEdit *>();
        QVERIFY(editor);
        int returnedWhenTextWent = -1;
        connect(editor->document(), &QObject::destroyed, this,
            [&] { returnedWhenTextWent = FreedMemory::returnedCount(); });
        if (way == u"close")
            r.window()->close();
        else
            r.model().saveOpenReview();
        QTRY_VERIFY(!r.window()->isVisible());
        QTRY_VERIFY(!shown);
        QVERIFY(returnedWhenTextWent >= 0);
        QTRY_VERIFY(FreedMemory::returnedCount() > returnedWhenTextWent);
        QVERIFY(!r.view());
        QVERIFY(!r.window()->windowHandle());
        QVERIFY(!r.window()->backingStore());
        if (way != u"close")
            return;

        QVERIFY(ModelHarness::finish(r.model().resumePendingDraft()));
        QVERIFY(QTest::qWaitForWindowExposed(r.window()));
        QVERIFY(r.view());
        QCOMPARE(r.view()->session(), r.model().reviewSession());
        // Where it was, to a frame's width: a platform may place a new native window by its frame.
        QCOMPARE(r.window()->size(), frame.size());
        QVERIFY2((r.window()->pos() - frame.topLeft()).manhattanLength() <= 8,
            qPrintable(QStringLiteral("at %1,%2, was at %3,%4")
                           .arg(r.window()->x())
                           .arg(r.window()->y())
                           .arg(frame.x())
                           .arg(frame.y())));
        if (tiles > 0) {
            ScrollingCapturePreview *preview = r.view()->previewPane()->scrollingPreview();
            QVERIFY(preview);
            QTRY_VERIFY(!preview->tiles().constFirst()->image().isNull());
        }
    }

    void visibleTilesOnly()
    {
        Review r;
        QVERIFY(r.open(12));
        ScrollingCapturePreview *preview = r.view()->previewPane()->scrollingPreview();
        QVERIFY(preview);
        QCOMPARE(preview->accessibleName(), QStringLiteral("Scrolling capture preview, 12 sections"));
        const auto loadedMatchesView = [preview] {
            const QRect visible(
                preview->widget()->mapFrom(preview->viewport(), QPoint()), preview->viewport()->size());
            int loaded = 0;
            for (ScrollingCaptureTileView *tile : preview->tiles()) {
                if (tile->geometry().intersects(visible) == tile->image().isNull())
                    return -1;
                loaded += !tile->image().isNull();
            }
            return loaded;
        };
        QTRY_VERIFY(loadedMatchesView() > 0);
        QVERIFY(loadedMatchesView() < 6);
        QVERIFY(!preview->tiles().constFirst()->image().isNull());
        preview->verticalScrollBar()->setValue(preview->verticalScrollBar()->maximum());
        QVERIFY(preview->tiles().constFirst()->image().isNull());
        QTRY_VERIFY(!preview->tiles().constLast()->image().isNull());
        QTRY_VERIFY(loadedMatchesView() > 0);
    }

    // A tile in view holds about the pixels it is drawn with, never more than its own, and a zoom
    // in either direction loads it again at the new size, giving back what the reading freed.
    void tilesHeldAtTheSizeShown_data()
    {
        QTest::addColumn<double>("firstZoom");
        QTest::addColumn<double>("secondZoom");
        QTest::newRow("shrunk, then at every pixel") << 0.5 << 3.0;
        QTest::newRow("at every pixel, then shrunk") << 3.0 << 0.5;
        QTest::newRow("fitted, then zoomed in") << 1.0 << 2.0;
    }
    void tilesHeldAtTheSizeShown()
    {
        QFETCH(double, firstZoom);
        QFETCH(double, secondZoom);
        Review r;
        QVERIFY(r.open(3));
        ScrollingCapturePreview *preview = r.view()->previewPane()->scrollingPreview();
        QVERIFY(preview);
        ScrollingCaptureTileView *tile = preview->tiles().constFirst();
        // Drawn with neither fewer pixels than the screen shows (up to the tile's own 600) nor
        // more than half as many again.
        const auto fits = [tile] {
            const int shown = tile->shownPixels().width();
            const int width = tile->image().width();
            return !tile->image().isNull() && width >= std::min(shown, 600) && width <= 600
                && width <= std::max(shown * 3 / 2, 1);
        };
        for (const double zoom : { firstZoom, secondZoom }) {
            const int returned = FreedMemory::returnedCount();
            r.view()->session()->setZoom(zoom);
            const int shown = tile->shownPixels().width();
            QTRY_VERIFY2(fits(),
                qPrintable(QStringLiteral("%1 pixels wide for %2 shown at zoom %3")
                               .arg(tile->image().width())
                               .arg(shown)
                               .arg(zoom)));
            // Its shape kept, to a row.
            QVERIFY(qAbs(tile->image().width() * 400 - tile->image().height() * 600) <= 600);
            // What reading it freed (the file, the tile at every pixel) went back to the system.
            QTRY_VERIFY(FreedMemory::returnedCount() > returned);
        }
    }
};

QTEST_MAIN(TestReviewWindow)
#include "tst_ReviewWindow.moc"
