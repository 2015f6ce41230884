#include "Audio/LiveAudioCapture.h"

#include "Audio/AudioCaptureApps.h"
#include "Platform/AudioInputHardware.h"
#include "Platform/MicrophoneCapture.h"
#include "Platform/ProcessExitWatch.h"
#include "Platform/ProcessTapEngine.h"
#include "Platform/SoundServer.h"

namespace {

class PidfdAppExitWatch final : public AudioAppExitWatch
{
public:
    PidfdAppExitWatch(const QList<qint64> &pids, std::function<void()> onExit)
        : m_watch(pids, [onExit = std::move(onExit)](qint64) {
            if (onExit)
                onExit();
        })
    { }

    bool watchesAnything() const { return !m_watch.watchedProcessIDs().isEmpty(); }

private:
    ProcessExitWatch m_watch;
};

} // namespace

AudioCaptureEngineFactory liveAudioCaptureEngineFactory()
{
    AudioCaptureEngineFactory factory;
    factory.isSupported = [] { return SoundServer::isConfigured(); };
    factory.makeOthers = [] { return std::make_unique<ProcessTapEngine>(); };
    factory.makeMicrophone = [] { return std::make_unique<MicrophoneCapture>(); };
    factory.tapRequest = [](const QString &bundleID, const std::optional<QString> &storedDisplayName) {
        return AudioCaptureApps::tapRequest(bundleID, storedDisplayName);
    };
    factory.inputDeviceUIDs = [] {
        QStringList uids;
        for (const AudioInputDevice &device : AudioInputHardware::devices())
            uids << device.uid;
        return uids;
    };
    factory.watchForAppExit
        = [](const QString &bundleID, std::function<void()> onExit) -> std::unique_ptr<AudioAppExitWatch> {
        auto watch = std::make_unique<PidfdAppExitWatch>(
            AudioCaptureApps::applicationProcessIDs(bundleID), std::move(onExit));
        if (!watch->watchesAnything())
            return nullptr;
        return watch;
    };
    return factory;
}
