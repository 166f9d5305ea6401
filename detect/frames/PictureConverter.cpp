#include "PictureConverter.h"

#include <cstddef>
#include <stdexcept>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace pelmora {

namespace {

// The row alignment of the scaler's own output buffers, and the slack they keep past their
// last row: vector code writes a little past the end of a row.
constexpr int kRowAlign = 32;
constexpr int kSlackRows = 2;
// The most rows or columns by which a decoder's pictures exceed the size of its stream: its
// alignment, a macroblock.
constexpr int kMostCut = 16;

// Whether each plane of the frame holds rows of width pixels, height of them (fewer for the
// colour planes of a subsampled format), inside the buffer the plane lies in: what a scaler
// over that size reads.
bool planesHold(const AVFrame& frame, int width, int height) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(format);
    if (layout == nullptr || (layout->flags & AV_PIX_FMT_FLAG_HWACCEL) != 0 || width <= 0 ||
        height <= 0) {
        return false;
    }
    const int planes = av_pix_fmt_count_planes(format);
    for (int plane = 0; plane < planes; ++plane) {
        const AVBufferRef* buffer = av_frame_get_plane_buffer(const_cast<AVFrame*>(&frame), plane);
        const int rowBytes = av_image_get_linesize(format, width, plane);
        if (buffer == nullptr || rowBytes <= 0 || frame.linesize[plane] < rowBytes) {
            return false;
        }
        const bool colour =
            (plane == 1 || plane == 2) && (layout->flags & AV_PIX_FMT_FLAG_RGB) == 0;
        const int rows = colour ? AV_CEIL_RSHIFT(height, layout->log2_chroma_h) : height;
        const std::uint8_t* first = frame.data[plane];
        const std::ptrdiff_t span =
            static_cast<std::ptrdiff_t>(rows - 1) * frame.linesize[plane] + rowBytes;
        if (first < buffer->data || span > buffer->data + buffer->size - first) {
            return false;
        }
    }
    return true;
}

// The size a scaler for the picture works over: the decoder's coded size when the picture's
// planes hold it, else the picture's own.
cv::Size sourceSize(const Picture& picture) {
    const AVFrame& frame = *picture.frame;
    if (picture.codedWidth >= frame.width && picture.codedHeight >= frame.height &&
        planesHold(frame, picture.codedWidth, picture.codedHeight)) {
        return {picture.codedWidth, picture.codedHeight};
    }
    return {frame.width, frame.height};
}

}  // namespace

void PictureConverter::setStream(cv::Size visibleSize, int rotationDegrees) {
    visible = visibleSize;
    rotation = rotationDegrees;
}

bool PictureConverter::changesFormat(const Picture& picture) const {
    return scaler &&
           (picture.frame->width != pictureWidth || picture.frame->height != pictureHeight ||
            picture.frame->format != pixelFormat);
}

bool PictureConverter::prepare(const Picture& picture) {
    const AVFrame& frame = *picture.frame;
    // A picture of the size and format before may still come with another coded size than its
    // own; the scaler made for its size serves it as long as its planes hold what it reads.
    if (scaler && !changesFormat(picture) && planesHold(frame, scalerWidth, frame.height)) {
        return true;
    }
    // Once the pictures have changed size the stream's size no longer describes them; a change
    // of pixel format alone leaves the images as they were.
    sizeChanged =
        sizeChanged || (scaler && (frame.width != pictureWidth || frame.height != pictureHeight));
    const cv::Size source = sourceSize(picture);
    cachedScaler(scaler, source.width, source.height, static_cast<AVPixelFormat>(frame.format),
                 source.width, source.height, AV_PIX_FMT_BGR24, SWS_BICUBIC);
    rowCheck = RowCheck::NotYet;
    scalerWidth = source.width;
    scalerHeight = source.height;
    pixelFormat = frame.format;
    pictureWidth = frame.width;
    pictureHeight = frame.height;
    return scaler != nullptr;
}

std::string PictureConverter::refusal(const Picture& picture) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture.frame->format));
    return std::string("its pictures (pixel format ") + (name != nullptr ? name : "unknown") +
           ", " + std::to_string(picture.frame->width) + "x" +
           std::to_string(picture.frame->height) + ") cannot be converted to colour";
}

cv::Size PictureConverter::imageSize(const Picture& picture) const {
    const cv::Size own(picture.frame->width, picture.frame->height);
    // The stream's size cuts off the few rows or columns that some decoders give beyond it, as
    // the capture does. A stream whose pictures change size may announce another part's size
    // (FFmpeg takes it from the first seconds it reads), which would leave the image larger than
    // the picture, or cut the picture to a fraction of itself: the picture's own size holds.
    const bool cutsOff = !visible.empty() && visible.width <= own.width &&
                         visible.height <= own.height && own.width - visible.width < kMostCut &&
                         own.height - visible.height < kMostCut;
    return sizeChanged || !cutsOff ? own : visible;
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
    const AVFrame& frame = *picture.frame;
    const int made =
        sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    if (made < size.height && scalerHeight > frame.height) {
        // A scaler over a coded height beyond the picture's may hold its last rows back for
        // source rows that never come (10-bit 4:2:0 does), leaving whatever the buffer held
        // there: the pictures of this format are converted over their own height instead.
        scalerHeight = frame.height;
        cachedScaler(scaler, scalerWidth, scalerHeight, static_cast<AVPixelFormat>(frame.format),
                     scalerWidth, scalerHeight, AV_PIX_FMT_BGR24, SWS_BICUBIC);
        rowCheck = RowCheck::NotYet;
        if (!scaler) {
            return false;
        }
        sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    }
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
    return planar && rotation == 0 && scalerHeight % 2 == 0 && frame.height % 2 == 0 &&
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
    // Over the whole scaler's width, which the image was laid out for: the picture's coded width
    // may be another picture's.
    cachedScaler(pairScaler, scalerWidth, 2, static_cast<AVPixelFormat>(frame.format), scalerWidth,
                 2, AV_PIX_FMT_BGR24, SWS_BICUBIC);
    if (!pairScaler) {
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
    sws_scale(pairScaler.get(), planes, frame.linesize, 0, 2, targets, strides);
}

}  // namespace pelmora
