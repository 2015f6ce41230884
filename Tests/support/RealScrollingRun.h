#pragma once

#include "Rules/ScrollingCapture.h"
#include "Scrolling/ScrollingCaptureCoordinator.h"

#include <QString>

class ScrollingTestApplication;
class ScrollingTestDocument;

// One scrolling capture of a real application's column through the real coordinator, wheel,
// viewport reads and recognizer, as the program runs it (a pause is answered with Done once the
// panel says why), and what it kept, judged against the document record by record.
class RealScrollingRun
{
public:
    enum class Verdict {
        complete, // every line once, and the capture ended by itself at the end
        paused, // the lines from the top, once each, and the panel said it stopped
        limit, // the lines from the top, once each, and a capture limit ended it
        silentLoss, // lines missing at the end of a capture that said it reached the end
        silentDouble, // lines read twice (or a fixed bar kept more than once)
        hole, // lines missing above the last line kept
        failed, // the capture failed or could not be judged
    };
    struct Outcome
    {
        Verdict verdict = Verdict::failed;
        QString detail; // what the comparison found, or why it failed
        std::optional<ScrollingCaptureEnd> end;
        bool pausedWithMessage = false;
        double seconds = 0; // from the start to the draft
        double scrollingSeconds = 0; // from the start until the panel went away
        double screens = 0; // stitched height over the column's
        int linesReached = 0;
        int truthLines = 0;
        ScrollingCaptureTimes times;
        QString text; // recognized
    };

    // `recordTo`, when set: a folder the capture's frames, steps and times are recorded into.
    static Outcome capture(const ScrollingTestApplication &application, const ScrollingTestDocument &document,
        const QString &recordTo = {});
    static QString nameOf(Verdict verdict);
    // Silently wrong: what a person would save without being told.
    static bool isSilentFault(Verdict verdict)
    {
        return verdict == Verdict::silentLoss || verdict == Verdict::silentDouble || verdict == Verdict::hole;
    }
};
