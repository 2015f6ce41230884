// The scrolling capture flow and its recognition from the tiles on the real model: prompts and Control
// Scrolling answered by the test, an overlay shown offscreen, real captures of a column that does not
// move, a real draft store.
#include "ModelHarness.h"

#include "Capture/OCRService.h"
#include "Documents/DraftKeyStore.h"
#include "Documents/ImageNormalization.h"
#include "Model/DraftFlow.h"
#include "Model/ReviewSession.h"
#include "Model/ScrollingCaptureFlow.h"
#include "Model/VisualCaptureState.h"
#include "Services/PermissionController.h"
#include "SyntheticColumn.h"

#include <QColorSpace>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString introduction = QStringLiteral("Capture a long scrolling area");
const QString consent = QStringLiteral("Allow scrolling capture?");
const QString asking
    = QStringLiteral("Control Scrolling needs an X11 (Xorg) session with the XTEST extension");
const QString reviewing = QStringLiteral("Review the scrolling capture, then save Markdown.");
// The harness's column never moves, so the review says that only what was in view was kept.
const QString stoodStill
    = QStringLiteral("The area did not move when it was scrolled, so only what was in view was captured. ");

// The model ready to capture, with Control Scrolling, the prompts and the text as `conditions` say.
AppModel &prepared(ModelHarness &h, const QStringList &conditions, ManualTaskClock *clock = nullptr)
{
    h.readyToCapture(h.dir.filePath(QStringLiteral("notes")));
    if (conditions.contains("setup incomplete"))
        h.setSettings(AppSettings {});
    h.defaults->setBoolean(ScrollingCaptureFlow::introductionKey, !conditions.contains("introduction"));
    h.defaults->setBoolean(
        PermissionController::postEventRequestedKey, conditions.contains("requested before"));
    h.scrollingGranted = !conditions.contains("cannot scroll");
    h.scrollingTrusted = conditions.contains("relaunch");
    h.promptAnswer = conditions.contains("declined") ? std::optional(false) : std::optional(true);
    if (conditions.contains("no answer"))
        h.promptAnswer.reset();
    if (conditions.contains("no target"))
        h.target.reset();
    const double confidence = conditions.contains("faint") ? 0.2 : 0.9;
    const QString text = conditions.contains("no text") ? QString() : QStringLiteral("Scrolled words");
    if (conditions.contains("time limit"))
        h.scrollingLimits.maxDuration = {};
    const bool fails = conditions.contains("ocr cannot run");
    h.readText = [=](const QImage &) {
        if (fails)
            throw OCRError("No language data.");
        return text.isEmpty()
            ? OCRResult {}
            : OCRResult::fromObservations({ { text, QRectF(0, 0.5, 1, 0.2), confidence } }, { "en" });
    };
    h.clock = clock;
    AppModel &model = h.make();
    ModelHarness::finish(model.startDraftStoreIfNeeded());
    return model;
}

template <typename... Texts> void row(const char *name, const Texts &...texts)
{
    (QTest::newRow(name) << ... << QString(texts));
}

QImage filled(QSize size, QColor colour = Qt::white)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    image.setColorSpace(QColorSpace::SRgb);
    return image;
}

// A scrolling draft of `images` stored (but for the tiles `broken` names, or a corrupt first one) and
// resumed into the review.
AppModel &reviewingTiles(ModelHarness &h, const QList<QImage> &images, const QStringList &broken = {})
{
    h.readyToCapture(h.dir.filePath(QStringLiteral("notes")));
    const EncryptedDraftStore store(h.draftFolder(), DraftKeyStore::loadOrCreate(h.draftFolder()));
    const QUuid id = QUuid::createUuid();
    ScrollingCaptureManifest manifest;
    for (qsizetype i = 0; i < images.size(); ++i) {
        manifest.tiles << ScrollingCaptureTile { int(i), images[i].width(), images[i].height(),
            manifest.pixelHeight };
        manifest.pixelWidth = std::max(manifest.pixelWidth, images[i].width());
        manifest.pixelHeight += images[i].height();
        if (!broken.contains(QString::number(i)))
            store.saveTilePNG(id, int(i),
                broken.contains("corrupt") ? "not a picture" : *ImageNormalization::pngData(images[i]));
    }
    const QDateTime now = QDateTime::currentDateTime();
    store.save(CaptureDraft(
        id, now, now, now, {}, {}, {}, {}, {}, {}, {}, "Untitled capture", {}, {}, manifest, {}));
    AppModel &model = h.make();
    ModelHarness::finish(model.startDraftStoreIfNeeded());
    ModelHarness::finish(model.resumePendingDraft());
    return model;
}

} // namespace

