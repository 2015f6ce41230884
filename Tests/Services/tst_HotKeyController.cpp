#include "GenerousWaits.h"
#include "Rules/KeyTable.h"
#include "Services/HotKeyController.h"
#include "SyntheticKeyboard.h"
#include "TestSupport.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <memory>

namespace {

CaptureShortcut shortcut(quint32 keysym, quint32 carbonModifiers)
{
    const quint32 keyCode = KeyTable::keyCodeForKeysym(keysym).value_or(0xFFFF);
    return { keyCode, carbonModifiers, KeyTable::characters(keyCode) };
}

// Another X client holding one combination as long as it lives, as another application would.
struct Holder
{
    Holder(quint32 keysym, quint32 xMask)
    {
        process.start(
            TestSupport::binaryDir() + "/hotkey_holder", { QString::number(keysym), QString::number(xMask) });
        answer
            = process.waitForReadyRead(TestSupport::patienceMs) ? process.readAll().trimmed() : QByteArray();
    }
    ~Holder()
    {
        process.closeWriteChannel();
        process.waitForFinished(5000);
    }
    QProcess process;
    QByteArray answer;
};

// Counts the presses of one key that reach this program, repeats included.
struct PressCounter : QAbstractNativeEventFilter
{
    explicit PressCounter(quint32 keyCode)
        : keyCode(keyCode)
    {
        qApp->installNativeEventFilter(this);
    }
    ~PressCounter() override { qApp->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_key_press_event_t *>(message);
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS && event->detail == keyCode)
            ++count;
        return false;
    }
    quint32 keyCode;
    int count = 0;
};

const quint32 altShift = KeyTable::optionBit | KeyTable::shiftBit;
const quint32 ctrlAlt = KeyTable::controlBit | KeyTable::optionBit;

} // namespace

class TestHotKeyController : public QObject
{
    Q_OBJECT

    int m_presses = 0;
    bool m_offMainThread = false;
    std::unique_ptr<HotKeyController> m_controller;

private slots:
    void init()
    {
        m_presses = 0;
        m_offMainThread = false;
        m_controller = std::make_unique<HotKeyController>([this] {
            ++m_presses;
            m_offMainThread = m_offMainThread || QThread::currentThread() != qApp->thread();
        });
    }

    void cleanup() { m_controller.reset(); }

    void eachPressFiresOnce_data()
    {
        QTest::addColumn<quint32>("carbonModifiers");
        QTest::addColumn<QList<unsigned long>>("held");
        QTest::addColumn<bool>("caps");
        QTest::addColumn<bool>("num");
        const QList<unsigned long> altShiftKeys { XK_Shift_L, XK_Alt_L };
        QTest::newRow("Alt+Shift") << altShift << altShiftKeys << false << false;
        QTest::newRow("Alt+Shift, Caps Lock on") << altShift << altShiftKeys << true << false;
        QTest::newRow("Alt+Shift, Num Lock on") << altShift << altShiftKeys << false << true;
        QTest::newRow("Alt+Shift, both locks on") << altShift << altShiftKeys << true << true;
        QTest::newRow("Super+Ctrl") << (KeyTable::commandBit | KeyTable::controlBit)
                                    << QList<unsigned long> { XK_Super_L, XK_Control_L } << false << false;
    }

    void eachPressFiresOnce()
    {
        QFETCH(quint32, carbonModifiers);
        QFETCH(QList<unsigned long>, held);
        QFETCH(bool, caps);
        QFETCH(bool, num);
        QCOMPARE(m_controller->registerShortcut(shortcut(XK_c, carbonModifiers)),
            HotKeyRegistrationState::registered);
        SyntheticKeyboard keyboard;
        QVERIFY(keyboard.isOpen());
        keyboard.setCapsLock(caps);
        keyboard.setNumLock(num);
        QCOMPARE(keyboard.capsLock(), caps);
        QCOMPARE(keyboard.numLock(), num);

        keyboard.chord(held, XK_c);
        QTRY_COMPARE(m_presses, 1);
        // Extra modifiers, missing modifiers or the key alone are other shortcuts.
        keyboard.chord(held + QList<unsigned long> { XK_Control_R, XK_Alt_R }, XK_c);
        keyboard.chord(held.mid(1), XK_c);
        keyboard.chord({}, XK_c);
        keyboard.chord(held, XK_v);
        // Everything the server sent for those keys has been handled.
        QGuiApplication::sync();
        QCOMPARE(m_presses, 1);
        QVERIFY(!m_offMainThread);

        keyboard.chord(held, XK_c);
        QTRY_COMPARE(m_presses, 2);
    }

