#include "Settings/ShortcutEventCatcher.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

ShortcutEventCatcher::ShortcutEventCatcher(
    QWidget *view, std::function<void(QKeyEvent *)> onEvent, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_onEvent(std::move(onEvent))
{ }

ShortcutEventCatcher::~ShortcutEventCatcher()
{
    setArmed(false);
}

void ShortcutEventCatcher::setArmed(bool armed)
{
    if (m_armed == armed || !qApp)
        return;
    m_armed = armed;
    if (armed)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

bool ShortcutEventCatcher::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return false;
    // Key events reach a window's widgets after its native window; only the widget delivery counts.
    if (!m_armed || !m_view || !watched->isWidgetType())
        return false;
    if (static_cast<QWidget *>(watched)->window() != m_view->window())
        return false;
    if (type == QEvent::ShortcutOverride) {
        // Claimed as typing, so no menu or window shortcut fires and the key press follows.
        event->accept();
        return true;
    }
    if (m_onEvent)
        m_onEvent(static_cast<QKeyEvent *>(event));
    return true;
}
