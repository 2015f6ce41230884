#pragma once

#include "Rules/CaptureShortcut.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class X11KeyGrab;

// The one global capture shortcut. Each press runs the action once, on the main thread.
class HotKeyController : public QObject
{
public:
    // The X server says nothing when another program lets a key go: a shortcut it held is tried again
    // every `retryInterval` until it is free.
    explicit HotKeyController(std::function<void()> action, QObject *parent = nullptr,
        std::chrono::milliseconds retryInterval = std::chrono::seconds(2));
    ~HotKeyController() override;

    // Replaces the registered shortcut. After a conflict or a failure no shortcut is registered at
    // all, not even the one before; after a conflict it is tried again until it registers or another
    // shortcut replaces it.
    HotKeyRegistrationState registerShortcut(const CaptureShortcut &shortcut);
    bool isRegistered() const;
    // Told when a shortcut that was held by another program registered later (or became unavailable).
    void setRegistrationChanged(std::function<void(HotKeyRegistrationState)> changed);

private:
    HotKeyRegistrationState grab(const CaptureShortcut &shortcut);
    void retry();

    std::function<void()> m_action;
    std::function<void(HotKeyRegistrationState)> m_changed;
    std::unique_ptr<X11KeyGrab> m_handler;
    CaptureShortcut m_wanted;
    QTimer m_retry;
};
