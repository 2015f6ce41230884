#include "Services/AppRelaunch.h"

#include "Platform/ProcessTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

std::optional<AppRelaunch::Bundle> s_pending;
bool s_didSpawnOpen = false;
qint64 s_waiterPid = 0;

// $1 = the pid to outlive, $2 = its start time in clock ticks (so a reused pid is not mistaken
// for it), the rest = the command to run. A zombie counts as gone: the parent may be slow to reap.
const char *const waiterScript = R"sh(set -f
pid=$1 start=$2 limit=$3
shift 3
alive() {
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
    set -- ${stat##*") "}
    [ "$1" != Z ] && [ "$1" != X ] && [ "${20}" = "$start" ]
}
n=0
while alive; do
    n=$((n + 1))
    [ "$n" -gt "$limit" ] && exit 1
    sleep 0.1
done
exec "$@"
)sh";

QStringList originalArguments()
{
    // Qt takes its own options out of argv; /proc keeps what this process was really given.
    const QStringList arguments = ProcessTable::commandLine(QCoreApplication::applicationPid());
    return (arguments.isEmpty() ? QCoreApplication::arguments() : arguments).mid(1);
}

// The pid may have been reused once a waiter gave up: only ever signal our own waiter.
bool isOurWaiter(qint64 pid)
{
    if (pid <= 0)
        return false;
    const QStringList arguments = ProcessTable::commandLine(pid);
    return arguments.size() > 4 && arguments.at(3) == QLatin1String("quorvel-relaunch")
        && arguments.at(4) == QString::number(QCoreApplication::applicationPid());
}

} // namespace

AppRelaunch::Bundle AppRelaunch::Bundle::current()
{
    Bundle bundle;
    bundle.executablePath = QCoreApplication::applicationFilePath();
    // An update replaced the file while we ran: the new file at the same path is what should start.
    const QString deleted = QStringLiteral(" (deleted)");
    if (bundle.executablePath.endsWith(deleted))
        bundle.executablePath.chop(deleted.size());
    bundle.arguments = originalArguments();
    bundle.workingDirectory = QDir::currentPath();
    return bundle;
}

std::optional<AppRelaunch::Bundle> AppRelaunch::pendingBundleURL()
{
    return s_pending;
}

void AppRelaunch::setPendingBundleURL(std::optional<Bundle> bundle)
{
    s_pending = std::move(bundle);
}

bool AppRelaunch::didSpawnOpen()
{
    return s_didSpawnOpen;
}

void AppRelaunch::setDidSpawnOpen(bool spawned)
{
    s_didSpawnOpen = spawned;
}

bool AppRelaunch::openBundleAfterDelay(const Bundle &bundle)
{
    const std::optional<qint64> startTime = ProcessTable::startTime(QCoreApplication::applicationPid());
    if (!startTime || bundle.executablePath.isEmpty())
        return false;
    const qint64 steps = std::chrono::duration_cast<std::chrono::milliseconds>(exitWaitLimit).count() / 100;
    QStringList arguments { QStringLiteral("-c"), QString::fromLatin1(waiterScript),
        QStringLiteral("quorvel-relaunch"), QString::number(QCoreApplication::applicationPid()),
        QString::number(*startTime), QString::number(steps), bundle.executablePath };
    arguments += bundle.arguments;

    QProcess waiter;
    waiter.setProgram(QStringLiteral("/bin/sh"));
    waiter.setArguments(arguments);
    waiter.setWorkingDirectory(
        bundle.workingDirectory.isEmpty() ? QDir::currentPath() : bundle.workingDirectory);
    waiter.setStandardInputFile(QProcess::nullDevice());
    waiter.setStandardOutputFile(QProcess::nullDevice());
    waiter.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!waiter.startDetached(&pid))
        return false;
    s_waiterPid = pid;
    return true;
}

void AppRelaunch::commitPendingIfNeeded()
{
    if (!s_pending)
        return;
    const Bundle bundle = *s_pending;
    s_pending.reset();
    if (!s_didSpawnOpen)
        openBundleAfterDelay(bundle);
    s_didSpawnOpen = false;
}

bool AppRelaunch::cancelPending()
{
    if (!s_pending)
        return false;
    s_pending.reset();
    // The waiter has started nothing while we are alive; ending it ends the relaunch.
    if (s_didSpawnOpen && isOurWaiter(s_waiterPid))
        ::kill(pid_t(s_waiterPid), SIGTERM);
    s_waiterPid = 0;
    s_didSpawnOpen = false;
    return true;
}

void AppRelaunch::relaunch()
{
    const Bundle bundle = Bundle::current();
    setPendingBundleURL(bundle);
    // When the shell could not start, the termination path tries once more.
    setDidSpawnOpen(openBundleAfterDelay(bundle));
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
}
