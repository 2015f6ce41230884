#include "Services/FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFile>
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

    // The chooser opens where the user would look: the folder asked for, the nearest folder above it
    // that is still there, else the home folder; never the directory the program was started in.
    void startsWhereTheUserWouldLook_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QString>("start");
        QTest::newRow("nothing asked") << "-"
                                       << "home";
        QTest::newRow("the capture folder") << "notes"
                                            << "notes";
        QTest::newRow("a folder since removed") << "notes/2025/gone"
                                                << "notes";
        QTest::newRow("a file in it") << "notes/today.md"
                                      << "notes";
        QTest::newRow("a relative path") << "relative/notes"
                                         << "home";
        QTest::newRow("nothing of it left") << "/nonexistent-root-folder/notes"
                                            << "home";
    }
    void startsWhereTheUserWouldLook()
    {
        QFETCH(QString, wanted);
        QFETCH(QString, start);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("home") && QDir(root.path()).mkpath("notes"));
        QFile file(root.filePath("notes/today.md"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", root.filePath("home").toLocal8Bit());
        std::optional<QString> asked;
        if (wanted != "-")
            asked = wanted.startsWith('/') || wanted.startsWith("relative") ? wanted : root.filePath(wanted);
        const QString chosen = FolderPicker::startingFolder(asked);
        // And the live chooser opens there.
        QString opened;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog *>(QApplication::activeModalWidget()));
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            opened = dialog->directory().absolutePath();
            dialog->reject();
        });
        FolderPicker::live().present(asked, "Use This Folder", "Choose a folder");
        qputenv("HOME", home);
        QCOMPARE(chosen, root.filePath(start));
        QCOMPARE(opened, root.filePath(start));
    }
};

QTEST_MAIN(TestFolderPicker)
#include "tst_FolderPicker.moc"
