#include "Audio/AACStreamWriter.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Float samples beyond this (or not finite) are garbage from the source; such a buffer is clamped
// before it reaches the encoder, which refuses non-finite input.
constexpr float saneMagnitude = 1000.0f;

struct Scan
{
    float peak = 0;
    bool insane = false;
};

Scan scan(const AudioPCMBuffer &buffer)
{
    Scan result;
    if (buffer.isEmpty() || !buffer.format().isValid())
        return result;
    const AudioStreamFormat &format = buffer.format();
    const qint64 samplesPerPlane
        = format.interleaved ? buffer.frameCount() * format.channelCount : buffer.frameCount();
    for (int p = 0; p < format.planeCount(); ++p) {
        const std::byte *plane = buffer.plane(p);
        if (format.sampleType == AudioStreamFormat::SampleType::int16) {
            int largest = 0;
            for (qint64 i = 0; i < samplesPerPlane; ++i) {
                int16_t sample;
                std::memcpy(&sample, plane + i * 2, 2);
                largest = std::max(largest, std::abs(int(sample)));
            }
            result.peak = std::max(result.peak, float(largest) / 32768.0f);
        } else {
            float largest = 0;
            for (qint64 i = 0; i < samplesPerPlane; ++i) {
                float sample;
                std::memcpy(&sample, plane + i * 4, 4);
                const float magnitude = std::fabs(sample);
                if (!std::isfinite(magnitude)) {
                    result.insane = true;
                    continue;
                }
                if (magnitude > saneMagnitude)
                    result.insane = true;
                if (magnitude > largest)
                    largest = magnitude;
            }
            result.peak = std::max(result.peak, largest);
        }
    }
    return result;
}

QString fallbackPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    return (suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1)) + QStringLiteral(".caf");
}

} // namespace

QString AACStreamWriterError::description() const
{
    switch (m_kind) {
    case format:
        return QStringLiteral("Audio format could not be written");
    case createFile:
        return QStringLiteral("The audio file could not be created");
    }
    return {};
}

const char *AACStreamWriterError::what() const noexcept
{
    return m_kind == format ? "Audio format could not be written" : "The audio file could not be created";
}

int AACStreamWriter::processingRate(double sourceRate)
{
    return std::fabs(sourceRate - 44100.0) < 1.0 ? 44100 : 48000;
}

float AACStreamWriter::peak(const AudioPCMBuffer &buffer)
{
    return scan(buffer).peak;
}

AACStreamWriter::AACStreamWriter(const QString &url, const AudioStreamFormat &source)
    : m_url(url)
    , m_source(source)
{
    if (!source.isValid())
        throw AACStreamWriterError(AACStreamWriterError::format);
    m_rate = processingRate(source.sampleRate);
    m_channels = source.channelCount;
    AudioFileEncoder::Settings settings;
    settings.sampleRate = m_rate;
    settings.channelCount = m_channels;
    settings.bitRate = bitRate;
    settings.fragmentMicroseconds = fragmentMicroseconds;
    int error = 0;
    m_encoder = AudioFileEncoder::create(url, settings, &error);
    if (m_encoder) {
        m_compressed = true;
        return;
    }
    // Something already at the path is never written over, nor worked around.
    if (error == EEXIST)
        throw AACStreamWriterError(AACStreamWriterError::createFile);
    const QString fallback = fallbackPath(url);
    settings.container = AudioFileEncoder::Container::caf;
    m_encoder = AudioFileEncoder::create(fallback, settings);
    if (!m_encoder)
        throw AACStreamWriterError(AACStreamWriterError::createFile);
    m_url = fallback;
}

AACStreamWriter::~AACStreamWriter()
{
    finish();
}

bool AACStreamWriter::isCompressed() const
{
    std::lock_guard lock(m_lock);
    return m_compressed;
}

void AACStreamWriter::fail()
{
    if (m_encoder) {
        m_durableFrames = m_encoder->durableFrames();
        m_fileError = m_encoder->lastError() != 0 ? m_encoder->lastError() : EIO;
    } else {
        m_fileError = EIO;
    }
    m_writeFailed = true;
    m_finished = true;
}

void AACStreamWriter::startTimeline(AudioPCMBuffer::HostTime start)
{
    std::lock_guard lock(m_lock);
    m_timelineStart = start;
    m_framesPlaced = 0;
    if (m_encoder)
        m_encoder->setFragmentMicroseconds(std::chrono::microseconds(uncutLimit).count());
}

std::optional<AudioPCMBuffer::HostTime> AACStreamWriter::encodedUntil() const
{
    std::lock_guard lock(m_lock);
    if (m_finished || !m_encoder || !m_timelineStart)
        return std::nullopt;
    return *m_timelineStart
        + std::chrono::nanoseconds(qint64(double(m_encoder->encodedFrames()) * 1e9 / m_rate));
}

void AACStreamWriter::cutAt(AudioPCMBuffer::HostTime time)
{
    std::lock_guard lock(m_lock);
    if (m_finished || !m_encoder || !m_timelineStart)
        return;
    const double seconds = std::chrono::duration<double>(time - *m_timelineStart).count();
    if (!m_encoder->cutFragment(qint64(std::floor(seconds * m_rate))))
        fail();
}

