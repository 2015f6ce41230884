// Renders every pane of the settings window and every step of the first-run setup, in the light and
// the dark palette, over the real application model with stand-in services.

#include "Gallery.h"
#include "ModelHarness.h"
#include "Settings/PreferencesView.h"
#include "Settings/SetupView.h"

#include <QApplication>
#include <QDir>

namespace {

struct Scene : ModelHarness
{
    SettingsEnvironment environment;
    PreferencesAudioCatalog catalog;

    Scene()
    {
        environment.reveal = [](QWidget *) {};
        environment.appVersion = QStringLiteral("0.1.0");
        environment.buildNumber = QStringLiteral("1");
        catalog.apps = { { QStringLiteral("org.example.Chat"), QStringLiteral("Chat"), QString() },
            { QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox"), QStringLiteral("firefox") } };
        catalog.devices = { { 1, QStringLiteral("alsa_input.usb"), QStringLiteral("USB Microphone") } };
        requestsOnlyRecheck = true;
    }

    AppModel &start(const AppSettings &settings)
    {
        setSettings(settings);
        return make();
    }
};

AppSettings busySettings(const QString &folder)
{
    AppSettings settings;
    settings.setupComplete = true;
    settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(folder));
    // A saved application the list lacks and is not running, a saved microphone not connected.
    settings.othersAudioBundleID = QStringLiteral("org.example.Meetings");
    settings.othersAudioDisplayName = QStringLiteral("Meetings");
    settings.microphoneDeviceUID = QStringLiteral("alsa_input.gone");
    return settings;
}

bool renderSettings(const QPalette &palette, const QString &suffix)
{
    bool ok = true;
    const QList<std::tuple<SettingsPane, QString, QSize>> panes {
        { SettingsPane::general, QStringLiteral("general"), QSize(720, 1500) },
        { SettingsPane::shortcuts, QStringLiteral("shortcuts"), QSize(720, 420) },
        { SettingsPane::permissions, QStringLiteral("permissions"), QSize(720, 900) },
    };
    for (const auto &[pane, name, size] : panes) {
        Scene scene;
        // Every capsule colour: allowed, not allowed, could not verify.
        scene.scrollingGranted = false;
        scene.defaults->setBoolean(PermissionController::systemAudioAttemptedKey, true);
        scene.microphone = MicrophoneAuthorizationFact::denied;
        scene.hotKeyAnswer = HotKeyRegistrationState::conflict;
        const QString folder = scene.dir.filePath(
            QStringLiteral("Documents/Notes/Quorvel captures with a rather long folder name/2026"));
        QDir().mkpath(folder);
        AppModel &model = scene.start(busySettings(folder));
        PreferencesView view(model, pane, scene.catalog, scene.environment);
        view.setPalette(palette);
        view.resize(size);
        if (pane == SettingsPane::permissions)
            model.requestScrollingPermission();
        view.show();
        // Launch at login answers once the window's own refresh has asked.
        Gallery::settle(100);
        for (const TaskPromise<LaunchAtLoginStatus> &call : scene.statusCalls)
            call.resolve(LaunchAtLoginStatus::enabled);
        ok = Gallery::save(&view, QStringLiteral("settings-%1-%2").arg(name, suffix), 500) && ok;
    }
    // Nothing chosen yet: the whole computer as Others, no saved microphone.
    {
        Scene scene;
        AppSettings settings;
        settings.setupComplete = true;
        AppModel &model = scene.start(settings);
        PreferencesView view(model, SettingsPane::general, scene.catalog, scene.environment);
        view.setPalette(palette);
        view.resize(720, 1500);
        ok = Gallery::save(&view, QStringLiteral("settings-general-defaults-%1").arg(suffix), 500) && ok;
    }
    // A change the disk refused, said under the pane at the window's usual size.
    Scene scene;
    const QString folder = scene.dir.filePath(QStringLiteral("Documents/Notes"));
    QDir().mkpath(folder);
    AppModel &model = scene.start(busySettings(folder));
    PreferencesView view(model, SettingsPane::general, scene.catalog, scene.environment);
    view.setPalette(palette);
    view.resize(720, 560);
    view.show();
    scene.defaults->refuseWrites
        = QStringLiteral("the folder /home/ada/.config/com.quorvel.dovrin is read-only");
    AppSettings settings = model.settings();
    settings.menuBarRecordingPresence = MenuBarRecordingPresence::compact;
    model.updateSettings(settings);
    return Gallery::save(&view, QStringLiteral("settings-write-failure-%1").arg(suffix), 500) && ok;
}

bool renderSetup(const QPalette &palette, const QString &suffix)
{
    bool ok = true;
    for (const OnboardingStep step : OnboardingSteps::allCases) {
        Scene scene;
        scene.screenGranted = step != OnboardingStep::screenRecording;
        AppSettings settings;
        settings.onboardingStep = int(step);
        settings.hasRunTestCapture = false;
        if (int(step) >= int(OnboardingStep::folder) && step != OnboardingStep::folder)
            settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(scene.dir.path()));
        AppModel &model = scene.start(settings);
        SetupView view(model, scene.environment);
        view.setPalette(palette);
        if (step == OnboardingStep::screenRecording)
            model.requestPermission();
        ok = Gallery::save(&view, QStringLiteral("setup-%1-%2").arg(int(step) + 1).arg(suffix), 500) && ok;
    }
    // The shortcut step with the longest shortcut there is: every modifier and a named key.
    {
        Scene scene;
        AppSettings settings;
        settings.onboardingStep = int(OnboardingStep::shortcut);
        settings.defaultFolder = FolderBookmark::make(QUrl::fromLocalFile(scene.dir.path()));
        AppModel &model = scene.start(settings);
        model.applyShortcut(CaptureShortcut { 0x79, 0x1000 | 0x800 | 0x200 | 0x100, QString() });
        SetupView view(model, scene.environment);
        view.setPalette(palette);
        ok = Gallery::save(&view, QStringLiteral("setup-4-long-%1").arg(suffix), 500) && ok;
    }
    // The last step once a capture reached review: Finish Setup is enabled.
    Scene scene;
    AppSettings settings;
    settings.onboardingStep = int(OnboardingStep::testCapture);
    settings.hasRunTestCapture = true;
    AppModel &model = scene.start(settings);
    model.flowContext().setupPresentation().prepareExplicitPresentation();
    SetupView view(model, scene.environment);
    view.setPalette(palette);
    return Gallery::save(&view, QStringLiteral("setup-5-done-%1").arg(suffix), 500) && ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!Gallery::begin(argc, argv))
        return 1;
    bool ok = true;
    for (const auto &[palette, suffix] : { std::pair { Gallery::light(), QStringLiteral("light") },
             std::pair { Gallery::dark(), QStringLiteral("dark") } }) {
        QApplication::setPalette(palette);
        ok = renderSettings(palette, suffix) && ok;
        ok = renderSetup(palette, suffix) && ok;
    }
    return ok ? 0 : 1;
}
