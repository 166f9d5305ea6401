// Runs the real pelmora-scan binary on small videos made here and checks what a user or a
// script sees of it: the files it leaves, the lines on each stream and the exit status.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <regex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "FolderNames.h"
#include "ScanProcess.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using clitest::runScan;
using clitest::ScanProcess;
using clitest::ScanResult;
using testsupport::TempDir;
using testsupport::writeVideo;

const cv::Size kSize(64, 48);

// What a scan leaves in a folder, less the record of a finished run, which has tests of its
// own.
std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names = testsupport::listDir(dir);
    names.erase(std::remove(names.begin(), names.end(), ".pelmora-run.json"), names.end());
    return names;
}

cv::Mat solid(const cv::Scalar& colour, cv::Size size = kSize) {
    return cv::Mat(size, CV_8UC3, colour);
}

cv::Mat withRects(const cv::Mat& base, const std::vector<cv::Rect>& rects,
                  const cv::Scalar& colour) {
    cv::Mat frame = base.clone();
    for (const cv::Rect& rect : rects) {
        cv::rectangle(frame, rect, colour, cv::FILLED);
    }
    return frame;
}

const cv::Scalar kBlack = cv::Scalar::all(0);
const cv::Scalar kWhite = cv::Scalar::all(255);
const cv::Rect kSquareFirst(8, 8, 8, 8);
const cv::Rect kSquareMoved(40, 24, 8, 8);

// Six frames, black until a white 8x8 square appears at appearAt; it jumps elsewhere at
// moveAt (never, from 6 on) and stays still otherwise, so only those frames change.
std::vector<cv::Mat> squareClip(int appearAt, int moveAt) {
    std::vector<cv::Mat> frames;
    for (int index = 0; index < 6; ++index) {
        if (index < appearAt) {
            frames.push_back(solid(kBlack));
        } else if (index < moveAt) {
            frames.push_back(withRects(solid(kBlack), {kSquareFirst}, kWhite));
        } else {
            frames.push_back(withRects(solid(kBlack), {kSquareMoved}, kWhite));
        }
    }
    return frames;
}

std::vector<cv::Mat> movingSquare() {
    return squareClip(2, 4);
}
const std::vector<std::string> kMovingSquareNames = {"IMG00000080.jpg", "IMG00000160.jpg"};

bool isJpeg(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char magic[3] = {};
    file.read(magic, sizeof magic);
    return file && static_cast<unsigned char>(magic[0]) == 0xFF &&
           static_cast<unsigned char>(magic[1]) == 0xD8 &&
           static_cast<unsigned char>(magic[2]) == 0xFF;
}

std::string savedLines(const std::string& dir, const std::vector<std::string>& names) {
    std::string lines;
    for (const std::string& name : names) {
        lines += "[" + dir + "/" + name + "]\n";
    }
    return lines;
}

// Each line with its '\n'.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The error stream without the total line that ends a batch of several videos, for the
// tests of the lines before it.
std::string withoutTotal(const std::string& err) {
    const std::string::size_type at = err.rfind("Total: ");
    if (at == std::string::npos || (at > 0 && err[at - 1] != '\n')) {
        return err;
    }
    return err.substr(0, at);
}

// The summary line up to where its timings start.
std::string summaryHead(const std::string& video, long long frames, long long written,
                        long long lost) {
    return video + ": " + std::to_string(frames) + " frames, " + std::to_string(written) +
           " written, " + std::to_string(lost) + " lost, ";
}

// A summary line: head, then the timings, whose rate must be the frames over the seconds.
testing::AssertionResult isSummary(const std::string& line, const std::string& head,
                                   bool interrupted = false, bool failed = false) {
    if (line.compare(0, head.size(), head) != 0) {
        return testing::AssertionFailure()
               << "'" << line << "' does not start with '" << head << "'";
    }
    // Quiet, the folder the files went into follows.
    const std::regex timings(
        interrupted ? R"((\d+\.\d\d) s, (\d+\.\d) frames/s, interrupted(; files in .*)?\n)"
        : failed    ? R"((\d+\.\d\d) s, (\d+\.\d) frames/s, failed(; files in .*)?\n)"
                    : R"((\d+\.\d\d) s, (\d+\.\d) frames/s(; files in .*)?\n)");
    std::smatch match;
    const std::string tail = line.substr(head.size());
    if (!std::regex_match(tail, match, timings)) {
        return testing::AssertionFailure() << "'" << line << "' does not end in the timings"
                                           << (interrupted ? " and ', interrupted'" : "");
    }
    // The seconds are rounded to hundredths, the rate to tenths.
    const double frames = std::stod(line.substr(line.find(": ") + 2));
    const double seconds = std::stod(match[1]);
    const double rate = std::stod(match[2]);
    const double fastest = seconds > 0.005 ? frames / (seconds - 0.005) : HUGE_VAL;
    if (rate < frames / (seconds + 0.005) - 0.05 || rate > fastest + 0.05) {
        return testing::AssertionFailure() << "'" << line << "': " << rate << " frames/s is not "
                                           << frames << " frames in " << seconds << " s";
    }
    return testing::AssertionSuccess();
}

class ScanTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(tmp.path().empty()) << "mkdtemp failed"; }

    TempDir tmp;
};

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

// A report without its time of making, which names the minute it was made in: two runs a
// moment apart may straddle a minute.
std::string withoutTimeOfMaking(const std::string& report) {
    return std::regex_replace(report, std::regex(R"( on \d{4}-\d\d-\d\d \d\d:\d\d \w*)"), "");
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

TEST_F(ScanTest, OutputOptionGivesSeveralVideosAFolderEachSoNoSnapshotIsOverwritten) {
    fs::create_directories(tmp.file("a"));
    fs::create_directories(tmp.file("b"));
    const std::string first = tmp.file("a/clip.avi");
    const std::string second = tmp.file("b/clip.avi");
    const std::string other = tmp.file("b/.avi");
    for (const std::string& video : {first, second, other}) {
        ASSERT_TRUE(writeVideo(video, movingSquare()));
    }
    const std::string dir = tmp.file("out");
    const ScanResult result = runScan({"-q", "-o", dir, first, second, other});
    EXPECT_EQ(result.exitCode, 0);
    // Each below the folder given as it stands below the folder that holds them all.
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"a", "b"}));
    for (const char* each : {"a/clip", "b/clip", "b/video"}) {
        EXPECT_EQ(listDir(dir + "/" + each), kMovingSquareNames) << each;
    }
}

TEST_F(ScanTest, EveryVideoStartsFromBlackAndIsSummedUpInOrder) {
    // The same grey clip twice: the second one's first frame equals the first one's last, so
    // only a fresh black reference makes it a snapshot.
    const std::vector<cv::Mat> grey(3, solid(cv::Scalar::all(128)));
    const std::string first = tmp.file("first.avi");
    const std::string second = tmp.file("second.avi");
    ASSERT_TRUE(writeVideo(first, grey));
    ASSERT_TRUE(writeVideo(second, grey));

    const ScanResult result = runScan({second, first});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutTotal(result.err), savedLines(tmp.file("second"), {"IMG00000000.jpg"}) +
                                            savedLines(tmp.file("first"), {"IMG00000000.jpg"}));
    const std::vector<std::string> lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_TRUE(isSummary(lines[0], summaryHead(second, 3, 1, 0)));
    EXPECT_TRUE(isSummary(lines[1], summaryHead(first, 3, 1, 0)));
}

TEST_F(ScanTest, MissingVideoExitsOneAndTheOthersStillRun) {
    const std::string missing = tmp.file("missing.avi");
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        std::string err;
        std::vector<std::string> summaries;  // heads, and "not opened" lines whole
    };
    const std::string notOpened = missing + ": not opened\n";
    const std::string failed = "Failed to open " + missing + ": No such file or directory\n";
    const std::string saved = savedLines(tmp.file("clip"), kMovingSquareNames);
    const Row rows[] = {
        {"alone", {missing}, failed, {notOpened}},
        {"first", {missing, video}, failed + saved, {notOpened, summaryHead(video, 6, 2, 0)}},
        {"last", {video, missing}, saved + failed, {summaryHead(video, 6, 2, 0), notOpened}},
        {"quietKeepsTheFailure",
         {"-q", video, missing},
         failed,
         {summaryHead(video, 6, 2, 0), notOpened}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScanResult result = runScan(row.arguments);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(withoutTotal(result.err), row.err);
        const std::vector<std::string> lines = splitLines(result.out);
        ASSERT_EQ(lines.size(), row.summaries.size()) << result.out;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (row.summaries[i] == notOpened) {
                EXPECT_EQ(lines[i], notOpened);
            } else {
                EXPECT_TRUE(isSummary(lines[i], row.summaries[i]));
            }
        }
    }
    EXPECT_FALSE(fs::exists(tmp.file("missing"))) << "a directory was made for a missing video";
}

