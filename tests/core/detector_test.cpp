#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "FrameDetector.h"
#include "TestSupport.h"

namespace {

using pelmora::FrameDetector;
using pelmora::FrameOutcome;
using pelmora::FrameTime;
using pelmora::LogKind;
using pelmora::VideoJob;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

const cv::Size kSize(64, 48);
const cv::Scalar kBlack(0, 0, 0);
const cv::Scalar kWhite(255, 255, 255);

class RecordingLog : public pelmora::RunLog {
public:
    void write(LogKind kind, const std::string& line) override {
        kinds.push_back(kind);
        lines.push_back(line);
    }
    std::vector<LogKind> kinds;
    std::vector<std::string> lines;
};

// One detector with its own snapshot folder and a log that keeps every line.
struct Detection {
    explicit Detection(std::string destination = std::string())
        : dir(destination.empty() ? tmp.path() : std::move(destination)) {}

    // Runs one frame through the detector at 25 frames per second.
    FrameOutcome step(const cv::Mat& frame, int threshold = 20, long long index = 0) {
        cv::Mat copy = frame.clone();
        return detector.processFrame(copy, threshold, FrameTime::fromRate(index, 25.0), job, log);
    }
    std::vector<std::string> files() const { return testsupport::listDir(dir); }

    TempDir tmp;
    std::string dir;
    VideoJob job{"clip.avi", dir};
    RecordingLog log;
    FrameDetector detector;
};

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
    const char* status;
    FrameOutcome outcome;
};

TEST(Detector, CountsWhatSurvivesThresholdAndErosion) {
    const cv::Mat black = solidFrame(kSize, kBlack);
    const cv::Rect square20(20, 10, 20, 20);
    const ChangeRow rows[] = {
        {"difference equal to the threshold counts nothing",
         withRect(black, square20, cv::Scalar::all(20)), 20, "00000.000     0  20",
         FrameOutcome::NoMotion},
        {"one above the threshold counts", withRect(black, square20, cv::Scalar::all(21)), 20,
         "00000.000   324  20", FrameOutcome::SnapshotSaved},
        {"threshold 0, difference 1", withRect(black, square20, cv::Scalar::all(1)), 0,
         "00000.000   324   0", FrameOutcome::SnapshotSaved},
        {"threshold 50, difference 50", withRect(black, square20, cv::Scalar::all(50)), 50,
         "00000.000     0  50", FrameOutcome::NoMotion},
        {"5 x 5 square leaves 9", withRect(black, {20, 10, 5, 5}, kWhite), 20,
         "00000.000     9  20", FrameOutcome::NoMotion},
        {"6 x 6 square leaves 16", withRect(black, {20, 10, 6, 6}, kWhite), 20,
         "00000.000    16  20", FrameOutcome::SnapshotSaved},
        {"line one pixel wide vanishes", withRect(black, {5, 20, 50, 1}, kWhite), 20,
         "00000.000     0  20", FrameOutcome::NoMotion},
        {"line two pixels wide vanishes", withRect(black, {5, 20, 50, 2}, kWhite), 20,
         "00000.000     0  20", FrameOutcome::NoMotion},
        {"exactly ten pixels take no snapshot", withRect(black, {20, 10, 12, 3}, kWhite), 20,
         "00000.000    10  20", FrameOutcome::NoMotion},
        {"eleven pixels take one", withRect(black, {20, 10, 13, 3}, kWhite), 20,
         "00000.000    11  20", FrameOutcome::SnapshotSaved},
        {"the busiest channel alone decides", withRect(black, {20, 10, 6, 6}, {0, 0, 200}), 20,
         "00000.000    16  20", FrameOutcome::SnapshotSaved},
        {"a dark first frame is not motion", solidFrame(kSize, cv::Scalar::all(10)), 20,
         "00000.000     0  20", FrameOutcome::NoMotion},
        {"a disc of radius 3 leaves its middle 3 x 3", disc(black, 3), 20, "00000.000     9  20",
         FrameOutcome::NoMotion},
        {"a diagonal streak three pixels wide vanishes", diagonalStreak(black, 3), 20,
         "00000.000     0  20", FrameOutcome::NoMotion},
    };
    for (const ChangeRow& row : rows) {
        Detection d;
        EXPECT_EQ(d.step(row.frame, row.threshold), row.outcome) << row.name;
        EXPECT_EQ(d.detector.lastStatusLine(), row.status) << row.name;
        const bool saved = row.outcome == FrameOutcome::SnapshotSaved;
        EXPECT_EQ(d.files(),
                  saved ? std::vector<std::string>{"IMG00000000.jpg"} : std::vector<std::string>{})
            << row.name;
        EXPECT_EQ(d.log.lines, saved ? std::vector<std::string>{"[" + d.dir + "/IMG00000000.jpg]\n"}
                                     : std::vector<std::string>{})
            << row.name;
    }
}

TEST(Detector, ReferenceMovesOnlyWithASnapshotSoSlowChangeBuildsUp) {
    Detection d;
    cv::Mat frame = solidFrame(kSize, kBlack);
    // Each 4 x 4 block leaves 4 pixels; only the third pushes the total past 10.
    const FrameOutcome expected[] = {FrameOutcome::NoMotion, FrameOutcome::NoMotion,
                                     FrameOutcome::SnapshotSaved, FrameOutcome::NoMotion};
    for (int i = 0; i < 4; ++i) {
        frame = withRect(frame, {4 + 12 * i, 10, 4, 4}, kWhite);
        EXPECT_EQ(d.step(frame, 20, i), expected[i]) << "frame " << i;
    }
    EXPECT_EQ(d.files(), std::vector<std::string>{"IMG00000080.jpg"});
}

