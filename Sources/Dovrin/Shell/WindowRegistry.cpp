#include "Shell/WindowRegistry.h"

#include "Platform/FreedMemory.h"
#include "Services/WindowActivation.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

WindowRegistry::WindowRegistry(QObject *parent)
    : QObject(parent)
{ }

WindowRegistry::~WindowRegistry()
{
    for (const QPointer<QWidget> &window : std::as_const(m_windows))
        delete window.data();
}

const QList<WindowRegistry::Scene> &WindowRegistry::scenes()
{
    static const QList<Scene> all {
        { QStringLiteral("setup"), QStringLiteral("Setup"), QSize(720, 500) },
        { settingsId, QStringLiteral("Settings"), QSize(700, 500) },
        { QStringLiteral("recents"), QStringLiteral("Recent Captures"), QSize(720, 480) },
        { QStringLiteral("receipt"), QStringLiteral("Saved Capture"), std::nullopt },
        { QStringLiteral("recovery"), QStringLiteral("Unfinished Capture"), std::nullopt },
        { QStringLiteral("audio-review"), QStringLiteral("Review Audio"), std::nullopt },
    };
    return all;
}

std::optional<WindowRegistry::Scene> WindowRegistry::scene(const QString &id)
{
    for (const Scene &scene : scenes()) {
        if (scene.id == id)
            return scene;
    }
    return std::nullopt;
}

QString WindowRegistry::windowId(const QString &request)
{
    return request == QLatin1String("preferences") ? settingsId : request;
}

void WindowRegistry::setFactory(const QString &id, Factory factory)
{
    m_factories.insert(id, std::move(factory));
}

QWidget *WindowRegistry::window(const QString &id) const
{
    return m_windows.value(id).data();
}

QWidget *WindowRegistry::open(const QString &id)
{
    if (QWidget *existing = window(id)) {
        WindowActivation::reveal(existing);
        return existing;
    }
    const std::optional<Scene> declared = scene(id);
    const Factory factory = m_factories.value(id);
    if (!declared || !factory) {
        std::fprintf(stderr, "quorvel: no window \"%s\"\n", qUtf8Printable(id));
        return nullptr;
    }
    QWidget *content = factory();
    if (!content)
        return nullptr;
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // What a closed window held lies among blocks still in use: the heaps keep its pages unless asked.
    connect(window, &QObject::destroyed, [] { FreedMemory::returnToSystemSoon(); });
    window->setObjectName(id);
    window->setWindowTitle(declared->title);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    if (declared->defaultSize)
        window->resize(*declared->defaultSize);
    else
        layout->setSizeConstraint(QLayout::SetFixedSize);
    m_windows.insert(id, window);
    // Centred on the screen the user is working on; left to the window manager, many put a new
    // window in a corner.
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect available = screen->availableGeometry();
        const QSize size = declared->defaultSize ? window->size() : window->sizeHint();
        window->move(std::max(available.left(), available.center().x() - size.width() / 2),
            std::max(available.top(), available.center().y() - size.height() / 2));
    }
    window->show();
    WindowActivation::reveal(window);
    emit windowOpened(id, window);
    return window;
}
