#pragma once

#include "Async/TaskClock.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QString>

#include <chrono>
#include <optional>
#include <utility>

// A window that shows a scrolling capture what a real application showed it, as recorded (the
// fixtures under Tests/Scrolling/recordings). Each run of looks the recording aligned one after the
// other is a window of its own: at every wheel step it moves to the next look of the run, and after
// the last one it stands still, as content that ends there. Whatever the capture asks that the
// recording does not hold (a step before the window showed the last one, a step of another size
// than the one the recording made) is kept as a fault, for the test to fail with.
class RecordedWindow
{
public:
    // Every run of the recording in `folder`; `error` says why there is none.
    static QList<RecordedWindow> runsOf(const QString &folder, QString *error);

    QString name() const { return m_name; }
    // The same window from the look after `steps` on: a capture started there.
    RecordedWindow after(int steps) const;
    QSize size() const { return m_looks.first().size(); }
    // Steps whose rows the recording shows clear of what stays put at the bottom: the steps before
    // one that moved further than the rows above it, whose rows no look showed whole.
    int placeableSteps() const;
    int steps() const { return int(m_offsets.size()); }
    // The rows the recording showed up to `steps`, each once, in order, each as the look that first
    // showed it clear of what stays put at the bottom, and what stays put once, from the look of
    // that step.
    QImage content(int steps) const;

    // What the window showed after step `step` (from 1) before its look, each until so long after
    // the wheel event (a page blanked while it is drawn again), with the rows it showed blank.
    struct Meanwhile
    {
        QImage image;
        std::chrono::milliseconds until { 0 };
        std::pair<int, int> blanked;
    };
    QList<Meanwhile> meanwhile(int step) const { return m_meanwhile.value(step - 1); }
    // The looks before and after step `step` (from 1).
    QImage lookBefore(int step) const { return m_looks.at(step - 1); }
    QImage lookAfter(int step) const { return m_looks.at(step); }

    // The step `step` (from 1) moves `delay` after the wheel event, as a busy window does.
    void moveLate(int step, std::chrono::milliseconds delay) { m_delays.insert(step, delay); }

    void setClock(TaskClock *clock) { m_clock = clock; }
    QImage look();
    bool scrollDown(int notches);
    // The capture aligns the look after the last step expecting these steps, most likely first.
    void expects(const QList<int> &steps);
    // What the capture asked that the recording does not hold; empty when nothing.
    QString fault() const { return m_fault; }

private:
    int clearRows() const;

    QString m_name;
    QList<QImage> m_looks;
    QList<int> m_offsets; // rows step i + 1 moved the content
    QList<QList<int>> m_expected; // what the capture expected of step i + 1 then
    QList<QList<Meanwhile>> m_meanwhile; // of step i + 1
    int m_fixedBottom = 0;
    QMap<int, std::chrono::milliseconds> m_delays;
    TaskClock *m_clock = nullptr;
    int m_shown = 0;
    int m_steps = 0;
    std::optional<TaskClock::TimePoint> m_movesAt;
    TaskClock::TimePoint m_steppedAt {};
    QString m_fault;
};
