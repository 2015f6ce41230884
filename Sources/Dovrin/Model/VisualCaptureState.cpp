#include "Model/VisualCaptureState.h"

void VisualCaptureState::invalidateOCRTask()
{
    ++ocrGeneration;
    ocrTask.cancel();
    ocrTask = Task<>();
}

void VisualCaptureState::abandonCapture()
{
    ++captureGeneration;
    captureTask.cancel();
    captureTask = Task<>();
    if (overlay) {
        overlay->cancel();
        overlay.reset();
    }
    if (scrollingCapture) {
        scrollingCapture->setCancelRequested(true);
        scrollingCapture.reset();
    }
    scrollingCaptureGeneration.reset();
}
