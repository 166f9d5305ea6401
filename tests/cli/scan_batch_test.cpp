// pelmora-scan given several videos, folders and lists of them: a folder each, every video from
// black, the failures said and the rest still run, the total at the end, and the same files
// however many run at once.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ScanChecks.h"
#include "TextPattern.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using testsupport::folderBytes;
using testsupport::savedLines;
using testsupport::splitLines;
using testsupport::writeVideo;

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
        EXPECT_TRUE(pelmora::TextPattern(R"(\d+\.\d\d s\n)").match(last.substr(row.total.size())))
            << last;
    }
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
        EXPECT_TRUE(
            pelmora::TextPattern("pelmora-scan: cannot read the list " + list + ": line \\d+ .*\n")
                .match(result.err))
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

// Summaries without their timings, which no two runs share: a text line's seconds and rate, a
// JSON line's seconds.
std::string withoutTimings(const std::string& summaries) {
    const std::string text =
        pelmora::TextPattern(R"(, \d+\.\d\d s, \d+\.\d frames/s)").replaced(summaries, "");
    return pelmora::TextPattern(R"("seconds":[^,]*,)").replaced(text, "");
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

}  // namespace
