#include "Scrolling/ScrollingOutlineChrome.h"

#include "Vemi/VemiDesign.h"

#include <QWidget>

ScrollingOutlineChrome::ScrollingOutlineChrome(QObject *parent)
    : QObject(parent)
{
    for (int i = 0; i < 4; ++i) {
        auto *edge = new QWidget(nullptr,
            Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
                | Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint);
        edge->setObjectName(QStringLiteral("scrollingCapture.outline"));
        edge->setAttribute(Qt::WA_ShowWithoutActivating);
        edge->setAutoFillBackground(true);
        QPalette palette = edge->palette();
        palette.setColor(QPalette::Window, VemiPalette::vemiTeal());
        edge->setPalette(palette);
        m_edges.append(edge);
    }
}

ScrollingOutlineChrome::~ScrollingOutlineChrome()
{
    qDeleteAll(m_edges);
}

QList<QRect> ScrollingOutlineChrome::edgeRects(const QRect &region)
{
    const int t = thickness;
    return {
        QRect(region.left() - t, region.top() - t, region.width() + 2 * t, t),
        QRect(region.left() - t, region.bottom() + 1, region.width() + 2 * t, t),
        QRect(region.left() - t, region.top(), t, region.height()),
        QRect(region.right() + 1, region.top(), t, region.height()),
    };
}

void ScrollingOutlineChrome::show(const QRect &region)
{
    const QList<QRect> rects = edgeRects(region);
    for (int i = 0; i < m_edges.size(); ++i) {
        m_edges[i]->setGeometry(rects[i]);
        m_edges[i]->show();
    }
}

void ScrollingOutlineChrome::hide()
{
    for (QWidget *edge : m_edges)
        edge->hide();
}
