#include "Scrolling/ScrollingCaptureCoordinator.h"

#include "Capture/OCRService.h"
#include "Documents/ImageNormalization.h"
#include "Scrolling/ScrollingControlPanel.h"
#include "Scrolling/ScrollingOutlineChrome.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>

using namespace std::chrono_literals;

namespace {

// After a step, the first look comes this soon for each notch (a window draws each notch in turn), up
// to longestFirstLookDelay, the next one soon after, and later ones half as far apart again each
// time, up to lookInterval: a quick window is seen at once, a slow one costs few looks.
constexpr TaskClock::Duration firstLookDelayPerNotch = 6ms;
// Once a window has drawn its steps at once, a notch is looked at this soon; the partial looks catch
// the notches that come after.
constexpr TaskClock::Duration quickLookDelayPerNotch = 4ms;
constexpr TaskClock::Duration longestFirstLookDelay = 12ms;
constexpr TaskClock::Duration secondLookDelay = 6ms;
constexpr TaskClock::Duration lookInterval = 50ms;
// Two looks this far apart that agree mean the window has finished drawing the step: with the time a
// look takes, longer than a frame at 60 Hz, so a smooth scroll or a page drawn in stages changes
// between them and is looked at again.
constexpr TaskClock::Duration settleInterval = 16ms;
// A window seen moving over more than one look after a step (smooth scrolling, drawing in stages)
// is settled once it has stood still this long, looked at this often; longer, up to
// longestQuietTime, once it was seen pausing in the middle of a motion.
constexpr TaskClock::Duration animatedQuietTime = 90ms;
constexpr TaskClock::Duration animatedLookInterval = 30ms;
constexpr TaskClock::Duration longestQuietTime = 400ms;
// Such a window gets this long to start moving before a step counts as no movement.
constexpr TaskClock::Duration animatedStillWait = 2s;
// What still changes in a settled window: a caret, a small animation (share of cells).
constexpr double settledChange = 0.002;
// Steps whose first look showed the whole step and stayed so at the second look before a first look
// that shows the whole step is believed without the second; still, every so many steps it is checked.
constexpr int wholeFirstLooksToTrust = 4;
constexpr int firstLookCheckInterval = 16;
// A first look that shows part of the step is followed by a few more this far apart.
constexpr TaskClock::Duration partialLookDelay = 4ms;
constexpr int partialLooks = 4;
// Steps taken on their first looks whose rows no look a settle interval later has shown yet. A step
// is taken so only when it is short enough that the frame after them overlaps the last frame
// confirmed by as much again.
constexpr int firstLooksPending = 2;
// A window that keeps changing (an animation) is taken as it is after this long.
constexpr auto maximumSettleTime = 1500ms;
// A busy browser blanks part of the page before it moves it, or shows it moved with its lower part
// not drawn yet, for a while: it is looked at this often, this long, until it has drawn those rows.
constexpr TaskClock::Duration redrawLookInterval = 25ms;
constexpr TaskClock::Duration longestRedraw = 600ms;
// A step counts as no movement only once the window has had half as long again as its slowest
// reaction so far, and a little more, to start moving; this long before it has reacted once.
constexpr TaskClock::Duration firstReactionWait = 2500ms;
constexpr TaskClock::Duration reactionMargin = 300ms;
constexpr TaskClock::Duration shortestReactionWait = 400ms;
constexpr TaskClock::Duration longestReactionWait = 5s;
// Steps in a row that move nothing, each after the whole wait: the end of the content. One is
// enough after a step that moved less than it was expected to: it met the end.
constexpr int stillStepsAtEnd = 2;
// A step that moved all the way rarely met the end: a busy window stands still for well over a
// second before it moves what it was sent. The step after it counts as no movement only once the
// window has stood still this long.
constexpr TaskClock::Duration stillWaitAfterWholeStep = 5s;
constexpr int maximumNotches = 20;
// A step takes this share of the moving rows: few steps, with overlap enough to align.
constexpr double stepShare = 0.75;
// Recent confirmed steps the pixels per notch are the median of.
constexpr int perNotchSamples = 5;
// Confirmed steps that must agree before a step a few rows short counts as stopping short.
constexpr int consistentNotchSamples = 3;
// Rows of a flat stretch (one colour, a flat panel) taken on the expected step alone, in viewports,
// before the capture admits it no longer knows where it is.
constexpr int blindViewports = 8;
// Tiles are at least this tall (a whole viewport when that is taller), so long documents stay
// within the tile limit.
constexpr int minimumTileRows = 1024;
// No tile is shorter than this where the document allows, the last one included: the rows stacked on
// top of a tile for recognition (a third of it, up to 160) then hold a line cut by its seam whole.
constexpr int shortestTileRows = 480;
// Sections recognized at once, as many as the recognizer runs side by side. Tiles sealed meanwhile
// wait their turn in the draft, read back from it: the scrolling never waits for the recognizer, and
// no more tiles than these are held for it.
constexpr int sectionsReadAtOnce = 4;
// A sealed tile is its PNG plus the 12-byte nonce and the 16-byte tag.
constexpr qint64 sealOverhead = 28;

// Done during a step: the step's frame is not waited for, and the capture ends on the frame before.
struct StepInterrupted
{
};

double medianOf(std::deque<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Rows a step may fall short of the expected one and still count as whole: half a notch, or less
// for a window whose recent notches all moved alike (then a step that stops a few rows short met the
// end of the content).
double shortfallTolerance(const std::deque<double> &perNotch, int notches)
{
    const double median = medianOf(perNotch);
    if (int(perNotch.size()) < consistentNotchSamples)
        return median / 2;
    const auto [least, most] = std::minmax_element(perNotch.begin(), perNotch.end());
    return std::min(median / 2, (*most - *least) * notches + 2.0);
}

// The first look went all the way: the pixels fit the expected step, and no step short of it (rows
// that repeat fit a step a period shorter as well).
bool showsWholeStep(const ScrollingAlignment &alignment, int expected)
{
    const bool fits = alignment.basis == ScrollingAlignment::Basis::expectedStep
        || (alignment.basis == ScrollingAlignment::Basis::image
            && alignment.confidence >= ScrollingAlignment::minimumConfidence);
    return fits && !alignment.identical && !alignment.fitsShorterStep && expected > 0
        && alignment.offset == expected && (alignment.period == 0 || alignment.period > expected);
}

// The first look shows the window on its way to the expected step: the pixels alone place it short
// of it.
bool showsPartOfStep(const ScrollingAlignment &alignment, int expected)
{
    return !alignment.identical && alignment.basis == ScrollingAlignment::Basis::image
        && alignment.confidence >= ScrollingAlignment::minimumConfidence && alignment.offset > 0
        && alignment.offset < expected;
}

// The rows [first, second) of `earlier` look the same in `later`, `alignment.offset` rows higher,
// wherever `later` shows them between its fixed rows (columns that do not move with the content
// left out).
bool showsSameRows(
    const QImage &earlier, const QImage &later, std::pair<int, int> rows, const ScrollingAlignment &alignment)
{
    if (earlier.size() != later.size())
        return false;
    QList<std::pair<int, int>> compared;
    int left = 0;
    QList<std::pair<int, int>> excluded = alignment.excludedColumns;
    std::sort(excluded.begin(), excluded.end());
    for (const auto &[from, to] : excluded) {
        if (from > left)
            compared.append({ left, std::min(from, int(later.width())) });
        left = std::max(left, to);
    }
    if (left < later.width())
        compared.append({ left, later.width() });
    const int top = alignment.fixedTop;
    const int bottom = later.height() - alignment.fixedBottom;
    for (int row = std::max(0, rows.first); row < std::min(rows.second, int(earlier.height())); ++row) {
        const int shown = row - alignment.offset;
        if (shown < top || shown >= bottom)
            continue;
        const auto *a = reinterpret_cast<const quint32 *>(earlier.constScanLine(row));
        const auto *b = reinterpret_cast<const quint32 *>(later.constScanLine(shown));
        for (const auto &[from, to] : compared) {
            for (int x = from; x < to; ++x) {
                if ((a[x] ^ b[x]) & 0x00ffffffu)
                    return false;
            }
        }
    }
    return true;
}

QImage stacked(const QList<QImage> &parts, int width, int height)
{
    if (parts.size() == 1)
        return parts.first();
    QImage image(width, height, QImage::Format_RGB32);
    int y = 0;
    for (const QImage &part : parts) {
        for (int row = 0; row < part.height(); ++row)
            std::memcpy(image.scanLine(y + row), part.constScanLine(row), size_t(width) * 4);
        y += part.height();
    }
    return image;
}

} // namespace

ScrollingCaptureFailure::ScrollingCaptureFailure(ScrollingCaptureError error)
    : m_error(error)
    , m_what(ScrollingCaptureErrors::description(error).toUtf8())
{ }

ScrollingCaptureCoordinator::FrameFunctions ScrollingCaptureCoordinator::defaultFrameFunctions()
{
    auto analyzer = std::make_shared<ScrollingFrameAnalyzer>();
    FrameFunctions functions;
    functions.prepareFrame = [analyzer](QImage image) { return analyzer->prepare(std::move(image)); };
    functions.alignFrames
        = [analyzer](ScrollingFramePtr previous, ScrollingFramePtr current, QList<int> expected) {
              return analyzer->align(std::move(previous), std::move(current), std::move(expected));
          };
    functions.frameDifference = [analyzer](ScrollingFramePtr previous, ScrollingFramePtr current) {
        return analyzer->difference(std::move(previous), std::move(current));
    };
    return functions;
}

ScrollingCaptureCoordinator::ScrollingCaptureCoordinator(ScrollingRegionGeometry geometry,
    ScrollingCaptureTarget target, QUuid draftID, EncryptedDraftStore draftStore,
    CaptureViewport captureViewport, RecognizeText recognizeText, ScrollingCaptureLimits limits,
    ScrollingCaptureEnvironment environment, PrepareFrame prepareFrame, AlignFrames alignFrames,
    FrameDifference frameDifference, QObject *parent)
    : QObject(parent)
    , m_geometry(std::move(geometry))
    , m_target(std::move(target))
    , m_draftID(draftID)
    , m_store(std::move(draftStore))
    , m_captureViewport(std::move(captureViewport))
    , m_recognizeText(std::move(recognizeText))
    , m_limits(limits)
    , m_environment(std::move(environment))
    , m_prepareFrame(std::move(prepareFrame))
    , m_alignFrames(std::move(alignFrames))
    , m_frameDifference(std::move(frameDifference))
    , m_reactionLimit(firstReactionWait)
{
    if (!m_environment.clock)
        m_environment.clock = &TaskClock::system();
    if (m_environment.showsPanel) {
        m_panel = new ScrollingControlPanel;
        connect(m_panel, &ScrollingControlPanel::doneRequested, this, [this] { m_doneRequested = true; });
        connect(m_panel, &ScrollingControlPanel::cancelRequested, this, [this] { m_panelCanceled = true; });
        m_outline = std::make_unique<ScrollingOutlineChrome>();
    }
}

ScrollingCaptureCoordinator::~ScrollingCaptureCoordinator()
{
    for (const QMetaObject::Connection &connection : m_displayConnections)
        disconnect(connection);
    delete m_panel;
}

ScrollingControlPanel *ScrollingCaptureCoordinator::controlPanel() const
{
    return m_panel;
}

ScrollingOutlineChrome *ScrollingCaptureCoordinator::outline() const
{
    return m_outline.get();
}

int ScrollingCaptureCoordinator::notchesForStep(
    double pixelsPerNotch, int lastNotches, int movingRows, int period, double share)
{
    if (!std::isfinite(pixelsPerNotch) || pixelsPerNotch <= 0 || movingRows <= 0)
        return 1;
    double wanted = std::floor(share * movingRows / pixelsPerNotch);
    if (period > 0)
        wanted = std::min(wanted, std::floor((period - 1) / pixelsPerNotch));
    const int ceiling = std::clamp(3 * std::max(1, lastNotches), 1, maximumNotches);
    if (!(wanted >= 1))
        return 1;
    return wanted >= ceiling ? ceiling : int(wanted);
}

int ScrollingCaptureCoordinator::recognitionOverlap(int previousTileHeight, int tileHeight)
{
    if (previousTileHeight <= 0 || tileHeight <= 0)
        return 0;
    return std::min({ previousTileHeight, tileHeight / 3, 160 });
}

Task<ScrollingCaptureResult> ScrollingCaptureCoordinator::run()
{
    if (m_started)
        throw std::logic_error("a scrolling capture runs once");
    m_started = true;
    std::exception_ptr failure;
    std::optional<ScrollingCaptureResult> draft;
    try {
        Task<ScrollingCaptureResult> work = capture();
        draft = co_await work;
    } catch (...) {
        failure = std::current_exception();
    }
    hideChrome();
    if (failure) {
        // A tile still being written would be left behind by the removal.
        if (m_sealing.isValid() && !m_sealing.isFinished()) {
            try {
                Task<std::optional<ScrollingCaptureEnd>> sealing = m_sealing;
                co_await sealing;
            } catch (...) { }
        }
        for (const Recognition &recognition : m_recognitions)
            recognition.work.cancel();
        m_recognitions.clear();
        m_unread.clear();
        Task<void> discarding = discardStoredData();
        co_await discarding;
        std::rethrow_exception(failure);
    }
    co_return *draft;
}

void ScrollingCaptureCoordinator::checkpoint(Check check) const
{
    if (m_cancelRequested || m_panelCanceled || CurrentTask::isCancelled())
        throw ScrollingCaptureFailure(ScrollingCaptureError::canceled);
    if (check == Check::finishing)
        return;
    if (m_stepping && m_doneRequested)
        throw StepInterrupted {};
    if (m_displayChanged)
        throw ScrollingCaptureFailure(ScrollingCaptureError::displayChanged);
    if (m_environment.canPostScrollSteps && !m_environment.canPostScrollSteps())
        throw ScrollingCaptureFailure(ScrollingCaptureError::permissionRevoked);
    if (m_environment.isTargetAvailable && !m_environment.isTargetAvailable(m_target.windowID))
        throw ScrollingCaptureFailure(ScrollingCaptureError::targetUnavailable);
}

void ScrollingCaptureCoordinator::showChrome()
{
    const QRect region = m_geometry.globalRect.toAlignedRect();
    if (m_panel) {
        m_panel->placeOutside(region);
        m_panel->show();
    }
    if (m_outline)
        m_outline->show(region);
}

void ScrollingCaptureCoordinator::hideChrome()
{
    if (m_panel)
        m_panel->hide();
    if (m_outline)
        m_outline->hide();
    for (const QMetaObject::Connection &connection : m_displayConnections)
        disconnect(connection);
    m_displayConnections.clear();
}

void ScrollingCaptureCoordinator::observeDisplays()
{
    if (!m_environment.observesDisplayChanges || !qGuiApp)
        return;
    const auto changed = [this] { m_displayChanged = true; };
    m_displayConnections << connect(qGuiApp, &QGuiApplication::screenAdded, this, changed);
    m_displayConnections << connect(qGuiApp, &QGuiApplication::screenRemoved, this, changed);
    m_displayConnections << connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, changed);
    for (QScreen *screen : QGuiApplication::screens())
        m_displayConnections << connect(screen, &QScreen::geometryChanged, this, changed);
}

