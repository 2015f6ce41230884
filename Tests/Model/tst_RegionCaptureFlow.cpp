// The capture command, the region capture, its recognition and its save on the real model, with
// stills, an overlay shown offscreen, recognition answered by the test and real folders.
#include "HeldAnswers.h"
#include "ModelHarness.h"

#include "Capture/OCRService.h"
#include "Documents/AtomicMarkdownWriter.h"
#include "Documents/CaptureMarkdown.h"
#include "Model/DraftFlow.h"
#include "Model/OnboardingStep.h"
#include "Model/ReviewSession.h"
#include "Model/ScrollingCaptureFlow.h"
#include "Model/VisualCaptureState.h"
#include "Services/PermissionController.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>
#include <QThreadPool>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

const QString ready = QStringLiteral("Ready");
const QString selectText = QStringLiteral("Select a region");
const QString permission = QStringLiteral("Screen Recording permission is needed");
const QString audioBusy = QStringLiteral("Finish or stop audio before capturing a region");

// The model made as `conditions` say (setup, permission, store, drafts, phases), its store started.
AppModel &prepared(ModelHarness &h, const QStringList &conditions = {})
{
    h.readyToCapture(h.dir.filePath(QStringLiteral("notes")));
    AppSettings settings;
    settings.setupComplete = !conditions.contains("setup incomplete");
    if (conditions.contains("setup incomplete") || conditions.contains("no folder"))
        h.setSettings(settings);
    h.screenGranted = !conditions.contains("no permission");
    h.noDraftStore = conditions.contains("no store");
    if (conditions.contains("pending draft"))
        h.storeDraft();
    AppModel &model = h.make();
    ModelHarness::finish(model.startDraftStoreIfNeeded());
    ModelContext &context = h.context();
    if (conditions.contains("review open"))
        ModelHarness::finish(model.resumePendingDraft());
    if (conditions.contains("audio busy"))
        context.audio().setPhase(AudioSessionPhase::transcribing);
    if (conditions.contains("scrolling"))
        context.visualCapture().scrollingCaptureGeneration = 1;
    if (conditions.contains("selecting"))
        model.startCapture(), (void)QTest::qWaitFor([&] { return !h.overlays.isEmpty(); });
    for (const QString &condition : conditions) {
        if (const std::optional<CapturePhase> phase = CapturePhases::fromRawValue(condition))
            context.setPhase(*phase);
    }
    if (conditions.contains("saved"))
        context.setReceipt(SavedReceipt {});
    model.clearRequestedWindow();
    return model;
}

OCRResult read(const QString &text, double confidence = 0.9)
{
    if (text.isEmpty())
        return {};
    return OCRResult::fromObservations({ { text, QRectF(0.1, 0.4, 0.8, 0.2), confidence } }, { "en" });
}

// Rows of QString columns.
template <typename... Texts> void row(const char *name, const Texts &...texts)
{
    (QTest::newRow(name) << ... << QString(texts));
}

} // namespace

