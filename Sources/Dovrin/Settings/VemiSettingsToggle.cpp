#include "Settings/VemiSettingsToggle.h"

#include "Vemi/VemiSwitch.h"

#include <QFocusEvent>
#include <QPainter>
#include <QSignalBlocker>

namespace {

constexpr QSizeF trackSize(32, 18);

} // namespace

VemiSettingsToggle::VemiSettingsToggle(const QString &title, const QString &accessibilityID, QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setObjectName(accessibilityID);
    setAccessibleName(title);
    setToolTip(title);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    VemiFocus::follow();
    connect(this, &QAbstractButton::clicked, this, &VemiSettingsToggle::userToggled);
}

void VemiSettingsToggle::setOn(bool on)
{
    if (isChecked() == on)
        return;
    const QSignalBlocker quiet(this);
    setChecked(on);
    update();
}

QSize VemiSettingsToggle::sizeHint() const
{
    // Room all round for the focus ring.
    return QSize(int(trackSize.width()) + 4, 22);
}

void VemiSettingsToggle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF track(
        QPointF((width() - trackSize.width()) / 2, (height() - trackSize.height()) / 2), trackSize);
    VemiSwitch::paint(painter, track, isChecked() ? 1.0 : 0.0, isEnabled(), isDown(),
        hasFocus() && m_keyboardFocus, VemiPalette::appearance(this));
}

void VemiSettingsToggle::focusInEvent(QFocusEvent *event)
{
    // A ring only for focus reached from the keyboard, not for the first control of a new window.
    m_keyboardFocus = VemiFocus::showsRing(event);
    QAbstractButton::focusInEvent(event);
}
