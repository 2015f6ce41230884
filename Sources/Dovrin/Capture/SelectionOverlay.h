#pragma once

#include "Async/Task.h"
#include "Async/TaskClock.h"
#include "Capture/CapturedRegion.h"
#include "Capture/DisplaySnapshot.h"
#include "Capture/ScreenCaptureError.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

enum class CaptureSelectionMode {
    // A region to crop and recognize.
    region,
    // The moving column of another application's window, for a scrolling capture.
    scrolling,
};

// Tells when the arrangement of displays changed: one added or removed, moved, resized or rescaled.
class DisplayChangeCenter : public QObject
{
    Q_OBJECT

public:
    explicit DisplayChangeCenter(QObject *parent = nullptr);
    // The live center, following the application's screens.
    static DisplayChangeCenter *defaultCenter();

signals:
    void displaysChanged();

private:
    void watch(class QScreen *screen);
};

class SelectionOverlayWindow;

// The full-screen selection overlay of one capture: one window per display showing its frozen
// still, dimmed outside the selection; the user drags a rectangle on one of them.
class SelectionOverlayCoordinator : public QObject
{
    Q_OBJECT

public:
    // Shows the overlay windows and gives the first one the keyboard; false when it cannot have it.
    using PresentWindows = std::function<bool(const QList<QWidget *> &windows)>;

    // `presentWindows` empty selects the live presentation. `clock` measures the time-out.
    SelectionOverlayCoordinator(DisplayChangeCenter *notificationCenter, TaskClock::Duration selectionTimeout,
        CaptureSelectionMode mode, PresentWindows presentWindows = {}, TaskClock &clock = TaskClock::system(),
        QObject *parent = nullptr);
    ~SelectionOverlayCoordinator() override;

    // Starts a new round: clears the finished flag, remembers the current screen-change generation,
    // forgets the accepted one and starts observing display changes (once).
    void prepareForSnapshotCapture();

    // The screen-change generation: raised on every display change. Safe from any thread.
    quint64 screenChangeGeneration() const;
    // The generation under which the snapshots were accepted; none until set.
    std::optional<quint64> acceptedSnapshotGeneration() const;
    void setAcceptedSnapshotGeneration(std::optional<quint64> generation);

    // Shows the snapshots and waits for the user's region. Fails with ScreenCaptureError: canceled
    // (Escape, the application losing activation, cancel()), selectionTimedOut, displaysChanged,
    // noDisplays, overlayUnavailable, invalidSelection (under 10 x 10 points), blankSurface.
    Task<CapturedRegion> select(QList<DisplaySnapshot> snapshots);

    // Brings the overlay forward again and gives it the keyboard; nothing without windows.
    void refocus();

    // Ends the overlay as canceled: a waiting select() fails once with ScreenCaptureError::canceled,
    // the time-out and observers stop and the windows close. Nothing once the overlay has ended.
    void cancel();

    CaptureSelectionMode mode() const { return m_mode; }
    // The overlay windows while a selection is shown, in the order of the snapshots.
    QList<QWidget *> windows() const;

    // The live presentation: shows the windows on top and grabs the keyboard for the first one.
    static bool presentLive(const QList<QWidget *> &windows);

private:
    friend class SelectionOverlayWindow;
    using Outcome = std::variant<CapturedRegion, ScreenCaptureError>;

    void observeDisplayChanges();
    void stopObserving();
    void noteDisplayChange();
    void noteApplicationState(Qt::ApplicationState state);
    void finish(Outcome outcome);
    void closeWindows();
    // Called by a window when the user released a drag (points local to that window's display).
    void completeSelection(int windowIndex, const QRectF &selection);

    QPointer<DisplayChangeCenter> m_center;
    TaskClock::Duration m_timeout;
    CaptureSelectionMode m_mode;
    PresentWindows m_present;
    TaskClock &m_clock;

    mutable QMutex m_generationLock;
    quint64 m_screenChangeGeneration = 0;
    quint64 m_preparedGeneration = 0;
    std::optional<quint64> m_acceptedGeneration;

    bool m_finished = false;
    bool m_observing = false;
    bool m_sawActive = false;
    QList<QMetaObject::Connection> m_observers;
    QList<DisplaySnapshot> m_snapshots;
    QList<QPointer<SelectionOverlayWindow>> m_windows;
    std::optional<TaskPromise<CapturedRegion>> m_pending;
    std::unique_ptr<TaskClock::Timer> m_timer;
};
