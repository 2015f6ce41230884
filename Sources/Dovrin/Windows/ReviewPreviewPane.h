#pragma once

#include "Model/ReviewSession.h"

#include <QWidget>

#include <memory>

class QLabel;
class QSlider;
class ReviewImageView;
class ScrollingCapturePreview;

// The left pane of the review: a header with the zoom in percent, the captured still (or the tile
// stack of a scrolling capture, or a note that there is nothing to show) and the zoom slider, from
// 50 to 300 percent in quarter steps.
class ReviewPreviewPane : public QWidget
{
    Q_OBJECT
public:
    explicit ReviewPreviewPane(std::shared_ptr<ReviewSession> session, QWidget *parent = nullptr);

    QSlider *zoomSlider() const { return m_slider; }
    QLabel *zoomLabel() const { return m_zoomLabel; }
    // Whichever of the two the capture has; null for the other.
    ReviewImageView *imageView() const { return m_image; }
    ScrollingCapturePreview *scrollingPreview() const { return m_scrolling; }

    // "125%" for 1.25: whole percent, toward zero.
    static int zoomPercent(double zoom);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    std::shared_ptr<ReviewSession> m_session;
    QLabel *m_zoomLabel;
    QSlider *m_slider;
    ReviewImageView *m_image = nullptr;
    ScrollingCapturePreview *m_scrolling = nullptr;
};
