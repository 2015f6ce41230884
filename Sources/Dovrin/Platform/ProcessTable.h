#pragma once

// The processes of this machine, read from /proc afresh on every call. A process that ended or
// cannot be read gives an absent or empty answer, never an error.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace ProcessTable {

// Every process id, ascending.
QList<qint64> allProcessIDs();
std::optional<qint64> parentOf(qint64 pid);
// When the process started, in clock ticks after boot: with the pid, it names one process for good.
std::optional<qint64> startTime(qint64 pid);
// The parent of every readable process.
QHash<qint64, qint64> parents();
// The program the process runs, as an absolute path ("(deleted)" removed); empty when unreadable.
QString executablePath(qint64 pid);
// Every argument, empty ones too, the program's name first; empty when unreadable.
QStringList commandLine(qint64 pid);
// One variable of the process's environment, when it can be read.
std::optional<QString> environmentValue(qint64 pid, const QByteArray &name);
// The Flatpak application id of a sandboxed process; empty otherwise.
QString flatpakAppID(qint64 pid);

// `roots` and every process that descends from one of them, through any number of generations.
QSet<qint64> descendants(const QSet<qint64> &roots, const QHash<qint64, qint64> &parents);
// Whether `pid` descends from (or is) one of `ancestors`.
bool descendsFrom(qint64 pid, const QSet<qint64> &ancestors);

} // namespace ProcessTable
