#include "TestSupport.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiDesign.h"
#include "Vemi/VemiSidebar.h"

#include <QAccessible>
#include <QApplication>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace std::chrono_literals;

namespace {

enum class Then { copyAgain, fail, destroy, hide };

} // namespace

class TestVemiControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { VemiMotion::setSystemReduceMotion(false); }

    // "Copied" lasts 1.2 s from the last successful copy; a failed copy clears it at once; leaving the
    // screen cancels the pending reset. The label keeps the width of its wider form throughout.
    void copyButton_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("toolbar");
        QTest::addColumn<Then>("then");
        QTest::newRow("copied again after 1 s") << QStringLiteral("Copy") << false << Then::copyAgain;
        QTest::newRow("a failed copy") << QStringLiteral("Copy Markdown") << false << Then::fail;
        QTest::newRow("destroyed while confirmed")
            << QStringLiteral("Copy Markdown") << false << Then::destroy;
        QTest::newRow("toolbar, hidden while confirmed") << QStringLiteral("Copy Text") << true << Then::hide;
    }

    void copyButton()
    {
        QFETCH(QString, title);
        QFETCH(bool, toolbar);
        QFETCH(Then, then);
        ManualTaskClock clock;
        int copies = 0;
        auto window = std::make_unique<QWidget>();
        auto *row = new QHBoxLayout(window.get());
        QPointer<VemiCopyButton> button = new VemiCopyButton(
            title, [&] { return ++copies == 1 || then != Then::fail; }, window.get());
        button->setClock(&clock);
        if (toolbar)
            VemiButtonStyle::toolbarAction(button, false);
        row->addWidget(button);
        row->addStretch(1);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QSize before = button->size();
        QSignalSpy changes(button, &VemiCopyButton::confirmationChanged);
        button->click();
        QCOMPARE(button->accessibleName(), QStringLiteral("Copied"));
        QTRY_COMPARE(button->confirmationLevel(), 1.0);
        QCOMPARE(button->size(), before);
        QTRY_COMPARE(clock.pendingTimers(), 1);
        if (then == Then::copyAgain) {
            clock.advance(1000ms);
            QVERIFY(TestSupport::runPostedHops(5));
            button->click();
            QVERIFY(TestSupport::runPostedHops(5));
            clock.advance(1100ms); // past the first copy's 1.2 s
            QVERIFY(TestSupport::runPostedHops(5));
            QVERIFY(button->isConfirmed());
            clock.advance(100ms);
            QTRY_COMPARE(button->confirmationLevel(), 0.0);
            QCOMPARE(button->accessibleName(), title);
            QCOMPARE(button->size(), before);
            QCOMPARE(changes.size(), 2); // on once, off once
        } else if (then == Then::fail) {
            button->click();
            QVERIFY(!button->isConfirmed());
        } else if (then == Then::hide) {
            window->hide();
            QVERIFY(!button->isConfirmed());
            QCOMPARE(button->confirmationLevel(), 0.0);
        } else {
            window.reset();
        }
        QVERIFY(TestSupport::runPostedHops(5));
        QCOMPARE(clock.pendingTimers(), 0);
        clock.advance(3s);
        QVERIFY(TestSupport::runPostedHops(5));
        QCOMPARE(copies, then == Then::destroy || then == Then::hide ? 1 : 2);
    }

    // A disabled button never looks hovered, and an override fixes the hovered look whatever the
    // pointer does. (The colours of each state: the gallery.)
    void toolbarHovering_data()
    {
        QTest::addColumn<int>("hover"); // the override; -1 none
        QTest::addColumn<bool>("pointerInside");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("hovering");
        QTest::newRow("at rest") << -1 << false << true << false;
        QTest::newRow("under the pointer") << -1 << true << true << true;
        QTest::newRow("override without the pointer") << 1 << false << true << true;
        QTest::newRow("override off under the pointer") << 0 << true << true << false;
        QTest::newRow("disabled under the pointer") << -1 << true << false << false;
    }

    void toolbarHovering()
    {
        QFETCH(int, hover);
        QFETCH(bool, pointerInside);
        QFETCH(bool, enabled);
        QWidget window;
        auto *button = new VemiButton(QStringLiteral("Save Markdown"), &window);
        VemiButtonStyle::toolbarAction(
            button, true, hover < 0 ? std::nullopt : std::optional<bool>(hover == 1));
        button->setEnabled(enabled);
        button->move(40, 16);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseMove(&window, QPoint(2, 2));
        if (pointerInside) {
            QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
            QApplication::sendEvent(button, &enter);
        }
        QTEST(button->isHovering(), "hovering");
    }

    // A button that chose its own style keeps it inside a row (the inner style wins).
    void actionRowLooks_data()
    {
        QTest::addColumn<int>("own"); // 0 none, 1 primary large, 2 toolbar prominent, 3 secondary mini
        QTest::addColumn<VemiButton::Look>("look");
        QTest::addColumn<VemiControlSize>("size");
        QTest::newRow("plain button takes the row's look")
            << 0 << VemiButton::Look::bordered << VemiControlSize::small;
        QTest::newRow("large primary") << 1 << VemiButton::Look::borderedProminent << VemiControlSize::large;
        QTest::newRow("toolbar prominent")
            << 2 << VemiButton::Look::toolbarProminent << VemiControlSize::regular;
        QTest::newRow("mini secondary") << 3 << VemiButton::Look::bordered << VemiControlSize::mini;
    }

    void actionRowLooks()
    {
        QFETCH(int, own);
        QFETCH(VemiButton::Look, look);
        QWidget row;
        auto *layout = new QHBoxLayout(&row);
        auto *cancel = new VemiButton(QStringLiteral("Cancel"), &row);
        auto *button = new VemiButton(QStringLiteral("Resume Review"), &row);
        layout->addWidget(cancel);
        layout->addWidget(button);
        if (own == 1)
            VemiButtonStyle::vemiPrimaryAction(button, VemiControlSize::large);
        else if (own == 2)
            VemiButtonStyle::toolbarAction(button, true);
        else if (own == 3)
            VemiButtonStyle::vemiSecondaryAction(button, VemiControlSize::mini);
        const int before = button->sizeHint().height();
        VemiButtonStyle::vemiActionGroup(&row, VemiControlSize::small);
        QCOMPARE(button->look(), look);
        QTEST(button->controlSize(), "size");
        QCOMPARE(button->sizeHint().height() == before, own != 0);
        QCOMPARE(cancel->look(), VemiButton::Look::bordered);
        QCOMPARE(cancel->controlSize(), VemiControlSize::small);
    }

    // A ring marks focus reached from the keyboard only. Focus that moves on because the clicked button
    // hid or disabled itself arrives as Tab focus too, but after a click: no ring there.
    void focusRingOnlyFromTheKeyboard_data()
    {
        QTest::addColumn<QString>("act");
        QTest::addColumn<bool>("ring");
        QTest::newRow("the clicked button hides itself") << "hide" << false;
        QTest::newRow("the clicked button disables itself") << "disable" << false;
        QTest::newRow("Tab") << "tab" << true;
        QTest::newRow("Shift+Tab") << "backtab" << true;
        QTest::newRow("a click, then Tab") << "click, tab" << true;
    }
    void focusRingOnlyFromTheKeyboard()
    {
        QFETCH(QString, act);
        QFETCH(bool, ring);
        QWidget window;
        auto *row = new QHBoxLayout(&window);
        auto *first = new VemiButton(QStringLiteral("Check Again"), &window);
        auto *second = new VemiButton(QStringLiteral("Continue"), &window);
        auto *third = new VemiButton(QStringLiteral("Back"), &window);
        for (VemiButton *button : { first, second, third }) {
            button->setFocusPolicy(Qt::StrongFocus);
            row->addWidget(button);
        }
        connect(first, &QPushButton::clicked, first, [&] {
            if (act == "hide")
                first->hide();
            else if (act == "disable")
                first->setEnabled(false);
        });
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        if (act == "backtab") {
            third->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(third, Qt::Key_Backtab, Qt::ShiftModifier);
        } else if (act == "tab") {
            first->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(first, Qt::Key_Tab);
        } else {
            first->setFocus(Qt::MouseFocusReason);
            QTest::mouseClick(first, Qt::LeftButton);
            if (act == "click, tab")
                QTest::keyClick(first, Qt::Key_Tab);
        }
        QTRY_VERIFY(second->hasFocus());
        QCOMPARE(second->showsFocusRing(), ring);
    }

    void sidebarHighlightSlides_data()
    {
        QTest::addColumn<bool>("reduce");
        QTest::newRow("full motion") << false;
        QTest::newRow("reduced motion") << true;
    }

    void sidebarHighlightSlides()
    {
        QFETCH(bool, reduce);
        // The desktop says the opposite: the window's override must win.
        VemiMotion::setSystemReduceMotion(!reduce);
        QWidget rail;
        VemiMotion::setReduceMotionOverride(&rail, reduce);
        auto *column = new QVBoxLayout(&rail);
        VemiSidebarSelection selection;
        QList<VemiSidebarItem *> rows;
        for (const char *title : { "General", "Shortcuts", "Permissions" }) {
            rows << new VemiSidebarItem(QString::fromLatin1(title), QStringLiteral("gearshape"), &selection);
            column->addWidget(rows.last());
        }
        auto *toolbar = new VemiButton(QStringLiteral("Copy Text"), &rail);
        VemiButtonStyle::toolbarAction(toolbar, false);
        column->addWidget(toolbar);
        VemiSidebarItem *general = rows.first();
        VemiSidebarItem *permissions = rows.last();
        general->setSelected(true);
        rail.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rail));
        QTRY_COMPARE(selection.highlightGeometry(), QRectF(general->geometry()));
        // Pressed rows and toolbar buttons shrink only with full motion; rows always fade.
        toolbar->setDown(true);
        general->setDown(true);
        QTRY_COMPARE(toolbar->currentScale(), reduce ? 1.0 : 0.98);
        QTRY_VERIFY(qFuzzyCompare(general->currentScale(), reduce ? 1.0 : 0.985));
        QTRY_VERIFY(qFuzzyCompare(general->currentOpacity(), 0.82));
        general->setDown(false);
        toolbar->setDown(false);
        VemiMotion::setSystemReduceMotion(false);
        QSignalSpy clicks(permissions, &QAbstractButton::clicked);

        QTest::mouseClick(permissions, Qt::LeftButton);
        QCOMPARE(clicks.size(), 1);
        // A click alone selects nothing: the caller does.
        QVERIFY(!permissions->isSelected());
        permissions->setSelected(true);
        QVERIFY(!general->isSelected());
        QCOMPARE(selection.selectedItem(), permissions);
        QCOMPARE(selection.isSliding(), !reduce);
        if (!reduce) {
            QTRY_VERIFY(selection.highlightGeometry().top() > general->geometry().top()
                && selection.highlightGeometry().top() < permissions->geometry().top());
        }
        QTRY_COMPARE(selection.highlightGeometry(), QRectF(permissions->geometry()));
        QVERIFY(QAccessible::queryAccessibleInterface(permissions)->state().checked);
        QVERIFY(!QAccessible::queryAccessibleInterface(general)->state().checked);

        // The highlight follows its row when the rail is laid out again.
        rail.resize(rail.width() + 40, rail.height() + 30);
        QTRY_COMPARE(selection.highlightGeometry(), QRectF(permissions->geometry()));
        delete permissions;
        QCOMPARE(selection.selectedItem(), nullptr);
    }
};

QTEST_MAIN(TestVemiControls)
#include "tst_VemiControls.moc"
