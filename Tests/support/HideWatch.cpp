#include "HideWatch.h"

#include <QEvent>

HideWatch::HideWatch(std::function<void()> hidden)
    : m_hidden(std::move(hidden))
{ }

bool HideWatch::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::Hide)
        m_hidden();
    return false;
}