Task<ScrollingCaptureCoordinator::Frame> ScrollingCaptureCoordinator::grabFrame(QSize sameSize)
{
    TaskClock &clock = *m_environment.clock;
    TaskClock::TimePoint begun = clock.now();
    Task<QImage> capture = m_captureViewport(m_geometry);
    QImage image = co_await capture;
    spent(&ScrollingCaptureTimes::grabbing, begun);
    ++m_times.frames;

    checkpoint(Check::scrolling);
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        throw ScrollingCaptureFailure(ScrollingCaptureError::invalidFrame);
    // Another look at the same viewport comes back the same size unless the display changed.
    if (sameSize.isValid() && image.size() != sameSize)
        throw ScrollingCaptureFailure(
            m_displayChanged ? ScrollingCaptureError::displayChanged : ScrollingCaptureError::invalidFrame);
    begun = clock.now();
    QFuture<ScrollingFramePtr> preparing = m_prepareFrame(std::move(image));
    ScrollingFramePtr prepared = co_await preparing;
    spent(&ScrollingCaptureTimes::aligning, begun);

    if (!prepared || prepared->isNull())
        throw ScrollingCaptureFailure(ScrollingCaptureError::invalidFrame);
    co_return Frame { prepared->image(), prepared };
}

Task<ScrollingAlignment> ScrollingCaptureCoordinator::align(
    ScrollingFramePtr from, ScrollingFramePtr to, QList<int> expected)
{
    const TaskClock::TimePoint since = m_environment.clock->now();
    QFuture<ScrollingAlignment> aligning = m_alignFrames(std::move(from), std::move(to), std::move(expected));
    const ScrollingAlignment alignment = co_await aligning;
    spent(&ScrollingCaptureTimes::aligning, since);
    checkpoint(Check::scrolling);
    co_return alignment;
}

