#include "Vemi/VemiButton.h"

#include <QFocusEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

using VemiPalette::mix;
using VemiPalette::withAlpha;

using namespace std::chrono_literals;

namespace {

qreal lerp(qreal a, qreal b, qreal t)
{
    return a + (b - a) * t;
}

} // namespace

VemiButton::VemiButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent)
    , m_hover(this, 0)
    , m_press(this, 0)
{
    setAutoDefault(false);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    VemiFocus::follow();
    connect(VemiMotion::notifier(), &VemiMotionNotifier::changed, this, qOverload<>(&QWidget::update));
}

void VemiButton::setLook(Look look)
{
    m_choseStyle = true;
    applyLook(look, m_controlSize);
}

void VemiButton::setControlSize(VemiControlSize size)
{
    m_choseStyle = true;
    applyLook(m_look, size);
}

void VemiButton::applyLook(Look look, VemiControlSize size)
{
    if (m_look == look && m_controlSize == size)
        return;
    m_look = look;
    m_controlSize = size;
    updateGeometry();
    update();
}

void VemiButton::setSymbol(const QString &name)
{
    m_symbol = name;
    updateGeometry();
    update();
}

void VemiButton::setHoverOverride(std::optional<bool> hover)
{
    m_hoverOverride = hover;
    syncLevels();
}

bool VemiButton::isHovering() const
{
    return m_hoverOverride.value_or(m_pointerInside && isEnabled());
}

qreal VemiButton::currentScale() const
{
    if (!isToolbar() || VemiMotion::reduceMotion(this))
        return 1.0;
    return 1.0 - 0.02 * m_press.value();
}

int VemiButton::transitionDuration() const
{
    return VemiMotion::reduceMotion(this) ? 60 : 100;
}

qreal VemiButton::designHeight() const
{
    if (isToolbar())
        return 28;
    switch (m_controlSize) {
    case VemiControlSize::mini:
        return 18;
    case VemiControlSize::small:
        return 24;
    case VemiControlSize::regular:
        return 28;
    case VemiControlSize::large:
        return 34;
    }
    return 28;
}

qreal VemiButton::horizontalPadding() const
{
    if (isToolbar())
        return 12;
    switch (m_controlSize) {
    case VemiControlSize::mini:
        return 8;
    case VemiControlSize::small:
        return 12;
    case VemiControlSize::regular:
        return 15;
    case VemiControlSize::large:
        return 18;
    }
    return 15;
}

QFont VemiButton::labelFont() const
{
    if (isToolbar())
        return VemiFonts::font(VemiTextStyle::callout, isProminent() ? QFont::DemiBold : QFont::Medium);
    const QFont::Weight weight = isProminent() ? QFont::Medium : QFont::Normal;
    switch (m_controlSize) {
    case VemiControlSize::mini:
        return VemiFonts::font(VemiTextStyle::caption, weight);
    case VemiControlSize::small:
        return VemiFonts::font(VemiTextStyle::callout, weight);
    case VemiControlSize::regular:
    case VemiControlSize::large:
        return VemiFonts::font(VemiTextStyle::body, weight);
    }
    return VemiFonts::font(VemiTextStyle::body, weight);
}

QColor VemiButton::labelColor() const
{
    if (isEnabled())
        return isProminent() ? QColor(Qt::white) : VemiPalette::primaryText(this);
    // A disabled label stays readable on the faded capsule: only the capsule says "disabled". It takes
    // the surrounding text's colour, not a tint of its own: a faded red still read as an action.
    const VemiAppearance appearance = VemiPalette::appearance(this);
    QList<QColor> under;
    for (const QColor &ground : VemiPalette::grounds(appearance))
        under << VemiPalette::over(
            VemiPalette::withAlpha(restingFill(appearance), disabledFillOpacity()), ground);
    const QWidget *surroundings = parentWidget() ? parentWidget() : this;
    return VemiPalette::legible(VemiPalette::disabledText(surroundings), under, VemiPalette::textContrast);
}

