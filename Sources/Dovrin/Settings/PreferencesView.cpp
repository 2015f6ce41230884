#include "Settings/PreferencesView.h"

#include "Audio/AudioCaptureApps.h"
#include "Model/AppModel.h"
#include "Platform/AudioInputHardware.h"
#include "Settings/GeneralPane.h"
#include "Settings/PermissionsPane.h"
#include "Settings/SettingsLayout.h"
#include "Settings/ShortcutRecorder.h"
#include "Vemi/VemiCharacter.h"
#include "Vemi/VemiSidebar.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace {

struct AudioSources
{
    QList<AudioCaptureApp> apps;
    QList<AudioInputDevice> devices;
    std::optional<bool> othersRunning;
};

} // namespace

PreferencesView::PreferencesView(AppModel &model, SettingsPane initialPane,
    std::optional<PreferencesAudioCatalog> catalog, SettingsEnvironment environment, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_catalog(std::move(catalog))
    , m_environment(std::move(environment))
    , m_pane(initialPane)
    , m_applicationPoll(new QTimer(this))
{
    if (m_catalog) {
        m_listedApps = m_catalog->apps;
        m_inputDevices = m_catalog->devices;
    }
    setMinimumSize(620, 420);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(rail());
    row->addWidget(SettingsLayout::verticalDivider(this));
    auto *right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addWidget(detail(), 1);
    right->addWidget(writeFailureLine());
    row->addLayout(right, 1);
    setPane(initialPane);

    m_applicationPoll->setInterval(applicationPollMs);
    connect(m_applicationPoll, &QTimer::timeout, this, [this] { refreshListedApps(); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && isVisible())
            refreshAudioSources();
    });
    connect(&m_model, &AppModel::settingsChanged, this, &PreferencesView::othersMaybeChanged);
    connect(&m_model, &AppModel::settingsWriteFailureChanged, this, &PreferencesView::refreshWriteFailure);
    connect(&m_model, &AppModel::refusedOthersSourceChanged, this, [this] {
        if (isVisible())
            showRefusedOthersSource();
    });
    refreshWriteFailure();
}

PreferencesView::~PreferencesView() = default;

QString PreferencesView::versionLine(const QString &version, const QString &build)
{
    if (version.isEmpty() || build.isEmpty())
        return QStringLiteral("Version 1.0.0 (1)");
    return QStringLiteral("Version %1 (%2)").arg(version, build);
}

QWidget *PreferencesView::rail()
{
    QWidget *strip = SettingsLayout::panelStrip(this);
    strip->setFixedWidth(176);
    auto *column = new QVBoxLayout(strip);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(6);
    auto *selection = new VemiSidebarSelection(strip);
    for (const SettingsPane pane : SettingsPanes::allCases) {
        auto *item
            = new VemiSidebarItem(SettingsPanes::title(pane), SettingsPanes::symbol(pane), selection, strip);
        item->setObjectName(QStringLiteral("settings.rail.") + SettingsPanes::rawValue(pane));
        connect(item, &QAbstractButton::clicked, this, [this, pane] { setPane(pane); });
        column->addWidget(item);
        m_railItems.append(item);
    }
    column->addStretch(1);
    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(8, 0, 8, 8);
    footer->setSpacing(6);
    auto *vemi = new VemiStateView(VemiState::idle, 28, true, strip);
    vemi->setFixedWidth(32);
    footer->addWidget(vemi);
    auto *names = new QVBoxLayout;
    names->setSpacing(1);
    names->addWidget(SettingsLayout::text(
        QStringLiteral("Quorvel"), VemiTextStyle::caption, VemiColor::primary, strip, QFont::DemiBold));
    QLabel *version = SettingsLayout::text(versionLine(m_environment.appVersion, m_environment.buildNumber),
        VemiTextStyle::caption2, VemiColor::secondary, strip);
    version->setObjectName(QStringLiteral("settings.version"));
    names->addWidget(version);
    footer->addLayout(names, 1);
    column->addLayout(footer);
    return strip;
}

