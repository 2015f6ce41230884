#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A sound server of the test's own, laid out like the run's: "spk" plays (the default output),
// "micsrc" feeds the virtual microphone "mic" (the default input). It has a runtime folder of its own
// and no session bus or display, so it neither meets the run's server nor the desktop's. Stopped by
// its pid when destroyed.
class PrivatePulseAudio
{
public:
    // Starts PulseAudio and waits up to ten seconds until it answers; isRunning() tells whether it did.
    PrivatePulseAudio();
    ~PrivatePulseAudio();
    PrivatePulseAudio(const PrivatePulseAudio &) = delete;
    PrivatePulseAudio &operator=(const PrivatePulseAudio &) = delete;

    bool isRunning() const { return m_ready && m_process.state() == QProcess::Running; }
    // "unix:<socket>", for PULSE_SERVER.
    QByteArray address() const;
    qint64 pid() const { return m_process.processId(); }
    // What the server wrote to its log: the reason when it did not start.
    QByteArray log() const;

    // Ends the server at once, as a crash does: its clients lose their connection.
    void kill();
    // Starts it again on the same address, with the same outputs and inputs, as a restart of the
    // desktop's sound server does; true once it answers.
    bool restart();

    // Runs `pactl` against this server; true when it exits with 0 within five seconds.
    bool pactl(const QStringList &arguments) const;

private:
    bool launch();

    QTemporaryDir m_runtime;
    QProcess m_process;
    bool m_ready = false;
};
