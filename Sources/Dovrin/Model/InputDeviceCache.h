#pragma once

#include "Async/Task.h"
#include "Model/ModelServices.h"

#include <QObject>

// The microphones as last read from the sound server, so titles and status lines never wait for it.
class InputDeviceCache : public QObject
{
    Q_OBJECT

public:
    InputDeviceCache(std::function<ModelServices::InputDevices()> read, QObject *parent = nullptr);

    const ModelServices::InputDevices &devices() const { return m_devices; }
    std::optional<AudioInputDevice> device(const QString &uid) const;
    // Reads the list again on a worker; a newer refresh overtakes an older one.
    Task<> refresh();

signals:
    void changed();

private:
    Task<> read(int generation);

    std::function<ModelServices::InputDevices()> m_read;
    ModelServices::InputDevices m_devices;
    int m_generation = 0;
};
