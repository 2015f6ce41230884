#pragma once

#include "Scrolling/ScrollingCaptureCoordinator.h"

#include <QJsonObject>
#include <QString>

#include <memory>

// Records what a scrolling capture saw, by wrapping the seams it is given: every viewport read (its
// pixels and times), every wheel step posted, every wait it set on its clock, and every alignment and
// difference it asked the analyzer for with the answers. Writes a fixture folder: the distinct
// viewports as PNG files and manifest.json (the format is described in the README beside the
// fixtures). Frames are encoded on a thread of its own, so the capture keeps its pace.
class ScrollingCaptureRecorder
{
public:
    explicit ScrollingCaptureRecorder(QString folder);
    ~ScrollingCaptureRecorder();
    ScrollingCaptureRecorder(const ScrollingCaptureRecorder &) = delete;
    ScrollingCaptureRecorder &operator=(const ScrollingCaptureRecorder &) = delete;

    ScrollingCaptureCoordinator::CaptureViewport viewport(ScrollingCaptureCoordinator::CaptureViewport inner);
    // Its wheel steps and clock recorded; the clock given must outlive the capture.
    ScrollingCaptureEnvironment environment(ScrollingCaptureEnvironment inner);
    ScrollingCaptureCoordinator::FrameFunctions frames(ScrollingCaptureCoordinator::FrameFunctions inner);

    // Waits for the frames, then writes the manifest with `about` (what was captured, how it ended)
    // merged in. False, with nothing half-written, when the folder cannot be written.
    bool finish(const QJsonObject &about);
    QString folder() const;

private:
    struct State;
    class Clock;
    static Task<QImage> recordedLook(std::shared_ptr<State> state,
        ScrollingCaptureCoordinator::CaptureViewport inner, ScrollingRegionGeometry geometry);
    std::shared_ptr<State> m_state;
    std::unique_ptr<Clock> m_clock;
};
