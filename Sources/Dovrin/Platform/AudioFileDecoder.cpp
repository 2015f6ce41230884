#include "Platform/AudioFileDecoder.h"

#include "Platform/FFmpegLog.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

QString ffmpegMessage(int code)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

} // namespace

struct AudioFileDecoder::Context
{
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    SwrContext *resampler = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    int stream = -1;
    // What the resampler was made for; a change mid-stream needs a new one.
    int inputRate = 0;
    int inputFormat = -1;
    AVChannelLayout inputLayout {};

    ~Context()
    {
        swr_free(&resampler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        av_channel_layout_uninit(&inputLayout);
    }
};

AudioFileDecoder::AudioFileDecoder(std::function<bool()> interrupt)
    : m_interrupt(std::move(interrupt))
{ }

AudioFileDecoder::~AudioFileDecoder() = default;

int AudioFileDecoder::interruptCallback(void *opaque)
{
    const auto *self = static_cast<const AudioFileDecoder *>(opaque);
    return self->m_interrupt && self->m_interrupt() ? 1 : 0;
}

std::optional<QString> AudioFileDecoder::open(const QString &path)
{
    FFmpegLog::keepErrorsOnly();
    m_context = std::make_unique<Context>();
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The recording could not be found.");
    if (!info.isFile() || !info.isReadable())
        return QStringLiteral("The recording could not be read.");

    Context &c = *m_context;
    c.format = avformat_alloc_context();
    if (!c.format)
        return QStringLiteral("Not enough memory to read the recording.");
    c.format->interrupt_callback.callback = &AudioFileDecoder::interruptCallback;
    c.format->interrupt_callback.opaque = this;
    // The explicit protocol keeps a file name with a colon from being taken for a URL.
    const QByteArray url = QByteArrayLiteral("file:") + QFile::encodeName(info.absoluteFilePath());
    int rc = avformat_open_input(&c.format, url.constData(), nullptr, nullptr);
    if (rc < 0)
        return QStringLiteral("The recording could not be read (%1).").arg(ffmpegMessage(rc));
    rc = avformat_find_stream_info(c.format, nullptr);
    if (rc < 0)
        return QStringLiteral("The recording could not be read (%1).").arg(ffmpegMessage(rc));

    const AVCodec *decoder = nullptr;
    c.stream = av_find_best_stream(c.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (c.stream == AVERROR_STREAM_NOT_FOUND)
        return QStringLiteral("The recording has no audio.");
    if (c.stream < 0 || !decoder)
        return QStringLiteral("The recording's audio format is not supported.");

    const AVStream *stream = c.format->streams[c.stream];
    c.codec = avcodec_alloc_context3(decoder);
    c.packet = av_packet_alloc();
    c.frame = av_frame_alloc();
    if (!c.codec || !c.packet || !c.frame)
        return QStringLiteral("Not enough memory to read the recording.");
    rc = avcodec_parameters_to_context(c.codec, stream->codecpar);
    if (rc >= 0) {
        c.codec->pkt_timebase = stream->time_base;
        rc = avcodec_open2(c.codec, decoder, nullptr);
    }
    if (rc < 0)
        return QStringLiteral("The recording's audio could not be decoded (%1).").arg(ffmpegMessage(rc));
    // Only the audio stream is read; other streams' packets are not even demuxed.
    for (unsigned i = 0; i < c.format->nb_streams; ++i) {
        if (int(i) != c.stream)
            c.format->streams[i]->discard = AVDISCARD_ALL;
    }
    return std::nullopt;
}

AudioFileDecoder::ReadStatus AudioFileDecoder::fail(const QString &description)
{
    m_error = description;
    m_finished = true;
    return ReadStatus::failed;
}

AudioFileDecoder::ReadStatus AudioFileDecoder::read(std::vector<int16_t> &samples)
{
    if (!m_context || !m_context->codec)
        return fail(QStringLiteral("The recording is not open."));
    if (m_finished)
        return m_error.isEmpty() ? ReadStatus::end : ReadStatus::failed;
    Context &c = *m_context;

    for (;;) {
        if (m_interrupt && m_interrupt())
            return ReadStatus::interrupted;

        int rc = avcodec_receive_frame(c.codec, c.frame);
        if (rc >= 0) {
            const bool converted = convertFrame(samples);
            av_frame_unref(c.frame);
            if (!converted)
                return ReadStatus::failed;
            ++m_framesDecoded;
            return ReadStatus::data;
        }
        if (rc == AVERROR_EOF) {
            flushResampler(samples);
            m_finished = true;
            // Every packet was refused: the stream claims audio it does not hold.
            if (m_framesDecoded == 0 && m_packetsRejected > 0)
                return fail(QStringLiteral("The recording's audio could not be decoded."));
            return samples.empty() ? ReadStatus::end : ReadStatus::data;
        }
        if (rc != AVERROR(EAGAIN))
            return fail(
                QStringLiteral("The recording's audio could not be decoded (%1).").arg(ffmpegMessage(rc)));

        if (m_inputDone)
            return fail(QStringLiteral("The recording's audio could not be decoded."));
        rc = av_read_frame(c.format, c.packet);
        if (rc == AVERROR_EOF) {
            m_inputDone = true;
            avcodec_send_packet(c.codec, nullptr);
            continue;
        }
        if (rc == AVERROR_EXIT || (m_interrupt && m_interrupt()))
            return ReadStatus::interrupted;
        if (rc < 0)
            return fail(QStringLiteral("The recording is damaged (%1).").arg(ffmpegMessage(rc)));
        if (c.packet->stream_index == c.stream) {
            rc = avcodec_send_packet(c.codec, c.packet);
            // A damaged packet is heard as silence of its length, as in any player, so the words after
            // it keep their times.
            if (rc < 0 && rc != AVERROR(EAGAIN)) {
                ++m_packetsRejected;
                silenceRejectedPacket(samples);
            }
        }
        av_packet_unref(c.packet);
    }
}

bool AudioFileDecoder::convertFrame(std::vector<int16_t> &samples)
{
    Context &c = *m_context;
    AVFrame *frame = c.frame;
    if (frame->sample_rate <= 0 || frame->nb_samples < 0 || frame->ch_layout.nb_channels <= 0) {
        fail(QStringLiteral("The recording's audio could not be decoded."));
        return false;
    }

    AVChannelLayout layout {};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&layout, &frame->ch_layout);

    const bool changed = !c.resampler || c.inputRate != frame->sample_rate || c.inputFormat != frame->format
        || av_channel_layout_compare(&c.inputLayout, &layout) != 0;
    if (changed) {
        if (c.resampler)
            flushResampler(samples);
        swr_free(&c.resampler);
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        int rc = swr_alloc_set_opts2(&c.resampler, &mono, AV_SAMPLE_FMT_FLT, sampleRate, &layout,
            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        // Mixing down averages the channels instead of adding them, so loud stereo does not clip.
        if (rc >= 0)
            rc = av_opt_set_double(c.resampler, "rematrix_maxval", 1.0, 0);
        if (rc >= 0)
            rc = swr_init(c.resampler);
        if (rc < 0) {
            av_channel_layout_uninit(&layout);
            fail(QStringLiteral("The recording's audio could not be converted (%1).").arg(ffmpegMessage(rc)));
            return false;
        }
        c.inputRate = frame->sample_rate;
        c.inputFormat = frame->format;
        av_channel_layout_uninit(&c.inputLayout);
        av_channel_layout_copy(&c.inputLayout, &layout);
    }
    av_channel_layout_uninit(&layout);

    const int capacity = swr_get_out_samples(c.resampler, frame->nb_samples);
    if (capacity <= 0)
        return true;
    m_converted.resize(size_t(capacity));
    uint8_t *out = reinterpret_cast<uint8_t *>(m_converted.data());
    const int produced = swr_convert(
        c.resampler, &out, capacity, const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
    if (produced < 0) {
        fail(QStringLiteral("The recording's audio could not be converted (%1).")
                 .arg(ffmpegMessage(produced)));
        return false;
    }
    appendScaled(produced, samples);
    return true;
}

void AudioFileDecoder::setGain(double gain)
{
    if (std::isfinite(gain) && gain >= 0.0)
        m_gain = gain;
}

void AudioFileDecoder::appendScaled(int count, std::vector<int16_t> &samples) const
{
    const double scale = m_gain * 32768.0;
    for (int i = 0; i < count; ++i) {
        const double value = double(m_converted[size_t(i)]) * scale;
        // A damaged stream can decode to NaN; it is heard as silence.
        samples.push_back(
            std::isnan(value) ? int16_t(0) : int16_t(std::lround(std::clamp(value, -32768.0, 32767.0))));
    }
}

void AudioFileDecoder::flushResampler(std::vector<int16_t> &samples)
{
    Context &c = *m_context;
    if (!c.resampler)
        return;
    const int capacity = swr_get_out_samples(c.resampler, 0);
    if (capacity <= 0)
        return;
    m_converted.resize(size_t(capacity));
    uint8_t *out = reinterpret_cast<uint8_t *>(m_converted.data());
    const int produced = swr_convert(c.resampler, &out, capacity, nullptr, 0);
    if (produced > 0)
        appendScaled(produced, samples);
}

void AudioFileDecoder::silenceRejectedPacket(std::vector<int16_t> &samples)
{
    Context &c = *m_context;
    const AVRational timeBase = c.format->streams[c.stream]->time_base;
    const int inputRate = c.codec->sample_rate;
    int64_t duration = c.packet->duration;
    if (duration <= 0 && inputRate > 0 && c.codec->frame_size > 0)
        duration = av_rescale_q(c.codec->frame_size, AVRational { 1, inputRate }, timeBase);
    if (duration <= 0 || timeBase.num <= 0 || timeBase.den <= 0)
        return;
    // Through the resampler when there is one, behind what it still holds; else straight out.
    if (c.resampler && c.inputRate > 0) {
        const int64_t inputSamples = av_rescale_q(duration, timeBase, AVRational { 1, c.inputRate });
        if (inputSamples > 0 && inputSamples <= std::numeric_limits<int>::max()
            && swr_inject_silence(c.resampler, int(inputSamples)) >= 0)
            return;
    }
    const int64_t outputSamples = av_rescale_q(duration, timeBase, AVRational { 1, sampleRate });
    if (outputSamples > 0 && outputSamples <= int64_t(sampleRate) * 60)
        samples.insert(samples.end(), size_t(outputSamples), int16_t(0));
}