TEST_F(ScanTest, ABatchOfSeveralVideosEndsWithItsTotalOnTheErrorStream) {
    const std::string first = tmp.file("first.avi");
    const std::string second = tmp.file("second.avi");
    const std::string missing = tmp.file("missing.avi");
    ASSERT_TRUE(writeVideo(first, movingSquare()));
    ASSERT_TRUE(writeVideo(second, movingSquare()));
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        std::string total;  // up to the time; empty for none
    };
    const Row rows[] = {
        {"oneVideoHasNone", {"-q", first}, ""},
        {"several",
         {"-q", "-o", tmp.file("out"), first, missing, second},
         "Total: 3 videos, 2 finished, 0 stopped, 1 failed, 12 frames, 4 written, 0 lost, "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScanResult result = runScan(row.arguments);
        const std::string last = result.err.substr(withoutTotal(result.err).size());
        if (row.total.empty()) {
            EXPECT_EQ(last, "");
            continue;
        }
        ASSERT_EQ(last.compare(0, row.total.size(), row.total), 0) << last;
        EXPECT_TRUE(std::regex_match(last.substr(row.total.size()), std::regex(R"(\d+\.\d\d s\n)")))
            << last;
    }
}

TEST_F(ScanTest, LostSnapshotsAreReportedWithTheReasonAndExitOne) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    struct Row {
        const char* name;
        std::vector<std::string> options;
    };
    const Row rows[] = {{"plain", {}}, {"quietKeepsTheFailures", {"-q"}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Root writes anywhere, so a folder stands where the second snapshot would go.
        const std::string dir = tmp.file(row.name);
        fs::create_directories(dir + "/" + kMovingSquareNames[1]);
        std::vector<std::string> arguments = row.options;
        arguments.insert(arguments.end(), {"-o", dir, video});
        const ScanResult result = runScan(arguments);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(isSummary(result.out, summaryHead(video, 6, 1, 1), false, true));
        const std::string failed =
            "Failed to save " + dir + "/" + kMovingSquareNames[1] + ": Is a directory\n";
        EXPECT_EQ(result.err,
                  row.options.empty() ? savedLines(dir, {kMovingSquareNames[0]}) + failed : failed);
    }
}

TEST_F(ScanTest, ADestinationThatCannotHoldSnapshotsSkipsTheVideoAtOnce) {
    const std::string clip = tmp.file("clip.avi");
    const std::string derived = tmp.file("derived.avi");
    ASSERT_TRUE(writeVideo(clip, movingSquare()));
    ASSERT_TRUE(writeVideo(derived, movingSquare()));
    std::ofstream(tmp.file("blocker")) << "not a directory\n";
    std::ofstream(tmp.file("derived")) << "not a directory\n";
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        std::string dir;  // where the snapshots would have gone
    };
    const Row rows[] = {
        {"outputBelowAFile", {"-o", tmp.file("blocker/out"), clip}, tmp.file("blocker/out")},
        {"derivedDirectoryIsAFile", {derived}, tmp.file("derived")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScanResult result = runScan(row.arguments);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, "Cannot save snapshots in " + row.dir + ": Not a directory\n");
        EXPECT_EQ(result.out, row.arguments.back() +
                                  ": not scanned, snapshots cannot be saved in " + row.dir + "\n");
    }
}

TEST_F(ScanTest, UsageErrorsExitTwoWithAMessageAndWhereToLook) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const std::string usage = "Try 'pelmora-scan --help' for more information.\n";

    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        std::string culprit;  // what the message has to name
    };
    const Row rows[] = {
        {"unknownOption", {"--frobnicate", video}, "--frobnicate"},
        {"thresholdAboveRange", {"-t", "51", video}, "'51'"},
        {"negativeThreshold", {"-t", "-1", video}, "'-1'"},
        {"thresholdNotANumber", {"-t", "abc", video}, "'abc'"},
        {"fractionalThreshold", {"--threshold", "2.5", video}, "'2.5'"},
        {"emptyThreshold", {"-t", "", video}, "''"},
        {"emptyThresholdAfterEquals", {"--threshold=", video}, "''"},
        {"missingThresholdValue", {video, "-t"}, "-t"},
        {"missingOutputValue", {video, "--output"}, "--output"},
        {"emptyOutputDirectory", {"-o", "", video}, "output directory"},
        {"noWriters", {"--jobs", "0", video}, "'0'"},
        {"valueForAFlag", {"--quiet=yes", video}, "--quiet"},
        {"noArgumentsAtAll", {}, "video"},
        {"missingMask", {"--mask", tmp.file("missing.png"), video}, "missing.png"},
        {"maskThatIsNotAPicture", {"--mask=" + video, video}, "not a picture"},
        {"emptyMaskName", {"--mask", "", video}, "mask ''"},
        {"negativeMinPixels", {"--min-pixels", "-1", video}, "'-1'"},
        {"minPixelsAboveRange", {"--min-pixels=100000001", video}, "'100000001'"},
        {"eventGapBelowAMillisecond", {"--event-gap", "0.0005", video}, "'0.0005'"},
        {"eventGapAboveADay", {"--event-gap", "86400.001", video}, "'86400.001'"},
        {"eventGapWithoutDigitsAfterThePoint", {"--event-gap=2.", video}, "'2.'"},
        {"valueForReport", {"--report=yes", video}, "--report"},
        {"unknownClock", {"--clock", "wall", video}, "'wall'"},
        {"unknownClipMode", {"--clips=frames", video}, "'frames'"},
        {"emptyClipMode", {"--clips=", video}, "--clips"},
        {"leadAboveAnHour", {"--clips", "--before", "3600.001", video}, "'3600.001'"},
        {"negativeTail", {"--clips", "--after", "-1", video}, "'-1'"},
        {"segmentOfTwoVideos", {"--segment", "0/2", video, video}, "exactly one VIDEO"},
        {"segmentOfABatch", {"--segment", "0/2", "--shard", "0/2", video}, "exactly one VIDEO"},
        {"segmentPastItsCount", {"--segment", "2/2", video}, "'2/2'"},
        {"joinWithAVideo", {"--join", tmp.path(), video}, "without VIDEO"},
        {"joinWithASegment", {"--join", tmp.path(), "--segment", "0/2", video}, "separate steps"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScanResult result = runScan(row.arguments);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.out, "");
        const std::string::size_type end = result.err.find('\n');
        ASSERT_NE(end, std::string::npos) << result.err;
        const std::string message = result.err.substr(0, end);
        EXPECT_EQ(message.rfind("pelmora-scan: ", 0), 0u) << message;
        EXPECT_NE(message.find(row.culprit), std::string::npos) << message;
        EXPECT_EQ(result.err.substr(end + 1), usage);
        EXPECT_FALSE(fs::exists(tmp.file("clip"))) << "scanned despite the usage error";
    }
}

TEST_F(ScanTest, HelpAndVersionGoToStdoutAndScanNothing) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const std::string usageLine = "Usage: pelmora-scan [OPTIONS] VIDEO...\n";
    const std::string version = std::string("pelmora-scan ") + PELMORA_VERSION + "\n";
    std::string firstHelp;  // every way of asking prints the same
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        bool isVersion;
    };
    const Row rows[] = {
        {"help", {"--help"}, false},
        {"shortHelp", {"-h"}, false},
        {"helpWithAVideo", {video, "--help"}, false},
        {"version", {"--version"}, true},
        {"versionWithAVideo", {"--version", video}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ScanResult result = runScan(row.arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        if (row.isVersion) {
            EXPECT_EQ(result.out, version);
        } else {
            EXPECT_EQ(result.out.rfind(usageLine, 0), 0u) << result.out;
            if (firstHelp.empty()) {
                firstHelp = result.out;
            }
            EXPECT_EQ(result.out, firstHelp);
        }
        EXPECT_FALSE(fs::exists(tmp.file("clip"))) << "scanned a video as well";
    }
}

// An answer that cannot be written is a failure, not a success with nothing to show.
TEST_F(ScanTest, HelpAndVersionIntoAFullDiskFail) {
    for (const char* argument : {"--version", "--help"}) {
        const std::string command = std::string(PELMORA_SCAN_PATH) + " " + argument +
                                    " > /dev/full 2> '" + tmp.file("err") + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << argument;
        EXPECT_EQ(WEXITSTATUS(status), 1) << argument;
        std::ifstream err(tmp.file("err"));
        EXPECT_EQ(
            std::string(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>()),
            "pelmora-scan: cannot write to the standard output: No space left on device\n")
            << argument;
    }
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

// The names in dir that look like snapshots: IMG*.jpg.
std::vector<std::string> snapshotsIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const std::string& name : listDir(dir)) {
        if (name.rfind("IMG", 0) == 0 && name.size() > 7 &&
            name.compare(name.size() - 4, 4, ".jpg") == 0) {
            names.push_back(name);
        }
    }
    return names;
}

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
        const std::regex summary(
            std::regex_replace(longVideo, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
            R"(: (\d+) frames?, (\d+) written, 0 lost, \d+\.\d\d s, )"
            R"(\d+\.\d frames/s, interrupted\n)");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(result.out, match, summary))
            << "only the interrupted video is summed up: " << result.out;
        const long long framesRead = std::stoll(match[1]);
        const long long written = std::stoll(match[2]);
        EXPECT_GE(framesRead, 1);
        EXPECT_LT(framesRead, kFrames);
        EXPECT_EQ(written, framesRead);
        // Every snapshot taken is finished and logged; nothing else is left.
        const std::vector<std::string> names = listDir(dir + "/long");
        EXPECT_EQ(static_cast<long long>(names.size()), written);
        EXPECT_EQ(static_cast<long long>(splitLines(withoutTotal(result.err)).size()), written);
        // The batch's total says what the stop left.
        const std::regex total("Total: 2 videos, 0 finished, 1 stopped, 0 failed, 1 not started, " +
                               std::to_string(framesRead) + " frames?, " + std::to_string(written) +
                               R"( written, 0 lost, \d+\.\d\d s\n)");
        EXPECT_TRUE(std::regex_match(result.err.substr(withoutTotal(result.err).size()), total))
            << result.err.substr(withoutTotal(result.err).size());
        EXPECT_EQ(snapshotsIn(dir + "/long"), names);
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
        const std::vector<std::string> names = snapshotsIn(dir);
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

