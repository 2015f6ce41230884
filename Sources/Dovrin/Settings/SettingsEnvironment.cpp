#include "Settings/SettingsEnvironment.h"

#include "Audio/ApplicationPicker.h"
#include "Model/AppModel.h"
#include "Model/ModelServices.h"
#include "Services/AppRelaunch.h"
#include "Services/WindowActivation.h"

#include <QCoreApplication>
#include <QPointer>

SettingsEnvironment SettingsEnvironment::live(AppModel &model)
{
    SettingsEnvironment environment;
    environment.startCapture = [m = QPointer<AppModel>(&model)] {
        if (m)
            m->startCapture();
    };
    environment.pickApplication
        = [](QWidget *parent, const QString &prompt) { return ApplicationPicker::present(parent, prompt); };
    environment.folderPicker = FolderPicker::live();
    environment.relaunch = [] { AppRelaunch::relaunch(); };
    environment.reveal = [](QWidget *window) { WindowActivation::reveal(window); };
    environment.audioSelfTest = QCoreApplication::arguments().contains(QStringLiteral("--audio-spike"));
    const ModelServices::Environment app = ModelServices::Environment::current();
    environment.appVersion = app.appVersion;
    environment.buildNumber = app.buildNumber;
    return environment;
}
