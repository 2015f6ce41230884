// Memory given back later, asked from whichever thread: the main thread's timer does it, even when
// the thread that asked has no event loop of its own and has ended by then.

#include "Platform/FreedMemory.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

using namespace std::chrono_literals;

class TestFreedMemory : public QObject
{
    Q_OBJECT

private slots:
    void givenBackLater_data()
    {
        QTest::addColumn<bool>("fromWorker");
        QTest::newRow("asked on the main thread") << false;
        QTest::newRow("asked by a thread that ends") << true;
    }

    void givenBackLater()
    {
        QFETCH(bool, fromWorker);
        const int before = FreedMemory::returnedCount();
        const auto ask = [] { FreedMemory::returnToSystemAfter(200ms); };
        if (fromWorker) {
            QThread *worker = QThread::create(ask);
            worker->start();
            QVERIFY(worker->wait(TestSupport::patienceMs));
            delete worker;
        } else {
            ask();
        }
        QTRY_COMPARE(FreedMemory::returnedCount(), before + 1);
    }
};

QTEST_GUILESS_MAIN(TestFreedMemory)
#include "tst_FreedMemory.moc"
