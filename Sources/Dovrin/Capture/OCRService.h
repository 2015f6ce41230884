#pragma once

#include "Async/Task.h"
#include "Documents/CaptureTextObservation.h"
#include "Rules/OCRLayout.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <functional>
#include <stdexcept>

class QThreadPool;

// Text recognition could not run at all (no engine, no language data) or not on this image.
class OCRError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// On-device text recognition with Tesseract. Work runs on a small pool of worker threads, each
// with its own engine that stays loaded between calls while they come, and is let go (its memory
// given back) once its thread has been idle for engineIdleTime(); an engine is never shared between
// threads.
class OCRService : public QObject
{
    Q_OBJECT

public:
    explicit OCRService(QObject *parent = nullptr);

    // The text of one image, recognized on a worker thread: its lines with their boxes, the text
    // in reading order and the languages read. Throws OCRError when no engine can run or the image
    // is beyond it. Cancelling the task stops the engine within a moment.
    Task<OCRResult> recognizeText(QImage image);

    // recognizeText's work, on the calling thread with that thread's engine, helped by reading
    // threads with engines of their own. Throws TaskCancelled soon after `shouldStop` answers true;
    // it is asked from this thread alone.
    static OCRResult recognize(const QImage &image, const std::function<bool()> &shouldStop = {});

    // The lines of one image, on the calling thread with that thread's engine: boxes normalized to
    // the image with the origin at the bottom-left, confidences in 0..1. Throws OCRError.
    static QList<CaptureTextObservation> recognizeLines(const QImage &image);

    // Boxes in pixels of an image of the given size, origin at the bottom-left, as normalized boxes.
    static QList<CaptureTextObservation> normalized(
        QList<CaptureTextObservation> observations, QSize imageSize);

    // The languages the engine reads, as language codes ("en").
    static QStringList languages();

    // The worker threads shared by every OCRService.
    static QThreadPool *workers();

    // How long an idle recognition thread keeps its engine: 30 s unless set. Setting it applies to
    // threads that go idle from then on.
    static std::chrono::milliseconds engineIdleTime();
    static void setEngineIdleTime(std::chrono::milliseconds idle);

private:
    // recognizeLines with boxes in the image's pixels, origin at the bottom-left.
    static QList<CaptureTextObservation> readLines(
        const QImage &image, const std::function<bool()> &shouldStop);
};
