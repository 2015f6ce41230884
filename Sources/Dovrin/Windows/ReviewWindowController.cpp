#include "Windows/ReviewWindowController.h"

#include "Documents/DefaultsStore.h"
#include "Platform/FreedMemory.h"
#include "Services/WindowActivation.h"
#include "Windows/ReviewView.h"
#include "Windows/ReviewWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

ReviewWindowController::ReviewWindowController(
    std::shared_ptr<DefaultsStore> standardDefaults, QObject *parent)
    : QObject(parent)
    , m_defaults(standardDefaults ? std::move(standardDefaults) : std::make_shared<InMemoryDefaultsStore>())
    , m_window(new ReviewWindow)
{
    m_inspector.read = [defaults = m_defaults] { return defaults->boolean(showInspectorKey, true); };
    m_inspector.write
        = [defaults = m_defaults](bool shown) { defaults->setBoolean(showInspectorKey, shown); };
    m_window->installEventFilter(this);
    connect(m_window, &ReviewWindow::closed, this, [] { WindowActivation::scheduleReconcile(); });
}

ReviewWindowController::~ReviewWindowController()
{
    saveFrame();
    m_window->removeEventFilter(this);
    delete m_window;
}

ReviewView *ReviewWindowController::view() const
{
    return qobject_cast<ReviewView *>(m_window->centralWidget());
}

void ReviewWindowController::setInspectorSetting(InspectorSetting setting)
{
    m_inspector = std::move(setting);
    if (ReviewView *shown = view())
        shown->setInspectorShown(m_inspector.read());
}

void ReviewWindowController::setMenuBar(QMenuBar *menuBar)
{
    m_window->setMenuBar(menuBar);
    if (ReviewView *shown = view())
        shown->yieldShortcuts(menuKeys());
}

QList<QKeySequence> ReviewWindowController::menuKeys() const
{
    QList<QKeySequence> keys;
    QMenuBar *bar = m_window->menuWidget() ? qobject_cast<QMenuBar *>(m_window->menuWidget()) : nullptr;
    if (!bar)
        return keys;
    QList<QAction *> pending = bar->actions();
    while (!pending.isEmpty()) {
        QAction *action = pending.takeFirst();
        // Keys bound only inside an editor (cut, copy...) do not compete with the window's own.
        if (action->shortcutContext() != Qt::WidgetShortcut)
            keys += action->shortcuts();
        if (action->menu())
            pending += action->menu()->actions();
    }
    return keys;
}

void ReviewWindowController::present(
    std::shared_ptr<ReviewSession> session, AppModel *model, CloseVeto shouldClose)
{
    ++m_presentation;
    m_window->setCloseVeto(std::move(shouldClose));
    auto *content = new ReviewView(std::move(session), model, m_inspector.read ? m_inspector.read() : true);
    connect(content, &ReviewView::inspectorToggled, this, [this](bool shown) {
        if (m_inspector.write)
            m_inspector.write(shown);
    });
    content->yieldShortcuts(menuKeys());
    m_window->setCentralWidget(content);
    place();
    m_window->show();
    WindowActivation::reveal(m_window);
}

void ReviewWindowController::orderOut()
{
    m_window->setCloseVeto(nullptr);
    m_window->hide();
}

void ReviewWindowController::bringToFront()
{
    m_window->show();
    WindowActivation::reveal(m_window);
}

void ReviewWindowController::inspectorSettingChanged(bool shown)
{
    if (ReviewView *content = view())
        content->setInspectorShown(shown);
}

void ReviewWindowController::place()
{
    if (m_placed)
        return;
    m_placed = true;
    const std::optional<QByteArray> frame = m_defaults->data(frameKey);
    if (frame && m_window->restoreGeometry(*frame))
        return;
    m_window->resize(initialSize);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect placed(QPoint(), m_window->size());
        placed.moveCenter(screen->availableGeometry().center());
        m_window->move(placed.topLeft());
    }
}

void ReviewWindowController::saveFrame()
{
    if (m_placed)
        m_defaults->setData(frameKey, m_window->saveGeometry());
}

bool ReviewWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Hide) {
        saveFrame();
        // Not inside the hide: the content may be what is hiding the window. A minimized window
        // stays visible and keeps everything.
        if (!m_window->isVisible())
            QTimer::singleShot(
                0, this, [this, presentation = m_presentation] { releaseHidden(presentation); });
    }
    return QObject::eventFilter(watched, event);
}

void ReviewWindowController::releaseHidden(int presentation)
{
    if (presentation != m_presentation || m_window->isVisible())
        return;
    if (QWidget *content = m_window->takeCentralWidget()) {
        // Its blocks lie among ones still in use: the heaps keep their pages unless asked. Asked once
        // the deletion is over: the children (the text's document, hundreds of megabytes for a long
        // note) go after the signal, and a trim running meanwhile gives back almost nothing.
        connect(content, &QObject::destroyed,
            [] { FreedMemory::returnToSystemAfter(std::chrono::milliseconds(0)); });
        content->deleteLater();
    }
    m_window->releaseNativeWindow();
}
