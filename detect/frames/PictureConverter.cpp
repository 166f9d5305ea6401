#include "PictureConverter.h"

#include <stdexcept>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace pelmora {

namespace {

// The row alignment of the scaler's own output buffers, and the slack they keep past their
// last row: vector code writes a little past the end of a row.
constexpr int kRowAlign = 32;
constexpr int kSlackRows = 2;

}  // namespace

PictureConverter::~PictureConverter() {
    sws_freeContext(scaler);
    sws_freeContext(pairScaler);
}

void PictureConverter::setStream(cv::Size visibleSize, int rotationDegrees) {
    visible = visibleSize;
    rotation = rotationDegrees;
}

bool PictureConverter::changesFormat(const Picture& picture) const {
    return scaler != nullptr &&
           (picture.frame->width != pictureWidth || picture.frame->height != pictureHeight ||
            picture.frame->format != pixelFormat);
}

bool PictureConverter::prepare(const Picture& picture) {
    if (scaler != nullptr && !changesFormat(picture)) {
        return true;
    }
    // Once the pictures have changed size the stream's size no longer describes them.
    sizeChanged = sizeChanged || scaler != nullptr;
    scaler = sws_getCachedContext(scaler, picture.codedWidth, picture.codedHeight,
                                  static_cast<AVPixelFormat>(picture.frame->format),
                                  picture.codedWidth, picture.codedHeight, AV_PIX_FMT_BGR24,
                                  SWS_BICUBIC, nullptr, nullptr, nullptr);
    rowCheck = RowCheck::NotYet;
    scalerWidth = picture.codedWidth;
    scalerHeight = picture.codedHeight;
    pixelFormat = picture.frame->format;
    pictureWidth = picture.frame->width;
    pictureHeight = picture.frame->height;
    return scaler != nullptr;
}

cv::Size PictureConverter::imageSize(const Picture& picture) const {
    return sizeChanged || visible.empty() ? cv::Size(picture.frame->width, picture.frame->height)
                                          : visible;
}

void PictureConverter::fitBuffer(cv::Mat& image, cv::Size size) const {
    // The scaler's output as an image of its own would be laid out: rows of the coded width
    // padded to the alignment, as many as the coded height.
    int linesizes[4] = {};
    for (int align = 1; align <= kRowAlign; align += align) {
        av_image_fill_linesizes(linesizes, AV_PIX_FMT_BGR24, FFALIGN(scalerWidth, align));
        if ((linesizes[0] & (kRowAlign - 1)) == 0) {
            break;
        }
    }
    const int rows = std::max(scalerHeight, size.height) + kSlackRows;
    const auto step = static_cast<std::size_t>(std::max(linesizes[0], size.width * 3));
    if (image.size() == size && image.type() == CV_8UC3 && image.step[0] == step &&
        image.u != nullptr && image.u->size >= static_cast<std::size_t>(rows) * step) {
        return;
    }
    cv::Mat storage(rows, static_cast<int>(step), CV_8UC1);
    image = storage(cv::Rect(0, 0, size.width * 3, size.height)).reshape(3);
}

bool PictureConverter::convert(const Picture& picture, cv::Mat& image) {
    if (!prepare(picture)) {
        return false;
    }
    const cv::Size size = imageSize(picture);
    cv::Mat& target = rotation == 0 ? image : rotated;
    fitBuffer(target, size);
    uint8_t* planes[4] = {target.data, nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(target.step[0]), 0, 0, 0};
    sws_scale(scaler, picture.frame->data, picture.frame->linesize, 0, picture.frame->height,
              planes, strides);
    if (rotation == 90) {
        cv::rotate(rotated, image, cv::ROTATE_90_CLOCKWISE);
    } else if (rotation == 180) {
        cv::rotate(rotated, image, cv::ROTATE_180);
    } else if (rotation == 270) {
        cv::rotate(rotated, image, cv::ROTATE_90_COUNTERCLOCKWISE);
    } else if (rotation != 0) {
        rotated.copyTo(image);
    }
    return true;
}

