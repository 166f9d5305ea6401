#include "VideoSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <thread>
#include <utility>

#include "FrameClock.h"

namespace pelmora {

namespace {

// Durations below this count as none.
constexpr double kNoDuration = 0.000025;
// How many packets of other streams, and how many failed decodes, one picture may cost before
// the video counts as ended: a file that is all audio, or all damage, must not read for ever.
constexpr int kOtherPacketsPerPicture = 4096;
constexpr int kFailedDecodesPerPicture = 64;
// FFmpeg advises against more decoder threads than this.
constexpr unsigned kMostDecoderThreads = 16;

double toDouble(AVRational rational) {
    return rational.num == 0 || rational.den == 0
               ? 0.0
               : static_cast<double>(rational.num) / static_cast<double>(rational.den);
}

// The decoder's own buffers, black over the whole size it asked for; all zeros where the
// pixel format has no black to fill with (a palette).
int blackBuffer(AVCodecContext* decoder, AVFrame* frame, int flags) {
    const int result = avcodec_default_get_buffer2(decoder, frame, flags);
    if (result < 0) {
        return result;
    }
    ptrdiff_t linesizes[4] = {};
    for (int plane = 0; plane < 4; ++plane) {
        linesizes[plane] = frame->linesize[plane];
    }
    if (av_image_fill_black(frame->data, linesizes, static_cast<AVPixelFormat>(frame->format),
                            frame->color_range, frame->width, frame->height) < 0) {
        for (AVBufferRef* buffer : frame->buf) {
            if (buffer != nullptr) {
                std::memset(buffer->data, 0, buffer->size);
            }
        }
    }
    return result;
}

}  // namespace

void startPicturesBlack(AVCodecContext* decoder) {
    if (decoder->codec_type != AVMEDIA_TYPE_VIDEO) {
        return;
    }
    decoder->get_buffer2 = blackBuffer;
#if LIBAVCODEC_VERSION_MAJOR < 60
    // The fill may run on any thread: it touches nothing but the picture it is given. Unless
    // told so, this version of FFmpeg calls it on the caller's thread only, and its decoding
    // threads wait for it there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    decoder->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
}

VideoSource::VideoSource() = default;

VideoSource::~VideoSource() {
    close();
}

void VideoSource::close() {
    packet.reset();
    decoder.reset();
    file.close();
    format = nullptr;
    stream = nullptr;
    streamIndex = -1;
    rotationDegrees = 0;
    picturesRead = 0;
    hasReturned = false;
}

std::string VideoSource::open(const std::string& path, int decoderThreads) {
    close();
    std::string reason = file.open(path);
    if (!reason.empty()) {
        return reason;
    }
    format = file.container();
    const AVCodecParameters* parameters = file.video()->codecpar;
    // The video, whether or not it can be decoded.
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) {
        reason = std::string("no decoder for ") + avcodec_get_name(parameters->codec_id);
        close();
        return reason;
    }
    decoder.reset(avcodec_alloc_context3(codec));
    packet.reset(av_packet_alloc());
    if (!decoder || !packet) {
        reason = avErrorText(AVERROR(ENOMEM));
        close();
        return reason;
    }
    decoder->thread_count = decoderThreads > 0
                                ? decoderThreads
                                : static_cast<int>(std::clamp(std::thread::hardware_concurrency(),
                                                              1u, kMostDecoderThreads));
    avcodec_parameters_to_context(decoder.get(), parameters);
    startPicturesBlack(decoder.get());
    const int error = avcodec_open2(decoder.get(), codec, nullptr);
    if (error < 0) {
        reason = avErrorText(error);
        close();
        return reason;
    }
    // Some decoders change the size the container gave; the stream's holds.
    if (parameters->width != 0) {
        decoder->width = parameters->width;
    }
    if (parameters->height != 0) {
        decoder->height = parameters->height;
    }
    streamIndex = file.videoIndex();
    stream = file.video();
    rotationDegrees = file.rotation();
    times.start(format, streamIndex);
    return std::string();
}