class TestRegionCaptureFlow : public QObject
{
    Q_OBJECT

private slots:
    // The command (or a direct start) in each state: the phase, status and window that follow and
    // what comes forward ("overlay": a capture began; "review": the review window).
    void command_data()
    {
        for (const char *column : { "conditions", "call", "phase", "status", "window", "forward" })
            QTest::addColumn<QString>(column);
        row("idle", "", "command", "selecting", selectText, "", "overlay");
        row("canceled", "canceled", "command", "selecting", selectText, "", "overlay");
        row("saved", "saved", "command", "selecting", selectText, "", "overlay");
        row("needsPermission, now granted", "needsPermission", "command", "selecting", selectText, "",
            "overlay");
        row("selecting", "selecting", "command", "selecting", selectText, "", "overlay");
        row("review", "review", "command", "review", ready, "", "review");
        for (const char *phase :
            { "captured", "ocrProcessing", "needsOCR", "saving", "destinationUnavailable", "saveFailed" })
            row(phase, phase, "command", phase, ready, "", "review");
        row("saved, audio busy", "saved,audio busy", "command", "saved", audioBusy, "", "");
        row("setup incomplete", "setup incomplete", "command", "idle", ready, "setup", "");
        row("no permission", "no permission", "command", "idle", permission, "setup", "");
        row("audio busy", "audio busy", "command", "idle", audioBusy, "", "");
        row("scrolling runs", "scrolling", "command", "idle", "Scrolling capture is already in progress", "",
            "");
        row("review open in idle", "pending draft,review open,idle", "command", "idle", "Resumed draft", "",
            "review");
        row("gates: pending draft first", "pending draft,setup incomplete,no permission", "start", "idle",
            "Resume or delete the unfinished capture before starting another", "recovery", "");
        row("gates: setup, then permission", "setup incomplete,no permission", "start", "idle", ready,
            "setup", "");
        row("gates: permission, then audio", "no permission,audio busy", "start", "needsPermission",
            permission, "setup", "");
        row("gates: audio, then store", "audio busy,no store", "start", "idle", audioBusy, "", "");
        row("gates: store", "no store", "start", "idle",
            "Encrypted draft storage is unavailable. Try the capture again.", "", "");
    }
    void command()
    {
        QFETCH(QString, conditions);
        QFETCH(QString, forward);
        ModelHarness h;
        AppModel &model = prepared(h, conditions.split(',', Qt::SkipEmptyParts));
        const int generation = h.context().visualCapture().captureGeneration;
        QFETCH(QString, call);
        QVERIFY(
            ModelHarness::finish(call == "start" ? model.startCapture() : model.handleCaptureInvocation()));
        ModelHarness::settle();
        QTEST(CapturePhases::rawValue(model.phase()), "phase");
        QTEST(model.statusMessage(), "status");
        QTEST(model.requestedWindow().value_or(QString()), "window");
        // The overlay comes once the application in front is known, asked off the main thread: under
        // load that answer takes longer than a few turns of the loop.
        if (forward == "overlay")
            QTRY_COMPARE(h.overlays.size(), 1);
        else
            QCOMPARE(h.overlays.size(), 0);
        QCOMPARE(h.fronts, forward == "review" ? 1 : 0);
        // A new capture closes the last receipt; nothing else does.
        QCOMPARE(model.receipt().has_value(), conditions.contains("saved") && forward != "overlay");
        if (model.statusMessage() == permission)
            QCOMPARE(AppSettingsStore(h.defaults).load().onboardingStep, 2);
        if (conditions == "selecting")
            QCOMPARE(h.context().visualCapture().captureGeneration, generation);
    }

    // How a capture ends: its message once, the draft kept when it cannot be deleted (a note says
    // so), late stills of the ended capture changing nothing, and the next capture running.
    void endings_data()
    {
        QTest::addColumn<QString>("ended");
        const QString kept = QStringLiteral(". The temporary draft is still on this computer.");
        row("canceled while the stills are read", "Capture canceled");
        row("selection timed out",
            "Region selection closed after two minutes. Start the capture again when ready.");
        row("canceled, draft undeletable", "Capture canceled" + kept);
        row("draft not stored, nor deleted", "Capture could not finish: a folder is in its place" + kept);
    }
    void endings()
    {
        QFETCH(QString, ended);
        const QString how = QTest::currentDataTag();
        ModelHarness h;
        AppModel &model = prepared(h);
        QStringList statuses;
        connect(&model, &AppModel::statusMessageChanged, this, [&] { statuses << model.statusMessage(); });
        h.holdSnapshots = how.endsWith("read");
        if (ended.endsWith("computer."))
            h.breakDraftFile();
        model.startCapture();
        const auto shown = [&] { return h.overlays.size() == 1 && !h.overlays[0]->windows().isEmpty(); };
        QVERIFY(QTest::qWaitFor([&] { return h.holdSnapshots ? h.snapshotCalls.size() == 1 : shown(); },
            TestSupport::patienceMs));
        if (how.startsWith("selection"))
            h.overlayClock.advance(120s);
        else if (how.startsWith("draft"))
            QVERIFY(h.select(QRect(10, 10, 100, 50)));
        else
            model.cancelVisualCapture();
        QVERIFY(
            QTest::qWaitFor([&] { return model.phase() == CapturePhase::idle; }, TestSupport::patienceMs));
        QCOMPARE(statuses.count(ended), 1);
        QCOMPARE(h.context().drafts().currentDraft().has_value(), how.startsWith("draft"));
        if (ended.endsWith("computer."))
            return;
        h.holdSnapshots = true;
        model.startCapture();
        QVERIFY(QTest::qWaitFor([&] { return h.snapshotCalls.size() == (how.endsWith("read") ? 2 : 1); },
            TestSupport::patienceMs));
        h.snapshotCalls.first().resolve({});
        ModelHarness::settle();
        QVERIFY(h.overlays.size() == 2 && (!h.overlays[0] || h.overlays[0]->windows().isEmpty()));
        h.snapshotCalls.last().resolve({});
        QVERIFY(h.captureReview());
    }

