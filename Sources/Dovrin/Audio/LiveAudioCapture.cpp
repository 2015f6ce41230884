#include "Audio/LiveAudioCapture.h"

#include "Audio/AudioCaptureApps.h"
#include "Platform/AudioInputHardware.h"
#include "Platform/MicrophoneCapture.h"
#include "Platform/ProcessExitWatch.h"
#include "Platform/ProcessTapEngine.h"
#include "Platform/SoundServer.h"

#include <QFutureWatcher>
#include <QtConcurrent>

namespace {

class PidfdAppExitWatch final : public AudioAppExitWatch
{
public:
    // Finding the application's processes reads /proc and asks the sound server: on a worker. The
    // pidfds are then opened here, on the main thread, where their notifiers live.
    PidfdAppExitWatch(const QString &bundleID, std::function<void()> onExit)
        : m_onExit(std::move(onExit))
    {
        QObject::connect(&m_lookup, &QFutureWatcherBase::finished, &m_lookup, [this] {
            m_watch = std::make_unique<ProcessExitWatch>(m_lookup.result(), [this](qint64) {
                if (m_onExit)
                    m_onExit();
            });
        });
        m_lookup.setFuture(
            QtConcurrent::run([bundleID] { return AudioCaptureApps::applicationProcessIDs(bundleID); }));
    }

private:
    std::function<void()> m_onExit;
    QFutureWatcher<QList<qint64>> m_lookup;
    std::unique_ptr<ProcessExitWatch> m_watch;
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
        return std::make_unique<PidfdAppExitWatch>(bundleID, std::move(onExit));
    };
    return factory;
}
