#include "Services/FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// Answers the modal dialog once it is up, as a user would.
void whenDialogShows(std::function<void(QFileDialog *)> answer, int attempts = 200)
{
    QTimer::singleShot(10, [answer, attempts] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
            answer(dialog);
        else if (attempts > 0)
            whenDialogShows(answer, attempts - 1);
    });
}

} // namespace

class TestFolderPicker : public QObject
{
    Q_OBJECT

private slots:
    void answersTheChosenFolderOrNone_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("withStart");
        QTest::newRow("chosen") << true << true;
        QTest::newRow("chosen without a start folder") << true << false;
        QTest::newRow("cancelled") << false << true;
    }

    void answersTheChosenFolderOrNone()
    {
        QFETCH(bool, accept);
        QFETCH(bool, withStart);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("notes/with space"));
        const QString start = root.filePath("notes");
        const QString target = root.filePath("notes/with space");
        const QString prompt = "Use This Folder";
        const QString message = "Choose a folder for Markdown captures. Files stay on this computer.";

        QString seenTitle, seenStart;
        bool promptOnButton = false;
        whenDialogShows([&](QFileDialog *dialog) {
            seenTitle = dialog->windowTitle();
            seenStart = QDir(dialog->directory()).absolutePath();
            QPushButton *acceptButton = nullptr;
            for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
                if (button->text() == prompt)
                    acceptButton = button;
            }
            promptOnButton = acceptButton != nullptr;
            if (accept && acceptButton) {
                dialog->selectFile(target);
                acceptButton->click();
            } else {
                dialog->reject();
            }
        });

        const std::optional<QString> chosen = FolderPicker::live().present(
            withStart ? std::optional<QString>(start) : std::nullopt, prompt, message);
        QCOMPARE(seenTitle, message);
        QVERIFY(promptOnButton);
        if (withStart)
            QCOMPARE(seenStart, start);
        if (accept) {
            QVERIFY(chosen);
            QCOMPARE(QDir(*chosen).canonicalPath(), QDir(target).canonicalPath());
        } else {
            QVERIFY(!chosen);
        }
    }
};

QTEST_MAIN(TestFolderPicker)
#include "tst_FolderPicker.moc"
