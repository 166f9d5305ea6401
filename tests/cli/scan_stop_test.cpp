// pelmora-scan stopped by a signal or killed: it stops after the current frame, sums up what ran,
// and leaves only complete snapshots and lists.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <opencv2/core.hpp>
#include <string>
#include <thread>
#include <vector>

#include "FolderNames.h"
#include "ScanChecks.h"
#include "TextPattern.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using clitest::ScanProcess;
using testsupport::savedLines;
using testsupport::snapshotFiles;
using testsupport::splitLines;
using testsupport::writeVideo;

TEST_F(ScanTest, StopSignalsStopAfterTheCurrentFrameAndSumUp) {
    // White and black in turn: every frame differs from the one before, so every frame is a
    // snapshot and a line on the error stream.
    constexpr long long kFrames = 3000;
    const cv::Size size(32, 32);
    const cv::Mat white = solid(kWhite, size);
    const cv::Mat black = solid(kBlack, size);
    std::vector<cv::Mat> frames;
    for (long long index = 0; index < kFrames; ++index) {
        frames.push_back(index % 2 == 0 ? white : black);
    }
    const std::string longVideo = tmp.file("long.avi");
    const std::string nextVideo = tmp.file("next.avi");
    ASSERT_TRUE(writeVideo(longVideo, frames));
    ASSERT_TRUE(writeVideo(nextVideo, movingSquare()));

    const struct {
        const char* name;
        int signal;
        int exitCode;
    } rows[] = {{"SIGINT", SIGINT, 130}, {"SIGTERM", SIGTERM, 143}, {"SIGHUP", SIGHUP, 129}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        // One video after another: the next one must not have begun beside the first.
        ScanProcess scan({"--videos-at-once", "1", "-o", dir, longVideo, nextVideo});
        // Until these lines are read the scan soon waits on a full pipe, so it cannot have
        // finished the video by the time the signal arrives.
        ASSERT_TRUE(scan.readUntilErrorLine("[")) << "no snapshot line before the streams closed";
        scan.sendSignal(row.signal);
        const ScanResult result = scan.finish();

        EXPECT_EQ(result.termSignal, 0) << "killed by the signal instead of handling it";
        EXPECT_EQ(result.exitCode, row.exitCode);
        const pelmora::TextPattern summary(
            pelmora::TextPattern(R"([.^$|()\[\]{}*+?\\])").replaced(longVideo, R"(\$&)") +
            R"(: (\d+) frames?, (\d+) written, 0 lost, \d+\.\d\d s, )"
            R"(\d+\.\d frames/s, interrupted\n)");
        const std::optional<pelmora::PatternMatch> match = summary.match(result.out);
        ASSERT_TRUE(match) << "only the interrupted video is summed up: " << result.out;
        const long long framesRead = std::stoll((*match)[1]);
        const long long written = std::stoll((*match)[2]);
        EXPECT_GE(framesRead, 1);
        EXPECT_LT(framesRead, kFrames);
        EXPECT_EQ(written, framesRead);
        // Every snapshot taken is finished and logged; nothing else is left.
        const std::vector<std::string> names = listDir(dir + "/long");
        EXPECT_EQ(static_cast<long long>(names.size()), written);
        EXPECT_EQ(static_cast<long long>(splitLines(withoutTotal(result.err)).size()), written);
        // The batch's total says what the stop left.
        const pelmora::TextPattern total(
            "Total: 2 videos, 0 finished, 1 stopped, 0 failed, 1 not started, " +
            std::to_string(framesRead) + " frames?, " + std::to_string(written) +
            R"( written, 0 lost, \d+\.\d\d s\n)");
        EXPECT_TRUE(total.match(result.err.substr(withoutTotal(result.err).size())))
            << result.err.substr(withoutTotal(result.err).size());
        EXPECT_EQ(snapshotFiles(dir + "/long"), names);
        EXPECT_FALSE(fs::exists(dir + "/next")) << "went on to the next video";
    }
}

