#include "Services/FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The open chooser, once it shows.
QFileDialog *openChooser()
{
    QFileDialog *dialog = nullptr;
    const bool shown = QTest::qWaitFor(
        [&] {
            const auto dialogs = QApplication::topLevelWidgets();
            for (QWidget *widget : dialogs) {
                if (auto *found = qobject_cast<QFileDialog *>(widget); found && found->isVisible())
                    dialog = found;
            }
            if (!dialog) {
                for (QWidget *widget : dialogs) {
                    for (auto *found : widget->findChildren<QFileDialog *>()) {
                        if (found->isVisible())
                            dialog = found;
                    }
                }
            }
            return dialog != nullptr;
        },
        TestSupport::patienceMs);
    return shown ? dialog : nullptr;
}

} // namespace

class TestFolderPicker : public QObject
{
    Q_OBJECT

private slots:
    void answersTheChosenFolderOrNone_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("parented");
        QTest::newRow("chosen, from a window") << "choose" << true;
        QTest::newRow("cancelled, from a window") << "cancel" << true;
        QTest::newRow("chosen, no window asked") << "choose" << false;
        QTest::newRow("the window that asked closes") << "close window" << true;
    }

    // The chooser opens over the window that asked and the caller's task waits for it while the
    // event loop goes on (no loop of its own); its answer is the folder, or none.
    void answersTheChosenFolderOrNone()
    {
        QFETCH(QString, ending);
        QFETCH(bool, parented);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("notes/with space"));
        const QString target = root.filePath("notes/with space");
        const QString prompt = "Use This Folder";
        const QString message = "Choose a folder for Markdown captures. Files stay on this computer.";
        auto window = std::make_unique<QWidget>();
        window->show();
        const Task<std::optional<QString>> choosing = FolderPicker::live().present(
            parented ? window.get() : nullptr, root.filePath("notes"), prompt, message);
        QFileDialog *dialog = openChooser();
        QVERIFY(dialog);
        QVERIFY(!choosing.isFinished());
        QCOMPARE(dialog->parentWidget(), parented ? window.get() : nullptr);
        QCOMPARE(dialog->windowTitle(), message);
        QCOMPARE(QDir(dialog->directory()).absolutePath(), root.filePath("notes"));
        const auto buttons = dialog->findChildren<QPushButton *>();
        auto use = std::find_if(buttons.begin(), buttons.end(), [&](auto *b) { return b->text() == prompt; });
        QVERIFY(use != buttons.end());
        if (ending == "close window") {
            window.reset();
        } else {
            // Typed, as a person would in the name field that has the focus.
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(QStringLiteral("with space"));
            ending == "choose" ? (*use)->click() : dialog->reject();
        }
        QVERIFY(QTest::qWaitFor([&] { return choosing.isFinished(); }, TestSupport::patienceMs));
        const std::optional<QString> chosen = choosing.result();
        QCOMPARE(chosen.has_value(), ending == "choose");
        if (chosen)
            QCOMPARE(QDir(*chosen).canonicalPath(), QDir(target).canonicalPath());
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
        const Task<std::optional<QString>> choosing
            = FolderPicker::live().present(nullptr, asked, "Use This Folder", "Choose a folder");
        QFileDialog *dialog = openChooser();
        QVERIFY(dialog);
        const QString opened = dialog->directory().absolutePath();
        dialog->reject();
        QVERIFY(QTest::qWaitFor([&] { return choosing.isFinished(); }, TestSupport::patienceMs));
        qputenv("HOME", home);
        QCOMPARE(chosen, root.filePath(start));
        QCOMPARE(opened, root.filePath(start));
    }
};

QTEST_MAIN(TestFolderPicker)
#include "tst_FolderPicker.moc"
