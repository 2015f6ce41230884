#include "Shell/DovrinApp.h"

#include "Documents/AppPaths.h"
#include "Documents/DefaultsStore.h"
#include "Model/WriteBehindDefaultsStore.h"
#include "Services/WindowActivation.h"
#include "Settings/PreferencesView.h"
#include "Settings/SetupView.h"
#include "Shell/AudioReviewScene.h"
#include "Shell/CaptureCommands.h"
#include "Shell/DovrinAppDelegate.h"
#include "Shell/MenuBarExtra.h"
#include "Shell/SingleInstance.h"
#include "Shell/StoredBoolean.h"
#include "Shell/WindowRegistry.h"
#include "Vemi/VemiDesign.h"
#include "Windows/AudioReviewView.h"
#include "Windows/ReceiptView.h"
#include "Windows/RecentCapturesView.h"
#include "Windows/RecoveryView.h"
#include "Windows/ReviewWindowController.h"

#include <QApplication>
#include <QMenuBar>
#include <QPainter>

namespace {

std::shared_ptr<DefaultsStore> openStandardDefaults()
{
    std::shared_ptr<DefaultsStore> store
        = WriteBehindDefaultsStore::open(DefaultsStore::standardSuiteName(), AppPaths::configDirectory());
    return store ? store : std::make_shared<InMemoryDefaultsStore>();
}

QIcon applicationIcon()
{
    QIcon fallback;
    if (const std::optional<VemiImage> &image = VemiImages::regular()) {
        for (const int side : { 32, 64, 128, 256 }) {
            QPixmap pixmap(side, side);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
            image->paint(painter, QRectF(0, 0, side, side));
            painter.end();
            fallback.addPixmap(pixmap);
        }
    }
    return QIcon::fromTheme(QLatin1String(AppPaths::bundleIdentifier), fallback);
}

} // namespace

DovrinApp::DovrinApp(Options options, QObject *parent)
    : QObject(parent)
    , m_delegate(new DovrinAppDelegate(options.arguments, this))
    , m_standardDefaults(options.standardDefaults ? options.standardDefaults : openStandardDefaults())
    , m_showReviewInspector(new StoredBoolean(m_standardDefaults, showReviewInspectorKey, true, this))
    , m_settingsEnvironment(std::move(options.settingsEnvironment))
{
    m_model = std::move(options.model);
    if (!m_model) {
        ModelServices services = options.services ? std::move(*options.services) : ModelServices::live();
        services.arguments = options.arguments;
        // Made on the first review, long after the model exists.
        services.makeReviewWindow = [this] { return makeReviewWindow(); };
        m_model = std::make_unique<AppModel>(std::move(services));
    }
    if (!m_settingsEnvironment)
        m_settingsEnvironment = [](AppModel &model) { return SettingsEnvironment::live(model); };
    // The delegate holds the model only weakly: a model already gone lets the program quit.
    m_delegate->setPrepareForTermination([model = QPointer<AppModel>(m_model.get())]() -> Task<bool> {
        if (!model)
            co_return true;
        co_return co_await model->finalizeOpenSessionsForQuit();
    });
    m_delegate->setOpenWork(
        [model = QPointer<AppModel>(m_model.get())] { return model && model->hasWorkToFinishOnQuit(); });
    m_commands = ModelCommands::live(*m_model);
    m_windows = new WindowRegistry(this);
    registerWindows();
    m_menuBar = std::make_unique<MenuBarExtra>(*m_model, m_commands,
        MenuBarExtra::Environment { [this](const QString &id) { openWindow(id); },
            [this] { openWindow(WindowRegistry::settingsId); }, [] { WindowActivation::reveal(nullptr); },
            [this] { m_delegate->requestTermination(); }, std::move(options.trayAvailable) });
}

DovrinApp::~DovrinApp()
{
    m_menuBar.reset();
    delete m_windows;
    m_model.reset();
}

int DovrinApp::run(const QStringList &arguments, SingleInstance &instance)
{
    QApplication::setWindowIcon(applicationIcon());
    DovrinApp app({ arguments, nullptr, std::nullopt, {}, nullptr, {} });
    connect(&instance, &SingleInstance::activationRequested, &app, &DovrinApp::activate);
    app.start();
    return QApplication::exec();
}

void DovrinApp::registerWindows()
{
    AppModel &model = *m_model;
    m_windows->setFactory(QStringLiteral("setup"),
        [this, &model] { return new SetupView(model, m_settingsEnvironment(model)); });
    m_windows->setFactory(WindowRegistry::settingsId, [this, &model] {
        return new PreferencesView(model, SettingsPane::general, std::nullopt, m_settingsEnvironment(model));
    });
    m_windows->setFactory(QStringLiteral("recents"), [&model] { return new RecentCapturesView(model); });
    m_windows->setFactory(QStringLiteral("receipt"), [&model] { return new ReceiptView(model); });
    m_windows->setFactory(QStringLiteral("recovery"), [&model] { return new RecoveryView(model); });
    m_windows->setFactory(QStringLiteral("audio-review"), [&model] {
        return new AudioReviewScene(model, [&model](std::shared_ptr<AudioReviewSession> session) {
            return new AudioReviewView(&model, std::move(session));
        });
    });
}

std::unique_ptr<ReviewWindowPresenter> DovrinApp::makeReviewWindow()
{
    auto controller = std::make_unique<ReviewWindowController>(m_standardDefaults);
    // The window's inspector and the View menu's command share the one stored setting.
    StoredBoolean *inspector = m_showReviewInspector;
    controller->setInspectorSetting({ [inspector] { return inspector->value(); },
        [inspector](bool shown) { inspector->setValue(shown); } });
    connect(inspector, &StoredBoolean::changed, controller.get(),
        &ReviewWindowController::inspectorSettingChanged);
    auto *menuBar = new QMenuBar;
    new CaptureCommands(*m_model, m_commands, *inspector, menuBar);
    controller->setMenuBar(menuBar);
    return controller;
}

void DovrinApp::openWindow(const QString &id)
{
    m_windows->open(WindowRegistry::windowId(id));
}

void DovrinApp::start()
{
    m_delegate->install();
    m_delegate->applicationDidFinishLaunching();
    m_menuBar->show(!m_delegate->isAudioSpike());
}

void DovrinApp::activate()
{
    m_model->applicationDidBecomeActive();
    m_delegate->applicationDidBecomeActive();
    m_menuBar->comeForward();
}
