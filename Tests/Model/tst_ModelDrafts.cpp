#include "HeldAnswers.h"
#include "ModelHarness.h"

#include "Documents/DraftKeyStore.h"
#include "Model/AudioReviewSession.h"
#include "Model/DraftFlow.h"
#include "Model/ReviewSession.h"

#include <QDir>
#include <QFileInfo>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// A folder in the draft file's place (breakDraftFile) is the reason the drafts below cannot be written.
const QString draftNotSaved = QStringLiteral("The encrypted draft could not be saved: a folder is in its "
                                             "place. Keep Review Capture open and try again.");
// Without the review's own draft there is no write to fail, and no reason to give.
const QString draftNotSavedWithoutReason
    = QStringLiteral("The encrypted draft could not be saved. Keep Review Capture open and try again.");

// Setup done, a stored draft resumed into the review window.
void openReview(ModelHarness &h)
{
    AppSettings settings;
    settings.setupComplete = true;
    h.setSettings(settings);
    h.storeDraft();
    AppModel &model = h.make();
    QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
    QVERIFY(ModelHarness::finish(model.resumePendingDraft()));
    QVERIFY(model.reviewSession());
}

// A review of a stored draft on a clock the test moves; every write of the edits stamps the draft
// with the time once, which `stamps` counts.
struct TypedReview
{
    ManualTaskClock clock;
    ModelHarness h;
    int stamps = 0;
    QString notes = h.dir.filePath(QStringLiteral("notes"));

    bool open()
    {
        h.readyToCapture(notes);
        h.storeDraft();
        h.clock = &clock;
        h.adjust = [this](ModelServices &services) {
            services.now = [this, now = services.now] {
                ++stamps;
                return now();
            };
        };
        AppModel &model = h.make();
        return ModelHarness::finish(model.startDraftStoreIfNeeded())
            && ModelHarness::finish(model.resumePendingDraft()) && model.reviewSession();
    }
    DraftFlow &drafts() { return h.context().drafts(); }
    // What is on disk once every write asked for so far is done.
    std::optional<CaptureDraft> stored()
    {
        const QFuture<bool> done = drafts().onDraftThread([](const EncryptedDraftStore &) { return true; });
        if (!QTest::qWaitFor([&] { return done.isFinished(); }, TestSupport::patienceMs))
            return std::nullopt;
        return EncryptedDraftStore(h.draftFolder(), DraftKeyStore::loadOrCreate(h.draftFolder())).load();
    }
    void type(const QString &title, const QString &note = QString())
    {
        const std::shared_ptr<ReviewSession> session = h.model->reviewSession();
        session->setTitle(title);
        if (!note.isEmpty()) {
            session->setNote(note);
            session->setTagsText(QStringLiteral("Work, work , ,Research"));
            session->setReviewedText(QStringLiteral("text, edited"));
        }
    }
};

// A review of a stored draft, on a clock the test moves, whose notes are written only when the test
// answers (true writes the note, false fails the write).
struct HeldReview
{
    HeldAnswers<bool> writes;
    ManualTaskClock clock;
    ModelHarness h;
    QString notes = h.dir.filePath(QStringLiteral("notes"));

    bool open()
    {
        h.readyToCapture(notes);
        h.storeDraft();
        h.clock = &clock;
        h.adjust = [this](ModelServices &services) {
            services.writeMarkdown = [this, write = services.writeMarkdown](const QString &markdown,
                                         const QString &folder, const QString &name) {
                if (!writes.wait())
                    throw std::runtime_error("the disk is full");
                return write(markdown, folder, name);
            };
        };
        AppModel &model = h.make();
        return ModelHarness::finish(model.startDraftStoreIfNeeded())
            && ModelHarness::finish(model.resumePendingDraft()) && model.reviewSession();
    }
    int notesSaved() const { return int(QDir(notes).entryList({ QStringLiteral("*.md") }).size()); }
    // Ends this run and starts the program again over the same settings and drafts: what it offers.
    std::optional<CaptureDraft> offeredAfterRestart()
    {
        h.model.reset();
        ModelHarness again;
        again.defaults = h.defaults;
        again.adjust = [folder = h.draftFolder()](ModelServices &services) {
            services.draftFolder = [folder] { return std::optional(folder); };
        };
        AppModel &model = again.make();
        if (!ModelHarness::finish(model.startDraftStoreIfNeeded()))
            return std::nullopt;
        return model.pendingDraft();
    }
};

} // namespace

