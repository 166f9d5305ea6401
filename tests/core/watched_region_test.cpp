#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "WatchedRegion.h"

namespace {

using pelmora::WatchedRegion;

TEST(WatchedRegion, LightGreysAreWatchedFrom128AndDarkOnesAreNot) {
    const struct {
        const char* name;
        cv::Mat picture;
        bool watched;
    } rows[] = {
        {"black", cv::Mat(1, 1, CV_8UC1, cv::Scalar(0)), false},
        {"the darkest light grey but one", cv::Mat(1, 1, CV_8UC1, cv::Scalar(127)), false},
        {"the darkest light grey", cv::Mat(1, 1, CV_8UC1, cv::Scalar(128)), true},
        {"white", cv::Mat(1, 1, CV_8UC1, cv::Scalar(255)), true},
        {"grey 127 in colour", cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(127)), false},
        {"grey 128 in colour", cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(128)), true},
        {"grey 128 with a transparency", cv::Mat(1, 1, CV_8UC4, cv::Scalar(128, 128, 128, 0)),
         true},
    };
    for (const auto& row : rows) {
        WatchedRegion region = WatchedRegion::fromImage(row.picture);
        const cv::Mat& frames = region.forFrames({1, 1});
        EXPECT_EQ(frames.at<cv::Vec3b>(0, 0), cv::Vec3b::all(row.watched ? 255 : 0)) << row.name;
    }
}

TEST(WatchedRegion, APictureScaledByNoWholeFactorKeepsItsNearestPixels) {
    // 3 x 5, white only in the middle: scaled to 64 x 48 by 21.3 across and 9.6 down.
    cv::Mat picture(5, 3, CV_8UC1, cv::Scalar(0));
    picture.at<uchar>(2, 1) = 255;
    WatchedRegion region = WatchedRegion::fromImage(picture, "mask.png");
    const cv::Mat& frames = region.forFrames({64, 48});
    ASSERT_EQ(frames.size(), cv::Size(64, 48));
    ASSERT_EQ(frames.type(), CV_8UC3);
    cv::Mat watched;
    cv::extractChannel(frames, watched, 0);
    // Columns 22 to 42 and rows 20 to 28 are nearest to the middle pixel, and only they.
    EXPECT_EQ(cv::countNonZero(watched), 21 * 9);
    EXPECT_EQ(cv::boundingRect(watched), cv::Rect(22, 20, 21, 9));
    EXPECT_EQ(cv::countNonZero((watched != 0) & (watched != 255)), 0);
    EXPECT_EQ(region.size(), cv::Size(3, 5));
}

}  // namespace
