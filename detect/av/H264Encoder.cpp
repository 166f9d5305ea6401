#include "H264Encoder.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <string>

#include "AvError.h"

namespace pelmora {

int evenSize(int size) {
    return std::max(2, size + (size & 1));
}

int evenSizeWithin(int size) {
    return std::max(2, size - (size & 1));
}

std::string H264Encoder::open(OutputFile& file, const H264Settings& settings) {
    into = &file;
    fill = settings.pictureDuration;
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) {
        return "no H.264 encoder (libx264) in this FFmpeg";
    }
    encoder.reset(avcodec_alloc_context3(h264));
    if (!encoder) {
        return avErrorText(AVERROR(ENOMEM));
    }
    encoder->width = settings.width;
    encoder->height = settings.height;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->flags |= AV_CODEC_FLAG_BITEXACT;
    encoder->sample_aspect_ratio = settings.pixelAspect;
    encoder->time_base = settings.timeBase;
    encoder->framerate = settings.frameRate;
    if (settings.keyframeEvery > 0) {
        encoder->gop_size = settings.keyframeEvery;
    }
    encoder->max_b_frames = 0;
    if (file.wantsGlobalHeader()) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
    if (settings.quality != nullptr) {
        av_opt_set(encoder->priv_data, "crf", settings.quality, 0);
    }
    const int result = avcodec_open2(encoder.get(), h264, nullptr);
    if (result < 0) {
        return avErrorText(result);
    }
    AVStream* stream = file.addStream();
    if (stream == nullptr) {
        return avErrorText(AVERROR(ENOMEM));
    }
    avcodec_parameters_from_context(stream->codecpar, encoder.get());
    stream->time_base = encoder->time_base;
    streamIndex = stream->index;
    return std::string();
}

Frame H264Encoder::makePicture(std::string& error) const {
    Frame picture(av_frame_alloc());
    if (!picture) {
        error = avErrorText(AVERROR(ENOMEM));
        return picture;
    }
    picture->format = encoder->pix_fmt;
    picture->width = encoder->width;
    picture->height = encoder->height;
    const int result = av_frame_get_buffer(picture.get(), 0);
    if (result < 0) {
        error = avErrorText(result);
        picture.reset();
    }
    return picture;
}

std::string H264Encoder::encode(const AVFrame* picture) {
    const int result = avcodec_send_frame(encoder.get(), picture);
    if (result < 0 && !(picture == nullptr && result == AVERROR_EOF)) {
        return avErrorText(result);
    }
    return writeEncoded(encoder.get(), *into, streamIndex, fill);
}

std::string writeEncoded(AVCodecContext* encoder, OutputFile& file, int stream,
                         int64_t fillDuration) {
    Packet packet(av_packet_alloc());
    if (!packet) {
        return avErrorText(AVERROR(ENOMEM));
    }
    for (;;) {
        const int result = avcodec_receive_packet(encoder, packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return std::string();
        }
        if (result < 0) {
            return avErrorText(result);
        }
        packet->stream_index = stream;
        if (packet->duration == 0 && fillDuration != 0) {
            packet->duration = fillDuration;
        }
        av_packet_rescale_ts(packet.get(), encoder->time_base,
                             file.container()->streams[stream]->time_base);
        const std::string error = file.write(packet.get());
        if (!error.empty()) {
            return error;
        }
    }
}

}  // namespace pelmora
