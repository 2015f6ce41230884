#include "FindByText.h"
#include "ModelHarness.h"

#include "TestSupport.h"
#include "Vemi/VemiButton.h"
#include "Windows/RecoveryView.h"

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QVBoxLayout>

namespace {

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
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("deletable");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("draftKept");
        QTest::addColumn<int>("reviews");
        QTest::newRow("Not Now keeps the draft") << "Not Now" << true << true << true << true << 0;
        QTest::newRow("Resume Review") << "Resume Review" << true << true << true << true << 1;
        QTest::newRow("Return resumes") << "Return" << true << true << true << true << 1;
        QTest::newRow("Return without a draft") << "Return" << false << true << false << false << 0;
        QTest::newRow("deleted") << "Delete Draft" << true << true << true << false << 0;
        QTest::newRow("deletion fails") << "Delete Draft" << true << false << false << true << 0;
        QTest::newRow("deletion canceled") << "Cancel" << true << true << false << true << 0;
        QTest::newRow("Return in the confirmation keeps the draft")
            << "confirmation Return" << true << true << false << true << 0;
        QTest::newRow("draft gone elsewhere") << "elsewhere" << true << true << true << false << 0;
    }

    void actions()
    {
        QFETCH(QString, action);
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

        if (action == QStringLiteral("Return")) {
            QTest::keyClick(view, Qt::Key_Return);
        } else if (action == QStringLiteral("elsewhere")) {
            QVERIFY(ModelHarness::finish(model.deletePendingDraft()));
        } else if (VemiButton *button = findByText<VemiButton>(view, action)) {
            button->click();
        } else {
            // An answer to the confirmation that "Delete Draft…" raises.
            findByText<VemiButton>(view, QStringLiteral("Delete Draft…"))->click();
            QTRY_VERIFY(view->deleteAlert() && view->deleteAlert()->isVisible());
            QSignalSpy status(&model, &AppModel::statusMessageChanged);
            if (action == QStringLiteral("confirmation Return")) {
                // As a person presses it: in the confirmation, which has the keyboard.
                view->deleteAlert()->activateWindow();
                QTRY_COMPARE(QApplication::activeWindow(), view->deleteAlert());
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
                QTRY_VERIFY(!view->deleteAlert() || !view->deleteAlert()->isVisible());
            } else {
                findByText<QAbstractButton>(view->deleteAlert(), action)->click();
            }
            if (action == QStringLiteral("Delete Draft"))
                QVERIFY(status.wait());
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
            QCOMPARE(view->findChild<VemiStatusLabel *>()->text(),
                QStringLiteral("The encrypted draft could not be deleted. Try again."));
            QVERIFY(findByText<VemiButton>(view, QStringLiteral("Delete Draft…"))->isEnabled());
        }
    }
};

QTEST_MAIN(TestRecoveryView)
#include "tst_RecoveryView.moc"
