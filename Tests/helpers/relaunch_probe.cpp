// Stands in for the app in relaunch tests. Usage: relaunch_probe <log> <mode> [arguments...]
// The first instance (no line in the log yet) runs <mode>; every later one only records its start.
// Each line: "start <pid> <previous pid still alive: 0/1> <arguments joined by U+241F>" or "exit <pid>".
#include "Services/AppRelaunch.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

namespace {

QString logPath;

void record(const QString &line)
{
    QFile log(logPath);
    if (log.open(QIODevice::Append | QIODevice::Text))
        log.write((line + QLatin1Char('\n')).toUtf8());
}

bool isRunning(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(") ");
    const char state = end >= 0 && line.size() > end + 2 ? line.at(end + 2) : 'X';
    return state != 'Z' && state != 'X';
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3)
        return 2;
    logPath = arguments.at(1);
    const QString mode = arguments.at(2);

    QFile existing(logPath);
    QByteArray before;
    if (existing.open(QIODevice::ReadOnly))
        before = existing.readAll();
    existing.close();
    qint64 previous = 0;
    if (before.startsWith("start "))
        previous = before.split(' ').at(1).toLongLong();
    const QString pid = QString::number(app.applicationPid());
    record(QStringLiteral("start %1 %2 %3")
               .arg(pid, previous && isRunning(previous) ? QStringLiteral("1") : QStringLiteral("0"),
                   arguments.mid(1).join(QChar(0x241F))));
    if (previous)
        return 0;

    unsigned long teardownMs = 200;
    if (mode == QLatin1String("relaunch")) {
        AppRelaunch::relaunch();
        app.exec();
        // As the quit path does: commit, which must not start a second reopen.
        AppRelaunch::commitPendingIfNeeded();
        AppRelaunch::commitPendingIfNeeded();
        // A slow teardown, longer than any fixed delay would have waited.
        teardownMs = 1500;
    } else if (mode == QLatin1String("commit")) {
        AppRelaunch::setPendingBundleURL(AppRelaunch::Bundle::current());
        AppRelaunch::commitPendingIfNeeded();
    } else if (mode == QLatin1String("cancel")) {
        AppRelaunch::relaunch();
        app.exec();
        if (!AppRelaunch::cancelPending())
            return 3;
        AppRelaunch::commitPendingIfNeeded();
    } else if (mode == QLatin1String("nothing")) {
        AppRelaunch::commitPendingIfNeeded();
    }
    QThread::msleep(teardownMs);
    record(QStringLiteral("exit %1").arg(pid));
    return 0;
}
