#include "Services/WindowActivation.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace {

bool s_didInstall = false;
QPointer<QObject> s_closeMonitor;
WindowActivation::ActivationPolicy s_policy = WindowActivation::ActivationPolicy::accessory;
WindowActivation::PolicyEffect s_policyEffect = [](WindowActivation::ActivationPolicy) {};
// Most recently activated windows first: Qt keeps no front-to-back order of its own.
std::vector<QPointer<QWidget>> s_activationOrder;

QApplication *widgetApplication()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance());
}

void postToMainLoop(std::function<void()> step)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(step), Qt::QueuedConnection);
}

const char *const titledProperty = "dovrinTitledWindow";

bool hasTitleBar(const QWidget *window)
{
    if (window->property(titledProperty).toBool())
        return true;
    const Qt::WindowFlags flags = window->windowFlags();
    switch (flags & Qt::WindowType_Mask) {
    case Qt::Window:
    case Qt::Dialog:
    case Qt::Sheet:
    case Qt::Tool:
        break;
    default:
        return false;
    }
    if (flags & Qt::FramelessWindowHint)
        return false;
    if ((flags & Qt::CustomizeWindowHint) && !(flags & Qt::WindowTitleHint))
        return false;
    return true;
}

bool hasCloseButton(const QWidget *window)
{
    const Qt::WindowFlags flags = window->windowFlags();
    return !(flags & Qt::CustomizeWindowHint) || (flags & Qt::WindowCloseButtonHint);
}

bool isNonActivatingPanel(const QWidget *window)
{
    return (window->windowFlags() & Qt::WindowDoesNotAcceptFocus)
        || window->testAttribute(Qt::WA_ShowWithoutActivating);
}

void rememberActivation(QWidget *window)
{
    std::erase_if(s_activationOrder, [window](const QPointer<QWidget> &w) { return !w || w == window; });
    s_activationOrder.insert(s_activationOrder.begin(), window);
}

// Front to back as far as we know it: activation order first, then the rest in Qt's order.
std::vector<QWidget *> orderedWindows()
{
    std::vector<QWidget *> windows;
    for (const QPointer<QWidget> &w : s_activationOrder) {
        if (w)
            windows.push_back(w);
    }
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (std::find(windows.begin(), windows.end(), w) == windows.end())
            windows.push_back(w);
    }
    return windows;
}

void bringForward(QWidget *window)
{
    // Asking again for the key window would undo an activation of another window still in flight.
    if (window->isActiveWindow() && !window->isMinimized() && window->isVisible())
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

bool isCloseChord(const QKeyEvent *event)
{
    constexpr Qt::KeyboardModifiers considered
        = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return event->key() == Qt::Key_W && (event->modifiers() & considered) == Qt::ControlModifier;
}

// Window notifications: becoming key reveals, closing or losing key reconciles.
class WindowObserver : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::WindowActivate && type != QEvent::WindowDeactivate && type != QEvent::Close
            && type != QEvent::Hide)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || !widget->isWindow())
            return false;
        if (type == QEvent::WindowActivate) {
            rememberActivation(widget);
            postToMainLoop([] {
                if (WindowActivation::isUserFacing(QApplication::activeWindow()))
                    WindowActivation::reveal(nullptr);
            });
        } else {
            WindowActivation::scheduleReconcile();
        }
        return false;
    }
};

// Ctrl+W on a closeable user-facing window closes it as its close button would.
class CloseMonitor : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (!isCloseChord(key))
            return false;
        QWidget *window = nullptr;
        if (auto *widget = qobject_cast<QWidget *>(watched))
            window = widget->window();
        if (!window || !hasTitleBar(window) || !hasCloseButton(window) || isNonActivatingPanel(window))
            return false;
        // Claim the chord before any shortcut of the window sees it, then take the key press.
        event->accept();
        if (type == QEvent::KeyPress) {
            QPointer<QWidget> target(window);
            postToMainLoop([target] {
                if (target && WindowActivation::isCloseableUserFacing(target))
                    target->close();
            });
        }
        return true;
    }
};

} // namespace

void WindowActivation::installIfNeeded()
{
    QApplication *app = widgetApplication();
    if (s_didInstall || !app)
        return;
    s_didInstall = true;
    installCloseMonitor();
    app->installEventFilter(new WindowObserver(app));
}

void WindowActivation::installCloseMonitor()
{
    QApplication *app = widgetApplication();
    if (s_closeMonitor || !app)
        return;
    s_closeMonitor = new CloseMonitor(app);
    app->installEventFilter(s_closeMonitor);
}

void WindowActivation::reveal(QWidget *window)
{
    if (!widgetApplication())
        return;
    installIfNeeded();
    if (s_policy != ActivationPolicy::regular)
        setActivationPolicy(ActivationPolicy::regular);
    if (window) {
        bringForward(window);
        return;
    }
    QWidget *key = QApplication::activeWindow();
    if (isUserFacing(key)) {
        bringForward(key);
        return;
    }
    for (QWidget *candidate : orderedWindows()) {
        if (isUserFacing(candidate)) {
            bringForward(candidate);
            return;
        }
    }
}

void WindowActivation::scheduleReconcile()
{
    postToMainLoop([] { postToMainLoop(&WindowActivation::reconcile); });
}

void WindowActivation::reconcile()
{
    if (!widgetApplication())
        return;
    if (hasUserFacingWindow()) {
        if (s_policy != ActivationPolicy::regular)
            reveal(nullptr);
    } else if (s_policy != ActivationPolicy::accessory) {
        setActivationPolicy(ActivationPolicy::accessory);
    }
}

bool WindowActivation::hasUserFacingWindow()
{
    if (!widgetApplication())
        return false;
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](QWidget *w) { return isUserFacing(w); });
}

bool WindowActivation::isUserFacing(const QWidget *window)
{
    if (!window || !window->isWindow())
        return false;
    if (!hasTitleBar(window) || isNonActivatingPanel(window))
        return false;
    if (!window->isEnabled() || window->testAttribute(Qt::WA_X11DoNotAcceptFocus))
        return false;
    if (window->windowFlags() & Qt::X11BypassWindowManagerHint)
        return false;
    // Qt counts an iconified window as visible, and a closed one (even if minimized before) as not.
    return window->isVisible();
}

bool WindowActivation::isCloseableUserFacing(const QWidget *window)
{
    return isUserFacing(window) && hasCloseButton(window);
}

void WindowActivation::markTitled(QWidget *window)
{
    window->setProperty(titledProperty, true);
}

WindowActivation::ActivationPolicy WindowActivation::activationPolicy()
{
    return s_policy;
}

bool WindowActivation::isInstalled()
{
    return s_didInstall;
}

void WindowActivation::setPolicyEffect(PolicyEffect effect)
{
    s_policyEffect = effect ? std::move(effect) : [](ActivationPolicy) {};
}

void WindowActivation::setActivationPolicy(ActivationPolicy policy)
{
    s_policy = policy;
    s_policyEffect(policy);
}
