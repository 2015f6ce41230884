#include "Shell/AudioReviewScene.h"

#include "Model/AppModel.h"
#include "Model/AudioReviewSession.h"

#include <QLabel>
#include <QVBoxLayout>

AudioReviewScene::AudioReviewScene(AppModel &model, ViewFactory viewFactory, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_viewFactory(std::move(viewFactory))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    connect(&model, &AppModel::audioReviewChanged, this, &AudioReviewScene::follow);
    follow();
}

void AudioReviewScene::follow()
{
    const std::shared_ptr<AudioReviewSession> session = m_model.audioReview();
    if (m_content && session == m_shown)
        return;
    m_shown = session;
    delete m_content;
    m_content = session && m_viewFactory ? m_viewFactory(session) : nullptr;
    if (!m_content) {
        auto *none = new QLabel(QStringLiteral("No audio review is open."));
        none->setAlignment(Qt::AlignCenter);
        none->setForegroundRole(QPalette::PlaceholderText);
        none->setFixedSize(720, 200);
        m_content = none;
    }
    layout()->addWidget(m_content);
}
