#pragma once

#include "Async/Task.h"
#include "Documents/FolderBookmark.h"
#include "Rules/OCRLayout.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <exception>
#include <memory>

class ModelContext;
class ReviewSession;
class ScrollingRecognitionFlow;
struct CaptureDraft;

// The open capture review: recognizing its text (and again on request), copying it, choosing a
// folder for this capture alone, and saving it as Markdown into the first folder that is set of the
// review's own, the default and the last used one, with its receipt and recent entry.
class CaptureReviewFlow : public QObject
{
    Q_OBJECT

public:
    CaptureReviewFlow(ModelContext &context, ScrollingRecognitionFlow &scrolling, QObject *parent = nullptr);

    // Recognizes `image` for the draft `draftID`; a newer recognition or another draft drops it.
    void runOCR(QImage image, QUuid draftID);
    // Again: the still of a region capture, the tiles of a scrolling capture.
    void retryOCR();
    void cancelOCR();
    bool copyReviewedText();
    bool copyToPasteboard(const QString &text, const QString &successMessage);
    // Asks for this capture's folder over `parent`, the window that asked.
    Task<> chooseReviewFolder(QPointer<QWidget> parent);
    void applyReviewDestination(const FolderAccess &access);
    Task<> saveOpenReview();

    // The draft's title once `text` is recognized for the draft `draftID`: the title its open review
    // holds when the user typed one meanwhile (the review keeps it, and so must the draft, which is what
    // a crash brings back), else the text's first line.
    static QString titleAfterRecognition(ModelContext &context, const QUuid &draftID, const QString &text);
    // Recognized text of the draft `draftID` reached the draft: the open review of that draft shows it
    // (keeping a title the user typed) and the phase follows what was found.
    static void showRecognition(
        ModelContext &context, const QUuid &draftID, const QString &text, bool lowConfidence);
    // A recognition of the current generation ended without a result.
    static void recognitionEnded(ModelContext &context, std::exception_ptr failure);
    // Writes the draft in the background; the draft in memory stays current if that fails.
    static void saveDraftQuietly(ModelContext &context, const CaptureDraft &draft);

private:
    Task<> recognize(Task<OCRResult> work, int generation, QUuid draftID);
    void applyRefreshedFolder(const FolderAccess &original, const FolderAccess &refreshed,
        const std::shared_ptr<ReviewSession> &session);

    ModelContext &m_context;
    ScrollingRecognitionFlow &m_scrolling;
};
