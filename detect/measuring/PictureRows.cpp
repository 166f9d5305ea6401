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
constexpr std::uint8_t kMarked = 0xFF;
#if CV_SIMD
constexpr int kVectorBytes = cv::v_uint8::nlanes;
#else
constexpr int kVectorBytes = 16;
#endif

// Rounded up, so that the bound in 64ths is never below the real one. The largest bound,
// 255 times the two largest coefficients and a spread, stays well inside 16 bits.
constexpr std::uint16_t inUnits(double value) {
    const auto whole = static_cast<std::uint16_t>(value * kUnit);
    return whole < value * kUnit ? static_cast<std::uint16_t>(whole + 1) : whole;
}

}  // namespace

PictureRows::PictureRows(PictureConverter& converter, const Picture& picture,
                         const AVFrame& reference, cv::Mat& image, int threshold,
                         std::vector<bool>* madePairs)
    : converter(converter),
      picture(picture),
      reference(reference),
      image(image),
      halfHeightColour(picture.frame->format == AV_PIX_FMT_YUV420P ||
                       picture.frame->format == AV_PIX_FMT_YUVJ420P),
      limit(static_cast<std::uint16_t>(std::clamp(threshold, 0, 254) * kUnit)),
      // Room for a vector's worth past a row's last pixel, and a byte before its first.
      stride(static_cast<std::size_t>(image.cols) + 2 * kVectorBytes),
      marks((kCachedRows + 1) * stride, 0),
      changes(stride, 0),
      ownPairs(madePairs != nullptr ? 0 : static_cast<std::size_t>(image.rows + 1) / 2, false),
      pairMade(madePairs != nullptr ? *madePairs : ownPairs) {
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
    coarse = coarseSteps();
    // Outside pixels never erode their neighbours.
    std::uint8_t* outsideBytes = &marks[kCachedRows * stride];
    std::fill(outsideBytes, outsideBytes + stride, kMarked);
    outside = {-1, true, outsideBytes};
}

PictureRows::CoarseSteps PictureRows::coarseSteps() const {
    // The bound grows with each difference, so samples no further apart than these are within
    // the threshold whatever they are. Noise moves Y, U and V alike, about as far each, so the
    // steps are taken as even as the bound allows.
    CoarseSteps steps;
    for (int colourSteps = 0; colourSteps < 255; ++colourSteps) {
        const int room = limit - colourBound(colourSteps, colourSteps);
        if (room < 0) {
            break;
        }
        const int lumaSteps = std::min(room / luma, 255);
        if (steps.usable &&
            std::min(lumaSteps, colourSteps) <= std::min<int>(steps.luma, steps.colour)) {
            continue;
        }
        steps = {true, static_cast<std::uint8_t>(lumaSteps),
                 static_cast<std::uint8_t>(colourSteps)};
    }
    return steps;
}

int PictureRows::colourBound(int du, int dv) const {
    return std::max(
        {blueU * du + blueSpread, greenU * du + greenV * dv + greenSpread, redV * dv + redSpread});
}

bool PictureRows::maySurvive(int y) {
    // Every row of a band of three has the band's middle row in its neighbourhood (or, for a
    // band that the image cuts short, its last row), so that row rules out the whole band
    // before the rows around it are looked at.
    const int top = y - y % 3;
    if (!marksOf(std::min(top + 1, image.rows - 1)).any) {
        return false;
    }
    // Three rows apart by one take three slots of the cache, none of them evicting another.
    const Marks& above = marksOf(y - 1);
    if (!above.any) {
        return false;
    }
    const Marks& here = marksOf(y);
    if (!here.any) {
        return false;
    }
    const Marks& below = marksOf(y + 1);
    if (!below.any) {
        return false;
    }
    const int width = image.cols;
    int x = 0;
#if CV_SIMD
    for (; x + kVectorBytes <= width; x += kVectorBytes) {
        const cv::v_uint8 all = cv::vx_load(above.bytes + x) & cv::vx_load(here.bytes + x) &
                                cv::vx_load(below.bytes + x);
        if (cv::v_check_any(all != cv::vx_setzero_u8())) {
            return true;
        }
    }
#endif
    for (; x < width; ++x) {
        if ((above.bytes[x] & here.bytes[x] & below.bytes[x]) != 0) {
            return true;
        }
    }
    return false;
}

const PictureRows::Marks& PictureRows::marksOf(int y) {
    if (y < 0 || y >= image.rows) {
        return outside;
    }
    const auto slotIndex = static_cast<std::size_t>(y % kCachedRows);
    Marks& slot = cached[slotIndex];
    if (slot.row == y) {
        return slot;
    }
    std::uint8_t* changed = &changes[kVectorBytes];
    const int width = image.cols;
    changed[-1] = kMarked;
    markChanges(y, changed);
    changed[width] = kMarked;
    std::uint8_t* out = &marks[slotIndex * stride];
    bool any = false;
    int x = 0;
#if CV_SIMD
    cv::v_uint8 anyMarked = cv::vx_setzero_u8();
    for (; x + kVectorBytes <= width; x += kVectorBytes) {
        const cv::v_uint8 across =
            cv::vx_load(changed + x - 1) & cv::vx_load(changed + x) & cv::vx_load(changed + x + 1);
        cv::v_store(out + x, across);
        anyMarked |= across;
    }
    any = cv::v_check_any(anyMarked != cv::vx_setzero_u8());
#endif
    for (; x < width; ++x) {
        out[x] = changed[x - 1] & changed[x] & changed[x + 1];
        any = any || out[x] != 0;
    }
    slot = {y, any, out};
    return slot;
}

