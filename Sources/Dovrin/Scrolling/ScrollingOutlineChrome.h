#pragma once

#include <QList>
#include <QObject>
#include <QRect>

class QWidget;

// A thin frame drawn just outside the rectangle a scrolling capture reads, so the user sees what is
// captured without the frame ever being in it. Four edge windows that let the pointer through and
// never take the focus.
class ScrollingOutlineChrome : public QObject
{
    Q_OBJECT

public:
    static constexpr int thickness = 3;

    explicit ScrollingOutlineChrome(QObject *parent = nullptr);
    ~ScrollingOutlineChrome() override;

    // Surrounds `region` (global coordinates) and shows the frame.
    void show(const QRect &region);
    void hide();

    // The four edges: top, bottom, left, right.
    QList<QWidget *> edges() const { return m_edges; }
    // The edges' rectangles for `region`.
    static QList<QRect> edgeRects(const QRect &region);

private:
    QList<QWidget *> m_edges;
};
