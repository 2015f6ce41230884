#include "Platform/AudioInputHardware.h"

#include "Platform/PulseConnection.h"

#include <QCollator>

#include <algorithm>

namespace AudioInputHardware {

namespace {

constexpr std::chrono::milliseconds queryTimeout { 500 };

std::unique_ptr<PulseConnection> connect()
{
    if (!PulseConnection::serverConfigured())
        return nullptr;
    return PulseConnection::open(QStringLiteral("Quorvel devices"), queryTimeout);
}

AudioInputDevice toDevice(const PulseSourceInfo &source)
{
    return AudioInputDevice { source.index, source.name,
        source.description.isEmpty() ? source.name : source.description };
}

} // namespace

QList<AudioInputDevice> devicesFrom(const QList<PulseSourceInfo> &sources)
{
    QList<AudioInputDevice> devices;
    for (const PulseSourceInfo &source : sources) {
        if (!source.isMonitor() && !source.name.isEmpty() && source.channels > 0)
            devices.append(toDevice(source));
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(
        devices.begin(), devices.end(), [&](const AudioInputDevice &a, const AudioInputDevice &b) {
            return collator.compare(a.name, b.name) < 0;
        });
    return devices;
}

QList<AudioInputDevice> devices()
{
    const auto connection = connect();
    if (!connection)
        return {};
    return devicesFrom(connection->sources().value_or(QList<PulseSourceInfo> {}));
}

std::optional<AudioInputDevice> device(const QString &uid)
{
    for (const AudioInputDevice &candidate : devices()) {
        if (candidate.uid == uid)
            return candidate;
    }
    return std::nullopt;
}

std::optional<AudioInputDevice> defaultInput()
{
    const auto connection = connect();
    if (!connection)
        return std::nullopt;
    const auto server = connection->serverInfo();
    const auto sources = connection->sources();
    if (!server || !sources || server->defaultSourceName.isEmpty())
        return std::nullopt;
    for (const PulseSourceInfo &source : *sources) {
        if (source.name == server->defaultSourceName)
            return source.isMonitor() ? std::nullopt : std::optional(toDevice(source));
    }
    return std::nullopt;
}

} // namespace AudioInputHardware
