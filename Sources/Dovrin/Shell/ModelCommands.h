#pragma once

#include <functional>

class AppModel;

// The model operations the menus call for captures, the audio session, the open review and the capture
// folder. live() reaches the model's own; tests put recorders in their place. A menu line whose operation is
// absent stays disabled rather than pretend to work, so the running program leaves none absent.
struct ModelCommands
{
    std::function<void()> handleCaptureInvocation;
    std::function<void()> startScrollingCapture;
    std::function<void()> cancelVisualCapture;
    std::function<void()> handleAudioInvocation;
    std::function<void()> openCaptureFolder;
    std::function<void()> saveOpenReview;
    std::function<void()> copyReviewedText;
    std::function<void()> retryOCR;
    std::function<void()> cancelOCR;

    // Every operation, each calling `model` while it exists.
    static ModelCommands live(AppModel &model);
};
