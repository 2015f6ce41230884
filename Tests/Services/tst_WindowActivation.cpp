#include "Services/WindowActivation.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

using Policy = WindowActivation::ActivationPolicy;

namespace {

// A window that can refuse to close, as the review window does while its draft cannot be written.
class VetoWindow : public QWidget
{
public:
    bool allowClose = true;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (allowClose)
            event->accept();
        else
            event->ignore();
    }
};

std::unique_ptr<QWidget> titledWindow(const QString &title)
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(title);
    window->resize(200, 120);
    auto *layout = new QVBoxLayout(window.get());
    layout->addWidget(new QLineEdit(window.get()));
    return window;
}

// Lets exactly one queued hop run: events posted while it runs wait for the next call.
void runOneHop()
{
    QCoreApplication::sendPostedEvents();
}

} // namespace

class TestWindowActivation : public QObject
{
    Q_OBJECT

private:
    std::vector<Policy> m_effects;

    void settle() { QTest::qWait(20); }

private slots:
    void init()
    {
        m_effects.clear();
        WindowActivation::setPolicyEffect([this](Policy policy) { m_effects.push_back(policy); });
        WindowActivation::installIfNeeded();
        WindowActivation::scheduleReconcile();
        settle();
        QCOMPARE(WindowActivation::activationPolicy(), Policy::accessory);
        m_effects.clear();
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        settle();
    }

