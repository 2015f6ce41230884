#pragma once

#include "Capture/ScrollingCaptureTarget.h"
#include "Capture/ScrollingRegionGeometry.h"

#include <QProcess>
#include <QRect>
#include <QStringList>

// The scroll_target helper window, started on the current $DISPLAY, with what it reports once on
// screen. Stopped (asked to quit, then killed) when destroyed.
class ScrollTargetProcess
{
public:
    ScrollTargetProcess() = default;
    ~ScrollTargetProcess();
    ScrollTargetProcess(const ScrollTargetProcess &) = delete;
    ScrollTargetProcess &operator=(const ScrollTargetProcess &) = delete;

    // Starts it with `arguments` and waits for its "ready" line; false when it did not come.
    bool start(const QStringList &arguments);
    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    quint64 window() const { return m_window; }
    // The column with its header and footer, without the scrollbar, in root window pixels.
    QRect region() const { return m_region; }
    QRect scrollbar() const { return m_scrollbar; }
    // In the pixels of the rendered column; empty without a caret.
    QRect caret() const { return m_caret; }

    // The window as a scrolling capture is told about it.
    ScrollingCaptureTarget captureTarget() const;

    // The whole column as scroll_target renders it with `arguments`; null on failure.
    static QImage render(const QStringList &arguments);
    // A rectangle of the primary screen, in root window pixels, as a scrolling capture is given it.
    static ScrollingRegionGeometry geometryOf(const QRect &region);

private:
    QProcess m_process;
    quint64 m_window = 0;
    QRect m_region;
    QRect m_scrollbar;
    QRect m_caret;
};
