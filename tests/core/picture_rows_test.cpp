// Counting a decoded picture row by row, converting only the rows that may hold a change,
// against converting it whole: the scaler's spreads that the shortcut's bound stands on, and
// the counts, which must be those of the whole chain.

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <string>

#include "ChangeBound.h"
#include "ChangeCounter.h"
#include "PictureConverter.h"
#include "PictureRows.h"

namespace {

using pelmora::Frame;
using pelmora::Picture;

Picture newPicture(AVPixelFormat format, int width, int height) {
    Picture picture;
    picture.frame.reset(av_frame_alloc());
    picture.frame->format = format;
    picture.frame->width = width;
    picture.frame->height = height;
    EXPECT_EQ(av_frame_get_buffer(picture.frame.get(), 32), 0);
    picture.codedWidth = width;
    picture.codedHeight = height;
    return picture;
}

bool halfHeightColour(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

uint8_t& at(const Picture& picture, int plane, int x, int y) {
    return picture.frame->data[plane][y * picture.frame->linesize[plane] + x];
}

struct Format {
    const char* name;
    AVPixelFormat format;
    const pelmora::ChangeBound& bound;
};

const Format kFormats[] = {
    {"video420", AV_PIX_FMT_YUV420P, pelmora::kVideoRangeBound},
    {"full420", AV_PIX_FMT_YUVJ420P, pelmora::kFullRangeBound},
    {"video422", AV_PIX_FMT_YUV422P, pelmora::kVideoRangeBound},
    {"full422", AV_PIX_FMT_YUVJ422P, pelmora::kFullRangeBound},
};

// Every Y, U and V through the scaler, in one picture of 4096 x 4096 pixels: the largest and
// the smallest error against the linear value, for each channel, must lie within its spread.
TEST(PictureRows, TheScalersErrorsStayWithinTheSpreadsOfTheBound) {
    constexpr int kWidth = 4096;
    for (const Format& format : kFormats) {
        const bool half = halfHeightColour(format.format);
        const int lumaPerSample = half ? 4 : 2;
        const int height = 4096;
        const Picture picture = newPicture(format.format, kWidth, height);
        long long sample = 0;
        for (int cy = 0; cy < (half ? height / 2 : height); ++cy) {
            for (int cx = 0; cx < kWidth / 2; ++cx, ++sample) {
                const long long colours = sample % 65536;
                const int firstLuma = static_cast<int>(sample / 65536 * lumaPerSample % 256);
                at(picture, 1, cx, cy) = static_cast<uint8_t>(colours & 0xFF);
                at(picture, 2, cx, cy) = static_cast<uint8_t>(colours >> 8);
                for (int k = 0; k < lumaPerSample; ++k) {
                    at(picture, 0, 2 * cx + k % 2, half ? 2 * cy + k / 2 : cy) =
                        static_cast<uint8_t>(firstLuma + k);
                }
            }
        }
        ASSERT_EQ(sample * lumaPerSample, 256LL * 256 * 256) << format.name;
        pelmora::PictureConverter converter;
        cv::Mat image;
        ASSERT_TRUE(converter.convert(picture, image));
        const pelmora::ChangeBound& b = format.bound;
        const double lumaOffset = &b == &pelmora::kFullRangeBound ? 0.0 : 16.0;
        double low[3] = {0, 0, 0};
        double high[3] = {0, 0, 0};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const double luma = b.luma * (at(picture, 0, x, y) - lumaOffset);
                const double u = at(picture, 1, x / 2, half ? y / 2 : y) - 128.0;
                const double v = at(picture, 2, x / 2, half ? y / 2 : y) - 128.0;
                const double linear[3] = {luma + b.blueU * u, luma - b.greenU * u - b.greenV * v,
                                          luma + b.redV * v};
                for (int channel = 0; channel < 3; ++channel) {
                    const double error = image.at<cv::Vec3b>(y, x)[channel] -
                                         std::clamp(linear[channel], 0.0, 255.0);
                    low[channel] = std::min(low[channel], error);
                    high[channel] = std::max(high[channel], error);
                }
            }
        }
        EXPECT_LE(high[0] - low[0], b.blueSpread) << format.name;
        EXPECT_LE(high[1] - low[1], b.greenSpread) << format.name;
        EXPECT_LE(high[2] - low[2], b.redSpread) << format.name;
    }
}

// The count of the whole chain: both pictures converted whole, then absdiff, threshold, erode
// and the busiest channel's sum.
long long wholeChain(const cv::Mat& frame, const cv::Mat& reference, int threshold) {
    cv::Mat mask;
    cv::absdiff(frame, reference, mask);
    cv::threshold(mask, mask, threshold, 255.0, cv::THRESH_BINARY);
    cv::erode(mask, mask, cv::Mat());
    const cv::Scalar sums = cv::sum(mask) / 255.0;
    return static_cast<long long>(std::max({sums[0], sums[1], sums[2]}));
}