QWidget *PreferencesView::detail()
{
    auto *scroll = new QScrollArea(this);
    m_scroll = scroll;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto *content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(22, 22, 22, 22);
    column->setSpacing(0);

    m_general = new GeneralPane(m_model, *this, m_environment, content);
    column->addWidget(m_general);

    m_shortcuts = new QWidget(content);
    auto *shortcuts = new QVBoxLayout(m_shortcuts);
    shortcuts->setContentsMargins(0, 0, 0, 0);
    shortcuts->setSpacing(16);
    shortcuts->addWidget(SettingsLayout::sectionTitle(QStringLiteral("Capture shortcuts"), m_shortcuts));
    auto *panel = new VemiPanel(16, nullptr, m_shortcuts);
    m_recorder = new ShortcutRecorder(m_model, false, panel);
    panel->contentLayout()->addWidget(m_recorder);
    shortcuts->addWidget(panel);
    column->addWidget(m_shortcuts);

    m_permissions = new PermissionsPane(m_model, m_environment, content);
    column->addWidget(m_permissions);
    column->addStretch(1);
    scroll->setWidget(content);
    // The scroll area paints its page in the window colour; the canvas shows through instead.
    content->setAutoFillBackground(false);
    return scroll;
}

// Below the scrolling pane rather than in it, so it shows beside whatever control was just changed.
QWidget *PreferencesView::writeFailureLine()
{
    // On the rail's colour, so it reads as part of the window rather than of the scrolled pane.
    m_writeFailureLine = SettingsLayout::panelStrip(this);
    auto *column = new QVBoxLayout(m_writeFailureLine);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(SettingsLayout::divider(m_writeFailureLine));
    m_writeFailure = new VemiStatusLabel(
        QString(), VemiColor::coral, QStringLiteral("exclamationmark.triangle.fill"), m_writeFailureLine);
    m_writeFailure->setObjectName(QStringLiteral("settings.write-failure"));
    m_writeFailure->setContentsMargins(22, 12, 22, 12);
    column->addWidget(m_writeFailure);
    return m_writeFailureLine;
}

void PreferencesView::refreshWriteFailure()
{
    const std::optional<QString> &failure = m_model.settingsWriteFailure();
    const QString text = failure
        ? QStringLiteral("Couldn't save settings: %1. Your change applies until Quorvel quits.").arg(*failure)
        : QString();
    m_writeFailure->setText(text);
    m_writeFailure->setAccessibleName(text);
    m_writeFailureLine->setVisible(failure.has_value());
}

void PreferencesView::setPane(SettingsPane pane)
{
    m_pane = pane;
    m_general->setVisible(pane == SettingsPane::general);
    m_shortcuts->setVisible(pane == SettingsPane::shortcuts);
    m_permissions->setVisible(pane == SettingsPane::permissions);
    for (qsizetype i = 0; i < m_railItems.size(); ++i) {
        const bool selected = SettingsPanes::allCases[size_t(i)] == pane;
        // Checked, which is how a screen reader learns which row is selected.
        m_railItems[i]->setSelected(selected);
    }
}

void PreferencesView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    if (!m_catalog)
        m_applicationPoll->start();
    refreshAudioSources();
    m_model.applicationDidBecomeActive();
    if (m_environment.reveal)
        m_environment.reveal(nullptr);
    showRefusedOthersSource();
}

void PreferencesView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        m_applicationPoll->stop();
}

void PreferencesView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
}

std::function<QList<AudioCaptureApp>()> PreferencesView::applicationReader() const
{
    if (m_environment.listApplications)
        return m_environment.listApplications;
    return [] { return AudioCaptureApps::listedApps(); };
}

std::function<QList<AudioInputDevice>()> PreferencesView::inputDeviceReader() const
{
    if (m_environment.listInputDevices)
        return m_environment.listInputDevices;
    return [] { return AudioInputHardware::devices(); };
}

std::function<bool(const QString &)> PreferencesView::runningReader() const
{
    if (m_environment.isFamilyRunning)
        return m_environment.isFamilyRunning;
    return [](const QString &bundleID) { return AudioCaptureApps::isFamilyRunning(bundleID); };
}

