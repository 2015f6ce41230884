#pragma once

// The character Vemi: its seven states, the view that draws it in a state with its overlays and
// badges, the small drawn pieces those use, and the framed scene that places it in a panel.
// Every measure is a fraction of the character's height s, so it scales as a whole.

#include "Vemi/VemiDesign.h"

#include <QElapsedTimer>
#include <QLineF>
#include <QPainterPath>

#include <array>
#include <optional>

class QTimer;

enum class VemiState { idle, framing, listening, reading, reviewing, saved, needsAttention };

namespace VemiStates {
QList<VemiState> all();
// What a screen reader says for the state ("Vemi is ready", ...).
QString sentence(VemiState state);
} // namespace VemiStates

// The four corner brackets of a capture frame.
class VemiCaptureCorners : public QWidget
{
    Q_OBJECT
public:
    VemiCaptureCorners(const VemiColor &color, qreal lineWidth, qreal length, QWidget *parent = nullptr);

    static QPainterPath path(const QSizeF &size, qreal lineWidth, qreal length);
    static void paint(
        QPainter &painter, const QRectF &frame, const QColor &color, qreal lineWidth, qreal length);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    VemiColor m_color;
    qreal m_lineWidth;
    qreal m_length;
};

// Nine still bars of fixed relative heights.
class VemiWaveform : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::array<qreal, 9> barFractions { 0.3, 0.58, 0.86, 0.45, 1.0, 0.62, 0.35, 0.78, 0.48 };
    struct Geometry
    {
        qreal lineWidth = 0;
        std::array<QLineF, 9> bars;
    };

    explicit VemiWaveform(const VemiColor &color, QWidget *parent = nullptr);

    static Geometry geometry(const QSizeF &size);
    static void paint(QPainter &painter, const QRectF &frame, const QColor &color);
    QSize sizeHint() const override { return QSize(32, 26); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    VemiColor m_color;
};

// Three dots (teal, teal, coral) that bob in a wave while the character reads.
namespace VemiReadingDots {

struct Geometry
{
    qreal diameter = 0;
    qreal spacing = 0;
};
struct DotLook
{
    qreal opacity = 1;
    qreal offset = 0; // points downward
};

Geometry geometry(qreal size);
// Dot `index` (0 to 2) `seconds` after the dots appeared; under reduced motion they stay still.
DotLook look(int index, qreal seconds, bool reduceMotion);
void paint(QPainter &painter, const QPointF &centre, qreal size, qreal seconds, bool reduceMotion);

} // namespace VemiReadingDots

// The character in a state, with the state's overlay, framed 1.7 s wide and 1.2 s high.
// A state change replaces the overlay with a short transition (a fade under reduced motion).
class VemiStateView : public QWidget
{
    Q_OBJECT
public:
    struct Layout
    {
        QRectF frame;
        QRectF corners;
        qreal cornerLineWidth = 0;
        qreal cornerLength = 0;
        QRectF character;
        QRectF waveform;
        QPointF dotsCentre;
        QRectF badge;
        QRectF badgeSymbol;
    };

    explicit VemiStateView(VemiState state = VemiState::idle, qreal size = 104, bool decorative = false,
        QWidget *parent = nullptr);

    VemiState state() const { return m_state; }
    void setState(VemiState state);
    qreal characterSize() const { return m_size; }
    void setCharacterSize(qreal size);
    bool isDecorative() const { return m_decorative; }
    void setDecorative(bool decorative);

    // Where everything goes for a character of height `size` centred on `centre`.
    static Layout layout(qreal size, const QPointF &centre, bool hasImage);

    bool isTransitioning() const { return m_transition.isRunning(); }
    // The duration of the last state change (milliseconds).
    int transitionDuration() const { return m_transition.lastDuration(); }
    // The scale of the overlay coming in now (1 once it is in, or under reduced motion).
    qreal incomingScale() const;
    bool readingDotsAnimating() const;

    // Wide enough for the overlays that reach past the 1.7 s frame.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void paintEffect(
        QPainter &painter, VemiState state, const Layout &layout, qreal opacity, qreal scale) const;
    void motionChanged();
    void syncDots();

    VemiState m_state;
    VemiState m_previous;
    qreal m_size;
    bool m_decorative = false;
    VemiAnimatedValue m_transition;
    bool m_dotsReduced = false;
    QElapsedTimer m_dotsClock;
    QTimer *m_dotsTimer;
};

// The character on a panel-coloured rectangle with a hairline, clipped to it; decorative.
// It has no size of its own: the caller frames it.
class VemiKomaScene : public QWidget
{
    Q_OBJECT
public:
    explicit VemiKomaScene(
        VemiState state, std::optional<qreal> mascotSize = std::nullopt, QWidget *parent = nullptr);

    VemiState state() const;
    void setState(VemiState state);
    VemiStateView *stateView() const { return m_view; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    VemiStateView *m_view;
    QWidget *m_outline;
};
