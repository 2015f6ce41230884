#pragma once

// Whether setup counts as complete, and whether someone asked for the setup window explicitly.
struct SetupPresentationState
{
    bool isComplete = false;
    bool explicitPresentationPending = false;

    // Complete when the stored flag is set, or when the last step is reached and a test capture ran.
    SetupPresentationState(bool storedCompletion, int onboardingStep, bool hasRunTestCapture);

    // Recomputes isComplete the same way; the pending flag stays.
    void refreshCompletion(bool storedCompletion, int onboardingStep, bool hasRunTestCapture);
    // True when a presentation is pending or setup is not complete; clears the pending flag.
    bool consumePresentation();
    void complete();
    void prepareExplicitPresentation();

    bool operator==(const SetupPresentationState &) const = default;
};
