// Masks are read with FFmpeg's picture decoders: the same watched pixels as the imaging
// library's own reader gives, in every format a user is likely to draw one in.

#include <gtest/gtest.h>

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
        std::string error;
        ASSERT_TRUE(pelmora::WatchedRegion::load(path, read, error)) << row.file << ": " << error;
        pelmora::WatchedRegion expected =
            pelmora::WatchedRegion::fromImage(cv::imread(path, cv::IMREAD_GRAYSCALE), path);
        // At the picture's own size and at one that does not divide it evenly.
        for (const cv::Size size : {cv::Size(40, 24), cv::Size(97, 55)}) {
            EXPECT_EQ(cv::norm(read.forFrames(size), expected.forFrames(size), cv::NORM_INF), 0.0)
                << row.file << " at " << size;
        }
    }
}

}  // namespace
