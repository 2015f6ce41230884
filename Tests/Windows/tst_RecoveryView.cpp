#include "FindByText.h"
#include "ModelHarness.h"

#include "TestSupport.h"
#include "Vemi/VemiButton.h"
#include "Windows/RecoveryView.h"

#include <QMessageBox>
#include <QSignalSpy>
#include <QVBoxLayout>

namespace {

enum class Step { notNow, resume, returnKey, deleteDraft, cancelDelete, deletedElsewhere };

// A window titled as the shell titles the recovery window.
std::unique_ptr<QWidget> recoveryWindow(QWidget *content = nullptr)
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(RecoveryView::windowTitle);
    if (content)
        (new QVBoxLayout(window.get()))->addWidget(content);
    window->show();
    return window;
}

} // namespace

class TestRecoveryView : public QObject
{
    Q_OBJECT

private slots:
    void actions_data()
    {
        QTest::addColumn<Step>("step");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("deletable");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("draftKept");
        QTest::addColumn<int>("reviews");
        QTest::newRow("Not Now keeps the draft") << Step::notNow << true << true << true << true << 0;
        QTest::newRow("Resume Review") << Step::resume << true << true << true << true << 1;
        QTest::newRow("Return resumes") << Step::returnKey << true << true << true << true << 1;
        QTest::newRow("Return without a draft") << Step::returnKey << false << true << false << false << 0;
        QTest::newRow("deleted") << Step::deleteDraft << true << true << true << false << 0;
        QTest::newRow("deletion fails") << Step::deleteDraft << true << false << false << true << 0;
        QTest::newRow("deletion canceled") << Step::cancelDelete << true << true << false << true << 0;
        QTest::newRow("draft gone elsewhere") << Step::deletedElsewhere << true << true << true << false << 0;
    }

    void actions()
    {
        QFETCH(Step, step);
        QFETCH(bool, pending);
        QFETCH(bool, deletable);
        QFETCH(bool, closes);
        QFETCH(bool, draftKept);
        QFETCH(int, reviews);
        ModelHarness h;
        AppSettings settings;
        settings.setupComplete = true;
        h.setSettings(settings);
        if (pending)
            h.storeDraft();
        AppModel &model = h.make();
        QVERIFY(ModelHarness::finish(model.startDraftStoreIfNeeded()));
        QCOMPARE(model.hasRecoverableDraft(), pending);
        if (!deletable)
            h.breakDraftFile();

        // A second recovery window goes with the first; other windows stay.
        std::unique_ptr<QWidget> twin = recoveryWindow();
        QWidget other;
        other.setWindowTitle(QStringLiteral("Saved Capture"));
        other.show();
        auto *view = new RecoveryView(model);
        std::unique_ptr<QWidget> window = recoveryWindow(view);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(findByText<VemiButton>(view, QStringLiteral("Resume Review"))->isEnabled(), pending);

        switch (step) {
        case Step::notNow:
            findByText<VemiButton>(view, QStringLiteral("Not Now"))->click();
            break;
        case Step::resume:
            findByText<VemiButton>(view, QStringLiteral("Resume Review"))->click();
            break;
        case Step::returnKey:
            QTest::keyClick(view, Qt::Key_Return);
            break;
        case Step::deleteDraft:
        case Step::cancelDelete: {
            findByText<VemiButton>(view, QStringLiteral("Delete Draft…"))->click();
            QTRY_VERIFY(view->deleteAlert() && view->deleteAlert()->isVisible());
            QSignalSpy status(&model, &AppModel::statusMessageChanged);
            const QString choice
                = step == Step::deleteDraft ? QStringLiteral("Delete Draft") : QStringLiteral("Cancel");
            for (QAbstractButton *answer : view->deleteAlert()->buttons()) {
                if (answer->text() == choice)
                    answer->click();
            }
            if (step == Step::deleteDraft)
                QVERIFY(status.wait());
            break;
        }
        case Step::deletedElsewhere:
            QVERIFY(ModelHarness::finish(model.deletePendingDraft()));
            break;
        }

        QTRY_COMPARE(h.presents, reviews);
        if (closes) {
            QTRY_VERIFY(!window->isVisible());
            QVERIFY(!twin->isVisible());
        } else {
            QVERIFY(TestSupport::runPostedHops());
            QVERIFY(window->isVisible());
        }
        QVERIFY(other.isVisible());
        QCOMPARE(model.hasRecoverableDraft(), draftKept);
        if (!deletable) {
            const QString failure = QStringLiteral("The encrypted draft could not be deleted. Try again.");
            QCOMPARE(view->findChild<VemiStatusLabel *>()->text(), failure);
            QVERIFY(findByText<VemiButton>(view, QStringLiteral("Delete Draft…"))->isEnabled());
        }
    }
};

QTEST_MAIN(TestRecoveryView)
#include "tst_RecoveryView.moc"