Task<ScrollingCaptureCoordinator::Frame> ScrollingCaptureCoordinator::lookAgain(
    TaskClock::Duration delay, QSize sameSize, TaskClock::TimePoint *seen)
{
    TaskClock &clock = *m_environment.clock;
    const TaskClock::TimePoint since = clock.now();
    co_await sleepFor(clock, delay);
    spent(&ScrollingCaptureTimes::waiting, since);
    if (seen)
        *seen = clock.now();
    Task<Frame> grabbing = grabFrame(sameSize);
    co_return co_await grabbing;
}

Task<ScrollingCaptureCoordinator::Look> ScrollingCaptureCoordinator::settledFrame(const Frame *reference,
    int notches, QList<int> expected, TaskClock::TimePoint notBefore, TaskClock::Duration stillWait)
{
    TaskClock &clock = *m_environment.clock;
    if (!reference) {
        Task<Frame> first = grabFrame();
        Frame opening = co_await first;
        Task<Frame> settling = settle(std::move(opening));
        Frame settled = co_await settling;
        co_return Look { std::move(settled), true, std::nullopt, clock.now() };
    }
    const TaskClock::TimePoint stepped = clock.now();
    const bool quick
        = !expected.isEmpty() && !m_firstLooksDistrusted && m_wholeFirstLooks >= wholeFirstLooksToTrust;
    TaskClock::Duration delay
        = std::min((quick ? quickLookDelayPerNotch : firstLookDelayPerNotch) * std::max(1, notches),
            longestFirstLookDelay);
    delay = std::max(delay, notBefore - stepped);
    co_await sleepFor(clock, delay);
    spent(&ScrollingCaptureTimes::waiting, stepped);
    TaskClock::TimePoint seen = clock.now();
    Task<Frame> first = grabFrame();
    Frame frame = co_await first;
    // Still means still: the window gets as long as it has needed so far, and more, to start moving.
    TaskClock::Duration interval { 0 };
    for (;;) {
        TaskClock::TimePoint begun = clock.now();
        QFuture<double> sinceStep = m_frameDifference(reference->prepared, frame.prepared);
        const double moved = co_await sinceStep;
        spent(&ScrollingCaptureTimes::aligning, begun);
        if (moved > settledChange)
            break;
        checkpoint(Check::scrolling);
        if (clock.now() - stepped >= std::max(m_reactionLimit, stillWait))
            co_return Look { std::move(frame), false, std::nullopt, seen };
        interval = interval == TaskClock::Duration(0)
            ? secondLookDelay
            : std::min<TaskClock::Duration>(interval * 3 / 2, lookInterval);
        Task<Frame> again = lookAgain(interval, frame.image.size(), &seen);
        Frame next = co_await again;
        begun = clock.now();
        QFuture<double> sinceLast = m_frameDifference(reference->prepared, next.prepared);
        const double movedSince = co_await sinceLast;
        spent(&ScrollingCaptureTimes::aligning, begun);
        if (movedSince > settledChange) {
            frame = std::move(next);
            break;
        }
        // Still at rest: what changes now changes on its own (a caret, an animation).
        begun = clock.now();
        QFuture<ScrollingFramePtr> marking
            = QtConcurrent::run([earlier = frame.prepared, later = next.prepared] {
                  return ScrollingFrameAnalyzer::restingLook(earlier, later);
              });
        next.prepared = co_await marking;
        spent(&ScrollingCaptureTimes::aligning, begun);
        frame = std::move(next);
    }
    checkpoint(Check::scrolling);
    noteReaction(clock.now() - stepped);
    // A first look that shows the whole step asked for, where no shorter step fits the pixels, cannot
    // be a smooth scroll or a burst of notches caught halfway; what it cannot rule out is a window
    // still drawing, which only this window's own record of second looks, and the next look at the
    // rows it brought, can.
    std::optional<ScrollingAlignment> whole;
    for (int part = 0; !expected.isEmpty() && !m_firstLooksDistrusted && !frame.prepared->hasChangedCells();
         ++part) {
        Task<ScrollingAlignment> aligning = align(reference->prepared, frame.prepared, expected);
        const ScrollingAlignment alignment = co_await aligning;
        if (showsWholeStep(alignment, expected.first())) {
            whole = alignment;
            break;
        }
        // Part of the notches drawn: the rest follow at once.
        if (!showsPartOfStep(alignment, expected.first()) || part >= partialLooks)
            break;
        Task<Frame> again = lookAgain(partialLookDelay, frame.image.size(), &seen);
        frame = co_await again;
    }
    if (whole && quick && ++m_quickLooks % firstLookCheckInterval != 0)
        co_return Look { std::move(frame), true, whole, seen };
    double firstChange = 0;
    Task<Frame> settling = settle(std::move(frame), &firstChange);
    Frame settled = co_await settling;
    if (whole) {
        if (firstChange > 0)
            m_firstLooksDistrusted = true;
        else
            ++m_wholeFirstLooks;
    }
    Task<Frame> drawing = redrawn(*reference, std::move(settled));
    settled = co_await drawing;
    co_return Look { std::move(settled), true, std::nullopt, clock.now() };
}

Task<ScrollingCaptureCoordinator::Frame> ScrollingCaptureCoordinator::redrawn(
    const Frame &reference, Frame frame)
{
    TaskClock &clock = *m_environment.clock;
    const TaskClock::TimePoint begun = clock.now();
    for (;;) {
        TaskClock::TimePoint since = clock.now();
        // Rows blanked where the window had not moved yet, or the lower part of a view it moved not
        // drawn yet.
        QFuture<bool> blanking = QtConcurrent::run([earlier = reference.prepared, later = frame.prepared] {
            const std::pair<int, int> blanked = ScrollingFrameAnalyzer::blankedRows(*earlier, *later);
            return blanked.first < blanked.second
                || ScrollingFrameAnalyzer::blankTail(*earlier, *later) < later->height();
        });
        const bool blanked = co_await blanking;
        spent(&ScrollingCaptureTimes::aligning, since);
        checkpoint(Check::scrolling);
        if (!blanked || clock.now() - begun >= longestRedraw)
            co_return frame;
        Task<Frame> again = lookAgain(redrawLookInterval, frame.image.size());
        Frame next = co_await again;
        since = clock.now();
        QFuture<double> comparing = m_frameDifference(frame.prepared, next.prepared);
        const double change = co_await comparing;
        spent(&ScrollingCaptureTimes::aligning, since);
        if (change <= settledChange)
            continue;
        Task<Frame> settling = settle(std::move(next));
        frame = co_await settling;
    }
}

