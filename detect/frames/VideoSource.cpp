#include "VideoSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
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

}  // namespace

void AVFrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

VideoSource::VideoSource() = default;

VideoSource::~VideoSource() {
    close();
}

void VideoSource::close() {
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    file.close();
    format = nullptr;
    stream = nullptr;
    streamIndex = -1;
    rotationDegrees = 0;
    picturesRead = 0;
    hasReturned = false;
}

bool VideoSource::open(const std::string& path, std::string& reason, int decoderThreads) {
    close();
    reason = file.open(path);
    if (!reason.empty()) {
        return false;
    }
    format = file.container();
    const AVCodecParameters* parameters = file.video()->codecpar;
    // The video, whether or not it can be decoded.
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) {
        reason = std::string("no decoder for ") + avcodec_get_name(parameters->codec_id);
        close();
        return false;
    }
    decoder = avcodec_alloc_context3(codec);
    packet = av_packet_alloc();
    if (decoder == nullptr || packet == nullptr) {
        reason = avErrorText(AVERROR(ENOMEM));
        close();
        return false;
    }
    decoder->thread_count = decoderThreads > 0
                                ? decoderThreads
                                : static_cast<int>(std::clamp(std::thread::hardware_concurrency(),
                                                              1u, kMostDecoderThreads));
    avcodec_parameters_to_context(decoder, parameters);
    const int error = avcodec_open2(decoder, codec, nullptr);
    if (error < 0) {
        reason = avErrorText(error);
        close();
        return false;
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
    return true;
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
    bool valid = avcodec_receive_frame(decoder, frame) >= 0;
    while (!valid) {
        av_packet_unref(packet);
        int result = av_read_frame(format, packet);
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
            av_packet_unref(packet);
            if (++otherPackets > kOtherPacketsPerPicture) {
                break;
            }
            continue;
        }
        if (avcodec_send_packet(decoder, packet) < 0) {
            break;
        }
        result = avcodec_receive_frame(decoder, frame);
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
    avcodec_flush_buffers(decoder);
    av_packet_unref(packet);
    hasReturned = false;
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