    // A window of the program that takes the keyboard and lets it go while the shortcut is held
    // (a menu, the overlay) ends the grab the press began: the release goes elsewhere.
    void aPressWhoseReleaseWentElsewhereDoesNotHoldBackTheNext()
    {
        QCOMPARE(
            m_controller->registerShortcut(shortcut(XK_c, altShift)), HotKeyRegistrationState::registered);
        const QList<unsigned long> keys { XK_Shift_L, XK_Alt_L, XK_c };
        auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        SyntheticKeyboard keyboard;
        keyboard.press(keys);
        QTRY_COMPARE(m_presses, 1);
        xcb_ungrab_keyboard(x11->connection(), XCB_CURRENT_TIME);
        xcb_flush(x11->connection());
        keyboard.release(keys);
        QGuiApplication::sync();

        keyboard.chord(keys.mid(0, 2), XK_c);
        QTRY_COMPARE(m_presses, 2);
        // Held down, the key repeats, the first time after the server's delay: still one press.
        PressCounter seen(XKeysymToKeycode(x11->display(), XK_c));
        keyboard.press(keys);
        QTRY_COMPARE(m_presses, 3);
        QTRY_VERIFY(seen.count >= 4);
        keyboard.release(keys);
        QGuiApplication::sync();
        QCOMPARE(m_presses, 3);
    }

    void anotherClientsGrabIsAConflictAndLeavesNothingRegistered()
    {
        QCOMPARE(
            m_controller->registerShortcut(shortcut(XK_c, altShift)), HotKeyRegistrationState::registered);
        {
            Holder holder(XK_k, KeyTable::xModifierMask(ctrlAlt));
            QCOMPARE(holder.answer, QByteArray("grabbed"));
            QCOMPARE(
                m_controller->registerShortcut(shortcut(XK_k, ctrlAlt)), HotKeyRegistrationState::conflict);
            QVERIFY(!m_controller->isRegistered());
            // The previous shortcut was let go: it is free for anyone.
            Holder previous(XK_c, KeyTable::xModifierMask(altShift));
            QCOMPARE(previous.answer, QByteArray("grabbed"));
            SyntheticKeyboard keyboard;
            keyboard.chord({ XK_Shift_L, XK_Alt_L }, XK_c);
            QGuiApplication::sync();
            QCOMPARE(m_presses, 0);
        }
        QCOMPARE(m_controller->registerShortcut({ 0xFFFF, altShift, QString() }),
            HotKeyRegistrationState::unavailable); // a key without a keysym
        // Once the other application lets go, the same shortcut registers.
        QTRY_COMPARE(
            m_controller->registerShortcut(shortcut(XK_k, ctrlAlt)), HotKeyRegistrationState::registered);
    }

    // A shortcut another program holds is tried again until that program lets go, and then works; a
    // shortcut chosen meanwhile ends the retries.
    void heldShortcutIsTriedAgain_data()
    {
        QTest::addColumn<bool>("replacedMeanwhile");
        QTest::addColumn<quint32>("carbonModifiers");
        QTest::newRow("the other program lets go") << false << ctrlAlt;
        QTest::newRow("the other program lets go, Alt+Shift") << false << altShift;
        QTest::newRow("another shortcut chosen before it lets go") << true << ctrlAlt;
    }

    void heldShortcutIsTriedAgain()
    {
        QFETCH(bool, replacedMeanwhile);
        QFETCH(quint32, carbonModifiers);
        int presses = 0;
        QList<HotKeyRegistrationState> changes;
        HotKeyController controller([&presses] { ++presses; }, nullptr, std::chrono::milliseconds(100));
        controller.setRegistrationChanged([&changes](HotKeyRegistrationState state) { changes << state; });
        const quint32 mask = KeyTable::xModifierMask(carbonModifiers);
        {
            Holder holder(XK_j, mask);
            QCOMPARE(holder.answer, QByteArray("grabbed"));
            QCOMPARE(controller.registerShortcut(shortcut(XK_j, carbonModifiers)),
                HotKeyRegistrationState::conflict);
            QVERIFY(!controller.isRegistered());
            if (replacedMeanwhile)
                QCOMPARE(controller.registerShortcut(shortcut(XK_u, ctrlAlt)),
                    HotKeyRegistrationState::registered);
        }
        const QList<unsigned long> modifiers = carbonModifiers == ctrlAlt
            ? QList<unsigned long> { XK_Control_L, XK_Alt_L }
            : QList<unsigned long> { XK_Shift_L, XK_Alt_L };
        if (replacedMeanwhile) {
            // The combination let go stays free for anyone, and the chosen one stays registered.
            Holder later(XK_j, mask);
            QCOMPARE(later.answer, QByteArray("grabbed"));
            QVERIFY(controller.isRegistered());
            QVERIFY(changes.isEmpty());
            return;
        }
        QTRY_COMPARE(changes, QList { HotKeyRegistrationState::registered });
        QVERIFY(controller.isRegistered());
        SyntheticKeyboard keyboard;
        keyboard.chord(modifiers, XK_j);
        QTRY_COMPARE(presses, 1);
    }
};

QTEST_MAIN(TestHotKeyController)
#include "tst_HotKeyController.moc"