QColor VemiButton::restingFill(VemiAppearance appearance) const
{
    return isProminent() ? VemiPalette::vemiTeal() : VemiPalette::vemiPanelRaised(appearance);
}

qreal VemiButton::disabledFillOpacity() const
{
    if (isProminent())
        return 0.28;
    return isToolbar() ? 0.58 : 0.5;
}

qreal VemiButton::menuIndicatorWidth() const
{
    return menu() ? QFontMetricsF(labelFont()).height() * 0.55 + 6 : 0;
}

QSizeF VemiButton::contentSize(const QString &symbol, const QString &text) const
{
    const QFontMetricsF metrics(labelFont());
    qreal width = metrics.horizontalAdvance(text);
    if (!symbol.isEmpty())
        width += metrics.height() * 0.95 + (text.isEmpty() ? 0 : 5);
    if (text.isEmpty() && !symbol.isEmpty())
        width = std::max(width, metrics.height() * 1.4);
    return QSizeF(width, metrics.height());
}

void VemiButton::paintContent(QPainter &painter, const QRectF &rect, const QColor &color,
    const QString &symbol, const QString &text) const
{
    const QFont font = labelFont();
    const QFontMetricsF metrics(font);
    const qreal side = metrics.height() * 0.95;
    const qreal drawn
        = metrics.horizontalAdvance(text) + (symbol.isEmpty() ? 0 : side + (text.isEmpty() ? 0 : 5));
    qreal x = rect.center().x() - drawn / 2;
    if (!symbol.isEmpty()) {
        VemiSymbols::paint(painter, symbol, QRectF(x, rect.center().y() - side / 2, side, side), color);
        x += side + (text.isEmpty() ? 0 : 5);
    }
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(
        QRectF(x, rect.top(), rect.right() - x, rect.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
}

QSizeF VemiButton::labelSize() const
{
    return contentSize(m_symbol, text());
}

void VemiButton::paintLabel(QPainter &painter, const QRectF &rect, const QColor &color)
{
    paintContent(painter, rect, color, m_symbol, text());
}

QSize VemiButton::sizeHint() const
{
    const QSizeF label = labelSize();
    const qreal width = label.width() + menuIndicatorWidth() + 2 * horizontalPadding();
    const qreal h = std::max(designHeight(), label.height() + 6);
    // A capsule never gets narrower than a circle.
    return QSize(int(std::ceil(std::max(width, h))), int(std::ceil(h)));
}

QSize VemiButton::minimumSizeHint() const
{
    return sizeHint();
}

void VemiButton::syncLevels()
{
    const int duration = transitionDuration();
    m_hover.animateTo(isHovering() ? 1.0 : 0.0, duration);
    m_press.animateTo(isDown() ? 1.0 : 0.0, duration);
}

bool VemiButton::event(QEvent *event)
{
    const bool handled = QPushButton::event(event);
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::HoverEnter:
        m_pointerInside = true;
        syncLevels();
        break;
    case QEvent::Leave:
    case QEvent::HoverLeave:
        m_pointerInside = false;
        syncLevels();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::EnabledChange:
    case QEvent::FocusOut:
        syncLevels();
        break;
    default:
        break;
    }
    return handled;
}

void VemiButton::focusInEvent(QFocusEvent *event)
{
    m_keyboardFocus = VemiFocus::showsRing(event);
    QPushButton::focusInEvent(event);
}

void VemiButton::changeEvent(QEvent *event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateGeometry();
}

void VemiButton::paintEvent(QPaintEvent *)
{
    // Catches setDown() and animateClick(), which send no event of their own.
    if (m_press.target() != (isDown() ? 1.0 : 0.0))
        syncLevels();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    const qreal hover = m_hover.value();
    const qreal press = m_press.value();

    QRectF frame = QRectF(rect());
    const qreal scale = currentScale();
    if (scale != 1.0) {
        painter.translate(frame.center());
        painter.scale(scale, scale);
        painter.translate(-frame.center());
    }
    // Disabled: the capsule fades, the label keeps a readable colour of its own.
    if (!isEnabled())
        painter.setOpacity(disabledFillOpacity());

    const QRectF edge = frame.adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath capsule;
    capsule.addRoundedRect(edge, edge.height() / 2, edge.height() / 2);
    const QColor primary = VemiPalette::primaryText(this);
    const QColor raised = VemiPalette::vemiPanelRaised(appearance);
    const QColor teal = VemiPalette::vemiTeal();

    switch (m_look) {
    case Look::toolbarProminent: {
        qreal alpha = lerp(1.0, 0.86, hover);
        alpha = lerp(alpha, 0.76, press);
        painter.fillPath(capsule, withAlpha(teal, alpha));
        break;
    }
    case Look::toolbar: {
        // At rest a raised fill; hovered or pressed a wash of the text colour instead.
        const qreal away = std::max(hover, press);
        painter.fillPath(capsule, withAlpha(raised, 1.0 - away));
        painter.fillPath(capsule, withAlpha(primary, lerp(0.09, 0.14, press) * away));
        break;
    }
    case Look::borderedProminent: {
        QColor fill = mix(teal, QColor(Qt::white), 0.1 * hover);
        fill = mix(fill, QColor(Qt::black), 0.18 * press);
        painter.fillPath(capsule, fill);
        break;
    }
    case Look::bordered:
        painter.fillPath(capsule, raised);
        painter.fillPath(capsule, withAlpha(primary, 0.045 * hover + 0.1 * press));
        break;
    }
    if (!isProminent())
        painter.strokePath(capsule, QPen(VemiPalette::vemiLine(appearance), 1));
    painter.setOpacity(1.0);

    if (hasFocus() && m_keyboardFocus) {
        QPainterPath ring;
        const QRectF inset = frame.adjusted(1.5, 1.5, -1.5, -1.5);
        ring.addRoundedRect(inset, inset.height() / 2, inset.height() / 2);
        const QColor color = isProminent() ? withAlpha(Qt::white, 0.85) : VemiPalette::focusRing(appearance);
        painter.strokePath(ring, QPen(color, 2));
    }

    const qreal padding = horizontalPadding();
    const QColor ink = labelColor();
    const qreal indicator = menuIndicatorWidth();
    const QRectF label = frame.adjusted(padding, 0, -padding - indicator, 0);
    paintLabel(painter, label, ink);
    if (indicator > 0) {
        // A menu opens from here: a small chevron after the label says so.
        const qreal side = indicator - 6;
        const QPointF centre(label.right() + 6 + side / 2, frame.center().y() + side * 0.12);
        QPainterPath chevron;
        chevron.moveTo(centre + QPointF(-side / 2, -side / 4));
        chevron.lineTo(centre + QPointF(0, side / 4));
        chevron.lineTo(centre + QPointF(side / 2, -side / 4));
        painter.strokePath(chevron, QPen(ink, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
}

void VemiButtonStyle::vemiActionGroup(QWidget *row, VemiControlSize size)
{
    if (!row)
        return;
    QList<VemiButton *> buttons = row->findChildren<VemiButton *>();
    if (auto *self = qobject_cast<VemiButton *>(row))
        buttons.prepend(self);
    // The inner style wins: a button that chose its own keeps it.
    for (VemiButton *button : buttons) {
        if (!button->m_choseStyle)
            button->applyLook(VemiButton::Look::bordered, size);
    }
}

void VemiButtonStyle::vemiPrimaryAction(VemiButton *button, VemiControlSize size)
{
    button->setLook(VemiButton::Look::borderedProminent);
    button->setControlSize(size);
}

void VemiButtonStyle::vemiSecondaryAction(VemiButton *button, VemiControlSize size)
{
    button->setLook(VemiButton::Look::bordered);
    button->setControlSize(size);
}

void VemiButtonStyle::toolbarAction(VemiButton *button, bool prominent, std::optional<bool> hoverOverride)
{
    button->setLook(prominent ? VemiButton::Look::toolbarProminent : VemiButton::Look::toolbar);
    button->setHoverOverride(hoverOverride);
}

VemiCopyButton::VemiCopyButton(const QString &title, std::function<bool()> action, QWidget *parent)
    : VemiButton(title, parent)
    , m_title(title)
    , m_action(std::move(action))
    , m_clock(&TaskClock::system())
    , m_fade(this, 0)
{
    setAccessibleName(m_title);
    connect(this, &QAbstractButton::clicked, this, &VemiCopyButton::performCopy);
}

VemiCopyButton::VemiCopyButton(const QString &title, LaterAction action, QWidget *parent)
    : VemiCopyButton(title, std::function<bool()>(), parent)
{
    m_laterAction = std::move(action);
}

VemiCopyButton::~VemiCopyButton()
{
    cancelReset();
}

void VemiCopyButton::setTitle(const QString &title)
{
    m_title = title;
    setText(title);
    if (!m_isConfirmed)
        setAccessibleName(title);
    updateGeometry();
}

void VemiCopyButton::setAction(std::function<bool()> action)
{
    m_action = std::move(action);
}

void VemiCopyButton::setClock(TaskClock *clock)
{
    m_clock = clock ? clock : &TaskClock::system();
}

void VemiCopyButton::cancelReset()
{
    if (m_resetTask.isValid())
        m_resetTask.cancel();
    m_resetTask = Task<>();
}

void VemiCopyButton::setConfirmation(bool confirmed, int generation)
{
    m_generation = generation;
    const bool changed = confirmed != m_isConfirmed;
    m_isConfirmed = confirmed;
    setAccessibleName(confirmed ? QStringLiteral("Copied") : m_title);
    m_fade.animateTo(confirmed ? 1.0 : 0.0, VemiMotion::reduceMotion(this) ? 100 : 120);
    if (changed)
        emit confirmationChanged(confirmed);
}

void VemiCopyButton::performCopy()
{
    cancelReset();
    if (!m_laterAction) {
        confirmCopy(m_action ? m_action() : false);
        return;
    }
    m_copyTask.cancel();
    m_copyTask = Task<>::spawn(this, [this]() -> Task<> {
        Task<bool> copying = m_laterAction();
        const bool copied = co_await copying;
        if (!CurrentTask::isCancelled())
            confirmCopy(copied);
    });
}

void VemiCopyButton::confirmCopy(bool copied)
{
    const int generation = m_generation + 1;
    setConfirmation(copied, generation);
    if (!copied)
        return;
    VemiAccessibility::announce(this);
    m_resetTask = Task<>::spawn(this, [this, generation]() -> Task<> {
        if (!co_await sleepFor(*m_clock, 1200ms))
            co_return;
        if (CurrentTask::isCancelled() || m_generation != generation)
            co_return;
        setConfirmation(false, m_generation);
    });
}

void VemiCopyButton::hideEvent(QHideEvent *event)
{
    // Shown again later, the button starts from its title, as a freshly opened window would.
    cancelReset();
    if (m_isConfirmed) {
        setConfirmation(false, m_generation);
        m_fade.jumpTo(0);
    }
    VemiButton::hideEvent(event);
}

QSizeF VemiCopyButton::labelSize() const
{
    const QSizeF title = contentSize(QString(), m_title);
    const QSizeF copied = contentSize(QStringLiteral("checkmark"), QStringLiteral("Copied"));
    return QSizeF(std::max(title.width(), copied.width()), std::max(title.height(), copied.height()));
}

void VemiCopyButton::paintLabel(QPainter &painter, const QRectF &rect, const QColor &color)
{
    const qreal level = m_fade.value();
    const qreal opacity = painter.opacity();
    if (level < 1.0) {
        painter.setOpacity(opacity * (1.0 - level));
        paintContent(painter, rect, color, QString(), m_title);
    }
    if (level > 0.0) {
        painter.setOpacity(opacity * level);
        paintContent(painter, rect, color, QStringLiteral("checkmark"), QStringLiteral("Copied"));
    }
    painter.setOpacity(opacity);
}
