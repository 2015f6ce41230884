#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// Starts this same program again once the running process has ended.
//
// The reopen is a small detached shell that waits until this process has really exited (at most
// exitWaitLimit; it gives up when the process is still there then) and only then starts the same
// executable with the same arguments, so the new instance never races the old one for the hot-key
// grab or the draft file. Main thread only.
class AppRelaunch
{
public:
    // What to start again: this process's executable, arguments and working folder.
    struct Bundle
    {
        QString executablePath;
        QStringList arguments;
        QString workingDirectory;

        static Bundle current();
        bool operator==(const Bundle &) const = default;
    };

    static constexpr std::chrono::seconds exitWaitLimit { 10 };

    static std::optional<Bundle> pendingBundleURL();
    static void setPendingBundleURL(std::optional<Bundle> bundle);
    static bool isPending() { return pendingBundleURL().has_value(); }
    static bool didSpawnOpen();
    static void setDidSpawnOpen(bool spawned);

    // Starts the waiting reopen now. Answers whether the shell could be started; a failure is not
    // reported to the user and the termination goes on.
    static bool openBundleAfterDelay(const Bundle &bundle);
    // At termination: makes sure a pending relaunch happens exactly once.
    static void commitPendingIfNeeded();
    // The quit was refused after all: drops the pending relaunch and stops a reopen already waiting,
    // so no second instance starts beside this one. Answers whether anything was pending.
    static bool cancelPending();

    // The relaunch from a button or a permission: remember this process, start the reopen at once,
    // mark it spawned, then ask the application to quit.
    static void relaunch();
};
