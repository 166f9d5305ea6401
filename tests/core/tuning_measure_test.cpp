// The measure of the tuning view against a run's detector that met the reference as a snapshot.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "FrameDetector.h"
#include "TestSupport.h"
#include "TuningMeasure.h"

namespace {

using testsupport::solidFrame;
using testsupport::withRect;

TEST(TuningMeasure, DecidesAsARunWhoseLastSnapshotWasTheReference) {
    const cv::Mat black = solidFrame({64, 48}, cv::Scalar::all(0));
    // The reference's 12 x 12 square goes (10 x 10 survive erosion) and a 16 x 16 one comes
    // (14 x 14), in the frame's right half.
    const cv::Mat reference = withRect(black, {8, 8, 12, 12}, cv::Scalar::all(255));
    const cv::Mat frame = withRect(black, {40, 20, 16, 16}, cv::Scalar::all(255));
    const pelmora::WatchedRegion leftHalf =
        pelmora::WatchedRegion::fromImage(withRect(black, {0, 0, 32, 48}, cv::Scalar::all(255)));
    struct Row {
        const char* name;
        pelmora::WatchedRegion region;
        int minPixels;
        int changedPixels;
        bool triggers;
    };
    const Row rows[] = {
        {"trigger one below the count", {}, 295, 296, true},
        {"trigger at the count", {}, 296, 296, false},
        {"the region leaves the square that went", leftHalf, 99, 100, true},
    };
    for (const Row& row : rows) {
        pelmora::FrameDetector detector;
        cv::Mat first = reference.clone();
        ASSERT_TRUE(detector.triggers(detector.measure(first, 20))) << row.name;
        detector.takeAsReference(first);
        detector.setRules(row.minPixels, row.region);
        const int runCount = detector.measure(frame, 20);

        const pelmora::TuningMeasure measured =
            pelmora::measureChange(frame, reference, 20, row.minPixels, row.region);
        EXPECT_EQ(measured.changedPixels, runCount) << row.name;
        EXPECT_EQ(measured.changedPixels, row.changedPixels) << row.name;
        EXPECT_EQ(measured.triggers, detector.triggers(runCount)) << row.name;
        EXPECT_EQ(measured.triggers, row.triggers) << row.name;
        // Grey squares change every channel alike.
        cv::Mat green;
        cv::extractChannel(measured.mask, green, 1);
        EXPECT_EQ(cv::countNonZero(green), row.changedPixels) << row.name;
    }
}

}  // namespace
