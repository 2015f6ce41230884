#include "Capture/SelectionOverlay.h"

#include "Capture/ScreenCaptureService.h"
#include "Rules/SelectionRules.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QThread>
#include <QWindow>

// ---------------------------------------------------------------------------------------------
// Display changes

DisplayChangeCenter::DisplayChangeCenter(QObject *parent)
    : QObject(parent)
{ }

DisplayChangeCenter *DisplayChangeCenter::defaultCenter()
{
    static QPointer<DisplayChangeCenter> center;
    if (center || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return center;
    center = new DisplayChangeCenter(QCoreApplication::instance());
    DisplayChangeCenter *live = center;
    for (QScreen *screen : QGuiApplication::screens())
        live->watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, live, [live](QScreen *screen) {
        live->watch(screen);
        emit live->displaysChanged();
    });
    connect(qApp, &QGuiApplication::screenRemoved, live, &DisplayChangeCenter::displaysChanged);
    connect(qApp, &QGuiApplication::primaryScreenChanged, live, &DisplayChangeCenter::displaysChanged);
    return center;
}

void DisplayChangeCenter::watch(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, this, &DisplayChangeCenter::displaysChanged);
    connect(screen, &QScreen::physicalDotsPerInchChanged, this, &DisplayChangeCenter::displaysChanged);
    connect(screen, &QScreen::logicalDotsPerInchChanged, this, &DisplayChangeCenter::displaysChanged);
}

// ---------------------------------------------------------------------------------------------
// One display's overlay window

class SelectionOverlayWindow : public QWidget
{
public:
    SelectionOverlayWindow(
        SelectionOverlayCoordinator *coordinator, int index, const DisplaySnapshot &snapshot)
        : QWidget(nullptr,
            Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint)
        , m_coordinator(coordinator)
        , m_index(index)
        , m_snapshot(snapshot)
    {
        setObjectName(QStringLiteral("SelectionOverlayWindow"));
        setAttribute(Qt::WA_DeleteOnClose, false);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::CrossCursor);
        if (QScreen *screen = ScreenCaptureService::screenForDisplayID(snapshot.displayID))
            setScreen(screen);
        setGeometry(snapshot.screenFrame);
    }

    QRectF selection() const { return m_selection; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QRectF bounds = rect();
        painter.drawImage(bounds, m_snapshot.image);

        QPainterPath dimmed;
        dimmed.addRect(bounds);
        if (!m_selection.isEmpty()) {
            QPainterPath hole;
            hole.addRect(m_selection);
            dimmed = dimmed.subtracted(hole);
        }
        painter.fillPath(dimmed, QColor(0, 0, 0, 110));

        if (m_dragging && !m_selection.isEmpty()) {
            painter.setPen(QPen(QColor(255, 255, 255, 230), 1));
            painter.drawRect(m_selection.adjusted(-0.5, -0.5, 0.5, 0.5));
            drawSizeLabel(painter);
        } else if (m_pointer) {
            // Guides through the pointer, so the first corner can be placed precisely.
            painter.setPen(QPen(QColor(255, 255, 255, 150), 1, Qt::DashLine));
            painter.drawLine(
                QPointF(bounds.left(), m_pointer->y() + 0.5), QPointF(bounds.right(), m_pointer->y() + 0.5));
            painter.drawLine(
                QPointF(m_pointer->x() + 0.5, bounds.top()), QPointF(m_pointer->x() + 0.5, bounds.bottom()));
        }
        if (!m_dragging)
            drawHint(painter);
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        m_dragging = true;
        m_anchor = event->position();
        m_selection = QRectF(m_anchor, QSizeF(0, 0));
        update();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        m_pointer = event->position();
        if (m_dragging)
            m_selection = SelectionRules::selectionRect(m_anchor, event->position(), rect());
        update();
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || !m_dragging)
            return;
        m_dragging = false;
        m_selection = SelectionRules::selectionRect(m_anchor, event->position(), rect());
        update();
        if (m_coordinator)
            m_coordinator->completeSelection(m_index, m_selection);
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape) {
            if (m_coordinator)
                m_coordinator->cancel();
            return;
        }
        QWidget::keyPressEvent(event);
    }

