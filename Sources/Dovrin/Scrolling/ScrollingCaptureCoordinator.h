#pragma once

#include "Async/Task.h"
#include "Capture/ScrollingCaptureTarget.h"
#include "Capture/ScrollingRegionGeometry.h"
#include "Documents/CaptureDraft.h"
#include "Documents/EncryptedDraft.h"
#include "Rules/OCRLayout.h"
#include "Rules/ScrollingCapture.h"
#include "Scrolling/ScrollingCaptureEnvironment.h"
#include "Scrolling/ScrollingCaptureResult.h"
#include "Scrolling/ScrollingFrameAnalyzer.h"

#include <QDateTime>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QUuid>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class ScrollingControlPanel;
class ScrollingOutlineChrome;

// Where the time of one capture went, along the path that scrolls: waiting for the window to react
// and settle, grabbing viewports, preparing and aligning frames, sealing tiles, and waiting for
// recognition once the scrolling ended.
struct ScrollingCaptureTimes
{
    TaskClock::Duration waiting { 0 };
    TaskClock::Duration grabbing { 0 };
    TaskClock::Duration aligning { 0 };
    TaskClock::Duration sealing { 0 };
    TaskClock::Duration recognizing { 0 };
    int frames = 0; // viewports grabbed
    int steps = 0; // wheel steps posted
    int firstLooks = 0; // steps taken on their first look
    int retaken = 0; // of those, steps whose rows a later look showed otherwise, taken again
};

// A scrolling capture that could not finish; `error` carries the text the user sees.
class ScrollingCaptureFailure : public std::exception
{
public:
    explicit ScrollingCaptureFailure(ScrollingCaptureError error);

    ScrollingCaptureError error() const { return m_error; }
    QString description() const { return ScrollingCaptureErrors::description(m_error); }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    ScrollingCaptureError m_error;
    QByteArray m_what;
};

// One scrolling capture: scrolls the target window under the outlined region step by step, keeps
// the rows each step reveals as sealed tiles of a new draft, recognizes their text, and answers the
// finished draft. Lives on the main thread; frame analysis and recognition run elsewhere.
class ScrollingCaptureCoordinator : public QObject
{
    Q_OBJECT

public:
    // The outlined rectangle as it looks now, at the outline's pixel size; null when unreadable.
    using CaptureViewport = std::function<Task<QImage>(ScrollingRegionGeometry)>;
    using RecognizeText = std::function<Task<OCRResult>(QImage)>;
    using PrepareFrame = std::function<QFuture<ScrollingFramePtr>(QImage)>;
    // The previous frame, the current one and the steps the capture expects (most likely first).
    using AlignFrames
        = std::function<QFuture<ScrollingAlignment>(ScrollingFramePtr, ScrollingFramePtr, QList<int>)>;
    using FrameDifference = std::function<QFuture<double>(ScrollingFramePtr, ScrollingFramePtr)>;

    struct FrameFunctions
    {
        PrepareFrame prepareFrame;
        AlignFrames alignFrames;
        FrameDifference frameDifference;
    };
    // Preparation, alignment and difference over one new ScrollingFrameAnalyzer.
    static FrameFunctions defaultFrameFunctions();

    ScrollingCaptureCoordinator(ScrollingRegionGeometry geometry, ScrollingCaptureTarget target,
        QUuid draftID, EncryptedDraftStore draftStore, CaptureViewport captureViewport,
        RecognizeText recognizeText, ScrollingCaptureLimits limits, ScrollingCaptureEnvironment environment,
        PrepareFrame prepareFrame, AlignFrames alignFrames, FrameDifference frameDifference,
        QObject *parent = nullptr);
    ~ScrollingCaptureCoordinator() override;

    // Runs the capture once. Answers the draft (saved before it is answered) and why the capture
    // ended when the user chose Done, the content ended or a limit was reached. Throws
    // ScrollingCaptureFailure (or a storage error) otherwise, after removing the draft and its tiles.
    // When the next viewport cannot be placed, the capture pauses: the panel tells why and Done
    // keeps what was stitched (at once when there is no panel).
    Task<ScrollingCaptureResult> run();
    // The text of every section, once the sections still being read when run() answered are.
    Task<ScrollingCaptureText> recognizedText();
    // `result` with that text in its draft, saved again, for those that need no review first.
    Task<ScrollingCaptureResult> withRecognizedText(ScrollingCaptureResult result);

