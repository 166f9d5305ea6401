#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "ChangeCounter.h"

namespace {

using pelmora::ChangeCounter;
using pelmora::ChannelCounts;

const int kThresholds[] = {0, 1, 20, 50, 254, 255};

// The library's own chain, which the counter must match exactly; a watched region is and-ed
// with the eroded mask before the sum.
std::vector<long long> chainCounts(const cv::Mat& frame, const cv::Mat& reference, int threshold,
                                   const cv::Mat& watched = cv::Mat()) {
    cv::Mat mask;
    cv::absdiff(frame, reference, mask);
    cv::threshold(mask, mask, threshold, 255.0, cv::THRESH_BINARY);
    cv::erode(mask, mask, cv::Mat());
    if (!watched.empty()) {
        cv::bitwise_and(mask, watched, mask);
    }
    const cv::Scalar sums = cv::sum(mask);
    return {static_cast<long long>(sums[0] / 255), static_cast<long long>(sums[1] / 255),
            static_cast<long long>(sums[2] / 255)};
}

std::vector<long long> counterCounts(ChangeCounter& counter, const cv::Mat& frame,
                                     const cv::Mat& reference, int threshold,
                                     const cv::Mat& watched = cv::Mat()) {
    const ChannelCounts counts = counter.count(frame, reference, threshold, watched);
    return {counts.channel[0], counts.channel[1], counts.channel[2]};
}

// Channel differences 200, 60 and 255 against black, so that each threshold of the table
// keeps a different set of channels.
const cv::Scalar kShape(200, 60, 255);

cv::Mat black(int width, int height) {
    return cv::Mat(height, width, CV_8UC3, cv::Scalar::all(0));
}

cv::Mat with(cv::Mat image, const std::vector<cv::Rect>& rects) {
    for (const cv::Rect& rect : rects) {
        cv::rectangle(image, rect, kShape, cv::FILLED);
    }
    return image;
}

cv::Mat streak(int width, int height, int thickness) {
    cv::Mat image = black(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = y; x < std::min(width, y + thickness); ++x) {
            image.at<cv::Vec3b>(y, x) = cv::Vec3b(200, 60, 255);
        }
    }
    return image;
}

struct ShapeRow {
    const char* name;
    cv::Mat frame;  // compared with black of its size
};

TEST(ChangeCounter, MatchesTheLibraryChainOnShapes) {
    cv::Mat disc = black(20, 20);
    cv::circle(disc, {10, 10}, 3, kShape, cv::FILLED);
    const ShapeRow rows[] = {
        {"1 x 1 changed", with(black(1, 1), {{0, 0, 1, 1}})},
        {"one row", with(black(37, 1), {{3, 0, 20, 1}})},
        {"one column", with(black(1, 37), {{0, 3, 1, 20}})},
        {"2 x 2 changed", with(black(2, 2), {{0, 0, 2, 2}})},
        {"3 x 3 with one pixel", with(black(3, 3), {{1, 1, 1, 1}})},
        {"3 x 3 changed", with(black(3, 3), {{0, 0, 3, 3}})},
        {"odd width, one block and a tail", with(black(17, 9), {{0, 0, 17, 9}})},
        {"odd width past two blocks", with(black(53, 7), {{1, 1, 50, 5}})},
        {"line one pixel wide", with(black(40, 30), {{5, 10, 30, 1}})},
        {"line two pixels wide", with(black(40, 30), {{5, 10, 30, 2}})},
        {"line three pixels wide", with(black(40, 30), {{5, 10, 30, 3}})},
        {"column three pixels wide", with(black(40, 30), {{10, 2, 3, 25}})},
        {"5 x 5 square", with(black(40, 30), {{5, 5, 5, 5}})},
        {"6 x 6 square", with(black(40, 30), {{5, 5, 6, 6}})},
        {"disc of radius 3", disc},
        {"diagonal streak three pixels wide", streak(30, 30, 3)},
        {"diagonal streak four pixels wide", streak(30, 30, 4)},
        {"touching the left and top edges", with(black(33, 21), {{0, 0, 4, 4}})},
        {"touching the right and bottom edges", with(black(33, 21), {{29, 17, 4, 4}})},
        // The last band of three rows is whole, or one or two rows short.
        {"5 x 5 square on the bottom edge, height 21", with(black(12, 21), {{2, 16, 5, 5}})},
        {"5 x 5 square on the bottom edge, height 22", with(black(12, 22), {{2, 17, 5, 5}})},
        {"5 x 5 square on the bottom edge, height 23", with(black(12, 23), {{2, 18, 5, 5}})},
        {"touching every corner",
         with(black(33, 21), {{0, 0, 2, 2}, {31, 0, 2, 2}, {0, 19, 2, 2}, {31, 19, 2, 2}})},
        {"touching each edge with a line",
         with(black(33, 21), {{0, 8, 2, 5}, {31, 8, 2, 5}, {12, 0, 5, 2}, {12, 19, 5, 2}})},
        {"everything changed", with(black(50, 40), {{0, 0, 50, 40}})},
    };
    ChangeCounter counter;
    for (const ShapeRow& row : rows) {
        const cv::Mat reference = black(row.frame.cols, row.frame.rows);
        for (const int threshold : kThresholds) {
            EXPECT_EQ(counterCounts(counter, row.frame, reference, threshold),
                      chainCounts(row.frame, reference, threshold))
                << row.name << ", threshold " << threshold;
        }
    }
}

