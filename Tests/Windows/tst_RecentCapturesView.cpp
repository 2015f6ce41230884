#include "FindByText.h"
#include "ModelHarness.h"
#include "TestSupport.h"

#include "Vemi/VemiButton.h"
#include "Windows/RecentCaptureRow.h"
#include "Windows/RecentCapturesView.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>

namespace {

// Settings that remember a saved note for each name, newest first; the files at `missing` are gone.
void remember(ModelHarness &h, const QStringList &names, const QList<int> &missing = {})
{
    AppSettings settings;
    settings.setupComplete = true;
    for (int index = 0; index < names.size(); ++index) {
        const QString path = h.dir.filePath(QStringLiteral("notes/") + names.at(index));
        QVERIFY(TestSupport::writeFile(path, "# " + names.at(index).toUtf8()));
        settings.recent << RecentCaptureRef { QUuid::createUuid(), names.at(index),
            RecentBookmarkService::live().makeBookmark(QUrl::fromLocalFile(path)),
            QDateTime(QDate(2026, 1, 20 - index), QTime(9, 30)) };
        if (missing.contains(index))
            QVERIFY(QFile::remove(path));
    }
    h.setSettings(settings);
}

QStringList numbered(int count)
{
    QStringList names;
    for (int index = 1; index <= count; ++index)
        names << QStringLiteral("note-%1.md").arg(index);
    return names;
}

// The view, shown in an active window.
std::unique_ptr<RecentCapturesView> shown(AppModel &model)
{
    auto view = std::make_unique<RecentCapturesView>(model);
    view->show();
    view->activateWindow();
    // The tests' focus checks tell when it did not.
    [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(view.get());
    return view;
}

} // namespace

class TestRecentCapturesView : public QObject
{
    Q_OBJECT

private slots:
    // The column header's "File" and "Saved" stand over the names and the dates, with a scroll bar
    // beside the list or without one.
    void headerStandsOverItsColumn_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("a few, no scroll bar") << 3;
        QTest::newRow("the full twenty, scrolling") << 20;
    }
    void headerStandsOverItsColumn()
    {
        QFETCH(int, count);
        ModelHarness h;
        remember(h, numbered(count));
        AppModel &model = h.make();
        const auto view = shown(model);
        view->resize(700, 420);
        QTRY_COMPARE(view->rows().size(), count);
        RecentCaptureRow *row = view->rows().first();
        QTRY_VERIFY(row->width() > 0);
        QLabel *file = nullptr;
        QLabel *saved = nullptr;
        for (QLabel *label : view->findChildren<QLabel *>()) {
            if (label->text() == QLatin1String("File"))
                file = label;
            if (label->text() == QLatin1String("Saved"))
                saved = label;
        }
        QVERIFY(file && saved);
        const int dates = row->mapTo(view.get(),
                                 QPoint(row->width() - RecentCaptureRow::contentInset
                                         - RecentCaptureRow::savedColumnWidth,
                                     0))
                              .x();
        const int names = row->mapTo(view.get(), QPoint(RecentCaptureRow::nameOffset, 0)).x();
        QTRY_VERIFY(std::abs(saved->mapTo(view.get(), QPoint()).x() - dates) <= 1);
        QVERIFY(std::abs(file->mapTo(view.get(), QPoint()).x() - names) <= 1);
    }

