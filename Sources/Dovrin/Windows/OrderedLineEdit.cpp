#include "Windows/OrderedLineEdit.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace {
// A click held back longer than this is not one the keys overtook (and a stamp that wrapped around
// is no order at all).
constexpr quint64 heldAtMostMs = 10000;
} // namespace

OrderedLineEdit::OrderedLineEdit(QWidget *parent)
    : QLineEdit(parent)
{ }

bool OrderedLineEdit::overtakenByKeys(const QMouseEvent *event) const
{
    const quint64 at = event->timestamp();
    return at != 0 && at < m_lastKeyAt && m_lastKeyAt - at < heldAtMostMs;
}

void OrderedLineEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->timestamp() != 0)
        m_lastKeyAt = std::max<quint64>(m_lastKeyAt, event->timestamp());
    QLineEdit::keyPressEvent(event);
}

void OrderedLineEdit::mousePressEvent(QMouseEvent *event)
{
    m_passingOver = overtakenByKeys(event);
    if (m_passingOver) {
        event->accept();
        return;
    }
    QLineEdit::mousePressEvent(event);
}

void OrderedLineEdit::mouseMoveEvent(QMouseEvent *event)
{
    if (m_passingOver && event->buttons() != Qt::NoButton) {
        event->accept();
        return;
    }
    QLineEdit::mouseMoveEvent(event);
}

void OrderedLineEdit::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_passingOver) {
        m_passingOver = event->buttons() != Qt::NoButton;
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void OrderedLineEdit::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (overtakenByKeys(event)) {
        m_passingOver = true;
        event->accept();
        return;
    }
    QLineEdit::mouseDoubleClickEvent(event);
}
