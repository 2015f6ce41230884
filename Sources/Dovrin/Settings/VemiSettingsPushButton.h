#pragma once

#include "Vemi/VemiButton.h"

#include <functional>
#include <optional>

// A bordered capsule button of a settings row; its help defaults to its title.
class VemiSettingsPushButton : public VemiButton
{
    Q_OBJECT
public:
    VemiSettingsPushButton(const QString &title, const std::optional<QString> &help,
        const QString &accessibilityID, std::function<void()> action, QWidget *parent = nullptr);
};
