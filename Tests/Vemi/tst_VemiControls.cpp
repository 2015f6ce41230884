#include "AppearancePalettes.h"
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

bool near(const QColor &a, const QColor &b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

QColor over(const QColor &top, qreal alpha, const QColor &bottom)
{
    auto mixed = [&](int a, int b) { return int(std::lround(a * alpha + b * (1 - alpha))); };
    return QColor(
        mixed(top.red(), bottom.red()), mixed(top.green(), bottom.green()), mixed(top.blue(), bottom.blue()));
}

// Lets posted task resumptions run.
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class TestVemiControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { VemiMotion::setSystemReduceMotion(false); }

    void init() { VemiMotion::setApplicationReduceMotionOverride(std::nullopt); }

    void copyConfirmationLastsFromTheLastSuccess()
    {
        ManualTaskClock clock;
        int copies = 0;
        VemiCopyButton button(QStringLiteral("Copy Markdown"), [&] {
            ++copies;
            return true;
        });
        button.setClock(&clock);
        QSignalSpy changes(&button, &VemiCopyButton::confirmationChanged);

        button.click();
        QVERIFY(button.isConfirmed());
        QCOMPARE(button.accessibleName(), QStringLiteral("Copied"));
        QTRY_COMPARE(clock.pendingTimers(), 1);
        clock.advance(1000ms);
        settle();
        QVERIFY(button.isConfirmed());

        button.click();
        QCOMPARE(copies, 2);
        settle();
        QCOMPARE(clock.pendingTimers(), 1);
        // Past the first copy's 1.2 s: still confirmed.
        clock.advance(1100ms);
        settle();
        QVERIFY(button.isConfirmed());
        clock.advance(100ms);
        QTRY_VERIFY(!button.isConfirmed());
        QCOMPARE(button.accessibleName(), QStringLiteral("Copy Markdown"));
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes.at(0).at(0).toBool(), true);
        QCOMPARE(changes.at(1).at(0).toBool(), false);
        clock.advance(5s);
        settle();
        QCOMPARE(changes.size(), 2);
        QCOMPARE(clock.pendingTimers(), 0);
    }

    void failedCopyClearsAtOnceAndArmsNothing()
    {
        ManualTaskClock clock;
        bool succeed = true;
        VemiCopyButton button(QStringLiteral("Copy Text"), [&] { return succeed; });
        button.setClock(&clock);
        button.click();
        QTRY_COMPARE(clock.pendingTimers(), 1);

        succeed = false;
        button.click();
        QVERIFY(!button.isConfirmed());
        QCOMPARE(button.accessibleName(), QStringLiteral("Copy Text"));
        settle();
        QCOMPARE(clock.pendingTimers(), 0);

        button.click();
        settle();
        QVERIFY(!button.isConfirmed());
        QCOMPARE(clock.pendingTimers(), 0);
        QCOMPARE(button.generation(), 3);
    }

    void destroyedWhileConfirmedLeavesNothingBehind()
    {
        ManualTaskClock clock;
        int copies = 0;
        QPointer<VemiCopyButton> button = new VemiCopyButton(QStringLiteral("Copy"), [&] {
            ++copies;
            return true;
        });
        button->setClock(&clock);
        button->click();
        QTRY_COMPARE(clock.pendingTimers(), 1);
        delete button.data();
        settle();
        QCOMPARE(clock.pendingTimers(), 0);
        clock.advance(3s);
        settle();
        QCOMPARE(copies, 1);
    }

    void hiddenWhileConfirmedStartsFromItsTitle()
    {
        ManualTaskClock clock;
        QWidget window;
        auto *button = new VemiCopyButton(
            QStringLiteral("Copy"), [] { return true; }, &window);
        button->setClock(&clock);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        button->click();
        QTRY_COMPARE(clock.pendingTimers(), 1);
        window.hide();
        QVERIFY(!button->isConfirmed());
        QCOMPARE(button->confirmationLevel(), 0.0);
        settle();
        QCOMPARE(clock.pendingTimers(), 0);
    }

    void copyButtonKeepsItsWidth_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("toolbar");
        QTest::newRow("short title") << QStringLiteral("Copy") << false;
        QTest::newRow("long title") << QStringLiteral("Copy Markdown") << false;
        QTest::newRow("toolbar") << QStringLiteral("Copy Text") << true;
    }

    void copyButtonKeepsItsWidth()
    {
        QFETCH(QString, title);
        QFETCH(bool, toolbar);
        ManualTaskClock clock;
        QWidget window;
        auto *row = new QHBoxLayout(&window);
        auto *button = new VemiCopyButton(
            title, [] { return true; }, &window);
        button->setClock(&clock);
        if (toolbar)
            VemiButtonStyle::toolbarAction(button, false);
        row->addWidget(button);
        row->addStretch(1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize before = button->size();
        const QFontMetricsF metrics(button->font());
        button->click();
        QTRY_COMPARE(button->confirmationLevel(), 1.0);
        QCOMPARE(button->sizeHint(), before);
        QCOMPARE(button->size(), before);
        clock.advance(1200ms);
        QTRY_COMPARE(button->confirmationLevel(), 0.0);
        QCOMPARE(button->size(), before);
    }

    void toolbarLooks_data()
    {
        QTest::addColumn<bool>("prominent");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<int>("hover"); // -1 none
        QTest::addColumn<bool>("pointerInside");
        QTest::addColumn<qreal>("tealAlpha"); // -1: plain look at rest
        QTest::newRow("prominent at rest") << true << true << false << -1 << false << 1.0;
        QTest::newRow("prominent under the pointer") << true << true << false << -1 << true << 0.86;
        QTest::newRow("prominent hover override") << true << true << false << 1 << false << 0.86;
        QTest::newRow("prominent pressed") << true << true << true << -1 << false << 0.76;
        QTest::newRow("prominent pressed and hovered") << true << true << true << 1 << false << 0.76;
        QTest::newRow("prominent disabled") << true << false << false << -1 << false << 0.58;
        QTest::newRow("prominent disabled under the pointer") << true << false << false << -1 << true << 0.58;
        QTest::newRow("plain at rest") << false << true << false << -1 << false << -1.0;
        QTest::newRow("plain never hovered") << false << true << false << 0 << true << -1.0;
    }

    void toolbarLooks()
    {
        QFETCH(bool, prominent);
        QFETCH(bool, enabled);
        QFETCH(bool, pressed);
        QFETCH(int, hover);
        QFETCH(bool, pointerInside);
        QFETCH(qreal, tealAlpha);
        QWidget window;
        QPalette palette = AppearancePalettes::light();
        palette.setColor(QPalette::Window, Qt::white);
        window.setPalette(palette);
        auto *button = new VemiButton(QStringLiteral("Save Markdown"), &window);
        VemiButtonStyle::toolbarAction(
            button, prominent, hover < 0 ? std::nullopt : std::optional<bool>(hover == 1));
        button->setEnabled(enabled);
        button->setGeometry(QRect(QPoint(40, 16), button->sizeHint()));
        window.resize(240, 60);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseMove(&window, QPoint(2, 2));
        if (pointerInside) {
            QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
            QApplication::sendEvent(button, &enter);
        }
        QCOMPARE(button->isHovering(), hover < 0 ? pointerInside && enabled : hover == 1);
        button->setDown(pressed);
        button->update();
        QTest::qWait(150);
        const QImage image = button->grab().toImage();
        const QColor sample = image.pixelColor(6, button->height() / 2);
        if (tealAlpha > 0) {
            QVERIFY2(
                near(sample, over(VemiPalette::vemiTeal(), tealAlpha, Qt::white)), qPrintable(sample.name()));
        } else {
            QVERIFY(near(sample, VemiPalette::vemiPanelRaised(VemiAppearance::light)));
            // The hairline outline.
            QVERIFY(!near(image.pixelColor(button->width() / 2, 0), Qt::white, 1));
        }
        QCOMPARE(button->currentScale(), pressed ? 0.98 : 1.0);
    }

    void reducedMotionShortensAndStillsButtons_data()
    {
        QTest::addColumn<bool>("reduce");
        QTest::newRow("full motion") << false;
        QTest::newRow("reduced motion") << true;
    }

    void reducedMotionShortensAndStillsButtons()
    {
        QFETCH(bool, reduce);
        // The desktop says the opposite: the override must win.
        VemiMotion::setSystemReduceMotion(!reduce);
        QWidget window;
        VemiMotion::setReduceMotionOverride(&window, reduce);
        auto *toolbar = new VemiButton(QStringLiteral("Copy Text"), &window);
        VemiButtonStyle::toolbarAction(toolbar, false);
        VemiSidebarSelection selection;
        auto *row = new VemiSidebarItem(
            QStringLiteral("General"), QStringLiteral("gearshape"), &selection, &window);
        row->move(0, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        toolbar->setDown(true);
        row->setDown(true);
        toolbar->update();
        row->update();
        QTest::qWait(150);
        QCOMPARE(toolbar->transitionDuration(), reduce ? 60 : 100);
        QCOMPARE(row->transitionDuration(), reduce ? 80 : 100);
        QCOMPARE(toolbar->currentScale(), reduce ? 1.0 : 0.98);
        QCOMPARE(row->currentScale(), reduce ? 1.0 : 0.985);
        QCOMPARE(row->currentOpacity(), 0.82);
        QCOMPARE(selection.slideDuration(row), reduce ? 0 : 180);
        VemiMotion::setSystemReduceMotion(false);
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
        QFETCH(VemiControlSize, size);
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
        QCOMPARE(button->controlSize(), size);
        QCOMPARE(button->sizeHint().height() == before, own != 0);
        QCOMPARE(cancel->look(), VemiButton::Look::bordered);
        QCOMPARE(cancel->controlSize(), VemiControlSize::small);
        // Capsules: wider than tall.
        QVERIFY(button->sizeHint().width() > button->sizeHint().height());
    }

    void sidebarHighlightSlides_data()
    {
        QTest::addColumn<bool>("reduce");
        QTest::newRow("slides") << false;
        QTest::newRow("jumps under reduced motion") << true;
    }

    void sidebarHighlightSlides()
    {
        QFETCH(bool, reduce);
        QWidget rail;
        VemiMotion::setReduceMotionOverride(&rail, reduce);
        auto *column = new QVBoxLayout(&rail);
        column->setSpacing(6);
        VemiSidebarSelection selection;
        auto *general
            = new VemiSidebarItem(QStringLiteral("General"), QStringLiteral("gearshape"), &selection);
        auto *shortcuts
            = new VemiSidebarItem(QStringLiteral("Shortcuts"), QStringLiteral("keyboard"), &selection);
        auto *permissions
            = new VemiSidebarItem(QStringLiteral("Permissions"), QStringLiteral("hand.raised"), &selection);
        column->addWidget(general);
        column->addWidget(shortcuts);
        column->addWidget(permissions);
        general->setSelected(true);
        rail.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rail));
        QTRY_COMPARE(selection.highlightGeometry(), QRectF(general->geometry()));
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

        QAccessibleInterface *row = QAccessible::queryAccessibleInterface(permissions);
        QVERIFY(row->state().checked);
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
