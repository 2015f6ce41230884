#pragma once

#include "Model/AppModel.h"
#include "Shell/AudioReviewScene.h"
#include "Shell/ModelCommands.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class DefaultsStore;
class DovrinAppDelegate;
class MenuBarExtra;
class StoredBoolean;
class WindowRegistry;

// The program: the delegate, the stored inspector setting, the one application model with the quit gate, the
// window registry and the tray. Built once in main() after the single-instance check.
class DovrinApp : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QStringList arguments;
        // None: a model over the live services, made after the delegate.
        std::unique_ptr<AppModel> model;
        // The standard defaults suite (none: the one in the config folder).
        std::shared_ptr<DefaultsStore> standardDefaults;
        // Whether the desktop has a tray (none: asks Qt).
        std::function<bool()> trayAvailable;
    };

    static inline const QString showReviewInspectorKey = QStringLiteral("review-show-inspector");

    explicit DovrinApp(Options options, QObject *parent = nullptr);
    ~DovrinApp() override;

    DovrinAppDelegate &delegate() { return *m_delegate; }
    StoredBoolean &showReviewInspector() { return *m_showReviewInspector; }
    AppModel &model() { return *m_model; }
    WindowRegistry &windows() { return *m_windows; }
    MenuBarExtra &menuBar() { return *m_menuBar; }
    // The menus' operations of the flows that plug into the model; each flow sets its own.
    ModelCommands &commands() { return m_commands; }

    // The audio review view for an open audio review; registered by the windows' layer.
    void setAudioReviewView(AudioReviewScene::ViewFactory factory) { m_audioReviewView = std::move(factory); }

    // Finishes launching and puts up the tray, whose first appearance opens the window asked for during
    // start-up.
    void start();
    // Another start of the program asked for this one.
    void activate();

private:
    void openWindow(const QString &id);

    DovrinAppDelegate *m_delegate;
    StoredBoolean *m_showReviewInspector;
    std::unique_ptr<AppModel> m_model;
    WindowRegistry *m_windows;
    ModelCommands m_commands;
    std::unique_ptr<MenuBarExtra> m_menuBar;
    AudioReviewScene::ViewFactory m_audioReviewView;
};
