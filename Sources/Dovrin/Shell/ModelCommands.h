#pragma once

#include <functional>

// The model operations the menus call that belong to flows plugged into the model one by one:
// region and scrolling capture, the audio session's command, the review's save, copy and
// recognition, the capture folder. Each flow sets its own when it lands; a menu line whose
// operation is absent stays disabled rather than pretend to work.
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
};
