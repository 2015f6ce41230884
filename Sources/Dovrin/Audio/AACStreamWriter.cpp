#include "Audio/AACStreamWriter.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

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
    m_writeFailed = true;
    m_finished = true;
}

void AACStreamWriter::append(const AudioPCMBuffer &buffer)
{
    std::lock_guard lock(m_lock);
    if (m_finished || !m_encoder)
        return;
    ++m_callbacks;
    const Scan found = scan(buffer);
    m_lastBufferPeak.store(found.peak, std::memory_order_relaxed);
    if (m_peak.load(std::memory_order_relaxed) < found.peak)
        m_peak.store(found.peak, std::memory_order_relaxed);

    const AudioFileEncoder::Outcome outcome = m_encoder->write(buffer, found.insane);
    m_framesWritten = m_encoder->framesWritten();
    switch (outcome) {
    case AudioFileEncoder::Outcome::written:
        if (found.peak > audibleThreshold)
            ++m_nonzeroBuffers;
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
            if (!m_encoder->finish())
                m_writeFailed = true;
            m_framesWritten = m_encoder->framesWritten();
        } else {
            m_finished = true;
        }
        m_encoder.reset();
        const bool failed = m_writeFailed.load();
        m_result = Finished { m_url, m_nonzeroBuffers > 0 && !failed, m_peak.load(), m_callbacks, failed };
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
