#include "DigestWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "FileOutput.h"
#include "FolderNames.h"
#include "VideoFile.h"

namespace pelmora {

namespace {

int evenDown(int size) {
    return std::max(2, size - (size & 1));
}

}  // namespace

cv::Size digestSize(cv::Size size) {
    if (size.width <= 0 || size.height <= 0) {
        return {kDigestWidth, kDigestHeight};
    }
    const double scale = std::min({1.0, static_cast<double>(kDigestWidth) / size.width,
                                   static_cast<double>(kDigestHeight) / size.height});
    return {evenDown(static_cast<int>(std::lround(size.width * scale))),
            evenDown(static_cast<int>(std::lround(size.height * scale)))};
}

void drawCornerText(cv::Mat& picture, const std::vector<std::string>& lines) {
    if (lines.empty() || picture.empty()) {
        return;
    }
    // Readable on a phone's screen at 720 rows, and still inside a small picture.
    const double scale = std::max(0.35, picture.rows / 1100.0);
    const int thickness = scale >= 0.8 ? 2 : 1;
    const int font = cv::FONT_HERSHEY_SIMPLEX;
    int baseline = 0;
    const int lineHeight =
        cv::getTextSize("0:", font, scale, thickness, &baseline).height + baseline + 4;
    int width = 0;
    for (const std::string& line : lines) {
        width = std::max(width, cv::getTextSize(line, font, scale, thickness, &baseline).width);
    }
    const cv::Rect band =
        cv::Rect(0, 0, width + 12, lineHeight * static_cast<int>(lines.size()) + 6) &
        cv::Rect(0, 0, picture.cols, picture.rows);
    cv::Mat area = picture(band);
    area.convertTo(area, -1, 0.35);
    int y = 3 + lineHeight - baseline - 2;
    for (const std::string& line : lines) {
        cv::putText(picture, line, {6, y}, font, scale, cv::Scalar(255, 255, 255), thickness,
                    cv::LINE_AA);
        y += lineHeight;
    }
}

DigestWriter::~DigestWriter() {
    abandon();
}

void DigestWriter::abandon() {
    if (output != nullptr) {
        if (output->pb != nullptr) {
            avio_closep(&output->pb);
        }
        avformat_free_context(output);
        output = nullptr;
    }
    avcodec_free_context(&encoder);
    av_frame_free(&frame);
    sws_freeContext(converter);
    converter = nullptr;
    if (!finished && !temporary.empty()) {
        ::unlink(temporary.c_str());
    }
    temporary.clear();
}

std::string DigestWriter::open(const std::string& path, cv::Size size, double fps) {
    abandon();
    finished = false;
    written = 0;
    finalPath = path;
    temporary = temporaryPath(path);
    outSize = size;
    int result =
        avformat_alloc_output_context2(&output, nullptr, "mp4", localFileUrl(temporary).c_str());
    if (result < 0) {
        return avErrorText(result);
    }
    output->flags |= AVFMT_FLAG_BITEXACT;
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) {
        return "no H.264 encoder (libx264) in this FFmpeg";
    }
    encoder = avcodec_alloc_context3(h264);
    encoder->width = size.width;
    encoder->height = size.height;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->flags |= AV_CODEC_FLAG_BITEXACT;
    encoder->framerate = av_d2q(fps, 1001000);
    encoder->time_base = av_inv_q(encoder->framerate);
    // A keyframe every two seconds lets a player jump about the digest quickly.
    encoder->gop_size = std::max(1, static_cast<int>(std::lround(2 * fps)));
    // Frames in their own order keep MP4 free of edit lists that players read differently.
    encoder->max_b_frames = 0;
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
    av_opt_set(encoder->priv_data, "crf", "20", 0);
    result = avcodec_open2(encoder, h264, nullptr);
    if (result < 0) {
        return avErrorText(result);
    }
    AVStream* stream = avformat_new_stream(output, nullptr);
    if (stream == nullptr) {
        return avErrorText(AVERROR(ENOMEM));
    }
    avcodec_parameters_from_context(stream->codecpar, encoder);
    stream->time_base = encoder->time_base;
    frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = size.width;
    frame->height = size.height;
    result = av_frame_get_buffer(frame, 0);
    if (result < 0) {
        return avErrorText(result);
    }
    converter = sws_getContext(size.width, size.height, AV_PIX_FMT_BGR24, size.width, size.height,
                               AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (converter == nullptr) {
        return "cannot convert pictures for the encoder";
    }
    result = avio_open(&output->pb, localFileUrl(temporary).c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        return avErrorText(result);
    }
    // The index at the front: a player can start before the whole file has come.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    result = avformat_write_header(output, &options);
    av_dict_free(&options);
    return result < 0 ? avErrorText(result) : std::string();
}

std::string DigestWriter::add(const cv::Mat& picture, const std::vector<std::string>& corner) {
    if (picture.size() == outSize) {
        picture.copyTo(fitted);
    } else {
        fitted.create(outSize, CV_8UC3);
        fitted.setTo(cv::Scalar::all(0));
        const double scale = std::min(static_cast<double>(outSize.width) / picture.cols,
                                      static_cast<double>(outSize.height) / picture.rows);
        const cv::Size inner(
            std::clamp(static_cast<int>(std::lround(picture.cols * scale)), 1, outSize.width),
            std::clamp(static_cast<int>(std::lround(picture.rows * scale)), 1, outSize.height));
        cv::Mat into =
            fitted(cv::Rect((outSize.width - inner.width) / 2, (outSize.height - inner.height) / 2,
                            inner.width, inner.height));
        cv::resize(picture, into, inner, 0, 0, scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    }
    drawCornerText(fitted, corner);
    return encode(fitted);
}

std::string DigestWriter::addCard(const std::vector<std::string>& lines, long long frames) {
    cv::Mat card(outSize, CV_8UC3, cv::Scalar::all(0));
    const double scale = std::max(0.5, outSize.height / 500.0);
    const int thickness = scale >= 1.0 ? 2 : 1;
    int baseline = 0;
    const int lineHeight =
        cv::getTextSize("0:", cv::FONT_HERSHEY_SIMPLEX, scale, thickness, &baseline).height * 2;
    int y = outSize.height / 2 - lineHeight * (static_cast<int>(lines.size()) - 1) / 2;
    for (const std::string& line : lines) {
        const int width =
            cv::getTextSize(line, cv::FONT_HERSHEY_SIMPLEX, scale, thickness, &baseline).width;
        cv::putText(card, line, {std::max(0, (outSize.width - width) / 2), y},
                    cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(255, 255, 255), thickness,
                    cv::LINE_AA);
        y += lineHeight;
    }
    for (long long i = 0; i < frames; ++i) {
        const std::string error = encode(card);
        if (!error.empty()) {
            return error;
        }
    }
    return std::string();
}

std::string DigestWriter::encode(const cv::Mat& picture) {
    int result = av_frame_make_writable(frame);
    if (result < 0) {
        return avErrorText(result);
    }
    const uint8_t* planes[1] = {picture.data};
    const int strides[1] = {static_cast<int>(picture.step[0])};
    sws_scale(converter, planes, strides, 0, picture.rows, frame->data, frame->linesize);
    frame->pts = written++;
    result = avcodec_send_frame(encoder, frame);
    return result < 0 ? avErrorText(result) : drain();
}

std::string DigestWriter::drain() {
    AVPacket* packet = av_packet_alloc();
    std::string error;
    for (;;) {
        const int result = avcodec_receive_packet(encoder, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            break;
        }
        if (result < 0) {
            error = avErrorText(result);
            break;
        }
        packet->stream_index = 0;
        if (packet->duration == 0) {
            packet->duration = 1;
        }
        av_packet_rescale_ts(packet, encoder->time_base, output->streams[0]->time_base);
        const int wrote = av_interleaved_write_frame(output, packet);
        if (wrote < 0) {
            error = avErrorText(wrote);
            break;
        }
    }
    av_packet_free(&packet);
    return error;
}

std::string DigestWriter::finish() {
    if (encoder == nullptr || output == nullptr) {
        return "the digest was never started";
    }
    avcodec_send_frame(encoder, nullptr);
    std::string error = drain();
    if (error.empty()) {
        int result = av_write_trailer(output);
        if (result >= 0 && output->pb->error < 0) {
            result = output->pb->error;
        }
        const int closed = avio_closep(&output->pb);
        if (result >= 0) {
            result = closed;
        }
        if (result < 0) {
            error = avErrorText(result);
        }
    }
    if (error.empty() && ::rename(temporary.c_str(), finalPath.c_str()) != 0) {
        error = systemError(errno);
    }
    if (error.empty()) {
        finished = true;
    }
    abandon();
    return error;
}

}  // namespace pelmora
