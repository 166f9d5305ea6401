#include "ClipSink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <string>

#include "TextFormat.h"

namespace pelmora {

namespace {

// The packets one picture may take to come out of a decoder that holds some back.
constexpr int kMostPacketsToAPicture = 64;

std::string pictureText(int format, int width, int height) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
    return formatText("%s %dx%d", name != nullptr ? name : "unknown", width, height);
}

}  // namespace

std::string copyFault(const std::string& path, const AVStream& video, int out) {
    AVFormatContext* opened = nullptr;
    int result = avformat_open_input(&opened, localFileUrl(path).c_str(), nullptr, nullptr);
    if (result < 0) {
        return "it does not open again: " + avErrorText(result);
    }
    const Input clip(opened);
    result = avformat_find_stream_info(clip.get(), nullptr);
    if (result < 0) {
        return "it does not open again: " + avErrorText(result);
    }
    if (out < 0 || out >= static_cast<int>(clip->nb_streams)) {
        return "its pictures are missing";
    }
    const AVStream* copy = clip->streams[out];
    const AVCodecParameters& want = *video.codecpar;
    const AVCodecParameters& got = *copy->codecpar;
    const std::string wanted = pictureText(want.format, want.width, want.height);
    if (got.codec_id != want.codec_id || got.width != want.width || got.height != want.height ||
        (got.format >= 0 && want.format >= 0 && got.format != want.format)) {
        return "its pictures read as " + pictureText(got.format, got.width, got.height) +
               ", the video's as " + wanted;
    }
    std::string error;
    const Codec decoder = openDecoder(copy, error);
    if (!decoder) {
        return error;
    }
    const Packet packet(av_packet_alloc());
    const Frame frame(av_frame_alloc());
    for (int sent = 0; sent < kMostPacketsToAPicture;) {
        const bool atEnd = av_read_frame(clip.get(), packet.get()) < 0;
        if (!atEnd && packet->stream_index != out) {
            av_packet_unref(packet.get());
            continue;
        }
        ++sent;
        result = avcodec_send_packet(decoder.get(), atEnd ? nullptr : packet.get());
        av_packet_unref(packet.get());
        if (result < 0 && result != AVERROR_EOF) {
            return "its first picture does not decode: " + avErrorText(result);
        }
        result = avcodec_receive_frame(decoder.get(), frame.get());
        if (result >= 0) {
            if (want.format >= 0 && frame->format != want.format) {
                return "its first picture decodes as " +
                       pictureText(frame->format, frame->width, frame->height) +
                       ", the video's as " + wanted;
            }
            return std::string();
        }
        if (result != AVERROR(EAGAIN) || atEnd) {
            return "its first picture does not decode: " + avErrorText(result);
        }
    }
    return "no picture decodes from its first packets";
}

}  // namespace pelmora
