#include "Services/FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestFolderPicker : public QObject
{
    Q_OBJECT

private slots:
    void answersTheChosenFolderOrNone()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("notes/with space"));
        const QString target = root.filePath("notes/with space");
        const QString prompt = "Use This Folder";
        const QString message = "Choose a folder for Markdown captures. Files stay on this computer.";
        // Answered as a user would once the modal dialog is up (first chosen, then cancelled);
        // checked after it has closed.
        QStringList seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            const auto buttons = dialog->findChildren<QPushButton *>();
            auto use
                = std::find_if(buttons.begin(), buttons.end(), [&](auto *b) { return b->text() == prompt; });
            seen << dialog->windowTitle() << QDir(dialog->directory()).absolutePath()
                 << QString::number(use != buttons.end());
            dialog->selectFile(target);
            seen.size() == 3 && use != buttons.end() ? (*use)->click() : dialog->reject();
        });
        poll.start(10);
        const std::optional<QString> chosen
            = FolderPicker::live().present(root.filePath("notes"), prompt, message);
        QVERIFY(chosen);
        QCOMPARE(QDir(*chosen).canonicalPath(), QDir(target).canonicalPath());
        QCOMPARE(FolderPicker::live().present(root.filePath("notes"), prompt, message), std::nullopt);
        QCOMPARE(seen,
            QStringList({ message, root.filePath("notes"), "1", message, root.filePath("notes"), "1" }));
    }
};

QTEST_MAIN(TestFolderPicker)
#include "tst_FolderPicker.moc"
