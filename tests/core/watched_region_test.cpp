// Which pixels a mask watches. Masks are read with FFmpeg's picture decoders: the same watched
// pixels as the imaging library's own reader gives, in every format a user is likely to draw one
// in.

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "TestSupport.h"
#include "WatchedRegion.h"

namespace {

// Grey levels on both sides of the boundary between watched and not, in bands, with colour
// that only its grey value may decide.
cv::Mat boundaryPicture(bool colour) {
    cv::Mat picture(24, 40, CV_8UC3);
    const int levels[] = {0, 126, 127, 128, 129, 255};
    for (int y = 0; y < picture.rows; ++y) {
        for (int x = 0; x < picture.cols; ++x) {
            const int level = levels[(x / 7 + y / 5) % 6];
            picture.at<cv::Vec3b>(y, x) =
                colour ? cv::Vec3b(static_cast<uchar>(level), static_cast<uchar>(255 - level / 2),
                                   static_cast<uchar>(level / 3))
                       : cv::Vec3b::all(static_cast<uchar>(level));
        }
    }
    if (!colour) {
        cv::cvtColor(picture, picture, cv::COLOR_BGR2GRAY);
    }
    return picture;
}

TEST(WatchedRegion, ReadsTheSamePixelsAsTheImagingLibrarysReader) {
    testsupport::TempDir tmp;
    const struct {
        const char* file;
        bool colour;
    } rows[] = {{"grey.png", false},  {"colour.png", true}, {"grey.bmp", false},
                {"colour.bmp", true}, {"grey.tiff", false}, {"colour.tiff", true},
                {"grey.pgm", false},  {"grey.jpg", false},  {"colour.jpg", true}};
    for (const auto& row : rows) {
        const std::string path = tmp.file(row.file);
        ASSERT_TRUE(cv::imwrite(path, boundaryPicture(row.colour))) << row.file;
        pelmora::WatchedRegion read;
        ASSERT_EQ(pelmora::WatchedRegion::load(path, read), "") << row.file;
        pelmora::WatchedRegion expected =
            pelmora::WatchedRegion::fromImage(cv::imread(path, cv::IMREAD_GRAYSCALE), path);
        // At the picture's own size and at one that does not divide it evenly.
        for (const cv::Size size : {cv::Size(40, 24), cv::Size(97, 55)}) {
            EXPECT_EQ(cv::norm(read.forFrames(size), expected.forFrames(size), cv::NORM_INF), 0.0)
                << row.file << " at " << size;
        }
    }
}

TEST(WatchedRegion, LightGreysAreWatchedFrom128AndDarkOnesAreNot) {
    for (const int type : {CV_8UC1, CV_8UC3}) {
        for (const int grey : {127, 128}) {
            pelmora::WatchedRegion region =
                pelmora::WatchedRegion::fromImage(cv::Mat(1, 1, type, cv::Scalar::all(grey)));
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
    pelmora::WatchedRegion region = pelmora::WatchedRegion::fromImage(picture);
    cv::Mat watched;
    cv::extractChannel(region.forFrames({64, 48}), watched, 0);
    // Columns 22 to 42 and rows 20 to 28 are nearest to the middle pixel, and only they.
    EXPECT_EQ(cv::countNonZero(watched == 255), 21 * 9);
    EXPECT_EQ(cv::boundingRect(watched), cv::Rect(22, 20, 21, 9));
    EXPECT_EQ(cv::countNonZero(watched), 21 * 9);
}

}  // namespace