bool PictureConverter::rowsEligible(const Picture& picture) const {
    const AVFrame& frame = *picture.frame;
    const int format = frame.format;
    const bool planar = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P ||
                        format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUVJ422P;
    const cv::Size size = imageSize(picture);
    // An odd height takes the scaler's general path, whose colour rows blend with their
    // neighbours; upside-down planes and rotated images are left to the whole conversion.
    return planar && rotation == 0 && picture.codedHeight % 2 == 0 && frame.height % 2 == 0 &&
           frame.linesize[0] > 0 && frame.linesize[1] > 0 && frame.linesize[2] > 0 &&
           size.width <= frame.width && size.height <= frame.height;
}

bool PictureConverter::convertsRows(const Picture& picture) {
    if (!prepare(picture) || !rowsEligible(picture)) {
        return false;
    }
    if (rowCheck == RowCheck::NotYet) {
        rowCheck = rowsMatchWholeConversion(picture) ? RowCheck::Passed : RowCheck::Failed;
    }
    return rowCheck == RowCheck::Passed;
}

bool PictureConverter::rowsMatchWholeConversion(const Picture& picture) {
    cv::Mat whole;
    cv::Mat byPairs;
    if (!convert(picture, whole)) {
        return false;
    }
    fitImage(picture, byPairs);
    // Pairs go straight into the image, so the scaler must write nothing past a pair's last
    // row: rows made out of order would otherwise overwrite the start of the pair below.
    const auto step = static_cast<int>(byPairs.step[0]);
    cv::Mat probe(2 + kSlackRows, step, CV_8UC1);
    for (const int fill : {0x00, 0xFF}) {
        probe.setTo(fill);
        scalePair(picture, 0, probe.data, step);
        if (cv::countNonZero(probe.rowRange(2, probe.rows) != fill) > 0) {
            return false;
        }
    }
    // From the bottom up, the order most likely to show a pair that overwrites another.
    for (int pair = (byPairs.rows + 1) / 2 - 1; pair >= 0; --pair) {
        convertRowPair(picture, pair, byPairs);
    }
    return cv::norm(whole, byPairs, cv::NORM_INF) == 0.0;
}

void PictureConverter::fitImage(const Picture& picture, cv::Mat& image) {
    prepare(picture);
    fitBuffer(image, imageSize(picture));
}

void PictureConverter::convertRowPair(const Picture& picture, int pair, cv::Mat& image) {
    scalePair(picture, pair, image.ptr(2 * pair), static_cast<int>(image.step[0]));
}

void PictureConverter::scalePair(const Picture& picture, int pair, uint8_t* target, int step) {
    const AVFrame& frame = *picture.frame;
    pairScaler = sws_getCachedContext(pairScaler, picture.codedWidth, 2,
                                      static_cast<AVPixelFormat>(frame.format), picture.codedWidth,
                                      2, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (pairScaler == nullptr) {
        throw std::runtime_error("no scaler for two rows of the picture");
    }
    const bool halfHeightColour =
        frame.format == AV_PIX_FMT_YUV420P || frame.format == AV_PIX_FMT_YUVJ420P;
    const int colourRow = halfHeightColour ? pair : 2 * pair;
    const uint8_t* planes[4] = {frame.data[0] + 2 * pair * frame.linesize[0],
                                frame.data[1] + colourRow * frame.linesize[1],
                                frame.data[2] + colourRow * frame.linesize[2], nullptr};
    // The image's own row step: the scaler's vector code decides by it how far to write.
    uint8_t* targets[4] = {target, nullptr, nullptr, nullptr};
    int strides[4] = {step, 0, 0, 0};
    sws_scale(pairScaler, planes, frame.linesize, 0, 2, targets, strides);
}

}  // namespace pelmora