Task<ScrollingCaptureCoordinator::Frame> ScrollingCaptureCoordinator::settle(Frame frame, double *firstChange)
{
    TaskClock &clock = *m_environment.clock;
    const TaskClock::TimePoint begun = clock.now();
    // The look that last showed the view moving, and whether one has agreed with the look before it
    // since.
    TaskClock::TimePoint lastMoved = begun;
    bool agreed = false;
    int moves = 0; // looks that differed from the one before
    for (bool first = true;; first = false) {
        checkpoint(Check::scrolling);
        Task<Frame> again = lookAgain(
            m_animates ? std::min(animatedLookInterval, m_quietTime) : settleInterval, frame.image.size());
        Frame next = co_await again;
        TaskClock::TimePoint since = clock.now();
        QFuture<double> comparing = m_frameDifference(frame.prepared, next.prepared);
        const double change = co_await comparing;
        if (first && firstChange)
            *firstChange = change;
        if (change > settledChange) {
            // Still moving two looks after it first moved: the window animates its steps (smooth
            // scrolling); it is settled only once it has stood still for longer than it pauses in the
            // middle of a motion. Rows drawn late or an animation in place are not a motion.
            if (!m_animates && ++moves >= 2) {
                Task<ScrollingAlignment> aligning = align(frame.prepared, next.prepared, {});
                const ScrollingAlignment moved = co_await aligning;
                // The whole view moved on, not part of it catching up with the rest (a torn draw).
                if (!moved.identical && moved.offset != 0 && moved.isConfident()
                    && moved.fixedTop + moved.fixedBottom < next.image.height() / 3)
                    animates();
            } else if (m_animates && agreed) {
                m_quietTime = std::clamp<TaskClock::Duration>(
                    std::max(m_quietTime, 3 * (since - lastMoved) / 2), animatedQuietTime, longestQuietTime);
            }
            lastMoved = since;
            agreed = false;
        } else {
            agreed = true;
        }
        // Cells that keep changing while the page is at rest (an animation) count neither here
        // nor in the alignment of the step.
        QFuture<ScrollingFramePtr> marking
            = QtConcurrent::run([earlier = frame.prepared, later = next.prepared] {
                  return ScrollingFrameAnalyzer::restingLook(earlier, later);
              });
        next.prepared = co_await marking;
        spent(&ScrollingCaptureTimes::aligning, since);
        frame = std::move(next);
        const TaskClock::Duration quiet = m_animates ? m_quietTime
            : m_lateMotion                           ? animatedQuietTime
                                                     : settleInterval;
        if ((change <= settledChange && since - lastMoved >= quiet)
            || clock.now() - begun >= maximumSettleTime)
            co_return frame;
    }
}

void ScrollingCaptureCoordinator::animates()
{
    if (m_animates)
        return;
    m_animates = true;
    m_firstLooksDistrusted = true;
    m_quietTime = animatedQuietTime;
}

void ScrollingCaptureCoordinator::spent(
    TaskClock::Duration ScrollingCaptureTimes::*stage, TaskClock::TimePoint since)
{
    m_times.*stage += m_environment.clock->now() - since;
}

void ScrollingCaptureCoordinator::noteReaction(TaskClock::Duration took)
{
    m_slowestReaction = std::max(m_slowestReaction, took);
    m_reactionLimit
        = std::clamp(3 * m_slowestReaction / 2 + reactionMargin, shortestReactionWait, longestReactionWait);
}

Task<ScrollingCaptureEnd> ScrollingCaptureCoordinator::pause()
{
    if (m_panel)
        m_panel->showMessage(ScrollingCaptureErrors::description(ScrollingCaptureError::alignmentAmbiguous));
    emit paused();
    // Without a panel nobody can answer: the capture ends with what it kept.
    while (m_panel && !m_doneRequested) {
        co_await sleepFor(*m_environment.clock, lookInterval);
        checkpoint(Check::finishing);
    }
    co_return ScrollingCaptureEnd::paused;
}

bool ScrollingCaptureCoordinator::fitsPixelLimit(qint64 extraPixels) const
{
    const qint64 pending = qint64(m_pendingHeight) * m_manifest.pixelWidth;
    return m_sealedPixels + pending + extraPixels <= m_limits.maxPixels;
}

bool ScrollingCaptureCoordinator::tileLimitReached() const
{
    return m_manifest.tiles.size() + (m_sealing.isValid() ? 1 : 0) >= m_limits.maxTiles;
}

void ScrollingCaptureCoordinator::appendRows(const QImage &frame, int fromRow, int toRow)
{
    m_sealableHeight = m_pendingHeight;
    if (toRow <= fromRow)
        return;
    m_pendingRows.append(frame.copy(0, fromRow, frame.width(), toRow - fromRow));
    m_pendingHeight += toRow - fromRow;
    m_documentHeight += toRow - fromRow;
}

void ScrollingCaptureCoordinator::dropRows(int rows)
{
    rows = std::min(rows, m_pendingHeight);
    m_pendingHeight -= rows;
    m_documentHeight -= rows;
    m_sealableHeight = std::min(m_sealableHeight, m_pendingHeight);
    while (rows > 0 && !m_pendingRows.isEmpty()) {
        QImage &last = m_pendingRows.last();
        if (last.height() <= rows) {
            rows -= last.height();
            m_pendingRows.removeLast();
        } else {
            last = last.copy(0, 0, last.width(), last.height() - rows);
            rows = 0;
        }
    }
}

std::optional<ScrollingCaptureEnd> ScrollingCaptureCoordinator::startSealing(int rows)
{
    rows = std::min(rows, m_pendingHeight);
    if (rows <= 0)
        return std::nullopt;
    // Once a tile found no room, nothing after it is kept: the document would have a gap.
    if (m_storageFull)
        return m_storageFull;
    if (tileLimitReached()) {
        if (m_manifest.tiles.isEmpty())
            throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
        m_storageFull = ScrollingCaptureEnd::tileLimit;
        return m_storageFull;
    }
    const int width = m_manifest.pixelWidth;
    QList<QImage> parts;
    QList<QImage> kept;
    int taken = 0;
    for (const QImage &part : std::as_const(m_pendingRows)) {
        const int wanted = rows - taken;
        if (wanted >= part.height()) {
            parts.append(part);
        } else if (wanted > 0) {
            parts.append(part.copy(0, 0, width, wanted));
            kept.append(part.copy(0, wanted, width, part.height() - wanted));
        } else {
            kept.append(part);
        }
        taken += std::min(wanted, int(part.height()));
    }
    ScrollingCaptureTile entry;
    entry.index = int(m_manifest.tiles.size());
    entry.pixelWidth = width;
    entry.pixelHeight = rows;
    entry.documentTop = m_documentHeight - m_pendingHeight;
    m_pendingRows = kept;
    m_pendingHeight -= rows;
    m_sealableHeight = std::max(0, m_sealableHeight - rows);
    m_sealedPixels += qint64(width) * rows;
    m_sealing = sealTile(entry, std::move(parts));
    return std::nullopt;
}

Task<std::optional<ScrollingCaptureEnd>> ScrollingCaptureCoordinator::sealTile(
    ScrollingCaptureTile entry, QList<QImage> parts)
{
    // Stacking and encoding run on a worker, sealing and the synced write on the store's thread, in
    // turn with the draft's other writes and its deletion; the capture scrolls on meanwhile.
    struct Sealed
    {
        QImage tile;
        std::optional<QByteArray> png;
        qint64 bytes = -1; // not stored: no room left
    };
    const qint64 room = m_limits.maxEncryptedBytes - m_sealedBytes - sealOverhead;
    QFuture<Sealed> encoding = QtConcurrent::run([entry, parts = std::move(parts), room] {
        Sealed sealed;
        sealed.tile = stacked(parts, entry.pixelWidth, entry.pixelHeight);
        sealed.png = ImageNormalization::pngData(sealed.tile);
        if (sealed.png && sealed.png->size() <= CaptureDraft::maximumPNGBytes && sealed.png->size() <= room)
            sealed.bytes = 0;
        return sealed;
    });
    Sealed sealed = co_await encoding;
    checkpoint(Check::finishing);
    if (!sealed.png)
        throw ScrollingCaptureFailure(ScrollingCaptureError::invalidFrame);
    if (sealed.bytes < 0) {
        if (m_manifest.tiles.isEmpty())
            throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
        m_storageFull = ScrollingCaptureEnd::byteLimit;
        co_return m_storageFull;
    }
    QFuture<qint64> sealing = QtConcurrent::run(
        storeThread(), [store = m_store, draftID = m_draftID, index = entry.index, png = *sealed.png] {
            return store.saveTilePNG(draftID, index, png);
        });
    sealed.bytes = co_await sealing;
    checkpoint(Check::finishing);
    m_sealedBytes += sealed.bytes;
    m_manifest.tiles.append(entry);
    m_manifest.pixelHeight = entry.documentTop + entry.pixelHeight;
    recognizeTile(sealed.tile, entry.index, entry.documentTop);
    co_return std::nullopt;
}

