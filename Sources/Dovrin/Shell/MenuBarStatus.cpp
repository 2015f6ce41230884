#include "Shell/MenuBarStatus.h"

#include "Audio/AudioSessionCoordinator.h"
#include "Model/AppModel.h"

MenuBarStatus::MenuBarStatus(AppModel &model, Environment environment, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_environment(std::move(environment))
{
    m_presentation = presentation();
    connect(&model.audio(), &AudioSessionCoordinator::phaseChanged, this, &MenuBarStatus::refresh);
    connect(&model.audio(), &AudioSessionCoordinator::elapsedChanged, this, &MenuBarStatus::refresh);
    connect(&model, &AppModel::settingsChanged, this, &MenuBarStatus::refresh);
    connect(&model, &AppModel::transcriptionProgressChanged, this, &MenuBarStatus::refresh);
    connect(&model, &AppModel::requestedWindowChanged, this, [this] {
        if (m_appeared)
            presentRequestedWindow();
    });
}

MenuBarStatusPresentation MenuBarStatus::presentation() const
{
    const AudioSessionCoordinator &audio = m_model.audio();
    return MenuBarStatusPresentation::resolve(audio.phase(), audio.elapsed(),
        m_model.settings().menuBarRecordingPresence, m_model.transcriptionProgress());
}

void MenuBarStatus::refresh()
{
    const MenuBarStatusPresentation next = presentation();
    if (next == m_presentation)
        return;
    m_presentation = next;
    emit presentationChanged(next);
}

void MenuBarStatus::appear()
{
    if (m_appeared)
        return;
    m_appeared = true;
    m_model.applicationDidBecomeActive();
    presentRequestedWindow();
}

void MenuBarStatus::presentRequestedWindow()
{
    const std::optional<QString> request = m_model.requestedWindow();
    if (!request)
        return;
    if (*request == QLatin1String("preferences") || *request == QLatin1String("settings"))
        m_environment.openSettings();
    else
        m_environment.openWindow(*request);
    m_environment.reveal();
    m_model.clearRequestedWindow();
}
