#pragma once

#include "Model/OnboardingStep.h"

#include <QAbstractButton>

#include <optional>

// One step of the setup window's rail: its badge (the number; a check once done; a teal disc while
// current) and its title. Steps after the current one are disabled.
class SetupRailRow : public QAbstractButton
{
    Q_OBJECT
public:
    SetupRailRow(OnboardingStep step, QWidget *parent = nullptr);

    // "On this computer", "Capture folder", ...
    static QString title(OnboardingStep step);

    // `stored` is the stored step when it is a step at all.
    void setState(OnboardingStep current, std::optional<OnboardingStep> stored);
    bool isCurrent() const { return m_current; }
    bool isDone() const { return m_done; }

    QSize sizeHint() const override { return QSize(160, 40); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    OnboardingStep m_step;
    bool m_keyboardFocus = false;
    bool m_current = false;
    bool m_done = false;
    bool m_reachable = false;
};