Task<std::optional<ScrollingCaptureEnd>> ScrollingCaptureCoordinator::sealed()
{
    if (!m_sealing.isValid())
        co_return std::nullopt;
    Task<std::optional<ScrollingCaptureEnd>> sealing = m_sealing;
    m_sealing = {};
    co_return co_await sealing;
}

void ScrollingCaptureCoordinator::recognizeTile(const QImage &tile, int index, int documentTop)
{
    if (m_recognitionFailed)
        return;
    const QImage above = std::exchange(m_previousTile, tile);
    if (!m_unread.empty() || int(m_recognitions.size()) >= sectionsReadAtOnce) {
        m_unread.push_back(index);
        readUnread();
        return;
    }
    const int overlap = above.width() == tile.width() ? recognitionOverlap(above.height(), tile.height()) : 0;
    QImage segment = tile;
    if (overlap > 0) {
        segment = stacked({ above.copy(0, above.height() - overlap, tile.width(), overlap), tile },
            tile.width(), overlap + tile.height());
    }
    Recognition recognition;
    recognition.segmentSize = segment.size();
    recognition.documentTop = std::max(0, documentTop - overlap);
    recognition.work = m_recognizeText(std::move(segment));
    m_recognitions.push_back(std::move(recognition));
    if (!m_collecting) {
        m_collecting = true;
        m_collector = collectRecognitions();
    }
}

void ScrollingCaptureCoordinator::readUnread()
{
    while (!m_unread.empty() && !m_recognitionFailed && int(m_recognitions.size()) < sectionsReadAtOnce) {
        const int index = m_unread.front();
        m_unread.pop_front();
        const ScrollingCaptureTile &tile = m_manifest.tiles.at(index);
        const int overlap = index > 0
            ? recognitionOverlap(m_manifest.tiles.at(index - 1).pixelHeight, tile.pixelHeight)
            : 0;
        Recognition recognition;
        recognition.segmentSize = QSize(tile.pixelWidth, overlap + tile.pixelHeight);
        recognition.documentTop = std::max(0, tile.documentTop - overlap);
        recognition.work = readSealedTile(index, overlap);
        m_recognitions.push_back(std::move(recognition));
    }
}

Task<OCRResult> ScrollingCaptureCoordinator::readSealedTile(int index, int overlap)
{
    // Opened in turn with the draft's other writes and its deletion, decoded on a worker.
    struct Sealed
    {
        QByteArray tile;
        QByteArray above;
    };
    QFuture<Sealed> opening
        = QtConcurrent::run(storeThread(), [store = m_store, draftID = m_draftID, index, overlap] {
              return Sealed { store.loadTilePNG(draftID, index),
                  overlap > 0 ? store.loadTilePNG(draftID, index - 1) : QByteArray() };
          });
    const Sealed sealed = co_await opening;
    QFuture<QImage> decoding = QtConcurrent::run([sealed, overlap] {
        const std::optional<QImage> tile = ImageNormalization::image(sealed.tile);
        const std::optional<QImage> above
            = overlap > 0 ? ImageNormalization::image(sealed.above) : std::optional<QImage>(QImage());
        if (!tile || !above
            || (overlap > 0 && (above->width() != tile->width() || above->height() < overlap)))
            return QImage();
        const QImage lower = tile->convertToFormat(QImage::Format_RGB32);
        if (overlap <= 0)
            return lower;
        const QImage upper = above->convertToFormat(QImage::Format_RGB32);
        return stacked({ upper.copy(0, upper.height() - overlap, upper.width(), overlap), lower },
            lower.width(), overlap + lower.height());
    });
    QImage segment = co_await decoding;
    if (segment.isNull())
        throw EncryptedDraftError(EncryptedDraftError::Code::corrupt);
    Task<OCRResult> reading = m_recognizeText(std::move(segment));
    co_return co_await reading;
}

Task<void> ScrollingCaptureCoordinator::collectRecognitions()
{
    while (!m_recognitions.empty()) {
        // Left in the queue while it is read: it counts among the sections read at once.
        const Recognition next = m_recognitions.front();
        try {
            Task<OCRResult> work = next.work;
            const OCRResult result = co_await work;
            for (const QString &language : result.languages) {
                if (!m_languages.contains(language))
                    m_languages.append(language);
            }
            m_text.append(result.observations, next.segmentSize, next.documentTop);
        } catch (const OCRError &error) {
            // The engine cannot run at all (no language data): no section will be read. The tiles
            // stay, and the review says why, as a region capture's review does.
            m_recognitionFailed = true;
            m_recognitionFailure = QString::fromUtf8(error.what());
            for (const Recognition &waiting : m_recognitions)
                waiting.work.cancel();
            m_recognitions.clear();
            m_unread.clear();
        } catch (...) {
            // A section that could not be read keeps no text; Retry OCR reads it again.
        }
        if (!m_recognitions.empty())
            m_recognitions.pop_front();
        readUnread();
    }
    m_collecting = false;
}

std::optional<int> ScrollingCaptureCoordinator::undrawnRows(
    const ScrollingAlignment &alignment, int scroll) const
{
    // Sealed rows cannot be taken again: the capture stops rather than keep them blank.
    const int stale = m_documentHeight - (scroll + alignment.undrawnFrom);
    if (stale > m_pendingHeight - m_sealableHeight)
        return std::nullopt;
    return std::max(stale, 0);
}

Task<ScrollingCaptureResult> ScrollingCaptureCoordinator::capture()
{
    checkpoint(Check::scrolling);
    showChrome();
    observeDisplays();
    CaptureState state;
    state.started = m_environment.clock->now();
    state.observedAt = QDateTime::currentDateTimeUtc();
    state.scrollPoint = m_geometry.rootPixelRect().center();
    Task<void> opening = openingLook(state);
    co_await opening;
    while (!state.end) {
        Task<bool> readying = readyToStep(state);
        if (!co_await readying)
            break;
        Task<std::optional<StepLook>> stepping = wheelStep(state);
        std::optional<StepLook> step = co_await stepping;
        if (!step)
            break;
        const Placed placed = place(state, *step);
        if (placed == Placed::pause) {
            Task<ScrollingCaptureEnd> pausing = pause();
            state.end = co_await pausing;
        } else if (placed == Placed::moved) {
            Task<void> sealing = sealReady(state);
            co_await sealing;
        }
    }
    Task<void> confirming = settleFirstLooks(state);
    co_await confirming;
    Task<ScrollingCaptureResult> finishing = finish(state);
    co_return co_await finishing;
}

Task<void> ScrollingCaptureCoordinator::openingLook(CaptureState &state)
{
    Task<Look> opening = settledFrame(nullptr, 0);
    Look first = co_await opening;
    startOn(state, std::move(first.frame));
    if (m_limits.maxTiles <= 0)
        throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
}

void ScrollingCaptureCoordinator::startOn(CaptureState &state, Frame first)
{
    state.previous = std::move(first);
    state.width = state.previous.image.width();
    state.height = state.previous.image.height();
    m_manifest.pixelWidth = state.width;
    m_tileTargetHeight = std::max(state.height, minimumTileRows);
}

Task<bool> ScrollingCaptureCoordinator::readyToStep(CaptureState &state)
{
    TaskClock &clock = *m_environment.clock;
    checkpoint(Check::scrolling);
    if (m_doneRequested) {
        state.end = ScrollingCaptureEnd::done;
        co_return false;
    }
    if (clock.now() - state.started >= m_limits.maxDuration) {
        state.end = ScrollingCaptureEnd::durationLimit;
        co_return false;
    }
    if (m_sealing.isFinished()) {
        Task<std::optional<ScrollingCaptureEnd>> previousTile = sealed();
        if ((state.end = co_await previousTile))
            co_return false;
    }
    co_return true;
}

