#include "Model/VisualCaptureState.h"

void VisualCaptureState::forgetRememberedApplication()
{
    ++rememberGeneration;
    rememberedApplication.reset();
    rememberedApplicationAt.reset();
}

void VisualCaptureState::invalidateOCRTask()
{
    ++ocrGeneration;
    ocrTask.cancel();
    ocrTask = Task<>();
    recognition.cancel();
    recognition = Task<OCRResult>();
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
