#include "Vemi/VemiSidebar.h"

#include <QFocusEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

using VemiPalette::mix;
using VemiPalette::withAlpha;

class VemiSidebarHighlight final : public QWidget
{
public:
    VemiSidebarHighlight(VemiSidebarSelection *selection, QWidget *parent)
        : QWidget(parent)
        , m_selection(selection)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        VemiAccessibility::setDecorative(this, true);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QRectF frame = QRectF(rect());
        if (VemiSidebarItem *item = m_selection ? m_selection->selectedItem() : nullptr) {
            // Pressing the selected row presses its highlight with it.
            const qreal scale = item->currentScale();
            painter.translate(frame.center());
            painter.scale(scale, scale);
            painter.translate(-frame.center());
            painter.setOpacity(item->currentOpacity() * (item->isEnabled() ? 1.0 : 0.5));
        }
        QPainterPath shape;
        shape.addRoundedRect(frame, 10, 10);
        painter.fillPath(shape, VemiPalette::vemiTeal());
    }

private:
    QPointer<VemiSidebarSelection> m_selection;
};

VemiSidebarSelection::VemiSidebarSelection(QObject *parent)
    : QObject(parent)
    , m_slide(new QVariantAnimation(this))
{
    m_slide->setEasingCurve(VemiMotion::easeOut());
    connect(m_slide, &QVariantAnimation::valueChanged, this,
        [this](const QVariant &value) { setGeometry(value.toRectF()); });
}

VemiSidebarSelection::~VemiSidebarSelection()
{
    m_slide->disconnect(this);
    m_slide->stop();
    delete m_highlight;
}

bool VemiSidebarSelection::isSliding() const
{
    return m_slide->state() == QAbstractAnimation::Running;
}

int VemiSidebarSelection::slideDuration(const QWidget *context) const
{
    return VemiMotion::reduceMotion(context) ? 0 : 180;
}

void VemiSidebarSelection::setGeometry(const QRectF &geometry)
{
    m_geometry = geometry;
    if (m_highlight) {
        m_highlight->setGeometry(geometry.toAlignedRect());
        m_highlight->update();
    }
}

void VemiSidebarSelection::select(VemiSidebarItem *item)
{
    QWidget *parent = item->parentWidget();
    if (m_highlight && m_highlight->parentWidget() != parent)
        delete m_highlight;
    if (!m_highlight && parent)
        m_highlight = new VemiSidebarHighlight(this, parent);

    VemiSidebarItem *previous = m_selected;
    if (previous == item) {
        follow();
        return;
    }
    const bool wasShown = m_highlight && m_highlight->isVisible();
    m_selected = item;
    item->installEventFilter(this);
    if (previous) {
        previous->removeEventFilter(this);
        previous->setSelected(false);
    }
    if (!m_highlight)
        return;

    const QRectF target = QRectF(item->geometry());
    const int duration = slideDuration(item);
    m_slide->stop();
    if (previous && wasShown && item->isVisible() && duration > 0) {
        m_slide->setStartValue(m_geometry);
        m_slide->setEndValue(target);
        m_slide->setDuration(duration);
        m_slide->start();
    } else {
        setGeometry(target);
    }
    m_highlight->setVisible(item->isVisible());
    m_highlight->lower();
}

void VemiSidebarSelection::deselect(VemiSidebarItem *item)
{
    if (m_selected != item)
        return;
    item->removeEventFilter(this);
    m_selected = nullptr;
    m_slide->stop();
    if (m_highlight)
        m_highlight->hide();
}

void VemiSidebarSelection::follow()
{
    if (!m_selected || !m_highlight)
        return;
    const QRectF target = QRectF(m_selected->geometry());
    if (isSliding())
        m_slide->setEndValue(target);
    else
        setGeometry(target);
    m_highlight->setVisible(m_selected->isVisible());
    m_highlight->lower();
}

bool VemiSidebarSelection::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_selected) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            follow();
            break;
        case QEvent::ParentChange:
            select(m_selected);
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

