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
    // An answer still on its way belongs to the previous review: a close of this one asks again.
    m_asking = false;
}

void ReviewWindow::releaseNativeWindow()
{
    // A close already took the platform window, but not the backing store.
    if (!isVisible() && windowHandle())
        destroy();
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
    const Task<bool> answer = m_veto();
    answer.whenFinished(this, [this, generation, answer] {
        // A later review's veto replaced this one: its answer closes nothing.
        if (generation != m_vetoGeneration)
            return;
        m_asking = false;
        bool allowed = false;
        try {
            allowed = answer.result();
        } catch (...) {
            // A veto that failed keeps the window: nothing was written.
        }
        if (!allowed || !isVisible())
            return;
        m_approved = true;
        close();
    });
}
