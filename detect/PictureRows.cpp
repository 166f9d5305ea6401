#include "PictureRows.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <opencv2/core/hal/intrin.hpp>

#include "ChangeBound.h"

namespace pelmora {

namespace {

constexpr double kUnit = 64.0;

// Rounded up, so that the bound in 64ths is never below the real one. The largest bound,
// 255 times the two largest coefficients and a spread, stays well inside 16 bits.
constexpr std::uint16_t inUnits(double value) {
    const auto whole = static_cast<std::uint16_t>(value * kUnit);
    return whole < value * kUnit ? static_cast<std::uint16_t>(whole + 1) : whole;
}

}  // namespace

PictureRows::PictureRows(PictureConverter& converter, const Picture& picture,
                         const AVFrame& reference, cv::Mat& image, int threshold)
    : converter(converter),
      picture(picture),
      reference(reference),
      image(image),
      halfHeightColour(picture.frame->format == AV_PIX_FMT_YUV420P ||
                       picture.frame->format == AV_PIX_FMT_YUVJ420P),
      limit(static_cast<std::uint16_t>(std::clamp(threshold, 0, 254) * kUnit)),
      pairMade(static_cast<std::size_t>(image.rows + 1) / 2, false) {
    const bool fullRange = picture.frame->format == AV_PIX_FMT_YUVJ420P ||
                           picture.frame->format == AV_PIX_FMT_YUVJ422P;
    const ChangeBound& bound = fullRange ? kFullRangeBound : kVideoRangeBound;
    luma = inUnits(bound.luma);
    blueU = inUnits(bound.blueU);
    greenU = inUnits(bound.greenU);
    greenV = inUnits(bound.greenV);
    redV = inUnits(bound.redV);
    blueSpread = inUnits(bound.blueSpread);
    greenSpread = inUnits(bound.greenSpread);
    redSpread = inUnits(bound.redSpread);
}

bool PictureRows::mayChange(int y) {
    const AVFrame& frame = *picture.frame;
    const int colourRow = halfHeightColour ? y / 2 : y;
    const uchar* lumaNow = frame.data[0] + y * frame.linesize[0];
    const uchar* lumaBefore = reference.data[0] + y * reference.linesize[0];
    const uchar* uNow = frame.data[1] + colourRow * frame.linesize[1];
    const uchar* uBefore = reference.data[1] + colourRow * reference.linesize[1];
    const uchar* vNow = frame.data[2] + colourRow * frame.linesize[2];
    const uchar* vBefore = reference.data[2] + colourRow * reference.linesize[2];
    // Each colour sample covers two pixels of the row; the larger of their two changes of Y
    // stands for both. The coded planes are at least a sample wide past an odd width.
    const int samples = (image.cols + 1) / 2;
    int i = 0;
#if CV_SIMD
    // Eight 16-bit lanes a step: two luma bytes each, their colour samples widened.
    const int lanes = cv::v_uint16::nlanes;
    const cv::v_uint16 lumaBy = cv::vx_setall_u16(luma);
    const cv::v_uint16 blueUBy = cv::vx_setall_u16(blueU);
    const cv::v_uint16 greenUBy = cv::vx_setall_u16(greenU);
    const cv::v_uint16 greenVBy = cv::vx_setall_u16(greenV);
    const cv::v_uint16 redVBy = cv::vx_setall_u16(redV);
    const cv::v_uint16 blueSpreads = cv::vx_setall_u16(blueSpread);
    const cv::v_uint16 greenSpreads = cv::vx_setall_u16(greenSpread);
    const cv::v_uint16 redSpreads = cv::vx_setall_u16(redSpread);
    const cv::v_uint16 limits = cv::vx_setall_u16(limit);
    const cv::v_uint16 lowByte = cv::vx_setall_u16(0xFF);
    for (; i + lanes <= samples; i += lanes) {
        const cv::v_uint16 lumaApart = cv::v_reinterpret_as_u16(
            cv::v_absdiff(cv::vx_load(lumaNow + 2 * i), cv::vx_load(lumaBefore + 2 * i)));
        const cv::v_uint16 dy = cv::v_max(lumaApart & lowByte, lumaApart >> 8);
        const cv::v_uint16 du =
            cv::v_absdiff(cv::vx_load_expand(uNow + i), cv::vx_load_expand(uBefore + i));
        const cv::v_uint16 dv =
            cv::v_absdiff(cv::vx_load_expand(vNow + i), cv::vx_load_expand(vBefore + i));
        // Nothing overflows 16 bits, so the plain products do, where the saturating ones would
        // widen to 32 bits and back.
        const cv::v_uint16 blue = cv::v_mul_wrap(blueUBy, du) + blueSpreads;
        const cv::v_uint16 green =
            cv::v_mul_wrap(greenUBy, du) + cv::v_mul_wrap(greenVBy, dv) + greenSpreads;
        const cv::v_uint16 red = cv::v_mul_wrap(redVBy, dv) + redSpreads;
        const cv::v_uint16 bound =
            cv::v_mul_wrap(lumaBy, dy) + cv::v_max(cv::v_max(blue, green), red);
        if (cv::v_check_any(bound > limits)) {
            return true;
        }
    }
#endif
    const auto apart = [](uchar a, uchar b) { return a > b ? a - b : b - a; };
    for (; i < samples; ++i) {
        const int dy = std::max(apart(lumaNow[2 * i], lumaBefore[2 * i]),
                                apart(lumaNow[2 * i + 1], lumaBefore[2 * i + 1]));
        const int du = apart(uNow[i], uBefore[i]);
        const int dv = apart(vNow[i], vBefore[i]);
        const int colour =
            std::max({blueU * du + blueSpread, greenU * du + greenV * dv + greenSpread,
                      redV * dv + redSpread});
        if (luma * dy + colour > limit) {
            return true;
        }
    }
    return false;
}

void PictureRows::make(int y) {
    const auto pair = static_cast<std::size_t>(y / 2);
    if (!pairMade[pair]) {
        converter.convertRowPair(picture, static_cast<int>(pair), image);
        pairMade[pair] = true;
        made += std::min(2, image.rows - 2 * static_cast<int>(pair));
    }
}

}  // namespace pelmora
