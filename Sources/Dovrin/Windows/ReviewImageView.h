#pragma once

#include <QImage>
#include <QWidget>

// The captured still, scaled to fit, then enlarged or reduced by the zoom about its top centre and
// cut off at the view's edges.
class ReviewImageView : public QWidget
{
    Q_OBJECT
public:
    explicit ReviewImageView(QImage image, QWidget *parent = nullptr);

    double zoom() const { return m_zoom; }
    void setZoom(double zoom);
    // Where the image is drawn in a view of `size`.
    static QRectF imageRect(const QSizeF &imageSize, const QSizeF &size, double zoom);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
    double m_zoom = 1.0;
};