QList<int> ScrollingCaptureCoordinator::expectedSteps(const Stepping &at)
{
    // The step asked for, in rows: what the last steps the pixels confirmed say a notch moves.
    const double perNotch = medianOf(at.perNotch);
    QList<int> steps;
    if (perNotch > 0) {
        steps << int(std::lround(at.notches * perNotch));
        if (at.lostNotches > 0)
            steps << int(std::lround((at.notches + at.lostNotches) * perNotch));
        if (at.owedRows > 0)
            steps << steps.last() + at.owedRows;
    }
    return steps;
}

Task<std::optional<ScrollingCaptureCoordinator::StepLook>> ScrollingCaptureCoordinator::wheelStep(
    CaptureState &state)
{
    Stepping &at = state.at;
    StepLook step;
    step.expected = expectedSteps(at);
    const QList<int> expected = step.expected;
    // A first look may do only where the pixels placed every step lately, and for a step short
    // enough that the frame after the next still overlaps the frame before this one well.
    const bool firstLookMayDo = !expected.isEmpty() && !at.unconfirmedFrom && at.lostNotches == 0
        && at.stillSteps == 0 && !at.stoppedShort && at.owedRows == 0 && at.blindRows == 0
        && int(state.quickSteps.size()) <= firstLooksPending
        && expected.first() * (firstLooksPending + 2) <= state.height - at.fixedTop - at.fixedBottom;
    step.before = at;
    ++m_times.steps;
    if (!m_environment.scrollDown(state.scrollPoint, at.notches)) {
        checkpoint(Check::scrolling);
        throw ScrollingCaptureFailure(ScrollingCaptureError::permissionRevoked);
    }
    // With as many steps as may be taken on their first looks pending, the next look comes no
    // sooner than a second look of the oldest would have: the rows it brought, alike in both,
    // are then as settled as any.
    // A window that animates its steps may start one late, and its notches would add up with
    // the next step's: a step of it is taken for still only once it has had a while to move.
    Task<Look> stepping = settledFrame(&state.previous, at.notches, firstLookMayDo ? expected : QList<int>(),
        int(state.quickSteps.size()) >= firstLooksPending ? state.quickSteps.front().seenAt + settleInterval
                                                          : TaskClock::TimePoint {},
        std::max(m_animates ? animatedStillWait : TaskClock::Duration(0),
            at.movedWhole && at.stillSteps == 0 ? stillWaitAfterWholeStep : TaskClock::Duration(0)));
    // Notches the window has not moved yet may come during this step.
    m_lateMotion = at.lostNotches > 0 || at.owedRows > 0;
    bool interrupted = false;
    m_stepping = true;
    try {
        step.look = co_await stepping;
        step.current = std::move(step.look.frame);
        if (step.current.image.size() != state.previous.image.size())
            throw ScrollingCaptureFailure(m_displayChanged ? ScrollingCaptureError::displayChanged
                                                           : ScrollingCaptureError::invalidFrame);
        // Many more rows than before stay put (a footer came into view, or the lower part of the view
        // is still where it was): not a step to take on its first look.
        const std::optional<ScrollingAlignment> &quick = step.look.alignment;
        if (quick
            && std::max(quick->fixedTop - at.fixedTop, quick->fixedBottom - at.fixedBottom)
                > quick->offset / 2) {
            step.look.alignment.reset();
            Task<Frame> settling = settle(std::move(step.current));
            step.current = co_await settling;
        }
        step.aligned = step.look.alignment;
        if (!step.aligned && step.look.changed) {
            Task<ScrollingAlignment> aligning
                = align(state.previous.prepared, step.current.prepared, expected);
            step.aligned = co_await aligning;
        }
        Task<void> confirming = confirmFirstLooks(state, step);
        co_await confirming;
    } catch (const StepInterrupted &) {
        interrupted = true;
    }
    m_stepping = false;
    if (interrupted) {
        state.end = ScrollingCaptureEnd::done;
        co_return std::nullopt;
    }
    co_return step;
}

Task<void> ScrollingCaptureCoordinator::confirmFirstLooks(CaptureState &state, StepLook &step)
{
    std::deque<QuickStep> &quickSteps = state.quickSteps;
    if (quickSteps.empty())
        co_return;
    Stepping &at = state.at;
    const std::optional<ScrollingAlignment> &aligned = step.aligned;
    // The rows steps took from their first looks must show the same here. Where they do not, a frame
    // was not drawn yet: the rows since the last frame confirmed go, and this frame, once settled, is
    // placed against that one.
    const bool still = !aligned || aligned->identical || (aligned->offset == 0 && aligned->isConfident());
    bool alike = still
        || (aligned->offset > 0 && aligned->isConfident()
            && aligned->basis != ScrollingAlignment::Basis::unchecked);
    ScrollingAlignment seen;
    if (!still)
        seen = *aligned;
    seen.fixedTop = still ? at.fixedTop : aligned->fixedTop;
    seen.fixedBottom = still ? at.fixedBottom : aligned->fixedBottom;
    const int shift = still ? 0 : aligned->offset;
    for (const QuickStep &quickStep : quickSteps) {
        seen.offset = at.scroll - quickStep.scroll + shift;
        alike = alike && showsSameRows(quickStep.frame.image, step.current.image, quickStep.rows, seen);
    }
    if (alike) {
        while (!quickSteps.empty() && quickSteps.front().seenAt + settleInterval <= step.look.seenAt)
            quickSteps.pop_front();
        co_return;
    }
    m_firstLooksDistrusted = true;
    ++m_times.retaken;
    if (step.look.alignment) {
        step.look.alignment.reset();
        Task<Frame> settling = settle(std::move(step.current));
        step.current = co_await settling;
    }
    // Every step since, or the earlier ones alone where the window met the end of the content.
    QList<int> notches;
    for (const QuickStep &quickStep : quickSteps)
        notches << quickStep.at.notches;
    notches << at.notches;
    QuickStep &first = quickSteps.front();
    dropRows(m_documentHeight - first.documentHeight);
    at = first.at;
    state.previous = std::move(first.before);
    quickSteps.clear();
    const double perNotch = medianOf(at.perNotch);
    at.notches = std::accumulate(notches.begin(), notches.end(), 0);
    step.expected = expectedSteps(at);
    for (int sum = at.notches; perNotch > 0 && notches.size() > 1;) {
        sum -= notches.takeLast();
        step.expected << int(std::lround(sum * perNotch));
    }
    Task<ScrollingAlignment> aligning = align(state.previous.prepared, step.current.prepared, step.expected);
    step.aligned = co_await aligning;
}

ScrollingCaptureCoordinator::Placed ScrollingCaptureCoordinator::place(CaptureState &state, StepLook &step)
{
    const Stepping &at = state.at;
    const QList<int> &expected = step.expected;
    ScrollingAlignment alignment;
    if (step.aligned) {
        alignment = *step.aligned;
    } else if (!ScrollingFrameAnalyzer::hidesStep(*step.current.prepared, at.fixedTop,
                   state.height - at.fixedBottom, expected.isEmpty() ? 1 : expected.first())) {
        alignment.identical = true;
    } else if (expected.isEmpty()) {
        // Rows of one colour and no step known yet: there is nothing to tell movement by.
        return Placed::pause;
    } else {
        // Rows that would look the same after the step (an empty area): it went as expected.
        alignment.offset = expected.first();
        alignment.basis = ScrollingAlignment::Basis::unchecked;
    }
    if (alignment.identical || (alignment.offset == 0 && alignment.isConfident()))
        return placeStill(state, std::move(step.current), alignment);
    return placeMoved(state, step, alignment);
}