    // The menu's remembered application names the source only within 2 s; else the one in front.
    void sourceApplication_data()
    {
        QTest::addColumn<int>("ageMs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("remembered 1.9 s ago") << 1900 << "Notes";
        QTest::newRow("remembered 2.1 s ago") << 2100 << "Editor";
        QTest::newRow("nothing remembered") << -1 << "Editor";
    }
    void sourceApplication()
    {
        QFETCH(int, ageMs);
        ModelHarness h;
        h.fixedNow = QDateTime::currentDateTime();
        AppModel &model = prepared(h);
        VisualCaptureState &state = h.context().visualCapture();
        if (ageMs >= 0) {
            state.rememberedApplication
                = ForeignApplication { QStringLiteral("Notes"), QStringLiteral("notes") };
            state.rememberedApplicationAt = h.fixedNow->addMSecs(-ageMs);
        }
        QVERIFY(h.captureReview(QRect(30, 40, 120, 60)));
        QVERIFY(!state.rememberedApplication && !state.rememberedApplicationAt);
        QTEST(h.context().drafts().currentDraft()->applicationName.value_or(QString()), "expected");
        QCOMPARE(h.context().drafts().currentImage().size(), QSize(120, 60));
        QVERIFY(model.settings().hasRunTestCapture);
    }

    void recognition_data()
    {
        for (const char *column : { "text", "title", "status", "phase", "message" })
            QTest::addColumn<QString>(column);
        const char *reviewText = "Review the text, then save Markdown.";
        row("untitled", "Budget review\nline two", "Budget review", reviewText, "review", "Review capture");
        row("typed title kept", "Budget review", "Mine", reviewText, "review", "Review capture");
        row("retry drops the first", "Fresh words", "Fresh words", reviewText, "review", "Review capture");
        row("another draft's result", "", "Untitled capture", "Recognizing text…", "ocrProcessing",
            selectText);
        row("recognizer failed", "", "Untitled capture", "OCR did not finish. Retry OCR or type the text.",
            "needsOCR", "OCR did not finish");
        row("recognizer cannot run", "", "Untitled capture", "No language data. Retry OCR or type the text.",
            "needsOCR", "OCR did not finish");
        row("nothing recognized", "", "Untitled capture",
            "No text was recognized. Type the captured text or retry OCR.", "needsOCR", "Review capture");
        row("low confidence", "Faint words", "Faint words",
            "OCR confidence is low. Review the text or retry.", "needsOCR", "Review capture");
        row("canceled, late result", "", "Untitled capture", "OCR canceled. Retry OCR or type the text.",
            "needsOCR", "OCR canceled");
    }
    void recognition()
    {
        QFETCH(QString, text);
        const QString how = QTest::currentDataTag();
        ModelHarness h;
        AppModel &model = prepared(h);
        QVERIFY(h.captureReview());
        const std::shared_ptr<ReviewSession> session = model.reviewSession();
        DraftFlow &drafts = h.context().drafts();
        CaptureDraft other = *drafts.currentDraft();
        other.id = QUuid::createUuid();
        if (how.startsWith("typed"))
            session->setTitle(QStringLiteral("Mine"));
        if (how.startsWith("retry")) {
            model.retryOCR();
            h.recognitions.first().resolve(read(QStringLiteral("Stale words")));
            ModelHarness::settle();
        }
        if (how.startsWith("another"))
            drafts.setCurrentDraft(other);
        if (how.startsWith("canceled"))
            model.cancelOCR();
        const bool late = how.startsWith("another") || how.startsWith("canceled");
        if (how.startsWith("recognizer"))
            h.recognitions.last().reject(how.endsWith("failed")
                    ? std::make_exception_ptr(std::runtime_error("lost"))
                    : std::make_exception_ptr(OCRError("No language data.")));
        else
            h.recognitions.last().resolve(
                read(late ? QStringLiteral("Late") : text, how.startsWith("low") ? 0.2 : 0.9));
        ModelHarness::settle();
        QCOMPARE(session->reviewedText(), text);
        QTEST(session->title(), "title");
        QTEST(session->statusText(), "status");
        QTEST(CapturePhases::rawValue(model.phase()), "phase");
        QTEST(model.statusMessage(), "message");
        QCOMPARE(session->isOCRRunning(), how.startsWith("another"));
        // The draft keeps what the review shows: a crash brings back the title typed meanwhile.
        QCOMPARE(drafts.currentDraft()->title,
            how.startsWith("another")     ? other.title
                : how.startsWith("typed") ? session->title()
                                          : OCRLayout::defaultTitle(text));
    }

    // Save: once only, from needsOCR too, into the capture's own, the default or a chosen folder,
    // under a free name; a failed save can be tried again.
    void save_data()
    {
        QTest::addColumn<QString>("firstStatus");
        row("pressed twice", "Saved Markdown");
        row("typed after nothing was recognized", "Saved Markdown");
        row("no folder, then one chosen",
            "The destination folder is unavailable. Choose a new folder. The draft is still here.");
        row("write failed, then saved", "Save failed: the folder is gone");
        row("name taken", "Saved Markdown");
        row("draft not deleted", "Saved Markdown. The temporary draft could not be cleared.");
        row("only a last used folder", "Saved Markdown");
        row("stale default folder renewed", "Saved Markdown");
        row("a long note", "Saved Markdown");
    }
    void save()
    {
        const QString how = QTest::currentDataTag();
        ModelHarness h;
        AppModel &model = prepared(h, { how.startsWith("no folder") ? "no folder" : "" });
        QVERIFY(h.captureReview());
        const std::shared_ptr<ReviewSession> session = model.reviewSession();
        h.recognitions.last().resolve(
            read(how.startsWith("typed") ? QString() : QStringLiteral("Budget review")));
        ModelHarness::settle();
        QString typed = QStringLiteral("Typed words");
        for (int line = 0; how.startsWith("a long") && typed.size() < 4'000'000; ++line)
            typed += QStringLiteral("\nLine %1 of a long note").arg(line);
        session->setReviewedText(typed);
        const QString folder = h.dir.filePath(how.startsWith("no folder") ? "chosen" : "notes");
        QString name = CaptureFilename::make(
            session->observedAt, session->title(), session->id, session->filenameTimeZone);
        if (how.startsWith("name") && TestSupport::writeFile(folder + "/" + name, "taken"))
            name.replace(".md", "-2.md");
        const QString plainFile = h.dir.filePath(QStringLiteral("plain-file"));
        if (how.startsWith("write") && TestSupport::writeFile(plainFile, "x"))
            h.resolveFolder = [&](const FolderAccess &) {
                return ResolvedFolder { QUrl::fromLocalFile(plainFile), false, {} };
            };
        if (how.startsWith("draft")
            && ModelHarness::finish(model.persistRegionDraft())) // earlier writes done
            h.breakDraftFile();
        const FolderAccess renewed { QByteArray("renewed bookmark"), folder };
        if (how.startsWith("only")) {
            AppSettings settings = model.settings();
            settings.lastUsedFolder = std::exchange(settings.defaultFolder, std::nullopt);
            model.updateSettings(settings);
        } else if (how.startsWith("stale")) {
            h.resolveFolder = [&](const FolderAccess &access) {
                ResolvedFolder resolved = FolderBookmark::resolve(access);
                resolved.refreshed = renewed;
                return resolved;
            };
        }

        Task<> first = model.saveOpenReview();
        QVERIFY(ModelHarness::finish(model.saveOpenReview()) && ModelHarness::finish(first));
        QTEST(model.statusMessage(), "firstStatus");
        if (model.phase() != CapturePhase::saved) {
            QVERIFY(model.settings().recent.isEmpty() && QDir(folder).isEmpty());
            h.resolveFolder = nullptr;
            h.pickedFolder = folder;
            QDir().mkpath(folder);
            if (how.startsWith("no folder")) {
                QVERIFY(ModelHarness::finish(model.chooseReviewFolder()));
                QCOMPARE(model.phase(), CapturePhase::review);
            }
            QVERIFY(ModelHarness::finish(model.saveOpenReview()));
        }
        QCOMPARE(model.phase(), CapturePhase::saved);
        QCOMPARE(QDir(folder).entryList({ "*.md" }).size(), how.startsWith("name") ? 2 : 1);
        QCOMPARE(model.receipt()->url.fileName(), name);
        QCOMPARE(model.settings().recent.value(0).filename, name);
        const QByteArray written = TestSupport::readFile(folder + "/" + name);
        QVERIFY(written.contains(typed.toUtf8()));
        // The receipt copies what was written, kept packed: a long note is not held at twice its size.
        QCOMPARE(model.receipt()->markdown().toUtf8(), written);
        if (how.startsWith("a long"))
            QCOMPARE_LT(model.receipt()->packedMarkdown.size(), written.size() / 4);
        QCOMPARE(h.defaults->string(DraftFlow::lastSavedDraftIDKey),
            model.receipt()->id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(h.context().drafts().currentDraft().has_value(), how.startsWith("draft"));
        QVERIFY(!model.reviewSession() && h.orderOuts == 1);
        QCOMPARE(model.requestedWindow(), std::optional<QString>("receipt"));
        if (how.startsWith("stale"))
            QCOMPARE(AppSettingsStore(h.defaults).load().defaultFolder, std::optional(renewed));
        // Saved once: pressing Save again writes nothing more.
        QVERIFY(ModelHarness::finish(model.saveOpenReview()));
        QCOMPARE(QDir(folder).entryList({ "*.md" }).size(), how.startsWith("name") ? 2 : 1);
    }

    // A failed save says why, in the user's words, in the review and the status line; so does a failed
    // write of the draft's edits, its own error carried through.
    void failedSavesSayWhy_data()
    {
        QTest::addColumn<QString>("what"); // the note, or the draft's folder or file taken by another
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::newRow("note, disk full") << "note" << ENOSPC << "the disk is full";
        QTest::newRow("note, over quota") << "note" << EDQUOT << "the disk is full";
        QTest::newRow("note, read-only disk") << "note" << EROFS << "the disk is read-only";
        QTest::newRow("note, no permission") << "note" << EACCES << "Quorvel is not allowed to write there";
        QTest::newRow("note, folder gone") << "note" << ENOENT << "the folder is gone";
        QTest::newRow("note, disk error") << "note" << EIO << "input/output error";
        QTest::newRow("note, no reason known") << "note" << 0 << "";
        QTest::newRow("draft, its folder a file") << "draft folder" << 0 << "the folder is gone";
        QTest::newRow("draft, a folder in its place") << "draft file" << 0 << "a folder is in its place";
    }
    void failedSavesSayWhy()
    {
        QFETCH(QString, what);
        QFETCH(int, error);
        QFETCH(QString, reason);
        ModelHarness h;
        h.adjust = [error, what](ModelServices &services) {
            if (what == "note")
                services.writeMarkdown = [error](const QString &, const QString &, const QString &) -> QUrl {
                    if (error == 0)
                        throw std::runtime_error("refused");
                    throw AtomicMarkdownWriterError(AtomicMarkdownWriterError::Code::writeFailed, error);
                };
        };
        AppModel &model = prepared(h);
        QVERIFY(h.captureReview());
        const std::shared_ptr<ReviewSession> session = model.reviewSession();
        h.recognitions.last().resolve(read(QStringLiteral("Budget review")));
        ModelHarness::settle();
        const QString because = reason.isEmpty() ? QString() : ": " + reason;
        if (what == "note") {
            QVERIFY(ModelHarness::finish(model.saveOpenReview()));
            QCOMPARE(model.phase(), CapturePhase::saveFailed);
            QCOMPARE(session->statusText(),
                "The Markdown file could not be saved" + because + ". Try Save again.");
            QCOMPARE(model.statusMessage(), "Save failed" + because);
            return;
        }
        QVERIFY(ModelHarness::finish(model.persistRegionDraft())); // earlier writes done
        if (what == "draft file") {
            h.breakDraftFile();
        } else {
            QVERIFY(QDir(h.draftFolder()).removeRecursively());
            QVERIFY(TestSupport::writeFile(h.draftFolder(), "taken"));
        }
        session->setTitle(QStringLiteral("Edited"));
        const Task<bool> persisting = model.persistRegionDraft();
        QVERIFY(ModelHarness::finish(persisting));
        QVERIFY(!persisting.result());
        const QString text = "The encrypted draft could not be saved" + because
            + ". Keep Review Capture open and try again.";
        QCOMPARE(session->statusText(), text);
        QCOMPARE(model.statusMessage(), text);
    }

    // Retry OCR starts a new recognition; the one it replaced (or one cancelled before it) answering
    // late leaves the new one running: its spinner, its handles, the phase and the status.
    void lateRecognition_data()
    {
        QTest::addColumn<bool>("cancelFirst");
        QTest::addColumn<bool>("fails");
        QTest::newRow("a stale recognition answering after Retry OCR stops the new one") << false << false;
        QTest::newRow("a stale recognition failing after Retry OCR stops the new one") << false << true;
        QTest::newRow("a cancelled recognition answering after Retry OCR stops the new one") << true << false;
    }
    void lateRecognition()
    {
        QFETCH(bool, cancelFirst);
        QFETCH(bool, fails);
        ModelHarness h;
        AppModel &model = prepared(h);
        QVERIFY(h.captureReview());
        const std::shared_ptr<ReviewSession> session = model.reviewSession();
        if (cancelFirst)
            model.cancelOCR();
        model.retryOCR();
        QCOMPARE(h.recognitions.size(), 2);
        if (fails)
            h.recognitions.first().reject(std::make_exception_ptr(std::runtime_error("lost")));
        else
            h.recognitions.first().resolve(read(QStringLiteral("Stale words")));
        ModelHarness::settle();
        const VisualCaptureState &state = h.context().visualCapture();
        QVERIFY(session->isOCRRunning());
        QVERIFY(state.ocrTask.isValid() && state.recognition.isValid());
        QCOMPARE(model.phase(), CapturePhase::ocrProcessing);
        QCOMPARE(session->statusText(), QStringLiteral("Recognizing text…"));
        QCOMPARE(session->reviewedText(), QString());
        h.recognitions.last().resolve(read(QStringLiteral("Fresh words")));
        QTRY_COMPARE(session->reviewedText(), QStringLiteral("Fresh words"));
        QVERIFY(!session->isOCRRunning());
        QCOMPARE(model.phase(), CapturePhase::review);
    }

    // The first capture after launch waits for the draft store, which may restore an unfinished
    // draft: the capture then goes to the recovery window instead of replacing that draft.
    void firstCaptureMeetsRestoredDraft_data()
    {
        QTest::addColumn<bool>("scrolling");
        QTest::newRow("a region capture replaces the draft the store just restored") << false;
        QTest::newRow("a scrolling capture replaces the draft the store just restored") << true;
    }
    void firstCaptureMeetsRestoredDraft()
    {
        QFETCH(bool, scrolling);
        ModelHarness h;
        h.readyToCapture(h.dir.filePath(QStringLiteral("notes")));
        const CaptureDraft stored = h.storeDraft();
        AppModel &model = h.make();
        // In the same turn as the start: the store is still being made.
        QVERIFY(!model.pendingDraft());
        QVERIFY(ModelHarness::finish(scrolling ? model.startScrollingCapture() : model.startCapture()));
        ModelHarness::settle();
        QCOMPARE(model.pendingDraft()->id, stored.id);
        QCOMPARE(h.context().drafts().currentDraft()->id, stored.id);
        QCOMPARE(model.requestedWindow(), std::optional<QString>("recovery"));
        QCOMPARE(model.statusMessage(),
            QStringLiteral("Resume or delete the unfinished capture before starting another"));
        QCOMPARE(model.phase(), CapturePhase::idle);
        QVERIFY(h.overlays.isEmpty() && h.prompts.isEmpty());
    }

    // A draft that a newer version left is moved aside, as it was and private, before a capture takes
    // its place, whether the capture is kept, canceled or fails; a second capture leaves it there.
    void newerDraftSetAside_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("a region capture reviewed") << "review";
        QTest::newRow("a region capture canceled") << "cancel";
        QTest::newRow("a scrolling capture") << "scrolling";
        QTest::newRow("a second capture after the first was deleted") << "twice";
    }
    void newerDraftSetAside()
    {
        QFETCH(QString, how);
        ModelHarness h;
        h.readyToCapture(h.dir.filePath(QStringLiteral("notes")));
        h.defaults->setBoolean(ScrollingCaptureFlow::introductionKey, true);
        h.readText = [](const QImage &) { return read(QStringLiteral("Words")); };
        const QByteArray newer = h.storeNewerDraft();
        QVERIFY(!newer.isEmpty());
        AppModel &model = h.make();
        QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
        const QDir folder(h.draftFolder());
        const QString aside = folder.filePath(QStringLiteral("active-draft.newer-1.sealed"));
        QVERIFY(h.alertMessages.value(0).contains(aside));
        if (how == "scrolling") {
            model.startScrollingCapture();
            QVERIFY(h.select(QRect(20, 20, 300, 200)));
            QVERIFY(QTest::qWaitFor([&] { return model.reviewSession() != nullptr; }, 30000));
        } else if (how == "cancel") {
            model.startCapture();
            QVERIFY(QTest::qWaitFor([&] { return !h.overlays.isEmpty(); }, TestSupport::patienceMs));
            QVERIFY(ModelHarness::finish(model.cancelVisualCapture()));
        } else {
            QVERIFY(h.captureReview());
        }
        if (how == "twice") {
            QVERIFY(ModelHarness::finish(model.deleteOpenDraft()));
            QVERIFY(h.captureReview());
        }
        QCOMPARE(TestSupport::readFile(aside), newer);
        struct stat info
        {
        };
        QVERIFY(::stat(QFile::encodeName(aside).constData(), &info) == 0);
        QCOMPARE(int(info.st_mode & 07777), 0600);
        QCOMPARE(folder.entryList({ QStringLiteral("*.newer-*") }, QDir::AllEntries | QDir::Hidden),
            QStringList { "active-draft.newer-1.sealed" });
        // The capture's own draft is where drafts are, and opens.
        const std::optional<CaptureDraft> own = h.context().drafts().store()->load();
        QCOMPARE(own.has_value(), how != "cancel");
        if (own)
            QCOMPARE(own->id, model.reviewSession()->id);
        QCOMPARE(h.alerts.size(), 1);
    }

    // What the menu remembered of the application in front reaches only the capture it was
    // remembered for, however late the answer comes; the hot key takes the one in front then.
    void frontApplicationAnswers_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("source");
        QTest::newRow("a slow answer about the front application overwrites a newer one")
            << "remember twice, older answers last"
            << "Newer";
        QTest::newRow("an answer after the menu's capture lingers for the next one")
            << "menu capture, answer late, then hot key"
            << "Front";
        QTest::newRow("the hot key takes what the menu remembered for a capture turned away")
            << "menu remembers, hot key"
            << "Front";
    }
    void frontApplicationAnswers()
    {
        QFETCH(QString, how);
        QFETCH(QString, source);
        ModelHarness h;
        h.fixedNow = QDateTime::currentDateTime();
        HeldAnswers<ForeignApplication> front;
        h.adjust = [&front](ModelServices &services) {
            services.frontmostApplication = [&front] { return front.wait(); };
        };
        AppModel &model = prepared(h);
        VisualCaptureState &state = h.context().visualCapture();
        const auto app = [](const char *name) {
            return ForeignApplication { name, QString(name).toLower() };
        };
        const auto hotKey = [&] {
            emit model.captureShortcutPressed();
            QVERIFY(front.waitForCalls(front.calls() + 1));
            front.answer(front.calls() - 1, app("Front"));
        };
        if (how.startsWith("remember twice")) {
            // One at a time: the answers are told apart by the order of the calls.
            model.rememberFrontmostApplication();
            QVERIFY(front.waitForCalls(1));
            model.rememberFrontmostApplication();
            QVERIFY(front.waitForCalls(2));
            front.answer(1, app("Newer"));
            QTRY_VERIFY(state.rememberedApplication);
            front.answer(0, app("Older"));
            // The late answer has landed before the capture takes what is remembered.
            QThreadPool::globalInstance()->waitForDone();
            ModelHarness::settle();
            QVERIFY(h.captureReview());
        } else if (how.startsWith("menu capture")) {
            model.rememberFrontmostApplication();
            QVERIFY(front.waitForCalls(1));
            model.startCapture();
            QVERIFY(front.waitForCalls(2));
            front.answer(1, app("Menu's capture"));
            QVERIFY(h.select(QRect(20, 20, 200, 100)));
            QTRY_VERIFY(model.reviewSession());
            front.answer(0, app("Menu"));
            QThreadPool::globalInstance()->waitForDone();
            ModelHarness::settle();
            QVERIFY(!state.rememberedApplication);
            QVERIFY(ModelHarness::finish(model.deleteOpenDraft()));
            hotKey();
            QVERIFY(h.select(QRect(20, 20, 200, 100)));
            QTRY_VERIFY(model.reviewSession());
        } else {
            model.rememberFrontmostApplication();
            QVERIFY(front.waitForCalls(1));
            front.answer(0, app("Menu"));
            QTRY_VERIFY(state.rememberedApplication);
            hotKey();
            QVERIFY(h.select(QRect(20, 20, 200, 100)));
            QTRY_VERIFY(model.reviewSession());
        }
        QCOMPARE(h.context().drafts().currentDraft()->applicationName, std::optional(source));
    }

