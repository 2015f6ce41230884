#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Measures how long the main thread stops answering: a 5 ms repeating timer notes the longest gap
// between two of its ticks while the probe runs.
class MainThreadStallProbe : public QObject
{
public:
    explicit MainThreadStallProbe(QObject *parent = nullptr);

    void start();
    // The longest gap between ticks since start(), in milliseconds, minus the timer's own period.
    qint64 longestStallMs() const;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};
