// pelmora-scan's snapshots as a user or a script sees them: which frames it saves, under which
// names and where, the lines it says of them and the summary after.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "ScanChecks.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using testsupport::savedLines;
using testsupport::splitLines;
using testsupport::writeVideo;

bool isJpeg(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char magic[3] = {};
    file.read(magic, sizeof magic);
    return file && static_cast<unsigned char>(magic[0]) == 0xFF &&
           static_cast<unsigned char>(magic[1]) == 0xD8 &&
           static_cast<unsigned char>(magic[2]) == 0xFF;
}

TEST_F(ScanTest, NamesSnapshotsAfterTheirTimeInTheVideo) {
    struct Row {
        const char* name;
        double fps;
        int appearAt;
        int moveAt;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"at25fps", 25.0, 2, 4, {"IMG00000080.jpg", "IMG00000160.jpg"}},
        {"firstFrameAgainstBlack", 25.0, 0, 4, {"IMG00000000.jpg", "IMG00000160.jpg"}},
        {"halfMillisecondRoundsUp", 16.0, 1, 3, {"IMG00000063.jpg", "IMG00000188.jpg"}},
        {"thirdsRoundToNearest", 30.0, 2, 4, {"IMG00000067.jpg", "IMG00000133.jpg"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string video = tmp.file(std::string(row.name) + ".avi");
        ASSERT_TRUE(writeVideo(video, squareClip(row.appearAt, row.moveAt), row.fps));
        const ScanResult result = runScan({video});
        const std::string dir = tmp.file(row.name);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, savedLines(dir, row.names));
        EXPECT_TRUE(isSummary(result.out, summaryHead(video, 6, 2, 0)));
        EXPECT_EQ(listDir(dir), row.names);
        for (const std::string& name : row.names) {
            EXPECT_TRUE(isJpeg(dir + "/" + name)) << name;
        }
    }
}

TEST_F(ScanTest, OutputOptionCreatesTheDirectoryWithItsParents) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    struct Row {
        const char* name;
        std::vector<std::string> option;  // the destination is appended, or to the last element
        bool joined;
    };
    const Row rows[] = {
        {"short", {"-o"}, false},
        {"long", {"--output"}, false},
        {"longWithEquals", {"--output="}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(std::string(row.name) + "/nested/deeper");
        std::vector<std::string> arguments = row.option;
        if (row.joined) {
            arguments.back() += dir;
        } else {
            arguments.push_back(dir);
        }
        arguments.push_back(video);
        const ScanResult result = runScan(arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, savedLines(dir, kMovingSquareNames));
        EXPECT_TRUE(isSummary(result.out, summaryHead(video, 6, 2, 0)));
        EXPECT_EQ(listDir(dir), kMovingSquareNames);
    }
    EXPECT_FALSE(fs::exists(tmp.file("clip"))) << "the derived directory was made anyway";
}

TEST_F(ScanTest, AnyNumberOfWritersGivesTheSameFilesAndLines) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    for (const std::vector<std::string>& option :
         {std::vector<std::string>{"-j", "1"}, std::vector<std::string>{"--jobs=3"}}) {
        SCOPED_TRACE(option.front());
        const std::string dir = tmp.file(option.front());
        std::vector<std::string> arguments = option;
        arguments.insert(arguments.end(), {"-o", dir, video});
        const ScanResult result = runScan(arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, savedLines(dir, kMovingSquareNames));
        EXPECT_EQ(listDir(dir), kMovingSquareNames);
    }
}

TEST_F(ScanTest, QuietDropsTheSnapshotLinesButKeepsTheSummary) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    for (const char* option : {"-q", "--quiet"}) {
        SCOPED_TRACE(option);
        const std::string dir = tmp.file(option);
        const ScanResult result = runScan({option, "-o", dir, video});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(isSummary(result.out, summaryHead(video, 6, 2, 0)));
        EXPECT_EQ(listDir(dir), kMovingSquareNames);
    }
}