// A random picture, and one like it: the samples of each plane moved by up to its noise, and a
// few patches of any value.
void randomPair(cv::RNG& rng, Picture& before, Picture& now, const cv::Vec3i& noises, int patches) {
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane == 0 ? before.frame->width : before.frame->width / 2;
        const int height =
            plane == 0 || !halfHeightColour(static_cast<AVPixelFormat>(before.frame->format))
                ? before.frame->height
                : before.frame->height / 2;
        const int noise = noises[plane];
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int value = rng.uniform(0, 256);
                at(before, plane, x, y) = static_cast<uint8_t>(value);
                at(now, plane, x, y) =
                    cv::saturate_cast<uint8_t>(value + rng.uniform(-noise, noise + 1));
            }
        }
        for (int patch = 0; patch < patches; ++patch) {
            const int x0 = rng.uniform(0, width);
            const int y0 = rng.uniform(0, height);
            for (int y = y0; y < std::min(height, y0 + 4); ++y) {
                for (int x = x0; x < std::min(width, x0 + 6); ++x) {
                    at(now, plane, x, y) = static_cast<uint8_t>(rng.uniform(0, 256));
                }
            }
        }
    }
}

TEST(PictureRows, CountsWhatTheWholeChainCounts) {
    struct Case {
        const char* name;
        cv::Size size;
        cv::Vec3i noise;  // in Y, U and V
        int patches;
    };
    // Changes of one component alone come closest to the bound.
    const Case cases[] = {
        {"still", {96, 48}, {2, 2, 2}, 0},
        {"stillWide", {700, 10}, {3, 3, 3}, 0},
        {"noisy", {64, 48}, {12, 12, 12}, 0},
        {"lumaOnly", {64, 48}, {40, 0, 0}, 0},
        {"uOnly", {64, 48}, {0, 25, 0}, 0},
        {"vOnly", {64, 48}, {0, 0, 30}, 0},
        {"patches", {64, 48}, {2, 2, 2}, 3},
        {"oddWidth", {34, 18}, {4, 4, 4}, 2},
        {"busy", {64, 48}, {60, 60, 60}, 8},
        // Every pixel at an edge, where outside pixels never erode.
        {"onePixelWide", {1, 6}, {40, 40, 40}, 0},
        {"twoByTwo", {2, 2}, {60, 60, 60}, 1},
    };
    cv::RNG rng(18);
    long long rowsMade = 0;
    long long rowsInStillCases = 0;
    for (const Format& format : kFormats) {
        for (const Case& each : cases) {
            for (const int threshold : {0, 1, 7, 12, 20, 33, 60, 254}) {
                for (int round = 0; round < 3; ++round) {
                    const std::string name = std::string(format.name) + "/" + each.name + "/" +
                                             std::to_string(threshold);
                    // The coded size a little wider than the visible one, as decoders give it.
                    Picture before =
                        newPicture(format.format, each.size.width + 2, each.size.height);
                    Picture now = newPicture(format.format, each.size.width + 2, each.size.height);
                    randomPair(rng, before, now, each.noise, each.patches);
                    pelmora::PictureConverter converter;
                    converter.setStream(each.size, 0);
                    cv::Mat reference;
                    cv::Mat whole;
                    ASSERT_TRUE(converter.convert(before, reference)) << name;
                    ASSERT_TRUE(converter.convert(now, whole)) << name;
                    ASSERT_TRUE(converter.convertsRows(now)) << name;
                    cv::Mat image;
                    converter.fitImage(now, image);
                    image.setTo(cv::Scalar::all(77));  // rows left unmade must not matter
                    pelmora::PictureRows rows(converter, now, *before.frame, image, threshold);
                    pelmora::ChangeCounter counter;
                    EXPECT_EQ(
                        counter.count(image, reference, threshold, cv::Mat(), &rows).busiest(),
                        wholeChain(whole, reference, threshold))
                        << name;
                    if (std::max({each.noise[0], each.noise[1], each.noise[2]}) <= 3 &&
                        each.patches == 0 && threshold >= 20) {
                        rowsMade += rows.rowsMade();
                        rowsInStillCases += image.rows;
                    }
                }
            }
        }
    }
    // The shortcut is taken: in still pictures, few rows are converted.
    EXPECT_LT(rowsMade * 10, rowsInStillCases);
}