bool PreferencesView::othersSourceUnavailable() const
{
    const std::optional<QString> &saved = m_model.settings().othersAudioBundleID;
    if (!saved || saved->isEmpty())
        return false;
    if (m_catalog)
        return !m_catalog->isFamilyRunning(*saved);
    return m_othersRunning && m_othersRunning->first == *saved && !m_othersRunning->second;
}

void PreferencesView::showRefusedOthersSource()
{
    const std::optional<QString> refused = m_model.refusedOthersSource();
    if (!refused)
        return;
    m_model.clearRefusedOthersSource();
    if (m_model.settings().othersAudioBundleID != refused)
        return;
    // The model has just found it not running; a look already under way may still answer otherwise,
    // and then the line goes.
    if (!m_catalog)
        m_othersRunning = std::make_pair(*refused, false);
    setPane(SettingsPane::general);
    emit audioSourcesChanged();
    // Once the pane is laid out with the line shown.
    QTimer::singleShot(0, this, [this] { m_general->revealOthers(*m_scroll); });
}

Task<> PreferencesView::refreshAudioSources()
{
    if (m_catalog) {
        m_listedApps = m_catalog->apps;
        m_inputDevices = m_catalog->devices;
        emit audioSourcesChanged();
        co_return;
    }
    const int generation = ++m_sourcesGeneration;
    const int appsGeneration = ++m_appsGeneration;
    const int runningGeneration = ++m_runningGeneration;
    const std::optional<QString> saved = m_model.settings().othersAudioBundleID;
    // The sound server, /proc and the desktop files are read on a worker, never here.
    // Made before the co_await: g++ 12 destroys a lambda written inside a co_await expression twice.
    QFuture<AudioSources> reading = QtConcurrent::run(
        [saved, devices = inputDeviceReader(), apps = applicationReader(), running = runningReader()] {
            AudioSources read;
            read.devices = devices();
            read.apps = apps();
            if (saved && !saved->isEmpty())
                read.othersRunning = running(*saved);
            return read;
        });
    AudioSources sources = co_await std::move(reading);
    if (generation != m_sourcesGeneration)
        co_return;
    m_inputDevices = std::move(sources.devices);
    // A newer read of the applications, or of the saved one's state, may have answered meanwhile.
    if (appsGeneration == m_appsGeneration)
        m_listedApps = std::move(sources.apps);
    if (runningGeneration == m_runningGeneration && sources.othersRunning)
        m_othersRunning = std::make_pair(*saved, *sources.othersRunning);
    emit audioSourcesChanged();
    // The saved application may have changed while the worker read.
    othersMaybeChanged();
}

Task<> PreferencesView::refreshListedApps()
{
    if (m_catalog)
        co_return;
    const int generation = ++m_appsGeneration;
    QFuture<QList<AudioCaptureApp>> reading = QtConcurrent::run(applicationReader());
    QList<AudioCaptureApp> apps = co_await std::move(reading);
    if (generation != m_appsGeneration || apps == m_listedApps)
        co_return;
    m_listedApps = std::move(apps);
    emit audioSourcesChanged();
    checkOthersRunning();
}

void PreferencesView::othersMaybeChanged()
{
    const std::optional<QString> &saved = m_model.settings().othersAudioBundleID;
    if (m_catalog || !saved || saved->isEmpty() || (m_othersRunning && m_othersRunning->first == *saved))
        return;
    checkOthersRunning();
}

Task<> PreferencesView::checkOthersRunning()
{
    const std::optional<QString> saved = m_model.settings().othersAudioBundleID;
    if (m_catalog || !saved || saved->isEmpty())
        co_return;
    const int generation = ++m_runningGeneration;
    QFuture<bool> asking = QtConcurrent::run(runningReader(), *saved);
    const bool running = co_await std::move(asking);
    if (generation != m_runningGeneration)
        co_return;
    const auto answer = std::make_pair(*saved, running);
    if (m_othersRunning == answer)
        co_return;
    m_othersRunning = answer;
    emit audioSourcesChanged();
}