TEST_F(ScanTest, RecordingOptionsAddFilesButChangeNoSnapshotLineOrSummary) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::vector<std::string> records;  // the files besides the snapshots, as said
    };
    const Row rows[] = {
        {"none", {}, {}},
        {"theDefaultTrigger", {"--min-pixels", "10"}, {}},
        {"events", {"--events", "--event-gap=0.5"}, {"snapshots.csv", "events.csv"}},
        {"report", {"--report"}, {"snapshots.csv", "events.csv", "report.html"}},
        {"exports",
         {"--export", "json,vtt,otio,edl"},
         {"snapshots.csv", "events.csv", "events.edl", "events.otio", "events.vtt", "events.json"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        std::vector<std::string> arguments = row.options;
        arguments.insert(arguments.end(), {"-o", dir, video});
        const ScanResult result = runScan(arguments);
        EXPECT_EQ(result.exitCode, 0);
        // Each file once it is whole, after the snapshots.
        EXPECT_EQ(result.err, savedLines(dir, kMovingSquareNames) + savedLines(dir, row.records));
        EXPECT_TRUE(isSummary(result.out, summaryHead(video, 6, 2, 0)));
        std::vector<std::string> files = row.records;
        files.insert(files.end(), kMovingSquareNames.begin(), kMovingSquareNames.end());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(listDir(dir), files);
    }
}

// The events handed on are those of events.csv: their numbers, times and clock times, as
// Python's own readers of both files find them.
TEST_F(ScanTest, TheExportedEventsAreThoseOfTheList) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const std::string dir = tmp.file("out");
    const ScanResult result =
        runScan({"-q", "--report", "--export", "json", "--event-gap", "0.04", "--start-time",
                 "2024-05-01T08:00:00+02:00", "-o", dir, video});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string compare = R"(
import csv, json, sys
listed = [(r["event"], r["start_ms"], r["end_ms"], r["clock_time"], r["snapshots"])
          for r in csv.DictReader(open(sys.argv[1]))]
doc = json.load(open(sys.argv[2]))
exported = [(str(e["event"]), str(e["start_ms"]), str(e["end_ms"]), e["start_clock_time"],
             str(len(e["snapshots"]))) for e in doc["events"]]
print(len(listed), listed == exported, doc["video"]["start_source"])
)";
    EXPECT_EQ(testsupport::commandOutput("python3 -c " + testsupport::shellQuoted(compare) + " " +
                                         testsupport::shellQuoted(dir + "/events.csv") + " " +
                                         testsupport::shellQuoted(dir + "/events.json") + " 2>&1"),
              "2 True given\n");
    // The report links them.
    EXPECT_NE(
        testsupport::fileBytes(dir + "/report.html")
            .find("The events for other programs: <a href=\"events.json\">events.json</a></p>"),
        std::string::npos);
}

