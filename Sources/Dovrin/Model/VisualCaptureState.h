#pragma once

#include "Async/Task.h"
#include "Capture/SelectionOverlay.h"
#include "Model/ForeignApplication.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"

#include <QDateTime>
#include <QObject>

#include <memory>
#include <optional>

// What the region capture and the scrolling capture share: one capture task and generation (starting
// either cancels the other), one recognition task and generation, the overlay and scrolling
// coordinator of the capture that runs, and the application remembered by the last menu command.
// The capture flows keep their work here; the quit gate and the draft operations end it.
class VisualCaptureState
{
public:
    // Coordinators go on the next turn of the event loop: their own tasks may still be unwinding.
    struct DeleteLater
    {
        void operator()(QObject *object) const { object->deleteLater(); }
    };

    Task<> captureTask;
    int captureGeneration = 0;
    Task<> ocrTask;
    int ocrGeneration = 0;
    // The recognizer's own task that ocrTask awaits: cancelling ocrTask does not reach it.
    Task<OCRResult> recognition;
    std::unique_ptr<SelectionOverlayCoordinator, DeleteLater> overlay;
    std::unique_ptr<ScrollingCaptureCoordinator, DeleteLater> scrollingCapture;
    // Set while a scrolling capture runs (including its wait for Control Scrolling).
    std::optional<int> scrollingCaptureGeneration;
    std::optional<ForeignApplication> rememberedApplication;
    std::optional<QDateTime> rememberedApplicationAt;
    // Raised whenever the remembered application is asked for again, taken or dropped: an answer
    // still on its way then lands nowhere.
    int rememberGeneration = 0;

    // Clears the remembered application and drops an answer about it still on its way.
    void forgetRememberedApplication();
    // Drops the running recognition: its result no longer applies.
    void invalidateOCRTask();
    // Cancels the capture task, closes the overlay as cancelled and asks the scrolling capture to
    // end; its draft is the caller's to delete.
    void abandonCapture();
};