class TestModelDrafts : public QObject
{
    Q_OBJECT

private slots:
    void parkReview_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("draftKept");
        QTest::newRow("draft written") << true << true;
        QTest::newRow("draft cannot be written") << false << true;
        QTest::newRow("the review's draft is gone") << false << false;
    }

    // Closing the review window keeps the edits in the draft, or keeps the window when it cannot.
    void parkReview()
    {
        QFETCH(bool, writable);
        ModelHarness h;
        openReview(h);
        AppModel &model = *h.model;
        QCOMPARE(h.presents, 1);
        QCOMPARE(model.phase(), CapturePhase::review);
        const std::shared_ptr<ReviewSession> session = model.reviewSession();
        session->setTitle(QStringLiteral("Edited"));
        session->setApplicationName(QStringLiteral("   "));
        QFETCH(bool, draftKept);
        if (!draftKept)
            h.context().drafts().setCurrentDraft(std::nullopt);
        else if (!writable)
            h.breakDraftFile();

        const Task<bool> veto = h.closeVeto();
        QVERIFY(ModelHarness::finish(veto));
        QCOMPARE(veto.result(), writable);
        const QImage &still = h.context().drafts().currentImage();
        if (writable) {
            QVERIFY(!model.reviewSession());
            // The still is not held while the draft waits; resuming brings it back from the draft.
            QVERIFY(still.isNull());
            QCOMPARE(model.pendingDraft()->title, QStringLiteral("Edited"));
            QCOMPARE(model.pendingDraft()->applicationName, std::nullopt);
            QCOMPARE(model.phase(), CapturePhase::idle);
            QCOMPARE(model.statusMessage(), QStringLiteral("Draft saved for later"));
            QVERIFY(ModelHarness::finish(model.resumePendingDraft()));
            QCOMPARE(still.size(), QSize(8, 8));
            QCOMPARE(model.reviewSession()->image.size(), QSize(8, 8));
        } else {
            QCOMPARE(still.size(), QSize(8, 8));
            QCOMPARE(model.reviewSession(), session);
            QCOMPARE(session->statusText(), draftKept ? draftNotSaved : draftNotSavedWithoutReason);
            QCOMPARE(model.statusMessage(), draftKept ? draftNotSaved : draftNotSavedWithoutReason);
            QCOMPARE(model.phase(), CapturePhase::review);
        }
        QCOMPARE(h.orderOuts, 0);
    }

    void editsWrittenAfterPause_data()
    {
        QTest::addColumn<QString>("scenario");
        // The writes of edits (-1: not counted), then the stored draft at the end: "edits", "none" or
        // "second review".
        QTest::addColumn<int>("writes");
        QTest::addColumn<QString>("draft");
        QTest::newRow("a pause") << "pause" << 1 << "edits";
        QTest::newRow("a burst of typing") << "burst" << 1 << "edits";
        QTest::newRow("closed before the pause") << "close" << 1 << "edits";
        QTest::newRow("saved before the pause") << "save" << -1 << "none";
        QTest::newRow("saved while the pause's write runs") << "save, written" << -1 << "none";
        QTest::newRow("saved, its deletion slow") << "save, slow disk" << -1 << "none";
        QTest::newRow("deleted before the pause") << "delete" << 0 << "none";
        QTest::newRow("deleted, the deletion slow") << "delete, slow disk" << 0 << "none";
        QTest::newRow("deletion fails") << "delete, slow disk, stuck" << 1 << "edits";
        QTest::newRow("saved, then the next review") << "save, next" << -1 << "second review";
        QTest::newRow("store refuses, then recovers") << "failing" << 3 << "edits";
    }

    // Typing in a review reaches the encrypted draft after a short pause, once per pause, and never
    // after the review was saved, deleted or replaced.
    void editsWrittenAfterPause()
    {
        QFETCH(QString, scenario);
        const auto is = [&](const char *part) { return scenario.contains(QLatin1String(part)); };
        TypedReview r;
        QVERIFY(r.open());
        AppModel &model = *r.h.model;
        const std::shared_ptr<ReviewSession> session = model.reviewSession();
        const QString resumed = session->statusText();
        QSignalSpy statuses(&model, &AppModel::statusMessageChanged);
        QSemaphore disk;
        if (is("slow disk"))
            r.drafts().onDraftThread([&disk](const EncryptedDraftStore &) { return disk.acquire(), true; });
        r.stamps = 0;

        if (is("burst")) {
            for (int letter = 1; letter <= 8; ++letter) {
                r.type(QStringLiteral("Budget review").left(letter), QStringLiteral("note"));
                r.clock.advance(500ms);
                QCOMPARE(r.stamps, 0);
            }
        }
        r.type(QStringLiteral("Budget"), QStringLiteral("note"));
        if (is("pause") || is("burst")) {
            r.clock.advance(999ms);
            QCOMPARE(r.stamps, 0);
            r.clock.advance(501ms);
            QCOMPARE(r.stamps, 1);
        }
        if (is("failing")) {
            r.h.breakDraftFile();
            for (const char *title : { "Budget 1", "Budget 2" }) {
                r.type(QString::fromLatin1(title));
                r.clock.advance(1500ms);
                QTRY_COMPARE(session->statusText(), draftNotSaved);
            }
            QCOMPARE(model.statusMessage(), draftNotSaved);
            QCOMPARE(statuses.count(), 1);
            QVERIFY(QDir(r.drafts().store()->draftFilePath()).removeRecursively());
            r.type(QStringLiteral("Budget"));
        }
        if (is("written"))
            r.clock.advance(1500ms);
        if (is("stuck"))
            r.h.breakDraftFile();
        Task<> ending;
        if (is("save"))
            ending = model.saveOpenReview();
        if (is("delete"))
            ending = model.deleteOpenDraft();
        if (is("close"))
            QVERIFY(ModelHarness::finish(r.h.closeVeto()));
        if (is("slow disk")) {
            // The pause ends while the deletion waits for the disk.
            QTRY_VERIFY(r.drafts().isDeletingDraft());
            r.clock.advance(1500ms);
            disk.release();
        }
        if (ending.isValid())
            QVERIFY(ModelHarness::finish(ending));
        if (is("stuck")) {
            QCOMPARE(session->statusText(),
                QStringLiteral("The encrypted draft could not be deleted. Try again."));
            QVERIFY(QDir(r.drafts().store()->draftFilePath()).removeRecursively());
        }
        // The next review opens untouched (its recognition still runs) while the first one's pause ends.
        if (is("next"))
            QVERIFY(r.h.captureReview());
        r.clock.advance(1500ms);

        QFETCH(QString, draft);
        const std::optional<CaptureDraft> stored = r.stored();
        QCOMPARE(stored.has_value(), draft != u"none");
        if (draft == u"edits") {
            QCOMPARE(stored->title, QStringLiteral("Budget"));
            QCOMPARE(stored->note, QStringLiteral("note"));
            QCOMPARE(stored->tags, QStringList({ QStringLiteral("work"), QStringLiteral("research") }));
            QCOMPARE(stored->reviewedText, QStringLiteral("text, edited"));
        } else if (draft == u"second review") {
            QCOMPARE(stored->id, model.reviewSession()->id);
            QCOMPARE(stored->title, QStringLiteral("Untitled capture"));
            QCOMPARE(stored->note, QString());
            QCOMPARE(stored->tags, QStringList());
        }
        QFETCH(int, writes);
        if (writes >= 0)
            QCOMPARE(r.stamps, writes);
        if (is("save"))
            QVERIFY(ModelHarness::savedNote(r.notes).contains("Budget"));
        if (is("failing")) {
            QTRY_COMPARE(session->statusText(), resumed);
            QCOMPARE(model.statusMessage(), QStringLiteral("Resumed draft"));
        }
    }

    // Closing the review window while the review's note is written or its draft deleted: once
    // that is done the review is gone, and nothing of it comes back.
    void closedWhileSavedOrDeleted_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("status");
        QTest::addColumn<CapturePhase>("phase");
        QTest::newRow("closing while its note is written parks the saved review")
            << "save"
            << "Saved Markdown" << CapturePhase::saved;
        QTest::newRow("closing while its note is written brings its undeletable draft back as pending")
            << "save, stuck"
            << "Saved Markdown. The temporary draft could not be cleared." << CapturePhase::saved;
        QTest::newRow("closing while its draft is deleted brings the draft back")
            << "delete"
            << "Draft deleted" << CapturePhase::idle;
    }
    void closedWhileSavedOrDeleted()
    {
        QFETCH(QString, how);
        HeldReview r;
        QVERIFY(r.open());
        AppModel &model = *r.h.model;
        model.reviewSession()->setTitle(QStringLiteral("Budget"));
        Task<> ending;
        Task<bool> closing;
        if (how.startsWith("save")) {
            if (how.endsWith("stuck"))
                r.h.breakDraftFile();
            ending = model.saveOpenReview();
            QVERIFY(r.writes.waitForCalls(1));
            closing = r.h.closeVeto();
            ModelHarness::settle();
            QVERIFY(!closing.isFinished());
            r.writes.answer(0, true);
        } else {
            ModelHarness::DraftThreadHold hold(r.h.context().drafts());
            ending = model.deleteOpenDraft();
            closing = r.h.closeVeto();
            ModelHarness::settle();
        }
        QVERIFY(ModelHarness::finish(ending) && ModelHarness::finish(closing));
        ModelHarness::settle();
        QVERIFY(closing.result());
        QVERIFY(!model.reviewSession() && !model.pendingDraft());
        QTEST(model.statusMessage(), "status");
        QTEST(model.phase(), "phase");
        QCOMPARE(r.notesSaved(), how.startsWith("save") ? 1 : 0);
        QCOMPARE(r.offeredAfterRestart(), std::nullopt);
    }

    // Edits of a review go into that review's own draft and no other.
    void editsIntoAnotherDraft_data()
    {
        QTest::addColumn<bool>("pause");
        QTest::newRow("Escape writes the review's edits into another draft") << false;
        QTest::newRow("a pause in typing writes the review's edits into another draft") << true;
    }
    void editsIntoAnotherDraft()
    {
        QFETCH(bool, pause);
        TypedReview r;
        QVERIFY(r.open());
        AppModel &model = *r.h.model;
        const QUuid reviewed = model.reviewSession()->id;
        CaptureDraft other = *r.drafts().currentDraft();
        other.id = QUuid::createUuid();
        r.drafts().setCurrentDraft(other);
        r.stamps = 0;
        r.type(QStringLiteral("Budget"), QStringLiteral("note"));
        if (pause) {
            r.clock.advance(1500ms);
        } else {
            const Task<bool> escape = model.persistRegionDraft();
            QVERIFY(ModelHarness::finish(escape));
            QVERIFY(!escape.result());
            QCOMPARE(model.statusMessage(), draftNotSavedWithoutReason);
        }
        const std::optional<CaptureDraft> stored = r.stored();
        QVERIFY(stored);
        QCOMPARE(stored->id, reviewed);
        QCOMPARE(stored->title, QStringLiteral("Title"));
        QCOMPARE(r.drafts().currentDraft()->title, other.title);
        QCOMPARE(r.stamps, 0);
    }

    // The saved review's id is recorded before its draft goes, so a draft that outlives a crash in
    // between is recognised as saved and never offered again.
    void savedIdBeforeDeletion_data()
    {
        QTest::addColumn<bool>("stuck");
        QTest::newRow("the last-saved id written after the draft is deleted") << false;
        QTest::newRow("the last-saved id missing when the draft cannot be deleted") << true;
    }
    void savedIdBeforeDeletion()
    {
        QFETCH(bool, stuck);
        HeldReview r;
        r.writes.answerAll(true);
        QVERIFY(r.open());
        AppModel &model = *r.h.model;
        const QString id = model.reviewSession()->id.toString(QUuid::WithoutBraces).toUpper();
        if (stuck)
            r.h.breakDraftFile();
        Task<> saving;
        {
            ModelHarness::DraftThreadHold hold(r.h.context().drafts());
            saving = model.saveOpenReview();
            QTRY_VERIFY(r.h.context().drafts().isDeletingDraft());
            QCOMPARE(r.h.defaults->string(DraftFlow::lastSavedDraftIDKey), std::optional(id));
            QVERIFY(QFileInfo::exists(r.h.context().drafts().store()->draftFilePath()));
        }
        QVERIFY(ModelHarness::finish(saving));
        QCOMPARE(r.h.defaults->string(DraftFlow::lastSavedDraftIDKey), std::optional(id));
        QCOMPARE(model.statusMessage(),
            stuck ? QStringLiteral("Saved Markdown. The temporary draft could not be cleared.")
                  : QStringLiteral("Saved Markdown"));
    }

    // Quitting while the review's note is written: the quit waits for the write (up to a limit), so
    // a draft is never kept beside the note it became.
    void quitWhileNoteWritten_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("notes");
        QTest::addColumn<bool>("offered");
        QTest::newRow("a quit during the note's write keeps the draft, offered again beside its note")
            << "written" << true << 1 << false;
        QTest::newRow("a quit during a write that fails loses the edits") << "fails" << true << 0 << true;
        QTest::newRow("a quit during a write that outlasts the wait is let through")
            << "slow" << false << 1 << false;
    }
    void quitWhileNoteWritten()
    {
        QFETCH(QString, how);
        HeldReview r;
        QVERIFY(r.open());
        AppModel &model = *r.h.model;
        model.reviewSession()->setTitle(QStringLiteral("Budget"));
        const Task<> saving = model.saveOpenReview();
        QVERIFY(r.writes.waitForCalls(1));
        const Task<bool> gate = model.finalizeOpenSessionsForQuit();
        // Whatever the gate queued for the draft is done, and the gate had every turn to go on.
        ModelHarness::settle();
        {
            ModelHarness::DraftThreadHold drained(r.h.context().drafts());
            QTRY_VERIFY(drained.reached());
        }
        ModelHarness::settle();
        QVERIFY(!gate.isFinished());
        if (how == "slow") {
            r.clock.advance(DraftFlow::saveWaitLimit);
            QVERIFY(ModelHarness::finish(gate));
            QCOMPARE(model.statusMessage(),
                QStringLiteral("The capture is still being saved. Try quitting again."));
        }
        r.writes.answer(0, how != "fails");
        QVERIFY(ModelHarness::finish(gate) && ModelHarness::finish(saving));
        QTEST(gate.result(), "answer");
        QCOMPARE(r.h.relaunchCommits, gate.result() ? 1 : 0);
        QTEST(r.notesSaved(), "notes");
        const std::optional<CaptureDraft> offered = r.offeredAfterRestart();
        QTEST(offered.has_value(), "offered");
        if (offered)
            QCOMPARE(offered->title, QStringLiteral("Budget"));
    }

    void quitGate_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("status");
        // The saved audio note: -1 none, else whether it counts as reviewed by the user.
        QTest::addColumn<int>("reviewed");
        QTest::newRow("selection discarded") << "selection" << true << "Ready" << -1;
        QTest::newRow("selection draft stuck")
            << "selection, stuck draft" << false
            << "The temporary scrolling capture could not be deleted. Try quitting again." << -1;
        QTest::newRow("review kept") << "review" << true << "Resumed draft" << -1;
        QTest::newRow("review draft unwritable") << "review, stuck draft" << false << draftNotSaved << -1;
        QTest::newRow("audio review saved") << "audio review" << true << "Saved audio session" << 1;
        QTest::newRow("audio folder gone") << "audio review, folder gone" << false
                                           << "Audio recording could not be saved: the folder is gone" << -1;
        QTest::newRow("failed immediate save retried")
            << "audio saved at once" << true << "Saved audio session" << 0;
    }

    void quitGate()
    {
        QFETCH(QString, scenario);
        QFETCH(bool, answer);
        QFETCH(int, reviewed);
        const auto is = [&](const char *part) { return scenario.contains(QLatin1String(part)); };
        ModelHarness h;
        const QString notes = h.dir.filePath(QStringLiteral("notes"));
        if (is("review") && !is("audio")) {
            openReview(h);
        } else {
            h.make();
            QVERIFY(ModelHarness::finish(h.model->startDraftStoreIfNeeded()));
        }
        AppModel &model = *h.model;
        if (is("selection"))
            h.context().setPhase(CapturePhase::selecting);
        if (is("stuck draft"))
            h.breakDraftFile();
        if (is("audio")) {
            const bool atOnce = is("at once");
            if (!atOnce)
                QDir().mkpath(notes);
            const AudioSessionResult result = ModelHarness::recording(notes);
            const Task<bool> presented = model.presentAudioReview(result, *result.folder, {}, atOnce);
            QVERIFY(ModelHarness::finish(presented));
            QCOMPARE(presented.result(), !atOnce);
            QDir notesFolder(notes);
            if (is("gone"))
                notesFolder.removeRecursively();
            else
                QDir().mkpath(notes);
        }

        const Task<bool> gate = model.finalizeOpenSessionsForQuit();
        QVERIFY(ModelHarness::finish(gate));
        QCOMPARE(gate.result(), answer);
        QTEST(model.statusMessage(), "status");
        // Refused or not, no selection phase is left without a selection.
        QCOMPARE(model.phase(), is("review") && !is("audio") ? CapturePhase::review : CapturePhase::idle);
        QCOMPARE(h.relaunchCommits, answer ? 1 : 0);
        QCOMPARE(h.relaunchCancels, answer ? 0 : 1);
        const QByteArray markdown = ModelHarness::savedNote(notes);
        QCOMPARE(markdown.isEmpty(), reviewed < 0);
        QVERIFY(
            reviewed < 0 || markdown.contains(reviewed ? "reviewedByUser: true" : "reviewedByUser: false"));
    }

    // An audio review whose note cannot be written is kept in the encrypted draft, and the next start
    // offers it: resumed, it holds what the review held, and once saved or discarded its draft is gone.
    // A draft of another capture is never replaced by it.
    void audioReviewKeptInDraft_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("kept, then saved once the folder is back") << "save";
        QTest::newRow("kept, then discarded") << "discard";
        QTest::newRow("another capture's draft waits: it stays") << "other draft";
    }

    void audioReviewKeptInDraft()
    {
        QFETCH(QString, scenario);
        ModelHarness h;
        const QString notes = h.dir.filePath(QStringLiteral("notes"));
        AppSettings settings;
        settings.setupComplete = true;
        h.setSettings(settings);
        const std::optional<CaptureDraft> other
            = scenario == "other draft" ? std::optional(h.storeDraft()) : std::nullopt;
        AppModel &model = h.make();
        QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
        // The capture folder is not there: the note cannot be written.
        const AudioSessionResult result = ModelHarness::recording(notes);
        AudioTranscripts transcripts;
        transcripts.others = QStringLiteral("[0:01] the budget is due");
        transcripts.you = QStringLiteral("[0:02] next week");
        transcripts.transcriber = QStringLiteral("pocketsphinx");
        QVERIFY(ModelHarness::finish(model.presentAudioReview(result, *result.folder, transcripts, false)));
        const std::shared_ptr<AudioReviewSession> review = model.audioReview();
        review->setTitle(QStringLiteral("Budget call"));
        review->setOthersText(QStringLiteral("[0:01] the budget is due on Friday"));
        review->setYouText(QStringLiteral("[0:02] next week then"));
        const QString note = review->note();
        const Task<bool> gate = model.finalizeOpenSessionsForQuit();
        QVERIFY(ModelHarness::finish(gate));
        QVERIFY(!gate.result());

        h.model.reset();
        ModelHarness again;
        again.defaults = h.defaults;
        again.adjust = [folder = h.draftFolder()](ModelServices &services) {
            services.draftFolder = [folder] { return std::optional(folder); };
        };
        AppModel &next = again.make();
        QVERIFY(ModelHarness::finish(next.startDraftStoreIfNeeded()));
        QCOMPARE(next.requestedWindow().value_or(QString()), QStringLiteral("recovery"));
        QVERIFY(next.pendingDraft());
        if (other) {
            QCOMPARE(*next.pendingDraft(), *other);
            return;
        }
        QVERIFY(next.pendingDraft()->audioSession);
        QVERIFY(ModelHarness::finish(next.resumePendingDraft()));
        const std::shared_ptr<AudioReviewSession> resumed = next.audioReview();
        QVERIFY(resumed);
        QCOMPARE(resumed->id, result.id);
        QCOMPARE(resumed->title(), QStringLiteral("Budget call"));
        QCOMPARE(resumed->othersText(), QStringLiteral("[0:01] the budget is due on Friday"));
        QCOMPARE(resumed->youText(), QStringLiteral("[0:02] next week then"));
        QCOMPARE(resumed->note(), note);
        QCOMPARE(resumed->othersURL, result.othersURL);
        QCOMPARE(resumed->youURL, result.youURL);
        QCOMPARE(resumed->transcriber, transcripts.transcriber);
        QCOMPARE(next.audio().phase(), AudioSessionPhase::reviewing);
        // Under review, no longer offered.
        QVERIFY(!next.hasRecoverableDraft());

        if (scenario == "save") {
            QVERIFY(QDir().mkpath(notes));
            const Task<bool> saving = next.saveAudioReview(true);
            QVERIFY(ModelHarness::finish(saving) && saving.result());
            const QByteArray markdown = ModelHarness::savedNote(notes);
            QVERIFY2(markdown.contains("Budget call") && markdown.contains("the budget is due on Friday")
                    && markdown.contains("next week then"),
                markdown.constData());
            QVERIFY(markdown.contains("session_others.m4a") && markdown.contains("session_you.m4a"));
        } else {
            next.discardAudioReview();
        }
        const EncryptedDraftStore store(h.draftFolder(), DraftKeyStore::loadOrCreate(h.draftFolder()));
        QTRY_VERIFY(!store.load());
    }
};

QTEST_MAIN(TestModelDrafts)
#include "tst_ModelDrafts.moc"
