#include "Rules/AudioRecordingNote.h"

#include "Rules/AudioLevelMeter.h"

#include <QStringList>

#include <cmath>

namespace AudioRecordingNote {

QString length(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 59.5)
        return QStringLiteral("%1 s").arg(std::isfinite(seconds) ? std::max(1.0, std::round(seconds)) : 1.0);
    return AudioElapsed::label(std::round(seconds));
}

QString serverGaps(const QList<Gap> &gaps)
{
    if (gaps.isEmpty())
        return {};
    QStringList stretches;
    for (const Gap &gap : gaps)
        stretches
            << QStringLiteral("at %1 for %2").arg(AudioElapsed::label(gap.atSeconds), length(gap.seconds));
    const QString last = stretches.takeLast();
    const QString listed
        = stretches.isEmpty() ? last : stretches.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
    return QStringLiteral("The sound server was away %1: %2 silent in both recordings.")
        .arg(listed,
            gaps.size() == 1 ? QStringLiteral("that stretch is") : QStringLiteral("those stretches are"));
}

QString serverAway(double atSeconds)
{
    return QStringLiteral("The sound server went away at %1. Recording goes on when it is back.")
        .arg(AudioElapsed::label(atSeconds));
}

QString serverGone(double atSeconds, double waitedSeconds)
{
    return QStringLiteral(
        "The sound server went away at %1 and did not come back within %2: the recording ends there.")
        .arg(AudioElapsed::label(atSeconds), length(waitedSeconds));
}

QString writeFailed(double atSeconds, const QString &folderName, const QString &reason)
{
    return QStringLiteral(
        "The recording stopped at %1: “%2” could not be written (%3). What was written until then is kept.")
        .arg(AudioElapsed::label(atSeconds), folderName, reason);
}

QString endedWhileRecording(double atSeconds)
{
    return QStringLiteral("The program ended while recording, at %1. What was written until then is kept.")
        .arg(AudioElapsed::label(atSeconds));
}

QString writeFailedStatus(const QString &folderName, const QString &reason)
{
    return QStringLiteral("Recording stopped: “%1” could not be written (%2)").arg(folderName, reason);
}

} // namespace AudioRecordingNote