TEST(Detector, SavesTheYellowStatusLineButKeepsTheReferenceClean) {
    Detection d;
    const cv::Mat frame =
        withRect(solidFrame(cv::Size(240, 60), kBlack), {100, 35, 20, 20}, kWhite);
    ASSERT_EQ(d.step(frame, 20, 50), FrameOutcome::SnapshotSaved);

    const cv::Mat saved = cv::imread(d.dir + "/IMG00002000.jpg");
    ASSERT_FALSE(saved.empty());
    const cv::Rect textArea(20, 8, 180, 13);
    int yellow = 0;
    for (int y = textArea.y; y < textArea.br().y; ++y) {
        for (int x = textArea.x; x < textArea.br().x; ++x) {
            const cv::Vec3b p = saved.at<cv::Vec3b>(y, x);
            // Chroma subsampling softens thin strokes: bright, and clearly more red and green than
            // blue.
            yellow += p[1] > 80 && p[2] > 80 && p[0] + 40 < std::min(p[1], p[2]);
        }
    }
    EXPECT_GT(yellow, 150);
    EXPECT_EQ(cv::countNonZero(d.detector.reference()(textArea).reshape(1)), 0);
    EXPECT_EQ(cv::norm(d.detector.reference(), frame, cv::NORM_INF), 0.0);

    // The mask, which only a detailed run makes and shows, carries the line in cyan.
    d.detector.drawMask(frame, 20);
    int cyan = 0;
    for (int y = textArea.y; y < textArea.br().y; ++y) {
        for (int x = textArea.x; x < textArea.br().x; ++x) {
            cyan += d.detector.mask().at<cv::Vec3b>(y, x) == cv::Vec3b(255, 255, 0);
        }
    }
    EXPECT_GT(cyan, 50);
}

TEST(Detector, ReportsASnapshotThatCannotBeWrittenAndStillMovesTheReference) {
    TempDir tmp;
    const std::string missing = tmp.file("missing");
    Detection d(missing);
    const cv::Mat frame = withRect(solidFrame(kSize, kBlack), {20, 10, 10, 10}, kWhite);
    EXPECT_EQ(d.step(frame, 20, 1), FrameOutcome::SnapshotLost);
    EXPECT_EQ(d.log.lines,
              std::vector<std::string>{"Failed to save " + missing +
                                       "/IMG00000040.jpg: No such file or directory\n"});
    EXPECT_EQ(d.log.kinds, std::vector<LogKind>{LogKind::Failure});
    EXPECT_EQ(d.detector.tally().lost, 1);
    EXPECT_EQ(d.detector.tally().written, 0);
    EXPECT_EQ(cv::norm(d.detector.reference(), frame, cv::NORM_INF), 0.0);
    // Against the moved reference the same frame is no longer motion.
    EXPECT_EQ(d.step(frame, 20, 2), FrameOutcome::NoMotion);
}

TEST(Detector, StartsAgainFromBlackWhenTheFrameSizeChanges) {
    Detection d;
    const cv::Mat large = solidFrame(kSize, kWhite);
    const cv::Mat small = solidFrame(cv::Size(32, 24), kWhite);
    EXPECT_EQ(d.step(large, 20, 0), FrameOutcome::SnapshotSaved);
    EXPECT_EQ(d.step(small, 20, 1), FrameOutcome::SnapshotSaved);
    EXPECT_EQ(d.detector.reference().size(), cv::Size(32, 24));
    EXPECT_EQ(d.step(small, 20, 2), FrameOutcome::NoMotion);
}

TEST(Detector, NamesSnapshotsFarIntoALongVideo) {
    Detection d;
    const cv::Mat a = withRect(solidFrame(kSize, kBlack), {5, 5, 20, 20}, kWhite);
    const cv::Mat b = withRect(solidFrame(kSize, kBlack), {35, 20, 20, 20}, kWhite);
    // Against the last snapshot, each of these is motion again.
    EXPECT_EQ(d.step(a, 20, 25000), FrameOutcome::SnapshotSaved);
    EXPECT_EQ(d.step(b, 20, 25001), FrameOutcome::SnapshotSaved);
    EXPECT_EQ(d.step(a, 20, 3000000), FrameOutcome::SnapshotSaved);
    EXPECT_EQ(d.files(),
              (std::vector<std::string>{"IMG01000000.jpg", "IMG01000040.jpg", "IMG120000000.jpg"}));
    EXPECT_EQ(d.detector.tally().written, 3);
}

TEST(Detector, HandlesADestinationOfAnyLength) {
    TempDir tmp;
    std::string dir = tmp.path();
    while (dir.size() < 2500) {
        dir += "/a-rather-long-folder-name-for-footage";
    }
    std::filesystem::create_directories(dir);
    Detection d(dir);
    EXPECT_EQ(d.step(solidFrame(kSize, kWhite)), FrameOutcome::SnapshotSaved);
    EXPECT_EQ(d.detector.lastSnapshotPath(), dir + "/IMG00000000.jpg");
    EXPECT_EQ(d.files(), std::vector<std::string>{"IMG00000000.jpg"});
}

}  // namespace
