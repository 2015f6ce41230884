#pragma once

#include "Async/Task.h"
#include "Rules/LaunchAtLoginPresentation.h"

#include <QString>

#include <functional>
#include <stdexcept>

// A change of the startup registration failed; the text is the one the settings show.
class LaunchAtLoginError : public std::runtime_error
{
public:
    explicit LaunchAtLoginError(const QString &detail);
    QString detail() const { return m_detail; }

private:
    QString m_detail;
};

// Whether the app opens at login, as an XDG autostart entry. The model reads the status at start-up
// and on every activation and changes it from the settings switch.
struct LaunchAtLoginService
{
    std::function<Task<LaunchAtLoginStatus>()> status;
    // Throws LaunchAtLoginError when the entry cannot be written or removed.
    std::function<Task<LaunchAtLoginStatus>(bool)> setEnabled;
    std::function<void()> openLoginItems;

    // Where the entry lives and what it should start.
    struct Environment
    {
        QString executablePath;
        QString homeDirectory;
        QString configHome;
        QString desktopId;

        // This process: its executable, $HOME, $XDG_CONFIG_HOME (when absolute, else ~/.config).
        static Environment current();
    };

    static LaunchAtLoginService live(const Environment &environment = Environment::current());

    static LaunchAtLoginStatus currentStatus(const Environment &environment);
    // Under /usr, /usr/local, /opt or ~/.local once links are resolved; a copy anywhere else (a
    // build folder, Downloads) cannot be registered.
    static bool isInstalledApplication(const QString &executablePath, const QString &homeDirectory);
};