private:
    QSize pixelSize() const
    {
        const double scale
            = SelectionRules::displayScale(m_snapshot.image, QSizeF(m_snapshot.screenFrame.size()));
        return SelectionRules::pixelRect(m_selection, scale, m_snapshot.image.size()).size();
    }

    void drawSizeLabel(QPainter &painter)
    {
        const QSize size = pixelSize();
        const QString label = QStringLiteral("%1 × %2").arg(size.width()).arg(size.height());
        const QFontMetrics metrics(font());
        QRectF box(0, 0, metrics.horizontalAdvance(label) + 12, metrics.height() + 6);
        // Below the selection when there is room, else inside its bottom edge.
        QPointF at(m_selection.left(), m_selection.bottom() + 6);
        if (at.y() + box.height() > height())
            at.setY(m_selection.bottom() - box.height() - 6);
        at.setX(std::clamp(at.x(), 0.0, std::max(0.0, width() - box.width())));
        box.moveTopLeft(at);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 190));
        painter.drawRoundedRect(box, 4, 4);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, label);
    }

    void drawHint(QPainter &painter)
    {
        if (!m_coordinator)
            return;
        const QString hint = m_coordinator->mode() == CaptureSelectionMode::scrolling
            ? QStringLiteral("Outline the scrolling content. Press Esc to cancel.")
            : QStringLiteral("Drag to select a region. Press Esc to cancel.");
        const QFontMetrics metrics(font());
        QRectF box(0, 0, metrics.horizontalAdvance(hint) + 24, metrics.height() + 12);
        box.moveCenter(QPointF(width() / 2.0, 24 + box.height() / 2));
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 190));
        painter.drawRoundedRect(box, 6, 6);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, hint);
    }

    QPointer<SelectionOverlayCoordinator> m_coordinator;
    int m_index;
    DisplaySnapshot m_snapshot;
    bool m_dragging = false;
    QPointF m_anchor;
    QRectF m_selection;
    std::optional<QPointF> m_pointer;
};

// ---------------------------------------------------------------------------------------------
// The coordinator

SelectionOverlayCoordinator::SelectionOverlayCoordinator(DisplayChangeCenter *notificationCenter,
    TaskClock::Duration selectionTimeout, CaptureSelectionMode mode, PresentWindows presentWindows,
    TaskClock &clock, QObject *parent)
    : QObject(parent)
    , m_center(notificationCenter)
    , m_timeout(selectionTimeout)
    , m_mode(mode)
    , m_present(presentWindows ? std::move(presentWindows)
                               : PresentWindows(&SelectionOverlayCoordinator::presentLive))
    , m_clock(clock)
{ }

SelectionOverlayCoordinator::~SelectionOverlayCoordinator()
{
    m_timer.reset();
    stopObserving();
    closeWindows();
}

void SelectionOverlayCoordinator::prepareForSnapshotCapture()
{
    m_finished = false;
    {
        QMutexLocker lock(&m_generationLock);
        m_preparedGeneration = m_screenChangeGeneration;
        m_acceptedGeneration.reset();
    }
    observeDisplayChanges();
}

quint64 SelectionOverlayCoordinator::screenChangeGeneration() const
{
    QMutexLocker lock(&m_generationLock);
    return m_screenChangeGeneration;
}

std::optional<quint64> SelectionOverlayCoordinator::acceptedSnapshotGeneration() const
{
    QMutexLocker lock(&m_generationLock);
    return m_acceptedGeneration;
}

void SelectionOverlayCoordinator::setAcceptedSnapshotGeneration(std::optional<quint64> generation)
{
    QMutexLocker lock(&m_generationLock);
    m_acceptedGeneration = generation;
}

QList<QWidget *> SelectionOverlayCoordinator::windows() const
{
    QList<QWidget *> result;
    for (const auto &window : m_windows) {
        if (window)
            result.append(window);
    }
    return result;
}

void SelectionOverlayCoordinator::observeDisplayChanges()
{
    if (m_observing)
        return;
    m_observing = true;
    if (m_center)
        m_observers.append(connect(m_center, &DisplayChangeCenter::displaysChanged, this,
            &SelectionOverlayCoordinator::noteDisplayChange));
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        m_observers.append(connect(app, &QGuiApplication::applicationStateChanged, this,
            &SelectionOverlayCoordinator::noteApplicationState));
}

void SelectionOverlayCoordinator::stopObserving()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_observers))
        disconnect(connection);
    m_observers.clear();
    m_observing = false;
}

void SelectionOverlayCoordinator::noteDisplayChange()
{
    {
        QMutexLocker lock(&m_generationLock);
        ++m_screenChangeGeneration;
    }
    if (m_pending)
        finish(ScreenCaptureError(ScreenCaptureError::displaysChanged));
}

void SelectionOverlayCoordinator::noteApplicationState(Qt::ApplicationState state)
{
    if (!m_pending)
        return;
    if (state == Qt::ApplicationActive) {
        m_sawActive = true;
        return;
    }
    // Only a loss after the overlay was active counts: showing it may pass through inactive.
    if (m_sawActive)
        finish(ScreenCaptureError(ScreenCaptureError::canceled));
}

