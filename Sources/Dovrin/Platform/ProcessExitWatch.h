#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;

// Learns, on the thread it lives on, when processes end: one pidfd per process, read through the
// event loop. A process that already ended, or that cannot be opened, is left out.
class ProcessExitWatch : public QObject
{
    Q_OBJECT
public:
    ProcessExitWatch(
        const QList<qint64> &pids, std::function<void(qint64 pid)> onExit, QObject *parent = nullptr);
    ~ProcessExitWatch() override;

    // The processes still watched.
    QList<qint64> watchedProcessIDs() const;

private:
    struct Watched
    {
        qint64 pid = 0;
        int fd = -1;
        QSocketNotifier *notifier = nullptr;
    };
    void processEnded(int fd);

    std::function<void(qint64)> m_onExit;
    std::vector<Watched> m_watched;
};
