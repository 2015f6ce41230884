#include "Services/WindowActivation.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiDesign.h"
#include "Vemi/VemiPrompt.h"

#include <QAccessible>
#include <QApplication>
#include <QPointer>
#include <QTest>

namespace {

enum class Exit {
    primaryButton,
    cancelButton,
    escape,
    returnKey,
    returnOnCancel,
    controlW,
    closeWindow,
    dismissTrue,
    dismissFalse
};

// One caller awaiting one prompt, as the application model does.
struct Caller
{
    QObject owner;
    std::optional<bool> answer;
    int resumptions = 0;
    Task<> task;

    void ask(const ScrollingCapturePrompt &prompt)
    {
        task = Task<>::spawn(&owner, [this, prompt]() -> Task<> {
            answer = co_await VemiPromptPanel::present(prompt);
            ++resumptions;
        });
    }
};

ScrollingCapturePrompt withSteps(int count)
{
    ScrollingCapturePrompt prompt = ScrollingCapturePrompt::control();
    prompt.title = QStringLiteral("Capture a long scrolling area");
    for (int i = 1; i <= count; ++i)
        prompt.steps << QStringLiteral(
            "Step text number %1, long enough to wrap onto a second line of the card.")
                            .arg(i);
    return prompt;
}

// Runs `step` once two event-loop hops posted now have run, as a reconcile scheduled just before.
void afterTwoHops(std::function<void()> step)
{
    QMetaObject::invokeMethod(
        qApp, [step] { QMetaObject::invokeMethod(qApp, step, Qt::QueuedConnection); }, Qt::QueuedConnection);
}

void flush()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace

class TestVemiPrompt : public QObject
{
    Q_OBJECT

    int m_reconciles = 0;
    QList<QWidget *> m_revealed;

private slots:
    void initTestCase()
    {
        VemiPromptPanel::setReconcileHook([this] { ++m_reconciles; });
        VemiPromptPanel::setRevealHook([this](QWidget *window) {
            m_revealed << window;
            window->show();
        });
    }

    void init()
    {
        m_reconciles = 0;
        m_revealed.clear();
    }

    void cleanup()
    {
        VemiPromptPanel::dismiss(false);
        flush();
    }

    void everyExitAnswersExactlyOnce_data()
    {
        QTest::addColumn<Exit>("exit");
        QTest::addColumn<bool>("expected");
        QTest::newRow("primary button") << Exit::primaryButton << true;
        QTest::newRow("cancel button") << Exit::cancelButton << false;
        QTest::newRow("Escape") << Exit::escape << false;
        QTest::newRow("Return") << Exit::returnKey << true;
        QTest::newRow("Return while Cancel has the focus") << Exit::returnOnCancel << true;
        QTest::newRow("Ctrl+W") << Exit::controlW << false;
        QTest::newRow("closing the window") << Exit::closeWindow << false;
        QTest::newRow("dismiss accepted") << Exit::dismissTrue << true;
        QTest::newRow("dismiss declined") << Exit::dismissFalse << false;
    }

    void everyExitAnswersExactlyOnce()
    {
        QFETCH(Exit, exit);
        QFETCH(bool, expected);
        Caller caller;
        caller.ask(ScrollingCapturePrompt::control());
        QTRY_VERIFY(VemiPromptPanel::openWindow());
        QPointer<QDialog> window = VemiPromptPanel::openWindow();
        QCOMPARE(m_revealed, QList<QWidget *>({ window.data() }));
        QVERIFY(window->isVisible());
        auto *card = window->findChild<VemiPromptCard *>();
        QVERIFY(card);

        switch (exit) {
        case Exit::primaryButton:
            QTest::mouseClick(card->primaryButton(), Qt::LeftButton);
            break;
        case Exit::cancelButton:
            QTest::mouseClick(card->cancelButton(), Qt::LeftButton);
            break;
        case Exit::escape:
            QTest::keyClick(card, Qt::Key_Escape);
            break;
        case Exit::returnKey:
            QTest::keyClick(card, Qt::Key_Return);
            break;
        case Exit::returnOnCancel:
            QTest::keyClick(card->cancelButton(), Qt::Key_Return);
            break;
        case Exit::controlW:
            QTest::keyClick(card, Qt::Key_W, Qt::ControlModifier);
            break;
        case Exit::closeWindow:
            QVERIFY(window->close());
            break;
        case Exit::dismissTrue:
            VemiPromptPanel::dismiss(true);
            break;
        case Exit::dismissFalse:
            VemiPromptPanel::dismiss(false);
            break;
        }
        QTRY_VERIFY(caller.answer.has_value());
        QCOMPARE(*caller.answer, expected);
        QVERIFY(!VemiPromptPanel::openWindow());
        QCOMPARE(m_reconciles, 1);

        // Every later way out finds nothing to answer.
        if (window) {
            QVERIFY(!window->isVisible());
            window->close();
        }
        VemiPromptPanel::dismiss(!expected);
        flush();
        QVERIFY(!window);
        QCOMPARE(m_reconciles, 1);
        QCOMPARE(caller.resumptions, 1);
        QCOMPARE(*caller.answer, expected);
    }

