#include "Platform/AudioFileEncoder.h"

#include "Platform/FFmpegLog.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

namespace {

// Sources outside this range are not converted: the ratio would make a single buffer enormous.
constexpr double minimumConvertibleRate = 1000;
constexpr double maximumConvertibleRate = 1536000;

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

constexpr int ioBufferSize = 64 * 1024;

// The file the muxer writes through: our own descriptor, and why the last write failed.
struct FileSink
{
    int fd = -1;
    int error = 0;
};

int writeToFile(void *opaque, uint8_t *data, int size)
{
    auto *sink = static_cast<FileSink *>(opaque);
    int left = size;
    while (left > 0) {
        const ssize_t written = ::write(sink->fd, data + (size - left), size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            sink->error = written < 0 ? errno : ENOSPC;
            return AVERROR(sink->error);
        }
        left -= int(written);
    }
    return size;
}

int64_t seekInFile(void *opaque, int64_t offset, int whence)
{
    const int fd = static_cast<FileSink *>(opaque)->fd;
    if (whence & AVSEEK_SIZE) {
        struct stat status
        {
        };
        return ::fstat(fd, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

} // namespace

struct AudioFileEncoder::Codec
{
    enum class Route { direct, resample, drop, failed };

    int rate = 0;
    int channels = 0;
    AVSampleFormat codecFormat = AV_SAMPLE_FMT_FLTP;
    int chunkFrames = 1024;

    bool fragmented = false;
    bool moovWritten = false;
    FileSink file;
    AVIOContext *io = nullptr;
    AVFormatContext *output = nullptr;
    AVCodecContext *encoder = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    AVAudioFifo *fifo = nullptr;
    SwrContext *resampler = nullptr;
    std::optional<AudioStreamFormat> resamplerInput;
    std::vector<uint8_t *> scratchPlanes;
    std::vector<std::vector<float>> scratch;
    qint64 nextPts = 0;
    qint64 framesWritten = 0;
    // Encoded packets not yet in the file, oldest first, timed in the encoder's frames; a fragment
    // takes them when it is cut.
    std::deque<AVPacket *> pending;
    qint64 fragmentFrames = 0; // a fragment is cut by itself once pending spans this much
    qint64 encodedEnd = 0;
    qint64 durableEnd = 0;
    // Where the last whole fragment ends in the file: a write refused halfway through the next one
    // leaves a cut-off header there that makes readers refuse the whole file, so it is cut back to this.
    qint64 durableBytes = 0;

    ~Codec()
    {
        for (AVPacket *held : pending)
            av_packet_free(&held);
        if (output) {
            output->pb = nullptr;
            avformat_free_context(output);
        }
        closeFile();
        avcodec_free_context(&encoder);
        av_frame_free(&frame);
        av_packet_free(&packet);
        if (fifo)
            av_audio_fifo_free(fifo);
        swr_free(&resampler);
    }

    // False when the last bytes could not be written or the file could not be closed.
    bool closeFile()
    {
        bool closed = true;
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (file.fd >= 0)
            closed = ::close(file.fd) == 0;
        file.fd = -1;
        return closed;
    }

    bool isDirect(const AudioStreamFormat &format) const
    {
        return format.sampleType == AudioStreamFormat::SampleType::float32 && format.sampleRate == rate
            && format.channelCount == channels && format.interleaved == (codecFormat == AV_SAMPLE_FMT_FLT);
    }

    // Room for `capacity` frames of the file's format in the scratch planes.
    void reserveScratch(int capacity)
    {
        const int planes = codecFormat == AV_SAMPLE_FMT_FLTP ? channels : 1;
        const int perPlane = codecFormat == AV_SAMPLE_FMT_FLTP ? capacity : capacity * channels;
        scratch.resize(std::size_t(planes));
        scratchPlanes.resize(std::size_t(planes));
        for (int p = 0; p < planes; ++p) {
            scratch[std::size_t(p)].resize(std::size_t(std::max(perPlane, 1)));
            scratchPlanes[std::size_t(p)] = reinterpret_cast<uint8_t *>(scratch[std::size_t(p)].data());
        }
    }

    Route route(const AudioStreamFormat &format)
    {
        if (resampler && resamplerInput == format)
            return Route::resample;
        const bool direct = isDirect(format);
        if (direct && !resampler)
            return Route::direct;
        // A change of source format: what the old resampler still holds goes out first.
        if (!drainResampler())
            return Route::failed;
        swr_free(&resampler);
        resamplerInput.reset();
        if (direct)
            return Route::direct;

        AVChannelLayout inLayout {};
        AVChannelLayout outLayout {};
        av_channel_layout_default(&inLayout, format.channelCount);
        av_channel_layout_default(&outLayout, channels);
        const int made = swr_alloc_set_opts2(&resampler, &outLayout, codecFormat, rate, &inLayout,
            avFormat(format), int(std::lround(format.sampleRate)), 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (made < 0 || swr_init(resampler) < 0) {
            swr_free(&resampler);
            return Route::drop;
        }
        resamplerInput = format;
        return Route::resample;
    }

    bool drainResampler()
    {
        if (!resampler)
            return true;
        for (int round = 0; round < 16; ++round) {
            const int capacity = swr_get_out_samples(resampler, 0);
            if (capacity <= 0)
                break;
            reserveScratch(capacity);
            const int produced = swr_convert(resampler, scratchPlanes.data(), capacity, nullptr, 0);
            if (produced <= 0)
                break;
            if (av_audio_fifo_write(fifo, reinterpret_cast<void **>(scratchPlanes.data()), produced)
                < produced)
                return false;
            framesWritten += produced;
        }
        return encodeAvailable(false);
    }

    bool pushToFifo(const AudioPCMBuffer &buffer, bool direct, bool sanitize)
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
            if (av_audio_fifo_write(fifo, reinterpret_cast<void **>(input.data()), int(frames)) < frames)
                return false;
            framesWritten += frames;
            return true;
        }

        const double ratio = double(rate) / std::lround(format.sampleRate);
        const double expected = double(frames) * ratio + 256;
        if (expected > std::numeric_limits<int>::max() / (4 * AudioStreamFormat::maximumChannels))
            return false;
        const int capacity = swr_get_out_samples(resampler, int(frames));
        if (capacity < 0)
            return false;
        reserveScratch(capacity);
        const int produced = swr_convert(resampler, scratchPlanes.data(), capacity,
            const_cast<const uint8_t **>(input.data()), int(frames));
        if (produced < 0)
            return false;
        if (produced > 0
            && av_audio_fifo_write(fifo, reinterpret_cast<void **>(scratchPlanes.data()), produced)
                < produced)
            return false;
        framesWritten += produced;
        return true;
    }

    bool sendFrame(AVFrame *toSend)
    {
        if (avcodec_send_frame(encoder, toSend) < 0)
            return false;
        for (;;) {
            const int received = avcodec_receive_packet(encoder, packet);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                break;
            if (received < 0)
                return false;
            encodedEnd = std::max<qint64>(encodedEnd, packet->pts + packet->duration);
            pending.push_back(av_packet_clone(packet));
            av_packet_unref(packet);
            if (!pending.back())
                return false;
        }
        if (!pending.empty() && encodedEnd - pending.front()->pts >= fragmentFrames)
            return cut(encodedEnd);
        return true;
    }

    // Writes the pending packets that end by `frame` into the file as one fragment, at once: what is
    // in the file survives a crash.
    bool cut(qint64 frame)
    {
        bool wrote = false;
        qint64 end = durableEnd;
        while (!pending.empty() && pending.front()->pts + pending.front()->duration <= frame) {
            AVPacket *next = pending.front();
            pending.pop_front();
            end = next->pts + next->duration;
            av_packet_rescale_ts(next, encoder->time_base, output->streams[0]->time_base);
            next->stream_index = 0;
            const int muxed = av_write_frame(output, next);
            av_packet_free(&next);
            if (muxed < 0)
                return false;
            wrote = true;
        }
        if (!wrote)
            return output->pb->error >= 0;
        // The first flush of a delayed moov writes only the moov; the fragment needs a second one.
        for (int flush = 0; fragmented && flush < (moovWritten ? 1 : 2); ++flush) {
            if (av_write_frame(output, nullptr) < 0)
                return false;
        }
        moovWritten = true;
        avio_flush(output->pb);
        if (output->pb->error < 0)
            return false;
        struct stat status
        {
        };
        if (::fstat(file.fd, &status) == 0)
            durableBytes = qint64(status.st_size);
        durableEnd = end;
        return true;
    }

    bool encodeAvailable(bool final)
    {
        while (av_audio_fifo_size(fifo) >= chunkFrames || (final && av_audio_fifo_size(fifo) > 0)) {
            const int count = std::min(av_audio_fifo_size(fifo), chunkFrames);
            if (av_frame_make_writable(frame) < 0)
                return false;
            frame->nb_samples = count;
            if (av_audio_fifo_read(fifo, reinterpret_cast<void **>(frame->data), count) < count)
                return false;
            frame->pts = nextPts;
            nextPts += count;
            if (!sendFrame(frame))
                return false;
        }
        if (final)
            return sendFrame(nullptr);
        return true;
    }
};

AudioFileEncoder::AudioFileEncoder() = default;

AudioFileEncoder::~AudioFileEncoder()
{
    close(false, nullptr);
}

std::unique_ptr<AudioFileEncoder> AudioFileEncoder::create(
    const QString &path, const Settings &settings, int *error)
{
    FFmpegLog::keepErrorsOnly();
    std::unique_ptr<AudioFileEncoder> encoder(new AudioFileEncoder);
    int failure = 0;
    if (!encoder->open(path, settings, &failure)) {
        if (error)
            *error = failure;
        return nullptr;
    }
    return encoder;
}

bool AudioFileEncoder::open(const QString &path, const Settings &settings, int *error)
{
    const bool compressed = settings.container == Container::fragmentedM4A;
    const QByteArray nativePath = QFile::encodeName(path);
    d = std::make_unique<Codec>();
    Codec &c = *d;
    c.rate = settings.sampleRate;
    c.channels = settings.channelCount;
    const AVCodec *codec = avcodec_find_encoder(compressed ? AV_CODEC_ID_AAC : AV_CODEC_ID_PCM_F32LE);
    if (!codec
        || avformat_alloc_output_context2(
               &c.output, nullptr, compressed ? "ipod" : "caf", nativePath.constData())
            < 0)
        return false;
    bool fileCreated = false;
    auto abandon = [&] {
        d.reset();
        if (fileCreated)
            QFile::remove(path);
        return false;
    };

    c.encoder = avcodec_alloc_context3(codec);
    if (!c.encoder)
        return abandon();
    c.codecFormat = compressed ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_FLT;
    c.encoder->sample_fmt = c.codecFormat;
    c.encoder->sample_rate = c.rate;
    av_channel_layout_default(&c.encoder->ch_layout, c.channels);
    c.encoder->time_base = AVRational { 1, c.rate };
    if (compressed)
        c.encoder->bit_rate = settings.bitRate;
    if (c.output->oformat->flags & AVFMT_GLOBALHEADER)
        c.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *codecOptions = nullptr;
    // The two-loop coder, not the "fast" one: on plain speech the fast coder's rate control sinks to
    // 115-130 kb/s of the 192 asked for, where two-loop stays within a quarter of it (150-210 kb/s),
    // and it still encodes many times faster than the sound arrives.
    if (compressed)
        av_dict_set(&codecOptions, "aac_coder", "twoloop", 0);
    const int opened = avcodec_open2(c.encoder, codec, &codecOptions);
    av_dict_free(&codecOptions);
    if (opened < 0)
        return abandon();

    AVStream *stream = avformat_new_stream(c.output, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, c.encoder) < 0)
        return abandon();
    stream->time_base = c.encoder->time_base;

    // Never over an existing file, nor through a link: what is there stays as it is.
    c.file.fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (c.file.fd < 0) {
        *error = errno;
        return abandon();
    }
    fileCreated = true;
    auto *ioBuffer = static_cast<unsigned char *>(av_malloc(ioBufferSize));
    c.io = ioBuffer
        ? avio_alloc_context(ioBuffer, ioBufferSize, 1, &c.file, nullptr, &writeToFile, &seekInFile)
        : nullptr;
    if (!c.io) {
        av_free(ioBuffer);
        return abandon();
    }
    c.output->pb = c.io;

    AVDictionary *options = nullptr;
    if (compressed) {
        // Fragments keep a crashed recording readable; the moov waits for the first fragment so it can
        // carry the edit list that hides the encoder's priming. The fragments are cut here, not by the
        // muxer, so that a caller can cut two files at the same moment.
        av_dict_set(&options, "movflags", "empty_moov+default_base_moof+delay_moov+frag_custom", 0);
    }
    c.fragmented = compressed;
    c.fragmentFrames = std::max<qint64>(1, qint64(settings.fragmentMicroseconds) * c.rate / 1000000);
    const int header = avformat_write_header(c.output, &options);
    av_dict_free(&options);
    if (header < 0 || c.output->pb->error < 0)
        return abandon();

    c.chunkFrames = c.encoder->frame_size > 0 ? c.encoder->frame_size : 1024;
    c.fifo = av_audio_fifo_alloc(c.codecFormat, c.channels, c.chunkFrames * 4);
    c.frame = av_frame_alloc();
    c.packet = av_packet_alloc();
    if (!c.fifo || !c.frame || !c.packet)
        return abandon();
    c.frame->format = c.codecFormat;
    c.frame->sample_rate = c.rate;
    c.frame->nb_samples = c.chunkFrames;
    if (av_channel_layout_copy(&c.frame->ch_layout, &c.encoder->ch_layout) < 0
        || av_frame_get_buffer(c.frame, 0) < 0)
        return abandon();
    return true;
}

AudioFileEncoder::Outcome AudioFileEncoder::write(const AudioPCMBuffer &buffer, bool sanitize)
{
    if (!d)
        return Outcome::failed;
    if (buffer.isEmpty())
        return Outcome::written;
    const AudioStreamFormat &format = buffer.format();
    if (!format.isValid() || !convertibleRate(format.sampleRate))
        return Outcome::dropped;
    Outcome outcome = Outcome::written;
    const Codec::Route how = d->route(format);
    if (how == Codec::Route::failed)
        outcome = Outcome::failed;
    else if (how == Codec::Route::drop || !d->pushToFifo(buffer, how == Codec::Route::direct, sanitize))
        outcome = Outcome::dropped;
    else if (!d->encodeAvailable(false))
        outcome = Outcome::failed;
    m_framesWritten = d->framesWritten;
    m_durableFrames = d->durableEnd;
    return outcome;
}

qint64 AudioFileEncoder::encodedFrames() const
{
    return d ? d->encodedEnd : 0;
}

qint64 AudioFileEncoder::durableFrames() const
{
    return m_durableFrames;
}

bool AudioFileEncoder::cutFragment(qint64 frame)
{
    if (!d)
        return false;
    const bool cut = d->cut(frame);
    m_durableFrames = d->durableEnd;
    return cut;
}

void AudioFileEncoder::setFragmentMicroseconds(qint64 microseconds)
{
    if (d)
        d->fragmentFrames = std::max<qint64>(1, microseconds * d->rate / 1000000);
}

int AudioFileEncoder::lastError() const
{
    return d ? d->file.error : m_lastError;
}

bool AudioFileEncoder::finish()
{
    if (!d)
        return false;
    bool failed = !d->drainResampler() || !d->encodeAvailable(true) || !d->cut(d->encodedEnd);
    m_durableFrames = d->durableEnd;
    m_framesWritten = d->framesWritten;
    close(!failed, &failed);
    return !failed;
}

void AudioFileEncoder::close(bool writeTrailer, bool *failed)
{
    if (!d)
        return;
    if (d->file.error != 0)
        m_lastError = d->file.error;
    if (writeTrailer && d->output && av_write_trailer(d->output) < 0)
        *failed = true;
    // What was muxed reaches the file even without a trailer: a failed stream keeps what it wrote.
    if (d->io) {
        avio_flush(d->io);
        if (writeTrailer && d->io->error < 0)
            *failed = true;
    }
    if (d->file.error != 0 && d->durableBytes > 0 && d->file.fd >= 0)
        (void)::ftruncate(d->file.fd, off_t(d->durableBytes));
    if (!d->closeFile() && writeTrailer)
        *failed = true;
    d.reset();
}
