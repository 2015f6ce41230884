#include "Settings/VemiMenuPopUp.h"

#include "Vemi/VemiDesign.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>

namespace {

// The icon fills the left 16 points of a 19 by 16 canvas, so titles line up with a gap after it.
QIcon menuIcon(const QIcon &icon)
{
    if (icon.isNull())
        return QIcon();
    QIcon padded;
    for (const qreal ratio : { 1.0, 2.0 }) {
        QPixmap canvas(QSize(19, 16) * ratio);
        canvas.setDevicePixelRatio(ratio);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        painter.drawPixmap(QRectF(0, 0, 16, 16), icon.pixmap(QSize(16, 16), ratio), QRectF());
        painter.end();
        padded.addPixmap(canvas);
    }
    return padded;
}

} // namespace

VemiMenuPopUp::VemiMenuPopUp(const QString &accessibilityName, const QString &accessibilityID,
    bool includeSeparatorAfterFirst, QWidget *parent)
    : QComboBox(parent)
    , m_separatorAfterFirst(includeSeparatorAfterFirst)
{
    setObjectName(accessibilityID);
    setAccessibleName(accessibilityName);
    setIconSize(QSize(19, 16));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(8);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    VemiFocus::follow();
    connect(this, &QComboBox::activated, this, [this](int index) {
        const QVariant id = itemData(index);
        m_selection = id.isValid() ? std::optional<QString>(id.toString()) : std::nullopt;
        setToolTip(itemText(index));
        emit userSelected(m_selection);
    });
}

void VemiMenuPopUp::setItems(const QList<VemiPopUpItem> &items, const std::optional<QString> &selection)
{
    if (m_menuOpen) {
        m_pending = std::make_pair(items, selection);
        return;
    }
    m_pending.reset();
    if (items == m_items && selection == m_selection && count() > 0)
        return;
    m_items = items;
    m_selection = selection;
    rebuild();
    updateGeometry();
}

std::optional<QString> VemiMenuPopUp::selectedID() const
{
    const QVariant id = currentData();
    return id.isValid() ? std::optional<QString>(id.toString()) : std::nullopt;
}

void VemiMenuPopUp::rebuild()
{
    const QSignalBlocker quiet(this);
    ++m_rebuilds;
    clear();
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        const VemiPopUpItem &item = m_items.at(i);
        addItem(menuIcon(item.image), item.title, item.id ? QVariant(*item.id) : QVariant());
        setItemData(count() - 1, item.title, Qt::ToolTipRole);
        if (i == 0 && m_separatorAfterFirst)
            insertSeparator(count());
    }
    int selected = 0;
    if (m_selection) {
        for (int row = 0; row < count(); ++row) {
            if (itemData(row).isValid() && itemData(row).toString() == *m_selection) {
                selected = row;
                break;
            }
        }
    }
    setCurrentIndex(count() > 0 ? selected : -1);
    setToolTip(count() > 0 ? itemText(selected) : QString());
}

void VemiMenuPopUp::showPopup()
{
    m_menuOpen = true;
    QComboBox::showPopup();
}

void VemiMenuPopUp::hidePopup()
{
    QComboBox::hidePopup();
    m_menuOpen = false;
    // After the choice that closed the menu has been delivered against the entries it was made in.
    QMetaObject::invokeMethod(this, &VemiMenuPopUp::applyPending, Qt::QueuedConnection);
}

void VemiMenuPopUp::applyPending()
{
    if (m_menuOpen || !m_pending)
        return;
    const auto [items, selection] = *m_pending;
    setItems(items, selection);
}

QSize VemiMenuPopUp::sizeHint() const
{
    // Wide enough for its longest entry (up to a limit past which entries are cut with "…"): the
    // row around it grows rather than cut "This Computer (everything playing)".
    int widest = 0;
    for (const VemiPopUpItem &item : m_items)
        widest = std::max(widest,
            fontMetrics().horizontalAdvance(item.title) + (item.image.isNull() ? 0 : iconSize().width() + 2));
    const int width = std::min(widest + 8 + 24 + 4, maximumHintWidth);
    return QSize(std::max(width, QComboBox::sizeHint().width()), std::max(fontMetrics().height() + 10, 24));
}

void VemiMenuPopUp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(frame, 6, 6);
    // Disabled, the field fades; its text and chevrons keep a legible colour.
    painter.setOpacity(isEnabled() ? 1.0 : 0.45);
    painter.fillPath(shape, VemiPalette::vemiPanelRaised(appearance));
    painter.strokePath(shape, QPen(VemiPalette::vemiLine(appearance), 1));
    painter.setOpacity(1.0);
    if (hasFocus() && m_keyboardFocus)
        painter.strokePath(shape, QPen(VemiPalette::focusRing(appearance), 2));

    QRectF content = frame.adjusted(8, 0, -24, 0);
    const QIcon icon = itemIcon(currentIndex());
    if (!icon.isNull()) {
        const QRectF iconRect(content.left(), frame.center().y() - 8, 19, 16);
        icon.paint(&painter, iconRect.toRect(), Qt::AlignLeft | Qt::AlignVCenter);
        content.setLeft(iconRect.right() + 2);
    }
    const QColor text = isEnabled() ? VemiPalette::primaryText(this) : VemiPalette::disabledText(this);
    painter.setPen(text);
    painter.setFont(font());
    painter.drawText(content, Qt::AlignLeft | Qt::AlignVCenter,
        fontMetrics().elidedText(currentText(), Qt::ElideRight, int(content.width())));

    // Up and down chevrons: a menu, not a field to type into.
    const QPointF centre(frame.right() - 12, frame.center().y());
    QPainterPath chevrons;
    chevrons.moveTo(centre + QPointF(-3, -2));
    chevrons.lineTo(centre + QPointF(0, -5));
    chevrons.lineTo(centre + QPointF(3, -2));
    chevrons.moveTo(centre + QPointF(-3, 2));
    chevrons.lineTo(centre + QPointF(0, 5));
    chevrons.lineTo(centre + QPointF(3, 2));
    painter.strokePath(chevrons,
        QPen(isEnabled() ? VemiPalette::secondaryText(this) : VemiPalette::disabledText(this), 1.4,
            Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void VemiMenuPopUp::focusInEvent(QFocusEvent *event)
{
    m_keyboardFocus = VemiFocus::showsRing(event);
    QComboBox::focusInEvent(event);
}
