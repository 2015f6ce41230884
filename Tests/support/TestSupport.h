#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

class QProcess;

// Helpers shared by the tests.
namespace TestSupport {

// The folder that holds the test sources (fixtures, golden files).
QString sourceDir();
// The folder that holds the test executables and the helper programs built beside them.
QString binaryDir();

// The whole file; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Writes the whole file, replacing it and creating its folder; false when any of that fails.
bool writeFile(const QString &path, const QByteArray &data);

// The environment for a server a test starts for itself: without the run's display, session bus and
// sound server, which it would otherwise join (a second sound server gives up at once on a bus where the
// run's own holds its name), and with `runtimeDir` as its XDG_RUNTIME_DIR when one is given.
QProcessEnvironment serverEnvironment(const QString &runtimeDir = {});

// Returns once everything posted to the event loop before the call has run, and what that posted in
// turn, `hops` turns deep (a step deferred by two posts, such as a window-activation reconcile).
// False when it did not happen within five seconds.
bool runPostedHops(int hops = 2);

// Makes the process end (SIGKILL) as soon as the test does, however the test ends: nothing a test
// started outlives it. Call before starting it.
void endWithTest(QProcess &process);

} // namespace TestSupport