    // Set to make a running capture end as canceled at its next check. Cancelling the task that
    // awaits run() does not reach the capture, which runs as a task of its own: this flag does.
    bool cancelRequested() const { return m_cancelRequested; }
    void setCancelRequested(bool requested) { m_cancelRequested = requested; }

    ScrollingControlPanel *controlPanel() const;
    ScrollingOutlineChrome *outline() const;
    const ScrollingCaptureTimes &times() const { return m_times; }

    // Wheel notches of the next step, given what one notch moves (pixels, 0 when unknown), the last
    // step's notches, the rows that move, the period of content that repeats (0 when it does not)
    // and the share of the moving rows a step may take, so consecutive frames always overlap:
    // growing at most threefold per step, and less than one period where a single notch is, so a
    // step that stops short at the end of repeated rows can be told from one a period longer.
    static int notchesForStep(
        double pixelsPerNotch, int lastNotches, int movingRows, int period = 0, double share = 0.5);
    // A strip recognized together with the bottom rows of the tile above it, so a line cut by the
    // seam is read whole: the rows of the previous tile to put on top.
    static int recognitionOverlap(int previousTileHeight, int tileHeight);

signals:
    // The capture stopped scrolling because it could not place the next viewport; the panel says so
    // and waits for Done or Cancel.
    void paused();

protected:
    struct Frame
    {
        QImage image;
        ScrollingFramePtr prepared;
    };
    // A frame once the window has finished drawing; `changed` tells whether it moved away from the
    // frame before the step at all.
    struct Look
    {
        Frame frame;
        bool changed = true;
        // Set when the frame was taken at its first look, already aligned to the frame before.
        std::optional<ScrollingAlignment> alignment;
        TaskClock::TimePoint seenAt {}; // when the frame was grabbed
    };
    // Where the capture stands between two steps.
    struct Stepping
    {
        int scroll = 0; // document row of the previous frame's first row
        int fixedTop = 0; // rows of the last aligned step that stayed put
        int fixedBottom = 0;
        int notches = 1;
        int lostNotches = 0; // sent since the content last moved, without moving it (yet)
        int stillSteps = 0;
        bool stoppedShort = false; // the last step moved less than expected
        bool movedWhole = false; // the last step that moved went as far as expected
        // Rows the notches sent should have moved and the settled looks did not show, where rows
        // repeat: a window that stopped between the notches of a step brings them with a later one.
        int owedRows = 0;
        int blindRows = 0; // taken on the expected step alone since the pixels last told anything
        // The document row from which rows stand on the expected step alone, not confirmed yet: a
        // flat stretch, or steps that a shorter step fits as well (rows that repeat).
        std::optional<int> unconfirmedFrom;
        // Some of them lie in a flat stretch: only a later step that goes as expected confirms them.
        bool needsLineUp = false;
        // A step after them moved less than expected: the end of the content explains it, if nothing
        // moves after it.
        bool confirmsAtEnd = false;
        int period = 0; // the shortest period of rows that repeat, seen lately
        int periodFreeRows = 0; // rows moved since rows last repeated
        std::deque<double> perNotch; // pixels per notch of recent steps the pixels confirmed
    };
    // A step taken on its first look, until a look at least a settle interval later shows the rows
    // it brought drawn alike.
    struct QuickStep
    {
        Frame before; // the frame before the step
        Stepping at; // where the capture stood before the step
        int documentHeight = 0; // before the rows it brought
        Frame frame;
        int scroll = 0; // document row of the frame's first row
        std::pair<int, int> rows; // the rows of the frame it brought
        TaskClock::TimePoint seenAt;
    };
    // One capture between its steps: the frame the next step is aligned to, where it stands, the steps
    // taken on their first looks and not confirmed yet, and why it ended once it has.
    struct CaptureState
    {
        Frame previous;
        int width = 0;
        int height = 0;
        QPoint scrollPoint;
        TaskClock::TimePoint started {};
        QDateTime observedAt;
        bool firstTaken = false; // the first frame's rows are in the document
        Stepping at;
        std::deque<QuickStep> quickSteps;
        std::optional<ScrollingCaptureEnd> end;
    };
    // What one wheel step showed: its look, aligned to the frame before it where the pixels tell.
    struct StepLook
    {
        Stepping before; // where the capture stood before the step
        QList<int> expected; // the steps expected of it, most likely first
        Look look;
        Frame current;
        std::optional<ScrollingAlignment> aligned;
    };
    enum class Placed {
        moved, // the step's rows are in the document
        still, // nothing moved (the end of the content, when it says so)
        ended, // a limit left no room for its rows
        pause, // it cannot be placed
    };