TEST_F(ScanTest, VideosWithoutAnExtensionInADottedFolderKeepTheirOwnSnapshots) {
    fs::create_directories(tmp.file("rec.2024"));
    const std::string first = tmp.file("rec.2024/cam1");
    const std::string second = tmp.file("rec.2024/cam2");
    ASSERT_TRUE(writeVideo(tmp.file("cam1.avi"), squareClip(1, 6)));
    ASSERT_TRUE(writeVideo(tmp.file("cam2.avi"), squareClip(3, 6)));
    fs::rename(tmp.file("cam1.avi"), first);
    fs::rename(tmp.file("cam2.avi"), second);
    const ScanResult result = runScan({"-q", first, second});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(listDir(tmp.file("rec.2024")),
              (std::vector<std::string>{"cam1", "cam1-snapshots", "cam2", "cam2-snapshots"}));
    EXPECT_EQ(listDir(first + "-snapshots"), std::vector<std::string>{"IMG00000040.jpg"});
    EXPECT_EQ(listDir(second + "-snapshots"), std::vector<std::string>{"IMG00000120.jpg"});
}

TEST_F(ScanTest, TwoVideosOfOneNameBesideEachOtherKeepFoldersOfTheirOwn) {
    const std::string lower = tmp.file("x.avi");
    const std::string upper = tmp.file("x.AVI");
    ASSERT_TRUE(writeVideo(lower, squareClip(1, 6)));
    ASSERT_TRUE(writeVideo(upper, squareClip(3, 6)));
    EXPECT_EQ(runScan({"-q", lower, upper}).exitCode, 0);
    // "x.AVI" sorts first.
    EXPECT_EQ(listDir(tmp.file("x")), std::vector<std::string>{"IMG00000120.jpg"});
    EXPECT_EQ(listDir(tmp.file("x-2")), std::vector<std::string>{"IMG00000040.jpg"});
    const ScanResult resumed = runScan({"--resume", "-q", lower, upper});
    EXPECT_EQ(resumed.exitCode, 0);
    EXPECT_EQ(resumed.out, lower + ": skipped, done before: 6 frames, 1 written\n" + upper +
                               ": skipped, done before: 6 frames, 1 written\n");
}

TEST_F(ScanTest, AReadOnlyDestinationIsReportedBeforeAnythingIsDecoded) {
    // Root may write anywhere, so the scan runs as an ordinary user.
    const std::string setpriv = "/usr/bin/setpriv";
    if (!fs::exists(setpriv) ||
        std::system(("/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups test -x " +
                     std::string(PELMORA_SCAN_PATH))
                        .c_str()) != 0) {
        GTEST_SKIP() << "the scan cannot be run as user 65534 here";
    }
    fs::permissions(tmp.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const std::string dir = tmp.file("readonly");
    fs::create_directory(dir);
    ScanProcess scan({"-o", dir, video}, std::string(),
                     {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
    const ScanResult result = scan.finish();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Cannot save snapshots in " + dir + ": Permission denied\n");
    EXPECT_EQ(result.out, video + ": not scanned, snapshots cannot be saved in " + dir + "\n");
    EXPECT_TRUE(listDir(dir).empty());
}

TEST_F(ScanTest, ATruncatedClipSaysHowManyFramesItAnnouncedAndKeepsTheDecoderQuiet) {
    // Camera footage as motion JPEG, cut in half as a broken download would be: the decoder
    // complains about the last, damaged frame.
    const std::string whole = tmp.file("whole.avi");
    {
        cv::VideoWriter writer(whole, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                               25.0, kSize, true);
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 40; ++i) {
            writer.write(withRects(solid(kBlack), {{i, 10, 8, 8}}, kWhite));
        }
    }
    const std::string bytes = testsupport::fileBytes(whole);
    const std::string video = tmp.file("cut.avi");
    std::ofstream(video, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    const std::regex summary(R"(.*: (\d+) frames read, 40 announced, \d+ written, 0 lost, .*\n)");
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "verbose" : "quiet decoder");
        const ScanResult result =
            runScan(verbose ? std::vector<std::string>{"-q", "--verbose", video}
                            : std::vector<std::string>{"-q", video});
        EXPECT_EQ(result.exitCode, 0);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(result.out, match, summary)) << result.out;
        EXPECT_LT(std::stoi(match[1]), 30);
        if (verbose) {
            EXPECT_NE(result.err.find("[mjpeg @ "), std::string::npos) << result.err;
        } else {
            EXPECT_EQ(result.err, "");
        }
    }
}

}  // namespace

namespace {

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    for (const std::string& line : splitLines(text)) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

// Every file below dir with its bytes, by path relative to dir.
std::map<std::string, std::string> filesBelow(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), dir).string()] =
                testsupport::fileBytes(entry.path().string());
        }
    }
    return files;
}

// Each match of pattern's first group in a file; nothing for a folder in its place.
std::vector<std::string> found(const std::string& path, const std::string& pattern) {
    const std::string text =
        fs::is_regular_file(path) ? testsupport::fileBytes(path) : std::string();
    const std::regex regex(pattern);
    std::vector<std::string> matches;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), regex);
         it != std::sregex_iterator(); ++it) {
        matches.push_back((*it)[1]);
    }
    return matches;
}

// Whether a folder tells the truth about the last run into it: its lists end with a complete
// row and name only snapshots that are there, lists and a report that the run did not say it
// failed to write name every snapshot of that run and no other, there are no files it was not
// asked for, and a record stands for a run that wrote all it was asked for. earlier: the
// snapshots of an earlier run, which stay beside those of the last one.
testing::AssertionResult tellsTheTruth(const std::string& dir, const ScanResult& result,
                                       const std::vector<std::string>& options,
                                       const std::vector<std::string>& earlier = {}) {
    std::set<std::string> ours;
    for (const std::string& name : listDir(dir)) {
        if (pelmora::isSnapshotFileName(name) && fs::is_regular_file(dir + "/" + name)) {
            ours.insert(name);
        } else if (std::regex_match(name, std::regex(R"(\..*\.part)"))) {
            return testing::AssertionFailure() << "a temporary file is left: " << name;
        }
    }
    for (const std::string& name : earlier) {
        if (ours.erase(name) == 0) {
            return testing::AssertionFailure() << "the earlier snapshot " << name << " is gone";
        }
    }
    const bool report = std::count(options.begin(), options.end(), "--report") > 0;
    const bool lists = report || std::count(options.begin(), options.end(), "--events") > 0;
    // Lost snapshots are listed too, and may be an event's peak.
    const std::vector<std::string> lost = found(dir + "/snapshots.csv", "(IMG[^,]*),no,");
    std::set<std::string> listed = ours;
    listed.insert(lost.begin(), lost.end());
    const struct {
        const char* name;
        bool asked;
        bool csv;
        const char* names;                 // the snapshots it names
        const std::set<std::string>& all;  // those it may name
        bool every;                        // and all of them, unless it failed
    } files[] = {{"snapshots.csv", lists, true, "(IMG[^,]*),yes,", ours, true},
                 {"events.csv", lists, true, "(IMG[^,]*)\r", listed, false},
                 {"report.html", report, false, "href=\"(IMG[^\"]*)\"", ours, false}};
    for (const auto& file : files) {
        const std::string path = dir + "/" + file.name;
        const bool failed = result.err.find("Failed to write " + path + ": ") != std::string::npos;
        if (fs::is_regular_file(path) != file.asked && !failed) {
            return testing::AssertionFailure()
                   << file.name << (file.asked ? " is missing" : " is there");
        }
        const std::string text =
            fs::is_regular_file(path) ? testsupport::fileBytes(path) : std::string();
        if (file.csv && !text.empty() && text.substr(text.size() - 2) != "\r\n") {
            return testing::AssertionFailure() << file.name << " ends in a broken row: " << text;
        }
        const std::vector<std::string> names = found(path, file.names);
        const std::set<std::string> named(names.begin(), names.end());
        if (!std::includes(file.all.begin(), file.all.end(), named.begin(), named.end()) ||
            (file.every && !failed && !text.empty() && named != file.all)) {
            return testing::AssertionFailure()
                   << file.name << " names other snapshots than the run's";
        }
    }
    const std::string recordPath = dir + "/.pelmora-run.json";
    if (fs::is_regular_file(recordPath) != (result.exitCode == 0)) {
        return testing::AssertionFailure() << (result.exitCode == 0 ? "no record" : "a record");
    }
    if (result.exitCode == 0) {
        const nlohmann::json record = nlohmann::json::parse(testsupport::fileBytes(recordPath));
        if (record["written"] != ours.size() || record["settings"]["events"] != lists ||
            record["settings"]["report"] != report) {
            return testing::AssertionFailure() << "the record disagrees: " << record.dump();
        }
    }
    return testing::AssertionSuccess();
}

