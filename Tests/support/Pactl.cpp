#include "Pactl.h"

#include <QProcess>

namespace Pactl {

bool run(const QStringList &arguments, QString *output)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}

int playbackCount()
{
    QString list;
    run({ QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs") }, &list);
    return list.isEmpty() ? 0 : int(list.count(QLatin1Char('\n')) + 1);
}

} // namespace Pactl
