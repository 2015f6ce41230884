#pragma once

#include "Async/Task.h"
#include "Capture/CapturedRegion.h"
#include "Capture/SelectionOverlay.h"
#include "Model/ForeignApplication.h"
#include "Rules/CapturePhase.h"

#include <QObject>
#include <QPointer>

#include <exception>
#include <optional>

class CaptureReviewFlow;
class ModelContext;

// The capture command and one region capture, from the command to an open review: the gates in
// their order, the stills and the selection overlay in the shared capture task, the new draft, and
// the one way back to idle for every capture that is canceled or fails. The scrolling capture uses
// the same gates, task slot and abandon path.
class RegionCaptureFlow : public QObject
{
    Q_OBJECT

public:
    RegionCaptureFlow(ModelContext &context, CaptureReviewFlow &review, QObject *parent = nullptr);

    // The hot key and the menu: what the command means now, then that.
    Task<> handleCaptureInvocation();
    // Begins a region capture or says why not; a review that is open comes forward instead.
    Task<> startCapture();
    // The menu's cancel for a selection or a scrolling capture in progress.
    Task<> cancelVisualCapture();

    // An unfinished draft waits for recovery: the recovery window is asked for instead.
    bool redirectToPendingDraftIfNeeded();
    // The application a menu command remembered within the last 2 s; none when it is older or was not
    // remembered (the capture then asks for the frontmost one). Both remembered fields are cleared.
    std::optional<ForeignApplication> consumeRememberedApplication();
    // The frontmost application of another program, asked on a worker.
    Task<ForeignApplication> frontmostApplication();
    // Ends every capture activity, deletes the draft and returns to idle with `message` (and a note
    // when the draft could not be deleted).
    Task<> abandonDraftReturningToIdle(QString message);

    // Setup is complete, or at its test-capture step, which needs a capture.
    bool setupAllowsCapture() const;
    // Gates shared with the scrolling capture; each answers true when it stopped the command.
    void refreshPermissionRows();
    bool setupBlocks();
    bool screenPermissionBlocks();
    // Brings the open review window forward.
    void focusReview();
    // A new overlay in `mode`, held as the capture's overlay and prepared for its stills.
    QPointer<SelectionOverlayCoordinator> makeOverlay(CaptureSelectionMode mode);
    // Clears the capture's overlay when it is still `overlay`; cancels it first when asked.
    void releaseOverlay(const QPointer<SelectionOverlayCoordinator> &overlay, bool cancel);
    // The message of an error that ended a capture: `canceled` for a cancellation, the error's own
    // text where it has one, else `fallback`.
    static QString failureText(std::exception_ptr error, const QString &canceled, const QString &fallback);

private:
    Task<> perform(CaptureInvocation::Action action);
    Task<> captureRegion(int generation, std::optional<ForeignApplication> remembered);
    Task<> acceptCapture(CapturedRegion region, ForeignApplication source, int generation);

    ModelContext &m_context;
    CaptureReviewFlow &m_review;
};
