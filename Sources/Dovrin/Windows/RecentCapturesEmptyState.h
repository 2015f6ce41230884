#pragma once

#include <QWidget>

class QLabel;
class VemiButton;

// What the recent-captures window shows when no entry is listed: the character on a dashed card,
// "Nothing caught yet" with the two ways to make a first capture, or, while searching, "No matching
// captures".
class RecentCapturesEmptyState : public QWidget
{
    Q_OBJECT

public:
    explicit RecentCapturesEmptyState(QWidget *parent = nullptr);

    void setSearching(bool searching);
    VemiButton *captureButton() const { return m_capture; }
    VemiButton *recordButton() const { return m_record; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_card;
    QLabel *m_title;
    QLabel *m_message;
    QWidget *m_actions;
    VemiButton *m_capture;
    VemiButton *m_record;
};
