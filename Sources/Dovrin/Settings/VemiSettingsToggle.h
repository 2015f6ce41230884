#pragma once

#include <QAbstractButton>

// A settings switch. Only the user's clicks are reported (userToggled); setOn() from the model moves
// it silently. Disabled it is drawn at 45 % and ignores clicks.
class VemiSettingsToggle : public QAbstractButton
{
    Q_OBJECT
public:
    // `title` is its spoken label and tooltip (the switch shows no text of its own).
    VemiSettingsToggle(const QString &title, const QString &accessibilityID, QWidget *parent = nullptr);

    bool isOn() const { return isChecked(); }
    void setOn(bool on);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void userToggled(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    bool m_keyboardFocus = false;
};