VemiSidebarItem::VemiSidebarItem(
    const QString &title, const QString &systemImage, VemiSidebarSelection *selection, QWidget *parent)
    : QAbstractButton(parent)
    , m_systemImage(systemImage)
    , m_selection(selection)
    , m_press(this, 0)
    , m_selectedLevel(this, 0)
{
    setText(title);
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(VemiMotion::notifier(), &VemiMotionNotifier::changed, this, qOverload<>(&QWidget::update));
}

VemiSidebarItem::~VemiSidebarItem()
{
    if (m_selection)
        m_selection->deselect(this);
}

void VemiSidebarItem::setSelected(bool selected)
{
    if (isChecked() != selected) {
        setChecked(selected);
        updateGeometry();
    }
    const int duration = m_selection ? m_selection->slideDuration(this) : 0;
    m_selectedLevel.animateTo(selected ? 1.0 : 0.0, duration);
    if (m_selection) {
        if (selected)
            m_selection->select(this);
        else
            m_selection->deselect(this);
    }
    update();
}

void VemiSidebarItem::nextCheckState()
{
    // The caller decides what is selected.
}

qreal VemiSidebarItem::currentScale() const
{
    return VemiMotion::reduceMotion(this) ? 1.0 : 1.0 - 0.015 * m_press.value();
}

qreal VemiSidebarItem::currentOpacity() const
{
    return 1.0 - 0.18 * m_press.value();
}

int VemiSidebarItem::transitionDuration() const
{
    return VemiMotion::reduceMotion(this) ? 80 : 100;
}

void VemiSidebarItem::syncPressed()
{
    m_press.animateTo(isDown() ? 1.0 : 0.0, transitionDuration());
    if (m_selection && m_selection->selectedItem() == this && m_selection->m_highlight)
        m_selection->m_highlight->update();
}

bool VemiSidebarItem::event(QEvent *event)
{
    const bool handled = QAbstractButton::event(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::FocusOut:
        syncPressed();
        break;
    default:
        break;
    }
    return handled;
}

void VemiSidebarItem::focusInEvent(QFocusEvent *event)
{
    m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason
        || event->reason() == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
}

QSize VemiSidebarItem::sizeHint() const
{
    const QFontMetricsF metrics(VemiFonts::font(VemiTextStyle::body, QFont::DemiBold));
    const qreal width = 12 + 20 + 10 + metrics.horizontalAdvance(text()) + 12;
    const qreal height = 9 + std::max(metrics.height(), 18.0) + 9;
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

QSize VemiSidebarItem::minimumSizeHint() const
{
    return sizeHint();
}

void VemiSidebarItem::paintEvent(QPaintEvent *)
{
    if (m_press.target() != (isDown() ? 1.0 : 0.0))
        syncPressed();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect());
    const qreal scale = currentScale();
    painter.translate(frame.center());
    painter.scale(scale, scale);
    painter.translate(-frame.center());
    painter.setOpacity(currentOpacity() * (isEnabled() ? 1.0 : 0.5));

    const QColor foreground = mix(VemiPalette::primaryText(this), QColor(Qt::white), m_selectedLevel.value());
    const QRectF content = frame.adjusted(12, 0, -12, 0);
    const qreal iconSide = 15;
    VemiSymbols::paint(painter, m_systemImage,
        QRectF(content.left() + (20 - iconSide) / 2, content.center().y() - iconSide / 2, iconSide, iconSide),
        foreground);
    painter.setFont(VemiFonts::font(VemiTextStyle::body, isChecked() ? QFont::DemiBold : QFont::Normal));
    painter.setPen(foreground);
    const QRectF textRect = content.adjusted(20 + 10, 0, 0, 0);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
        painter.fontMetrics().elidedText(text(), Qt::ElideRight, int(textRect.width())));

    if (hasFocus() && m_keyboardFocus) {
        QPainterPath ring;
        ring.addRoundedRect(frame.adjusted(1, 1, -1, -1), 9, 9);
        painter.setOpacity(1);
        painter.strokePath(ring,
            QPen(isChecked() ? withAlpha(Qt::white, 0.85) : withAlpha(VemiPalette::vemiTeal(), 0.9), 2));
    }
}