bool VideoSource::isStillPicture() const {
    // Single pictures come through the demuxer of numbered image files or one of the demuxers
    // that read one picture format each, named after it.
    if (format == nullptr) {
        return false;
    }
    const std::string name = format->iformat->name;
    const std::string suffix = "_pipe";
    return name == "image2" ||
           (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
}

double VideoSource::fps() const {
    return file.frameRate();
}

double VideoSource::durationSeconds() const {
    double seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
    if (seconds < kNoDuration) {
        seconds = static_cast<double>(stream->duration) * toDouble(stream->time_base);
    }
    return seconds;
}

double VideoSource::durationMs() const {
    return stream == nullptr ? 0.0 : std::max(durationSeconds(), 0.0) * 1000.0;
}

long long VideoSource::announcedFrames() const {
    if (stream == nullptr) {
        return 0;
    }
    if (stream->nb_frames != 0) {
        return stream->nb_frames;
    }
    return static_cast<long long>(std::floor(durationSeconds() * fps() + 0.5));
}

long long VideoSource::expectedFrames() const {
    const long long announced = announcedFrames();
    const double rate = fps();
    if (stream == nullptr || !usableFrameRate(rate)) {
        return announced;
    }
    const double held = std::floor(std::max(durationSeconds(), 0.0) * rate + 0.5);
    if (held >= 1.0 && held * 100.0 < static_cast<double>(announced) * 99.0) {
        return static_cast<long long>(held);
    }
    return announced;
}

long long VideoSource::announcedMs() const {
    if (stream == nullptr) {
        return 0;
    }
    double ms = std::max(durationSeconds(), 0.0) * 1000.0;
    const double rate = fps();
    if (usableFrameRate(rate)) {
        ms = std::max(ms, static_cast<double>(announcedFrames()) * 1000.0 / rate);
    }
    // A length past what names can hold says nothing about the video.
    return std::isfinite(ms) && ms < 1e18 ? static_cast<long long>(std::ceil(ms)) : 0;
}

int VideoSource::width() const {
    return stream == nullptr ? 0 : stream->codecpar->width;
}

int VideoSource::height() const {
    return stream == nullptr ? 0 : stream->codecpar->height;
}

double VideoSource::secondsFromStart(long long timestamp) const {
    const long long start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    return static_cast<double>(timestamp - start) * toDouble(stream->time_base);
}

bool VideoSource::next(Picture& picture) {
    if (stream == nullptr) {
        return false;
    }
    // A container that announces its count is read one picture past it at most: the count a
    // damaged index gives must not end the video early, nor a wrong one run on for ever.
    if (stream->nb_frames > 0 && picturesRead > stream->nb_frames) {
        return false;
    }
    if (hasReturned) {
        std::swap(picture, returned);
        hasReturned = false;
        ++picturesRead;
        return true;
    }
    if (!picture.frame) {
        picture.frame.reset(av_frame_alloc());
    } else {
        av_frame_unref(picture.frame.get());
    }
    AVFrame* frame = picture.frame.get();
    int otherPackets = 0;
    int failedDecodes = 0;
    // A picture may be waiting from the packet before.
    bool valid = avcodec_receive_frame(decoder.get(), frame) >= 0;
    while (!valid) {
        av_packet_unref(packet.get());
        int result = av_read_frame(format, packet.get());
        if (result == AVERROR(EAGAIN)) {
            continue;
        }
        if (result == AVERROR_EOF) {
            // An empty packet drains the pictures the decoder still holds.
            packet->data = nullptr;
            packet->size = 0;
            packet->stream_index = streamIndex;
        }
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet.get());
            if (++otherPackets > kOtherPacketsPerPicture) {
                break;
            }
            continue;
        }
        if (times.continues() && packet->data != nullptr) {
            // The decoder hands the packet's continuation on to the picture made from it, in
            // whatever order the pictures come out. A damaged packet is no clip's, and the
            // times the clips go by are not continued from it.
            decoder->reordered_opaque = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0
                                            ? times.shiftOf(streamIndex)
                                            : times.shiftFor(*packet);
        }
        if (avcodec_send_packet(decoder.get(), packet.get()) < 0) {
            break;
        }
        result = avcodec_receive_frame(decoder.get(), frame);
        if (result >= 0) {
            valid = true;
        } else if (result != AVERROR(EAGAIN) && ++failedDecodes > kFailedDecodesPerPicture) {
            break;
        }
    }
    if (!valid) {
        return false;
    }
    ++picturesRead;
    picture.codedWidth = decoder->coded_width;
    picture.codedHeight = decoder->coded_height;
    // The position the imaging library reported: the presentation time unless it is missing or
    // 0, else the decoding time of the packet.
    const long long position =
        frame->pts != AV_NOPTS_VALUE && frame->pts != 0 ? frame->pts : frame->pkt_dts;
    picture.positionMs = position == AV_NOPTS_VALUE ? 0.0 : secondsFromStart(position) * 1000.0;
    const long long presentation = frame->best_effort_timestamp;
    picture.hasPresentationTime = presentation != AV_NOPTS_VALUE;
    picture.presentationMs =
        picture.hasPresentationTime ? secondsFromStart(presentation) * 1000.0 : 0.0;
    picture.continuedMs = picture.presentationMs;
    if (times.continues() && picture.hasPresentationTime) {
        const long long shift =
            frame->reordered_opaque == AV_NOPTS_VALUE ? 0 : frame->reordered_opaque;
        picture.continuedMs = secondsFromStart(presentation + shift) * 1000.0;
    }
    return true;
}

bool VideoSource::seek(double ms) {
    const double timeBase = toDouble(stream == nullptr ? AVRational{0, 1} : stream->time_base);
    if (timeBase <= 0.0) {
        return false;
    }
    const long long start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const long long target = start + std::llround(ms / 1000.0 / timeBase);
    if (av_seek_frame(format, streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0) {
        return false;
    }
    avcodec_flush_buffers(decoder.get());
    av_packet_unref(packet.get());
    hasReturned = false;
    // What was read before no longer leads up to what comes next.
    times.start(format, streamIndex);
    // The count caps a whole read from the start; from a keyframe further on, counting afresh
    // keeps the cap a bound without ending the video early.
    picturesRead = 0;
    return true;
}

void VideoSource::putBack(Picture&& picture, long long index) {
    returned = std::move(picture);
    hasReturned = true;
    picturesRead = index;
}

std::string VideoSource::containerName() const {
    return format == nullptr ? std::string() : std::string(format->iformat->name);
}

bool VideoSource::seekable() const {
    return file.seekable();
}

long long VideoSource::countedFrames() const {
    return stream == nullptr ? 0 : std::max<long long>(stream->nb_frames, 0);
}

}  // namespace pelmora
