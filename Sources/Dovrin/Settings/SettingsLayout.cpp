#include "Settings/SettingsLayout.h"

#include <QEvent>
#include <QPainter>

namespace {

// Keeps a label's colour in step with the palette it is shown in (light or dark).
class ColorFollower : public QObject
{
public:
    ColorFollower(QLabel *label, const VemiColor &color)
        : QObject(label)
        , m_color(color)
    {
        label->installEventFilter(this);
        apply(label);
    }

    void setColor(QLabel *label, const VemiColor &color)
    {
        m_color = color;
        apply(label);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::PaletteChange || type == QEvent::ParentChange || type == QEvent::Polish)
            apply(static_cast<QLabel *>(watched));
        return false;
    }

private:
    void apply(QLabel *label) const
    {
        // Resolved against the parent: the label's own text colour is what is being set.
        const QWidget *context = label->parentWidget() ? label->parentWidget() : label;
        const QColor resolved = m_color.resolve(context);
        // In a disabled row the label is fainter, and still readable.
        const QColor disabled = VemiPalette::disabledText(context);
        QPalette palette = label->palette();
        if (palette.color(QPalette::Active, QPalette::WindowText) == resolved
            && palette.color(QPalette::Disabled, QPalette::WindowText) == disabled)
            return;
        palette.setColor(QPalette::Active, QPalette::WindowText, resolved);
        palette.setColor(QPalette::Inactive, QPalette::WindowText, resolved);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
        label->setPalette(palette);
    }

    VemiColor m_color;
};

class Hairline : public QWidget
{
public:
    explicit Hairline(bool vertical, QWidget *parent)
        : QWidget(parent)
    {
        if (vertical)
            setFixedWidth(1);
        else
            setFixedHeight(1);
        VemiAccessibility::setDecorative(this, true);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), VemiPalette::vemiLine(VemiPalette::appearance(this)));
    }
};

class PanelStrip : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), VemiPalette::vemiPanel(VemiPalette::appearance(this)));
    }
};

} // namespace

namespace SettingsLayout {

QWidget *panelStrip(QWidget *parent)
{
    return new PanelStrip(parent);
}

QLabel *text(
    const QString &text, VemiTextStyle style, const VemiColor &color, QWidget *parent, QFont::Weight weight)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(VemiFonts::font(style, weight));
    new ColorFollower(label, color);
    return label;
}

void setColor(QLabel *label, const VemiColor &color)
{
    for (QObject *child : label->children()) {
        if (auto *follower = dynamic_cast<ColorFollower *>(child)) {
            follower->setColor(label, color);
            return;
        }
    }
    new ColorFollower(label, color);
}

QLabel *sectionTitle(const QString &title, QWidget *parent)
{
    return text(title, VemiTextStyle::title3, VemiColor::graphite, parent, QFont::Bold);
}

QLabel *caption(const QString &caption, QWidget *parent)
{
    QLabel *label = text(caption, VemiTextStyle::caption, VemiColor::secondary, parent);
    label->setContentsMargins(2, 0, 2, 0);
    return label;
}

QWidget *divider(QWidget *parent)
{
    return new Hairline(false, parent);
}

QWidget *verticalDivider(QWidget *parent)
{
    return new Hairline(true, parent);
}

} // namespace SettingsLayout