    void arrowKeys_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("selected");
        QTest::newRow("down") << 0 << int(Qt::Key_Down) << 1;
        QTest::newRow("up on the first row") << 0 << int(Qt::Key_Up) << 0;
        QTest::newRow("down on the last row") << 4 << int(Qt::Key_Down) << 4;
        QTest::newRow("up") << 2 << int(Qt::Key_Up) << 1;
        QTest::newRow("left") << 2 << int(Qt::Key_Left) << 2;
        QTest::newRow("right") << 2 << int(Qt::Key_Right) << 2;
    }

    // The arrow keys move selection and focus together, one row at a time, without wrapping.
    void arrowKeys()
    {
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, selected);
        ModelHarness h;
        remember(h, numbered(5));
        std::unique_ptr<RecentCapturesView> view = shown(h.make());
        QTest::mouseClick(view->rows().at(start), Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), view->rows().at(start));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(view->selection(), view->rows().at(selected)->entry().id);
        QCOMPARE(view->focusedItem(), view->selection());
        QCOMPARE(QApplication::focusWidget(), view->rows().at(selected));
    }

    void firstShow_data()
    {
        QTest::addColumn<QList<int>>("missing");
        QTest::addColumn<int>("selected");
        QTest::newRow("every file there") << QList<int> {} << 0;
        QTest::newRow("first file missing") << QList<int> { 0, 2 } << 1;
        QTest::newRow("every file missing") << QList<int> { 0, 1, 2 } << 0;
    }

    // Opening selects and focuses the first file that exists; a missing file disables what needs
    // the file, not Remove.
    void firstShow()
    {
        QFETCH(QList<int>, missing);
        QFETCH(int, selected);
        ModelHarness h;
        remember(h, numbered(3), missing);
        std::unique_ptr<RecentCapturesView> view = shown(h.make());
        QCOMPARE(view->selection(), view->rows().at(selected)->entry().id);
        QCOMPARE(view->focusedItem(), view->selection());
        QCOMPARE(QApplication::focusWidget(), view->rows().at(selected));
        const bool available = !missing.contains(selected);
        for (const char *action : { "Open", "Reveal", "Copy Markdown" })
            QCOMPARE(findByText<VemiButton>(view.get(), QString::fromLatin1(action))->isEnabled(), available);
        QVERIFY(findByText<VemiButton>(view.get(), QStringLiteral("Remove"))->isEnabled());
        QCOMPARE(view->rows().at(0)->isMissing(), missing.contains(0));
    }

    void selectionMoves_data()
    {
        QTest::addColumn<bool>("search");
        QTest::newRow("typing a query that hides it") << true;
        QTest::newRow("removing it") << false;
    }

    // When the selected entry leaves the list the first available listed entry takes its place; a
    // row that held focus hands it on, the search field keeps it.
    void selectionMoves()
    {
        QFETCH(bool, search);
        ModelHarness h;
        remember(h,
            { QStringLiteral("notes-old.md"), QStringLiteral("notes-new.md"), QStringLiteral("todo.md") },
            { 0 });
        std::unique_ptr<RecentCapturesView> view = shown(h.make());
        const QUuid expected = view->rows().at(1)->entry().id;
        QTest::mouseClick(view->rows().at(2), Qt::LeftButton);
        if (search) {
            view->searchField()->setFocus();
            QTest::keyClicks(view->searchField(), QStringLiteral("notes"));
        } else {
            findByText<VemiButton>(view.get(), QStringLiteral("Remove"))->click();
            QCOMPARE(h.model->settings().recent.size(), 2);
        }
        QCOMPARE(view->rows().size(), 2);
        QCOMPARE(view->selection(), expected);
        QCOMPARE(view->focusedItem(), search ? std::nullopt : std::optional(expected));
        QWidget *focus = search ? static_cast<QWidget *>(view->searchField()) : view->rows().at(1);
        QTRY_COMPARE(QApplication::focusWidget(), focus);
    }

    void footer_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("empty");
        // clang-format off
        QTest::newRow("nothing saved") << 0 << "" << "0 captures" << "Nothing caught yet";
        QTest::newRow("no match") << 3 << "zzz" << "0 of 3 captures" << "No matching captures";
        QTest::newRow("spaces") << 3 << "   " << "3 captures" << "";
        QTest::newRow("spaces, nothing saved") << 0 << "  " << "0 captures" << "No matching captures";
        QTest::newRow("one") << 1 << "" << "1 capture" << "";
        QTest::newRow("one filtered out") << 1 << "zzz" << "0 of 1 capture" << "";
        QTest::newRow("one of five, any case") << 5 << " NOTE-4 " << "1 of 5 captures" << "";
        // clang-format on
    }

    void footer()
    {
        QFETCH(int, stored);
        QFETCH(QString, query);
        QFETCH(QString, empty);
        ModelHarness h;
        remember(h, numbered(stored));
        std::unique_ptr<RecentCapturesView> view = shown(h.make());
        view->searchField()->setText(query);
        QFETCH(QString, count);
        QVERIFY2(showsText(view.get(), count), qPrintable(count));
        if (!empty.isEmpty())
            QVERIFY(showsText(view.get(), empty));
        QCOMPARE(
            findByText<VemiButton>(view.get(), QStringLiteral("Capture Region"))->isVisibleTo(view.get()),
            empty == "Nothing caught yet");
    }

    void open_data()
    {
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<bool>("missing");
        QTest::newRow("Return") << false << false;
        QTest::newRow("double click") << true << false;
        QTest::newRow("Return on a missing file") << false << true;
    }

    // Return and a double click open the row's file; a missing one is left to the model to report.
    void open()
    {
        QFETCH(bool, doubleClick);
        QFETCH(bool, missing);
        ModelHarness h;
        remember(h, numbered(3), missing ? QList<int> { 0, 1, 2 } : QList<int> {});
        std::unique_ptr<RecentCapturesView> view = shown(h.make());
        RecentCaptureRow *row = view->rows().at(2);
        if (doubleClick) {
            QTest::mouseDClick(row, Qt::LeftButton);
        } else {
            QTest::mouseClick(row, Qt::LeftButton);
            QTest::keyClick(row, Qt::Key_Return);
        }
        QCOMPARE(view->selection(), row->entry().id);
        if (missing) {
            QVERIFY(h.opened.isEmpty());
            QCOMPARE(h.model->statusMessage(), QStringLiteral("That file is missing"));
        } else {
            QCOMPARE(h.opened,
                QList<QUrl> { QUrl::fromLocalFile(h.dir.filePath(QStringLiteral("notes/note-3.md"))) });
        }
    }
};

QTEST_MAIN(TestRecentCapturesView)
#include "tst_RecentCapturesView.moc"