ScrollingCaptureCoordinator::Placed ScrollingCaptureCoordinator::placeStill(
    CaptureState &state, Frame current, const ScrollingAlignment &alignment)
{
    Stepping &at = state.at;
    if (state.firstTaken && alignment.undrawnFrom >= 0) {
        // The rows the last frame showed blank are drawn now, where they were.
        const std::optional<int> stale = undrawnRows(alignment, at.scroll);
        if (!stale)
            return Placed::pause;
        if (*stale > 0) {
            dropRows(*stale);
            appendRows(current.image, alignment.undrawnFrom, alignment.undrawnFrom + *stale);
        }
    }
    state.previous = std::move(current);
    at.lostNotches += at.notches;
    // A step that stopped short met the end, unless the window glides: then it may have stopped on
    // its way.
    if (++at.stillSteps >= (at.stoppedShort && !m_animates ? 1 : stillStepsAtEnd))
        state.end = ScrollingCaptureEnd::endOfContent;
    // The notches that did not move may come with the next step, late: that step is kept short
    // enough that all of them together still overlap this frame.
    for (const double rows = medianOf(at.perNotch); at.notches > 1
         && (at.notches + at.lostNotches) * rows + at.owedRows
             > stepShare * (state.height - at.fixedTop - at.fixedBottom);)
        --at.notches;
    return Placed::still;
}

ScrollingCaptureCoordinator::Placed ScrollingCaptureCoordinator::placeMoved(
    CaptureState &state, StepLook &step, const ScrollingAlignment &alignment)
{
    Stepping &at = state.at;
    const QList<int> &expected = step.expected;
    const int width = state.width;
    const int height = state.height;
    const double perNotch = medianOf(at.perNotch);
    const bool unchecked = alignment.basis == ScrollingAlignment::Basis::unchecked;
    // Placed on the expected step alone: the pixels cannot tell it (a flat stretch), or a shorter
    // step fits as well, as it would where the content ended short of the step.
    const bool onPriorAlone = unchecked || alignment.fitsShorterStep;
    at.blindRows = unchecked ? at.blindRows + alignment.offset : 0;
    // Content that cannot be placed (repeated rows that fit several steps, a jump, a big change,
    // too long an empty stretch) pauses the capture with what is stitched so far.
    bool placed = alignment.isConfident() && alignment.offset >= 0 && at.blindRows <= blindViewports * height;
    if (placed && at.unconfirmedFrom) {
        if (!at.needsLineUp) {
            // The content moved on: the steps a shorter one fitted as well did not meet its end.
            at.unconfirmedFrom.reset();
        } else if (!unchecked) {
            // Distinct rows again after a flat stretch: the steps taken through it hold when this
            // one went as expected too, or fell short where the content ends.
            const double tolerance = std::max(2.0, perNotch / 4);
            const bool asExpected = alignment.basis == ScrollingAlignment::Basis::expectedStep
                || std::any_of(expected.begin(), expected.end(),
                    [&](int e) { return std::abs(alignment.offset - e) <= tolerance; });
            if (asExpected && !at.confirmsAtEnd) {
                at.unconfirmedFrom.reset();
                at.needsLineUp = false;
            } else if (!at.confirmsAtEnd && !expected.isEmpty() && alignment.offset < expected.first()) {
                at.confirmsAtEnd = true;
            } else {
                placed = false;
            }
        }
    }
    // With rows owed, the window may have moved any of them: another step the pixels fit as well
    // cannot be told from the one taken, at the end of the content or not.
    if (at.owedRows > 0 && (alignment.fitsShorterStep || alignment.fitsLongerStep))
        placed = false;
    if (!placed)
        return Placed::pause;
    // A step that moved the notches of steps taken for still: the window is slower than it
    // seemed.
    if (at.lostNotches > 0 && perNotch > 0 && alignment.offset > (at.notches + 0.5) * perNotch) {
        noteReaction(m_reactionLimit);
        animates();
    }
    const int fixedTop = unchecked ? at.fixedTop : alignment.fixedTop;
    const int fixedBottom = unchecked ? at.fixedBottom : alignment.fixedBottom;

    const int movingBottom = height - fixedBottom;
    const int newScroll = at.scroll + alignment.offset;
    if (!state.firstTaken) {
        if (!fitsPixelLimit(qint64(width) * movingBottom))
            throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
        appendRows(state.previous.image, 0, movingBottom);
        state.firstTaken = true;
    } else if (fixedBottom > at.fixedBottom) {
        // Rows the last step took as content stay put now (a footer or a floating button that came
        // into view): take them back while they are not sealed, and take what they hid from this
        // frame.
        const int stale
            = std::min(m_documentHeight - (at.scroll + movingBottom), m_pendingHeight - m_sealableHeight);
        if (stale > 0 && m_documentHeight - stale - newScroll >= fixedTop)
            dropRows(stale);
    }
    if (!unchecked && alignment.undrawnFrom >= 0) {
        // The last frame showed rows blank that this one shows drawn: they come from this one.
        const std::optional<int> stale = undrawnRows(alignment, at.scroll);
        if (!stale)
            return Placed::pause;
        dropRows(*stale);
    }
    const int from = m_documentHeight - newScroll;
    if (from < fixedTop) {
        // The step went past rows never seen: stop rather than leave a gap. What this step found
        // staying put at the bottom of the last frame is kept below its rows, as at any end: the
        // first frame's rows beside a floating button would be lost otherwise.
        at.fixedBottom = std::max(at.fixedBottom, fixedBottom);
        return Placed::pause;
    }
    if (movingBottom > from && !fitsPixelLimit(qint64(width) * (movingBottom - from))) {
        state.end = ScrollingCaptureEnd::pixelLimit;
        return Placed::ended;
    }
    if (at.unconfirmedFrom)
        at.unconfirmedFrom = std::min(*at.unconfirmedFrom, m_documentHeight);
    if (onPriorAlone && !at.unconfirmedFrom)
        at.unconfirmedFrom = m_documentHeight;
    at.needsLineUp = at.needsLineUp || unchecked;
    if (step.look.alignment) {
        state.quickSteps.push_back(QuickStep { state.previous, step.before, m_documentHeight, step.current,
            newScroll, { from, std::max(from, movingBottom) }, step.look.seenAt });
        ++m_times.firstLooks;
    }
    appendRows(step.current.image, from, movingBottom);
    const double tolerance = shortfallTolerance(at.perNotch, at.notches);
    at.stoppedShort = alignment.basis == ScrollingAlignment::Basis::image && !expected.isEmpty()
        && alignment.offset < expected.first() - tolerance;
    at.movedWhole = !at.stoppedShort;
    // The rest of a step seen short may come with the next one: a busy window moves notches late, an
    // animated one stalls on its way. It is expected then, and the next step kept short enough that
    // both together still overlap this frame above what stays put over it, and, where rows repeat,
    // that no two offsets it may move fit alike.
    const int asked = expected.isEmpty() ? 0 : expected.first() + at.owedRows;
    const int owed = alignment.offset < asked - tolerance ? asked - alignment.offset : 0;
    if (alignment.basis == ScrollingAlignment::Basis::image && at.lostNotches == 0 && !at.stoppedShort
        && at.owedRows == 0) {
        at.perNotch.push_back(double(alignment.offset) / at.notches);
        if (int(at.perNotch.size()) > perNotchSamples)
            at.perNotch.pop_front();
    }
    at.scroll = newScroll;
    at.fixedTop = fixedTop;
    at.fixedBottom = fixedBottom;
    at.stillSteps = 0;
    at.lostNotches = 0;
    // Steps stay shorter than the shortest period seen lately, until a viewport's worth of rows has
    // gone by without any repeating.
    if (alignment.period > 0) {
        at.period = at.period > 0 ? std::min(at.period, alignment.period) : alignment.period;
        at.periodFreeRows = 0;
    } else if ((at.periodFreeRows += alignment.offset) >= height) {
        at.period = 0;
    }
    at.notches
        = notchesForStep(medianOf(at.perNotch), at.notches, movingBottom - fixedTop, at.period, stepShare);
    at.owedRows = owed;
    for (const double rows = medianOf(at.perNotch);
         owed > 0 && at.period > 0 && at.notches > 1 && at.notches * rows + owed >= at.period;)
        --at.notches;
    for (const double rows = medianOf(at.perNotch);
         owed > 0 && at.notches > 1 && at.notches * rows + owed > stepShare * (movingBottom - fixedTop);)
        --at.notches;
    state.previous = std::move(step.current);
    return Placed::moved;
}

