#pragma once

#include "Model/ReviewSession.h"

#include <QWidget>

#include <memory>

class ActivityIndicator;
class FramedTextEditor;
class TextLabel;
class VemiStateView;

// The middle pane of the review: the recognized text to correct, the review's status with the
// character reading or reviewing, and the reminder that everything stays local. The editor is
// locked while recognition runs, since its result replaces the text.
class ReviewEditorPane : public QWidget
{
    Q_OBJECT
public:
    explicit ReviewEditorPane(std::shared_ptr<ReviewSession> session, QWidget *parent = nullptr);

    FramedTextEditor *editor() const { return m_editor; }
    ActivityIndicator *progress() const { return m_progress; }
    TextLabel *statusLabel() const { return m_status; }
    VemiStateView *character() const { return m_character; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    std::shared_ptr<ReviewSession> m_session;
    ActivityIndicator *m_progress;
    TextLabel *m_status;
    VemiStateView *m_character;
    FramedTextEditor *m_editor;
    QString m_statusText;
};
