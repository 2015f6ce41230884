#pragma once

#include <QList>
#include <QString>

// What a recording went through, said to the user: in the tray while it records, in the review's note
// and in the saved note. Positions are seconds from the session's start.
namespace AudioRecordingNote {

// A stretch during which the sound server was away.
struct Gap
{
    double atSeconds = 0;
    double seconds = 0;

    friend bool operator==(const Gap &, const Gap &) = default;
};

// "The sound server was away at 0:04 for 5 s: that stretch is silent in both recordings." Several gaps
// are listed in one sentence; none gives an empty text.
QString serverGaps(const QList<Gap> &gaps);
// While it is away: "The sound server went away at 0:04. Recording goes on when it is back."
QString serverAway(double atSeconds);
// It did not come back in time: "The sound server went away at 0:04 and did not come back within 30 s:
// the recording ends there."
QString serverGone(double atSeconds, double waitedSeconds);
// A file could not be written: "The recording stopped at 0:06: “notes” could not be written (the disk is
// full). What was written until then is kept."
QString writeFailed(double atSeconds, const QString &folderName, const QString &reason);
// The program ended without stopping the recording: "The program ended while recording, at 0:42. What was
// written until then is kept."
QString endedWhileRecording(double atSeconds);
// The tray's short form of the same: "Recording stopped: “notes” could not be written (the disk is full)".
QString writeFailedStatus(const QString &folderName, const QString &reason);

// A length: "5 s" below a minute (at least 1 s), "1:05" from a minute on.
QString length(double seconds);

} // namespace AudioRecordingNote