std::vector<cv::Mat> blinkingSquare(int frames) {
    std::vector<cv::Mat> blinking;
    for (int i = 0; i < frames; ++i) {
        blinking.push_back(
            withRects(solid(kBlack), {i % 2 == 0 ? kSquareFirst : kSquareMoved}, kWhite));
    }
    return blinking;
}

// What a run of other settings leaves in dir: count snapshots its lists and report name, a
// record, and the temporary files of a kill.
void earlierRun(const std::string& dir, int count) {
    std::string list = "frame,time_ms,timecode,changed_pixels,file,saved,stream_ms\r\n";
    // Names the clip's 40 ms frames never take.
    for (const char* name : {"IMG00000001.jpg", "IMG00000003.jpg"}) {
        if (count-- > 0) {
            std::ofstream(dir + "/" + name) << "earlier";
            list += std::string("1,1,00:00:00.001,99,") + name + ",yes,1\r\n";
        }
    }
    std::ofstream(dir + "/snapshots.csv") << list;
    std::ofstream(dir + "/events.csv") << "event\r\n1,IMG00000001.jpg\r\n";
    std::ofstream(dir + "/report.html") << "<a href=\"IMG00000001.jpg\">";
    std::ofstream(dir + "/.pelmora-run.json") << R"({"written": 99})";
    std::ofstream(dir + "/.IMG00000120.jpg.4242.part") << "half";
    std::ofstream(dir + "/..pelmora-run.json.4242.part") << "half";
}

TEST_F(ScanTest, AFolderTellsTheTruthAfterAFault) {
    // 80 snapshots: 40 rows of snapshots.csv fill more than 2,500 bytes, one snapshot far less.
    const std::string video = tmp.file("blink.avi");
    ASSERT_TRUE(writeVideo(video, blinkingSquare(80)));
    const std::vector<std::string> two = {"IMG00000001.jpg", "IMG00000003.jpg"};
    const struct {
        const char* name;
        std::vector<std::string> options;
        const char* inTheWay;  // a folder where the run writes a file, if any
        int earlier;           // snapshots of an earlier run; -1: not even its other files
        int exitCode;
        std::string err;  // with DIR for the folder
    } rows[] = {
        {"all written", {"--report"}, "", -1, 0, ""},
        {"a full disk in the middle of a row",
         {"--events"},
         "",
         -1,
         1,
         "Failed to write DIR/snapshots.csv: File too large\n"},
        {"a report that cannot be written",
         {"--report"},
         "report.html",
         -1,
         1,
         "Failed to write DIR/report.html: Is a directory\n"},
        {"a list that cannot be written",
         {"--events"},
         "events.csv",
         -1,
         1,
         "Failed to write DIR/events.csv: Is a directory\n"},
        {"a snapshot that cannot be written",
         {"--report"},
         "IMG00000040.jpg",
         -1,
         1,
         "Failed to save DIR/IMG00000040.jpg: Is a directory\n"},
        {"a record that cannot be written",
         {"--events"},
         ".pelmora-run.json",
         -1,
         1,
         "Cannot write the record of " + video + " in DIR\n"},
        {"a rerun after a kill", {}, "", 0, 0, ""},
        {"a rerun that records nothing", {}, "", 1, 0, "1 snapshot of an earlier run is in DIR\n"},
        {"a rerun with a report",
         {"--report"},
         "",
         2,
         0,
         "2 snapshots of an earlier run are in DIR\n"},
        {"a clean rerun", {"--clean", "--events"}, "", 2, 0, ""},
        {"a resumed run of other settings",
         {"--resume", "--report"},
         "",
         2,
         0,
         "2 snapshots of an earlier run are in DIR\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        fs::create_directories(dir + "/" + row.inTheWay);
        if (row.earlier >= 0) {
            earlierRun(dir, row.earlier);
        }
        std::vector<std::string> arguments = {"-q", "-o", dir};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        arguments.push_back(video);
        const bool fullDisk = std::string(row.name).find("full disk") != std::string::npos;
        ScanProcess scan(arguments, std::string(),
                         fullDisk ? std::vector<std::string>{"/usr/bin/prlimit", "--fsize=2500"}
                                  : std::vector<std::string>{});
        const ScanResult result = scan.finish();
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_EQ(result.err, std::regex_replace(row.err, std::regex("DIR"), dir));
        const bool kept = row.err.find("earlier") != std::string::npos;
        const std::vector<std::string> earlier(two.begin(), two.begin() + (kept ? row.earlier : 0));
        EXPECT_TRUE(tellsTheTruth(dir, result, row.options, earlier));
    }
}

TEST_F(ScanTest, ASecondRunIntoAHeldFolderStopsBeforeItWritesAnything) {
    const std::string first = tmp.file("first.avi");
    const std::string second = tmp.file("second.avi");
    ASSERT_TRUE(writeVideo(first, blinkingSquare(400)));
    // At 30 frames per second: names the first video never gives.
    ASSERT_TRUE(writeVideo(second, movingSquare(), 30.0));
    const std::string dir = tmp.file("shared");
    ScanProcess running({"--events", "-o", dir, first});
    // Until its lines are read, the first run soon waits on a full pipe, in the middle.
    ASSERT_TRUE(running.readUntilErrorLine("[" + dir + "/"));
    const ScanResult refused = runScan({"--events", "--summary", "json", "-o", dir, second});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err,
              "Cannot save snapshots in " + dir + ": another run is writing into it\n");
    EXPECT_EQ(jsonLines(refused.out).at(0)["status"], "not_scanned");
    const ScanResult finished = running.finish();
    EXPECT_EQ(finished.exitCode, 0);
    EXPECT_TRUE(tellsTheTruth(dir, finished, {"--events"}));
    EXPECT_EQ(snapshotsIn(dir).size(), 400u);
}

