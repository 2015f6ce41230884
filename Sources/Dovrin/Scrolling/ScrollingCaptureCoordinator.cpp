#include "Scrolling/ScrollingCaptureCoordinator.h"

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
#include <stdexcept>

using namespace std::chrono_literals;

namespace {

// After a step, the window gets this long before the first look.
constexpr auto afterStepDelay = 40ms;
// Two looks this far apart that agree mean the window has finished drawing the step.
constexpr auto settleInterval = 50ms;
// What still changes in a settled window: a caret, a small animation (share of cells).
constexpr double settledChange = 0.002;
// A window that keeps changing (an animation) is taken as it is after this long.
constexpr auto maximumSettleTime = 1500ms;
// A window that has not moved yet gets this long to react to the step before it counts as still.
constexpr auto reactionTime = 300ms;
// Steps in a row that move nothing: the end of the content.
constexpr int stillStepsAtEnd = 3;
constexpr int maximumNotches = 10;
// Tiles are at least this tall (a whole viewport when that is taller), so long documents stay
// within the tile limit.
constexpr int minimumTileRows = 1024;
// Sections being recognized at once; the scrolling waits while this many are.
constexpr int recognitionBacklog = 3;
// A sealed tile is its PNG plus the 12-byte nonce and the 16-byte tag.
constexpr qint64 sealOverhead = 28;

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
    functions.alignFrames = [analyzer](ScrollingFramePtr previous, ScrollingFramePtr current) {
        return analyzer->align(std::move(previous), std::move(current));
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

int ScrollingCaptureCoordinator::notchesForStep(double pixelsPerNotch, int lastNotches, int movingRows)
{
    if (!std::isfinite(pixelsPerNotch) || pixelsPerNotch <= 0 || movingRows <= 0)
        return 1;
    const double wanted = std::floor(0.5 * movingRows / pixelsPerNotch);
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

Task<CaptureDraft> ScrollingCaptureCoordinator::run()
{
    if (m_started)
        throw std::logic_error("a scrolling capture runs once");
    m_started = true;
    std::exception_ptr failure;
    std::optional<CaptureDraft> draft;
    try {
        Task<CaptureDraft> work = capture();
        draft = co_await work;
    } catch (...) {
        failure = std::current_exception();
    }
    hideChrome();
    if (failure) {
        for (const Recognition &recognition : m_recognitions)
            recognition.work.cancel();
        m_recognitions.clear();
        discardStoredData();
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

Task<ScrollingCaptureCoordinator::Frame> ScrollingCaptureCoordinator::grabFrame()
{

    Task<QImage> capture = m_captureViewport(m_geometry);
    QImage image = co_await capture;

    checkpoint(Check::scrolling);
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        throw ScrollingCaptureFailure(ScrollingCaptureError::invalidFrame);
    QFuture<ScrollingFramePtr> preparing = m_prepareFrame(std::move(image));
    ScrollingFramePtr prepared = co_await preparing;

    if (!prepared || prepared->isNull())
        throw ScrollingCaptureFailure(ScrollingCaptureError::invalidFrame);
    co_return Frame { prepared->image(), prepared };
}

Task<ScrollingCaptureCoordinator::Frame> ScrollingCaptureCoordinator::settledFrame(const Frame *reference)
{
    TaskClock &clock = *m_environment.clock;
    const TaskClock::TimePoint begun = clock.now();
    if (reference)
        co_await sleepFor(clock, afterStepDelay);
    Task<Frame> first = grabFrame();
    Frame frame = co_await first;
    for (;;) {
        checkpoint(Check::scrolling);
        co_await sleepFor(clock, settleInterval);
        Task<Frame> again = grabFrame();
        Frame next = co_await again;
        if (next.image.size() != frame.image.size())
            throw ScrollingCaptureFailure(m_displayChanged ? ScrollingCaptureError::displayChanged
                                                           : ScrollingCaptureError::invalidFrame);
        QFuture<double> comparing = m_frameDifference(frame.prepared, next.prepared);
        const double change = co_await comparing;
        // Cells that keep changing while the page is at rest (an animation) count neither here
        // nor in the alignment of the step.
        QFuture<ScrollingFramePtr> marking
            = QtConcurrent::run([earlier = frame.prepared, later = next.prepared] {
                  return ScrollingFrameAnalyzer::restingLook(earlier, later);
              });
        next.prepared = co_await marking;
        frame = std::move(next);
        const TaskClock::Duration waited = clock.now() - begun;
        if (change <= settledChange) {
            if (reference && waited < reactionTime) {
                QFuture<double> sinceStep = m_frameDifference(reference->prepared, frame.prepared);
                if (co_await sinceStep <= settledChange)
                    continue; // nothing happened yet: the window may be slow to take the step
            }
            break;
        }
        if (waited >= maximumSettleTime)
            break;
    }
    co_return frame;
}

bool ScrollingCaptureCoordinator::fitsPixelLimit(qint64 extraPixels) const
{
    const qint64 pending = qint64(m_pendingHeight) * m_manifest.pixelWidth;
    return m_sealedPixels + pending + extraPixels <= m_limits.maxPixels;
}

bool ScrollingCaptureCoordinator::tileLimitReached() const
{
    return m_manifest.tiles.size() >= m_limits.maxTiles;
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

bool ScrollingCaptureCoordinator::sealPending(int rows)
{
    rows = std::min(rows, m_pendingHeight);
    if (rows <= 0)
        return true;
    const bool first = m_manifest.tiles.isEmpty();
    const auto refuse = [first] {
        if (first)
            throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
        return false;
    };
    if (tileLimitReached())
        return refuse();
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
    const QImage tile = stacked(parts, width, rows);
    const std::optional<QByteArray> png = ImageNormalization::pngData(tile);
    if (!png)
        throw ScrollingCaptureFailure(ScrollingCaptureError::invalidFrame);
    if (png->size() > CaptureDraft::maximumPNGBytes
        || m_sealedBytes + png->size() + sealOverhead > m_limits.maxEncryptedBytes)
        return refuse();

    ScrollingCaptureTile entry;
    entry.index = int(m_manifest.tiles.size());
    entry.pixelWidth = width;
    entry.pixelHeight = rows;
    entry.documentTop = m_documentHeight - m_pendingHeight;
    m_sealedBytes += m_store.saveTilePNG(m_draftID, entry.index, *png);
    m_sealedPixels += qint64(width) * rows;
    m_manifest.tiles.append(entry);
    m_manifest.pixelHeight = entry.documentTop + entry.pixelHeight;
    m_pendingRows = kept;
    m_pendingHeight -= rows;
    m_sealableHeight = std::max(0, m_sealableHeight - rows);
    recognizeTile(tile, entry.documentTop);
    return true;
}

void ScrollingCaptureCoordinator::recognizeTile(const QImage &tile, int documentTop)
{
    const int overlap = m_previousTile.width() == tile.width()
        ? recognitionOverlap(m_previousTile.height(), tile.height())
        : 0;
    QImage segment = tile;
    if (overlap > 0) {
        segment = stacked(
            { m_previousTile.copy(0, m_previousTile.height() - overlap, tile.width(), overlap), tile },
            tile.width(), overlap + tile.height());
    }
    m_previousTile = tile;
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

Task<void> ScrollingCaptureCoordinator::collectRecognitions()
{
    while (!m_recognitions.empty()) {
        const Recognition next = std::move(m_recognitions.front());
        m_recognitions.pop_front();
        try {
            Task<OCRResult> work = next.work;
            const OCRResult result = co_await work;
            for (const QString &language : result.languages) {
                if (!m_languages.contains(language))
                    m_languages.append(language);
            }
            m_text.append(result.observations, next.segmentSize, next.documentTop);
        } catch (...) {
            // A section that could not be read keeps no text; the capture itself stands, and the
            // review offers to run recognition again.
        }
    }
    m_collecting = false;
}

Task<CaptureDraft> ScrollingCaptureCoordinator::capture()
{
    TaskClock &clock = *m_environment.clock;
    checkpoint(Check::scrolling);
    showChrome();
    observeDisplays();
    const TaskClock::TimePoint started = clock.now();
    const QDateTime observedAt = QDateTime::currentDateTimeUtc();
    const QPoint scrollPoint = m_geometry.rootPixelRect().center();

    Task<Frame> opening = settledFrame(nullptr);
    Frame previous = co_await opening;
    const int width = previous.image.width();
    const int height = previous.image.height();
    m_manifest.pixelWidth = width;
    m_tileTargetHeight = std::max(height, minimumTileRows);
    if (m_limits.maxTiles <= 0)
        throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);

    bool firstTaken = false; // the first frame's rows are in the document
    int scroll = 0; // document row of the previous frame's first row
    int fixedBottom = 0;
    int stillSteps = 0;
    int notches = 1;
    double pixelsPerNotch = 0;
    for (;;) {
        checkpoint(Check::scrolling);
        if (m_doneRequested || clock.now() - started >= m_limits.maxDuration)
            break;
        while (int(m_recognitions.size()) + (m_collecting ? 1 : 0) > recognitionBacklog) {
            co_await sleepFor(clock, settleInterval);
            checkpoint(Check::scrolling);
        }
        if (!m_environment.scrollDown(scrollPoint, notches)) {
            checkpoint(Check::scrolling);
            throw ScrollingCaptureFailure(ScrollingCaptureError::permissionRevoked);
        }
        Task<Frame> stepping = settledFrame(&previous);
        Frame current = co_await stepping;
        if (current.image.size() != previous.image.size())
            throw ScrollingCaptureFailure(m_displayChanged ? ScrollingCaptureError::displayChanged
                                                           : ScrollingCaptureError::invalidFrame);
        QFuture<ScrollingAlignment> aligning = m_alignFrames(previous.prepared, current.prepared);
        const ScrollingAlignment alignment = co_await aligning;
        checkpoint(Check::scrolling);

        if (alignment.identical || (alignment.offset == 0 && alignment.isConfident())) {
            previous = std::move(current);
            if (++stillSteps >= stillStepsAtEnd)
                break; // the end of the content
            continue;
        }
        // Content that cannot be placed with confidence (repeated rows, a jump, a big change)
        // pauses the capture: it ends with what is stitched so far.
        if (!alignment.isConfident() || alignment.offset < 0)
            break;
        stillSteps = 0;

        const int movingBottom = height - alignment.fixedBottom;
        const int newScroll = scroll + alignment.offset;
        if (!firstTaken) {
            if (!fitsPixelLimit(qint64(width) * movingBottom))
                throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
            appendRows(previous.image, 0, movingBottom);
            firstTaken = true;
        } else if (alignment.fixedBottom > fixedBottom) {
            // Rows the last step took as content stay put now (a footer or a floating button that
            // came into view): take them back while they are not sealed, and take what they hid
            // from this frame.
            const int stale
                = std::min(m_documentHeight - (scroll + movingBottom), m_pendingHeight - m_sealableHeight);
            if (stale > 0 && m_documentHeight - stale - newScroll >= alignment.fixedTop)
                dropRows(stale);
        }
        const int from = m_documentHeight - newScroll;
        if (from < alignment.fixedTop)
            break; // the step went past rows never seen: stop rather than leave a gap
        if (movingBottom > from && !fitsPixelLimit(qint64(width) * (movingBottom - from)))
            break;
        appendRows(current.image, from, movingBottom);
        scroll = newScroll;
        fixedBottom = alignment.fixedBottom;
        pixelsPerNotch = std::max(pixelsPerNotch, double(alignment.offset) / notches);
        notches = notchesForStep(pixelsPerNotch, notches, movingBottom - alignment.fixedTop);
        previous = std::move(current);

        // The rows of the last step stay pending, so a footer found in them later can be taken back.
        if (m_sealableHeight >= m_tileTargetHeight && (!sealPending(m_sealableHeight) || tileLimitReached()))
            break;
    }

    // The rows still pending, with the footer below them once.
    if (!firstTaken) {
        if (!fitsPixelLimit(qint64(width) * height))
            throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
        appendRows(previous.image, 0, height);
    } else if (fixedBottom > 0) {
        // Rows that looked fixed only because they were blank may be stored already.
        const int from = std::max(height - fixedBottom, m_documentHeight - scroll);
        if (fitsPixelLimit(qint64(width) * (height - from)))
            appendRows(previous.image, from, height);
    }
    sealPending(m_pendingHeight);
    if (m_manifest.tiles.isEmpty())
        throw ScrollingCaptureFailure(ScrollingCaptureError::storageLimitReached);
    hideChrome();

    while (m_collecting || !m_recognitions.empty()) {
        co_await sleepFor(clock, 30ms);
        checkpoint(Check::finishing);
    }
    checkpoint(Check::finishing);

    const QString text = m_text.assembledText();
    QStringList languages = m_languages;
    languages.sort();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    CaptureDraft draft(m_draftID, now, now, observedAt, QByteArray(), text, text, languages,
        m_text.normalizedObservations(QSize(m_manifest.pixelWidth, m_manifest.pixelHeight)), m_target.name,
        m_target.bundleID.isEmpty() ? std::nullopt : std::optional<QString>(m_target.bundleID),
        OCRLayout::defaultTitle(text), QString(), QStringList(), m_manifest, std::nullopt);
    m_store.save(draft);
    co_return draft;
}

void ScrollingCaptureCoordinator::discardStoredData()
{
    try {
        m_store.deleteDraft();
    } catch (...) {
        // Whoever abandons the capture deletes again and tells the user what is left.
    }
}