    void aNewerPromptDeclinesTheOlder()
    {
        Caller first;
        Caller second;
        first.ask(ScrollingCapturePrompt::control());
        QTRY_VERIFY(VemiPromptPanel::openWindow());
        QDialog *older = VemiPromptPanel::openWindow();
        second.ask(withSteps(2));
        QTRY_VERIFY(first.answer.has_value());
        QCOMPARE(*first.answer, false);
        QTRY_VERIFY(VemiPromptPanel::openWindow() && VemiPromptPanel::openWindow() != older);
        QVERIFY(!second.answer);
        QCOMPARE(m_reconciles, 1);
        QTest::keyClick(VemiPromptPanel::openWindow(), Qt::Key_Return);
        QTRY_VERIFY(second.answer.has_value());
        QCOMPARE(*second.answer, true);
        QCOMPARE(*first.answer, false);
        QCOMPARE(first.resumptions, 1);
        QCOMPARE(m_reconciles, 2);
    }

    void windowActivationBringsItForwardAndSettlesAfterwards()
    {
        VemiPromptPanel::setRevealHook(nullptr);
        VemiPromptPanel::setReconcileHook(nullptr);
        Caller caller;
        caller.ask(ScrollingCapturePrompt::control());
        QTRY_VERIFY(VemiPromptPanel::openWindow());
        QVERIFY(VemiPromptPanel::openWindow()->isVisible());
        QCOMPARE(WindowActivation::activationPolicy(), WindowActivation::ActivationPolicy::regular);
        // The prompt alone is a window of the app: a reconcile keeps the app regular.
        bool reconciled = false;
        WindowActivation::scheduleReconcile();
        afterTwoHops([&] { reconciled = true; });
        QTRY_VERIFY(reconciled);
        QCOMPARE(WindowActivation::activationPolicy(), WindowActivation::ActivationPolicy::regular);
        QTest::keyClick(VemiPromptPanel::openWindow(), Qt::Key_Escape);
        QTRY_VERIFY(caller.answer.has_value());
        // No other window is open: the application returns to the tray.
        QTRY_COMPARE(WindowActivation::activationPolicy(), WindowActivation::ActivationPolicy::accessory);
        initTestCase();
    }

    void dismissWithoutAPromptDoesNothing()
    {
        VemiPromptPanel::dismiss(false);
        VemiPromptPanel::dismiss(true);
        QCOMPARE(m_reconciles, 0);
        QVERIFY(!VemiPromptPanel::openWindow());
    }

    void windowSizeFollowsTheCard_data()
    {
        QTest::addColumn<int>("steps");
        QTest::newRow("small card") << 0;
        QTest::newRow("tall card") << 6;
    }

    void windowSizeFollowsTheCard()
    {
        QFETCH(int, steps);
        const ScrollingCapturePrompt prompt = withSteps(steps);
        TaskFuture<bool> answer = VemiPromptPanel::present(prompt);
        QDialog *window = VemiPromptPanel::openWindow();
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const int cardHeight = VemiPromptCard(prompt).heightForWidth(400);
        QCOMPARE(window->width(), 400);
        if (steps == 0) {
            QVERIFY(cardHeight < 180);
            QCOMPARE(window->height(), 180);
        } else {
            QVERIFY(cardHeight > 180);
            QCOMPARE(window->height(), cardHeight);
        }
        // No visible title and no title-bar buttons; the title still names it.
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!(window->windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(window->windowTitle(), prompt.title);
        QVERIFY(!window->isModal());
    }

    void stepsReadAsNumberedSentences_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("none") << QStringList();
        QTest::newRow("three") << QStringList(
            { "Outline the column.", "Keep the pointer inside.", "Choose Done." });
    }

    void stepsReadAsNumberedSentences()
    {
        QFETCH(QStringList, steps);
        ScrollingCapturePrompt prompt = ScrollingCapturePrompt::control();
        prompt.steps = steps;
        QWidget window;
        auto *card = new VemiPromptCard(prompt, &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList spoken;
        for (QWidget *child : card->findChildren<QWidget *>()) {
            QAccessibleInterface *element = QAccessible::queryAccessibleInterface(child);
            const QString name = element ? element->text(QAccessible::Name) : QString();
            if (name.startsWith(QStringLiteral("Step ")))
                spoken << name;
        }
        QStringList expected;
        for (int i = 0; i < steps.size(); ++i)
            expected << QStringLiteral("Step %1. %2").arg(i + 1).arg(steps.at(i));
        QCOMPARE(spoken, expected);
        QCOMPARE(QAccessible::queryAccessibleInterface(card)->text(QAccessible::Name), prompt.title);
        QCOMPARE(card->primaryButton()->text(), QStringLiteral("Continue"));
        QCOMPARE(card->cancelButton()->text(), QStringLiteral("Cancel"));
        QCOMPARE(card->primaryButton()->look(), VemiButton::Look::borderedProminent);
        QCOMPARE(card->cancelButton()->look(), VemiButton::Look::bordered);
    }
};

QTEST_MAIN(TestVemiPrompt)
#include "tst_VemiPrompt.moc"