    // Request Access that finds Screen Recording granted ends the hold for it.
    void screenPermissionGranted_data()
    {
        QTest::addColumn<bool>("onlyRecheck");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<CapturePhase>("phase");
        QTest::newRow("after Request Access is granted, the phase stays needsPermission")
            << false << true << CapturePhase::idle;
        QTest::newRow(
            "after Request Access finds it granted by looking again, the phase stays needsPermission")
            << true << true << CapturePhase::idle;
        QTest::newRow("a refused request ends the hold") << false << false << CapturePhase::needsPermission;
    }
    void screenPermissionGranted()
    {
        QFETCH(bool, onlyRecheck);
        QFETCH(bool, granted);
        ModelHarness h;
        h.requestsOnlyRecheck = onlyRecheck;
        AppModel &model = prepared(h, { "no permission" });
        QVERIFY(ModelHarness::finish(model.startCapture()));
        QCOMPARE(model.phase(), CapturePhase::needsPermission);
        h.screenGranted = granted;
        QVERIFY(ModelHarness::finish(model.requestPermission()));
        ModelHarness::settle();
        QTEST(model.phase(), "phase");
    }

    // Setup's test-capture step needs a capture: a capture there is not sent back to setup; one
    // from an earlier step is.
    void setupStepGate_data()
    {
        QTest::addColumn<OnboardingStep>("step");
        QTest::addColumn<bool>("command");
        QTest::addColumn<bool>("captures");
        QTest::newRow("a capture at the test-capture step is sent back to setup")
            << OnboardingStep::testCapture << false << true;
        QTest::newRow("a capture command at the test-capture step is sent back to setup")
            << OnboardingStep::testCapture << true << true;
        QTest::newRow("a capture at the shortcut step goes ahead of setup")
            << OnboardingStep::shortcut << false << false;
        QTest::newRow("a capture command at the shortcut step goes ahead of setup")
            << OnboardingStep::shortcut << true << false;
    }
    void setupStepGate()
    {
        QFETCH(OnboardingStep, step);
        QFETCH(bool, command);
        QFETCH(bool, captures);
        ModelHarness h;
        h.readyToCapture(h.dir.filePath(QStringLiteral("notes")));
        AppSettings settings = AppSettingsStore(h.defaults).load();
        settings.setupComplete = false;
        settings.onboardingStep = int(step);
        h.setSettings(settings);
        AppModel &model = h.make();
        QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
        model.clearRequestedWindow();
        QVERIFY(ModelHarness::finish(command ? model.handleCaptureInvocation() : model.startCapture()));
        QCOMPARE(model.phase(), captures ? CapturePhase::selecting : CapturePhase::idle);
        QCOMPARE(model.requestedWindow(), captures ? std::nullopt : std::optional<QString>("setup"));
        if (captures)
            QVERIFY(h.select(QRect(20, 20, 200, 100)));
        ModelHarness::settle();
        QCOMPARE(h.overlays.size(), captures ? 1 : 0);
    }

    // Copying the reviewed text: what reached the clipboard and the status line.
    void copyReviewedText_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("clipboardWorks");
        QTest::addColumn<QString>("status");
        QTest::newRow("typed text") << "Budget review" << true << "Copied reviewed text";
        QTest::newRow("nothing to copy") << "" << true << "Review capture";
        QTest::newRow("clipboard refuses")
            << "Budget review" << false << "The clipboard could not be updated";
    }
    void copyReviewedText()
    {
        QFETCH(QString, typed);
        QFETCH(bool, clipboardWorks);
        ModelHarness h;
        AppModel &model = prepared(h);
        QVERIFY(h.captureReview());
        h.recognitions.last().resolve(read(QStringLiteral("Recognized")));
        ModelHarness::settle();
        model.reviewSession()->setReviewedText(typed);
        h.pasteboardWorks = clipboardWorks;
        QCOMPARE(model.copyReviewedText(), clipboardWorks && !typed.isEmpty());
        QTEST(model.statusMessage(), "status");
        QCOMPARE(h.clipboard, clipboardWorks && !typed.isEmpty() ? QStringList { typed } : QStringList());
    }
};

QTEST_MAIN(TestRegionCaptureFlow)
#include "tst_RegionCaptureFlow.moc"
