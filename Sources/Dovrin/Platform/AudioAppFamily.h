#pragma once

#include "Platform/AudioCaptureEngine.h"

#include <QMap>
#include <QString>

#include <memory>

// Decides which sound streams belong to a requested family of processes. Built once per capture;
// each question reads /proc for the stream's process only.
class AudioAppFamily
{
public:
    explicit AudioAppFamily(const ProcessTapRequest &request);
    ~AudioAppFamily();
    AudioAppFamily(AudioAppFamily &&) noexcept;
    AudioAppFamily &operator=(AudioAppFamily &&) noexcept;

    // A playback stream's properties (application.process.id, .binary, .name, application.id).
    bool contains(const QMap<QString, QString> &streamProperties) const;

private:
    struct Data;
    std::unique_ptr<Data> d;
};
