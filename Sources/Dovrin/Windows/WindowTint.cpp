#include "Windows/WindowTint.h"

#include <QVariant>

namespace {

constexpr char tintProperty[] = "windowTint";
constexpr int destructiveRole = -1;
constexpr int tertiaryRole = -2;

QColor resolve(int role, const QColor &fixed, const QWidget *root)
{
    if (role == destructiveRole)
        return WindowTint::destructive(VemiPalette::appearance(root));
    if (role == tertiaryRole)
        return VemiPalette::tertiaryText(root);
    if (role == VemiColor::fixed)
        return fixed;
    return VemiColor(VemiColor::Role(role)).resolve(root);
}

void apply(QWidget *widget, const QWidget *root)
{
    const QVariantList entries = widget->property(tintProperty).toList();
    if (entries.isEmpty())
        return;
    QPalette palette = widget->palette();
    for (const QVariant &entry : entries) {
        const QVariantList parts = entry.toList();
        palette.setColor(QPalette::ColorRole(parts.at(0).toInt()),
            resolve(parts.at(1).toInt(), parts.at(2).value<QColor>(), root));
    }
    if (palette != widget->palette())
        widget->setPalette(palette);
}

void remember(QWidget *widget, QPalette::ColorRole role, int vemiRole, const QColor &fixed)
{
    QVariantList entries = widget->property(tintProperty).toList();
    entries.removeIf([role](const QVariant &entry) { return entry.toList().at(0).toInt() == role; });
    entries.append(QVariant(QVariantList { int(role), vemiRole, fixed }));
    widget->setProperty(tintProperty, entries);
    apply(widget, widget->parentWidget() ? widget->parentWidget() : widget);
}

} // namespace

namespace WindowTint {

QColor destructive(VemiAppearance appearance)
{
    return appearance == VemiAppearance::dark ? QColor(255, 105, 97) : QColor(196, 43, 28);
}

void set(QWidget *widget, const VemiColor &color, QPalette::ColorRole role)
{
    remember(widget, role, color.role(), color.role() == VemiColor::fixed ? color.resolve(widget) : QColor());
}

void setDestructive(QWidget *button)
{
    remember(button, QPalette::WindowText, destructiveRole, QColor());
}

void setTertiary(QWidget *label)
{
    remember(label, QPalette::WindowText, tertiaryRole, QColor());
}

void refresh(QWidget *root)
{
    apply(root, root);
    const QList<QWidget *> children = root->findChildren<QWidget *>();
    for (QWidget *child : children)
        apply(child, root);
}

void fill(QWidget *widget, const VemiColor &color)
{
    widget->setAutoFillBackground(true);
    set(widget, color, QPalette::Window);
}

} // namespace WindowTint
