#include "Services/WindowActivation.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

using Policy = WindowActivation::ActivationPolicy;

namespace {

// A window that can refuse to close, as the review window does while its draft cannot be written;
// it counts the closes it was asked for.
class Window : public QWidget
{
public:
    explicit Window(const QString &title, Qt::WindowFlags flags = Qt::Window)
        : QWidget(nullptr, flags)
    {
        setWindowTitle(title);
        resize(200, 120);
        (new QVBoxLayout(this))->addWidget(new QLineEdit(this));
    }
    bool allowClose = true;
    int closes = 0;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++closes;
        event->setAccepted(allowClose);
    }
};

// Lets exactly one queued hop run: events posted while it runs wait for the next call.
void runOneHop()
{
    QCoreApplication::sendPostedEvents();
}

} // namespace

class TestWindowActivation : public QObject
{
    Q_OBJECT

    std::vector<Policy> m_effects;

private slots:
    void init()
    {
        WindowActivation::setPolicyEffect([this](Policy policy) { m_effects.push_back(policy); });
        WindowActivation::installIfNeeded();
        WindowActivation::installIfNeeded();
        WindowActivation::scheduleReconcile();
        QVERIFY(TestSupport::runPostedHops());
        QCOMPARE(WindowActivation::activationPolicy(), Policy::accessory);
        m_effects.clear();
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QVERIFY(TestSupport::runPostedHops());
    }

    void userFacingTest_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("attribute");
        QTest::addColumn<int>("shown"); // 0 hidden, 1 shown, 2 minimized
        QTest::addColumn<bool>("expected");
        const int none = -1;
        QTest::newRow("titled window") << int(Qt::Window) << none << 1 << true;
        QTest::newRow("minimized window") << int(Qt::Window) << none << 2 << true;
        QTest::newRow("hidden window") << int(Qt::Window) << none << 0 << false;
        QTest::newRow("frameless overlay") << int(Qt::Window | Qt::FramelessWindowHint) << none << 1 << false;
        QTest::newRow("frameless but marked titled, as the prompt panel")
            << int(Qt::Dialog | Qt::FramelessWindowHint) << -2 << 1 << true;
        QTest::newRow("popup") << int(Qt::Popup) << none << 1 << false;
        QTest::newRow("non-activating panel")
            << int(Qt::Tool | Qt::WindowDoesNotAcceptFocus) << none << 1 << false;
        QTest::newRow("shown without activating")
            << int(Qt::Window) << int(Qt::WA_ShowWithoutActivating) << 1 << false;
        QTest::newRow("status level")
            << int(Qt::Window | Qt::X11BypassWindowManagerHint) << none << 1 << false;
        QTest::newRow("no title bar") << int(Qt::Window | Qt::CustomizeWindowHint) << none << 1 << false;
    }

    void userFacingTest()
    {
        QFETCH(int, flags);
        QFETCH(int, attribute);
        QFETCH(int, shown);
        QFETCH(bool, expected);
        QWidget window(nullptr, Qt::WindowFlags(flags));
        window.resize(100, 80);
        if (attribute >= 0)
            window.setAttribute(Qt::WidgetAttribute(attribute));
        if (attribute == -2)
            WindowActivation::markTitled(&window);
        if (shown)
            shown == 2 ? window.showMinimized() : window.show();
        QCOMPARE(WindowActivation::isUserFacing(&window), expected);
        QCOMPARE(WindowActivation::hasUserFacingWindow(), expected);
    }

    void lastWindowClosingReturnsToAccessoryAfterTwoHops()
    {
        Window first("first");
        Window settings("settings");
        first.show();
        settings.show();
        WindowActivation::reveal(&first);
        QCOMPARE(m_effects, std::vector<Policy>({ Policy::regular }));
        QVERIFY(QTest::qWaitForWindowActive(&first));
        // A minimized window still counts.
        settings.showMinimized();
        first.close();
        QVERIFY(TestSupport::runPostedHops());
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);

        settings.close();
        // The close itself and the first hop leave the policy alone; the second hop decides.
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);
        runOneHop();
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);
        runOneHop();
        QCOMPARE(WindowActivation::activationPolicy(), Policy::accessory);
        QCOMPARE(m_effects, std::vector<Policy>({ Policy::regular, Policy::accessory }));
        // Revealing with nothing open makes the app regular until the next reconcile.
        WindowActivation::reveal(nullptr);
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);
        WindowActivation::scheduleReconcile();
        QVERIFY(TestSupport::runPostedHops());
        QCOMPARE(WindowActivation::activationPolicy(), Policy::accessory);
    }

    void revealWithoutAWindowBringsTheFrontMostForward()
    {
        Window back("back");
        Window front("front");
        back.show();
        front.show();
        // Becoming key alone makes the app regular.
        back.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&back));
        QTRY_COMPARE(WindowActivation::activationPolicy(), Policy::regular);
        WindowActivation::reveal(&front);
        QVERIFY(QTest::qWaitForWindowActive(&front));
        front.showMinimized();
        // The key window is no window of the user's: the most recently active one that is comes back.
        Window overlay("overlay", Qt::Window | Qt::FramelessWindowHint);
        overlay.show();
        overlay.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&overlay));
        WindowActivation::reveal(nullptr);
        QVERIFY(QTest::qWaitForWindowActive(&front));
        QVERIFY(!front.isMinimized());
    }

    void closeChord_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("allowClose");
        QTest::addColumn<int>("closes");
        const int ctrl = Qt::ControlModifier;
        const int window = Qt::Window;
        QTest::newRow("Ctrl+W") << ctrl << window << true << 1;
        QTest::newRow("Ctrl+W on the keypad") << int(ctrl | Qt::KeypadModifier) << window << true << 1;
        QTest::newRow("Ctrl+Shift+W") << int(ctrl | Qt::ShiftModifier) << window << true << 0;
        QTest::newRow("Ctrl+Alt+W") << int(ctrl | Qt::AltModifier) << window << true << 0;
        QTest::newRow("Ctrl+Super+W") << int(ctrl | Qt::MetaModifier) << window << true << 0;
        QTest::newRow("W alone") << int(Qt::NoModifier) << window << true << 0;
        // The window's own veto holds, as if its close button were clicked.
        QTest::newRow("window refuses") << ctrl << window << false << 1;
        QTest::newRow("no close button")
            << ctrl << int(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) << true << 0;
    }

    void closeChord()
    {
        QFETCH(int, modifiers);
        QFETCH(int, flags);
        QFETCH(bool, allowClose);
        QFETCH(int, closes);
        Window window("chord", Qt::WindowFlags(flags));
        window.allowClose = allowClose;
        window.show();
        WindowActivation::reveal(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *edit = window.findChild<QLineEdit *>();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_W, Qt::KeyboardModifiers(modifiers));
        QVERIFY(TestSupport::runPostedHops());
        // One close monitor, installed once: one close at most.
        QCOMPARE(window.closes, closes);
        QCOMPARE(window.isVisible(), closes == 0 || !allowClose);
    }
};

QTEST_MAIN(TestWindowActivation)
#include "tst_WindowActivation.moc"
