#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "WatchedRegion.h"

namespace {

using pelmora::WatchedRegion;

TEST(WatchedRegion, LightGreysAreWatchedFrom128AndDarkOnesAreNot) {
    for (const int type : {CV_8UC1, CV_8UC3}) {
        for (const int grey : {127, 128}) {
            WatchedRegion region =
                WatchedRegion::fromImage(cv::Mat(1, 1, type, cv::Scalar::all(grey)));
            EXPECT_EQ(region.forFrames({1, 1}).at<cv::Vec3b>(0, 0),
                      cv::Vec3b::all(grey >= 128 ? 255 : 0))
                << grey << " in " << (type == CV_8UC1 ? "grey" : "colour");
        }
    }
}

TEST(WatchedRegion, APictureScaledByNoWholeFactorKeepsItsNearestPixels) {
    // 3 x 5, white only in the middle: scaled to 64 x 48 by 21.3 across and 9.6 down.
    cv::Mat picture(5, 3, CV_8UC1, cv::Scalar(0));
    picture.at<uchar>(2, 1) = 255;
    WatchedRegion region = WatchedRegion::fromImage(picture);
    cv::Mat watched;
    cv::extractChannel(region.forFrames({64, 48}), watched, 0);
    // Columns 22 to 42 and rows 20 to 28 are nearest to the middle pixel, and only they.
    EXPECT_EQ(cv::countNonZero(watched == 255), 21 * 9);
    EXPECT_EQ(cv::boundingRect(watched), cv::Rect(22, 20, 21, 9));
    EXPECT_EQ(cv::countNonZero(watched), 21 * 9);
}

}  // namespace
