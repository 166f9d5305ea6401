// pelmora-scan where things go wrong: a destination that cannot take the files, a snapshot, list,
// report or record that cannot be written, a video that cannot be read through, a folder
// another run holds. Each is said with its reason, and the folder tells the truth after.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FolderNames.h"
#include "ProgramPaths.h"
#include "ScanChecks.h"
#include "TextPattern.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using testsupport::savedLines;
using testsupport::snapshotFiles;
using testsupport::splitLines;
using testsupport::writeVideo;

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

TEST_F(ScanTest, AReadOnlyDestinationIsReportedBeforeAnythingIsDecoded) {
    // Root may write anywhere, so the scan runs as an ordinary user.
    const std::string setpriv = "/usr/bin/setpriv";
    if (!fs::exists(setpriv) ||
        std::system(("/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups test -x " +
                     std::string(testsupport::kScanProgram))
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
    const pelmora::TextPattern summary(
        R"(.*: (\d+) frames read, 40 announced, \d+ written, 0 lost, .*\n)");
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "verbose" : "quiet decoder");
        const ScanResult result =
            runScan(verbose ? std::vector<std::string>{"-q", "--verbose", video}
                            : std::vector<std::string>{"-q", video});
        EXPECT_EQ(result.exitCode, 0);
        const std::optional<pelmora::PatternMatch> match = summary.match(result.out);
        ASSERT_TRUE(match) << result.out;
        EXPECT_LT(match->number(1), 30);
        if (verbose) {
            EXPECT_NE(result.err.find("[mjpeg @ "), std::string::npos) << result.err;
        } else {
            EXPECT_EQ(result.err, "");
        }
    }
}

// Each match of pattern's first group in a file; nothing for a folder in its place.
std::vector<std::string> found(const std::string& path, const std::string& pattern) {
    const std::string text =
        fs::is_regular_file(path) ? testsupport::fileBytes(path) : std::string();
    std::vector<std::string> matches;
    for (const pelmora::PatternMatch& match : pelmora::TextPattern(pattern).matchesIn(text)) {
        matches.push_back(match[1]);
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
        } else if (pelmora::TextPattern(R"(\..*\.part)").match(name)) {
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
        EXPECT_EQ(result.err, pelmora::TextPattern("DIR").replaced(row.err, dir));
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
    EXPECT_EQ(snapshotFiles(dir).size(), 400u);
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

}  // namespace
