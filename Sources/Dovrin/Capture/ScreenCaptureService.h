#pragma once

#include "Async/Task.h"
#include "Async/TaskClock.h"
#include "Capture/DisplaySnapshot.h"
#include "Capture/ScreenCaptureError.h"
#include "Capture/ScrollingCaptureTarget.h"
#include "Capture/ScrollingRegionGeometry.h"
#include "Platform/DesktopEntries.h"
#include "Platform/X11Windows.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QWindow>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// One display as the desktop arranges it.
struct DisplayDescription
{
    QString displayID;
    // In global points.
    QRect frame;
    double devicePixelRatio = 1.0;

    bool operator==(const DisplayDescription &) const = default;
};

// A window of an application, resolved to the application's identity.
struct ApplicationWindow
{
    X11WindowInfo window;
    QString bundleID;
    std::optional<QString> name;
};

// Display stills and the windows under a region: everything the capture flows need from the screen.
class QScreen;

class ScreenCaptureService : public QObject
{
    Q_OBJECT

public:
    // The platform calls behind the service; `live()` serves them from Qt and X11.
    struct Backend
    {
        // The displays now, in the desktop's order.
        std::function<QList<DisplayDescription>()> displays;
        // The whole display in its own pixels; a null image when it cannot be read.
        std::function<QImage(const QString &displayID)> grabDisplay;
        // A rectangle of the display in its own pixels, exactly that size; null when unreadable.
        std::function<QImage(const QString &displayID, const QRect &pixelRect)> grabRect;
        // The same, given in the root window's pixels, read on any thread; null when it cannot be
        // read that way (grabRect reads it then). None when there is no such way.
        std::function<QImage(const QRect &rootPixelRect)> grabRootRect;
        // Lets go of what grabRootRect keeps between reads (a viewport-sized buffer shared with the
        // X server, a connection); the next read makes them again. Runs on any thread.
        std::function<void()> releaseRootReader;
        // Client windows of every application, frontmost first, with their identities.
        std::function<QList<ApplicationWindow>()> applicationWindows;
        // This process, so its own windows are never a target.
        qint64 ownPid = 0;
        // Our own visible windows that cover part of a rectangle in global points; each is hidden
        // while the rectangle is read and shown again afterwards.
        std::function<QList<QWindow *>(const QRectF &globalRect)> ownWindowsOver;

        static Backend live();
    };

    explicit ScreenCaptureService(QObject *parent = nullptr);
    ScreenCaptureService(Backend backend, TaskClock &clock, QObject *parent = nullptr);

    // One still per display. A capture is accepted only when the displays and the generation read
    // through `topologyGeneration` are the same before and after it; up to three attempts, a short
    // pause apart. Reports the generation it was accepted under through `acceptStableGeneration`.
    // Throws ScreenCaptureError::noDisplays or ::displaysChanged.
    Task<QList<DisplaySnapshot>> snapshots(
        std::function<quint64()> topologyGeneration, std::function<void(quint64)> acceptStableGeneration);

    // The outlined rectangle as it looks now, at the outline's pixel size, with our own windows
    // kept out of it. A null image when the display is gone or cannot be read. What the reads keep
    // for the next one is let go once none has come for readerIdleTime.
    Task<QImage> scrollingViewport(ScrollingRegionGeometry geometry);

    // The frontmost window of another application that intersects the outline; narrowed to
    // `preferredBundleID` when that application has such a window; on equal footing the larger
    // intersection wins. None when there is no such window.
    Task<std::optional<ScrollingCaptureTarget>> scrollingTarget(
        ScrollingRegionGeometry geometry, std::optional<QString> preferredBundleID);

    // The candidate choice behind scrollingTarget, on a given window list (frontmost first).
    static std::optional<ScrollingCaptureTarget> chooseTarget(const QList<ApplicationWindow> &windows,
        const QRect &rootPixelRect, qint64 ownPid, const std::optional<QString> &preferredBundleID);

    // The installed application a window belongs to: the entry of the ID the window announced,
    // else the entry whose StartupWMClass is the window's class, else the entry named after its
    // class or instance ("org.gnome.Nautilus" answers to "Nautilus").
    static std::optional<DesktopEntry> applicationEntry(const QList<DesktopEntry> &entries,
        const QString &announcedID, const QString &wmClassInstance, const QString &wmClassName);

    // A display's identity: its output name, numbered when several displays share one.
    static QString displayID(const QScreen *screen);
    static QScreen *screenForDisplayID(const QString &displayID);

    static constexpr int maximumAttempts = 3;
    // Longer than the wait between two reads of a capture that scrolls, even a slow one.
    static constexpr std::chrono::seconds readerIdleTime { 3 };

private:
    Backend m_backend;
    TaskClock &m_clock;
    std::unique_ptr<TaskClock::Timer> m_readerIdle;
};
