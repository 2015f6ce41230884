#include "Services/WindowActivation.h"
#include "TestSupport.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiDesign.h"
#include "Vemi/VemiPrompt.h"

#include <QAccessible>
#include <QApplication>
#include <QPointer>
#include <QTest>

namespace {

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
    for (int i = 1; i <= count; ++i)
        prompt.steps
            << QStringLiteral("Step text %1, long enough to wrap onto a second line of the card.").arg(i);
    return prompt;
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
    void init()
    {
        VemiPromptPanel::setReconcileHook([this] { ++m_reconciles; });
        VemiPromptPanel::setRevealHook([this](QWidget *window) {
            m_revealed << window;
            window->show();
        });
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
        QTest::addColumn<QString>("exit");
        QTest::addColumn<bool>("expected");
        QTest::newRow("primary button") << QString("primary") << true;
        QTest::newRow("cancel button") << QString("cancel") << false;
        QTest::newRow("Escape") << QString("escape") << false;
        QTest::newRow("Return") << QString("return") << true;
        QTest::newRow("Return while Cancel has the focus") << QString("return on cancel") << true;
        QTest::newRow("Ctrl+W") << QString("ctrl+w") << false;
        QTest::newRow("closing the window") << QString("close") << false;
        QTest::newRow("dismiss accepted") << QString("dismiss yes") << true;
        QTest::newRow("dismiss declined") << QString("dismiss no") << false;
    }

    void everyExitAnswersExactlyOnce()
    {
        QFETCH(QString, exit);
        QFETCH(bool, expected);
        Caller caller;
        caller.ask(ScrollingCapturePrompt::control());
        QTRY_VERIFY(VemiPromptPanel::openWindow());
        QPointer<QDialog> window = VemiPromptPanel::openWindow();
        QCOMPARE(m_revealed, QList<QWidget *>({ window.data() }));
        auto *card = window->findChild<VemiPromptCard *>();
        if (exit == QLatin1String("primary") || exit == QLatin1String("cancel"))
            QTest::mouseClick(exit == QLatin1String("primary") ? card->primaryButton() : card->cancelButton(),
                Qt::LeftButton);
        else if (exit == QLatin1String("escape") || exit == QLatin1String("return"))
            QTest::keyClick(card, exit == QLatin1String("escape") ? Qt::Key_Escape : Qt::Key_Return);
        else if (exit == QLatin1String("return on cancel"))
            QTest::keyClick(card->cancelButton(), Qt::Key_Return);
        else if (exit == QLatin1String("ctrl+w"))
            QTest::keyClick(card, Qt::Key_W, Qt::ControlModifier);
        else if (exit == QLatin1String("close"))
            QVERIFY(window->close());
        else
            VemiPromptPanel::dismiss(exit == QLatin1String("dismiss yes"));
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
        // With nothing open, dismissing answers nobody.
        VemiPromptPanel::dismiss(true);
        QCOMPARE(m_reconciles, 0);
        Caller first;
        Caller second;
        first.ask(ScrollingCapturePrompt::control());
        QTRY_VERIFY(VemiPromptPanel::openWindow());
        QDialog *older = VemiPromptPanel::openWindow();
        second.ask(withSteps(2));
        QTRY_COMPARE(first.answer, std::optional(false));
        QTRY_VERIFY(VemiPromptPanel::openWindow() && VemiPromptPanel::openWindow() != older);
        QVERIFY(!second.answer);
        QCOMPARE(m_reconciles, 1);
        QTest::keyClick(VemiPromptPanel::openWindow(), Qt::Key_Return);
        QTRY_COMPARE(second.answer, std::optional(true));
        QCOMPARE(first.resumptions, 1);
        QCOMPARE(m_reconciles, 2);
    }

    void theAppStaysRegularWhileOnlyThePromptIsOpen()
    {
        VemiPromptPanel::setRevealHook(nullptr);
        VemiPromptPanel::setReconcileHook(nullptr);
        Caller caller;
        caller.ask(ScrollingCapturePrompt::control());
        QTRY_VERIFY(VemiPromptPanel::openWindow());
        QCOMPARE(WindowActivation::activationPolicy(), WindowActivation::ActivationPolicy::regular);
        WindowActivation::scheduleReconcile();
        QVERIFY(TestSupport::runPostedHops());
        QCOMPARE(WindowActivation::activationPolicy(), WindowActivation::ActivationPolicy::regular);
        QTest::keyClick(VemiPromptPanel::openWindow(), Qt::Key_Escape);
        QTRY_VERIFY(caller.answer.has_value());
        // No other window is open: the application returns to the tray.
        QTRY_COMPARE(WindowActivation::activationPolicy(), WindowActivation::ActivationPolicy::accessory);
    }

    void windowFollowsItsCard_data()
    {
        QTest::addColumn<int>("steps");
        QTest::newRow("small card, no steps") << 0;
        QTest::newRow("tall card, six steps") << 6;
    }

    void windowFollowsItsCard()
    {
        QFETCH(int, steps);
        const ScrollingCapturePrompt prompt = withSteps(steps);
        TaskFuture<bool> answer = VemiPromptPanel::present(prompt);
        QDialog *window = VemiPromptPanel::openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const int cardHeight = VemiPromptCard(prompt).heightForWidth(400);
        QCOMPARE(window->width(), 400);
        QCOMPARE(cardHeight < 180, steps == 0);
        QCOMPARE(window->height(), std::max(cardHeight, 180));
        // No visible title and no title-bar buttons.
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(!(window->windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(window->windowTitle(), prompt.title);

        auto *card = window->findChild<VemiPromptCard *>();
        QStringList spoken;
        for (QWidget *child : card->findChildren<QWidget *>()) {
            const QString name = QAccessible::queryAccessibleInterface(child)->text(QAccessible::Name);
            if (name.startsWith(QStringLiteral("Step ")))
                spoken << name;
        }
        QStringList expected;
        for (int i = 0; i < steps; ++i)
            expected << QStringLiteral("Step %1. %2").arg(i + 1).arg(prompt.steps.at(i));
        QCOMPARE(spoken, expected);
        QCOMPARE(QAccessible::queryAccessibleInterface(card)->text(QAccessible::Name), prompt.title);
        QCOMPARE(card->primaryButton()->look(), VemiButton::Look::borderedProminent);
        QCOMPARE(card->cancelButton()->look(), VemiButton::Look::bordered);
    }
};

QTEST_MAIN(TestVemiPrompt)
#include "tst_VemiPrompt.moc"
