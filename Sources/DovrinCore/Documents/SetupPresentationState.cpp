#include "Documents/SetupPresentationState.h"

#include "Documents/AppSettingsStore.h"

namespace {

constexpr int testCaptureStep = 4;

bool countsAsComplete(bool storedCompletion, int onboardingStep, bool hasRunTestCapture)
{
    return storedCompletion
        || (AppSettings::readableOnboardingStep(onboardingStep) >= testCaptureStep && hasRunTestCapture);
}

} // namespace

SetupPresentationState::SetupPresentationState(
    bool storedCompletion, int onboardingStep, bool hasRunTestCapture)
    : isComplete(countsAsComplete(storedCompletion, onboardingStep, hasRunTestCapture))
{ }

void SetupPresentationState::refreshCompletion(
    bool storedCompletion, int onboardingStep, bool hasRunTestCapture)
{
    isComplete = countsAsComplete(storedCompletion, onboardingStep, hasRunTestCapture);
}

bool SetupPresentationState::consumePresentation()
{
    const bool present = explicitPresentationPending || !isComplete;
    explicitPresentationPending = false;
    return present;
}

void SetupPresentationState::complete()
{
    isComplete = true;
    explicitPresentationPending = false;
}

void SetupPresentationState::prepareExplicitPresentation()
{
    explicitPresentationPending = true;
}