// How often text occurs in a page.
std::size_t occurrences(const std::string& page, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = page.find(text); at != std::string::npos; at = page.find(text, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(ScanTest, ATenMinuteClipGivesAReportOfBoundedSize) {
    // 15,000 small frames at 25 per second, black but for a square that blinks once a minute:
    // two snapshots 40 ms apart, an event, each time.
    const cv::Size size(16, 16);
    std::vector<cv::Mat> frames(15000, solid(kBlack, size));
    for (std::size_t minute = 0; minute < 10; ++minute) {
        frames[minute * 1500 + 700] = withRects(solid(kBlack, size), {{4, 4, 8, 8}}, kWhite);
    }
    const std::string video = tmp.file("ten.avi");
    ASSERT_TRUE(writeVideo(video, frames));
    const ScanResult result = runScan({"-q", "--report", video});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(isSummary(result.out, summaryHead(video, 15000, 20, 0)));
    const std::string page = testsupport::fileBytes(tmp.file("ten/report.html"));
    // The timeline takes 8 frames a bucket, 1,875 buckets: the polygon goes along their most
    // and back along their least.
    const std::string opening = "<polygon class=\"range\" points=\"";
    const std::size_t from = page.find(opening);
    ASSERT_NE(from, std::string::npos);
    const std::size_t to = page.find('"', from + opening.size());
    EXPECT_EQ(occurrences(page.substr(from, to - from), ","), 2u * 1875u);
    EXPECT_EQ(occurrences(page, "<rect class=\"event\""), 10u);
    EXPECT_EQ(occurrences(page, "<img "), 10u);
    EXPECT_LT(page.size(), 150000u);
}

TEST_F(ScanTest, ThresholdIsTheLargestDifferenceThatIsNotAChange) {
    // Grey 100, then 120 twice: a step of exactly 20 in every channel, then no change at all.
    const std::string video = tmp.file("steps.avi");
    ASSERT_TRUE(writeVideo(video, {solid(cv::Scalar::all(100)), solid(cv::Scalar::all(120)),
                                   solid(cv::Scalar::all(120))}));
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"defaultIs20", {}, {"IMG00000000.jpg"}},
        {"stepEqualToThreshold", {"-t", "20"}, {"IMG00000000.jpg"}},
        {"stepJustAboveThreshold", {"-t", "19"}, {"IMG00000000.jpg", "IMG00000040.jpg"}},
        {"zeroStillIgnoresIdenticalFrames", {"-t", "0"}, {"IMG00000000.jpg", "IMG00000040.jpg"}},
        {"highestThreshold", {"--threshold=50"}, {"IMG00000000.jpg"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        std::vector<std::string> arguments = row.options;
        arguments.insert(arguments.end(), {"-o", dir, video});
        const ScanResult result = runScan(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, savedLines(dir, row.names));
        EXPECT_TRUE(isSummary(result.out,
                              summaryHead(video, 3, static_cast<long long>(row.names.size()), 0)));
        EXPECT_EQ(listDir(dir), row.names);
    }
}

TEST_F(ScanTest, MoreThanTenPixelsOfTheBusiestChannelMustSurviveErosion) {
    // A 3-pixel-high bar keeps only its middle row, shortened by one pixel at each end.
    struct Row {
        const char* name;
        std::vector<cv::Rect> rects;
        cv::Scalar colour;
        long long written;
    };
    const Row rows[] = {
        {"tenPixelsLeft", {{20, 20, 12, 3}}, kWhite, 0},
        {"elevenPixelsLeft", {{20, 20, 13, 3}}, kWhite, 1},
        {"elevenPixelsInRedOnly", {{20, 20, 13, 3}}, cv::Scalar(0, 0, 255), 1},
        {"twoPixelLineErodesAway", {{4, 20, 56, 2}}, kWhite, 0},
        {"tenPixelsInEachOfTwoBars", {{4, 10, 12, 3}, {30, 30, 12, 3}}, kWhite, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string video = tmp.file(std::string(row.name) + ".avi");
        ASSERT_TRUE(
            writeVideo(video, {solid(kBlack), withRects(solid(kBlack), row.rects, row.colour)}));
        const ScanResult result = runScan({"-q", video});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(isSummary(result.out, summaryHead(video, 2, row.written, 0)));
    }

    // Six pixels in each of the three channels: eighteen in all, but no channel has eleven.
    cv::Mat spread = solid(kBlack);
    cv::rectangle(spread, cv::Rect(4, 10, 8, 3), cv::Scalar(255, 0, 0), cv::FILLED);
    cv::rectangle(spread, cv::Rect(24, 20, 8, 3), cv::Scalar(0, 255, 0), cv::FILLED);
    cv::rectangle(spread, cv::Rect(44, 30, 8, 3), cv::Scalar(0, 0, 255), cv::FILLED);
    const std::string video = tmp.file("spread.avi");
    ASSERT_TRUE(writeVideo(video, {solid(kBlack), spread}));
    const ScanResult result = runScan({"-q", video});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(isSummary(result.out, summaryHead(video, 2, 0, 0)));
}

TEST_F(ScanTest, DoubleDashEndsTheOptionsAndRelativePathsStayRelative) {
    ASSERT_TRUE(writeVideo(tmp.file("-clip.avi"), movingSquare()));
    const ScanResult result = runScan({"--", "-clip.avi"}, tmp.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, savedLines("-clip", kMovingSquareNames));
    EXPECT_TRUE(isSummary(result.out, summaryHead("-clip.avi", 6, 2, 0)));
    EXPECT_EQ(listDir(tmp.file("-clip")), kMovingSquareNames);
}

TEST_F(ScanTest, FramesInTheSameMillisecondGetNamesOfTheirOwn) {
    // 2,000 frames per second, every frame a change: two frames in most milliseconds. A
    // QuickTime file keeps the rate exactly; an AVI would round it.
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 10; ++i) {
        frames.push_back(
            withRects(solid(kBlack), {i % 2 == 0 ? kSquareFirst : kSquareMoved}, kWhite));
    }
    const std::string video = tmp.file("fast.mov");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video, frames, 2000.0,
                                                  "-c:v ffv1 -video_track_timescale 2000"));
    const ScanResult result = runScan({video});
    const std::vector<std::string> names = {
        "IMG00000000.jpg", "IMG00000001-2.jpg", "IMG00000001.jpg", "IMG00000002-2.jpg",
        "IMG00000002.jpg", "IMG00000003-2.jpg", "IMG00000003.jpg", "IMG00000004-2.jpg",
        "IMG00000004.jpg", "IMG00000005.jpg"};
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(isSummary(result.out, summaryHead(video, 10, 10, 0)));
    EXPECT_EQ(listDir(tmp.file("fast")), names);
}

}  // namespace
