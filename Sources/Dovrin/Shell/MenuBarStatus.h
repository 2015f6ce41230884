#pragma once

#include "Rules/MenuBarStatusPresentation.h"

#include <QObject>

#include <functional>

class AppModel;

// What the tray label shows, resolved from the audio session and the presence setting, and the label's
// window-request routine, which handles every request including the settings window.
class MenuBarStatus : public QObject
{
    Q_OBJECT

public:
    struct Environment
    {
        std::function<void(const QString &id)> openWindow;
        std::function<void()> openSettings;
        std::function<void()> reveal;
    };

    MenuBarStatus(AppModel &model, Environment environment, QObject *parent = nullptr);

    MenuBarStatusPresentation presentation() const;

    // The label is shown for the first time: the model's activation refresh, then the window the model asked
    // for while it started. From then on every new request is opened as it comes.
    void appear();
    bool hasAppeared() const { return m_appeared; }
    void presentRequestedWindow();

signals:
    void presentationChanged(const MenuBarStatusPresentation &presentation);

private:
    void refresh();

    AppModel &m_model;
    Environment m_environment;
    MenuBarStatusPresentation m_presentation;
    bool m_appeared = false;
};
