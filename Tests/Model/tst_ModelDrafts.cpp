#include "ModelHarness.h"

#include "Model/ReviewSession.h"

#include <QDir>
#include <QTest>

namespace {

const QString draftNotSaved
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

} // namespace

class TestModelDrafts : public QObject
{
    Q_OBJECT

private slots:
    void parkReview_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("draft written") << true;
        QTest::newRow("draft cannot be written") << false;
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
        if (!writable)
            h.breakDraftFile();

        const Task<bool> veto = h.closeVeto();
        QVERIFY(ModelHarness::finish(veto));
        QCOMPARE(veto.result(), writable);
        if (writable) {
            QVERIFY(!model.reviewSession());
            QCOMPARE(model.pendingDraft()->title, QStringLiteral("Edited"));
            QCOMPARE(model.pendingDraft()->applicationName, std::nullopt);
            QCOMPARE(model.phase(), CapturePhase::idle);
            QCOMPARE(model.statusMessage(), QStringLiteral("Draft saved for later"));
        } else {
            QCOMPARE(model.reviewSession(), session);
            QCOMPARE(session->statusText(), draftNotSaved);
            QCOMPARE(model.statusMessage(), draftNotSaved);
            QCOMPARE(model.phase(), CapturePhase::review);
        }
        QCOMPARE(h.orderOuts, 0);
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
        QTest::newRow("audio folder gone")
            << "audio review, folder gone" << false << "Audio recording could not be saved" << -1;
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
};

QTEST_MAIN(TestModelDrafts)
#include "tst_ModelDrafts.moc"