TEST_F(ScanTest, PathsThatAreNotUtf8GoIntoTheSummaryAndTheRecordWhole) {
    // "café" in Latin-1, as older cameras and shares name files.
    const std::string video = tmp.file("caf\xE9.avi");
    const std::string mask = tmp.file("m\xE9sk.png");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    ASSERT_TRUE(cv::imwrite(mask, solid(kWhite)));
    const std::vector<std::string> arguments = {"--summary", "json", "-q", "--mask", mask, video};
    const ScanResult result = runScan(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::vector<nlohmann::json> lines = jsonLines(result.out);
    ASSERT_EQ(lines.size(), 1u) << result.out;
    EXPECT_EQ(lines[0]["video"], tmp.file("caf\xEF\xBF\xBD.avi"));
    EXPECT_EQ(lines[0]["video_bytes"], tmp.file("caf%E9.avi"));
    EXPECT_EQ(lines[0]["output_bytes"], tmp.file("caf%E9"));
    EXPECT_EQ(listDir(tmp.file("caf\xE9")), kMovingSquareNames);
    std::vector<std::string> resumed = arguments;
    resumed.insert(resumed.begin(), "--resume");
    EXPECT_EQ(jsonLines(runScan(resumed).out).at(0)["status"], "skipped");
}

TEST_F(ScanTest, AListRunsWhatItNamesAndSaysWhatIsMissingInJson) {
    fs::create_directories(tmp.file("cams/Cam1"));
    ASSERT_TRUE(writeVideo(tmp.file("cams/Cam1/a.AVI"), movingSquare()));
    ASSERT_TRUE(writeVideo(tmp.file("cams/b.avi"), squareClip(1, 6)));
    std::ofstream(tmp.file("list.txt")) << "# two cameras\n\n"
                                        << tmp.file("cams") << "\n"
                                        << tmp.file("missing.avi") << "\n";
    const ScanResult result =
        runScan({"--list", tmp.file("list.txt"), "--summary", "json", "-q", "-o", tmp.file("out")});
    EXPECT_EQ(result.exitCode, 1) << "a missing video counts as failed";
    EXPECT_EQ(withoutTotal(result.err),
              "Failed to open " + tmp.file("missing.avi") + ": No such file or directory\n");
    const std::vector<nlohmann::json> lines = jsonLines(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[0]["video"], tmp.file("cams/Cam1/a.AVI"));
    EXPECT_EQ(lines[0]["status"], "finished");
    EXPECT_EQ(lines[0]["frames"], 6);
    EXPECT_EQ(lines[0]["written"], 2);
    EXPECT_EQ(lines[0]["lost"], 0);
    // The missing video moves no other video's folder.
    EXPECT_EQ(lines[0]["output"], tmp.file("out/Cam1/a"));
    EXPECT_GE(lines[0]["seconds"].get<double>(), 0.0);
    EXPECT_EQ(lines[1]["video"], tmp.file("cams/b.avi"));
    EXPECT_EQ(lines[1]["written"], 1);
    EXPECT_EQ(lines[2]["status"], "not_opened");
    EXPECT_EQ(listDir(tmp.file("out")), (std::vector<std::string>{"Cam1", "b"}));
}

TEST_F(ScanTest, AListThatIsNoListIsRefusedAtOnce) {
    // Endless zeros, and endless noise, whose first line ends wherever its bytes say.
    for (const std::string list : {"/dev/zero", "/dev/urandom"}) {
        const ScanResult result = runScan({"--list", list, "-q"});
        EXPECT_EQ(result.exitCode, 2) << list;
        EXPECT_TRUE(std::regex_match(result.err, std::regex("pelmora-scan: cannot read the list " +
                                                            list + ": line \\d+ .*\n")))
            << result.err;
    }
}

TEST_F(ScanTest, AFolderThatCannotBeReadIsNamedAndTheRestStillRuns) {
    fs::create_directories(tmp.file("in/cam"));
    ASSERT_TRUE(writeVideo(tmp.file("in/cam/a.avi"), movingSquare()));
    const std::string deep = testsupport::makeFolderTooDeepToOpen(tmp.file("in"));
    const ScanResult result = runScan({"-q", "-o", tmp.file("out"), tmp.file("in")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Cannot read the folder " + deep + ": File name too long\n");
    EXPECT_TRUE(isSummary(result.out, summaryHead(tmp.file("in/cam/a.avi"), 6, 2, 0)));
}

// A video that opens but cannot be read through fails with its reason, leaves no record that
// --resume would skip it by, and the batch goes on.
TEST_F(ScanTest, AVideoThatCannotBeReadThroughFailsAndTheBatchGoesOn) {
    const std::string first = tmp.file("in/1.avi");
    const std::string third = tmp.file("in/3.avi");
    fs::create_directories(tmp.file("in"));
    ASSERT_TRUE(writeVideo(first, movingSquare()));
    ASSERT_TRUE(writeVideo(third, movingSquare()));
    // Raw pictures in a pixel format the converter has no conversion from.
    const std::string unconvertible = tmp.file("in/2.nut");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt uyyvyy411 -s "
                           "16x16 -r 25 -i /dev/zero -frames:v 5 -c:v rawvideo '" +
                           unconvertible + "'")
                              .c_str()),
              0);
    // Raw pictures in an AVI whose header says they are 0 pixels wide: it opens, and no frame
    // of it can be decoded.
    const std::string widthless = tmp.file("in/2.avi");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -f lavfi -i color=gray:s=16x16:r=25 "
                           "-frames:v 50 -c:v rawvideo -pix_fmt yuv420p '" +
                           widthless + "'")
                              .c_str()),
              0);
    {
        std::fstream file(widthless, std::ios::in | std::ios::out | std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
        // The main header's width, 32 bytes into it, and the picture format's, 4 bytes in.
        for (const auto& [tag, offset] : {std::pair<std::string, int>{"avih", 40}, {"strf", 12}}) {
            const std::string::size_type at = bytes.find(tag);
            ASSERT_NE(at, std::string::npos) << tag;
            file.seekp(static_cast<std::streamoff>(at + offset));
            file.write("\0\0\0\0", 4);
        }
    }
    struct Row {
        const char* name;
        std::string video;
        std::string reason;
        long long frames;
    };
    const Row rows[] = {
        {"unconvertible", unconvertible,
         "its pictures (pixel format uyyvyy411, 16x16) cannot be converted to colour", 1},
        {"nothingDecodes", widthless, "no frame of it could be read, 50 announced", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = tmp.file(std::string("out-") + row.name);
        for (const char* pass : {"first", "resumed"}) {
            SCOPED_TRACE(pass);
            const ScanResult result = runScan(
                {"--resume", "--summary", "json", "-q", "-o", out, first, row.video, third});
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(withoutTotal(result.err),
                      "Failed to read " + row.video + ": " + row.reason + "\n");
            const std::string total = result.err.substr(withoutTotal(result.err).size());
            EXPECT_EQ(total.rfind("Total: 3 videos, ", 0), 0u) << total;
            const std::vector<nlohmann::json> lines = jsonLines(result.out);
            ASSERT_EQ(lines.size(), 3u) << result.out;
            // Done the first time, the other two are skipped when resumed.
            const std::string done = std::string(pass) == "first" ? "finished" : "skipped";
            EXPECT_EQ(lines[0]["status"], done);
            EXPECT_EQ(lines[1]["status"], "failed");
            EXPECT_EQ(lines[1]["frames"], row.frames);
            EXPECT_EQ(lines[1]["written"], 0);
            EXPECT_EQ(lines[2]["status"], done);
            EXPECT_EQ(lines[2]["written"], 2);
            EXPECT_FALSE(fs::exists(out + "/2/.pelmora-run.json"));
        }
    }
}

TEST_F(ScanTest, AResumedBatchGivesTheFilesOfAnUninterruptedOne) {
    // Three videos, the second long enough to be killed in the middle of.
    std::vector<cv::Mat> blinking;
    for (int i = 0; i < 400; ++i) {
        blinking.push_back(
            withRects(solid(kBlack), {i % 2 == 0 ? kSquareFirst : kSquareMoved}, kWhite));
    }
    fs::create_directories(tmp.file("in"));
    ASSERT_TRUE(writeVideo(tmp.file("in/1.avi"), movingSquare()));
    ASSERT_TRUE(writeVideo(tmp.file("in/2.avi"), blinking));
    ASSERT_TRUE(writeVideo(tmp.file("in/3.avi"), squareClip(1, 3)));
    const std::string in = tmp.file("in");
    ASSERT_EQ(runScan({"-q", "-o", tmp.file("whole"), in}).exitCode, 0);

    const std::string out = tmp.file("resumed");
    {
        // One video after another, so that the third has not run when the second is killed.
        ScanProcess scan({"--videos-at-once", "1", "-o", out, in});
        ASSERT_TRUE(scan.readUntilErrorLine("[" + out + "/2/IMG00000400.jpg]"));
        scan.sendSignal(SIGKILL);
        EXPECT_EQ(scan.finish().termSignal, SIGKILL);
    }
    const ScanResult resumed = runScan({"--resume", "--summary=json", "-q", "-o", out, in});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    const std::vector<nlohmann::json> lines = jsonLines(resumed.out);
    ASSERT_EQ(lines.size(), 3u) << resumed.out;
    EXPECT_EQ(lines[0]["status"], "skipped");
    EXPECT_EQ(lines[0]["written"], 2);
    EXPECT_EQ(lines[1]["status"], "finished");
    EXPECT_EQ(lines[2]["status"], "finished");
    EXPECT_EQ(filesBelow(out), filesBelow(tmp.file("whole")));

    // Once all is done, resuming runs nothing.
    const ScanResult again = runScan({"--resume", "--summary", "json", "-o", out, in});
    for (const nlohmann::json& line : jsonLines(again.out)) {
        EXPECT_EQ(line["status"], "skipped") << line;
    }
    EXPECT_EQ(withoutTotal(again.err), "");
}

TEST_F(ScanTest, ARecordNoLongerMatchesAChangedVideoOrSetting) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const std::string mask = tmp.file("mask.png");
    ASSERT_TRUE(cv::imwrite(mask, solid(kWhite)));
    // A whole second, for times within it.
    const fs::file_time_type second = std::chrono::time_point_cast<std::chrono::seconds>(
        fs::last_write_time(video) - std::chrono::hours(1));
    ASSERT_EQ(runScan({"-q", video}).exitCode, 0);
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::function<void()> change;
        const char* status;
    } rows[] = {
        {"nothing changed", {}, [] {}, "skipped"},
        {"another threshold", {"-t", "30"}, [] {}, "finished"},
        {"the threshold of the record again", {"-t", "30"}, [] {}, "skipped"},
        {"another trigger size", {"-t", "30", "--min-pixels", "5"}, [] {}, "finished"},
        {"lists besides", {"-t", "30", "--min-pixels", "5", "--events"}, [] {}, "finished"},
        {"the video touched",
         {"-t", "30", "--min-pixels", "5", "--events"},
         [&] { fs::last_write_time(video, fs::last_write_time(video) + std::chrono::seconds(1)); },
         "finished"},
        {"another clock",
         {"-t", "30", "--min-pixels", "5", "--events", "--clock", "stream"},
         [] {},
         "finished"},
        {"clips besides",
         {"-t", "30", "--min-pixels", "5", "--events", "--clock", "stream", "--clips"},
         [] {},
         "finished"},
        {"clips encoded",
         {"-t", "30", "--min-pixels", "5", "--events", "--clock", "stream", "--clips", "encode"},
         [] {},
         "finished"},
        {"a longer lead",
         {"-t", "30", "--min-pixels", "5", "--clock", "stream", "--clips", "encode", "--before",
          "3"},
         [] {},
         "finished"},
        {"another event gap", {"--events", "--event-gap", "1"}, [] {}, "finished"},
        {"a report besides", {"--events", "--event-gap", "1", "--report"}, [] {}, "finished"},
        {"a mask", {"--event-gap", "1", "--report", "--mask", mask}, [] {}, "finished"},
        {"the video touched at a tenth past a second",
         {"--event-gap", "1", "--report", "--mask", mask},
         [&] { fs::last_write_time(video, second + std::chrono::milliseconds(100)); },
         "finished"},
        {"the video touched again within that second",
         {"--event-gap", "1", "--report", "--mask", mask},
         [&] { fs::last_write_time(video, second + std::chrono::milliseconds(600)); },
         "finished"},
        {"the mask touched within the second",
         {"--event-gap", "1", "--report", "--mask", mask},
         [&] { fs::last_write_time(mask, second + std::chrono::milliseconds(300)); },
         "finished"},
        {"nothing changed since",
         {"--event-gap", "1", "--report", "--mask", mask},
         [] {},
         "skipped"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.change();
        std::vector<std::string> arguments = {"--resume", "--summary", "json", "-q"};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        arguments.push_back(video);
        const ScanResult result = runScan(arguments);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(jsonLines(result.out).at(0)["status"], row.status);
    }
}

