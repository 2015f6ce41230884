#include "Audio/AACStreamWriter.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Sources outside this range are not converted: the ratio would make a single buffer enormous.
constexpr double minimumConvertibleRate = 1000;
constexpr double maximumConvertibleRate = 1536000;
// Float samples beyond this (or not finite) are garbage from the source; such a buffer is clamped
// before it reaches the encoder, which refuses non-finite input.
constexpr float saneMagnitude = 1000.0f;

AVSampleFormat avFormat(const AudioStreamFormat &format)
{
    if (format.sampleType == AudioStreamFormat::SampleType::int16)
        return format.interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
    return format.interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
}

bool convertibleRate(double rate)
{
    return std::isfinite(rate) && rate >= minimumConvertibleRate && rate <= maximumConvertibleRate;
}

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
    if (open(url, true))
        return;
    const QString fallback = fallbackPath(url);
    if (!open(fallback, false))
        throw AACStreamWriterError(AACStreamWriterError::createFile);
    m_url = fallback;
}

AACStreamWriter::~AACStreamWriter()
{
    finish();
}

bool AACStreamWriter::open(const QString &path, bool compressed)
{
    const QByteArray nativePath = QFile::encodeName(path);
    const AVCodec *codec = avcodec_find_encoder(compressed ? AV_CODEC_ID_AAC : AV_CODEC_ID_PCM_F32LE);
    if (!codec
        || avformat_alloc_output_context2(
               &m_output, nullptr, compressed ? "ipod" : "caf", nativePath.constData())
            < 0)
        return false;
    bool fileCreated = false;
    auto abandon = [&] {
        closeFile(false);
        if (fileCreated)
            QFile::remove(path);
        return false;
    };

    m_encoder = avcodec_alloc_context3(codec);
    if (!m_encoder)
        return abandon();
    m_codecFormat = compressed ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
    m_encoder->sample_fmt = AVSampleFormat(m_codecFormat);
    m_encoder->sample_rate = m_rate;
    av_channel_layout_default(&m_encoder->ch_layout, m_channels);
    m_encoder->time_base = AVRational { 1, m_rate };
    if (compressed)
        m_encoder->bit_rate = bitRate;
    if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *codecOptions = nullptr;
    // At 192 kb/s the constant-quantizer search sounds as good as the default two-loop one at a
    // fraction of its cost, which matters for two streams encoded live on the capture threads.
    if (compressed)
        av_dict_set(&codecOptions, "aac_coder", "fast", 0);
    const int opened = avcodec_open2(m_encoder, codec, &codecOptions);
    av_dict_free(&codecOptions);
    if (opened < 0)
        return abandon();

    AVStream *stream = avformat_new_stream(m_output, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, m_encoder) < 0)
        return abandon();
    stream->time_base = m_encoder->time_base;

    if (avio_open(&m_output->pb, nativePath.constData(), AVIO_FLAG_WRITE) < 0)
        return abandon();
    fileCreated = true;

    AVDictionary *options = nullptr;
    if (compressed) {
        // Fragments keep a crashed recording readable; the moov waits for the first fragment so it can
        // carry the edit list that hides the encoder's priming.
        av_dict_set(&options, "movflags", "empty_moov+default_base_moof+delay_moov", 0);
        av_dict_set_int(&options, "frag_duration", fragmentMicroseconds, 0);
    }
    const int header = avformat_write_header(m_output, &options);
    av_dict_free(&options);
    if (header < 0 || m_output->pb->error < 0)
        return abandon();

    m_chunkFrames = m_encoder->frame_size > 0 ? m_encoder->frame_size : 1024;
    m_fifo = av_audio_fifo_alloc(AVSampleFormat(m_codecFormat), m_channels, m_chunkFrames * 4);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_fifo || !m_frame || !m_packet)
        return abandon();
    m_frame->format = m_codecFormat;
    m_frame->sample_rate = m_rate;
    m_frame->nb_samples = m_chunkFrames;
    if (av_channel_layout_copy(&m_frame->ch_layout, &m_encoder->ch_layout) < 0
        || av_frame_get_buffer(m_frame, 0) < 0)
        return abandon();
    return true;
}

bool AACStreamWriter::isCompressed() const
{
    std::lock_guard lock(m_lock);
    return m_codecFormat == AV_SAMPLE_FMT_FLTP;
}

