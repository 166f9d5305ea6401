#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "FrameDetector.h"
#include "TestSupport.h"

namespace {

using pelmora::FrameDetector;
using testsupport::solidFrame;
using testsupport::withRect;

const cv::Size kSize(64, 48);
const cv::Scalar kBlack(0, 0, 0);
const cv::Scalar kWhite(255, 255, 255);

// One frame as the frame loop takes it: measured, and the new reference when it triggers.
// Returns whether it did.
bool step(FrameDetector& detector, const cv::Mat& frame, int threshold = 20) {
    const bool triggered = detector.triggers(detector.measure(frame, threshold));
    if (triggered) {
        cv::Mat copy = frame.clone();
        detector.takeAsReference(copy);
    }
    return triggered;
}

cv::Mat disc(const cv::Mat& base, int radius) {
    cv::Mat copy = base.clone();
    cv::circle(copy, {30, 24}, radius, kWhite, cv::FILLED);
    return copy;
}

// Each row changes `width` pixels, one further right than the row above.
cv::Mat diagonalStreak(const cv::Mat& base, int width) {
    cv::Mat copy = base.clone();
    for (int y = 5; y < 40; ++y) {
        copy(cv::Rect(y, y, width, 1)).setTo(kWhite);
    }
    return copy;
}

struct ChangeRow {
    const char* name;
    cv::Mat frame;  // compared with black
    int threshold;
    int changedPixels;
    bool triggers;
};

TEST(Detector, CountsWhatSurvivesThresholdAndErosion) {
    const cv::Mat black = solidFrame(kSize, kBlack);
    const cv::Rect square20(20, 10, 20, 20);
    const ChangeRow rows[] = {
        {"difference equal to the threshold counts nothing",
         withRect(black, square20, cv::Scalar::all(20)), 20, 0, false},
        {"one above the threshold counts", withRect(black, square20, cv::Scalar::all(21)), 20, 324,
         true},
        {"threshold 0, difference 1", withRect(black, square20, cv::Scalar::all(1)), 0, 324, true},
        {"threshold 50, difference 50", withRect(black, square20, cv::Scalar::all(50)), 50, 0,
         false},
        {"5 x 5 square leaves 9", withRect(black, {20, 10, 5, 5}, kWhite), 20, 9, false},
        {"6 x 6 square leaves 16", withRect(black, {20, 10, 6, 6}, kWhite), 20, 16, true},
        {"line one pixel wide vanishes", withRect(black, {5, 20, 50, 1}, kWhite), 20, 0, false},
        {"line two pixels wide vanishes", withRect(black, {5, 20, 50, 2}, kWhite), 20, 0, false},
        {"exactly ten pixels take no snapshot", withRect(black, {20, 10, 12, 3}, kWhite), 20, 10,
         false},
        {"eleven pixels take one", withRect(black, {20, 10, 13, 3}, kWhite), 20, 11, true},
        {"the busiest channel alone decides", withRect(black, {20, 10, 6, 6}, {0, 0, 200}), 20, 16,
         true},
        {"a dark first frame is not motion", solidFrame(kSize, cv::Scalar::all(10)), 20, 0, false},
        {"a disc of radius 3 leaves its middle 3 x 3", disc(black, 3), 20, 9, false},
        {"a diagonal streak three pixels wide vanishes", diagonalStreak(black, 3), 20, 0, false},
    };
    for (const ChangeRow& row : rows) {
        FrameDetector detector;
        const int changed = detector.measure(row.frame, row.threshold);
        EXPECT_EQ(changed, row.changedPixels) << row.name;
        EXPECT_EQ(detector.triggers(changed), row.triggers) << row.name;
        EXPECT_TRUE(detector.measuredAgainstBlack()) << row.name;
        // The mask a view shows holds exactly what was counted, in every channel of a grey
        // change.
        if (row.frame.at<cv::Vec3b>(10, 20)[0] == row.frame.at<cv::Vec3b>(10, 20)[2]) {
            cv::Mat channel;
            cv::extractChannel(detector.changeMask(row.frame, row.threshold), channel, 1);
            EXPECT_EQ(cv::countNonZero(channel), row.changedPixels) << row.name;
        }
    }
}

TEST(Detector, ReferenceMovesOnlyWithASnapshotSoSlowChangeBuildsUp) {
    FrameDetector detector;
    cv::Mat frame = solidFrame(kSize, kBlack);
    // Each 4 x 4 block leaves 4 pixels; only the third pushes the total past 10.
    const bool expected[] = {false, false, true, false};
    for (int i = 0; i < 4; ++i) {
        frame = withRect(frame, {4 + 12 * i, 10, 4, 4}, kWhite);
        EXPECT_EQ(step(detector, frame), expected[i]) << "frame " << i;
        EXPECT_EQ(detector.measuredAgainstBlack(), i == 0) << "frame " << i;
    }
    EXPECT_EQ(cv::norm(detector.reference(),
                       withRect(withRect(withRect(solidFrame(kSize, kBlack), {4, 10, 4, 4}, kWhite),
                                         {16, 10, 4, 4}, kWhite),
                                {28, 10, 4, 4}, kWhite),
                       cv::NORM_INF),
              0.0);
}

TEST(Detector, StartsAgainFromBlackWhenTheFrameSizeChanges) {
    FrameDetector detector;
    const cv::Mat large = solidFrame(kSize, kWhite);
    const cv::Mat small = solidFrame(cv::Size(32, 24), kWhite);
    EXPECT_TRUE(step(detector, large));
    EXPECT_TRUE(step(detector, small));
    EXPECT_TRUE(detector.measuredAgainstBlack());
    EXPECT_EQ(detector.reference().size(), cv::Size(32, 24));
    EXPECT_FALSE(step(detector, small));
}

}  // namespace
