#include "GenerousWaits.h"

#include "Shell/SingleInstance.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using HandOver = SingleInstance::HandOver;

// Who holds the instance when this process asks for it.
enum class Other { running, killed, killedDuringHandOver, startsLater };

class TestSingleInstance : public QObject
{
    Q_OBJECT

    static std::unique_ptr<QProcess> startOther(const QString &folder)
    {
        auto process = std::make_unique<QProcess>();
        process->start(QCoreApplication::applicationFilePath(), { "--start", folder });
        return process;
    }

private slots:
    void oneQuorvelPerUser_data()
    {
        QTest::addColumn<Other>("other");
        QTest::newRow("another one runs: hand over to it") << Other::running;
        QTest::newRow("a killed one left its lock: take over") << Other::killed;
        QTest::newRow("it is killed while we ask: take over") << Other::killedDuringHandOver;
        QTest::newRow("a later start hands over to us") << Other::startsLater;
    }

    void oneQuorvelPerUser()
    {
        QFETCH(Other, other);
        QTemporaryDir runtime;
        const QString folder = runtime.filePath("com.quorvel.dovrin");
        SingleInstance here(folder);
        QSignalSpy activations(&here, &SingleInstance::activationRequested);

        if (other == Other::startsLater) {
            QCOMPARE(here.claim(), SingleInstance::Claim::primary);
            const auto later = startOther(folder);
            // Our event loop must run meanwhile: it answers the later start.
            QTRY_COMPARE(later->state(), QProcess::NotRunning);
            QCOMPARE(later->exitCode(), 0);
            QCOMPARE(later->readAllStandardOutput(), QByteArray("handedOver\n"));
            QTRY_COMPARE(activations.count(), 1);
            return;
        }
        const auto holder = startOther(folder);
        QTRY_VERIFY(holder->canReadLine());
        QCOMPARE(holder->readLine(), QByteArray("primary\n"));
        if (other != Other::running) {
            if (other == Other::killedDuringHandOver)
                QCOMPARE(here.claim(), SingleInstance::Claim::secondary);
            holder->kill(); // SIGKILL: the lock file and the socket stay behind
            QVERIFY(holder->waitForFinished(TestSupport::patienceMs));
        }
        if (other == Other::killed) {
            QCOMPARE(here.claim(), SingleInstance::Claim::primary);
            return;
        }
        if (other == Other::running)
            QCOMPARE(here.claim(), SingleInstance::Claim::secondary);
        const Task<HandOver> asking = Task<HandOver>::spawn(this, [&here] { return here.handOver(); });
        QTRY_VERIFY(asking.isFinished());
        QCOMPARE(asking.result(), other == Other::running ? HandOver::handedOver : HandOver::becamePrimary);
        if (other == Other::running) {
            QTRY_VERIFY(holder->canReadLine());
            QCOMPARE(holder->readLine(), QByteArray("activated\n"));
            holder->kill();
            holder->waitForFinished();
        }
    }
};

// With "--start <folder>" this program is another Quorvel start: the first one prints "primary", then
// "activated" per hand-over until killed; a later one hands over, prints "handedOver" and exits 0.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3 || arguments.at(1) != "--start") {
        TestSingleInstance test;
        return QTest::qExec(&test, argc, argv);
    }
    auto say = [](const char *line) {
        std::puts(line);
        std::fflush(stdout);
    };
    SingleInstance instance(arguments.at(2));
    if (instance.claim() == SingleInstance::Claim::primary) {
        QObject::connect(&instance, &SingleInstance::activationRequested, [&] { say("activated"); });
        say("primary");
        return app.exec();
    }
    const Task<HandOver> asking = Task<HandOver>::spawn(&app, [&instance] { return instance.handOver(); });
    asking.whenFinished(&app, [&] { app.exit(asking.result() == HandOver::handedOver ? 0 : 1); });
    const int status = app.exec();
    say(status == 0 ? "handedOver" : "failed");
    return status;
}
#include "tst_SingleInstance.moc"
