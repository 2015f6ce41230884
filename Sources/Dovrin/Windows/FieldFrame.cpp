#include "Windows/FieldFrame.h"

#include "Vemi/VemiDesign.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

// Keeps the editor's own colours right when the palette around it changes.
void applyEditorColours(QWidget *editor)
{
    QPalette palette = editor->palette();
    const QColor disabled = VemiPalette::disabledText(editor);
    if (palette.color(QPalette::Active, QPalette::Base) == QColor(Qt::transparent)
        && palette.color(QPalette::Disabled, QPalette::Text) == disabled)
        return;
    for (const QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
        palette.setColor(group, QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    editor->setPalette(palette);
}

} // namespace

FieldFrame::FieldFrame(QWidget *editor, qreal radius, int inset, QWidget *parent)
    : QWidget(parent)
    , m_editor(editor)
    , m_radius(radius)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->addWidget(editor);
    styleEditor(editor);
    editor->installEventFilter(this);
}

void FieldFrame::styleEditor(QWidget *editor)
{
    VemiPalette::keepOnPaletteChange(editor, "field-editor-colours", applyEditorColours);
    VemiPalette::keepPlaceholderLegible(editor);
}

void FieldFrame::paint(
    QPainter &painter, const QRectF &frame, qreal radius, bool focused, bool enabled, const QWidget *context)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const VemiAppearance appearance = VemiPalette::appearance(context);
    QPainterPath shape;
    const QRectF edge = frame.adjusted(0.5, 0.5, -0.5, -0.5);
    shape.addRoundedRect(edge, radius, radius);
    if (enabled) {
        painter.fillPath(shape, VemiPalette::vemiPanelRaised(appearance));
        painter.strokePath(shape,
            focused ? QPen(VemiPalette::focusRing(appearance), 1.5)
                    : QPen(VemiPalette::vemiLine(appearance), 1));
    } else {
        painter.fillPath(shape, VemiPalette::vemiPanel(appearance));
        // Opaque, so it reads the same over the field and over whatever lies around it.
        const QColor edge = VemiPalette::legible(
            VemiPalette::over(VemiPalette::withAlpha(VemiPalette::primaryText(context), 0.3),
                VemiPalette::vemiPanel(appearance)),
            VemiPalette::grounds(appearance), VemiPalette::shapeContrast);
        QPen dashes(edge, 1, Qt::CustomDashLine);
        dashes.setDashPattern({ 4, 3 });
        painter.strokePath(shape, dashes);
    }
    painter.restore();
}

void FieldFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, QRectF(rect()), m_radius, m_editor->hasFocus(), m_editor->isEnabled(), this);
}

bool FieldFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_editor
        && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut
            || event->type() == QEvent::EnabledChange))
        update();
    return QWidget::eventFilter(watched, event);
}
