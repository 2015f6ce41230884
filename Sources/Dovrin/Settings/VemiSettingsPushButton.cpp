#include "Settings/VemiSettingsPushButton.h"

VemiSettingsPushButton::VemiSettingsPushButton(const QString &title, const std::optional<QString> &help,
    const QString &accessibilityID, std::function<void()> action, QWidget *parent)
    : VemiButton(title, parent)
{
    setObjectName(accessibilityID);
    setAccessibleName(title);
    setToolTip(help.value_or(title));
    VemiButtonStyle::vemiSecondaryAction(this, VemiControlSize::regular);
    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action)
            action();
    });
}
