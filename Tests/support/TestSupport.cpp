#include "TestSupport.h"

#include "GenerousWaits.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <functional>
#include <sys/prctl.h>

namespace TestSupport {

QString sourceDir()
{
    return qEnvironmentVariable("DOVRIN_TEST_SOURCE_DIR");
}

QString binaryDir()
{
    const QString dir = qEnvironmentVariable("DOVRIN_TEST_BINARY_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(data) == data.size();
}

QProcessEnvironment serverEnvironment(const QString &runtimeDir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER" })
        environment.remove(QString::fromLatin1(name));
    if (!runtimeDir.isEmpty())
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    return environment;
}

bool runPostedHops(int hops)
{
    bool done = false;
    std::function<void(int)> post = [&](int left) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&, left] { left > 1 ? post(left - 1) : void(done = true); },
            Qt::QueuedConnection);
    };
    post(hops);
    return QTest::qWaitFor([&] { return done; }, TestSupport::patienceMs);
}

void endWithTest(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

} // namespace TestSupport
