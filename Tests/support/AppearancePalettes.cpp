#include "AppearancePalettes.h"

namespace {

QPalette make(const QColor &window, const QColor &text, const QColor &base, const QColor &button,
    const QColor &placeholder)
{
    QPalette palette;
    for (const QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? placeholder : text);
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::AlternateBase, button);
        palette.setColor(group, QPalette::Text, group == QPalette::Disabled ? placeholder : text);
        palette.setColor(group, QPalette::Button, button);
        palette.setColor(group, QPalette::ButtonText, group == QPalette::Disabled ? placeholder : text);
        palette.setColor(group, QPalette::PlaceholderText, placeholder);
        palette.setColor(group, QPalette::Highlight, QColor(13, 79, 79));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::ToolTipBase, base);
        palette.setColor(group, QPalette::ToolTipText, text);
    }
    return palette;
}

} // namespace

QPalette AppearancePalettes::light()
{
    return make(
        QColor(239, 239, 239), QColor(29, 29, 31), Qt::white, QColor(246, 246, 246), QColor(140, 140, 140));
}

QPalette AppearancePalettes::dark()
{
    return make(QColor(45, 45, 48), QColor(232, 232, 232), QColor(30, 30, 32), QColor(58, 58, 62),
        QColor(120, 120, 120));
}
