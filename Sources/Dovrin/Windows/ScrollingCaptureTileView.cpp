#include "Windows/ScrollingCaptureTileView.h"

#include "Vemi/VemiDesign.h"
#include "Windows/ActivityIndicator.h"

#include <QPainter>

#include <cmath>

namespace {
// Asked for beyond the size shown, so that a slightly larger size reuses the image.
constexpr double headroom = 1.2;
// An image this much larger than what is shown is dropped for a smaller one.
constexpr double tooLarge = 1.5;
} // namespace

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
    m_requested = QSize();
    m_indicator->setActive(false);
    if (!m_image.isNull()) {
        m_image = QImage();
        update();
        emit imageChanged();
    }
}

QSize ScrollingCaptureTileView::shownPixels() const
{
    const qreal ratio = devicePixelRatioF();
    return QSize(std::min(int(std::ceil(width() * ratio)), std::max(m_tile.pixelWidth, 1)),
        std::min(int(std::ceil(height() * ratio)), std::max(m_tile.pixelHeight, 1)));
}

bool ScrollingCaptureTileView::suitsSize(const QSize &image) const
{
    const QSize shown = shownPixels();
    if (image.width() < shown.width() && image.width() < m_tile.pixelWidth)
        return false;
    return image.width() <= std::max(1, int(shown.width() * tooLarge));
}

void ScrollingCaptureTileView::load()
{
    if (!m_loader)
        return;
    const int generation = ++m_generation;
    m_loading = true;
    const QSize shown = shownPixels();
    m_requested = shown.scaled(
        QSize(int(std::ceil(shown.width() * headroom)), int(std::ceil(shown.height() * headroom))),
        Qt::KeepAspectRatio);
    m_load = m_loader(m_tile.index, m_requested);
    m_load.whenFinished(this, [this, generation] {
        if (generation != m_generation)
            return;
        m_loading = false;
        m_requested = QSize();
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
    if (!m_onScreen)
        return;
    // The load on its way, else the image shown, is judged against the new size.
    const QSize judged = m_loading ? m_requested : m_image.size();
    if ((m_loading || !m_image.isNull()) && !suitsSize(judged))
        load();
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
