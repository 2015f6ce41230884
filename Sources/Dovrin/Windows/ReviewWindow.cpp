#include "Windows/ReviewWindow.h"

#include <QCloseEvent>

ReviewWindow::ReviewWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Review Capture"));
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void ReviewWindow::setCloseVeto(ReviewWindowPresenter::CloseVeto veto)
{
    m_veto = std::move(veto);
    ++m_vetoGeneration;
}

void ReviewWindow::closeEvent(QCloseEvent *event)
{
    if (!m_veto || m_approved) {
        m_approved = false;
        m_veto = nullptr;
        event->accept();
        QMainWindow::closeEvent(event);
        emit closed();
        return;
    }
    event->ignore();
    if (m_asking)
        return;
    m_asking = true;
    const int generation = m_vetoGeneration;
    m_answer = m_veto();
    m_answer.whenFinished(this, [this, generation] {
        m_asking = false;
        bool allowed = false;
        try {
            allowed = m_answer.result();
        } catch (...) {
            // A veto that failed keeps the window: nothing was written.
        }
        m_answer = {};
        if (!allowed || generation != m_vetoGeneration || !isVisible())
            return;
        m_approved = true;
        close();
    });
}