    // The capture as steps, in order: the opening look; whether another step may be taken; the step
    // and its settled look; its place in the document; sealing what is ready; and at the end, the
    // steps taken on their first looks, then the last rows and the draft.
    Task<void> openingLook(CaptureState &state);
    // The capture starts from `first`: the width of its document and of its tiles.
    void startOn(CaptureState &state, Frame first);
    Task<bool> readyToStep(CaptureState &state);
    // Empty when Done came during the step: the capture ends on the frame before it.
    Task<std::optional<StepLook>> wheelStep(CaptureState &state);
    // Rows steps took on their first looks, checked against the step's look; taken again from the
    // last frame confirmed when it shows them otherwise.
    Task<void> confirmFirstLooks(CaptureState &state, StepLook &step);
    Placed place(CaptureState &state, StepLook &step);
    // A step that left the view where it was: rows drawn since are taken again, and enough still
    // steps end the content.
    Placed placeStill(CaptureState &state, Frame current, const ScrollingAlignment &alignment);
    Placed placeMoved(CaptureState &state, StepLook &step, const ScrollingAlignment &alignment);
    Task<void> sealReady(CaptureState &state);
    Task<void> settleFirstLooks(CaptureState &state);
    Task<ScrollingCaptureResult> finish(CaptureState &state);
    static QList<int> expectedSteps(const Stepping &at);

    // Stitching: rows of a frame appended to the document.
    void appendRows(const QImage &frame, int fromRow, int toRow);
    // The rows not sealed yet, top to bottom.
    QImage pendingImage() const;
    int documentHeight() const { return m_documentHeight; }

private:
    enum class Check { scrolling, finishing };

    Task<ScrollingCaptureResult> capture();
    // `sameSize`, when valid: the size of the look this one follows.
    Task<Frame> grabFrame(QSize sameSize = {});
    // The frames aligned on the analyzer's thread, the time counted as aligning.
    Task<ScrollingAlignment> align(ScrollingFramePtr from, ScrollingFramePtr to, QList<int> expected);
    // The viewport again after `delay`, the size of the look before; `seen`, when given, receives
    // when it was taken.
    Task<Frame> lookAgain(TaskClock::Duration delay, QSize sameSize, TaskClock::TimePoint *seen = nullptr);
    // After a step of `notches` from `reference` (none: the first frame). `expected`: the steps the
    // capture expects, most likely first, when a first look showing the whole step may do (else
    // empty); the first look comes no sooner than `notBefore`; a window that has not moved is taken
    // for still no sooner than `stillWait` after the step (and its reaction limit).
    Task<Look> settledFrame(const Frame *reference, int notches, QList<int> expected = {},
        TaskClock::TimePoint notBefore = {}, TaskClock::Duration stillWait = {});
    // `frame`, settled after a step from `reference`, once the window has drawn again the rows it
    // shows blank where it had not moved yet, or the lower part of the view it moved; looked at
    // for a while, then as it is.
    Task<Frame> redrawn(const Frame &reference, Frame frame);
    // `firstChange`, when given, receives how much the second look differed from `frame`.
    Task<Frame> settle(Frame frame, double *firstChange = nullptr);
    void noteReaction(TaskClock::Duration took);
    // The window glides through its steps or starts them late: it is given longer to move and to
    // stand still, and its first looks are not taken.
    void animates();
    // Adds the time since `since` to one stage of m_times.
    void spent(TaskClock::Duration ScrollingCaptureTimes::*stage, TaskClock::TimePoint since);
    Task<ScrollingCaptureEnd> pause();
    void checkpoint(Check check) const;
    void showChrome();
    void hideChrome();
    void observeDisplays();

