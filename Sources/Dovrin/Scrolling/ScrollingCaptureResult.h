#pragma once

#include "Documents/CaptureDraft.h"
#include "Rules/ScrollingCapture.h"

#include <QString>

#include <optional>

// What a scrolling capture answers: its saved draft, why it stopped (a limit or a pause means the
// content may go on below what was kept) and, when text recognition could not run at all, the
// error to show in the review; the draft then holds no text, but its tiles are kept for Retry OCR.
struct ScrollingCaptureResult
{
    CaptureDraft draft;
    ScrollingCaptureEnd end = ScrollingCaptureEnd::done;
    std::optional<QString> recognitionError;
};
