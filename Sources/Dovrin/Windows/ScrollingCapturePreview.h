#pragma once

#include "Model/ReviewSession.h"

#include <QScrollArea>

#include <memory>

class ScrollingCaptureTileView;

// A scrolling capture shown as its stack of tiles, scrollable both ways. Only tiles inside the
// visible part load their images; a tile that scrolls away drops its image again, so a long capture
// never holds all its decoded tiles at once. The stack is drawn at most one point per pixel and at
// least a tenth of that before the session's zoom.
class ScrollingCapturePreview : public QScrollArea
{
    Q_OBJECT
public:
    ScrollingCapturePreview(std::shared_ptr<ReviewSession> session, QWidget *parent = nullptr);

    // The width every tile is drawn at, for a preview `availableWidth` wide.
    static qreal displayWidth(qreal availableWidth, int pixelWidth, double zoom);
    // A tile's height at `displayWidth`; a tile narrower than one pixel counts as one pixel wide.
    static qreal tileHeight(qreal displayWidth, const ScrollingCaptureTile &tile);

    const QList<ScrollingCaptureTileView *> &tiles() const { return m_tiles; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void relayout();
    void updateOnScreen();

    std::shared_ptr<ReviewSession> m_session;
    ScrollingCaptureManifest m_manifest;
    QWidget *m_stack;
    QList<ScrollingCaptureTileView *> m_tiles;
    double m_laidOutZoom = 0;
    int m_laidOutWidth = -1;
};
