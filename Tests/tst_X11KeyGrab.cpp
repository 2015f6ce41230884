#include "SyntheticKeyboard.h"
#include "TestSupport.h"
#include "X11KeyGrab.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>

#include <X11/keysym.h>

class TestX11KeyGrab : public QObject
{
    Q_OBJECT

private slots:
    void pressFiresOnceWithAnyLocks_data()
    {
        QTest::addColumn<bool>("caps");
        QTest::addColumn<bool>("num");
        QTest::newRow("no locks") << false << false;
        QTest::newRow("caps lock") << true << false;
        QTest::newRow("num lock") << false << true;
        QTest::newRow("both") << true << true;
    }

    void pressFiresOnceWithAnyLocks()
    {
        QFETCH(bool, caps);
        QFETCH(bool, num);
        int presses = 0;
        X11KeyGrab grab([&] { ++presses; });
        const auto mask = X11KeyGrab::modifierMask({ .shift = true, .alt = true });
        QVERIFY(mask);
        QCOMPARE(grab.grab(XK_c, *mask), X11KeyGrab::Result::grabbed);
        SyntheticKeyboard keyboard;
        QVERIFY(keyboard.isOpen());
        keyboard.setCapsLock(caps);
        keyboard.setNumLock(num);
        QCOMPARE(keyboard.capsLock(), caps);
        QCOMPARE(keyboard.numLock(), num);
        keyboard.chord({ XK_Shift_L, XK_Alt_L }, XK_c);
        QTRY_COMPARE(presses, 1);
        QTest::qWait(100);
        QCOMPARE(presses, 1);
        keyboard.chord({ XK_Control_L, XK_Shift_L, XK_Alt_L }, XK_c);
        keyboard.chord({ XK_Alt_L }, XK_c);
        QTest::qWait(150);
        QCOMPARE(presses, 1);
    }

    void anotherClientsGrabIsAConflict()
    {
        const auto mask = X11KeyGrab::modifierMask({ .shift = true, .alt = true });
        QProcess holder;
        holder.start(
            TestSupport::binaryDir() + "/hotkey_holder", { QString::number(XK_c), QString::number(*mask) });
        QVERIFY(holder.waitForReadyRead(5000));
        QCOMPARE(holder.readAll().trimmed(), QByteArray("grabbed"));
        X11KeyGrab grab([] {});
        QCOMPARE(grab.grab(XK_c, *mask), X11KeyGrab::Result::conflict);
        QVERIFY(!grab.isGrabbed());
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
        QCOMPARE(grab.grab(XK_c, *mask), X11KeyGrab::Result::grabbed);
    }
};

QTEST_MAIN(TestX11KeyGrab)
#include "tst_X11KeyGrab.moc"