qint64 AACStreamWriter::framesAt(AudioPCMBuffer::HostTime time) const
{
    const double seconds = std::chrono::duration<double>(time - *m_timelineStart).count();
    // A day at most: a host time far off is the source's fault, not hours of silence to write.
    return qint64(std::llround(std::clamp(seconds, -86400.0, 86400.0) * m_source.sampleRate));
}

bool AACStreamWriter::writeSilence(qint64 frames)
{
    const qint64 chunk = std::min<qint64>(frames, qint64(m_source.sampleRate / 10) + 1);
    const std::vector<std::byte> zeros(std::size_t(chunk * m_source.bytesPerFrameInPlane()));
    std::array<const void *, AudioStreamFormat::maximumChannels> planes {};
    planes.fill(zeros.data());
    for (qint64 left = frames; left > 0;) {
        const qint64 count = std::min(left, chunk);
        if (m_encoder->write(AudioPCMBuffer(m_source, planes.data(), count), false)
            == AudioFileEncoder::Outcome::failed) {
            fail();
            return false;
        }
        left -= count;
        m_framesPlaced += count;
    }
    m_framesWritten = m_encoder->framesWritten();
    return true;
}

void AACStreamWriter::padTo(AudioPCMBuffer::HostTime end)
{
    std::lock_guard lock(m_lock);
    if (m_finished || !m_encoder || !m_timelineStart)
        return;
    const qint64 missing = framesAt(end) - m_framesPlaced;
    if (missing > 0)
        writeSilence(missing);
}

void AACStreamWriter::append(const AudioPCMBuffer &buffer)
{
    std::lock_guard lock(m_lock);
    if (m_finished || !m_encoder)
        return;
    if (m_timelineStart && buffer.hostTime() != AudioPCMBuffer::HostTime {}) {
        // The source's first buffer may come late (the stream was still starting); a later one after a
        // stall. Either way its sound belongs at its own time, with silence before it.
        const qint64 gap = framesAt(buffer.hostTime()) - m_framesPlaced;
        const qint64 tolerance
            = qint64(std::chrono::duration<double>(gapTolerance).count() * m_source.sampleRate);
        if (gap > 0 && (m_framesPlaced == 0 || gap > tolerance) && !writeSilence(gap))
            return;
    }
    m_framesPlaced += buffer.frameCount();
    ++m_callbacks;
    const Scan found = scan(buffer);
    m_lastBufferPeak.store(found.peak, std::memory_order_relaxed);
    if (m_peak.load(std::memory_order_relaxed) < found.peak)
        m_peak.store(found.peak, std::memory_order_relaxed);

    const AudioFileEncoder::Outcome outcome = m_encoder->write(buffer, found.insane);
    m_framesWritten = m_encoder->framesWritten();
    switch (outcome) {
    case AudioFileEncoder::Outcome::written:
        if (found.peak > audibleThreshold) {
            ++m_nonzeroBuffers;
            if (!m_firstAudibleEnd)
                m_firstAudibleEnd = m_encoder->framesWritten();
        }
        break;
    case AudioFileEncoder::Outcome::dropped:
        // Audio missing from the file: the session must say so, as for a failed write.
        m_writeFailed.store(true);
        break;
    case AudioFileEncoder::Outcome::failed:
        fail();
        break;
    }
}

AACStreamWriter::Finished AACStreamWriter::finish()
{
    std::lock_guard lock(m_lock);
    if (!m_result) {
        if (!m_finished && m_encoder) {
            m_finished = true;
            if (!m_encoder->finish()) {
                m_writeFailed = true;
                m_fileError = m_encoder->lastError() != 0 ? m_encoder->lastError() : EIO;
            }
            m_framesWritten = m_encoder->framesWritten();
            m_durableFrames = m_encoder->durableFrames();
        } else {
            m_finished = true;
        }
        m_encoder.reset();
        const bool failed = m_writeFailed.load();
        // Heard means heard in the file: sound that a failed write kept out of it does not count.
        const bool heard = m_firstAudibleEnd && *m_firstAudibleEnd <= m_durableFrames;
        m_result = Finished { m_url, heard, m_peak.load(), m_callbacks, failed, m_fileError.load() };
    }
    return *m_result;
}

void AACStreamWriter::discard()
{
    const QString path = finish().url;
    QFile::remove(path);
}

QString AACStreamWriter::url() const
{
    std::lock_guard lock(m_lock);
    return m_url;
}

float AACStreamWriter::sessionPeak() const
{
    return m_peak.load(std::memory_order_relaxed);
}

bool AACStreamWriter::writeFailed() const
{
    return m_writeFailed.load();
}

int AACStreamWriter::fileError() const
{
    return m_fileError.load();
}

float AACStreamWriter::lastBufferPeak() const
{
    return m_lastBufferPeak.load(std::memory_order_relaxed);
}

qint64 AACStreamWriter::framesWritten() const
{
    std::lock_guard lock(m_lock);
    return m_framesWritten;
}

qint64 AACStreamWriter::nonzeroBuffers() const
{
    std::lock_guard lock(m_lock);
    return m_nonzeroBuffers;
}

qint64 AACStreamWriter::callbacks() const
{
    std::lock_guard lock(m_lock);
    return m_callbacks;
}
