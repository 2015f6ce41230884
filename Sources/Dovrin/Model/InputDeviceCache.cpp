#include "Model/InputDeviceCache.h"

#include <QtConcurrent>

InputDeviceCache::InputDeviceCache(std::function<ModelServices::InputDevices()> read, QObject *parent)
    : QObject(parent)
    , m_read(std::move(read))
{ }

std::optional<AudioInputDevice> InputDeviceCache::device(const QString &uid) const
{
    for (const AudioInputDevice &device : m_devices.devices) {
        if (device.uid == uid)
            return device;
    }
    return std::nullopt;
}

Task<> InputDeviceCache::refresh()
{
    return read(++m_generation);
}

Task<> InputDeviceCache::read(int generation)
{
    if (!m_read)
        co_return;
    QFuture<ModelServices::InputDevices> reading = QtConcurrent::run(m_read);
    ModelServices::InputDevices devices = co_await reading;
    if (generation != m_generation)
        co_return;
    m_devices = std::move(devices);
    emit changed();
}
