// pelmora-scan --resume: what a record of a finished run lets it skip, what no longer matches,
// and what it keeps or removes of an earlier run.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "ScanChecks.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using testsupport::folderBytes;
using testsupport::savedLines;
using testsupport::splitLines;
using testsupport::writeVideo;

TEST_F(ScanTest, AResumedBatchGivesTheFilesOfAnUninterruptedOne) {
    // Three videos, the second long enough to be killed in the middle of.
    fs::create_directories(tmp.file("in"));
    ASSERT_TRUE(writeVideo(tmp.file("in/1.avi"), movingSquare()));
    ASSERT_TRUE(writeVideo(tmp.file("in/2.avi"), blinkingSquare(400)));
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
    EXPECT_EQ(folderBytes(out, false), folderBytes(tmp.file("whole"), false));

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
    const std::string regions = tmp.file("regions.txt");
    testsupport::writeFile(regions, "keep 0,0 40,0 40,48\n");
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
        {"exports besides",
         {"--event-gap", "1", "--report", "--mask", mask, "--export", "vtt,json"},
         [] {},
         "finished"},
        {"the same exports named in another order",
         {"--event-gap", "1", "--report", "--mask", mask, "--export", "json,vtt"},
         [] {},
         "skipped"},
        // The polygons themselves, not the file they came from, decide.
        {"a polygon besides",
         {"--event-gap", "1", "--report", "--mask", mask, "--export", "json,vtt", "--region",
          "0,0 40,0 40,48"},
         [] {},
         "finished"},
        {"the same polygon from a file",
         {"--event-gap", "1", "--report", "--mask", mask, "--export", "json,vtt", "--region-file",
          regions},
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

}  // namespace