TEST(ChangeCounter, KnowsWhatSurvivesADiscAndAStreak) {
    ChangeCounter counter;
    cv::Mat disc = black(20, 20);
    cv::circle(disc, {10, 10}, 3, kShape, cv::FILLED);
    // The 3 x 3 square erodes a disc of radius 3 to its middle 3 x 3, where a cross would
    // leave more, and a diagonal streak three pixels wide to nothing.
    EXPECT_EQ(counter.count(disc, black(20, 20), 20).busiest(), 9);
    EXPECT_EQ(counter.count(streak(30, 30, 3), black(30, 30), 20).busiest(), 0);
}

// A watched region of the given size, every byte 0 or 255: all, nothing, rectangles, or a
// pixel-by-pixel (or, rarely, byte-by-byte) scatter, as the case number picks.
cv::Mat randomWatched(cv::RNG& rng, cv::Size size, int kind) {
    cv::Mat watched(size, CV_8UC3, cv::Scalar::all(kind == 0 ? 255 : 0));
    if (kind == 2) {
        for (int rect = rng.uniform(1, 4); rect > 0; --rect) {
            const cv::Point corner(rng.uniform(-3, size.width), rng.uniform(-3, size.height));
            cv::rectangle(watched,
                          cv::Rect(corner, cv::Size(rng.uniform(1, 30), rng.uniform(1, 20))),
                          cv::Scalar::all(255), cv::FILLED);
        }
    } else if (kind >= 3) {
        cv::Mat scatter(size, kind == 3 ? CV_8UC1 : CV_8UC3);
        rng.fill(scatter, cv::RNG::UNIFORM, 0, 2);
        scatter *= 255;
        if (kind == 3) {
            cv::cvtColor(scatter, watched, cv::COLOR_GRAY2BGR);
        } else {
            watched = scatter;
        }
    }
    return watched;
}

