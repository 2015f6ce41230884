#include "ModelHarness.h"

#include "Model/AudioReviewSession.h"
#include "TestSupport.h"
#include "Vemi/VemiButton.h"
#include "Windows/AudioReviewView.h"
#include "Windows/FramedTextEditor.h"
#include "Windows/TextLabel.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

// The real model with an audio review of two recorded files in `folder`, shown in the view.
struct AudioReview
{
    ModelHarness h;
    QTemporaryDir folder;
    std::unique_ptr<AudioReviewView> view;

    bool open(const AudioTranscripts &transcripts, bool heardOthers = true, bool heardYou = true)
    {
        AppModel &model = h.make();
        AudioSessionResult result = ModelHarness::recording(folder.path());
        result.heardOthers = heardOthers;
        result.heardYou = heardYou;
        for (const auto &url : { result.othersURL, result.youURL })
            TestSupport::writeFile(url->toLocalFile(), "audio");
        if (!ModelHarness::finish(model.presentAudioReview(result, *result.folder, transcripts, false)))
            return false;
        view = std::make_unique<AudioReviewView>(&model, model.audioReview());
        view->show();
        return QTest::qWaitForWindowExposed(view.get());
    }
    AudioReviewSession &session() { return *h.model->audioReview(); }
    QStringList notes() const { return QDir(folder.path()).entryList({ QStringLiteral("*.md") }); }
    QStringList recordings() const { return QDir(folder.path()).entryList({ QStringLiteral("*.m4a") }); }
};

} // namespace

class TestAudioReviewView : public QObject
{
    Q_OBJECT

private slots:
    void emptyStates_data()
    {
        QTest::addColumn<bool>("heardOthers");
        QTest::addColumn<bool>("othersUnavailable");
        QTest::addColumn<QString>("issue");
        QTest::addColumn<QString>("othersEmpty");
        QTest::addColumn<QString>("noteTitle");
        QTest::newRow("nothing heard") << false << false << ""
                                       << "No system audio was heard."
                                       << "Recording note";
        QTest::newRow("not transcribed") << true << true << "Speech model missing."
                                         << "Transcription was not available. See the note above."
                                         << "Transcription note";
        QTest::newRow("silence") << true << false << "  \n "
                                 << "No speech recognized."
                                 << "";
    }

    // An empty transcript says why; the note panel shows only with a note, titled by its cause.
    void emptyStates()
    {
        QFETCH(bool, heardOthers);
        QFETCH(bool, othersUnavailable);
        QFETCH(QString, issue);
        QFETCH(QString, noteTitle);
        AudioReview r;
        AudioTranscripts transcripts;
        transcripts.you = QStringLiteral("hello there");
        transcripts.note = issue;
        transcripts.othersUnavailable = othersUnavailable;
        QVERIFY(r.open(transcripts, heardOthers, false));
        AudioReviewView &view = *r.view;
        QVERIFY(view.othersEmptyLabel()->isVisible());
        QTEST(view.othersEmptyLabel()->text(), "othersEmpty");
        QCOMPARE(view.othersEmptyLabel()->color(), heardOthers ? VemiColor::teal : VemiColor::coral);
        QVERIFY(!view.youEmptyLabel()->isVisible());
        QCOMPARE(view.notePanel()->isVisible(), !noteTitle.isEmpty());
        if (!noteTitle.isEmpty())
            QCOMPARE(view.noteTitle()->text(), noteTitle);
        QCOMPARE(view.youEditor()->editor()->objectName(), QStringLiteral("audio-review.you-transcript"));

        // Emptying the You transcript shows why it is empty: the microphone was not recorded.
        view.youEditor()->editor()->selectAll();
        QTest::keyClick(view.youEditor()->editor(), Qt::Key_Delete);
        QCOMPARE(r.session().youText(), QString());
        QVERIFY(view.youEmptyLabel()->isVisible());
        QCOMPARE(view.youEmptyLabel()->text(), QStringLiteral("Microphone was not recorded."));
    }

    // A refresh that carries the text the editor holds leaves the caret where the user put it.
    void caretSurvivesRefresh()
    {
        AudioReview r;
        AudioTranscripts transcripts;
        transcripts.others = QStringLiteral("first line\nsecond line");
        QVERIFY(r.open(transcripts));
        QPlainTextEdit *editor = r.view->othersEditor()->editor();
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(5);
        editor->setTextCursor(cursor);
        QTest::keyClicks(editor, QStringLiteral("!"));
        QCOMPARE(r.session().othersText(), QStringLiteral("first! line\nsecond line"));
        r.session().setTitle(QStringLiteral("Renamed"));
        QCOMPARE(editor->textCursor().position(), 6);
        QCOMPARE(r.view->titleField()->text(), QStringLiteral("Renamed"));
    }

    void save_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<int>("presses");
        QTest::newRow("saved once for two presses") << true << 2;
        QTest::newRow("folder gone") << false << 1;
    }

    // Save closes the window only after the file was written; a failed save keeps the window, the
    // edits and both buttons, and says so.
    void save()
    {
        QFETCH(bool, writable);
        QFETCH(int, presses);
        AudioReview r;
        AudioTranscripts transcripts;
        transcripts.others = QStringLiteral("hello");
        QVERIFY(r.open(transcripts));
        QTest::keyClicks(r.view->titleField(), QStringLiteral(" kept"));
        if (!writable)
            QVERIFY(QDir(r.folder.path()).removeRecursively());
        for (int press = 0; press < presses; ++press)
            QTest::mouseClick(r.view->saveButton(), Qt::LeftButton);
        QVERIFY(!r.view->saveButton()->isEnabled());
        if (writable) {
            QTRY_VERIFY(!r.view->isVisible());
            QCOMPARE(r.notes().size(), 1);
            return;
        }
        QTRY_VERIFY(r.view->saveButton()->isEnabled());
        QVERIFY(r.view->isVisible());
        QVERIFY(r.view->discardButton()->isEnabled());
        QCOMPARE(r.view->titleField()->text(), QStringLiteral("hello kept"));
        QCOMPARE(r.view->statusLabel()->text(),
            QStringLiteral("The Markdown file could not be saved: the folder is gone. Try Save again."));
    }

    void discard_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("confirmed") << true;
        QTest::newRow("cancelled") << false;
    }

    // Discard deletes both recordings, so it asks first.
    void discard()
    {
        QFETCH(bool, confirm);
        AudioReview r;
        QVERIFY(r.open({}));
        QCOMPARE(r.recordings().size(), 2);
        r.view->discardButton()->click();
        QTRY_VERIFY(r.view->discardConfirmation() && r.view->discardConfirmation()->isVisible());
        QCOMPARE(r.recordings().size(), 2);
        for (QAbstractButton *button : r.view->discardConfirmation()->buttons()) {
            if (button->text() == (confirm ? QStringLiteral("Discard") : QStringLiteral("Cancel")))
                button->click();
        }
        QTRY_COMPARE(r.view->isVisible(), !confirm);
        // The files go on a worker.
        QTRY_COMPARE(r.recordings().size(), confirm ? 0 : 2);
        QCOMPARE(r.h.model->audioReview() == nullptr, confirm);
    }
};

QTEST_MAIN(TestAudioReviewView)
#include "tst_AudioReviewView.moc"
