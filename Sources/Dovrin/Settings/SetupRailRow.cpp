#include "Settings/SetupRailRow.h"

#include "Vemi/VemiDesign.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

QString SetupRailRow::title(OnboardingStep step)
{
    switch (step) {
    case OnboardingStep::privacy:
        return QStringLiteral("On this computer");
    case OnboardingStep::folder:
        return QStringLiteral("Capture folder");
    case OnboardingStep::screenRecording:
        return QStringLiteral("Screen Recording");
    case OnboardingStep::shortcut:
        return QStringLiteral("Shortcut");
    case OnboardingStep::testCapture:
        return QStringLiteral("Test capture");
    }
    return QString();
}

SetupRailRow::SetupRailRow(OnboardingStep step, QWidget *parent)
    : QAbstractButton(parent)
    , m_step(step)
{
    setObjectName(QStringLiteral("setup.step.%1").arg(int(step)));
    setText(title(step));
    setAccessibleName(QStringLiteral("Step %1, %2").arg(int(step) + 1).arg(title(step)));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    VemiFocus::follow();
}

void SetupRailRow::setState(OnboardingStep current, std::optional<OnboardingStep> stored)
{
    m_current = m_step == current;
    m_done = stored && int(*stored) > int(m_step);
    m_reachable = int(m_step) <= int(current);
    setEnabled(m_reachable);
    update();
}

void SetupRailRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect());
    const QColor teal = VemiPalette::vemiTeal();
    const QColor primary = VemiPalette::primaryText(this);
    const QColor secondary = VemiPalette::secondaryText(this);
    const QColor tertiary = VemiPalette::tertiaryText(this);
    const VemiAppearance appearance = VemiPalette::appearance(this);
    const QColor ink = VemiPalette::tealInk(appearance);
    if (m_current) {
        // A faint wash with an edge that still stands out from the panel, light or dark.
        QPainterPath shape;
        const QRectF edge = frame.adjusted(0.5, 0.5, -0.5, -0.5);
        shape.addRoundedRect(edge, 9.5, 9.5);
        painter.fillPath(
            shape, VemiPalette::withAlpha(ink, appearance == VemiAppearance::dark ? 0.14 : 0.08));
        painter.strokePath(shape,
            QPen(VemiPalette::legible(VemiPalette::withAlpha(ink, 0.3), VemiPalette::grounds(appearance),
                     VemiPalette::shapeContrast),
                1));
    }
    const QRectF badge(frame.left() + 5, frame.center().y() - 14, 28, 28);
    const QRectF ring = badge.adjusted(0.75, 0.75, -0.75, -0.75);
    // The brand teal disappears into a dark panel as a thin line; marks there take a lighter teal.
    const QColor mark = ink;
    painter.setBrush(m_current ? QBrush(teal) : QBrush(Qt::NoBrush));
    painter.setPen(QPen(m_current ? teal : m_done ? mark : tertiary, 1.5));
    painter.drawEllipse(ring);
    if (m_done && !m_current) {
        VemiSymbols::paint(painter, QStringLiteral("checkmark"), badge.adjusted(9, 9, -9, -9), mark);
    } else {
        painter.setPen(m_current ? QColor(Qt::white) : m_reachable ? secondary : tertiary);
        painter.setFont(VemiFonts::font(VemiTextStyle::caption, QFont::Bold));
        painter.drawText(badge, Qt::AlignCenter, QString::number(int(m_step) + 1));
    }
    painter.setFont(VemiFonts::font(VemiTextStyle::body, m_current ? QFont::DemiBold : QFont::Normal));
    // Steps not reached yet are tertiary: fainter than primary text, still readable.
    painter.setPen(m_reachable ? primary : tertiary);
    painter.drawText(frame.adjusted(5 + 28 + 11, 0, -5, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
    if (hasFocus() && m_keyboardFocus) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(VemiPalette::focusRing(appearance), 2));
        painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), 9, 9);
    }
}

void SetupRailRow::focusInEvent(QFocusEvent *event)
{
    // Only a focus reached from the keyboard is drawn; the first row takes focus when the window opens.
    m_keyboardFocus = VemiFocus::showsRing(event);
    QAbstractButton::focusInEvent(event);
}
