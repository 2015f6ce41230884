#include "FindByText.h"
#include "ModelHarness.h"
#include "TestSupport.h"

#include "Vemi/VemiButton.h"
#include "Windows/ReceiptView.h"

#include <QFile>
#include <QMessageBox>
#include <QSignalSpy>
#include <QVBoxLayout>

namespace {

enum class Leave { captureAnother, returnKey, escape };

// A saved note on disk and its receipt.
SavedReceipt savedNote(ModelHarness &h, SavedReceipt::Kind kind = SavedReceipt::Kind::region)
{
    const QString path
        = h.dir.filePath(QStringLiteral("notes/%1.md").arg(QUuid::createUuid().toString(QUuid::Id128)));
    SavedReceipt receipt;
    receipt.id = QUuid::createUuid();
    receipt.kind = kind;
    receipt.packedMarkdown = SavedReceipt::pack(QStringLiteral("# Saved\n"));
    receipt.url = QUrl::fromLocalFile(path);
    if (!TestSupport::writeFile(path, receipt.markdown().toUtf8()))
        qFatal("cannot write %s", qPrintable(path));
    return receipt;
}

} // namespace

class TestReceiptView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { VemiMotion::setSystemReduceMotion(false); }

    void content_data()
    {
        QTest::addColumn<bool>("heardOthers");
        QTest::addColumn<QString>("issue");
        QTest::addColumn<QString>("others");
        QTest::addColumn<QString>("you");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("preview");
        QTest::addColumn<bool>("divider");
        // clang-format off
        QTest::newRow("no system audio") << false << "" << "" << "hello" << "Audio session saved" << true << false;
        QTest::newRow("whitespace issue") << true << " \n\t" << "a" << "b" << "Audio session saved" << true << true;
        QTest::newRow("issue") << true << "  Model missing\n" << "\n" << " " << "Audio saved with a transcription note"
                               << false << false;
        QTest::newRow("only Others") << true << "" << " words " << "\n" << "Audio session saved" << true << false;
        // clang-format on
    }

    // What an audio receipt shows follows its trimmed texts.
    void content()
    {
        QFETCH(bool, heardOthers);
        QFETCH(QString, issue);
        QFETCH(QString, others);
        QFETCH(QString, you);
        ModelHarness h;
        AppModel &model = h.make();
        SavedReceipt receipt = savedNote(h, SavedReceipt::Kind::audio);
        receipt.heardOthers = heardOthers;
        receipt.transcriptionIssue = issue;
        receipt.othersTranscript = others;
        receipt.youTranscript = you;
        h.context().setReceipt(receipt);
        ReceiptView view(model);
        view.show();

        QTEST(view.findChild<QLabel *>()->text(), "title");
        QCOMPARE(showsText(&view, QStringLiteral("No system audio was heard")), !heardOthers);
        QCOMPARE(
            showsText(&view, QStringLiteral("Transcription needs attention")), !issue.trimmed().isEmpty());
        QTEST(
            showsText(&view, QStringLiteral("Others")) || showsText(&view, QStringLiteral("You")), "preview");
        const QList<QWidget *> previewParts
            = findByText<QLabel>(&view, QStringLiteral("Others"))->parentWidget()->findChildren<QWidget *>();
        QTEST(std::any_of(previewParts.begin(), previewParts.end(),
                  [&](QWidget *part) { return part->maximumHeight() == 1 && part->isVisibleTo(&view); }),
            "divider");
        for (const QString &text : { issue, others, you }) {
            if (!text.trimmed().isEmpty())
                QVERIFY2(showsText(&view, text.trimmed()), qPrintable(text));
        }
        QVERIFY(!showsText(&view, QStringLiteral("The screenshot was not kept")));
    }

    // A transcript preview shows its lines whole, up to six and then cut with "…", as a window of its
    // own and inside the window that holds it: the window grows to the lines the text needs once it
    // has wrapped, instead of keeping the height the text had before it knew its width.
    void previewIsNeverClipped_data()
    {
        QTest::addColumn<QString>("others");
        QTest::addColumn<bool>("cut");
        QTest::addColumn<bool>("framed");
        const QString threeLines = QStringLiteral(
            "Thanks everyone for joining. Today we will go through the launch checklist, the open questions "
            "from the beta, and who owns the release notes.\nFirst, the installer.");
        const QString tooLong
            = QStringList(12, QStringLiteral("We went through the checklist line by line.")).join(u'\n');
        for (const bool framed : { false, true }) {
            const char *how = framed ? ", in its window" : ", on its own";
            QTest::newRow(qPrintable(QStringLiteral("one line") + how))
                << QStringLiteral("Short.") << false << framed;
            QTest::newRow(qPrintable(QStringLiteral("a wrapped paragraph and a line") + how))
                << threeLines << false << framed;
            QTest::newRow(qPrintable(QStringLiteral("more than six lines") + how))
                << tooLong << true << framed;
        }
    }
    void previewIsNeverClipped()
    {
        QFETCH(QString, others);
        QFETCH(bool, cut);
        QFETCH(bool, framed);
        ModelHarness h;
        AppModel &model = h.make();
        SavedReceipt receipt = savedNote(h, SavedReceipt::Kind::audio);
        receipt.heardOthers = true;
        receipt.othersTranscript = others;
        receipt.youTranscript = QStringLiteral("I can take the release notes.");
        h.context().setReceipt(receipt);
        QWidget frame;
        auto *view = new ReceiptView(model);
        std::unique_ptr<ReceiptView> alone(framed ? nullptr : view);
        if (framed) {
            // As the program opens it: a window that takes exactly its content's size.
            auto *layout = new QVBoxLayout(&frame);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->addWidget(view);
            layout->setSizeConstraint(QLayout::SetFixedSize);
            frame.show();
        } else {
            view->show();
        }
        QVERIFY(QTest::qWaitForWindowExposed(view->window()));
        QLabel *preview = nullptr;
        for (QLabel *label : view->findChildren<QLabel *>()) {
            if (label->property("fullText").toString() == others)
                preview = label;
        }
        QVERIFY(preview);
        QTRY_VERIFY(preview->height() >= preview->heightForWidth(preview->width()));
        QVERIFY(view->window()->rect().contains(
            QRect(preview->mapTo(view->window(), QPoint()), preview->size())));
        QCOMPARE(preview->text().endsWith(u'…'), cut);
        if (!cut)
            QCOMPARE(preview->text(), others);
        const int lines = preview->heightForWidth(preview->width()) / preview->fontMetrics().lineSpacing();
        QVERIFY2(lines <= 6, qPrintable(QString::number(lines)));
    }

    void settle_data()
    {
        QTest::addColumn<bool>("sameTurn");
        QTest::addColumn<int>("settles");
        QTest::newRow("two receipts in one turn") << true << 1;
        QTest::newRow("a receipt after the first settled") << false << 2;
    }

    // Each new receipt hides the badge and the character at once; of two settles requested before
    // either ran only the latest finishes.
    void settle()
    {
        QFETCH(bool, sameTurn);
        ModelHarness h;
        AppModel &model = h.make();
        h.context().setReceipt(savedNote(h));
        ReceiptView view(model);
        view.show();
        QTRY_VERIFY(view.hasSettled());
        QSignalSpy settled(&view, &ReceiptView::settled);
        for (int receipt = 0; receipt < 2; ++receipt) {
            h.context().setReceipt(savedNote(h));
            QVERIFY(!view.hasSettled());
            if (!sameTurn)
                QVERIFY(settled.wait());
        }
        QVERIFY(TestSupport::runPostedHops());
        QTEST(int(settled.size()), "settles");
        QVERIFY(view.hasSettled());
    }

    void trash_data()
    {
        QTest::addColumn<bool>("moves");
        QTest::addColumn<bool>("confirmed"); // false: Return pressed in the confirmation
        QTest::newRow("moved") << true << true;
        QTest::newRow("refused") << false << true;
        QTest::newRow("Return in the confirmation keeps the file") << true << false;
    }

    // "Move to Trash…" waits while a move runs; the window closes once the model lets go of the moved
    // file's receipt and stays, with the receipt, when the move fails.
    void trash()
    {
        QFETCH(bool, moves);
        QFETCH(bool, confirmed);
        ModelHarness h;
        AppModel &model = h.make();
        const SavedReceipt receipt = savedNote(h);
        if (!moves)
            h.stuckInTrash << receipt.url.fileName();
        h.context().setReceipt(receipt);
        ReceiptView view(model);
        view.show();
        VemiButton *trash = findByText<VemiButton>(&view, QStringLiteral("Move to Trash…"));
        trash->click();
        QTRY_VERIFY(view.trashAlert() && view.trashAlert()->isVisible());
        QList<bool> enabledWhileMoving;
        connect(&model, &AppModel::isMovingReceiptToTrashChanged, &view, [&] {
            if (model.isMovingReceiptToTrash())
                enabledWhileMoving << trash->isEnabled();
        });
        if (!confirmed) {
            QTest::keyClick(view.trashAlert(), Qt::Key_Return);
            QTRY_VERIFY(!view.trashAlert());
            QVERIFY(QFile::exists(receipt.url.toLocalFile()));
            QCOMPARE(h.trashCalls.load(), 0);
            QVERIFY(model.receipt() && view.isVisible() && trash->isEnabled());
            return;
        }
        for (QAbstractButton *answer : view.trashAlert()->buttons()) {
            if (answer->text() == QStringLiteral("Move to Trash"))
                answer->click();
        }
        QTRY_VERIFY(!enabledWhileMoving.isEmpty() && !model.isMovingReceiptToTrash());
        QCOMPARE(enabledWhileMoving, QList<bool> { false });
        QCOMPARE(QFile::exists(receipt.url.toLocalFile()), !moves);
        QCOMPARE(model.receipt().has_value(), !moves);
        QCOMPARE(view.isVisible(), !moves);
        QCOMPARE(trash->isEnabled(), !moves);
    }

    void leave_data()
    {
        QTest::addColumn<Leave>("leave");
        QTest::addColumn<SavedReceipt::Kind>("kind");
        QTest::addColumn<bool>("closedFirst");
        QTest::newRow("Capture Another") << Leave::captureAnother << SavedReceipt::Kind::region << true;
        QTest::newRow("Record Another") << Leave::captureAnother << SavedReceipt::Kind::audio << true;
        QTest::newRow("Return") << Leave::returnKey << SavedReceipt::Kind::region << true;
        QTest::newRow("Escape") << Leave::escape << SavedReceipt::Kind::audio << false;
    }

    // The next capture starts once the window is gone; Escape clears the receipt, then closes.
    void leave()
    {
        QFETCH(Leave, leave);
        QFETCH(SavedReceipt::Kind, kind);
        QFETCH(bool, closedFirst);
        ModelHarness h;
        AppModel &model = h.make();
        h.context().setReceipt(savedNote(h, kind));
        // Ahead of the view's own handler, which closes the window when the receipt goes.
        std::optional<bool> shownWhenCleared;
        std::unique_ptr<ReceiptView> view;
        connect(&model, &AppModel::receiptChanged, &model, [&] {
            if (!model.receipt())
                shownWhenCleared = view->isVisible();
        });
        view = std::make_unique<ReceiptView>(model);
        view->show();
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        if (leave == Leave::captureAnother)
            findByText<VemiButton>(view.get(),
                kind == SavedReceipt::Kind::audio ? QStringLiteral("Record Another")
                                                  : QStringLiteral("Capture Another"))
                ->click();
        else
            QTest::keyClick(view.get(), leave == Leave::escape ? Qt::Key_Escape : Qt::Key_Return);
        QTRY_VERIFY(shownWhenCleared.has_value());
        QCOMPARE(*shownWhenCleared, !closedFirst);
        QVERIFY(!view->isVisible());
    }

    void copy_data()
    {
        QTest::addColumn<bool>("hasReceipt");
        QTest::addColumn<bool>("pasteboardWorks");
        QTest::newRow("copied") << true << true;
        QTest::newRow("clipboard refuses") << true << false;
        QTest::newRow("no receipt") << false << true;
    }

    // "Copied" shows only for Markdown that reached the clipboard.
    void copy()
    {
        QFETCH(bool, hasReceipt);
        QFETCH(bool, pasteboardWorks);
        ModelHarness h;
        h.pasteboardWorks = pasteboardWorks;
        AppModel &model = h.make();
        const SavedReceipt receipt = savedNote(h);
        if (hasReceipt)
            h.context().setReceipt(receipt);
        ReceiptView view(model);
        view.show();
        auto *copy = view.findChild<VemiCopyButton *>();
        copy->click();
        const bool copied = hasReceipt && pasteboardWorks;
        QCOMPARE(copy->isConfirmed(), copied);
        QCOMPARE(h.clipboard, copied ? QStringList { receipt.markdown() } : QStringList {});
        if (hasReceipt && !pasteboardWorks)
            QCOMPARE(model.statusMessage(), QStringLiteral("The clipboard could not be updated"));
    }
};

QTEST_MAIN(TestReceiptView)
#include "tst_ReceiptView.moc"