class TestScrollingCaptureFlow : public QObject
{
    Q_OBJECT

private slots:
    // The conditions; then the status, the prompts shown, the phase and the review's own status
    // after the command ("" when no review opened).
    void start_data()
    {
        for (const char *column : { "conditions", "status", "prompts", "phase", "review" })
            QTest::addColumn<QString>(column);
        const char *done = "Review scrolling capture";
        row("introduction answered Select Region", "introduction", done, introduction, "review",
            stoodStill + reviewing);
        row("introduction canceled", "introduction,declined", "Scrolling capture canceled", introduction,
            "idle", "");
        row("introduced before", "", done, "", "review", stoodStill + reviewing);
        row("nothing recognized", "no text", done, "", "needsOCR",
            stoodStill + "No text was recognized. Type the captured text or retry OCR.");
        row("low confidence", "faint", done, "", "needsOCR", stoodStill + reviewing);
        row("time limit", "time limit", done, "", "review",
            "The capture stopped at its 90-second limit; there may be more below. " + reviewing);
        row("recognizer cannot run", "ocr cannot run", done, "", "needsOCR",
            stoodStill + "No language data. Retry OCR or type the text.");
        row("consent asked when not requested", "cannot scroll,relaunch", asking, consent, "idle", "");
        row("consent declined", "cannot scroll,declined", "Scrolling capture canceled", consent, "idle", "");
        row("no consent once requested", "cannot scroll,requested before,relaunch", asking, "", "idle", "");
        row("withdrawn while outlining", "withdrawn,relaunch", asking, consent, "captured", "");
        row("no window under the outline", "no target",
            ScrollingCaptureErrors::description(ScrollingCaptureError::targetUnavailable), "", "idle", "");
        row("canceled from the menu during the introduction", "introduction,no answer", "Capture canceled",
            introduction, "idle", "");
    }
    void start()
    {
        QFETCH(QString, conditions);
        QFETCH(QString, review);
        ModelHarness h;
        AppModel &model = prepared(h, conditions.split(',', Qt::SkipEmptyParts));
        VisualCaptureState &state = h.context().visualCapture();
        model.startScrollingCapture();
        const bool answers = !conditions.contains("no answer");
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !h.overlays.isEmpty() || (!answers && h.openPrompt) || state.captureTask.isFinished();
            },
            TestSupport::patienceMs));
        if (!answers)
            QVERIFY(ModelHarness::finish(model.cancelVisualCapture()));
        if (conditions.contains("withdrawn"))
            h.scrollingGranted = false;
        if (!h.overlays.isEmpty())
            QVERIFY(h.select(QRect(20, 20, 300, 200)));
        QVERIFY(QTest::qWaitFor([&] { return state.captureTask.isFinished(); }, 30000));
        ModelHarness::settle();
        QTEST(model.statusMessage(), "status");
        QTEST(h.prompts.join(','), "prompts");
        QTEST(CapturePhases::rawValue(model.phase()), "phase");
        QCOMPARE(h.scrollingRuns, review.isEmpty() ? 0 : 1);
        QCOMPARE(model.reviewSession() ? model.reviewSession()->statusText() : QString(), review);
        QCOMPARE(h.defaults->boolean(ScrollingCaptureFlow::introductionKey),
            !h.prompts.startsWith(introduction) || review.size());
        QCOMPARE(h.defaults->boolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey),
            conditions.contains("relaunch"));
        QCOMPARE(model.scrollingCaptureGeneration(), std::nullopt);
        if (!review.isEmpty()) {
            QVERIFY(model.settings().hasRunTestCapture);
            // The window under the outline has no name: the application in front names it.
            QCOMPARE(h.context().drafts().currentDraft()->applicationName, std::optional<QString>("Editor"));
        }
    }

    // The scrolling ends while sections are still being read: the review opens at once and says so,
    // then fills once they are read; a capture that stopped early still says why.
    void reviewOpensWhileReading_data()
    {
        for (const char *column : { "conditions", "stopped" })
            QTest::addColumn<QString>(column);
        row("to the end", "", stoodStill);
        row("at the time limit", "time limit",
            "The capture stopped at its 90-second limit; there may be more below. ");
    }
    void reviewOpensWhileReading()
    {
        QFETCH(QString, conditions);
        QFETCH(QString, stopped);
        ModelHarness h;
        AppModel &model = prepared(h, conditions.split(',', Qt::SkipEmptyParts));
        h.readText = nullptr;
        model.startScrollingCapture();
        QVERIFY(QTest::qWaitFor([&] { return !h.overlays.isEmpty(); }));
        QVERIFY(h.select(QRect(20, 20, 300, 200)));
        QVERIFY(QTest::qWaitFor([&] { return model.reviewSession() != nullptr; }, 30000));
        ModelHarness::settle();
        QVERIFY(!h.recognitions.isEmpty());
        QVERIFY(model.reviewSession()->isOCRRunning());
        QCOMPARE(model.reviewSession()->statusText(), stopped + "Recognizing the scrolling capture…");
        QCOMPARE(model.phase(), CapturePhase::ocrProcessing);

        const OCRResult read
            = OCRResult::fromObservations({ { "Scrolled words", QRectF(0, 0.5, 1, 0.2), 0.9 } }, { "en" });
        qsizetype answered = 0;
        QVERIFY(QTest::qWaitFor([&] {
            for (; answered < h.recognitions.size(); ++answered)
                h.recognitions[answered].resolve(read);
            return !model.reviewSession()->isOCRRunning();
        }));
        ModelHarness::settle();
        QCOMPARE(model.reviewSession()->reviewedText(), QStringLiteral("Scrolled words"));
        QCOMPARE(model.reviewSession()->statusText(), stopped + "Review the text, then save Markdown.");
        QCOMPARE(model.phase(), CapturePhase::review);
        QCOMPARE(h.context().drafts().currentDraft()->ocrLanguages, QStringList { "en" });
        // Kept in the stored draft too.
        const EncryptedDraftStore store(h.draftFolder(), DraftKeyStore::loadOrCreate(h.draftFolder()));
        const std::optional<CaptureDraft> stored = store.load();
        QVERIFY(stored);
        QCOMPARE(stored->reviewedText, QStringLiteral("Scrolled words"));
    }

    // Waiting for Control Scrolling while the grant watch runs, on a clock of the test's own.
    void permissionWait_data()
    {
        QTest::addColumn<int>("grantedAfter"); // polls; -1: never
        QTest::newRow("granted after three polls") << 3;
        QTest::newRow("never granted: the watch ends") << -1;
    }
    void permissionWait()
    {
        QFETCH(int, grantedAfter);
        ManualTaskClock clock;
        ModelHarness h;
        AppModel &model = prepared(h, { "cannot scroll", "requested before" }, &clock);
        model.startScrollingCapture();
        QVERIFY(QTest::qWaitFor(
            [&] { return model.permissions().isWatchingForScrollingGrant(); }, TestSupport::patienceMs));
        for (int poll = 0; poll < 500 && h.overlays.isEmpty() && model.phase() == CapturePhase::idle;
             ++poll) {
            h.scrollingGranted = grantedAfter >= 0 && poll >= grantedAfter;
            clock.advance(250ms);
            ModelHarness::settle();
        }
        if (grantedAfter >= 0) {
            QVERIFY(QTest::qWaitFor([&] { return !h.overlays.isEmpty(); }, TestSupport::patienceMs));
            QCOMPARE(h.reveals, 1);
            QCOMPARE(model.phase(), CapturePhase::selecting);
        } else {
            QTRY_COMPARE(model.statusMessage(),
                ScrollingCaptureErrors::description(ScrollingCaptureError::permissionRequired));
            QVERIFY(h.overlays.isEmpty());
        }
    }

    // A region capture started while a scrolling capture waits for Control Scrolling owns the
    // status line and the capture: the wait, which cancelling its capture does not reach, ends at
    // its next step without a word.
    void waitOvertakenByRegionCapture_data()
    {
        QTest::addColumn<int>("steps");
        QTest::newRow("a stale Control Scrolling wait keeps writing its status over a region selection") << 4;
    }
    void waitOvertakenByRegionCapture()
    {
        QFETCH(int, steps);
        ManualTaskClock clock;
        ModelHarness h;
        AppModel &model = prepared(h, { "cannot scroll", "requested before" }, &clock);
        model.startScrollingCapture();
        QTRY_VERIFY(model.permissions().isWatchingForScrollingGrant());
        QTRY_VERIFY(model.statusMessage().startsWith(QStringLiteral("Waiting for Control Scrolling")));
        model.startCapture();
        QTRY_VERIFY(!h.overlays.isEmpty() && h.overlays.last() && !h.overlays.last()->windows().isEmpty());
        for (int step = 0; step < steps; ++step) {
            clock.advance(250ms);
            ModelHarness::settle();
            QCOMPARE(model.statusMessage(), QStringLiteral("Select a region"));
        }
        QCOMPARE(model.phase(), CapturePhase::selecting);
        QVERIFY(!model.scrollingCaptureGeneration());
        QVERIFY(h.select(QRect(20, 20, 200, 100)));
        QTRY_VERIFY(model.reviewSession());
        QVERIFY(!model.reviewSession()->scrollingCapture);
    }

    // After a relaunch the capture starts again on activation only when it may.
    void resumeAfterRelaunch_data()
    {
        QTest::addColumn<QString>("conditions");
        QTest::addColumn<bool>("resumes");
        QTest::newRow("setup complete, Control Scrolling allowed") << "" << true;
        QTest::newRow("setup not complete") << "setup incomplete" << false;
        QTest::newRow("Control Scrolling not allowed") << "cannot scroll" << false;
    }
    void resumeAfterRelaunch()
    {
        QFETCH(QString, conditions);
        QFETCH(bool, resumes);
        ModelHarness h;
        AppModel &model = prepared(h, { conditions, "introduction", "no answer" });
        h.defaults->setBoolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey, true);
        model.applicationDidBecomeActive();
        ModelHarness::settle();
        QCOMPARE(model.scrollingCaptureGeneration().has_value(), resumes);
        QCOMPARE(h.defaults->boolean(PermissionController::resumeScrollingCaptureAfterRelaunchKey), !resumes);
    }

    // Retry OCR over the tiles ("WxH", a number: that tile is not stored, "corrupt": none opens): the
    // segments recognized (each tile under the bottom rows of the one above), the statuses.
    void retry_data()
    {
        for (const char *column : { "tiles", "broken", "segments", "status", "message" })
            QTest::addColumn<QString>(column);
        const QString read = QStringLiteral("Review the text, then save Markdown.");
        const QString done = QStringLiteral("Review scrolling capture");
        const QString failed = QStringLiteral("OCR did not finish. Retry OCR or type the text.");
        row("a third of the next tile", "100x300,100x300", "", "100x300,100x400", read, done);
        row("tall tiles: 160 rows", "100x600,100x600", "", "100x600,100x760", read, done);
        row("short previous tile: all of it", "100x30,100x300", "", "100x30,100x330", read, done);
        row("under 3 rows: no strip", "100x300,100x2", "", "100x300,100x2", read, done);
        row("widths differ: alone", "100x300,80x300", "", "100x300,80x300", read, done);
        row("no tiles", "", "", "", "No text was recognized. Type the captured text or retry OCR.", done);
        row("a tile missing", "100x300,100x300", "1", "100x300", failed, "OCR did not finish");
        row("a tile corrupt", "100x300", "corrupt", "", failed, "OCR did not finish");
        row("canceled while reading", "100x300,100x300", "", "1 held",
            "OCR canceled. Retry OCR or type the text.", "OCR canceled");
    }
    void retry()
    {
        QFETCH(QString, tiles);
        QFETCH(QString, broken);
        QFETCH(QString, segments);
        const bool cancel = QString(QTest::currentDataTag()).startsWith("canceled");
        ModelHarness h;
        QList<QImage> images;
        for (const QString &size : tiles.split(',', Qt::SkipEmptyParts))
            images << filled(QSize(size.section('x', 0, 0).toInt(), size.section('x', 1).toInt()));
        QStringList seen;
        // What the review says as each segment goes to the recognizer.
        QStringList progress;
        const QList<QStringList> languages { { "fr" }, { "en", "de" } };
        h.readText = [&](const QImage &image) {
            seen << QStringLiteral("%1x%2").arg(image.width()).arg(image.height());
            progress << h.model->reviewSession()->statusText();
            return OCRResult::fromObservations(
                { { "Words", QRectF(0, 0, 1, 0.1), 0.9 } }, languages.value(seen.size() - 1));
        };
        AppModel &model = reviewingTiles(h, images, broken.split(','));
        if (cancel)
            h.readText = nullptr;
        model.retryOCR();
        if (cancel && QTest::qWaitFor([&] { return !h.recognitions.isEmpty(); })) {
            model.cancelOCR();
            h.recognitions.last().resolve({});
            seen << QStringLiteral("%1 held").arg(h.recognitions.size());
        }
        QVERIFY(
            QTest::qWaitFor([&] { return !model.reviewSession()->isOCRRunning(); }, TestSupport::patienceMs));
        ModelHarness::settle();
        QCOMPARE(seen.join(','), segments);
        for (qsizetype read = 0; read < progress.size(); ++read)
            QCOMPARE(progress.at(read),
                read == 0 ? QStringLiteral("Recognizing the scrolling capture…")
                          : QStringLiteral("Recognized %1 of %2 sections…").arg(read).arg(images.size()));
        QTEST(model.reviewSession()->statusText(), "status");
        QTEST(model.statusMessage(), "message");
        const QStringList sorted = segments.contains(',') ? QStringList { "de", "en", "fr" } : QStringList();
        QCOMPARE(
            h.context().drafts().currentDraft()->ocrLanguages, broken.isEmpty() ? sorted : QStringList());
    }

    // A line cut by the seam between two tiles is read whole from the joined segment, and kept once.
    void lineCutBySeamReadOnce()
    {
        SyntheticColumn::Style style;
        style.lines = 12;
        const QImage column = SyntheticColumn::document(style);
        const int seam = 6 + 5 * style.lineHeight + style.lineHeight / 2; // through line 6
        ModelHarness h;
        h.readText = [](const QImage &image) { return OCRService::recognize(image); };
        AppModel &model = reviewingTiles(h,
            { column.copy(0, 0, column.width(), seam),
                column.copy(0, seam, column.width(), column.height() - seam) });
        model.retryOCR();
        QVERIFY(QTest::qWaitFor([&] { return model.phase() == CapturePhase::review; }, 60000));
        const QString text = model.reviewSession()->reviewedText();
        for (int line = 1; line <= style.lines; ++line)
            QVERIFY2(text.count(QStringLiteral("Line %1").arg(line, 4, 10, QLatin1Char('0'))) == 1,
                qPrintable(text));
    }

    // The bottom rows of the previous tile above the current one, pixel for pixel; tiles of another
    // width are not joined.
    void join_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("joined") << 40;
        QTest::newRow("another width") << 41;
    }
    void join()
    {
        QFETCH(int, width);
        QImage above = filled(QSize(width, 30));
        for (int y = 0; y < above.height(); ++y)
            above.setPixelColor(y, y, QColor(y, 0, 0));
        const QImage current = filled(QSize(40, 20), Qt::blue);
        const std::optional<QImage> joined = AppModel::joinForScrollingOCR(above, current, 10);
        QVERIFY(joined);
        QCOMPARE(joined->size(), QSize(40, width == 40 ? 30 : 20));
        QCOMPARE(
            joined->copy(0, 0, 40, 10), width == 40 ? above.copy(0, 20, 40, 10) : current.copy(0, 0, 40, 10));
        QCOMPARE(joined->copy(0, joined->height() - 20, 40, 20), current);
    }
};

QTEST_MAIN(TestScrollingCaptureFlow)
#include "tst_ScrollingCaptureFlow.moc"
