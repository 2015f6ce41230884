#include "Rules/KeyTable.h"
#include "Services/HotKeyController.h"
#include "SyntheticKeyboard.h"
#include "TestSupport.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <X11/keysym.h>

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
        answer = process.waitForReadyRead(5000) ? process.readAll().trimmed() : QByteArray();
    }
    ~Holder()
    {
        process.closeWriteChannel();
        process.waitForFinished(5000);
    }
    QProcess process;
    QByteArray answer;
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
};

QTEST_MAIN(TestHotKeyController)
#include "tst_HotKeyController.moc"