Task<void> ScrollingCaptureCoordinator::sealReady(CaptureState &state)
{
    // The rows of the last step stay pending, so a footer found in them later can be taken back, and
    // so do rows not confirmed yet, and enough rows for a last tile of its own.
    const int kept = state.at.unconfirmedFrom ? *state.at.unconfirmedFrom : m_documentHeight;
    const int sealable
        = std::min(m_sealableHeight, kept - shortestTileRows - (m_documentHeight - m_pendingHeight));
    if (sealable < m_tileTargetHeight)
        co_return;
    // One tile is sealed at a time, the previous one long done by now.
    const TaskClock::TimePoint since = m_environment.clock->now();
    Task<std::optional<ScrollingCaptureEnd>> previousTile = sealed();
    state.end = co_await previousTile;
    spent(&ScrollingCaptureTimes::sealing, since);
    if (!state.end)
        state.end = startSealing(sealable);
    if (!state.end && tileLimitReached())
        state.end = ScrollingCaptureEnd::tileLimit;
}

Task<void> ScrollingCaptureCoordinator::settleFirstLooks(CaptureState &state)
{
    // Stopped after steps taken on their first looks: their rows stay if a settled look shows them
    // alike, else the capture ends on the last frame confirmed. After a pause the window is no
    // longer where the last frame was: they go.
    if (state.quickSteps.empty())
        co_return;
    Stepping &at = state.at;
    bool alike = false;
    if (state.end != ScrollingCaptureEnd::paused) {
        Task<Frame> settling = settle(state.previous);
        const Frame settled = co_await settling;
        ScrollingAlignment still;
        still.fixedTop = at.fixedTop;
        still.fixedBottom = at.fixedBottom;
        alike = true;
        for (const QuickStep &step : state.quickSteps) {
            still.offset = at.scroll - step.scroll;
            alike = alike && showsSameRows(step.frame.image, settled.image, step.rows, still);
        }
    }
    if (!alike) {
        ++m_times.retaken;
        QuickStep &first = state.quickSteps.front();
        dropRows(m_documentHeight - first.documentHeight);
        at = first.at;
        state.previous = std::move(first.before);
    }
    state.quickSteps.clear();
}

Task<ScrollingCaptureResult> ScrollingCaptureCoordinator::finish(CaptureState &state)
{
    TaskClock &clock = *m_environment.clock;
    const Stepping &at = state.at;
    std::optional<ScrollingCaptureEnd> &end = state.end;
    const int width = state.width;
    const int height = state.height;
    // Rows nothing confirmed are taken back: the capture keeps what it knows and says it stopped.
    const bool rolledBack
        = at.unconfirmedFrom && !(end == ScrollingCaptureEnd::endOfContent && at.confirmsAtEnd);
    if (rolledBack) {
        dropRows(m_documentHeight - *at.unconfirmedFrom);
        if (end == ScrollingCaptureEnd::endOfContent) {
            Task<ScrollingCaptureEnd> pausing = pause();
            end = co_await pausing;
        }
    }
    // The rows still pending, with the footer below them once.
    const bool stoodStill = !state.firstTaken;
    if (!state.firstTaken) {
        if (!fitsPixelLimit(qint64(width) * height))
            throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
        appendRows(state.previous.image, 0, height);
    } else if (at.fixedBottom > 0 && !rolledBack) {
        // Rows that looked fixed only because they were blank may be stored already.
        const int from = std::max(height - at.fixedBottom, m_documentHeight - at.scroll);
        if (fitsPixelLimit(qint64(width) * (height - from)))
            appendRows(state.previous.image, from, height);
        else
            end = ScrollingCaptureEnd::pixelLimit;
    }
    TaskClock::TimePoint since = clock.now();
    Task<std::optional<ScrollingCaptureEnd>> previousTile = sealed();
    std::optional<ScrollingCaptureEnd> refused = co_await previousTile;
    if (!refused)
        refused = startSealing(m_pendingHeight);
    Task<std::optional<ScrollingCaptureEnd>> lastTile = sealed();
    if (const std::optional<ScrollingCaptureEnd> last = co_await lastTile)
        refused = last;
    if (refused)
        end = refused;
    spent(&ScrollingCaptureTimes::sealing, since);
    if (m_manifest.tiles.isEmpty())
        throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
    hideChrome();

    // The review opens at once: sections still being read fill it when they are.
    const bool pending = m_collecting;
    const ScrollingCaptureText recognized = pending ? ScrollingCaptureText {} : textSoFar();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    CaptureDraft draft(m_draftID, now, now, state.observedAt, QByteArray(), recognized.text, recognized.text,
        recognized.languages, recognized.observations, m_target.name,
        m_target.bundleID.isEmpty() ? std::nullopt : std::optional<QString>(m_target.bundleID),
        OCRLayout::defaultTitle(recognized.text), QString(), QStringList(), m_manifest, std::nullopt);
    since = clock.now();
    QFuture<void> saving = QtConcurrent::run(storeThread(), [store = m_store, draft] { store.save(draft); });
    co_await saving;
    spent(&ScrollingCaptureTimes::sealing, since);
    checkpoint(Check::finishing);
    co_return ScrollingCaptureResult { std::move(draft), *end, recognitionError(recognized), pending,
        stoodStill };
}

QImage ScrollingCaptureCoordinator::pendingImage() const
{
    return m_pendingRows.isEmpty() ? QImage()
                                   : stacked(m_pendingRows, m_manifest.pixelWidth, m_pendingHeight);
}

std::optional<QString> ScrollingCaptureCoordinator::recognitionError(const ScrollingCaptureText &text)
{
    if (!text.failure)
        return std::nullopt;
    return *text.failure + QStringLiteral(" Retry OCR or type the text.");
}

Task<ScrollingCaptureText> ScrollingCaptureCoordinator::recognizedText()
{
    TaskClock &clock = *m_environment.clock;
    const TaskClock::TimePoint since = clock.now();
    while (m_collecting) {
        Task<void> collecting = m_collector;
        co_await collecting;
    }
    spent(&ScrollingCaptureTimes::recognizing, since);
    co_return textSoFar();
}

Task<ScrollingCaptureResult> ScrollingCaptureCoordinator::withRecognizedText(ScrollingCaptureResult result)
{
    if (!result.recognitionPending)
        co_return result;
    Task<ScrollingCaptureText> reading = recognizedText();
    const ScrollingCaptureText recognized = co_await reading;
    CaptureDraft &draft = result.draft;
    draft.recognizedText = draft.reviewedText = recognized.text;
    draft.ocrLanguages = recognized.languages;
    draft.observations = recognized.observations;
    draft.title = OCRLayout::defaultTitle(recognized.text);
    result.recognitionError = recognitionError(recognized);
    result.recognitionPending = false;
    QFuture<void> saving = QtConcurrent::run(storeThread(), [store = m_store, draft] { store.save(draft); });
    co_await saving;
    co_return result;
}

ScrollingCaptureText ScrollingCaptureCoordinator::textSoFar() const
{
    // Text recognized before the engine failed is dropped with the rest: Retry OCR reads it all.
    if (m_recognitionFailed)
        return { {}, {}, {}, false,
            m_recognitionFailure.isEmpty() ? QStringLiteral("OCR did not finish.") : m_recognitionFailure };
    QStringList languages = m_languages;
    languages.sort();
    const QList<CaptureTextObservation> observations
        = m_text.normalizedObservations(QSize(m_manifest.pixelWidth, m_manifest.pixelHeight));
    return { m_text.assembledText(), observations, languages, OCRLayout::isLowConfidence(observations),
        std::nullopt };
}

QThreadPool *ScrollingCaptureCoordinator::storeThread() const
{
    return m_environment.storeThread ? m_environment.storeThread : QThreadPool::globalInstance();
}

Task<void> ScrollingCaptureCoordinator::discardStoredData()
{
    QFuture<void> deleting = QtConcurrent::run(storeThread(), [store = m_store] {
        try {
            store.deleteDraft();
        } catch (...) {
            // Whoever abandons the capture deletes again and tells the user what is left.
        }
    });
    co_await deleting;
}
