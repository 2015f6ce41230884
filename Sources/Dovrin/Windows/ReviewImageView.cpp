#include "Windows/ReviewImageView.h"

#include "Vemi/VemiDesign.h"

#include <QPainter>

ReviewImageView::ReviewImageView(QImage image, QWidget *parent)
    : QWidget(parent)
    , m_image(std::move(image))
{
    setAccessibleName(QStringLiteral("Captured region preview"));
    VemiAccessibility::setRole(this, QAccessible::Graphic);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ReviewImageView::setZoom(double zoom)
{
    if (m_zoom == zoom)
        return;
    m_zoom = zoom;
    update();
}

QRectF ReviewImageView::imageRect(const QSizeF &imageSize, const QSizeF &size, double zoom)
{
    if (imageSize.isEmpty() || size.isEmpty())
        return QRectF();
    const QSizeF fitted = imageSize.scaled(size, Qt::KeepAspectRatio) * zoom;
    return QRectF(QPointF(size.width() / 2 - fitted.width() / 2, 0), fitted);
}

void ReviewImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(rect());
    const QSizeF imageSize = m_image.deviceIndependentSize();
    painter.drawImage(imageRect(imageSize, size(), m_zoom), m_image);
}
