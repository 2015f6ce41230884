#pragma once

#include <functional>

class QWidget;

// Keeps the app a tray-only accessory while none of its ordinary windows is open, and a regular
// application while one is. Also closes the key window on Ctrl+W.
//
// Main thread only. The policy is state behind an effect: on Linux the live effect changes nothing
// visible (the tray icon stays either way), but what windows and the model ask of it is decided here.
class WindowActivation
{
public:
    enum class ActivationPolicy { regular, accessory };
    using PolicyEffect = std::function<void(ActivationPolicy)>;

    // Once per process: the window observers and the close shortcut.
    static void installIfNeeded();
    // Makes the app regular and brings `window` forward; without one, the key window when it is
    // user-facing, else the front-most user-facing window. Nothing without a QApplication.
    static void reveal(QWidget *window = nullptr);
    // Re-decides the policy two event-loop turns from now, once a closing window is really gone.
    static void scheduleReconcile();

    static bool hasUserFacingWindow();
    // A titled top-level window that can take focus, is no non-activating panel and no
    // window-manager-bypassing status window, and is visible (minimized counts).
    static bool isUserFacing(const QWidget *window);
    static bool isCloseableUserFacing(const QWidget *window);
    // A frameless window that stands for a titled one with its title bar hidden (the prompt panel)
    // counts as titled.
    static void markTitled(QWidget *window);

    static ActivationPolicy activationPolicy();
    static bool isInstalled();
    // Replaces the live effect (which does nothing); used by tests to watch policy changes.
    static void setPolicyEffect(PolicyEffect effect);

private:
    static void installCloseMonitor();
    static void setActivationPolicy(ActivationPolicy policy);
    static void reconcile();
};
