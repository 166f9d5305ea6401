#include "DigestWriter.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "AvError.h"

namespace pelmora {

cv::Size digestSize(cv::Size size) {
    if (size.width <= 0 || size.height <= 0) {
        return {kDigestWidth, kDigestHeight};
    }
    const double scale = std::min({1.0, static_cast<double>(kDigestWidth) / size.width,
                                   static_cast<double>(kDigestHeight) / size.height});
    return {evenSizeWithin(static_cast<int>(std::lround(size.width * scale))),
            evenSizeWithin(static_cast<int>(std::lround(size.height * scale)))};
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

std::string DigestWriter::open(const std::string& path, cv::Size size, double fps) {
    encoder = H264Encoder();
    written = 0;
    outSize = size;
    std::string error = file.open("mp4", path, Placing::underTemporaryName);
    if (!error.empty()) {
        return error;
    }
    H264Settings settings;
    settings.width = size.width;
    settings.height = size.height;
    settings.frameRate = av_d2q(fps, 1001000);
    settings.timeBase = av_inv_q(settings.frameRate);
    // A keyframe every two seconds lets a player jump about the digest quickly.
    settings.keyframeEvery = std::max(1, static_cast<int>(std::lround(2 * fps)));
    settings.quality = "20";
    settings.pictureDuration = 1;
    error = encoder.open(file, settings);
    if (!error.empty()) {
        return error;
    }
    frame = encoder.makePicture(error);
    if (!frame) {
        return error;
    }
    if (cachedScaler(converter, size.width, size.height, AV_PIX_FMT_BGR24, size.width, size.height,
                     AV_PIX_FMT_YUV420P, SWS_BICUBIC) == nullptr) {
        return "cannot convert pictures for the encoder";
    }
    return file.writeHeader(true);
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
    const int result = av_frame_make_writable(frame.get());
    if (result < 0) {
        return avErrorText(result);
    }
    const uint8_t* planes[1] = {picture.data};
    const int strides[1] = {static_cast<int>(picture.step[0])};
    sws_scale(converter.get(), planes, strides, 0, picture.rows, frame->data, frame->linesize);
    frame->pts = written++;
    return encoder.encode(frame.get());
}

std::string DigestWriter::finish() {
    if (!encoder.context() || file.container() == nullptr) {
        return "the digest was never started";
    }
    std::string error = encoder.encode(nullptr);
    if (error.empty()) {
        error = file.finish();
    }
    encoder = H264Encoder();
    file.close();
    return error;
}

}  // namespace pelmora
