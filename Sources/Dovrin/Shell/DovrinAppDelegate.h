#pragma once

#include "Async/Task.h"
#include "Async/TaskClock.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class QSessionManager;
class UnixSignalRelay;

// Launch, activation and the one quit path of the program.
//
// Every way of quitting ends in requestTermination(): the tray's and the windows' Quit, Ctrl+Q,
// SIGINT, SIGTERM, SIGHUP and SIGQUIT, the session manager, and any QCoreApplication::quit() (its Quit event
// is held back here). The quit gate runs once per attempt, and the program ends only when it agrees. A
// pending relaunch is started when the gate agrees and cancelled when it refuses, so a refused quit
// never leaves a second instance starting beside this one.
//
// A termination signal is not a question: the gate still keeps what it can, but the program ends
// whatever it answers, and at signalEndLimit even when it has not answered.
class DovrinAppDelegate : public QObject
{
    Q_OBJECT

public:
    using QuitGate = std::function<Task<bool>()>;
    // How long a termination signal waits for the gate: the ordinary quit of a recording (stop,
    // note, draft) takes about a second.
    static constexpr std::chrono::seconds signalEndLimit { 6 };

    explicit DovrinAppDelegate(const QStringList &arguments, QObject *parent = nullptr);
    ~DovrinAppDelegate() override;

    static bool isAudioSpike(const QStringList &arguments);
    bool isAudioSpike() const { return m_audioSpike; }

    // Asked whether the program may quit now; absent until set. A gate that throws refuses.
    void setPrepareForTermination(QuitGate gate) { m_gate = std::move(gate); }
    // Whether the gate has something to finish (and so might refuse); absent: never.
    void setOpenWork(std::function<bool()> openWork) { m_openWork = std::move(openWork); }

    // Holds back the application's Quit events and relays SIGINT, SIGTERM, SIGHUP, SIGQUIT and the
    // session manager.
    void install();

    // Installs window activation; with "--audio-spike" runs the self-test instead, which quits by itself.
    void applicationDidFinishLaunching();
    // Brings forward the user-facing windows, if any (not during the self-test).
    void applicationDidBecomeActive();

    void requestTermination();
    // A termination signal: the quit path runs, and the program ends however the gate answers.
    void terminateOnSignal();
    bool isTerminationPending() const;
    // The session manager asks, before it ends the session, whether it may. The quit starts, and
    // the answer comes at once: true when nothing is open (the gate cannot refuse); false when the
    // gate has work to finish first, after which the program quits by itself if the gate agrees.
    bool answerSessionEnd();

    // What ending the program means (default: leave the event loop with status 0).
    void setTerminateEffect(std::function<void()> effect) { m_terminate = std::move(effect); }
    // The clock of the signal's time limit (default: the system's).
    void setClock(TaskClock &clock) { m_clock = &clock; }

signals:
    void terminationCancelled();
    void terminationApproved();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Task<void> runQuitPath();
    void commitSessionData(QSessionManager &manager);
    // Ends the program, once.
    void end();

    bool m_audioSpike;
    QuitGate m_gate;
    std::function<bool()> m_openWork;
    Task<void> m_quitAttempt;
    bool m_approved = false;
    // A termination signal came: the gate's answer no longer decides.
    bool m_signalled = false;
    bool m_ended = false;
    std::function<void()> m_terminate;
    TaskClock *m_clock = &TaskClock::system();
    std::unique_ptr<TaskClock::Timer> m_signalLimit;
    UnixSignalRelay *m_signals = nullptr;
    Task<void> m_selfTest;
};
