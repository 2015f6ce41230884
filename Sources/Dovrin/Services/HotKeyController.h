#pragma once

#include "Rules/CaptureShortcut.h"

#include <QObject>

#include <functional>
#include <memory>

class X11KeyGrab;

// The one global capture shortcut. Each press runs the action once, on the main thread.
class HotKeyController : public QObject
{
public:
    explicit HotKeyController(std::function<void()> action, QObject *parent = nullptr);
    ~HotKeyController() override;

    // Replaces the registered shortcut. After a conflict or a failure no shortcut is registered at
    // all, not even the one before.
    HotKeyRegistrationState registerShortcut(const CaptureShortcut &shortcut);
    bool isRegistered() const;

private:
    std::function<void()> m_action;
    std::unique_ptr<X11KeyGrab> m_handler;
};