// Random images of random sizes, from 1 x 1 up, with blobs and noise on a random reference,
// counted over the whole frame and over a random watched region.
TEST(ChangeCounter, MatchesTheLibraryChainOnRandomImages) {
    cv::RNG rng(20240607);
    ChangeCounter counter;
    // Besides the smallest: rows of whole blocks of 64 bytes with nothing after them, and with
    // a few bytes after them.
    const cv::Size fixedSizes[] = {{1, 1}, {1, 5},  {5, 1},  {2, 2},
                                   {3, 3}, {64, 4}, {22, 3}, {17, 3}};
    for (int i = 0; i < 400; ++i) {
        const cv::Size size =
            i < 8 ? fixedSizes[i] : cv::Size(rng.uniform(1, 150), rng.uniform(1, 40));
        cv::Mat reference(size, CV_8UC3);
        rng.fill(reference, cv::RNG::UNIFORM, 0, 256);
        cv::Mat frame = reference.clone();
        for (int blob = rng.uniform(0, 6); blob > 0; --blob) {
            const cv::Point corner(rng.uniform(-3, size.width), rng.uniform(-3, size.height));
            const cv::Size extent(rng.uniform(1, 12), rng.uniform(1, 12));
            cv::rectangle(frame, cv::Rect(corner, extent),
                          cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256)),
                          cv::FILLED);
        }
        // A third of the cases without noise: only the blobs change, and most rows do not.
        cv::Mat noise(size, CV_8UC3);
        rng.fill(noise, cv::RNG::UNIFORM, 0, i % 3 == 0 ? 1 : rng.uniform(1, 40));
        cv::add(frame, noise, frame);
        const int threshold = i % 2 == 0 ? kThresholds[i / 2 % 6] : rng.uniform(-1, 256);
        ASSERT_EQ(counterCounts(counter, frame, reference, threshold),
                  chainCounts(frame, reference, threshold))
            << "case " << i << ", " << size << ", threshold " << threshold;
        const int kind = i % 9 == 8 ? 4 : i % 4;
        const cv::Mat watched = randomWatched(rng, size, kind);
        ASSERT_EQ(counterCounts(counter, frame, reference, threshold, watched),
                  chainCounts(frame, reference, threshold, watched))
            << "case " << i << ", " << size << ", threshold " << threshold << ", watched kind "
            << kind;
    }
}

// One histogram answers for every threshold of its range as the chain would, each on its own:
// random images, lowest thresholds from 0 to 254, spans that reach past what any byte can
// change, and watched regions of every kind.
TEST(ChangeCounter, HistogramCountsEveryThresholdOfItsRangeAsTheLibraryChain) {
    cv::RNG rng(20260611);
    ChangeCounter counter;
    pelmora::ChangeHistogram histogram;
    for (int i = 0; i < 120; ++i) {
        const cv::Size size(rng.uniform(1, 140), rng.uniform(1, 30));
        cv::Mat reference(size, CV_8UC3);
        rng.fill(reference, cv::RNG::UNIFORM, 0, 256);
        cv::Mat frame = reference.clone();
        cv::Mat noise(size, CV_8UC3);
        rng.fill(noise, cv::RNG::UNIFORM, 0, rng.uniform(1, 80));
        cv::add(frame, noise, frame);
        cv::rectangle(frame,
                      cv::Rect(rng.uniform(0, size.width), rng.uniform(0, size.height), 9, 7),
                      cv::Scalar::all(rng.uniform(0, 256)), cv::FILLED);
        const int lowest = i == 0 ? 254 : i % 3 == 0 ? 0 : rng.uniform(0, 60);
        const int span = i % 5 == 0 ? 0 : rng.uniform(1, 60);
        const cv::Mat watched = randomWatched(rng, size, i % 5);
        histogram.reset(lowest, span);
        counter.histogram(frame, reference, histogram, watched);
        for (int threshold = lowest; threshold <= lowest + span; ++threshold) {
            const ChannelCounts counts = histogram.countsAt(threshold);
            ASSERT_EQ(
                (std::vector<long long>{counts.channel[0], counts.channel[1], counts.channel[2]}),
                chainCounts(frame, reference, threshold, watched))
                << "case " << i << ", " << size << ", threshold " << threshold << " of " << lowest
                << " to " << lowest + span;
            ASSERT_EQ(histogram.busiestAt(threshold), counts.busiest());
        }
    }
}

}  // namespace
