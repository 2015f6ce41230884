#pragma once

#include "Documents/CaptureDraft.h"
#include "Model/ReviewSession.h"

#include <QImage>
#include <QWidget>

class ActivityIndicator;

// One tile of a scrolling capture's preview. It holds the tile's decoded image only while it is on
// screen, and only at about the size it is drawn at: coming on screen starts a load through the
// loader, leaving the screen drops the image and any answer still on its way, and a size the image
// no longer suits (a zoom, a wider pane) loads it again while the old one stays up. Until an image
// arrives (or when none can be read) it shows a raised placeholder with a progress indicator.
// Hidden from assistive technology: the preview speaks for its tiles.
class ScrollingCaptureTileView : public QWidget
{
    Q_OBJECT
public:
    ScrollingCaptureTileView(
        ScrollingCaptureTile tile, ReviewSession::TileLoader loader, QWidget *parent = nullptr);

    const ScrollingCaptureTile &tile() const { return m_tile; }
    bool isOnScreen() const { return m_onScreen; }
    void setOnScreen(bool onScreen);
    const QImage &image() const { return m_image; }
    bool isLoading() const { return m_loading; }
    // The pixels the tile covers on screen, at most the tile's own.
    QSize shownPixels() const;

signals:
    void imageChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void load();
    bool suitsSize(const QSize &image) const;

    ScrollingCaptureTile m_tile;
    ReviewSession::TileLoader m_loader;
    bool m_onScreen = false;
    bool m_loading = false;
    int m_generation = 0;
    Task<std::optional<QImage>> m_load;
    QImage m_image;
    // The size asked of the load on its way, if any.
    QSize m_requested;
    ActivityIndicator *m_indicator;
};
