// The digest as pelmora-scan makes it: what a user sees of it, beside what the core's own tests
// show of its frames.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>

#include "ScanProcess.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using clitest::runScan;
using clitest::ScanResult;
using testsupport::TempDir;

bool made(const std::string& command) {
    return std::system(("ffmpeg -nostdin -v error -y " + command).c_str()) == 0;
}

TEST(DigestScan, SavedLinkedAndMadeAgainByResumeOrSaidWhyNot) {
    TempDir dir;
    const std::string video = dir.file("yard.mp4");
    ASSERT_TRUE(
        made("-f lavfi -i color=c=gray:s=320x240:r=25:d=12 -vf "
             "\"drawbox=enable='between(t,6,7)':x=100:y=80:w=60:h=60:c=red:t=fill\" "
             "-c:v libx264 -pix_fmt yuv420p '" +
             video + "'"));
    const std::string out = dir.file("out");
    const std::vector<std::string> arguments = {"--digest", "--report", "--resume",
                                                "-o",       out,        video};
    ScanResult result = runScan(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string digest = out + "/digest.mp4";
    EXPECT_NE(result.err.find("[" + digest + "]"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::exists(digest));
    EXPECT_NE(testsupport::fileBytes(out + "/report.html").find("href=\"digest.mp4\""),
              std::string::npos);

    // A digest gone since is made again; nothing else is.
    fs::remove(digest);
    result = runScan(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fs::exists(digest)) << result.err;

    const std::string still = dir.file("still.mp4");
    ASSERT_TRUE(made("-f lavfi -i color=c=gray:s=320x240:r=25:d=2 -c:v libx264 '" + still + "'"));
    result = runScan({"--digest", "-o", dir.file("still"), still});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("No digest of " + still + ": it has no event to show"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(dir.file("still") + "/digest.mp4"));
}

// The -o folder of one video is its snapshot folder and the overview's too: each digest keeps
// its own name, its own page links it, and --resume finds the video's still there.
TEST(DigestScan, OneVideosOwnDigestAndItsDaysLiveSideBySide) {
    TempDir dir;
    const std::string video = dir.file("20240501_080000.mp4");
    ASSERT_TRUE(
        made("-f lavfi -i color=c=gray:s=320x240:r=25:d=4 -vf "
             "\"drawbox=enable='between(t,2,3)':x=100:y=80:w=60:h=60:c=red:t=fill\" "
             "-c:v libx264 -pix_fmt yuv420p '" +
             video + "'"));
    const std::string out = dir.file("out");
    const std::vector<std::string> arguments = {"-q",       "--digest", "--overview", "--resume",
                                                "--report", "-o",       out,          video};
    ScanResult result = runScan(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto size = [](const std::string& path) {
        std::error_code error;
        return fs::file_size(path, error);
    };
    const std::uintmax_t own = size(out + "/digest.mp4");
    EXPECT_GT(own, 0U);
    EXPECT_GT(size(out + "/day-digest.mp4"), 0U);
    EXPECT_NE(testsupport::fileBytes(out + "/report.html").find("href=\"digest.mp4\""),
              std::string::npos);
    EXPECT_NE(testsupport::fileBytes(out + "/overview.html").find("href=\"day-digest.mp4\""),
              std::string::npos);
    fs::remove(out + "/digest.mp4");
    result = runScan(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(size(out + "/digest.mp4"), own);
}

// What a day's digest shows, frame by frame: 'c' a card, 'b' and 'r' the blue and the red
// square of the two cameras, '.' a picture without either.
std::string shownInOrder(const std::string& path) {
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    std::string shown;
    cv::Mat frame;
    while (capture.read(frame)) {
        // Away from the corner text and the card's lines.
        const cv::Scalar middle = cv::mean(frame(
            cv::Rect(frame.cols * 15 / 32, frame.rows * 25 / 36, frame.cols / 16, frame.rows / 9)));
        const cv::Mat inside = frame(cv::Rect(0, 100, frame.cols, frame.rows - 100));
        cv::Mat blue;
        cv::Mat red;
        cv::inRange(inside, cv::Scalar(200, 0, 0), cv::Scalar(255, 80, 80), blue);
        cv::inRange(inside, cv::Scalar(0, 0, 200), cv::Scalar(80, 80, 255), red);
        shown += cv::countNonZero(blue) > 1000  ? 'b'
                 : cv::countNonZero(red) > 1000 ? 'r'
                 : middle[1] < 20               ? 'c'
                                                : '.';
    }
    return shown;
}

TEST(DigestScan, ADayOfTwoCamerasInClockOrderWithACardBeforeEach) {
    TempDir dir;
    fs::create_directories(dir.file("export/cam1"));
    fs::create_directories(dir.file("export/cam2"));
    // cam2's square, a second into a video that starts at 08:00:03, comes before cam1's, six
    // seconds into one that starts at 08:00:00; they differ in size too.
    ASSERT_TRUE(
        made("-f lavfi -i color=c=gray:s=640x360:r=25:d=12 -vf "
             "\"drawbox=enable='between(t,6,7)':x=100:y=80:w=200:h=200:c=red:t=fill\" "
             "-c:v libx264 -pix_fmt yuv420p '" +
             dir.file("export/cam1/20240501_080000.mp4") + "'"));
    ASSERT_TRUE(
        made("-f lavfi -i color=c=gray:s=320x240:r=25:d=12 -vf "
             "\"drawbox=enable='between(t,1,2)':x=100:y=80:w=100:h=100:c=blue:t=fill\" "
             "-c:v libx264 -pix_fmt yuv420p '" +
             dir.file("export/cam2/20240501_080003.mp4") + "'"));
    const std::string day = dir.file("day");
    ScanResult result =
        runScan({"-q", "--time-zone", "UTC", "--overview", "-o", day, dir.file("export")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    result = runScan({"--overview-from", day, "--digest", "--after", "0.4", "--time-zone", "UTC"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "[" + day + "/day-digest.mp4]\n[" + day + "/overview.html]\n");
    EXPECT_NE(testsupport::fileBytes(day + "/overview.html").find("href=\"day-digest.mp4\""),
              std::string::npos);

    // Each event's stretch from 2 s before it to 0.4 s after, at 25 frames per second, behind
    // half a second of card: cam2's from its start (1 s before), cam1's from 4 s, each to
    // 0.4 s after the snapshot of the square going.
    const std::string expected =
        std::string(13, 'c') + std::string(25, '.') + std::string(26, 'b') + std::string(11, '.') +
        std::string(13, 'c') + std::string(50, '.') + std::string(26, 'r') + std::string(11, '.');
    EXPECT_EQ(shownInOrder(day + "/day-digest.mp4"), expected);
    // The largest camera's size, not 720p: a smaller day costs no more than it shows.
    cv::VideoCapture capture(day + "/day-digest.mp4", cv::CAP_FFMPEG);
    EXPECT_EQ(capture.get(cv::CAP_PROP_FRAME_WIDTH), 640);
    EXPECT_EQ(capture.get(cv::CAP_PROP_FRAME_HEIGHT), 360);
}

}  // namespace
