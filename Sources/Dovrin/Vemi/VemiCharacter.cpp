#include "Vemi/VemiCharacter.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// Sizes come from callers: NaN, infinite or absurd ones must not reach an integer conversion.
qreal saneLength(qreal value, qreal fallback)
{
    return std::isfinite(value) && value >= 0 ? std::min(value, 4096.0) : fallback;
}

} // namespace

QList<VemiState> VemiStates::all()
{
    return { VemiState::idle, VemiState::framing, VemiState::listening, VemiState::reading,
        VemiState::reviewing, VemiState::saved, VemiState::needsAttention };
}

QString VemiStates::sentence(VemiState state)
{
    switch (state) {
    case VemiState::idle:
        return QStringLiteral("Vemi is ready");
    case VemiState::framing:
        return QStringLiteral("Vemi is framing the capture");
    case VemiState::listening:
        return QStringLiteral("Vemi is listening");
    case VemiState::reading:
        return QStringLiteral("Vemi is reading the selection");
    case VemiState::reviewing:
        return QStringLiteral("Vemi is ready for review");
    case VemiState::saved:
        return QStringLiteral("Vemi saved the capture");
    case VemiState::needsAttention:
        return QStringLiteral("Vemi needs attention");
    }
    return QString();
}

// ---------------------------------------------------------------------------------------------

VemiCaptureCorners::VemiCaptureCorners(const VemiColor &color, qreal lineWidth, qreal length, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
    , m_lineWidth(saneLength(lineWidth, 2))
    , m_length(saneLength(length, 16))
{
    VemiAccessibility::setDecorative(this, true);
}

QPainterPath VemiCaptureCorners::path(const QSizeF &size, qreal lineWidth, qreal length)
{
    const qreal w = size.width();
    const qreal h = size.height();
    const qreal i = lineWidth / 2;
    const qreal l = length;
    QPainterPath path;
    path.moveTo(i, l);
    path.lineTo(i, i);
    path.lineTo(l, i);
    path.moveTo(w - l, i);
    path.lineTo(w - i, i);
    path.lineTo(w - i, l);
    path.moveTo(i, h - l);
    path.lineTo(i, h - i);
    path.lineTo(l, h - i);
    path.moveTo(w - l, h - i);
    path.lineTo(w - i, h - i);
    path.lineTo(w - i, h - l);
    return path;
}

void VemiCaptureCorners::paint(
    QPainter &painter, const QRectF &frame, const QColor &color, qreal lineWidth, qreal length)
{
    QPen pen(color, lineWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.save();
    painter.translate(frame.topLeft());
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path(frame.size(), lineWidth, length));
    painter.restore();
}

void VemiCaptureCorners::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter, QRectF(rect()), m_color.resolve(this), m_lineWidth, m_length);
}

// ---------------------------------------------------------------------------------------------

VemiWaveform::VemiWaveform(const VemiColor &color, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    VemiAccessibility::setDecorative(this, true);
}

VemiWaveform::Geometry VemiWaveform::geometry(const QSizeF &size)
{
    const qreal w = size.width();
    const qreal h = size.height();
    const qreal pitch = w / 9;
    Geometry geometry;
    geometry.lineWidth = std::max(0.42 * pitch, 1.5);
    for (int i = 0; i < 9; ++i) {
        const qreal x = (i + 0.5) * pitch;
        const qreal bar = std::max(h * barFractions[i], 2.0);
        geometry.bars[i] = QLineF(x, (h - bar) / 2, x, (h + bar) / 2);
    }
    return geometry;
}

void VemiWaveform::paint(QPainter &painter, const QRectF &frame, const QColor &color)
{
    if (!std::isfinite(frame.width()) || !std::isfinite(frame.height()) || frame.isEmpty())
        return;
    const Geometry geometry = VemiWaveform::geometry(frame.size());
    QPen pen(color, geometry.lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.save();
    painter.translate(frame.topLeft());
    painter.setPen(pen);
    for (const QLineF &bar : geometry.bars)
        painter.drawLine(bar);
    painter.restore();
}

void VemiWaveform::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter, QRectF(rect()), m_color.resolve(this));
}

// ---------------------------------------------------------------------------------------------

VemiReadingDots::Geometry VemiReadingDots::geometry(qreal size)
{
    return { std::max(size * 0.125, 4.0), std::max(size * 0.0625, 2.0) };
}

VemiReadingDots::DotLook VemiReadingDots::look(int index, qreal seconds, bool reduceMotion)
{
    if (reduceMotion)
        return { 1.0, 0.0 };
    // Each dot starts 0.1 s after the one before, then swings 0.42 s each way, forever.
    const qreal local = seconds - 0.1 * index;
    qreal progress = 0;
    if (local > 0 && std::isfinite(local)) {
        const qreal swings = local / 0.42;
        const qreal whole = std::floor(swings);
        const qreal eased = VemiMotion::easeInOut().valueForProgress(swings - whole);
        progress = std::fmod(whole, 2.0) == 0.0 ? eased : 1.0 - eased;
    }
    return { 0.5 + 0.5 * progress, 1.5 - 3.0 * progress };
}

