// The capture command, the region capture, its recognition and its save on the real model, with
// stills, an overlay shown offscreen, recognition answered by the test and real folders.
#include "ModelHarness.h"

#include "Capture/OCRService.h"
#include "Documents/CaptureMarkdown.h"
#include "Model/DraftFlow.h"
#include "Model/ReviewSession.h"
#include "Model/VisualCaptureState.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

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
        QCOMPARE(h.overlays.size(), forward == "overlay" ? 1 : 0);
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
        row("draft not stored, nor deleted", "Capture could not finish" + kept);
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
        QVERIFY(QTest::qWaitFor([&] { return h.holdSnapshots ? h.snapshotCalls.size() == 1 : shown(); }));
        if (how.startsWith("selection"))
            h.overlayClock.advance(120s);
        else if (how.startsWith("draft"))
            QVERIFY(h.select(QRect(10, 10, 100, 50)));
        else
            model.cancelVisualCapture();
        QVERIFY(QTest::qWaitFor([&] { return model.phase() == CapturePhase::idle; }));
        QCOMPARE(statuses.count(ended), 1);
        QCOMPARE(h.context().drafts().currentDraft().has_value(), how.startsWith("draft"));
        if (ended.endsWith("computer."))
            return;
        h.holdSnapshots = true;
        model.startCapture();
        QVERIFY(QTest::qWaitFor([&] { return h.snapshotCalls.size() == (how.endsWith("read") ? 2 : 1); }));
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
        QCOMPARE(drafts.currentDraft()->title,
            how.startsWith("another") ? other.title : OCRLayout::defaultTitle(text));
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
        row("write failed, then saved", "Save failed");
        row("name taken", "Saved Markdown");
        row("draft not deleted", "Saved Markdown. The temporary draft could not be cleared.");
        row("only a last used folder", "Saved Markdown");
        row("stale default folder renewed", "Saved Markdown");
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
        session->setReviewedText(QStringLiteral("Typed words"));
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
        QVERIFY(TestSupport::readFile(folder + "/" + name).contains("Typed words"));
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
