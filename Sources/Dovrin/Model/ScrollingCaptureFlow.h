#pragma once

#include "Async/Task.h"
#include "Documents/EncryptedDraft.h"
#include "Model/ForeignApplication.h"
#include "Model/ScrollingRecognitionFlow.h"
#include "Scrolling/ScrollingCaptureResult.h"
#include "Vemi/VemiPrompt.h"

#include <QObject>

#include <optional>

class ModelContext;
class RegionCaptureFlow;

// One scrolling capture, from "Capture Scrolling Region…" (or the restart after a relaunch for
// Control Scrolling) to an open review: the one-time introduction, Control Scrolling (asked for,
// waited for, checked again after the selection), the overlay in scrolling mode, the window under
// the outline, and one run of the scrolling coordinator whose draft the review takes over. It
// shares the capture task, its generation and the abandon path with the region capture.
class ScrollingCaptureFlow : public QObject
{
    Q_OBJECT

public:
    static inline const QString introductionKey = QStringLiteral("scrolling-capture-introduction-v1");

    ScrollingCaptureFlow(ModelContext &context, RegionCaptureFlow &regionCapture,
        ScrollingRecognitionFlow &recognition, QObject *parent = nullptr);

    Task<> startScrollingCapture();
    // After activation: restarts the capture that a relaunch for Control Scrolling interrupted, once
    // setup counts as complete and Control Scrolling is allowed.
    void resumeScrollingCaptureAfterRelaunchIfNeeded();
    // True when the capture may go on; asks only until the introduction was answered "Select Region".
    Task<bool> confirmScrollingCaptureIntroductionIfNeeded();
    // True once Control Scrolling is allowed; false when the grant watch ended or 120 s passed.
    // Throws TaskCancelled once `generation` is no longer the capture's.
    Task<bool> waitForScrollingPermission(int generation);

    static ScrollingCapturePrompt introduction();
    // What the review says about a capture that ended before the content did; empty otherwise.
    static QString stoppedEarlyText(ScrollingCaptureEnd end);

private:
    Task<> capture(int generation, std::optional<ForeignApplication> remembered, EncryptedDraftStore store);
    // Control Scrolling for the capture of `generation`: true to go on, false to end quietly for a
    // relaunch; throws to end the capture.
    Task<bool> ensureScrollingPermission(int generation, bool refreshAfterConsent);
    // The finished capture's draft goes to the review; the coordinator, when it is still reading the
    // last sections, goes with it to fill the review.
    void handOver(const ScrollingCaptureResult &result, int generation,
        ScrollingRecognitionFlow::FinishedCapture coordinator);
    // Throws when the capture of `generation` was cancelled or replaced.
    void checkCurrent(int generation) const;
    bool scrollingAllowed() const;

    ModelContext &m_context;
    RegionCaptureFlow &m_regionCapture;
    ScrollingRecognitionFlow &m_recognition;
};