// The fields of a CSV line without its CRLF, which the lists never quote.
std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    const std::string text = line.substr(0, line.find('\r'));
    while (true) {
        const std::string::size_type comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

// The list without the clip's three columns, which follow peak_file.
std::string withoutClipColumns(const std::string& list) {
    std::string kept;
    for (const std::string& line : splitLines(list)) {
        std::vector<std::string> fields = csvFields(line);
        fields.erase(fields.begin() + 8, fields.begin() + 11);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            kept += (i == 0 ? "" : ",") + fields[i];
        }
        kept += "\r\n";
    }
    return kept;
}

// 85 frames with known moments (see knownMoments), lossless, a keyframe every 10 frames, with a
// tone beside them.
bool writeMomentsWithSound(const std::string& path) {
    return testsupport::writeVideoWithFfmpeg(
        path, testsupport::knownMoments(), 25.0,
        "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=3.4 -c:v ffv1 -g 10 "
        "-c:a pcm_s16le -shortest");
}

TEST_F(ScanTest, ClipsAddTheirFilesAndColumnsAndChangeNothingElse) {
    const std::string video = tmp.file("moments.mkv");
    ASSERT_TRUE(writeMomentsWithSound(video));
    const struct {
        const char* name;
        std::vector<std::string> options;      // of the runs with and without clips
        std::vector<std::string> clipOptions;  // of the run with them
        std::vector<std::string> clipColumns;  // of each event, in order
    } rows[] = {
        {"copied with the default margins", {}, {"--clips"}, {"EVENT0001.mkv,0,3360"}},
        {"copied without margins",
         {},
         {"--clips", "copy", "--before", "0", "--after=0"},
         {"EVENT0001.mkv,0,3200"}},
        {"copied from each keyframe before",
         {"--event-gap", "0.5"},
         {"--clips", "--before", "0", "--after", "0"},
         {"EVENT0001.mkv,0,240", "EVENT0002.mkv,1200,1240", "EVENT0003.mkv,3200,3200"}},
        {"encoded exactly",
         {"--event-gap", "0.5"},
         {"--clips", "encode", "--before", "0.04", "--after", "0.04"},
         {"EVENT0001.mp4,160,280", "EVENT0002.mp4,1160,1280", "EVENT0003.mp4,3160,3240"}},
        {"shared by events close together",
         {"--event-gap", "0.5"},
         {"--clips", "--before", "0.5", "--after", "0.5"},
         {"EVENT0001.mkv,0,1720", "EVENT0001.mkv,0,1720", "EVENT0003.mkv,2400,3360"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        const std::string reference = dir + "-without";
        std::vector<std::string> arguments = row.options;
        arguments.insert(arguments.end(), {"--report", "-o", reference, video});
        ASSERT_EQ(runScan(arguments).exitCode, 0);
        arguments = row.options;
        arguments.insert(arguments.end(), row.clipOptions.begin(), row.clipOptions.end());
        arguments.insert(arguments.end(), {"--report", "-o", dir, video});
        const ScanResult result = runScan(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        std::vector<std::string> clipFiles;
        for (const std::string& columns : row.clipColumns) {
            const std::string file = columns.substr(0, columns.find(','));
            if (std::find(clipFiles.begin(), clipFiles.end(), file) == clipFiles.end()) {
                clipFiles.push_back(file);
            }
        }
        std::string lines;
        for (const std::string& line : splitLines(result.err)) {
            if (line.find("/EVENT") == std::string::npos) {
                lines += line;
            }
        }
        EXPECT_EQ(lines, savedLines(dir, {"IMG00000200.jpg", "IMG00000240.jpg", "IMG00001200.jpg",
                                          "IMG00001240.jpg", "IMG00003200.jpg", "snapshots.csv",
                                          "events.csv", "report.html"}));
        for (const std::string& file : clipFiles) {
            EXPECT_NE(result.err.find("[" + dir + "/" + file + "]\n"), std::string::npos) << file;
        }
        std::vector<std::string> expected = listDir(reference);
        expected.insert(expected.end(), clipFiles.begin(), clipFiles.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listDir(dir), expected);
        for (const std::string& name : listDir(reference)) {
            if (name == "events.csv" || name == "report.html") {
                continue;
            }
            EXPECT_EQ(testsupport::fileBytes(dir + "/" + name),
                      testsupport::fileBytes(reference + "/" + name))
                << name;
        }
        const std::string events = testsupport::fileBytes(dir + "/events.csv");
        EXPECT_EQ(withoutClipColumns(events), testsupport::fileBytes(reference + "/events.csv"));
        const std::vector<std::string> eventLines = splitLines(events);
        ASSERT_EQ(eventLines.size(), row.clipColumns.size() + 1);
        EXPECT_EQ(eventLines[0].substr(eventLines[0].rfind("peak_file")),
                  "peak_file,clip,clip_start_ms,clip_end_ms,picture_file\r\n");
        for (std::size_t i = 0; i < row.clipColumns.size(); ++i) {
            const std::vector<std::string> fields = csvFields(eventLines[i + 1]);
            EXPECT_EQ(fields[8] + "," + fields[9] + "," + fields[10], row.clipColumns[i]);
        }
        // The report gains a column that links each event to its clip, and nothing else.
        std::string report = withoutTimeOfMaking(testsupport::fileBytes(dir + "/report.html"));
        for (const std::string& columns : row.clipColumns) {
            const std::string file = columns.substr(0, columns.find(','));
            const std::string cell =
                "<td class=\"clip\"><a href=\"" + file + "\">" + file + "</a></td>";
            const std::string::size_type at = report.find(cell);
            ASSERT_NE(at, std::string::npos) << cell;
            report.erase(at, cell.size());
        }
        const std::string heading = "<th>Clip</th>";
        ASSERT_NE(report.find(heading), std::string::npos);
        report.erase(report.find(heading), heading.size());
        EXPECT_EQ(report, withoutTimeOfMaking(testsupport::fileBytes(reference + "/report.html")));
    }
}

TEST_F(ScanTest, ALostClipIsReportedWithTheReasonAndExitsOne) {
    const std::string video = tmp.file("moments.mkv");
    ASSERT_TRUE(writeMomentsWithSound(video));
    const std::string dir = tmp.file("out");
    // Root writes anywhere, so a folder stands where the clip would go.
    fs::create_directories(dir + "/EVENT0001.mkv");
    const ScanResult result = runScan({"--clips", "-q", "-o", dir, video});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Failed to save " + dir + "/EVENT0001.mkv: Is a directory\n");
    const std::vector<std::string> events = splitLines(testsupport::fileBytes(dir + "/events.csv"));
    ASSERT_EQ(events.size(), 2u);
    const std::vector<std::string> fields = csvFields(events[1]);
    ASSERT_EQ(fields.size(), 12u);
    EXPECT_EQ(fields[8] + "," + fields[9] + "," + fields[10], ",,");
    EXPECT_EQ(listDir(dir),
              (std::vector<std::string>{"EVENT0001.mkv", "IMG00000200.jpg", "IMG00000240.jpg",
                                        "IMG00001200.jpg", "IMG00001240.jpg", "IMG00003200.jpg",
                                        "events.csv", "snapshots.csv"}));
    // A run that lost a clip is tried again.
    fs::remove(dir + "/EVENT0001.mkv");
    const ScanResult resumed = runScan({"--clips", "--resume", "-q", "-o", dir, video});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_TRUE(fs::is_regular_file(dir + "/EVENT0001.mkv"));
}

// --resume replaces a run that was cut short; a finished run of other settings is no such run,
// and its snapshots stay beside the new run's, said as without --resume, unless --clean.
TEST_F(ScanTest, ResumeKeepsTheSnapshotsOfAFinishedRunOfOtherSettings) {
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, movingSquare()));
    const struct {
        const char* name;
        bool finished;  // the earlier run left its record
        std::vector<std::string> options;
        std::vector<std::string> snapshots;
        std::string err;
    } rows[] = {
        {"finished",
         true,
         {"--resume"},
         kMovingSquareNames,
         "2 snapshots of an earlier run are in DIR\n"},
        {"finishedAndClean", true, {"--resume", "--clean"}, {}, ""},
        {"cutShort", false, {"--resume"}, {}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        ASSERT_EQ(runScan({"-q", "-o", dir, video}).exitCode, 0);
        if (!row.finished) {
            fs::remove(dir + "/.pelmora-run.json");
        }
        // No square is large enough for this trigger: the new run saves nothing.
        std::vector<std::string> arguments = row.options;
        arguments.insert(arguments.end(), {"--min-pixels", "100", "-q", "-o", dir, video});
        const ScanResult result = runScan(arguments);
        EXPECT_EQ(result.exitCode, 0);
        std::string err = row.err;
        if (const auto at = err.find("DIR"); at != std::string::npos) {
            err.replace(at, 3, dir);
        }
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(listDir(dir), row.snapshots);
    }
}

TEST_F(ScanTest, ResumeRemovesTheClipsOfAnUnfinishedRun) {
    const std::string video = tmp.file("moments.mkv");
    ASSERT_TRUE(writeMomentsWithSound(video));
    const std::string dir = tmp.file("out");
    fs::create_directories(dir);
    // What a run killed while cutting leaves: an older clip and a half-written one, no record.
    for (const char* name : {"EVENT0007.mkv", ".EVENT0001.mkv.99999.part", "notes.txt"}) {
        std::ofstream(dir + "/" + name) << "old";
    }
    const ScanResult result = runScan({"--clips", "--resume", "-q", "-o", dir, video});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(listDir(dir),
              (std::vector<std::string>{"EVENT0001.mkv", "IMG00000200.jpg", "IMG00000240.jpg",
                                        "IMG00001200.jpg", "IMG00001240.jpg", "IMG00003200.jpg",
                                        "events.csv", "notes.txt", "snapshots.csv"}));
}

TEST_F(ScanTest, ACtrlCWhileAClipIsCutLeavesNoHalfClipAndSaysInterrupted) {
    // Noise that changes at every frame: one event of every frame, its clip far larger than
    // what a pipe holds.
    std::vector<cv::Mat> noise(8);
    cv::RNG rng(5);
    for (cv::Mat& each : noise) {
        each.create(cv::Size(64, 48), CV_8UC3);
        rng.fill(each, cv::RNG::UNIFORM, 0, 256);
    }
    std::vector<cv::Mat> frames;
    for (std::size_t i = 0; i < 200; ++i) {
        frames.push_back(noise[i % noise.size()]);
    }
    const std::string video = tmp.file("noise.avi");
    ASSERT_TRUE(writeVideo(video, frames));
    const std::string dir = tmp.file("out");
    ScanProcess scan({"--clips", "-o", dir, video});
    // The scan waits on its lines until they are read, long before it cuts the clip: the clip's
    // temporary file is made a pipe first, so that the clip cannot be complete before the stop.
    ASSERT_TRUE(scan.readUntilErrorLine("[" + dir + "/"));
    const std::string pipe = dir + "/.EVENT0001.avi." + std::to_string(scan.id()) + ".part";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
    ASSERT_TRUE(scan.readUntilErrorLine("[" + dir + "/IMG00007960.jpg]"));
    // Opened once the scan opens it to write the clip.
    const int clip = ::open(pipe.c_str(), O_RDONLY);
    ASSERT_GE(clip, 0) << std::strerror(errno);
    scan.sendSignal(SIGINT);
    char buffer[65536];
    while (::read(clip, buffer, sizeof buffer) > 0) {
    }
    ::close(clip);
    const ScanResult result = scan.finish();
    EXPECT_EQ(result.exitCode, 130);
    // After the snapshots' lines, the clip's, then the lists, whole without the clip.
    const std::string lost = "IMG00007960.jpg]\nFailed to save " + dir +
                             "/EVENT0001.avi: stopped before it was complete\n[" + dir +
                             "/snapshots.csv]\n[" + dir + "/events.csv]\n";
    ASSERT_GE(result.err.size(), lost.size());
    EXPECT_EQ(result.err.substr(result.err.size() - lost.size()), lost);
    EXPECT_TRUE(std::regex_match(
        result.out, std::regex(".*: 200 frames, 200 written, 0 lost, .*, interrupted\n")))
        << result.out;
    for (const std::string& name : listDir(dir)) {
        EXPECT_EQ(name.find("EVENT"), std::string::npos) << name;
    }
    EXPECT_FALSE(fs::exists(dir + "/.pelmora-run.json"));
}

TEST_F(ScanTest, AKilledRunLeavesOnlyCompleteClipsAndResumingGivesAllOfThem) {
    // A square that moves every four seconds: after the start, three events, three clips of 1 s
    // either side.
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 400; ++i) {
        frames.push_back(
            withRects(solid(kBlack), {(i / 100) % 2 == 0 ? kSquareFirst : kSquareMoved}, kWhite));
    }
    const std::string video = tmp.file("moves.mkv");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video, frames, 25.0, "-c:v ffv1 -g 10"));
    const std::vector<std::string> options = {"--clips", "encode", "--before", "1", "--after", "1"};
    std::vector<std::string> arguments = options;
    arguments.insert(arguments.end(), {"-q", "-o", tmp.file("whole"), video});
    ASSERT_EQ(runScan(arguments).exitCode, 0);
    const std::vector<std::string> clips = {"EVENT0001.mp4", "EVENT0002.mp4", "EVENT0003.mp4"};
    const std::string out = tmp.file("killed");
    {
        arguments = options;
        arguments.insert(arguments.end(), {"-o", out, video});
        ScanProcess scan(arguments);
        ASSERT_TRUE(scan.readUntilErrorLine("[" + out + "/IMG00012000.jpg]"));
        scan.sendSignal(SIGKILL);
        EXPECT_EQ(scan.finish().termSignal, SIGKILL);
    }
    // Whatever the kill interrupted, a clip's own name holds a whole clip.
    for (const std::string& name : listDir(out)) {
        if (pelmora::isSnapshotFileName(name) || name[0] == '.' || name.find(".csv") != name.npos) {
            continue;
        }
        EXPECT_EQ(testsupport::fileBytes(out + "/" + name),
                  testsupport::fileBytes(tmp.file("whole/" + name)))
            << name;
    }
    arguments = options;
    arguments.insert(arguments.end(), {"--resume", "-q", "-o", out, video});
    const ScanResult resumed = runScan(arguments);
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_EQ(listDir(out), listDir(tmp.file("whole")));
    for (const std::string& clip : clips) {
        EXPECT_TRUE(fs::is_regular_file(out + "/" + clip)) << clip;
    }
    EXPECT_EQ(testsupport::fileBytes(out + "/events.csv"),
              testsupport::fileBytes(tmp.file("whole/events.csv")));
}