void PictureRows::markChanges(int y, std::uint8_t* changed) const {
    const AVFrame& frame = *picture.frame;
    const int colourRow = halfHeightColour ? y / 2 : y;
    const uchar* lumaNow = frame.data[0] + y * frame.linesize[0];
    const uchar* lumaBefore = reference.data[0] + y * reference.linesize[0];
    const uchar* uNow = frame.data[1] + colourRow * frame.linesize[1];
    const uchar* uBefore = reference.data[1] + colourRow * reference.linesize[1];
    const uchar* vNow = frame.data[2] + colourRow * frame.linesize[2];
    const uchar* vBefore = reference.data[2] + colourRow * reference.linesize[2];
    // Each colour sample covers two pixels of the row. The coded planes are at least a sample
    // wide past an odd width, and changed has room for the pixel past it.
    const int samples = (image.cols + 1) / 2;
    int i = 0;
#if CV_SIMD
    // A vector of luma bytes a step, and the colour samples of its pixels, widened, each
    // standing for both its pixels.
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
    const auto exactly = [&](int at) __attribute__((always_inline)) {
        const cv::v_uint16 du =
            cv::v_absdiff(cv::vx_load_expand(uNow + at), cv::vx_load_expand(uBefore + at));
        const cv::v_uint16 dv =
            cv::v_absdiff(cv::vx_load_expand(vNow + at), cv::vx_load_expand(vBefore + at));
        // Nothing overflows 16 bits, so the plain products do, where the saturating ones would
        // widen to 32 bits and back.
        const cv::v_uint16 blue = cv::v_mul_wrap(blueUBy, du) + blueSpreads;
        const cv::v_uint16 green =
            cv::v_mul_wrap(greenUBy, du) + cv::v_mul_wrap(greenVBy, dv) + greenSpreads;
        const cv::v_uint16 red = cv::v_mul_wrap(redVBy, dv) + redSpreads;
        const cv::v_uint16 colour = cv::v_max(cv::v_max(blue, green), red);
        cv::v_uint16 colourLeft;
        cv::v_uint16 colourRight;
        cv::v_zip(colour, colour, colourLeft, colourRight);
        cv::v_uint16 dyLeft;
        cv::v_uint16 dyRight;
        cv::v_expand(cv::v_absdiff(cv::vx_load(lumaNow + 2 * at), cv::vx_load(lumaBefore + 2 * at)),
                     dyLeft, dyRight);
        const cv::v_uint16 left = cv::v_mul_wrap(lumaBy, dyLeft) + colourLeft > limits;
        const cv::v_uint16 right = cv::v_mul_wrap(lumaBy, dyRight) + colourRight > limits;
        cv::v_store(changed + 2 * at, cv::v_pack(left, right));
    };
    // Most of a still picture is within a few steps of its reference in every component, and
    // telling so takes bytes alone: twice as many samples a step, a quarter of the work. Where
    // any sample is further, its stretch is worked out exactly.
    if (coarse.usable) {
        const int wide = cv::v_uint8::nlanes;
        const cv::v_uint8 lumaSteps = cv::vx_setall_u8(coarse.luma);
        const cv::v_uint8 colourSteps = cv::vx_setall_u8(coarse.colour);
        const cv::v_uint8 zero = cv::vx_setzero_u8();
        for (; i + wide <= samples; i += wide) {
            const uchar* lumaAt = lumaNow + 2 * i;
            const uchar* lumaWas = lumaBefore + 2 * i;
            const cv::v_uint8 beyond =
                ((cv::v_absdiff(cv::vx_load(lumaAt), cv::vx_load(lumaWas)) - lumaSteps) |
                 (cv::v_absdiff(cv::vx_load(lumaAt + wide), cv::vx_load(lumaWas + wide)) -
                  lumaSteps)) |
                ((cv::v_absdiff(cv::vx_load(uNow + i), cv::vx_load(uBefore + i)) - colourSteps) |
                 (cv::v_absdiff(cv::vx_load(vNow + i), cv::vx_load(vBefore + i)) - colourSteps));
            if (cv::v_check_any(beyond != zero)) {
                exactly(i);
                exactly(i + lanes);
            } else {
                cv::v_store(changed + 2 * i, zero);
                cv::v_store(changed + 2 * i + wide, zero);
            }
        }
    }
    for (; i + lanes <= samples; i += lanes) {
        exactly(i);
    }
#endif
    const auto apart = [](uchar a, uchar b) { return a > b ? a - b : b - a; };
    for (; i < samples; ++i) {
        const int du = apart(uNow[i], uBefore[i]);
        const int dv = apart(vNow[i], vBefore[i]);
        const int colour = colourBound(du, dv);
        for (int x = 2 * i; x < 2 * i + 2; ++x) {
            changed[x] = luma * apart(lumaNow[x], lumaBefore[x]) + colour > limit ? kMarked : 0;
        }
    }
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
