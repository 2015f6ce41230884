#pragma once

#include <QString>

// A microphone: a sound-server source that is not the monitor of an output.
struct AudioInputDevice
{
    quint32 objectID = 0; // the server's source index (valid while the source exists)
    QString uid; // the source name, stable across restarts: what the settings store
    QString name; // the description shown to the user

    friend bool operator==(const AudioInputDevice &, const AudioInputDevice &) = default;
};
