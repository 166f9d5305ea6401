#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "DetectionRun.h"
#include "TestSupport.h"

namespace {

using pelmora::FrameDetector;
using pelmora::RunReport;
using pelmora::RunRequest;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

const cv::Size kSize(64, 48);

// Records progress; stops after the frame numbered stopAfter (counting from 0). Its lines go
// to the standard error stream, as the window's do.
class RecordingHost : public pelmora::RunHost {
public:
    explicit RecordingHost(int stopAfter = -1) : stopAfter(stopAfter) {}
    void progress(int percent) override { percents.push_back(percent); }
    bool stopAfterFrame() override { return frames++ == stopAfter; }

    int stopAfter;
    int frames = 0;
    std::vector<int> percents;
};

// Black, a white square, then black again: three snapshots against black.
std::vector<cv::Mat> blinkingSquare() {
    const cv::Mat black = solidFrame(kSize, cv::Scalar::all(0));
    return {black + cv::Scalar::all(100), withRect(black, {20, 10, 12, 12}, cv::Scalar::all(255)),
            black + cv::Scalar::all(100)};
}

std::string savedLines(const std::string& dir, const std::vector<std::string>& names) {
    std::string lines;
    for (const std::string& name : names) {
        lines += "[" + dir + "/" + name + "]\n";
    }
    return lines;
}

TEST(DetectionRun, RunsAVideoIntoItsDerivedDirectory) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    FrameDetector detector;
    RecordingHost host;
    testsupport::StderrCapture err;
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("garden.avi"), "", 20, false}, host);
    const std::string dir = tmp.file("garden");
    const std::vector<std::string> names = {"IMG00000000.jpg", "IMG00000040.jpg",
                                            "IMG00000080.jpg"};
    EXPECT_EQ(err.finish(), savedLines(dir, names));
    EXPECT_EQ(report.status, RunReport::Status::Finished);
    EXPECT_EQ(report.outputDir, dir);
    EXPECT_EQ(report.framesRead, 3);
    EXPECT_EQ(report.snapshotsWritten, 3);
    EXPECT_EQ(report.snapshotsLost, 0);
    EXPECT_EQ(host.percents, (std::vector<int>{33, 66, 100, 100}));
    EXPECT_EQ(testsupport::listDir(dir), names);
}

TEST(DetectionRun, ASecondRunStartsFromTheReferenceTheFirstLeft) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    FrameDetector detector;
    RecordingHost first;
    testsupport::StderrCapture err;
    pelmora::runDetection(detector, {tmp.file("garden.avi"), tmp.path(), 20, false}, first);
    err.finish();
    TempDir again;
    RecordingHost second;
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("garden.avi"), again.path(), 20, false}, second);
    // The first frame equals the last snapshot of the first run, so it is no motion.
    EXPECT_EQ(testsupport::listDir(again.path()),
              (std::vector<std::string>{"IMG00000040.jpg", "IMG00000080.jpg"}));
    EXPECT_EQ(report.snapshotsWritten, 2);
}

TEST(DetectionRun, ReportsAVideoThatDoesNotOpenAndCreatesNothing) {
    TempDir tmp;
    const std::string video = tmp.file("missing.avi");
    FrameDetector detector;
    RecordingHost host;
    testsupport::StderrCapture err;
    const RunReport report = pelmora::runDetection(detector, {video, "", 20, false}, host);
    EXPECT_EQ(err.finish(), "Failed to open " + video + "\n");
    EXPECT_EQ(report.status, RunReport::Status::OpenFailed);
    EXPECT_TRUE(host.percents.empty());
    EXPECT_TRUE(testsupport::listDir(tmp.path()).empty());
}

TEST(DetectionRun, StopsAfterTheFrameInWhichTheHostAsked) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    FrameDetector detector;
    RecordingHost host(1);
    testsupport::StderrCapture err;
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("garden.avi"), tmp.path(), 20, false}, host);
    err.finish();
    EXPECT_EQ(report.status, RunReport::Status::Stopped);
    EXPECT_EQ(report.framesRead, 2);
    // The stopping frame keeps its snapshot but gets no progress of its own.
    EXPECT_EQ(host.percents, (std::vector<int>{33, 100}));
    EXPECT_EQ(testsupport::listDir(tmp.path()),
              (std::vector<std::string>{"IMG00000000.jpg", "IMG00000040.jpg", "garden.avi"}));
}

TEST(DetectionRun, CountsTheSnapshotsItCouldNotWrite) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    const std::string missing = tmp.file("missing");
    FrameDetector detector;
    RecordingHost host;
    testsupport::StderrCapture err;
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("garden.avi"), missing, 20, false}, host);
    EXPECT_EQ(err.finish(), "Failed to save " + missing + "/IMG00000000.jpg\n" + "Failed to save " +
                                missing + "/IMG00000040.jpg\n" + "Failed to save " + missing +
                                "/IMG00000080.jpg\n");
    EXPECT_EQ(report.snapshotsWritten, 0);
    EXPECT_EQ(report.snapshotsLost, 3);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(DetectionRun, NamesFramesOfAFractionalRate) {
    TempDir tmp;
    const cv::Mat black = solidFrame(kSize, cv::Scalar::all(0));
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(withRect(black, {4 + 10 * i, 10, 8, 8}, cv::Scalar::all(255)));
    }
    testsupport::writeVideo(tmp.file("clip.avi"), frames, 30000.0 / 1001.0);
    FrameDetector detector;
    RecordingHost host;
    testsupport::StderrCapture err;
    pelmora::runDetection(detector, {tmp.file("clip.avi"), "", 20, false}, host);
    err.finish();
    EXPECT_EQ(testsupport::listDir(tmp.file("clip")),
              (std::vector<std::string>{"IMG00000000.jpg", "IMG00000033.jpg", "IMG00000067.jpg",
                                        "IMG00000100.jpg", "IMG00000133.jpg"}));
}

}  // namespace
