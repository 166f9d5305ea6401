// pelmora-scan --clips beside the snapshots: the files and columns clips add and nothing else,
// a clip that is lost, and the clips of a run stopped or killed while it cuts them.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "FolderNames.h"
#include "ScanChecks.h"
#include "TextPattern.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using testsupport::csvFields;
using testsupport::savedLines;
using testsupport::splitLines;
using testsupport::withoutTimeOfMaking;
using testsupport::writeVideo;

// The list without the clip's three columns, which follow peak_file.
std::string withoutClipColumns(const std::string& list) {
    std::string kept;
    for (const std::string& line : splitLines(list)) {
        std::vector<std::string> fields = csvFields(line.substr(0, line.find('\r')));
        fields.erase(fields.begin() + 8, fields.begin() + 11);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            kept += (i == 0 ? "" : ",") + fields[i];
        }
        kept += "\r\n";
    }
    return kept;
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
    EXPECT_TRUE(pelmora::TextPattern(".*: 200 frames, 200 written, 0 lost, .*, interrupted\n")
                    .match(result.out))
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

}  // namespace
