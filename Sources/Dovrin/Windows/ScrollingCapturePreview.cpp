#include "Windows/ScrollingCapturePreview.h"

#include "Windows/ScrollingCaptureTileView.h"

#include <QScrollBar>

#include <cmath>

ScrollingCapturePreview::ScrollingCapturePreview(std::shared_ptr<ReviewSession> session, QWidget *parent)
    : QScrollArea(parent)
    , m_session(std::move(session))
    , m_manifest(m_session->scrollingCapture.value_or(ScrollingCaptureManifest {}))
    , m_stack(new QWidget)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // A scroller that comes and goes would change the width the tiles fit into, and with it the
    // height that decides whether the scroller is needed.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAutoFillBackground(false);
    m_stack->setAutoFillBackground(false);
    for (const ScrollingCaptureTile &tile : m_manifest.tiles)
        m_tiles.append(new ScrollingCaptureTileView(tile, m_session->scrollingTileLoader, m_stack));
    setWidget(m_stack);
    setAccessibleName(QStringLiteral("Scrolling capture preview, %1 sections").arg(m_manifest.tiles.size()));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &ScrollingCapturePreview::updateOnScreen);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &ScrollingCapturePreview::updateOnScreen);
    connect(m_session.get(), &ReviewSession::changed, this, [this] {
        if (m_session->zoom() != m_laidOutZoom)
            relayout();
    });
    relayout();
}

qreal ScrollingCapturePreview::displayWidth(qreal availableWidth, int pixelWidth, double zoom)
{
    const qreal fit = (availableWidth - 8) / qreal(pixelWidth);
    // NaN (no width to fit into and none to fit) fails this test too.
    const qreal scale = !(fit >= 0.1) ? 0.1 : std::min<qreal>(fit, 1.0);
    return scale * pixelWidth * zoom;
}

qreal ScrollingCapturePreview::tileHeight(qreal displayWidth, const ScrollingCaptureTile &tile)
{
    return displayWidth * tile.pixelHeight / std::max(tile.pixelWidth, 1);
}

void ScrollingCapturePreview::relayout()
{
    m_laidOutZoom = m_session->zoom();
    m_laidOutWidth = viewport()->width();
    const qreal shown = displayWidth(m_laidOutWidth, m_manifest.pixelWidth, m_laidOutZoom);
    const int stackWidth = int(std::lround(shown));
    // Each tile starts where the rounded bottom of the one above ends, so no seam opens between them.
    qreal top = 0;
    int y = 0;
    for (ScrollingCaptureTileView *tile : std::as_const(m_tiles)) {
        top += tileHeight(shown, tile->tile());
        const int bottom = int(std::lround(top));
        tile->setGeometry(0, y, stackWidth, bottom - y);
        y = bottom;
    }
    m_stack->resize(stackWidth, y);
    updateOnScreen();
}

void ScrollingCapturePreview::updateOnScreen()
{
    const QRect visible(m_stack->mapFrom(viewport(), QPoint(0, 0)), viewport()->size());
    const bool shown = isVisible();
    for (ScrollingCaptureTileView *tile : std::as_const(m_tiles))
        tile->setOnScreen(shown && tile->geometry().intersects(visible));
}

void ScrollingCapturePreview::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    if (viewport()->width() != m_laidOutWidth)
        relayout();
    else
        updateOnScreen();
}

void ScrollingCapturePreview::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    updateOnScreen();
}

void ScrollingCapturePreview::hideEvent(QHideEvent *event)
{
    QScrollArea::hideEvent(event);
    updateOnScreen();
}