    void installsOnce()
    {
        WindowActivation::installIfNeeded();
        WindowActivation::installIfNeeded();
        auto window = titledWindow("once");
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        WindowActivation::reveal(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        // Two installed close monitors would each claim the chord; one close is all that happens.
        int closes = 0;
        struct Counter : QObject
        {
            int *count;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == QEvent::Close)
                    ++*count;
                return false;
            }
        } counter;
        counter.count = &closes;
        window->installEventFilter(&counter);
        QTest::keyClick(window->findChild<QLineEdit *>(), Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!window->isVisible());
        settle();
        QCOMPARE(closes, 1);
    }

    void userFacingTest_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("attribute");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("expected");
        const int none = -1;
        QTest::newRow("titled window") << int(Qt::Window) << none << true << false << true;
        QTest::newRow("dialog") << int(Qt::Dialog) << none << true << false << true;
        QTest::newRow("minimized window") << int(Qt::Window) << none << true << true << true;
        QTest::newRow("hidden window") << int(Qt::Window) << none << false << false << false;
        QTest::newRow("frameless overlay")
            << int(Qt::Window | Qt::FramelessWindowHint) << none << true << false << false;
        QTest::newRow("popup") << int(Qt::Popup) << none << true << false << false;
        QTest::newRow("tool tip") << int(Qt::ToolTip) << none << true << false << false;
        QTest::newRow("non-activating panel")
            << int(Qt::Tool | Qt::WindowDoesNotAcceptFocus) << none << true << false << false;
        QTest::newRow("shown without activating")
            << int(Qt::Window) << int(Qt::WA_ShowWithoutActivating) << true << false << false;
        QTest::newRow("status level")
            << int(Qt::Window | Qt::X11BypassWindowManagerHint) << none << true << false << false;
        QTest::newRow("no title bar")
            << int(Qt::Window | Qt::CustomizeWindowHint) << none << true << false << false;
    }

    void userFacingTest()
    {
        QFETCH(int, flags);
        QFETCH(int, attribute);
        QFETCH(bool, shown);
        QFETCH(bool, minimized);
        QFETCH(bool, expected);
        QWidget window(nullptr, Qt::WindowFlags(flags));
        window.resize(100, 80);
        if (attribute >= 0)
            window.setAttribute(Qt::WidgetAttribute(attribute));
        if (shown)
            minimized ? window.showMinimized() : window.show();
        QCOMPARE(WindowActivation::isUserFacing(&window), expected);
        QCOMPARE(WindowActivation::hasUserFacingWindow(), expected);
    }

    void lastWindowClosingReturnsToAccessoryAfterTwoHops()
    {
        auto first = titledWindow("first");
        auto second = titledWindow("second");
        first->show();
        second->show();
        WindowActivation::reveal(second.get());
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);
        QCOMPARE(m_effects, std::vector<Policy>({ Policy::regular }));
        QVERIFY(QTest::qWaitForWindowActive(second.get()));

        second->close();
        settle();
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);

        first->close();
        // The close itself and the first hop leave the policy alone; the second hop decides.
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);
        runOneHop();
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);
        runOneHop();
        QCOMPARE(WindowActivation::activationPolicy(), Policy::accessory);
        QCOMPARE(m_effects, std::vector<Policy>({ Policy::regular, Policy::accessory }));
    }

    void minimizedWindowKeepsTheAppRegular()
    {
        auto settings = titledWindow("settings");
        auto other = titledWindow("other");
        settings->show();
        other->show();
        WindowActivation::reveal(other.get());
        settings->showMinimized();
        other->close();
        settle();
        QVERIFY(settings->isMinimized());
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);
        settings->close();
        settle();
        QCOMPARE(WindowActivation::activationPolicy(), Policy::accessory);
    }

    void revealWithoutAWindowBringsTheFrontMostForward()
    {
        auto back = titledWindow("back");
        auto front = titledWindow("front");
        back->show();
        front->show();
        WindowActivation::reveal(back.get());
        QVERIFY(QTest::qWaitForWindowActive(back.get()));
        WindowActivation::reveal(front.get());
        QVERIFY(QTest::qWaitForWindowActive(front.get()));
        front->showMinimized();
        settle();
        // No key window: the most recently active user-facing one comes back, un-minimized.
        WindowActivation::reveal(nullptr);
        QVERIFY(QTest::qWaitForWindowActive(front.get()));
        QVERIFY(!front->isMinimized());
    }

    void revealWithNothingOpenIsUndoneByTheNextReconcile()
    {
        WindowActivation::reveal(nullptr);
        QCOMPARE(WindowActivation::activationPolicy(), Policy::regular);
        WindowActivation::scheduleReconcile();
        settle();
        QCOMPARE(WindowActivation::activationPolicy(), Policy::accessory);
    }

    void becomingKeyMakesTheAppRegular()
    {
        auto window = titledWindow("key");
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTRY_COMPARE(WindowActivation::activationPolicy(), Policy::regular);
    }

    void closeChord_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Ctrl+W") << int(Qt::ControlModifier) << true;
        QTest::newRow("Ctrl+Shift+W") << int(Qt::ControlModifier | Qt::ShiftModifier) << false;
        QTest::newRow("Ctrl+Alt+W") << int(Qt::ControlModifier | Qt::AltModifier) << false;
        QTest::newRow("Ctrl+Super+W") << int(Qt::ControlModifier | Qt::MetaModifier) << false;
        QTest::newRow("W alone") << int(Qt::NoModifier) << false;
        QTest::newRow("Ctrl+W on the keypad") << int(Qt::ControlModifier | Qt::KeypadModifier) << true;
    }

    void closeChord()
    {
        QFETCH(int, modifiers);
        QFETCH(bool, closes);
        auto window = titledWindow("chord");
        window->show();
        WindowActivation::reveal(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        auto *edit = window->findChild<QLineEdit *>();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_W, Qt::KeyboardModifiers(modifiers));
        settle();
        QCOMPARE(!window->isVisible(), closes);
    }

    void closeChordRespectsTheWindowsVeto()
    {
        VetoWindow window;
        window.setWindowTitle("review");
        window.allowClose = false;
        window.show();
        WindowActivation::reveal(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        settle();
        QVERIFY(window.isVisible());
        window.allowClose = true;
        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(!window.isVisible());
    }

    void closeChordPassesThroughWindowsWithoutACloseButton()
    {
        QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        window.setWindowTitle("no close button");
        window.show();
        WindowActivation::reveal(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        settle();
        QVERIFY(window.isVisible());
    }
};

QTEST_MAIN(TestWindowActivation)
#include "tst_WindowActivation.moc"
