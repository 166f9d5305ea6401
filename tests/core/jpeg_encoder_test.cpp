#include <gtest/gtest.h>

#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "JpegDecoder.h"
#include "JpegEncoder.h"
#include "TestSupport.h"

namespace {

std::vector<uchar> fileBytes(const std::string& path) {
    const std::string bytes = testsupport::fileBytes(path);
    return {bytes.begin(), bytes.end()};
}

cv::Mat textured(int width, int height, int seed) {
    cv::Mat image(height, width, CV_8UC3);
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(image, image, cv::Size(3, 3), 0);
    return image;
}

struct ImageRow {
    const char* name;
    cv::Mat image;
};

// One encoder for every row, the largest image first: a buffer kept from a larger image must
// not change a smaller one's bytes.
TEST(JpegEncoder, WritesTheSameBytesAsTheImagingLibrary) {
    const cv::Mat wide = textured(120, 40, 5);
    const ImageRow rows[] = {
        {"640 x 480", textured(640, 480, 1)},
        {"1 x 1", textured(1, 1, 2)},
        {"one row", textured(37, 1, 3)},
        {"one column", textured(1, 37, 4)},
        {"odd sizes, neither a multiple of 16", textured(33, 17, 6)},
        {"part of a wider image", wide(cv::Rect(7, 3, 50, 30))},
        {"flat colour", cv::Mat(24, 40, CV_8UC3, cv::Scalar(10, 200, 90))},
    };
    testsupport::TempDir tmp;
    pelmora::JpegEncoder encoder;
    std::vector<uchar> encoded;
    for (const ImageRow& row : rows) {
        const std::string path = tmp.file("expected.jpg");
        ASSERT_TRUE(cv::imwrite(path, row.image)) << row.name;
        const std::string reason = encoder.encode(row.image, encoded);
        ASSERT_EQ(reason, "") << row.name;
        EXPECT_EQ(encoded, fileBytes(path)) << row.name;
    }
}

TEST(JpegEncoder, RefusesAnImageTooWideForJpegAndEncodesTheNextOne) {
    pelmora::JpegEncoder encoder;
    std::vector<uchar> encoded;
    const std::string reason =
        encoder.encode(cv::Mat(2, 65501, CV_8UC3, cv::Scalar::all(0)), encoded);
    EXPECT_NE(reason, "");
    EXPECT_NE(reason.find("65500"), std::string::npos) << reason;
    EXPECT_TRUE(encoded.empty());

    const cv::Mat image = textured(16, 16, 7);
    ASSERT_EQ(encoder.encode(image, encoded), "");
    cv::Mat decoded = cv::imdecode(encoded, cv::IMREAD_COLOR);
    EXPECT_EQ(decoded.size(), image.size());
}

TEST(JpegDecoder, ReadsColourShrunkToTheLeastFactorThatKeepsTheWidthAsked) {
    struct Row {
        const char* name;
        int width, minWidth, readWidth;
    };
    const Row rows[] = {
        {"a quarter", 640, 160, 160},
        {"an eighth at most", 1920, 160, 240},
        {"whole when half is too narrow", 300, 160, 300},
        {"whole when nothing is asked", 640, 0, 640},
    };
    testsupport::TempDir tmp;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Blue on the left, red on the right: the channels must come in the frames' order.
        cv::Mat image(row.width / 4 * 3, row.width, CV_8UC3, cv::Scalar(230, 20, 20));
        image.colRange(row.width / 2, row.width).setTo(cv::Scalar(20, 20, 230));
        ASSERT_TRUE(cv::imwrite(tmp.file("picture.jpg"), image));
        cv::Mat read;
        ASSERT_EQ(pelmora::readJpegColour(tmp.file("picture.jpg"), row.minWidth, read), "");
        EXPECT_EQ(read.size(), cv::Size(row.readWidth, row.readWidth / 4 * 3));
        EXPECT_LT(
            cv::norm(read.at<cv::Vec3b>(read.rows / 2, read.cols / 4), cv::Vec3b(230, 20, 20)),
            20.0);
        EXPECT_LT(
            cv::norm(read.at<cv::Vec3b>(read.rows / 2, read.cols * 3 / 4), cv::Vec3b(20, 20, 230)),
            20.0);
    }
}

}  // namespace
