#pragma once

// FFmpeg's objects, each with the one owner that frees it by the call FFmpeg gives for it. Every
// part of the core that holds one of them holds it in one of these.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace pelmora {

struct CodecFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;

// A container opened for reading.
struct InputFree {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputFree>;

// A container made for writing, its file closed with it where it was opened.
struct OutputFree {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};
using Output = std::unique_ptr<AVFormatContext, OutputFree>;

struct ScalerFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using Scaler = std::unique_ptr<SwsContext, ScalerFree>;

struct ResamplerFree {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
using Resampler = std::unique_ptr<SwrContext, ResamplerFree>;

struct SampleQueueFree {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using SampleQueue = std::unique_ptr<AVAudioFifo, SampleQueueFree>;

// A scaler for the next picture: the one held where it suits, else a new one in its place
// (FFmpeg's cached context, whose old one it frees itself).
inline SwsContext* cachedScaler(Scaler& held, int fromWidth, int fromHeight, AVPixelFormat from,
                                int toWidth, int toHeight, AVPixelFormat to, int flags) {
    held.reset(sws_getCachedContext(held.release(), fromWidth, fromHeight, from, toWidth, toHeight,
                                    to, flags, nullptr, nullptr, nullptr));
    return held.get();
}

}  // namespace pelmora