// Every sample of one component, or of all, moved by exactly the same amount up or down: the
// changes that come closest to the bound. A row ruled out must hold no pixel that survives the
// erosion in any channel, whatever the threshold; and for some rows ruled out, the smallest
// change around one of their pixels comes within a step of the threshold, so the bound is not
// slack.
TEST(PictureRows, ARowRuledOutHoldsNoSurvivor) {
    cv::RNG rng(7);
    int tightRows = 0;
    for (const Format& format : kFormats) {
        for (int component = 0; component < 4; ++component) {
            for (int step = 1; step <= 40; ++step) {
                Picture before = newPicture(format.format, 64, 4);
                Picture now = newPicture(format.format, 64, 4);
                const bool half = halfHeightColour(format.format);
                for (int plane = 0; plane < 3; ++plane) {
                    const bool moves = component == 3 || component == plane;
                    for (int y = 0; y < (plane > 0 && half ? 2 : 4); ++y) {
                        for (int x = 0; x < (plane > 0 ? 32 : 64); ++x) {
                            const int value = rng.uniform(0, 256);
                            const int moved = value + (rng.uniform(0, 2) == 0 ? step : -step);
                            at(before, plane, x, y) = static_cast<uint8_t>(value);
                            at(now, plane, x, y) =
                                cv::saturate_cast<uint8_t>(moves ? moved : value);
                        }
                    }
                }
                pelmora::PictureConverter converter;
                cv::Mat reference;
                cv::Mat whole;
                ASSERT_TRUE(converter.convert(before, reference));
                ASSERT_TRUE(converter.convert(now, whole));
                ASSERT_TRUE(converter.convertsRows(now));
                // The smallest change around each pixel, channel by channel; outside pixels
                // never erode.
                cv::Mat smallest;
                cv::absdiff(whole, reference, smallest);
                cv::erode(smallest, smallest, cv::Mat());
                cv::Mat image;
                converter.fitImage(now, image);
                for (int threshold = 0; threshold <= 80; ++threshold) {
                    pelmora::PictureRows rows(converter, now, *before.frame, image, threshold);
                    for (int y = 0; y < 4; ++y) {
                        if (rows.maySurvive(y)) {
                            continue;
                        }
                        const double largest = cv::norm(smallest.row(y), cv::NORM_INF);
                        ASSERT_LE(largest, threshold) << format.name << " component " << component
                                                      << " step " << step << " row " << y;
                        tightRows += largest + 1 >= threshold;
                    }
                }
            }
        }
    }
    EXPECT_GT(tightRows, 0);
}

TEST(PictureRows, OnlyPlanarEightBitPicturesOfEvenHeightAreConvertedByRows) {
    struct Case {
        const char* name;
        AVPixelFormat format;
        cv::Size size;
        int rotation;
        bool byRows;
    };
    const Case cases[] = {
        {"video420", AV_PIX_FMT_YUV420P, {34, 18}, 0, true},
        {"full422", AV_PIX_FMT_YUVJ422P, {33, 18}, 0, true},
        {"oddHeight", AV_PIX_FMT_YUV420P, {34, 17}, 0, false},
        {"rotated", AV_PIX_FMT_YUV420P, {34, 18}, 90, false},
        {"planar444", AV_PIX_FMT_YUV444P, {34, 18}, 0, false},
        {"tenBit", AV_PIX_FMT_YUV420P10LE, {34, 18}, 0, false},
        {"grey", AV_PIX_FMT_GRAY8, {34, 18}, 0, false},
    };
    for (const Case& each : cases) {
        const Picture picture = newPicture(each.format, each.size.width, each.size.height);
        av_frame_make_writable(picture.frame.get());
        pelmora::PictureConverter converter;
        converter.setStream(each.size, each.rotation);
        EXPECT_EQ(converter.convertsRows(picture), each.byRows) << each.name;
    }
}

// A decoder that meets a larger picture size says so before it has given out the last pictures
// of the smaller one, which then come with the larger coded size: neither a first conversion nor
// a row pair may read or write by it.
TEST(PictureRows, APictureWithAnotherPicturesCodedSizeIsConvertedWithinItsOwn) {
    const Picture own = newPicture(AV_PIX_FMT_YUV420P, 32, 24);
    av_frame_make_writable(own.frame.get());
    cv::RNG rng(5);
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? 24 : 12;
        cv::Mat bytes(rows, own.frame->linesize[plane], CV_8UC1, own.frame->data[plane]);
        rng.fill(bytes, cv::RNG::UNIFORM, 0, 256);
    }
    Picture stale;
    stale.frame.reset(av_frame_clone(own.frame.get()));
    stale.codedWidth = 128;
    stale.codedHeight = 96;

    pelmora::PictureConverter converter;
    converter.setStream({32, 24}, 0);
    cv::Mat whole;
    ASSERT_TRUE(converter.convert(own, whole));
    ASSERT_TRUE(converter.convertsRows(own));
    cv::Mat byPairs;
    converter.fitImage(stale, byPairs);
    constexpr uchar kUntouched = 0x5A;
    std::fill(const_cast<uchar*>(byPairs.datastart), const_cast<uchar*>(byPairs.dataend),
              kUntouched);
    for (int pair = 0; pair < 12; ++pair) {
        converter.convertRowPair(stale, pair, byPairs);
    }
    EXPECT_EQ(cv::norm(whole, byPairs, cv::NORM_INF), 0.0);
    const uchar* past = byPairs.ptr(byPairs.rows - 1) + byPairs.step[0];
    EXPECT_TRUE(std::all_of(past, byPairs.dataend, [](uchar byte) { return byte == kUntouched; }))
        << "written "
        << std::count_if(past, byPairs.dataend, [](uchar byte) { return byte != kUntouched; })
        << " bytes past the image";

    pelmora::PictureConverter first;
    first.setStream({32, 24}, 0);
    cv::Mat firstImage;
    ASSERT_TRUE(first.convert(stale, firstImage));
    EXPECT_EQ(cv::norm(whole, firstImage, cv::NORM_INF), 0.0);
}

}  // namespace