// Every file below dir by its path from dir, hidden ones too, with its bytes; the report's time
// of making is left out.
std::map<std::string, std::string> folderBytes(const std::string& dir) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) {
            contents[fs::relative(entry.path(), dir).string()] = "a folder";
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (entry.path().filename() == "report.html") {
            bytes = withoutTimeOfMaking(bytes);
        }
        contents[fs::relative(entry.path(), dir).string()] = bytes;
    }
    return contents;
}

TEST_F(ScanTest, StretchesJoinedLeaveTheFilesOfOneRunOrAreRefused) {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 45; ++i) {
        frames.push_back(withRects(solid(cv::Scalar::all(60)), {{(i * 5) % 56, 20, 8, 8}},
                                   cv::Scalar::all(255)));
    }
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(writeVideo(video, frames));
    const std::string stream = tmp.file("clip.ts");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(stream, frames, 25.0, "-c:v mpeg4 -f mpegts"));
    const auto scanStretches = [&](const std::string& file, const std::string& dir,
                                   const std::string& threshold) {
        for (const char* stretch : {"0/3", "1/3", "2/3"}) {
            const ScanResult result =
                runScan({"-q", "--report", "-t", threshold, "--segment", stretch, "-o", dir, file});
            EXPECT_EQ(result.exitCode, 0) << result.err;
        }
    };
    const struct {
        const char* name;
        std::string video;
        std::string joinThreshold;
        int exitCode;
        std::string message;  // on the error stream
    } rows[] = {
        {"joined", video, "20", 0, "Joined 3 stretches of " + video},
        {"a video that cannot be split exactly", stream, "20", 0,
         "gives no index of its frames to seek by: scanning " + stream + " as one run"},
        {"other options", video, "30", 1,
         "pelmora-scan: cannot join " + tmp.file("other options") + ": stretch 0/3 in " +
             tmp.file("other options") + " was scanned with threshold 20, not 30\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string one = tmp.file(std::string(row.name) + " one");
        const std::string joined = tmp.file(row.name);
        const ScanResult whole = runScan({"-q", "--report", "-o", one, row.video});
        EXPECT_EQ(whole.exitCode, 0);
        scanStretches(row.video, joined, "20");
        const auto stretches = folderBytes(joined);
        const ScanResult result =
            runScan({"-q", "--report", "-t", row.joinThreshold, "--join", joined});
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
        if (row.exitCode != 0) {
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(folderBytes(joined) == stretches) << "a refused join changed the folder";
            continue;
        }
        // The same counts as one run's.
        EXPECT_EQ(result.out.substr(0, result.out.find(" lost, ")),
                  whole.out.substr(0, whole.out.find(" lost, ")));
        const auto expected = folderBytes(one);
        const auto got = folderBytes(joined);
        EXPECT_GT(expected.size(), 4u);
        for (const auto& [name, bytes] : expected) {
            EXPECT_TRUE(got.count(name) == 1 && got.at(name) == bytes) << name << " differs";
        }
        for (const auto& entry : got) {
            EXPECT_EQ(expected.count(entry.first), 1u) << entry.first << " is one too many";
        }
    }
    // The stretches of two files in one folder.
    const std::string mixed = tmp.file("mixed");
    const std::string other = tmp.file("other.avi");
    ASSERT_TRUE(writeVideo(other, std::vector<cv::Mat>(frames.rbegin(), frames.rend())));
    EXPECT_EQ(runScan({"-q", "--segment", "0/2", "-o", mixed, video}).exitCode, 0);
    EXPECT_EQ(runScan({"-q", "--segment", "1/2", "-o", mixed, other}).exitCode, 0);
    const ScanResult result = runScan({"-q", "--join", mixed});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("stretch 1/2 in " + mixed + " was scanned with video_path \"" +
                              other + "\", not \"" + video + "\""),
              std::string::npos)
        << result.err;
}

