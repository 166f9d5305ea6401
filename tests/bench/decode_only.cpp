// The floor a run is measured against: FFmpeg's demuxing and decoding of a video's first video
// stream, threaded as the program's reader threads it, and nothing else: no conversion of the
// pictures, no copy of them, no imaging library loaded. Its own process, so that what it costs
// to start is counted as the program's start is.
// Run: build/tests/decode_only VIDEO    (exit status 0 when it decoded a picture, 1 when not)

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

// The reader's limit: FFmpeg advises against more decoder threads than this.
constexpr unsigned kMostDecoderThreads = 16;

// Every picture the decoder has ready; their count.
long long drain(AVCodecContext* decoder, AVFrame* frame) {
    long long pictures = 0;
    while (avcodec_receive_frame(decoder, frame) >= 0) {
        ++pictures;
        av_frame_unref(frame);
    }
    return pictures;
}

long long decodeAll(const char* path) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path, nullptr, nullptr) < 0) {
        return 0;
    }
    long long pictures = 0;
    // The first video stream, as the reader takes, not the one FFmpeg would rank best.
    int streamIndex = -1;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
                streamIndex = static_cast<int>(i);
                break;
            }
        }
    }
    const AVCodec* codec =
        streamIndex < 0 ? nullptr
                        : avcodec_find_decoder(format->streams[streamIndex]->codecpar->codec_id);
    AVCodecContext* decoder = codec == nullptr ? nullptr : avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (decoder != nullptr && packet != nullptr && frame != nullptr) {
        decoder->thread_count = static_cast<int>(
            std::clamp(std::thread::hardware_concurrency(), 1u, kMostDecoderThreads));
        // The reader keeps FFmpeg's default, frame and slice threads together; said here so
        // that the floor stays put should that default change.
        decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        avcodec_parameters_to_context(decoder, format->streams[streamIndex]->codecpar);
        if (avcodec_open2(decoder, codec, nullptr) >= 0) {
            while (av_read_frame(format, packet) >= 0) {
                // A damaged packet costs its pictures, not the rest of the video.
                if (packet->stream_index == streamIndex &&
                    avcodec_send_packet(decoder, packet) >= 0) {
                    pictures += drain(decoder, frame);
                }
                av_packet_unref(packet);
            }
            // The pictures the decoder's threads still hold.
            avcodec_send_packet(decoder, nullptr);
            pictures += drain(decoder, frame);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return pictures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: decode_only VIDEO\n");
        return 2;
    }
    // The program keeps the decoder quiet too unless asked.
    av_log_set_level(AV_LOG_QUIET);
    return decodeAll(argv[1]) > 0 ? 0 : 1;
}
