#pragma once

#include "Model/ReviewWindowPresenter.h"

#include <QMainWindow>

// The one "Review Capture" window. Closing it (its close button, Ctrl+W, the menu's Close) first
// asks the close veto, which writes the edits into the draft: the window stays open while the
// answer is on its way and when it is no, and closes once it is yes. Hiding it asks nothing.
class ReviewWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit ReviewWindow(QWidget *parent = nullptr);

    // Replaces the veto; an answer still on its way for the previous one no longer closes the window.
    void setCloseVeto(ReviewWindowPresenter::CloseVeto veto);
    bool hasCloseVeto() const { return bool(m_veto); }
    // A close waits for the veto's answer.
    bool isAskingToClose() const { return m_asking; }
    // Gives up the hidden window's native window and its backing store (a window's worth of
    // shared pixels); the next show makes them again.
    void releaseNativeWindow();

signals:
    // The window closed through a close that the veto allowed (not through hiding).
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    ReviewWindowPresenter::CloseVeto m_veto;
    int m_vetoGeneration = 0;
    bool m_asking = false;
    bool m_approved = false;
};
