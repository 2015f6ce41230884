#pragma once

#include "Async/Task.h"

#include <QObject>
#include <QStringList>

#include <functional>

class QSessionManager;
class UnixSignalRelay;

// Launch, activation and the one quit path of the program.
//
// Every way of quitting ends in requestTermination(): the tray's and the windows' Quit, Ctrl+Q,
// SIGINT, SIGTERM, SIGHUP and SIGQUIT, the session manager, and any QCoreApplication::quit() (its Quit event
// is held back here). The quit gate runs once per attempt, and the program ends only when it agrees. A
// pending relaunch is started when the gate agrees and cancelled when it refuses, so a refused quit
// never leaves a second instance starting beside this one.
class DovrinAppDelegate : public QObject
{
    Q_OBJECT

public:
    using QuitGate = std::function<Task<bool>()>;

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
    bool isTerminationPending() const;
    // The session manager asks, before it ends the session, whether it may. The quit starts, and
    // the answer comes at once: true when nothing is open (the gate cannot refuse); false when the
    // gate has work to finish first, after which the program quits by itself if the gate agrees.
    bool answerSessionEnd();

    // What ending the program means (default: leave the event loop with status 0).
    void setTerminateEffect(std::function<void()> effect) { m_terminate = std::move(effect); }

signals:
    void terminationCancelled();
    void terminationApproved();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Task<void> runQuitPath();
    void commitSessionData(QSessionManager &manager);

    bool m_audioSpike;
    QuitGate m_gate;
    std::function<bool()> m_openWork;
    Task<void> m_quitAttempt;
    bool m_approved = false;
    std::function<void()> m_terminate;
    UnixSignalRelay *m_signals = nullptr;
    Task<void> m_selfTest;
};
