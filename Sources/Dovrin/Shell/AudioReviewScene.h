#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class AppModel;
class AudioReviewSession;

// The content of the "Review Audio" window: the audio review view while the model has an audio review open,
// else a short note that there is none.
class AudioReviewScene : public QWidget
{
    Q_OBJECT

public:
    using ViewFactory = std::function<QWidget *(std::shared_ptr<AudioReviewSession> session)>;

    AudioReviewScene(AppModel &model, ViewFactory viewFactory, QWidget *parent = nullptr);

    QWidget *content() const { return m_content; }

private:
    void follow();

    AppModel &m_model;
    ViewFactory m_viewFactory;
    std::shared_ptr<AudioReviewSession> m_shown;
    QWidget *m_content = nullptr;
};
