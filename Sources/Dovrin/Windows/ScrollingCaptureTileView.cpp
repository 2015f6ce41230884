#include "Windows/ScrollingCaptureTileView.h"

#include "Vemi/VemiDesign.h"
#include "Windows/ActivityIndicator.h"

#include <QPainter>

ScrollingCaptureTileView::ScrollingCaptureTileView(
    ScrollingCaptureTile tile, ReviewSession::TileLoader loader, QWidget *parent)
    : QWidget(parent)
    , m_tile(tile)
    , m_loader(std::move(loader))
    , m_indicator(new ActivityIndicator(14, this))
{
    VemiAccessibility::setDecorative(this, true);
    VemiAccessibility::setDecorative(m_indicator, true);
}

void ScrollingCaptureTileView::setOnScreen(bool onScreen)
{
    if (m_onScreen == onScreen)
        return;
    m_onScreen = onScreen;
    if (onScreen) {
        m_indicator->setActive(true);
        load();
        return;
    }
    // Whatever is still on its way belongs to the visit that just ended.
    ++m_generation;
    m_load.cancel();
    m_load = {};
    m_loading = false;
    m_indicator->setActive(false);
    if (!m_image.isNull()) {
        m_image = QImage();
        update();
        emit imageChanged();
    }
}

void ScrollingCaptureTileView::load()
{
    if (!m_loader)
        return;
    const int generation = ++m_generation;
    m_loading = true;
    m_load = m_loader(m_tile.index);
    m_load.whenFinished(this, [this, generation] {
        if (generation != m_generation)
            return;
        m_loading = false;
        std::optional<QImage> image;
        try {
            image = m_load.result();
        } catch (...) {
            // An unreadable tile keeps its placeholder.
        }
        m_load = {};
        if (!image || image->isNull())
            return;
        m_image = *image;
        m_indicator->setActive(false);
        update();
        emit imageChanged();
    });
}

void ScrollingCaptureTileView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const QSize indicator = m_indicator->sizeHint();
    m_indicator->setGeometry(
        QRect(rect().center() - QPoint(indicator.width() / 2, indicator.height() / 2), indicator));
}

void ScrollingCaptureTileView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.fillRect(rect(), VemiPalette::vemiPanelRaised(VemiPalette::appearance(this)));
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(rect()), m_image);
}
