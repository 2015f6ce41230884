#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

// Turns the given Unix signals (SIGINT, SIGTERM, SIGHUP...) into a Qt signal on the main thread. The handler
// only writes the signal's number into a pipe; the event loop reads it, so the quit path runs as ordinary
// main-thread code. One per process; destroying it restores the default handlers.
class UnixSignalRelay : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignalRelay(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~UnixSignalRelay() override;

    // False when the pipe or a handler could not be installed.
    bool isInstalled() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
    QList<int> m_signals;
};
