#pragma once

#include "Model/AppModel.h"
#include "Settings/SettingsEnvironment.h"
#include "Shell/ModelCommands.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class DefaultsStore;
class DovrinAppDelegate;
class MenuBarExtra;
class ReviewWindowPresenter;
class SingleInstance;
class StoredBoolean;
class WindowRegistry;

// The program, put together in one place: the delegate with the quit gate, the stored inspector setting, the
// one application model, the menus' commands, every window's content (setup, settings, recent captures,
// receipt, recovery, audio review) and the review window with its menu bar, and the tray. What main() runs
// and what the tests check is this same assembly; tests replace only what needs a person or a desktop.
class DovrinApp : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QStringList arguments;
        // None: a model over `services`, whose review window is this program's.
        std::unique_ptr<AppModel> model;
        // None: the live services.
        std::optional<ModelServices> services;
        // What the settings and setup windows reach outside the model (none: the live environment).
        std::function<SettingsEnvironment(AppModel &)> settingsEnvironment;
        // The standard defaults suite (none: the one in the config folder).
        std::shared_ptr<DefaultsStore> standardDefaults;
        // Whether the desktop has a tray (none: asks Qt).
        std::function<bool()> trayAvailable;
    };

    static inline const QString showReviewInspectorKey = QStringLiteral("review-show-inspector");

    explicit DovrinApp(Options options, QObject *parent = nullptr);
    ~DovrinApp() override;

    // The installed program after the single-instance check: the live assembly, brought forward when another
    // start asks, until it quits. Answers the exit status.
    static int run(const QStringList &arguments, SingleInstance &instance);

    DovrinAppDelegate &delegate() { return *m_delegate; }
    StoredBoolean &showReviewInspector() { return *m_showReviewInspector; }
    AppModel &model() { return *m_model; }
    WindowRegistry &windows() { return *m_windows; }
    MenuBarExtra &menuBar() { return *m_menuBar; }
    const ModelCommands &commands() const { return m_commands; }

    // Finishes launching and puts up the tray, whose first appearance opens the window asked for during
    // start-up.
    void start();
    // Another start of the program asked for this one.
    void activate();

private:
    void registerWindows();
    std::unique_ptr<ReviewWindowPresenter> makeReviewWindow();
    void openWindow(const QString &id);

    DovrinAppDelegate *m_delegate;
    std::shared_ptr<DefaultsStore> m_standardDefaults;
    StoredBoolean *m_showReviewInspector;
    std::function<SettingsEnvironment(AppModel &)> m_settingsEnvironment;
    std::unique_ptr<AppModel> m_model;
    WindowRegistry *m_windows;
    ModelCommands m_commands;
    std::unique_ptr<MenuBarExtra> m_menuBar;
};