// Summaries without their timings, which no two runs share: a text line's seconds and rate, a
// JSON line's seconds.
std::string withoutTimings(const std::string& summaries) {
    const std::string text =
        std::regex_replace(summaries, std::regex(R"(, \d+\.\d\d s, \d+\.\d frames/s)"), "");
    return std::regex_replace(text, std::regex(R"("seconds":[^,]*,)"), "");
}

TEST_F(ScanTest, VideosRunAtOnceLeaveWhatOneAfterAnotherLeaves) {
    // A long first video, so that those after it run and end while it still runs; the same
    // video twice, into one folder; one that does not open.
    fs::create_directories(tmp.file("in"));
    ASSERT_TRUE(writeVideo(tmp.file("in/long.avi"), blinkingSquare(200)));
    ASSERT_TRUE(writeVideo(tmp.file("in/square.avi"), movingSquare()));
    ASSERT_TRUE(writeVideo(tmp.file("in/moments.avi"), testsupport::knownMoments()));
    const std::vector<std::string> videos = {tmp.file("in/long.avi"), tmp.file("in/square.avi"),
                                             tmp.file("in/missing.avi"), tmp.file("in/moments.avi"),
                                             tmp.file("in/square.avi")};
    const struct {
        const char* name;
        std::vector<std::string> options;
        const char* held;  // a file the options leave in the folders
    } rows[] = {
        {"text", {}, "long/.pelmora-run.json"},
        {"json", {"--summary", "json"}, "long/.pelmora-run.json"},
        {"lists, report and clips",
         {"--report", "--clips", "--summary", "json"},
         "long/EVENT0001.avi"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScanResult results[2];
        const char* atOnce[] = {"1", "3"};
        for (int i = 0; i < 2; ++i) {
            const std::string dir = tmp.file(std::string(row.name) + "-" + atOnce[i]);
            fs::create_directories(dir);
            std::vector<std::string> arguments = row.options;
            arguments.insert(arguments.end(), {"--videos-at-once", atOnce[i], "-o", "out"});
            arguments.insert(arguments.end(), videos.begin(), videos.end());
            // Relative folders, so that the lines of the two runs name the same paths.
            results[i] = runScan(arguments, dir);
        }
        const ScanResult& serial = results[0];
        const ScanResult& together = results[1];
        EXPECT_EQ(serial.exitCode, 1);
        EXPECT_EQ(together.exitCode, serial.exitCode);
        EXPECT_EQ(splitLines(serial.out).size(), videos.size()) << serial.out;
        EXPECT_EQ(withoutTimings(together.out), withoutTimings(serial.out));
        EXPECT_NE(withoutTotal(serial.err).find("[out/long/IMG00007960.jpg]\n"), std::string::npos);
        EXPECT_EQ(withoutTotal(together.err), withoutTotal(serial.err));
        const std::string total = serial.err.substr(withoutTotal(serial.err).size());
        ASSERT_NE(total.rfind(", "), std::string::npos) << serial.err;
        EXPECT_EQ(
            together.err.substr(withoutTotal(together.err).size()).substr(0, total.rfind(", ")),
            total.substr(0, total.rfind(", ")));
        const auto files = folderBytes(tmp.file(std::string(row.name) + "-1/out"));
        EXPECT_EQ(files.count(row.held), 1u);
        EXPECT_EQ(folderBytes(tmp.file(std::string(row.name) + "-3/out")), files);
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
    const std::regex summary(R"((.*): (\d+) frames?, (\d+) written, 0 lost, \d+\.\d\d s, )"
                             R"(\d+\.\d frames/s, interrupted\n)");
    long long frames = 0;
    long long written = 0;
    std::string lines;
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(summaries[i], match, summary)) << summaries[i];
        const std::string name = i == 0 ? "first" : "second";
        EXPECT_EQ(match[1], tmp.file(name + ".avi"));
        const std::vector<std::string> names = snapshotsIn(dir + "/" + name);
        EXPECT_EQ(static_cast<long long>(names.size()), std::stoll(match[3])) << name;
        EXPECT_EQ(listDir(dir + "/" + name), names) << name;
        lines += savedLines(dir + "/" + name, names);
        frames += std::stoll(match[2]);
        written += std::stoll(match[3]);
    }
    // Every line whole, the first video's before the second's.
    EXPECT_EQ(withoutTotal(result.err), lines);
    EXPECT_FALSE(fs::exists(dir + "/third")) << "started a video after the stop";
    const std::regex total("Total: 3 videos, 0 finished, 2 stopped, 0 failed, 1 not started, " +
                           std::to_string(frames) + " frames, " + std::to_string(written) +
                           R"( written, 0 lost, \d+\.\d\d s\n)");
    EXPECT_TRUE(std::regex_match(result.err.substr(withoutTotal(result.err).size()), total))
        << result.err.substr(withoutTotal(result.err).size());
}

}  // namespace