void VemiReadingDots::paint(
    QPainter &painter, const QPointF &centre, qreal size, qreal seconds, bool reduceMotion)
{
    const Geometry g = geometry(size);
    const qreal width = 3 * g.diameter + 2 * g.spacing;
    painter.save();
    painter.setPen(Qt::NoPen);
    const qreal opacity = painter.opacity();
    for (int i = 0; i < 3; ++i) {
        const DotLook dot = look(i, seconds, reduceMotion);
        const qreal x = centre.x() - width / 2 + i * (g.diameter + g.spacing);
        painter.setOpacity(opacity * dot.opacity);
        painter.setBrush(i == 2 ? VemiPalette::vemiCoral() : VemiPalette::vemiTeal());
        painter.drawEllipse(QRectF(x, centre.y() - g.diameter / 2 + dot.offset, g.diameter, g.diameter));
    }
    painter.restore();
}

// ---------------------------------------------------------------------------------------------

namespace {

bool hasOverlay(VemiState state)
{
    return state == VemiState::listening || state == VemiState::reading || state == VemiState::saved
        || state == VemiState::needsAttention;
}

void scaledAbout(QPainter &painter, const QPointF &centre, qreal scale)
{
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);
}

} // namespace

VemiStateView::VemiStateView(VemiState state, qreal size, bool decorative, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_previous(state)
    , m_size(size > 0 ? saneLength(size, 104) : 104)
    , m_transition(this, 1)
    , m_dotsTimer(new QTimer(this))
{
    m_dotsTimer->setInterval(16);
    connect(m_dotsTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_transition.onFinished = [this] { syncDots(); };
    connect(VemiMotion::notifier(), &VemiMotionNotifier::changed, this, &VemiStateView::motionChanged);
    VemiAccessibility::setRole(this, QAccessible::Graphic);
    setAccessibleName(VemiStates::sentence(state));
    setDecorative(decorative);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_dotsReduced = VemiMotion::reduceMotion(this);
    m_dotsClock.start();
}

void VemiStateView::setState(VemiState state)
{
    if (state == m_state)
        return;
    const bool reduce = VemiMotion::reduceMotion(this);
    m_previous = m_state;
    m_state = state;
    if (state == VemiState::reading && m_previous != VemiState::reading) {
        m_dotsReduced = reduce;
        m_dotsClock.restart();
    }
    m_transition.jumpTo(0);
    m_transition.animateTo(1, reduce ? 120 : 200);
    setAccessibleName(VemiStates::sentence(state));
    syncDots();
    update();
}

void VemiStateView::setCharacterSize(qreal size)
{
    if (!std::isfinite(size) || size <= 0 || saneLength(size, m_size) == m_size)
        return;
    m_size = saneLength(size, m_size);
    updateGeometry();
    update();
}

void VemiStateView::setDecorative(bool decorative)
{
    m_decorative = decorative;
    VemiAccessibility::setDecorative(this, decorative);
}

VemiStateView::Layout VemiStateView::layout(qreal s, const QPointF &c, bool hasImage)
{
    auto centred = [](const QPointF &centre, qreal w, qreal h) {
        return QRectF(centre.x() - w / 2, centre.y() - h / 2, w, h);
    };
    Layout layout;
    layout.frame = centred(c, 1.7 * s, 1.2 * s);
    layout.corners = centred(c, 1.58 * s, 1.12 * s);
    layout.cornerLineWidth = std::max(s / 20, 2.0);
    layout.cornerLength = 16;
    layout.character = hasImage ? centred(c, 1.08 * s, s) : centred(c, s, s);
    layout.waveform = centred(c + QPointF(0.7 * s, 0), 0.55 * s, 0.42 * s);
    layout.dotsCentre = c + QPointF(0.72 * s, 0);
    layout.badge = centred(c + QPointF(0.66 * s, 0.36 * s), 0.4 * s, 0.4 * s);
    layout.badgeSymbol = centred(layout.badge.center(), 0.22 * s, 0.22 * s);
    return layout;
}

qreal VemiStateView::incomingScale() const
{
    if (VemiMotion::reduceMotion(this))
        return 1.0;
    return 0.86 + 0.14 * m_transition.value();
}

bool VemiStateView::readingDotsAnimating() const
{
    return m_dotsTimer->isActive() && !m_dotsReduced;
}

QSize VemiStateView::sizeHint() const
{
    // The overlays reach past the 1.7 s frame on the right (the waveform, and the dots at small
    // sizes); the natural width makes room for them on both sides so the character stays centred.
    const qreal s = m_size;
    const VemiReadingDots::Geometry dots = VemiReadingDots::geometry(s);
    const qreal reach = std::max(
        { 0.85 * s, 0.7 * s + 0.275 * s, 0.72 * s + 1.5 * dots.diameter + dots.spacing, 0.66 * s + 0.2 * s });
    return QSize(int(std::ceil(2 * reach)), int(std::ceil(1.2 * s)));
}

void VemiStateView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Appearing again starts the wave from the beginning.
    m_dotsReduced = VemiMotion::reduceMotion(this);
    m_dotsClock.restart();
    syncDots();
}

void VemiStateView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    syncDots();
}