Task<CapturedRegion> SelectionOverlayCoordinator::select(QList<DisplaySnapshot> snapshots)
{
    if (m_finished)
        throw ScreenCaptureError(ScreenCaptureError::canceled);
    if (m_pending)
        throw ScreenCaptureError(ScreenCaptureError::overlayUnavailable);
    if (snapshots.isEmpty())
        throw ScreenCaptureError(ScreenCaptureError::noDisplays);
    {
        QMutexLocker lock(&m_generationLock);
        if (m_screenChangeGeneration != m_acceptedGeneration.value_or(m_preparedGeneration))
            throw ScreenCaptureError(ScreenCaptureError::displaysChanged);
    }
    observeDisplayChanges();

    m_snapshots = snapshots;
    QList<QWidget *> shown;
    for (int i = 0; i < snapshots.size(); ++i) {
        auto *window = new SelectionOverlayWindow(this, i, snapshots[i]);
        m_windows.append(window);
        shown.append(window);
    }
    TaskPromise<CapturedRegion> promise;
    m_pending = promise;
    m_sawActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    if (!m_present(shown)) {
        finish(ScreenCaptureError(ScreenCaptureError::overlayUnavailable));
    } else if (!m_finished) {
        m_sawActive = m_sawActive || QGuiApplication::applicationState() == Qt::ApplicationActive;
        QPointer<SelectionOverlayCoordinator> self(this);
        m_timer = m_clock.schedule(std::max(m_timeout, TaskClock::Duration::zero()), [self] {
            if (self)
                self->finish(ScreenCaptureError(ScreenCaptureError::selectionTimedOut));
        });
    }
    co_return co_await promise.future();
}

void SelectionOverlayCoordinator::refocus()
{
    const QList<QWidget *> shown = windows();
    if (shown.isEmpty())
        return;
    QWidget *first = shown.front();
    for (QWidget *window : shown)
        window->raise();
    first->activateWindow();
    first->setFocus(Qt::ActiveWindowFocusReason);
    if (QWindow *handle = first->windowHandle())
        handle->setKeyboardGrabEnabled(true);
}

void SelectionOverlayCoordinator::cancel()
{
    finish(ScreenCaptureError(ScreenCaptureError::canceled));
}

void SelectionOverlayCoordinator::completeSelection(int windowIndex, const QRectF &selection)
{
    if (m_finished || windowIndex < 0 || windowIndex >= m_snapshots.size())
        return;
    if (!SelectionRules::isLargeEnough(selection)) {
        finish(ScreenCaptureError(ScreenCaptureError::invalidSelection));
        return;
    }
    const DisplaySnapshot &snapshot = m_snapshots[windowIndex];
    const double scale = SelectionRules::displayScale(snapshot.image, QSizeF(snapshot.screenFrame.size()));
    const QRect pixels = SelectionRules::pixelRect(selection, scale, snapshot.image.size());
    QImage image = SelectionRules::crop(snapshot.image, pixels);
    if (image.isNull()) {
        finish(ScreenCaptureError(ScreenCaptureError::invalidSelection));
        return;
    }
    if (!SelectionRules::hasVisiblePixels(image)) {
        finish(ScreenCaptureError(ScreenCaptureError::blankSurface));
        return;
    }
    CapturedRegion region;
    region.image = std::move(image);
    region.displayID = snapshot.displayID;
    region.observedAt = QDateTime::currentDateTime();
    if (m_mode == CaptureSelectionMode::scrolling) {
        ScrollingRegionGeometry geometry;
        geometry.displayID = snapshot.displayID;
        geometry.displayFrame = snapshot.screenFrame;
        geometry.globalRect = selection.translated(snapshot.screenFrame.topLeft());
        geometry.pixelRect = pixels;
        geometry.displayPixelSize = snapshot.image.size();
        region.scrollingGeometry = geometry;
    }
    finish(std::move(region));
}

void SelectionOverlayCoordinator::finish(Outcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer.reset();
    stopObserving();
    closeWindows();
    m_snapshots.clear();
    std::optional<TaskPromise<CapturedRegion>> pending = std::move(m_pending);
    m_pending.reset();
    if (!pending)
        return;
    if (auto *region = std::get_if<CapturedRegion>(&outcome))
        pending->resolve(std::move(*region));
    else
        pending->reject(std::make_exception_ptr(std::get<ScreenCaptureError>(outcome)));
}

void SelectionOverlayCoordinator::closeWindows()
{
    const QList<QPointer<SelectionOverlayWindow>> windows = std::exchange(m_windows, {});
    for (const auto &window : windows) {
        if (!window)
            continue;
        // Hiding lets go of the keyboard: X ends a grab whose window is no longer viewable.
        window->hide();
        window->deleteLater();
    }
}

bool SelectionOverlayCoordinator::presentLive(const QList<QWidget *> &windows)
{
    if (windows.isEmpty())
        return false;
    for (QWidget *window : windows) {
        window->show();
        window->raise();
    }
    QWidget *first = windows.front();
    first->activateWindow();
    first->setFocus(Qt::ActiveWindowFocusReason);
    // Another client may hold the keyboard for a moment (an open menu); give it half a second.
    for (int attempt = 0; attempt < 10; ++attempt) {
        QWindow *handle = first->windowHandle();
        if (handle && handle->setKeyboardGrabEnabled(true))
            return true;
        // No event processing here: this runs inside select(), and other tasks must not resume
        // in the middle of it.
        QThread::msleep(50);
    }
    return false;
}