void AACStreamWriter::closeFile(bool writeTrailer)
{
    if (m_output) {
        if (writeTrailer) {
            if (av_write_trailer(m_output) < 0)
                m_writeFailed = true;
        }
        if (m_output->pb) {
            if (m_output->pb->error < 0 && writeTrailer)
                m_writeFailed = true;
            if (avio_closep(&m_output->pb) < 0 && writeTrailer)
                m_writeFailed = true;
        }
        avformat_free_context(m_output);
        m_output = nullptr;
    }
    avcodec_free_context(&m_encoder);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    if (m_fifo) {
        av_audio_fifo_free(m_fifo);
        m_fifo = nullptr;
    }
    swr_free(&m_resampler);
    m_resamplerInput.reset();
}

bool AACStreamWriter::isDirect(const AudioStreamFormat &format) const
{
    return format.sampleType == AudioStreamFormat::SampleType::float32 && format.sampleRate == m_rate
        && format.channelCount == m_channels && format.interleaved == (m_codecFormat == AV_SAMPLE_FMT_FLT);
}

AACStreamWriter::Route AACStreamWriter::route(const AudioStreamFormat &format)
{
    if (m_resampler && m_resamplerInput == format)
        return Route::resample;
    const bool direct = isDirect(format);
    if (direct && !m_resampler)
        return Route::direct;
    // A change of source format: what the old resampler still holds goes out first.
    if (!drainResampler())
        return Route::failed;
    swr_free(&m_resampler);
    m_resamplerInput.reset();
    if (direct)
        return Route::direct;

    AVChannelLayout inLayout {};
    AVChannelLayout outLayout {};
    av_channel_layout_default(&inLayout, format.channelCount);
    av_channel_layout_default(&outLayout, m_channels);
    const int made = swr_alloc_set_opts2(&m_resampler, &outLayout, AVSampleFormat(m_codecFormat), m_rate,
        &inLayout, avFormat(format), int(std::lround(format.sampleRate)), 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (made < 0 || swr_init(m_resampler) < 0) {
        swr_free(&m_resampler);
        return Route::drop;
    }
    m_resamplerInput = format;
    return Route::resample;
}

bool AACStreamWriter::drainResampler()
{
    if (!m_resampler)
        return true;
    for (int round = 0; round < 16; ++round) {
        const int capacity = swr_get_out_samples(m_resampler, 0);
        if (capacity <= 0)
            break;
        const int planes = m_codecFormat == AV_SAMPLE_FMT_FLTP ? m_channels : 1;
        const int perPlane = m_codecFormat == AV_SAMPLE_FMT_FLTP ? capacity : capacity * m_channels;
        m_scratch.resize(std::size_t(planes));
        m_scratchPlanes.resize(std::size_t(planes));
        for (int p = 0; p < planes; ++p) {
            m_scratch[std::size_t(p)].resize(std::size_t(perPlane));
            m_scratchPlanes[std::size_t(p)] = reinterpret_cast<uint8_t *>(m_scratch[std::size_t(p)].data());
        }
        const int produced = swr_convert(m_resampler, m_scratchPlanes.data(), capacity, nullptr, 0);
        if (produced <= 0)
            break;
        if (av_audio_fifo_write(m_fifo, reinterpret_cast<void **>(m_scratchPlanes.data()), produced)
            < produced)
            return false;
        m_framesWritten += produced;
    }
    return encodeAvailable(false);
}

bool AACStreamWriter::pushToFifo(const AudioPCMBuffer &buffer, bool direct, bool sanitize)
{
    const AudioStreamFormat &format = buffer.format();
    // FFmpeg takes input planes as non-const pointers but only reads them.
    std::array<uint8_t *, AudioStreamFormat::maximumChannels> input {};
    std::vector<std::vector<float>> cleaned;
    for (int p = 0; p < format.planeCount(); ++p)
        input[std::size_t(p)] = const_cast<uint8_t *>(reinterpret_cast<const uint8_t *>(buffer.plane(p)));
    if (sanitize && format.sampleType == AudioStreamFormat::SampleType::float32) {
        const qint64 count = buffer.planeByteSize() / 4;
        cleaned.resize(std::size_t(format.planeCount()));
        for (int p = 0; p < format.planeCount(); ++p) {
            auto &plane = cleaned[std::size_t(p)];
            plane.resize(std::size_t(count));
            std::memcpy(plane.data(), buffer.plane(p), std::size_t(count) * 4);
            for (float &sample : plane)
                sample = std::isfinite(sample) ? std::clamp(sample, -1.0f, 1.0f) : 0.0f;
            input[std::size_t(p)] = reinterpret_cast<uint8_t *>(plane.data());
        }
    }

    const qint64 frames = buffer.frameCount();
    if (direct) {
        if (frames > std::numeric_limits<int>::max())
            return false;
        if (av_audio_fifo_write(m_fifo, reinterpret_cast<void **>(input.data()), int(frames)) < frames)
            return false;
        m_framesWritten += frames;
        return true;
    }

    const double ratio = double(m_rate) / std::lround(format.sampleRate);
    const double expected = double(frames) * ratio + 256;
    if (expected > std::numeric_limits<int>::max() / (4 * AudioStreamFormat::maximumChannels))
        return false;
    const int capacity = swr_get_out_samples(m_resampler, int(frames));
    if (capacity < 0)
        return false;
    const int planes = m_codecFormat == AV_SAMPLE_FMT_FLTP ? m_channels : 1;
    const int perPlane = m_codecFormat == AV_SAMPLE_FMT_FLTP ? capacity : capacity * m_channels;
    m_scratch.resize(std::size_t(planes));
    m_scratchPlanes.resize(std::size_t(planes));
    for (int p = 0; p < planes; ++p) {
        m_scratch[std::size_t(p)].resize(std::size_t(std::max(perPlane, 1)));
        m_scratchPlanes[std::size_t(p)] = reinterpret_cast<uint8_t *>(m_scratch[std::size_t(p)].data());
    }
    const int produced = swr_convert(m_resampler, m_scratchPlanes.data(), capacity,
        const_cast<const uint8_t **>(input.data()), int(frames));
    if (produced < 0)
        return false;
    if (produced > 0
        && av_audio_fifo_write(m_fifo, reinterpret_cast<void **>(m_scratchPlanes.data()), produced)
            < produced)
        return false;
    m_framesWritten += produced;
    return true;
}

bool AACStreamWriter::sendFrame(AVFrame *frame)
{
    if (avcodec_send_frame(m_encoder, frame) < 0)
        return false;
    for (;;) {
        const int received = avcodec_receive_packet(m_encoder, m_packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            break;
        if (received < 0)
            return false;
        av_packet_rescale_ts(m_packet, m_encoder->time_base, m_output->streams[0]->time_base);
        m_packet->stream_index = 0;
        if (av_interleaved_write_frame(m_output, m_packet) < 0)
            return false;
    }
    // The muxer writes whole fragments; pushing them out at once is what keeps them through a crash.
    avio_flush(m_output->pb);
    return m_output->pb->error >= 0;
}

bool AACStreamWriter::encodeAvailable(bool final)
{
    while (av_audio_fifo_size(m_fifo) >= m_chunkFrames || (final && av_audio_fifo_size(m_fifo) > 0)) {
        const int count = std::min(av_audio_fifo_size(m_fifo), m_chunkFrames);
        if (av_frame_make_writable(m_frame) < 0)
            return false;
        m_frame->nb_samples = count;
        if (av_audio_fifo_read(m_fifo, reinterpret_cast<void **>(m_frame->data), count) < count)
            return false;
        m_frame->pts = m_nextPts;
        m_nextPts += count;
        if (!sendFrame(m_frame))
            return false;
    }
    if (final)
        return sendFrame(nullptr);
    return true;
}

void AACStreamWriter::fail()
{
    m_writeFailed = true;
    m_finished = true;
}

void AACStreamWriter::append(const AudioPCMBuffer &buffer)
{
    std::lock_guard lock(m_lock);
    if (m_finished || !m_output)
        return;
    ++m_callbacks;
    const Scan found = scan(buffer);
    m_lastBufferPeak = found.peak;
    if (found.peak > audibleThreshold)
        ++m_nonzeroBuffers;
    if (m_peak < found.peak)
        m_peak = found.peak;

    // A buffer that cannot be converted is counted but not written; that is not a write failure.
    const AudioStreamFormat &format = buffer.format();
    if (buffer.isEmpty() || !format.isValid() || !convertibleRate(format.sampleRate))
        return;
    const Route how = route(format);
    if (how == Route::failed) {
        fail();
        return;
    }
    if (how == Route::drop || !pushToFifo(buffer, how == Route::direct, found.insane))
        return;
    if (!encodeAvailable(false))
        fail();
}

AACStreamWriter::Finished AACStreamWriter::finish()
{
    std::lock_guard lock(m_lock);
    if (!m_result) {
        if (!m_finished && m_output) {
            m_finished = true;
            if (!drainResampler() || !encodeAvailable(true))
                m_writeFailed = true;
            closeFile(!m_writeFailed);
        } else {
            m_finished = true;
            closeFile(false);
        }
        m_result
            = Finished { m_url, m_nonzeroBuffers > 0 && !m_writeFailed, m_peak, m_callbacks, m_writeFailed };
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
    std::lock_guard lock(m_lock);
    return m_peak;
}

bool AACStreamWriter::writeFailed() const
{
    std::lock_guard lock(m_lock);
    return m_writeFailed;
}

float AACStreamWriter::lastBufferPeak() const
{
    std::lock_guard lock(m_lock);
    return m_lastBufferPeak;
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
