#include "Audio/ApplicationPicker.h"
#include "Audio/ApplicationPickerDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The Others picker over desktop entries of its own: the installed applications by name and icon,
// searched by typing, and Browse… for a .desktop file or a program that is not listed.
class TestApplicationPicker : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

    QString entry(const QString &id, const QString &lines)
    {
        const QString path = m_root.filePath("share/applications/" + id + ".desktop");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(("[Desktop Entry]\nType=Application\n" + lines).toUtf8());
        return path;
    }

    QString program(const QString &name)
    {
        const QString path = m_root.filePath("bin/" + name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\nexit 0\n");
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }

    template <typename T> static Task<T> awaited(TaskFuture<T> answer) { co_return co_await answer; }
    template <typename T> static Task<T> ready(T value) { co_return value; }

    static QStringList shownNames(const ApplicationPickerDialog &dialog)
    {
        QStringList names;
        for (int row = 0; row < dialog.list()->count(); ++row) {
            if (!dialog.list()->item(row)->isHidden())
                names << dialog.list()->item(row)->text();
        }
        return names;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_root.path()).mkpath("share/applications/kde4") && QDir(m_root.path()).mkpath("bin")
            && QDir(m_root.path()).mkpath("home"));
        qputenv("XDG_DATA_DIRS", m_root.filePath("share").toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_root.filePath("home").toLocal8Bit());
        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(Qt::red);
        QVERIFY(icon.save(m_root.filePath("alpha.png")));
        entry("org.example.Alpha",
            "Name=Alpha Player\nExec=alpha %U\nIcon=" + m_root.filePath("alpha.png") + "\n");
        entry("zeta", "Name=zeta\nExec=zeta\n");
        entry("kde4-gamma", "Name=Gamma\nExec=" + program("gamma") + " --new-window\n");
        entry("kde4/delta", "Name=Delta\nExec=delta\n");
        entry("beta", "Name=Beta\nExec=beta\nNoDisplay=true\n");
        entry("hidden", "Name=Hidden\nExec=hidden\nHidden=true\n");
        entry("com.quorvel.dovrin", "Name=Quorvel\nExec=quorvel\n");
        program("loose-tool");
        QFile text(m_root.filePath("notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
    }

    // What a person finds in the desktop's menu, by name (case aside), with the entry's own icon;
    // never this program, nor entries kept out of menus.
    void listsInstalledApplicationsByNameAndIcon()
    {
        ApplicationPickerDialog dialog(QStringLiteral("Choose App"), {});
        dialog.show();
        QTRY_VERIFY(dialog.isLoaded());
        QCOMPARE(shownNames(dialog), (QStringList { "Alpha Player", "Delta", "Gamma", "zeta" }));
        QCOMPARE(dialog.apps().at(0).bundleID, QString("org.example.Alpha"));
        QCOMPARE(dialog.apps().at(1).bundleID, QString("kde4-delta"));
        QCOMPARE(dialog.list()->item(0)->icon().pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
        QCOMPARE(dialog.windowTitle(), QString("Choose App"));
        QCOMPARE(dialog.chooseButton()->text(), QString("Choose App"));
    }

    // Typing narrows the list by name or id; Return chooses the first match, and nothing matching says so.
    void searchNarrowsAndChooses_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("everything") << "" << QStringList { "Alpha Player", "Delta", "Gamma", "zeta" }
                                    << "org.example.Alpha";
        QTest::newRow("part of a name") << "ga" << QStringList { "Gamma" } << "kde4-gamma";
        QTest::newRow("case aside") << "ZETA" << QStringList { "zeta" } << "zeta";
        QTest::newRow("by id") << "example" << QStringList { "Alpha Player" } << "org.example.Alpha";
        QTest::newRow("nothing matches") << "spreadsheet" << QStringList() << "";
    }
    void searchNarrowsAndChooses()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, shown);
        QFETCH(QString, chosen);
        ApplicationPickerDialog dialog(QStringLiteral("Choose App"), {});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_VERIFY(dialog.isLoaded());
        QTest::keyClicks(dialog.searchField(), query);
        QCOMPARE(shownNames(dialog), shown);
        QCOMPARE(dialog.chooseButton()->isEnabled(), !shown.isEmpty());
        QCOMPARE(dialog.note()->isVisibleTo(&dialog), shown.isEmpty());
        if (shown.isEmpty())
            QVERIFY(dialog.note()->text().contains(query));
        if (shown.size() > 1) {
            // Down moves to the next match without leaving the search field.
            QTest::keyClick(dialog.searchField(), Qt::Key_Down);
            QTest::keyClick(dialog.searchField(), Qt::Key_Up);
        }
        QTest::keyClick(dialog.searchField(), Qt::Key_Return);
        QCOMPARE(dialog.result(), chosen.isEmpty() ? int(QDialog::Rejected) : int(QDialog::Accepted));
        QCOMPARE(dialog.chosen() ? dialog.chosen()->bundleID : QString(), chosen);
    }

    // Browse… takes a .desktop file, or a program an installed entry starts; anything else is
    // refused in the window, which stays open for another try.
    void browseToAnyProgram_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("note");
        QTest::newRow("an entry kept out of menus") << "share/applications/beta.desktop"
                                                    << "beta"
                                                    << "";
        QTest::newRow("a program an entry starts") << "bin/gamma"
                                                   << "kde4-gamma"
                                                   << "";
        QTest::newRow("a program no entry starts") << "bin/loose-tool"
                                                   << ""
                                                   << "No installed application starts “loose-tool”";
        QTest::newRow("not a program") << "notes.txt"
                                       << ""
                                       << "is not a program";
        QTest::newRow("this program itself") << "share/applications/com.quorvel.dovrin.desktop"
                                             << ""
                                             << "not an application Quorvel can record";
        QTest::newRow("cancelled") << ""
                                   << ""
                                   << "";
    }
    void browseToAnyProgram()
    {
        QFETCH(QString, file);
        QFETCH(QString, chosen);
        QFETCH(QString, note);
        QStringList asked;
        QWidget *askedOver = nullptr;
        TaskPromise<std::optional<QString>> answer;
        ApplicationPickerDialog dialog(QStringLiteral("Choose App"),
            [&](QWidget *parent, const QString &prompt, const QString &, const QString &start) {
                askedOver = parent;
                asked << prompt << start;
                return awaited(answer.future());
            });
        dialog.show();
        QTRY_VERIFY(dialog.isLoaded());
        dialog.browseButton()->click();
        QCOMPARE(asked, (QStringList { "Choose App", m_root.filePath("share/applications") }));
        QCOMPARE(askedOver, &dialog);
        // The picker stays as it is while the file chooser is open; a second Browse… asks nothing.
        dialog.browseButton()->click();
        QCOMPARE(asked.size(), 2);
        QVERIFY(dialog.isVisible() && !dialog.chosen());
        answer.resolve(file.isEmpty() ? std::nullopt : std::optional(m_root.filePath(file)));
        QTRY_COMPARE(dialog.chosen() ? dialog.chosen()->bundleID : QString(), chosen);
        QTRY_COMPARE(dialog.isVisible(), chosen.isEmpty());
        QTRY_COMPARE(dialog.note()->isVisibleTo(&dialog), !note.isEmpty());
        QVERIFY2(dialog.note()->text().contains(note), qPrintable(dialog.note()->text()));
    }

    // The picker hands back what its window chose, and nothing when there is no window to ask.
    void presentAnswersTheChoice()
    {
        const AudioCaptureApp gamma { QStringLiteral("kde4-gamma"), QStringLiteral("Gamma"), QString() };
        QString prompted;
        QWidget window;
        QWidget *askedOver = nullptr;
        const auto chooser
            = [&](QWidget *parent, const QString &prompt, const ApplicationPicker::ChooseFile &browse) {
                  prompted = prompt;
                  askedOver = parent;
                  return ready(browse ? std::optional(gamma) : std::nullopt);
              };
        const Task<std::optional<AudioCaptureApp>> chosen = ApplicationPicker::present(
            &window, "Choose App", chooser, ApplicationPicker::liveFileChooser());
        QTRY_VERIFY(chosen.isFinished());
        QCOMPARE(chosen.result(), std::optional(gamma));
        QCOMPARE(prompted, QString("Choose App"));
        QCOMPARE(askedOver, &window);
        const Task<std::optional<AudioCaptureApp>> none
            = ApplicationPicker::present(&window, "Choose App", {});
        QTRY_VERIFY(none.isFinished());
        QCOMPARE(none.result(), std::nullopt);
    }

    // The live picker opens over the window that asked, answers only once it closes, and answers
    // nothing when cancelled or when the window that asked goes away.
    void livePickerAnswersWhenClosed_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("chosen") << "choose"
                                << "kde4-gamma";
        QTest::newRow("cancelled") << "cancel"
                                   << "";
        QTest::newRow("the window that asked closes") << "close window"
                                                      << "";
    }
    void livePickerAnswersWhenClosed()
    {
        QFETCH(QString, way);
        QFETCH(QString, chosen);
        auto window = std::make_unique<QWidget>();
        window->show();
        const Task<std::optional<AudioCaptureApp>> answer
            = ApplicationPicker::present(window.get(), QStringLiteral("Choose App"));
        ApplicationPickerDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = window->findChild<ApplicationPickerDialog *>()) && dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QTRY_VERIFY(dialog->isLoaded());
        QVERIFY(!answer.isFinished());
        if (way == u"choose") {
            QTest::keyClicks(dialog->searchField(), QStringLiteral("gamma"));
            dialog->chooseButton()->click();
        } else if (way == u"cancel") {
            dialog->reject();
        } else {
            window.reset();
        }
        QTRY_VERIFY(answer.isFinished());
        const std::optional<AudioCaptureApp> app = answer.result();
        QCOMPARE(app ? app->bundleID : QString(), chosen);
    }
};

QTEST_MAIN(TestApplicationPicker)
#include "tst_ApplicationPicker.moc"
