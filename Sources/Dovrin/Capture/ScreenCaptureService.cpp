#include "Capture/ScreenCaptureService.h"

#include "Platform/ProcessTable.h"
#include "Platform/X11RootGrab.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QThreadPool>
#include <QtConcurrent>

#include <cmath>
#include <memory>
#include <mutex>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A pause between attempts, so displays that are still settling can finish.
constexpr auto settleDelay = 150ms;
// How long an application gets to repaint what one of our hidden windows covered.
constexpr auto exposeDelay = 120ms;

QImage asStill(const QPixmap &pixmap, double devicePixelRatio)
{
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

QList<ApplicationWindow> liveApplicationWindows()
{
    const QList<X11WindowInfo> windows = X11Windows::clientWindowsFrontToBack();
    if (windows.isEmpty())
        return {};
    const QList<DesktopEntry> entries = DesktopEntries::all();
    QList<ApplicationWindow> result;
    for (const X11WindowInfo &window : windows) {
        ApplicationWindow item;
        item.window = window;
        if (auto entry = ScreenCaptureService::applicationEntry(
                entries, window.announcedApplicationID, window.wmClassInstance, window.wmClassName)) {
            item.bundleID = entry->id;
            if (!entry->name.isEmpty())
                item.name = entry->name;
        } else if (!window.announcedApplicationID.isEmpty()) {
            item.bundleID = window.announcedApplicationID;
            if (item.bundleID.endsWith(QLatin1String(".desktop")))
                item.bundleID.chop(int(qstrlen(".desktop")));
        } else if (!window.wmClassName.isEmpty()) {
            item.bundleID = window.wmClassName.toLower();
        } else if (!window.wmClassInstance.isEmpty()) {
            item.bundleID = window.wmClassInstance.toLower();
        } else if (window.pid > 0) {
            item.bundleID = ProcessTable::executablePath(window.pid).section(QLatin1Char('/'), -1);
        }
        if (!item.name && !window.wmClassName.isEmpty())
            item.name = window.wmClassName;
        result.append(item);
    }
    return result;
}

} // namespace

ScreenCaptureService::Backend ScreenCaptureService::Backend::live()
{
    Backend backend;
    backend.displays = [] {
        QList<DisplayDescription> displays;
        for (QScreen *screen : QGuiApplication::screens())
            displays.append({ displayID(screen), screen->geometry(), screen->devicePixelRatio() });
        return displays;
    };
    backend.grabDisplay = [](const QString &displayID) -> QImage {
        QScreen *screen = screenForDisplayID(displayID);
        if (!screen)
            return {};
        const QRect frame = screen->geometry();
        // Relative to the screen: Qt maps these points to the screen's own pixels.
        return asStill(
            screen->grabWindow(0, 0, 0, frame.width(), frame.height()), screen->devicePixelRatio());
    };
    backend.grabRect = [](const QString &displayID, const QRect &pixelRect) -> QImage {
        QScreen *screen = screenForDisplayID(displayID);
        if (!screen || pixelRect.isEmpty())
            return {};
        const double ratio = screen->devicePixelRatio();
        if (!(ratio > 0) || !std::isfinite(ratio))
            return {};
        // The points that cover the pixels, then the pixels cut out of what came back.
        const int left = int(std::floor(pixelRect.left() / ratio));
        const int top = int(std::floor(pixelRect.top() / ratio));
        const int right = int(std::ceil((pixelRect.right() + 1) / ratio));
        const int bottom = int(std::ceil((pixelRect.bottom() + 1) / ratio));
        const QImage grabbed = asStill(screen->grabWindow(0, left, top, right - left, bottom - top), 1.0);
        const QRect within(
            pixelRect.topLeft() - QPoint(int(std::lround(left * ratio)), int(std::lround(top * ratio))),
            pixelRect.size());
        if (grabbed.isNull() || !grabbed.rect().contains(within))
            return {};
        return grabbed.copy(within);
    };
    // One shared-memory reader for this backend, opened on first use, closed when let go or with the
    // last copy of the backend, while the X server is still there.
    struct Reader
    {
        std::mutex mutex;
        std::unique_ptr<X11RootGrab> grab;
    };
    const auto reader = std::make_shared<Reader>();
    backend.grabRootRect = [reader](const QRect &rootPixelRect) {
        const std::lock_guard lock(reader->mutex);
        if (!reader->grab)
            reader->grab = std::make_unique<X11RootGrab>();
        return reader->grab->grab(rootPixelRect);
    };
    backend.releaseRootReader = [reader] {
        const std::lock_guard lock(reader->mutex);
        reader->grab.reset();
    };
    backend.applicationWindows = [] { return liveApplicationWindows(); };
    backend.ownPid = qint64(::getpid());
    backend.ownWindowsOver = [](const QRectF &globalRect) {
        QList<QWindow *> covering;
        for (QWindow *window : QGuiApplication::topLevelWindows()) {
            if (window->isVisible() && QRectF(window->frameGeometry()).intersects(globalRect))
                covering.append(window);
        }
        return covering;
    };
    return backend;
}

