#include "Windows/ActivityIndicator.h"

#include <QPainter>
#include <QTimer>

#include <cmath>

namespace {

constexpr int spokes = 8;

} // namespace

ActivityIndicator::ActivityIndicator(qreal size, QWidget *parent)
    : QWidget(parent)
    , m_size(size)
    , m_timer(new QTimer(this))
    , m_opacity(this, 0)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    VemiAccessibility::setRole(this, QAccessible::Animation);
    m_timer->setInterval(90);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
    m_opacity.onFinished = [this] {
        if (!m_active)
            hide();
    };
    connect(VemiMotion::notifier(), &VemiMotionNotifier::changed, this, &ActivityIndicator::syncTimer);
    hide();
}

void ActivityIndicator::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    const int duration = VemiMotion::reduceMotion(this) ? 0 : 160;
    if (active)
        show();
    m_opacity.animateTo(active ? 1.0 : 0.0, duration);
    if (!active && !m_opacity.isRunning())
        hide();
    syncTimer();
}

QSize ActivityIndicator::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return QSize(side, side);
}

void ActivityIndicator::syncTimer()
{
    const bool spin = m_active && isVisible() && !VemiMotion::reduceMotion(this);
    if (spin && !m_timer->isActive())
        m_timer->start();
    else if (!spin)
        m_timer->stop();
    update();
}

void ActivityIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    syncTimer();
}

void ActivityIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    syncTimer();
}

void ActivityIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity.value());
    const qreal side = std::min<qreal>(std::min(width(), height()), m_size);
    const QPointF centre = QRectF(rect()).center();
    const QColor ink = VemiPalette::secondaryText(this);
    const bool still = !m_timer->isActive();
    for (int i = 0; i < spokes; ++i) {
        // The newest spoke is darkest; standing still, all spokes are alike.
        const int age = (m_step - i + spokes) % spokes;
        QColor colour = ink;
        colour.setAlphaF(ink.alphaF() * (still ? 0.7 : 1.0 - age * 0.1));
        painter.setPen(QPen(colour, std::max<qreal>(side / 9, 1.2), Qt::SolidLine, Qt::RoundCap));
        const qreal angle = i * 2 * M_PI / spokes;
        const QPointF direction(std::sin(angle), -std::cos(angle));
        painter.drawLine(centre + direction * side * 0.24, centre + direction * side * 0.46);
    }
}
