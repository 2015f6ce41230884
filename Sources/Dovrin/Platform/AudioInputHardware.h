#pragma once

#include "Platform/AudioInputDevice.h"

#include <QList>

#include <optional>

// The microphones the sound server offers, read afresh on every call: every source that is not the
// monitor of an output. No server, or a failed query, gives no devices.
namespace AudioInputHardware {

// Sorted by name without regard to case (equal names keep the server's order).
QList<AudioInputDevice> devices();
std::optional<AudioInputDevice> device(const QString &uid);
// The server's default source, absent when there is none or it is a monitor.
std::optional<AudioInputDevice> defaultInput();

} // namespace AudioInputHardware