std::optional<DesktopEntry> ScreenCaptureService::applicationEntry(const QList<DesktopEntry> &entries,
    const QString &announcedID, const QString &wmClassInstance, const QString &wmClassName)
{
    QString announced = announcedID;
    if (announced.endsWith(QLatin1String(".desktop")))
        announced.chop(int(qstrlen(".desktop")));
    if (!announced.isEmpty()) {
        for (const DesktopEntry &entry : entries) {
            if (entry.id == announced)
                return entry;
        }
    }
    for (Qt::CaseSensitivity cs : { Qt::CaseSensitive, Qt::CaseInsensitive }) {
        for (const DesktopEntry &entry : entries) {
            if (entry.startupWMClass.isEmpty())
                continue;
            if ((!wmClassName.isEmpty() && entry.startupWMClass.compare(wmClassName, cs) == 0)
                || (!wmClassInstance.isEmpty() && entry.startupWMClass.compare(wmClassInstance, cs) == 0))
                return entry;
        }
    }
    for (const QString &name : { wmClassName, wmClassInstance }) {
        if (name.isEmpty())
            continue;
        for (const DesktopEntry &entry : entries) {
            const QString lastPart = entry.id.section('.', -1);
            if (entry.id.compare(name, Qt::CaseInsensitive) == 0
                || (entry.id.contains('.') && lastPart.compare(name, Qt::CaseInsensitive) == 0))
                return entry;
        }
    }
    return std::nullopt;
}

QString ScreenCaptureService::displayID(const QScreen *screen)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    const auto base
        = [](const QScreen *s) { return s->name().isEmpty() ? QStringLiteral("display") : s->name(); };
    // Separate X screens all answer to the same name; count the earlier namesakes.
    int namesakes = 0;
    for (const QScreen *other : screens) {
        if (other == screen)
            break;
        if (base(other) == base(screen))
            ++namesakes;
    }
    return namesakes == 0 ? base(screen) : QStringLiteral("%1-%2").arg(base(screen)).arg(namesakes + 1);
}

QScreen *ScreenCaptureService::screenForDisplayID(const QString &displayID)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (ScreenCaptureService::displayID(screen) == displayID)
            return screen;
    }
    return nullptr;
}

ScreenCaptureService::ScreenCaptureService(QObject *parent)
    : ScreenCaptureService(Backend::live(), TaskClock::system(), parent)
{ }

