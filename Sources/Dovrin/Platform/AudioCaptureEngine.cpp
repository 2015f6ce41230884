#include "Platform/AudioCaptureEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

bool AudioStreamFormat::isValid() const
{
    return std::isfinite(sampleRate) && sampleRate > 0 && channelCount >= 1
        && channelCount <= maximumChannels;
}

AudioPCMBuffer::AudioPCMBuffer(
    const AudioStreamFormat &format, const void *const *planes, qint64 frameCount, HostTime hostTime)
    : m_format(format)
    , m_frameCount(frameCount > 0 && format.isValid() && planes ? frameCount : 0)
    , m_hostTime(hostTime)
{
    if (m_frameCount == 0)
        return;
    for (int i = 0; i < format.planeCount(); ++i) {
        m_planes[std::size_t(i)] = static_cast<const std::byte *>(planes[i]);
        if (!planes[i]) {
            m_frameCount = 0;
            m_planes = {};
            return;
        }
    }
}

std::optional<AudioPCMBuffer> AudioPCMBuffer::copy(
    const AudioStreamFormat &format, std::span<const AudioPlane> planes, HostTime hostTime)
{
    if (!format.isValid() || planes.empty() || !planes[0].data || planes[0].byteSize <= 0)
        return std::nullopt;
    const qint64 bytesPerFrame = format.bytesPerFrameInPlane();
    const qint64 frames = planes[0].byteSize / bytesPerFrame;
    const qint64 planeBytes = frames * bytesPerFrame;
    if (frames <= 0 || planeBytes > std::numeric_limits<qsizetype>::max() / format.planeCount())
        return std::nullopt;

    AudioPCMBuffer buffer;
    buffer.m_format = format;
    buffer.m_frameCount = frames;
    buffer.m_hostTime = hostTime;
    buffer.m_storage = QByteArray(qsizetype(planeBytes * format.planeCount()), '\0');
    // Written once here, while unshared; copies of the buffer share it read-only, so it never moves.
    auto *base = reinterpret_cast<std::byte *>(buffer.m_storage.data());
    for (int i = 0; i < format.planeCount(); ++i) {
        std::byte *target = base + qsizetype(i * planeBytes);
        buffer.m_planes[std::size_t(i)] = target;
        if (std::size_t(i) < planes.size() && planes[std::size_t(i)].data) {
            const qint64 available = std::min(planes[std::size_t(i)].byteSize, planeBytes);
            if (available > 0)
                std::memcpy(target, planes[std::size_t(i)].data, std::size_t(available));
        }
    }
    return buffer;
}

AudioPCMBuffer AudioPCMBuffer::detached() const
{
    if (isEmpty())
        return AudioPCMBuffer(m_format, nullptr, 0, m_hostTime);
    std::array<AudioPlane, AudioStreamFormat::maximumChannels> planes {};
    for (int i = 0; i < m_format.planeCount(); ++i)
        planes[std::size_t(i)] = AudioPlane { m_planes[std::size_t(i)], planeByteSize() };
    return *copy(
        m_format, std::span<const AudioPlane>(planes.data(), std::size_t(m_format.planeCount())), m_hostTime);
}
