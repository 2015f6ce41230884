#pragma once

#include "Documents/CaptureDraft.h"
#include "Rules/ScrollingCapture.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The text recognized over a scrolling capture's tiles; `failure`, the recognizer's reason, when it
// could not run at all (the text is then empty).
struct ScrollingCaptureText
{
    QString text;
    QList<CaptureTextObservation> observations;
    QStringList languages;
    bool lowConfidence = false;
    std::optional<QString> failure;
};

// What a scrolling capture answers: its saved draft, why it stopped (a limit or a pause means the
// content may go on below what was kept) and, when text recognition could not run at all, the
// error to show in the review; the draft then holds no text, but its tiles are kept for Retry OCR.
// The last sections may still be being read when the scrolling ends: the draft then holds no text
// yet, and the coordinator's recognizedText() answers it once they are.
struct ScrollingCaptureResult
{
    CaptureDraft draft;
    ScrollingCaptureEnd end = ScrollingCaptureEnd::done;
    std::optional<QString> recognitionError;
    bool recognitionPending = false;
    // No step moved the view: what was kept is what was in view, however long the content is.
    bool stoodStill = false;
};
