#pragma once

#include <QString>
#include <QStringList>

// The sound server's command-line client, for setting up sinks, sources and modules in tests.
namespace Pactl {

// Runs `pactl` with the arguments; true when it exits with 0 within five seconds. Its standard
// output, trimmed, goes to `output`.
bool run(const QStringList &arguments, QString *output = nullptr);
// How many playback streams the server has now.
int playbackCount();

} // namespace Pactl