TEST_F(ScanTest, AKilledRunLeavesOnlyCompleteSnapshots) {
    // Large, noisy frames that change every time: big files, written all the time.
    const cv::Size size(640, 480);
    std::vector<cv::Mat> frames;
    cv::RNG rng(3);
    for (int i = 0; i < 8; ++i) {
        cv::Mat frame(size, CV_8UC3);
        rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
        frames.push_back(frame);
    }
    std::vector<cv::Mat> video;
    for (int i = 0; i < 160; ++i) {
        video.push_back(frames[static_cast<std::size_t>(i) % frames.size()]);
    }
    const std::string clip = tmp.file("noise.avi");
    ASSERT_TRUE(writeVideo(clip, video));
    const std::string whole = tmp.file("whole");
    ASSERT_EQ(runScan({"-q", "--events", "-o", whole, clip}).exitCode, 0);
    const std::string wholeList = testsupport::fileBytes(whole + "/snapshots.csv");

    for (const int linesBeforeKill : {2, 9, 30}) {
        SCOPED_TRACE(linesBeforeKill);
        const std::string dir = tmp.file("killed" + std::to_string(linesBeforeKill));
        {
            ScanProcess scan({"--events", "-o", dir, clip});
            for (int line = 0; line < linesBeforeKill; ++line) {
                ASSERT_TRUE(scan.readUntilErrorLine("[" + dir + "/" +
                                                    pelmora::snapshotFileName(40LL * line)));
            }
            scan.sendSignal(SIGKILL);
            EXPECT_EQ(scan.finish().termSignal, SIGKILL);
        }
        const std::vector<std::string> names = snapshotFiles(dir);
        EXPECT_GE(names.size(), static_cast<std::size_t>(linesBeforeKill));
        for (const std::string& name : names) {
            EXPECT_EQ(testsupport::fileBytes(dir + "/" + name),
                      testsupport::fileBytes(whole + "/" + name))
                << name << " is not the complete snapshot";
        }
        // The list ends with its last complete row: the whole run's list up to a row's end.
        const std::string list = testsupport::fileBytes(dir + "/snapshots.csv");
        ASSERT_GE(list.size(), 2u);
        EXPECT_EQ(list.compare(list.size() - 2, 2, "\r\n"), 0) << list;
        EXPECT_EQ(wholeList.compare(0, list.size(), list), 0) << list;
        // The header, and the rows of all snapshots logged but perhaps the last.
        EXPECT_GE(splitLines(list).size(), static_cast<std::size_t>(linesBeforeKill)) << list;
    }
}

TEST_F(ScanTest, AStopEndsEveryVideoRunningAtOnceAndSumsUpWhatRan) {
    // Every frame a snapshot and a line, far more than a stop lets them read.
    const std::vector<cv::Mat> blinking = blinkingSquare(3000);
    const std::string first = tmp.file("first.avi");
    const std::string second = tmp.file("second.avi");
    const std::string third = tmp.file("third.avi");
    ASSERT_TRUE(writeVideo(first, blinking));
    ASSERT_TRUE(writeVideo(second, blinking));
    ASSERT_TRUE(writeVideo(third, movingSquare()));
    const std::string dir = tmp.file("out");
    ScanProcess scan({"--videos-at-once", "2", "-o", dir, first, second, third});
    // The first video's lines are read until the scan waits on the pipe, and the second video
    // has begun beside it: its folder is made before its first frame.
    ASSERT_TRUE(scan.readUntilErrorLine("[" + dir + "/first/")) << "no line before the end";
    // A bound on the wait only so that a scan that never starts the second fails rather than
    // hangs; the scan, held by the pipe, waits for the signal however long this takes.
    constexpr int kMostLooks = 60000;
    int looks = 0;
    while (!fs::exists(dir + "/second") && ++looks < kMostLooks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(fs::exists(dir + "/second")) << "the second video never began beside the first";
    scan.sendSignal(SIGINT);
    const ScanResult result = scan.finish();

    EXPECT_EQ(result.termSignal, 0) << "killed by the signal instead of handling it";
    EXPECT_EQ(result.exitCode, 130);
    // Both running videos stopped, each summed up in the batch's order with what it wrote; the
    // third never started.
    const std::vector<std::string> summaries = splitLines(result.out);
    ASSERT_EQ(summaries.size(), 2u) << result.out;
    const pelmora::TextPattern summary(
        R"((.*): (\d+) frames?, (\d+) written, 0 lost, \d+\.\d\d s, )"
        R"(\d+\.\d frames/s, interrupted\n)");
    long long frames = 0;
    long long written = 0;
    std::string lines;
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const std::optional<pelmora::PatternMatch> found = summary.match(summaries[i]);
        ASSERT_TRUE(found) << summaries[i];
        const pelmora::PatternMatch& match = *found;
        const std::string name = i == 0 ? "first" : "second";
        EXPECT_EQ(match[1], tmp.file(name + ".avi"));
        const std::vector<std::string> names = snapshotFiles(dir + "/" + name);
        EXPECT_EQ(static_cast<long long>(names.size()), std::stoll(match[3])) << name;
        EXPECT_EQ(listDir(dir + "/" + name), names) << name;
        lines += savedLines(dir + "/" + name, names);
        frames += std::stoll(match[2]);
        written += std::stoll(match[3]);
    }
    // Every line whole, the first video's before the second's.
    EXPECT_EQ(withoutTotal(result.err), lines);
    EXPECT_FALSE(fs::exists(dir + "/third")) << "started a video after the stop";
    const pelmora::TextPattern total(
        "Total: 3 videos, 0 finished, 2 stopped, 0 failed, 1 not started, " +
        std::to_string(frames) + " frames, " + std::to_string(written) +
        R"( written, 0 lost, \d+\.\d\d s\n)");
    EXPECT_TRUE(total.match(result.err.substr(withoutTotal(result.err).size())))
        << result.err.substr(withoutTotal(result.err).size());
}

}  // namespace