void VemiStateView::motionChanged()
{
    const bool reduce = VemiMotion::reduceMotion(this);
    if (reduce != m_dotsReduced) {
        m_dotsReduced = reduce;
        m_dotsClock.restart();
    }
    syncDots();
    update();
}

void VemiStateView::syncDots()
{
    const bool dotsShown
        = m_state == VemiState::reading || (isTransitioning() && m_previous == VemiState::reading);
    const bool run = dotsShown && isVisible() && !m_dotsReduced;
    if (run && !m_dotsTimer->isActive())
        m_dotsTimer->start();
    else if (!run && m_dotsTimer->isActive())
        m_dotsTimer->stop();
}

void VemiStateView::paintEffect(
    QPainter &painter, VemiState state, const Layout &layout, qreal opacity, qreal scale) const
{
    if (!hasOverlay(state) || opacity <= 0)
        return;
    const qreal s = m_size;
    painter.save();
    painter.setOpacity(painter.opacity() * opacity);
    switch (state) {
    case VemiState::listening:
        scaledAbout(painter, layout.waveform.center(), scale);
        VemiWaveform::paint(painter, layout.waveform, VemiPalette::vemiCoral());
        break;
    case VemiState::reading:
        scaledAbout(painter, layout.dotsCentre, scale);
        VemiReadingDots::paint(painter, layout.dotsCentre, s, m_dotsClock.elapsed() / 1000.0, m_dotsReduced);
        break;
    case VemiState::saved:
    case VemiState::needsAttention: {
        scaledAbout(painter, layout.badge.center(), scale);
        painter.setPen(Qt::NoPen);
        painter.setBrush(state == VemiState::saved ? VemiPalette::vemiTeal() : VemiPalette::vemiCoral());
        painter.drawEllipse(layout.badge);
        VemiSymbols::paint(painter,
            state == VemiState::saved ? QStringLiteral("checkmark") : QStringLiteral("exclamationmark"),
            layout.badgeSymbol, Qt::white);
        break;
    }
    default:
        break;
    }
    painter.restore();
}

void VemiStateView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const std::optional<VemiImage> &image = VemiImages::regular();
    const Layout layout = VemiStateView::layout(m_size, QRectF(rect()).center(), image.has_value());
    const bool reduce = VemiMotion::reduceMotion(this);
    const qreal progress = m_transition.value();
    const bool changing = m_previous != m_state && progress < 1.0;

    // Back to front: the framing corners, the character, the state's overlay.
    const bool cornersBefore = changing && m_previous == VemiState::framing;
    const bool cornersNow = m_state == VemiState::framing;
    auto drawCorners = [&](qreal opacity, qreal scale) {
        painter.save();
        painter.setOpacity(opacity);
        scaledAbout(painter, layout.corners.center(), scale);
        VemiCaptureCorners::paint(
            painter, layout.corners, VemiPalette::vemiCoral(), layout.cornerLineWidth, layout.cornerLength);
        painter.restore();
    };
    if (cornersNow && cornersBefore)
        drawCorners(1, 1);
    else if (cornersNow)
        drawCorners(changing ? progress : 1, changing && !reduce ? 0.86 + 0.14 * progress : 1);
    else if (cornersBefore)
        drawCorners(1 - progress, reduce ? 1 : 1 - 0.14 * progress);

    if (image)
        image->paint(painter, layout.character);
    else
        VemiSymbols::paint(
            painter, QStringLiteral("bubble.left.fill"), layout.character, VemiPalette::vemiTeal());

    if (changing) {
        paintEffect(painter, m_previous, layout, 1 - progress, reduce ? 1 : 1 - 0.14 * progress);
        paintEffect(painter, m_state, layout, progress, reduce ? 1 : 0.86 + 0.14 * progress);
    } else {
        paintEffect(painter, m_state, layout, 1, 1);
    }
}

// ---------------------------------------------------------------------------------------------

namespace {

class KomaOutline final : public QWidget
{
public:
    explicit KomaOutline(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        VemiAccessibility::setDecorative(this, true);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(QPen(VemiPalette::vemiLine(VemiPalette::appearance(this)), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
};

} // namespace

VemiKomaScene::VemiKomaScene(VemiState state, std::optional<qreal> mascotSize, QWidget *parent)
    : QWidget(parent)
    , m_view(new VemiStateView(state, mascotSize.value_or(104), true, this))
    , m_outline(new KomaOutline(this))
{
    m_outline->raise();
}

VemiState VemiKomaScene::state() const
{
    return m_view->state();
}

void VemiKomaScene::setState(VemiState state)
{
    m_view->setState(state);
}

QSize VemiKomaScene::sizeHint() const
{
    return m_view->sizeHint();
}

void VemiKomaScene::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_view->setGeometry(rect());
    m_outline->setGeometry(rect());
}

void VemiKomaScene::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiPanel(VemiPalette::appearance(this)));
}
