// Makes the sample clip: a still, textured garden-like scene with sensor-like noise, crossed
// once by a ball for about two seconds, as a low-rate camera would record it. At a threshold
// of 20 the detector keeps a handful of frames: the first one, the crossing, and the frame
// after the ball has gone.

#include <cmath>
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

// The programs read video with FFmpeg and so write it with FFmpeg too: the imaging library's
// video module is for the tests alone.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr double kFps = 4.0;
constexpr int kFrames = 40;  // ten seconds
constexpr int kCrossingStart = 16;
constexpr int kCrossingFrames = 8;
constexpr double kNoiseSigma = 3.0;
constexpr int kJpegScale = 1;  // the finest: the sensor-like noise stays as a camera keeps it

cv::Mat makeScene() {
    cv::Mat scene(kHeight, kWidth, CV_8UC3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double grass = 0.5 + 0.25 * std::sin(x * 0.21) * std::cos(y * 0.17) +
                                 0.15 * std::sin((x + 2 * y) * 0.05);
            const bool sky = y < kHeight / 3;
            scene.at<cv::Vec3b>(y, x) =
                sky ? cv::Vec3b(static_cast<uchar>(200 + 20 * std::sin(x * 0.02)), 170, 130)
                    : cv::Vec3b(static_cast<uchar>(40 * grass), static_cast<uchar>(90 + 80 * grass),
                                static_cast<uchar>(50 + 40 * grass));
        }
    }
    cv::rectangle(scene, cv::Rect(40, 60, 60, 100), cv::Scalar(60, 80, 120), cv::FILLED);
    cv::rectangle(scene, cv::Rect(230, 90, 50, 70), cv::Scalar(90, 90, 90), cv::FILLED);
    return scene;
}

// An AVI file of Motion JPEG frames, written through FFmpeg; every call that can fail says so.
class ClipWriter {
public:
    ~ClipWriter() {
        sws_freeContext(converter);
        av_frame_free(&picture);
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        if (container != nullptr) {
            avio_closep(&container->pb);
            avformat_free_context(container);
        }
    }

    bool open(const char* path) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        if (codec == nullptr ||
            avformat_alloc_output_context2(&container, nullptr, "avi", path) < 0) {
            return false;
        }
        AVStream* stream = avformat_new_stream(container, nullptr);
        encoder = avcodec_alloc_context3(codec);
        picture = av_frame_alloc();
        packet = av_packet_alloc();
        if (stream == nullptr || encoder == nullptr || picture == nullptr || packet == nullptr) {
            return false;
        }
        encoder->width = kWidth;
        encoder->height = kHeight;
        encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
        encoder->time_base = AVRational{1, static_cast<int>(kFps)};
        encoder->framerate = AVRational{static_cast<int>(kFps), 1};
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * kJpegScale;
        if (avcodec_open2(encoder, codec, nullptr) < 0 ||
            avcodec_parameters_from_context(stream->codecpar, encoder) < 0) {
            return false;
        }
        stream->time_base = encoder->time_base;
        picture->format = encoder->pix_fmt;
        picture->width = kWidth;
        picture->height = kHeight;
        converter = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight,
                                   encoder->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
        return converter != nullptr && av_frame_get_buffer(picture, 0) >= 0 &&
               avio_open(&container->pb, path, AVIO_FLAG_WRITE) >= 0 &&
               avformat_write_header(container, nullptr) >= 0;
    }

    bool write(const cv::Mat& frame) {
        if (av_frame_make_writable(picture) < 0) {
            return false;
        }
        const uint8_t* rows[] = {frame.data};
        const int steps[] = {static_cast<int>(frame.step)};
        sws_scale(converter, rows, steps, 0, kHeight, picture->data, picture->linesize);
        picture->pts = next++;
        return send(picture);
    }

    // The frames the encoder still holds, then the file's index.
    bool finish() { return send(nullptr) && av_write_trailer(container) >= 0; }

private:
    bool send(const AVFrame* frame) {
        if (avcodec_send_frame(encoder, frame) < 0) {
            return false;
        }
        int got = 0;
        while ((got = avcodec_receive_packet(encoder, packet)) >= 0) {
            av_packet_rescale_ts(packet, encoder->time_base, container->streams[0]->time_base);
            if (av_interleaved_write_frame(container, packet) < 0) {
                return false;
            }
        }
        return got == AVERROR(EAGAIN) || got == AVERROR_EOF;
    }

    AVFormatContext* container = nullptr;
    AVCodecContext* encoder = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* converter = nullptr;
    int64_t next = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s OUTPUT.avi\n", argv[0]);
        return 2;
    }
    ClipWriter writer;
    if (!writer.open(argv[1])) {
        std::fprintf(stderr, "Cannot write %s\n", argv[1]);
        return 1;
    }
    cv::RNG random(20261207);
    const cv::Mat scene = makeScene();
    cv::Mat frame;
    cv::Mat noise(kHeight, kWidth, CV_16SC3);
    for (int index = 0; index < kFrames; ++index) {
        scene.copyTo(frame);
        const int step = index - kCrossingStart;
        if (step >= 0 && step < kCrossingFrames) {
            const int x = -20 + (kWidth + 40) * step / (kCrossingFrames - 1);
            cv::circle(frame, cv::Point(x, 170), 18, cv::Scalar(30, 60, 220), cv::FILLED,
                       cv::LINE_AA);
        }
        random.fill(noise, cv::RNG::NORMAL, 0.0, kNoiseSigma);
        cv::Mat noisy;
        frame.convertTo(noisy, CV_16SC3);
        noisy += noise;
        noisy.convertTo(frame, CV_8UC3);
        if (!writer.write(frame)) {
            std::fprintf(stderr, "Cannot write %s\n", argv[1]);
            return 1;
        }
    }
    if (!writer.finish()) {
        std::fprintf(stderr, "Cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