ScreenCaptureService::ScreenCaptureService(Backend backend, TaskClock &clock, QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
    , m_clock(clock)
{ }

Task<QList<DisplaySnapshot>> ScreenCaptureService::snapshots(
    std::function<quint64()> topologyGeneration, std::function<void(quint64)> acceptStableGeneration)
{
    const auto generation = [&] { return topologyGeneration ? topologyGeneration() : quint64(0); };
    for (int attempt = 0; attempt < maximumAttempts; ++attempt) {
        if (attempt > 0)
            co_await sleepFor(m_clock, settleDelay);
        CurrentTask::checkCancelled();
        const quint64 before = generation();
        const QList<DisplayDescription> displays = m_backend.displays();
        if (displays.isEmpty())
            throw ScreenCaptureError(ScreenCaptureError::noDisplays);
        QList<DisplaySnapshot> stills;
        for (const DisplayDescription &display : displays) {
            QImage image = m_backend.grabDisplay(display.displayID);
            if (!image.isNull())
                stills.append({ display.displayID, display.frame, std::move(image) });
        }
        // One turn of the event loop delivers screen changes that happened while we read.
        co_await sleepFor(TaskClock::system(), 0ms);
        CurrentTask::checkCancelled();
        if (generation() == before && m_backend.displays() == displays) {
            if (stills.isEmpty())
                throw ScreenCaptureError(ScreenCaptureError::noDisplays);
            if (acceptStableGeneration)
                acceptStableGeneration(before);
            co_return stills;
        }
    }
    throw ScreenCaptureError(ScreenCaptureError::displaysChanged);
}

Task<QImage> ScreenCaptureService::scrollingViewport(ScrollingRegionGeometry geometry)
{
    QList<QPointer<QWindow>> hidden;
    // Shown again however this ends, also when the task is dropped while it waits.
    const auto showAgain = qScopeGuard([&hidden] {
        for (const QPointer<QWindow> &window : hidden) {
            if (window)
                window->show();
        }
    });
    if (m_backend.ownWindowsOver) {
        for (QWindow *window : m_backend.ownWindowsOver(geometry.globalRect)) {
            hidden.append(window);
            window->hide();
        }
    }
    if (!hidden.isEmpty())
        co_await sleepFor(m_clock, exposeDelay);
    if (m_backend.grabRootRect) {
        // Read off the main thread where the platform allows it.
        QFuture<QImage> reading = QtConcurrent::run(
            [grab = m_backend.grabRootRect, rect = geometry.rootPixelRect()] { return grab(rect); });
        QImage image = co_await std::move(reading);
        if (m_backend.releaseRootReader) {
            // Replacing the timer cancels the one of the read before.
            m_readerIdle = m_clock.schedule(readerIdleTime,
                [release = m_backend.releaseRootReader] { QThreadPool::globalInstance()->start(release); });
        }
        if (!image.isNull())
            co_return image;
    }
    co_return m_backend.grabRect(geometry.displayID, geometry.pixelRect);
}

Task<std::optional<ScrollingCaptureTarget>> ScreenCaptureService::scrollingTarget(
    ScrollingRegionGeometry geometry, std::optional<QString> preferredBundleID)
{
    auto listWindows = m_backend.applicationWindows;
    // Made before the co_await: g++ 12 destroys a lambda written inside a co_await expression twice.
    QFuture<QList<ApplicationWindow>> listing = QtConcurrent::run(
        [listWindows] { return listWindows ? listWindows() : QList<ApplicationWindow>(); });
    const QList<ApplicationWindow> windows = co_await std::move(listing);
    CurrentTask::checkCancelled();
    co_return chooseTarget(windows, geometry.rootPixelRect(), m_backend.ownPid, preferredBundleID);
}

std::optional<ScrollingCaptureTarget> ScreenCaptureService::chooseTarget(
    const QList<ApplicationWindow> &windows, const QRect &rootPixelRect, qint64 ownPid,
    const std::optional<QString> &preferredBundleID)
{
    struct Candidate
    {
        const ApplicationWindow *window;
        QRect overlap;
        qint64 area;
    };
    QList<Candidate> candidates;
    for (const ApplicationWindow &item : windows) {
        if (item.window.hidden || X11Windows::isDesktopChrome(item.window))
            continue;
        if (ownPid > 0 && item.window.pid == ownPid)
            continue;
        const QRect overlap = item.window.geometry.intersected(rootPixelRect);
        if (overlap.isEmpty())
            continue;
        candidates.append({ &item, overlap, qint64(overlap.width()) * overlap.height() });
    }
    if (preferredBundleID && !preferredBundleID->isEmpty()) {
        QList<Candidate> preferred;
        for (const Candidate &candidate : candidates) {
            if (candidate.window->bundleID == *preferredBundleID)
                preferred.append(candidate);
        }
        if (!preferred.isEmpty())
            candidates = preferred;
    }
    if (candidates.isEmpty())
        return std::nullopt;
    // Front to back: a window further back wins only where the stacking does not decide, that is
    // when its part of the outline lies beside the current choice's part, not under it.
    const Candidate *best = &candidates.front();
    for (const Candidate &candidate : candidates) {
        if (&candidate != best && !candidate.overlap.intersects(best->overlap) && candidate.area > best->area)
            best = &candidate;
    }
    return ScrollingCaptureTarget { best->window->name, best->window->bundleID,
        best->window->window.windowID };
}
