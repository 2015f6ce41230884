#include "Shell/DovrinApp.h"

#include "Documents/AppPaths.h"
#include "Documents/DefaultsStore.h"
#include "Services/WindowActivation.h"
#include "Shell/DovrinAppDelegate.h"
#include "Shell/MenuBarExtra.h"
#include "Shell/StoredBoolean.h"
#include "Shell/WindowRegistry.h"

#include <QPointer>

namespace {

std::shared_ptr<DefaultsStore> openStandardDefaults()
{
    std::shared_ptr<DefaultsStore> store
        = SettingsDefaultsStore::open(DefaultsStore::standardSuiteName(), AppPaths::configDirectory());
    return store ? store : std::make_shared<InMemoryDefaultsStore>();
}

} // namespace

DovrinApp::DovrinApp(Options options, QObject *parent)
    : QObject(parent)
    , m_delegate(new DovrinAppDelegate(options.arguments, this))
    , m_showReviewInspector(
          new StoredBoolean(options.standardDefaults ? options.standardDefaults : openStandardDefaults(),
              showReviewInspectorKey, true, this))
{
    m_model = std::move(options.model);
    if (!m_model) {
        AppModel::Services services = AppModel::Services::live();
        services.arguments = options.arguments;
        m_model = std::make_unique<AppModel>(std::move(services));
    }
    // The delegate holds the model only weakly: a model already gone lets the program quit.
    m_delegate->setPrepareForTermination([model = QPointer<AppModel>(m_model.get())]() -> Task<bool> {
        if (!model)
            co_return true;
        co_return co_await model->finalizeOpenSessionsForQuit();
    });
    AppModel *model = m_model.get();
    m_commands.handleAudioInvocation = [model] { model->handleAudioInvocation(); };
    m_windows = new WindowRegistry(this);
    m_windows->setFactory(
        QStringLiteral("audio-review"), [this] { return new AudioReviewScene(*m_model, m_audioReviewView); });
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