    // Takes the last `rows` rows back out of the document (pending rows only).
    void dropRows(int rows);
    // How many of the last rows the previous frame showed blank and this alignment shows drawn, to be
    // taken again; none when some of them are sealed already.
    std::optional<int> undrawnRows(const ScrollingAlignment &alignment, int scroll) const;
    bool fitsPixelLimit(qint64 extraPixels) const;
    // Takes the first `rows` pending rows as the next tile and starts sealing it off the main thread
    // (the previous one must be sealed); the limit that leaves no room for it.
    std::optional<ScrollingCaptureEnd> startSealing(int rows);
    Task<std::optional<ScrollingCaptureEnd>> sealTile(ScrollingCaptureTile entry, QList<QImage> parts);
    // Waits for the tile being sealed, if any: the limit that left no room for it.
    Task<std::optional<ScrollingCaptureEnd>> sealed();
    // No room for another tile, the one being sealed counted.
    bool tileLimitReached() const;

    // Starts reading tile `index`, just sealed, or queues it while the recognizer is busy.
    void recognizeTile(const QImage &tile, int index, int documentTop);
    // Starts reading queued tiles, from the draft, while there is room.
    void readUnread();
    // Tile `index` read back from the draft, with the last `overlap` rows of the one above on top.
    Task<OCRResult> readSealedTile(int index, int overlap);
    Task<void> collectRecognitions();
    ScrollingCaptureText textSoFar() const;
    // What the review says when the recognizer could not run.
    static std::optional<QString> recognitionError(const ScrollingCaptureText &text);

    Task<void> discardStoredData();
    QThreadPool *storeThread() const;

    ScrollingRegionGeometry m_geometry;
    ScrollingCaptureTarget m_target;
    QUuid m_draftID;
    EncryptedDraftStore m_store;
    CaptureViewport m_captureViewport;
    RecognizeText m_recognizeText;
    ScrollingCaptureLimits m_limits;
    ScrollingCaptureEnvironment m_environment;
    PrepareFrame m_prepareFrame;
    AlignFrames m_alignFrames;
    FrameDifference m_frameDifference;

    QPointer<ScrollingControlPanel> m_panel;
    std::unique_ptr<ScrollingOutlineChrome> m_outline;
    QList<QMetaObject::Connection> m_displayConnections;
    bool m_displayChanged = false;
    bool m_cancelRequested = false;
    bool m_panelCanceled = false;
    bool m_doneRequested = false;
    // Waiting for the frame of a step, which Done abandons.
    bool m_stepping = false;
    bool m_started = false;
    // How long the window has taken to start moving after a step, and how long a step may take
    // before it counts as no movement.
    TaskClock::Duration m_slowestReaction { 0 };
    TaskClock::Duration m_reactionLimit;
    // Steps whose first look showed the whole step, unambiguously, and that a second look found
    // unchanged; once enough have, such a first look is taken without waiting for the second, but
    // for a check now and then. A second look that changes, or rows a later look shows otherwise,
    // end that for the capture.
    int m_wholeFirstLooks = 0;
    // The window went on moving after it was first seen moving: it is settled only after standing
    // still for m_quietTime.
    bool m_animates = false;
    TaskClock::Duration m_quietTime { 0 };
    // Notches sent earlier may still move the window during this step.
    bool m_lateMotion = false;
    int m_quickLooks = 0;
    bool m_firstLooksDistrusted = false;
    ScrollingCaptureTimes m_times;

    // The document so far: sealed tiles, then rows not sealed yet.
    ScrollingCaptureManifest m_manifest;
    qint64 m_sealedBytes = 0;
    qint64 m_sealedPixels = 0;
    QList<QImage> m_pendingRows;
    int m_pendingHeight = 0;
    // Pending rows before those of the last step.
    int m_sealableHeight = 0;
    int m_documentHeight = 0;
    int m_tileTargetHeight = 0;
    std::optional<ScrollingCaptureEnd> m_storageFull;
    Task<std::optional<ScrollingCaptureEnd>> m_sealing;
    QImage m_previousTile;

    // Recognition behind the capture: a few sections at a time, their text taken in document order.
    struct Recognition
    {
        Task<OCRResult> work;
        QSize segmentSize;
        int documentTop = 0;
    };
    std::deque<Recognition> m_recognitions;
    std::deque<int> m_unread; // tiles sealed while the recognizer was busy, in document order
    bool m_collecting = false;
    Task<void> m_collector;
    // The recognizer could not run at all: no section is read any more.
    bool m_recognitionFailed = false;
    QString m_recognitionFailure; // the engine's own reason
    ScrollingTextAccumulator m_text;
    QStringList m_languages;
};
