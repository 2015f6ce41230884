#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QKeyEvent;
class QWidget;

// While armed, takes every key press meant for one window (whichever control of it has the focus)
// before the window or its shortcuts see it, and hands it on. Key presses meant for any other window
// pass untouched: a recorder in the settings never steals what is typed into a review.
class ShortcutEventCatcher : public QObject
{
    Q_OBJECT
public:
    ShortcutEventCatcher(QWidget *view, std::function<void(QKeyEvent *)> onEvent, QObject *parent = nullptr);
    ~ShortcutEventCatcher() override;

    bool isArmed() const { return m_armed; }
    void setArmed(bool armed);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_view;
    std::function<void(QKeyEvent *)> m_onEvent;
    bool m_armed = false;
};
